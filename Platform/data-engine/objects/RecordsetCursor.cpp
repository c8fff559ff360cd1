// The recordset's cursor services: Filter, Sort, Find, Index and Seek, the
// field property Optimize, and persistence (Save, and opening a saved file).
//
// Every one of them builds what it needs first (a compiled criteria, a sort
// order, the rows to save) and changes the recordset only afterwards, so a
// bad criteria, sort text, key or file leaves everything as it was.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Stream.h"

#include <cmath>
#include <filesystem>

#include "Platform/data-engine/persist/Persist.h"

namespace DataEngine::Ado {

namespace {

bool IsSeekOption(int option) {
    switch (option) {
        case adSeekFirstEQ:
        case adSeekLastEQ:
        case adSeekAfterEQ:
        case adSeekAfter:
        case adSeekBeforeEQ:
        case adSeekBefore: return true;
        default: return false;
    }
}

bool SamePath(const String& a, const String& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    const auto pa = std::filesystem::weakly_canonical(std::filesystem::path(a), ec);
    if (ec) return a == b;
    const auto pb = std::filesystem::weakly_canonical(std::filesystem::path(b), ec);
    if (ec) return a == b;
    return pa == pb;
}

}  // namespace

// ---- Filter ------------------------------------------------------------------------------------------

TFilter TRecordsetObject::BuildFilter(const Variant& criteria) const {
    const TRowStore& store = FStore->Store();
    if (IsMissing(criteria) || criteria.IsNull()) return TFilter();
    if (Rtl::VarIsStr(criteria)) return TFilter::FromCriteria(store, criteria.ToString());
    if (criteria.IsArray()) {
        // An array of bookmarks.
        if (Rtl::VarArrayDimCount(criteria) != 1)
            AdoFail(adErrInvalidArgument, "Filter: an array of bookmarks has one dimension, not " +
                                              std::to_string(Rtl::VarArrayDimCount(criteria)));
        std::vector<TRowId> rows;
        const int lo = Rtl::VarArrayLowBound(criteria, 1), hi = Rtl::VarArrayHighBound(criteria, 1);
        for (int i = lo; i <= hi; ++i) {
            const Variant mark = Deref(criteria.GetElement(i));
            double d = -1;
            if (Rtl::VarIsNumeric(mark) && !mark.IsArray()) d = mark.ToDouble();
            if (!(d >= 1 && d <= 4294967295.0 && std::floor(d) == d) ||
                !store.IsLive(static_cast<TRowId>(d - 1)))
                AdoFail(adErrInvalidArgument, "Filter: item " + std::to_string(i) + " of the array, " +
                                                  DescribeValue(mark) + ", is not a bookmark of a row of this recordset");
            rows.push_back(static_cast<TRowId>(d - 1));
        }
        return TFilter::FromBookmarks(store, std::move(rows));
    }
    if (Rtl::VarIsNumeric(criteria)) {
        const double d = criteria.ToDouble();
        if (std::floor(d) != d || d < INT32_MIN || d > INT32_MAX)
            AdoFail(adErrInvalidArgument, "Filter: " + DescribeValue(criteria) + " is no filter group");
        TFilterContext context;
        context.Affected = FStore->Rows().Affected;
        const TFilter* last = FLastCriteria.IsNone() ? nullptr : &FLastCriteria;
        return TFilter::FromGroup(static_cast<int>(d), last, std::move(context));
    }
    AdoFail(adErrInvalidArgument, "Filter takes a criteria text, a FilterGroupEnum value or an array of bookmarks, not " +
                                      DescribeValue(criteria));
}

Variant TRecordsetObject::GetFilter() {
    if (IsMissing(FFilterValue) || FFilterValue.IsEmpty()) return Variant(static_cast<int>(adFilterNone));
    return FFilterValue;
}

void TRecordsetObject::SetFilter(const Variant& Criteria) {
    Guard([&] {
        const Variant v = Deref(Criteria);
        if (FState != adStateOpen) {
            // Removing a filter from a closed recordset is allowed and changes nothing.
            if (IsMissing(v) || (Rtl::VarIsNumeric(v) && !v.IsArray() && v.ToDouble() == static_cast<double>(adFilterNone)) ||
                (Rtl::VarIsStr(v) && Rtl::Trim(v.ToString()).empty()))
                return;
            CheckOpen("Recordset.Filter");
        }
        if (!FStore)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Filter: a forward-only cursor cannot be filtered; open the "
                                              "recordset with a static, keyset or client cursor");
        TFilter filter = BuildFilter(v);
        // What Filter reads back: the text, the group number or the bookmarks as given; nothing for no filter.
        Variant shown;
        if (!filter.IsNone()) shown = Rtl::VarIsStr(v) ? Variant(v.ToWideString()) : v;
        // Setting a filter moves to the first row it shows.
        Moving(adRsnMove, [&] {
            if (filter.GetKind() == TFilter::fkCriteria) FLastCriteria = filter;
            FStore->SetFilter(std::move(filter));
            FFilterValue = shown;
            FStore->MoveFirst();
        });
    });
}

// ---- Sort ---------------------------------------------------------------------------------------------

WideString TRecordsetObject::GetSort() { return Wide(FSortText); }

void TRecordsetObject::SetSort(const WideString& Criteria) {
    Guard([&] {
        const String text = Narrow(Criteria);
        if (FState != adStateOpen) {
            if (Rtl::Trim(text).empty()) return;
            CheckOpen("Recordset.Sort");
        }
        if (!FStore || FCursorLocation != adUseClient)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Sort needs a client cursor (CursorLocation adUseClient)");
        TSortOrder order = TSortOrder::Parse(FStore->Store(), text);
        FinishEdit();
        FStore->SetSort(std::move(order));
        FSortText = Rtl::Trim(text);
        FIndexName.clear();  // the sort replaces the order of an index
        if (!FStore->HasRow()) FStore->MoveFirst();
        Landed();
    });
}

// ---- Find -----------------------------------------------------------------------------------------------

void TRecordsetObject::Find(const WideString& Criteria, int SkipRecords, SearchDirectionEnum SearchDirection,
                            const Variant& Start) {
    Guard([&] {
        CheckOpen("Recordset.Find");
        if (SearchDirection != adSearchForward && SearchDirection != adSearchBackward)
            AdoFail(adErrInvalidArgument, "Find: SearchDirection " + std::to_string(SearchDirection) +
                                              " is neither adSearchForward (1) nor adSearchBackward (-1)");
        if (SkipRecords < 0)
            AdoFail(adErrInvalidArgument, "Find: SkipRecords " + std::to_string(SkipRecords) + " is negative");
        const Variant start = Deref(Start);
        const bool fromCurrent = IsMissing(start) || (IsIntegerKind(start) && start.ToInteger() == adBookmarkCurrent);
        const String text = Narrow(Criteria);
        if (FStream) {
            // A forward-only cursor searches on from the current row, forward only.
            if (SearchDirection == adSearchBackward || !fromCurrent)
                CheckScrollable("Recordset.Find backward or from a bookmark");
            const TRowStore columns(FStream->GetColumns());
            const TComparison criteria = TCriteria::ParseComparison(columns, text);
            if (!FStream->HasRow()) AdoFail(adErrNoCurrentRecord, "Recordset.Find at the end of the recordset");
            Moving(adRsnMove, [&] {
                for (int i = 0; i < SkipRecords && !FStream->GetEOF(); ++i) StepNext(false);
                while (!FStream->GetEOF() && !criteria.Matches(FStream->GetCell(criteria.Column))) StepNext(false);
            });
            return;
        }
        const TComparison criteria = TCriteria::ParseComparison(FStore->Store(), text);
        Int64 from;
        if (fromCurrent) {
            from = FStore->GetIndex();
            // A row that went away stands just before the row that took its place.
            if (FStore->OnDeletedRow() && SearchDirection == adSearchBackward) --from;
        } else if (IsIntegerKind(start) && start.ToInteger() == adBookmarkFirst) {
            from = 0;
        } else if (IsIntegerKind(start) && start.ToInteger() == adBookmarkLast) {
            from = FStore->GetCount() - 1;
        } else {
            from = FStore->IndexOf(static_cast<TRowId>(BookmarkRow(start, "Recordset.Find")));
        }
        const Int64 found = FStore->View().Find(criteria, from, SkipRecords, SearchDirection);
        Moving(adRsnMove, [&] {
            if (found >= 0)
                FStore->GoTo(FStore->RowAt(found));
            else if (SearchDirection == adSearchBackward)
                FStore->ToBOF();
            else
                FStore->ToEOF();
        });
    });
}

// ---- Index, Seek and Optimize --------------------------------------------------------------------------------

const TIndex* TRecordsetObject::CurrentIndex() const {
    if (FIndexName.empty() || !FStore) return nullptr;
    const TIndexes& indexes = FStore->Indexes();
    if (const TIndex* named = indexes.Find(FIndexName)) return named;
    const int column = FStore->Store().FindColumn(FIndexName);
    return column >= 0 ? indexes.ColumnIndex(static_cast<std::size_t>(column)) : nullptr;
}

void TRecordsetObject::LoadProviderIndexes() {
    if (FProviderIndexesLoaded) return;
    FProviderIndexesLoaded = true;
    if (!FConnection || !FConnection->IsOpen() || FFabricated || FSchemaRowset) return;
    // The indexes of the one table every column comes from.
    String table, owner;
    for (const auto& c : FStore->Store().GetColumns()) {
        if (c.BaseTableName.empty()) continue;
        if (!table.empty() && !Rtl::SameText(table, c.BaseTableName)) return;
        table = c.BaseTableName;
        owner = c.BaseSchemaName;
    }
    if (table.empty()) return;
    // In the table's own schema: a table of the same name in another has other indexes.
    Variant restrictions = Rtl::VarArrayOf(
        {Variant(), owner.empty() ? Variant() : Variant(Wide(owner)), Variant(), Variant(), Variant(Wide(table))});
    ComPtr<_Recordset> schema;
    try {
        schema = FConnection->OpenSchema(adSchemaIndexes, restrictions, Com::EmptyParam);
    } catch (const std::exception&) {
        return;  // a provider without index information: only the client's own indexes exist
    }
    TRecordsetObject* rows = RecordsetOf(schema.Get());
    if (!rows || !rows->FStore) return;
    struct TPart {
        int Ordinal;
        String Column;
        bool Descending;
    };
    struct TFound {
        String Name;
        bool Unique = false;
        std::vector<TPart> Parts;
    };
    std::vector<TFound> found;
    const TRowStore& s = rows->FStore->Store();
    const int nameCol = s.FindColumn("INDEX_NAME"), columnCol = s.FindColumn("COLUMN_NAME"),
              ordinalCol = s.FindColumn("ORDINAL_POSITION"), collationCol = s.FindColumn("COLLATION"),
              uniqueCol = s.FindColumn("UNIQUE");
    if (nameCol < 0 || columnCol < 0) return;
    for (TRowId r : s.GetRows()) {
        const Variant name = s.GetValue(r, static_cast<std::size_t>(nameCol));
        const Variant column = s.GetValue(r, static_cast<std::size_t>(columnCol));
        if (name.IsNull() || column.IsNull()) continue;
        const String n = name.ToString();
        auto it = std::find_if(found.begin(), found.end(), [&](const TFound& f) { return f.Name == n; });
        if (it == found.end()) {
            found.push_back({n, false, {}});
            it = found.end() - 1;
        }
        if (uniqueCol >= 0) {
            const Variant u = s.GetValue(r, static_cast<std::size_t>(uniqueCol));
            it->Unique = !u.IsNull() && u.ToBoolean();
        }
        int ordinal = static_cast<int>(it->Parts.size()) + 1;
        if (ordinalCol >= 0) {
            const Variant o = s.GetValue(r, static_cast<std::size_t>(ordinalCol));
            if (!o.IsNull()) ordinal = o.ToInteger();
        }
        bool descending = false;
        if (collationCol >= 0) {
            const Variant c = s.GetValue(r, static_cast<std::size_t>(collationCol));
            descending = !c.IsNull() && c.ToInteger() == 2;  // DB_COLLATION_DESC
        }
        it->Parts.push_back({ordinal, column.ToString(), descending});
    }
    TIndexes& indexes = FStore->Indexes();
    for (auto& f : found) {
        std::sort(f.Parts.begin(), f.Parts.end(), [](const TPart& a, const TPart& b) { return a.Ordinal < b.Ordinal; });
        std::vector<String> columns;
        std::vector<bool> descending;
        bool complete = true;
        for (const auto& p : f.Parts) {
            // The recordset's column of that base column.
            int at = -1;
            const auto& cols = FStore->Store().GetColumns();
            for (std::size_t i = 0; i < cols.size(); ++i)
                if (Rtl::SameText(cols[i].BaseColumnName.empty() ? cols[i].Name : cols[i].BaseColumnName, p.Column))
                    at = static_cast<int>(i);
            if (at < 0) {
                complete = false;  // an index over columns the recordset does not hold cannot order its rows
                break;
            }
            columns.push_back(cols[static_cast<std::size_t>(at)].Name);
            descending.push_back(p.Descending);
        }
        if (!complete || columns.empty() || indexes.Find(f.Name)) continue;
        indexes.Add(f.Name, columns, descending, f.Unique);
    }
}

WideString TRecordsetObject::GetIndex() { return Wide(FIndexName); }

void TRecordsetObject::SetIndex(const WideString& Value) {
    Guard([&] {
        const String name = Rtl::Trim(Narrow(Value));
        if (FState != adStateOpen) {
            if (name.empty()) return;
            CheckOpen("Recordset.Index");
        }
        if (!FStore)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Index: a forward-only cursor has no indexes");
        if (name.empty()) {
            Moving(adRsnMove, [&] {
                FIndexName.clear();
                FStore->SetSort(FSortText.empty() ? TSortOrder() : TSortOrder::Parse(FStore->Store(), FSortText));
            });
            return;
        }
        const TIndexes& indexes = FStore->Indexes();
        const TIndex* index = indexes.Find(name);
        if (!index) {
            const int column = FStore->Store().FindColumn(name);
            if (column >= 0) index = indexes.ColumnIndex(static_cast<std::size_t>(column));
        }
        if (!index) {
            LoadProviderIndexes();
            index = indexes.Find(name);
        }
        if (!index) {
            String known;
            for (const auto& n : indexes.GetNames()) known += (known.empty() ? "" : ", ") + n;
            for (std::size_t c = 0; c < FStore->Store().GetColumnCount(); ++c)
                if (indexes.ColumnIndex(c))
                    known += (known.empty() ? "" : ", ") + FStore->Store().GetColumns()[c].Name + " (Optimize)";
            AdoFail(adErrItemNotFound, "Recordset.Index: the recordset has no index \"" + name + "\" (indexes: " +
                                           (known.empty() ? "none" : known) + ")");
        }
        // The rows follow the index's order.
        TSortOrder order = TSortOrder::FromKeys(index->GetKeys());
        const String indexName = index->GetName();
        Moving(adRsnMove, [&] {
            FStore->SetSort(std::move(order));
            FIndexName = indexName;
        });
    });
}

void TRecordsetObject::Seek(const Variant& KeyValues, SeekEnum SeekOption) {
    Guard([&] {
        CheckOpen("Recordset.Seek");
        if (!IsSeekOption(SeekOption))
            AdoFail(adErrInvalidArgument, "Seek: SeekOption " + std::to_string(SeekOption) +
                                              " is not adSeekFirstEQ, adSeekLastEQ, adSeekAfterEQ, adSeekAfter, "
                                              "adSeekBeforeEQ or adSeekBefore");
        const TIndex* index = CurrentIndex();
        if (!index) AdoFail(adErrIllegalOperation, "Recordset.Seek needs an index: set the Index property first");
        const Variant keys = Deref(KeyValues);
        std::vector<Variant> values;
        if (keys.IsArray()) {
            for (int i = Rtl::VarArrayLowBound(keys, 1); i <= Rtl::VarArrayHighBound(keys, 1); ++i)
                values.push_back(Deref(keys.GetElement(i)));
        } else {
            values.push_back(keys);
        }
        if (values.empty() || values.size() > index->GetKeys().size())
            AdoFail(adErrInvalidArgument, "Seek: index \"" + index->GetName() + "\" has " +
                                              std::to_string(index->GetKeys().size()) + " key columns and " +
                                              std::to_string(values.size()) + " values were given");
        FinishEdit();
        const TRowId row = index->Seek(values, SeekOption, [&](TRowId r) { return FStore->IsVisible(r); });
        Moving(adRsnMove, [&] {
            if (row == NoRow)
                FStore->ToEOF();
            else
                FStore->GoTo(row);
        });
    });
}

void TRecordsetObject::SetFieldProperty(std::size_t column, const String& name, const Variant& value) {
    if (!Rtl::SameText(name, "Optimize")) return;
    CheckOpen("Field.Properties(\"Optimize\")");
    if (!FStore)
        AdoFail(adErrFeatureNotAvailable, "the Optimize property needs a cursor that holds its rows");
    const Variant v = Deref(value);
    bool on;
    try {
        on = v.ToBoolean();
    } catch (const std::exception&) {
        AdoFail(adErrPropInvalidValue, "Optimize takes True or False, not " + DescribeValue(v));
    }
    FStore->Indexes().SetOptimize(column, on);
    // An index of the field that goes away takes the Index setting with it.
    if (!on && !FIndexName.empty() && !CurrentIndex()) FIndexName.clear();
}

// ---- Persistence ----------------------------------------------------------------------------------------------

std::unique_ptr<TRowStore> TRecordsetObject::RowsToSave() const {
    const TRowStore& store = FStore->Store();
    // Only a criteria filter narrows what is saved; groups and bookmarks do not.
    if (FStore->View().GetFilter().GetKind() != TFilter::fkCriteria) return nullptr;
    std::vector<TRowId> rows = FStore->View().GetRows();
    std::sort(rows.begin(), rows.end());  // arrival order
    auto out = std::make_unique<TRowStore>(store.GetColumns());
    TRowBuffer values;
    for (TRowId r : rows) {
        const int status = store.GetStatus(r);
        if (status & adRecNew) {
            const TRowId id = out->AddNew();
            store.GetRow(r, values);
            for (std::size_t c = 0; c < store.GetColumnCount(); ++c) out->SetCell(id, c, values[c]);
            continue;
        }
        store.GetRow(r, values, store.HasOriginal(r) ? vvOriginal : vvCurrent);
        const TRowId id = out->Append(values);
        if (status & adRecModified) {
            store.GetRow(r, values);
            for (std::size_t c = 0; c < store.GetColumnCount(); ++c)
                if (store.IsChanged(r, c)) out->SetCell(id, c, values[c]);
        }
        if (status & adRecDeleted) out->Delete(id);
    }
    return out;
}

void TRecordsetObject::Save(const Variant& Destination, PersistFormatEnum PersistFormat) {
    Guard([&] {
        CheckOpen("Recordset.Save");
        if (!FStore)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Save: a forward-only cursor cannot be saved; open the "
                                              "recordset with a static, keyset or client cursor");
        const Variant destination = Deref(Destination);
        String path;
        if (IsMissing(destination) || (Rtl::VarIsStr(destination) && destination.ToString().empty())) {
            if (FSavedFile.empty())
                AdoFail(adErrInvalidArgument, "Recordset.Save: no destination was given and the recordset was "
                                              "neither saved nor opened from a file before");
            path = FSavedFile;
        } else if (Rtl::VarIsStr(destination)) {
            path = destination.ToString();
            // Saving never replaces a file the recordset does not own.
            std::error_code ec;
            if (!SamePath(path, FSavedFile) && std::filesystem::exists(std::filesystem::path(path), ec))
                AdoFail(adErrWriteFile, "Recordset.Save: the file \"" + path + "\" already exists");
        } else if (destination.BaseType() == Rtl::varDispatch || destination.BaseType() == Rtl::varUnknown) {
            TStreamObject* stream = StreamOf(destination.GetInterface());
            if (!stream) AdoFail(adErrInvalidArgument, "Recordset.Save: the destination object is not a Stream");
            FinishEdit();
            const std::unique_ptr<TRowStore> narrowed = RowsToSave();
            // The whole rowset is made before the stream changes.
            const String data = SavePersisted(narrowed ? *narrowed : FStore->Store(), PersistFormat);
            stream->PutForSave(data, PersistFormat == adPersistXML, "Recordset.Save");
            Moving(adRsnMoveFirst, [&] { FStore->MoveFirst(); });
            return;
        } else {
            AdoFail(adErrInvalidArgument, "Recordset.Save: the destination is a file name, not " +
                                              DescribeValue(destination));
        }
        FinishEdit();
        const std::unique_ptr<TRowStore> narrowed = RowsToSave();
        SaveToFile(narrowed ? *narrowed : FStore->Store(), path, PersistFormat);
        FSavedFile = path;
        // Saving leaves the cursor on the first row.
        Moving(adRsnMoveFirst, [&] { FStore->MoveFirst(); });
    });
}

void TRecordsetObject::_xSave(const WideString& FileName, PersistFormatEnum PersistFormat) {
    Save(FileName.empty() ? Com::EmptyParam : Variant(FileName), PersistFormat);
}

void TRecordsetObject::OpenFromFile(const String& path, LockTypeEnum lockType) {
    // Everything is read and checked before the recordset changes.
    OpenFromStore(LoadFromFile(path), path, lockType);
    FSavedFile = path;
}

void TRecordsetObject::OpenFromStream(TStreamObject& stream, LockTypeEnum lockType) {
    // The rowset from the stream's position on; the recordset changes only once it has been read.
    const Int64 position = stream.GetPosition();
    std::unique_ptr<TRowStore> store;
    try {
        store = LoadPersisted(stream.TakeRest("Recordset.Open"));
    } catch (...) {
        stream.SetPosition(position);
        throw;
    }
    OpenFromStore(std::move(store), String(), lockType);
}

void TRecordsetObject::OpenFromStore(std::unique_ptr<TRowStore> store, const String& path, LockTypeEnum lockType) {
    ResetOpenState();
    auto rows = std::make_shared<TRowSet>(std::move(store));
    FStore = std::make_unique<TStoreCursor>(rows);
    FColumns = rows->Store.GetColumns();
    FFabricated = false;
    FFromFile = true;
    FCommand = nullptr;
    FSourceCommand = nullptr;
    FCursorType = adOpenStatic;
    FCursorLocation = adUseClient;
    FOpenLocation = adUseClient;
    FLockType = lockType == adLockUnspecified ? adLockBatchOptimistic : lockType;
    if (FLockType == adLockPessimistic) FLockType = adLockOptimistic;
    if (FLockType == adLockReadOnly)
        for (auto& c : FColumns) c.Attributes &= ~adFldUpdatable;
    FSource = path;
    // Disconnected until a connection is assigned (ActiveConnection), which then carries its changes.
    FWriter = FConnection ? std::make_shared<TRowWriter>(*FConnection, rows->Store.GetColumns()) : nullptr;
    FState = adStateOpen;
    if (FConnection) FConnection->Attach(this);
    AfterOpen();
}

void TRecordsetObject::RestoreView(const Variant& filter, const String& sort) noexcept {
    if (!FStore) return;
    try {
        if (!sort.empty() && FCursorLocation == adUseClient) {
            FStore->SetSort(TSortOrder::Parse(FStore->Store(), sort));
            FSortText = sort;
        }
    } catch (...) {
    }
    try {
        if (Rtl::VarIsStr(filter) && !filter.ToString().empty()) {
            TFilter f = TFilter::FromCriteria(FStore->Store(), filter.ToString());
            FLastCriteria = f;
            FStore->SetFilter(std::move(f));
            FFilterValue = filter;
        }
    } catch (...) {
    }
}

}  // namespace DataEngine::Ado
