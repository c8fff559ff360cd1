// The recordset: moving, positions, bookmarks, paging, Supports, reading rows
// out in bulk (GetRows, GetString), clones and resynchronisation.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"

#include <cmath>

namespace DataEngine::Ado {

namespace {

constexpr HRESULT hrCantFetchBackwards = static_cast<HRESULT>(0x80040E24u);  // DB_E_CANTFETCHBACKWARDS
constexpr HRESULT hrDeletedRow = static_cast<HRESULT>(0x80040E23u);          // DB_E_DELETEDROW

}  // namespace

// ---- Position helpers ---------------------------------------------------------------------------

TRowId TRecordsetObject::CurrentRow() const { return FStore ? FStore->GetCurrent() : NoRow; }

bool TRecordsetObject::HasCurrentRow() const {
    if (FStore) return FStore->HasRow();
    return FStream && FStream->HasRow();
}

void TRecordsetObject::CheckCurrentRow(std::string_view operation) const {
    CheckOpen(operation);
    if (!HasCurrentRow()) AdoFail(adErrNoCurrentRecord, operation);
    if (FStore && (FStore->Store().GetStatus(FStore->GetCurrent()) & adRecDBDeleted))
        throw EEngineError("Row handle referred to a deleted row or a row marked for deletion: " + String(operation) +
                               " on a row another connection deleted",
                           hrDeletedRow);
}

bool TRecordsetObject::OnReadableRow() const {
    if (FStream) return FStream->HasRow();
    return FStore && FStore->HasRow() && !(FStore->Store().GetStatus(FStore->GetCurrent()) & adRecDBDeleted);
}

void TRecordsetObject::CheckScrollable(std::string_view operation) const {
    if (FStream)
        throw EEngineError(String(operation) + ": the rowset does not support fetching backward (a forward-only cursor)",
                           hrCantFetchBackwards);
}

void TRecordsetObject::Landed() {
    FChunkRow = NoRow;
    FChunkColumn = -1;
    FChunkAppending = false;
    if (!FKeyset || !FStore || !FStore->HasRow() || !FWriter) return;
    // A keyset cursor shows the row as the database holds it now.
    TRowStore& store = FStore->Store();
    const TRowId row = FStore->GetCurrent();
    const int status = store.GetStatus(row);
    if (status & (adRecNew | adRecModified | adRecDeleted | adRecDBDeleted)) return;
    TRowBuffer values;
    if (!FWriter->Reread(store, row, values)) {
        store.SetStatusFlags(row, adRecDBDeleted);
        return;
    }
    for (std::size_t c = 0; c < store.GetColumnCount(); ++c)
        if (!SameCell(store.GetKinds()[c], store.GetCell(row, c), values[c])) {
            store.Refresh(row, values);
            return;
        }
}

void TRecordsetObject::StepNext(bool fireEnd) {
    if (FStream) {
        FStream->MoveNext();
        if (FStream->GetEOF() && fireEnd) FireEndOfRecordset();
        return;
    }
    AwaitRows(FStore->GetIndex() + 2);  // an asynchronous fetch may still bring the next row
    const TRowId before = FStore->GetCurrent();
    FStore->MoveNext();
    if (FStore->GetEOF() && fireEnd && FireEndOfRecordset()) {
        // The handler added rows: go on to the first of them.
        if (before != NoRow && FStore->IsVisible(before)) {
            FStore->GoTo(before);
            FStore->MoveNext();
        }
    }
}

// ---- Moves ----------------------------------------------------------------------------------------

bool TRecordsetObject::GetBOF() {
    return Guard([&] {
        CheckOpen("Recordset.BOF");
        return FStore ? FStore->GetBOF() : FStream->GetBOF();
    });
}

bool TRecordsetObject::GetEOF() {
    return Guard([&] {
        CheckOpen("Recordset.EOF");
        return FStore ? FStore->GetEOF() : FStream->GetEOF();
    });
}

void TRecordsetObject::MoveNext() {
    Guard([&] {
        CheckOpen("Recordset.MoveNext");
        if (FEditMode == adEditNone && (FStore ? FStore->GetEOF() : FStream->GetEOF()))
            AdoFail(adErrNoCurrentRecord, "Recordset.MoveNext at the end of the recordset");
        Moving(adRsnMoveNext, [&] { StepNext(true); });
    });
}

void TRecordsetObject::MovePrevious() {
    Guard([&] {
        CheckOpen("Recordset.MovePrevious");
        CheckScrollable("Recordset.MovePrevious");
        if (FEditMode == adEditNone && FStore->GetBOF())
            AdoFail(adErrNoCurrentRecord, "Recordset.MovePrevious at the beginning of the recordset");
        Moving(adRsnMovePrevious, [&] { FStore->MovePrevious(); });
    });
}

void TRecordsetObject::MoveFirst() {
    Guard([&] {
        CheckOpen("Recordset.MoveFirst");
        AwaitRows(1);
        Moving(adRsnMoveFirst, [&] {
            if (FStore) {
                FStore->MoveFirst();
            } else if (FStream->GetRowNumber() != 1 || FStream->GetEOF()) {
                // A forward-only cursor goes back by running its statement again.
                FStream->Restart();
            }
        });
    });
}

void TRecordsetObject::MoveLast() {
    Guard([&] {
        CheckOpen("Recordset.MoveLast");
        CheckScrollable("Recordset.MoveLast");
        AwaitFetchEnd();
        Moving(adRsnMoveLast, [&] { FStore->MoveLast(); });
    });
}

void TRecordsetObject::Move(int NumRecords, const Variant& Start) {
    Guard([&] {
        CheckOpen("Recordset.Move");
        const Variant start = Deref(Start);
        const bool fromCurrent = IsMissing(start) || (IsIntegerKind(start) && start.ToInteger() == adBookmarkCurrent);
        if (FStream) {
            if (!fromCurrent) CheckScrollable("Recordset.Move from a bookmark");
            if (NumRecords < 0) CheckScrollable("Recordset.Move backward");
            if (NumRecords > 0 && FStream->GetEOF() && FEditMode == adEditNone)
                AdoFail(adErrNoCurrentRecord, "Recordset.Move forward at the end of the recordset");
            Moving(adRsnMove, [&] {
                for (int i = 0; i < NumRecords && !FStream->GetEOF(); ++i) StepNext(false);
            });
            return;
        }
        Int64 base;
        if (fromCurrent) {
            if (NumRecords > 0 && FStore->GetEOF() && FEditMode == adEditNone)
                AdoFail(adErrNoCurrentRecord, "Recordset.Move forward at the end of the recordset");
            if (NumRecords < 0 && FStore->GetBOF() && FEditMode == adEditNone)
                AdoFail(adErrNoCurrentRecord, "Recordset.Move backward at the beginning of the recordset");
            base = FStore->GetIndex();
            if (FStore->OnDeletedRow()) --base;  // a deleted row stands just before the row after it
        } else if (IsIntegerKind(start) && start.ToInteger() == adBookmarkFirst) {
            base = 0;
        } else if (IsIntegerKind(start) && start.ToInteger() == adBookmarkLast) {
            AwaitFetchEnd();
            base = FStore->GetCount() - 1;
        } else {
            base = FStore->IndexOf(static_cast<TRowId>(BookmarkRow(start, "Recordset.Move")));
        }
        if (NumRecords > 0) AwaitRows(base + NumRecords + 1);
        Moving(adRsnMove, [&] {
            const Int64 target = base + NumRecords;
            if (target < 0)
                FStore->ToBOF();
            else if (target >= FStore->GetCount())
                FStore->ToEOF();
            else
                FStore->GoTo(FStore->RowAt(target));
        });
    });
}

// ---- Counts and positions -----------------------------------------------------------------------------

int TRecordsetObject::GetRecordCount() {
    return Guard([&] {
        CheckOpen("Recordset.RecordCount");
        return FStore ? static_cast<int>(FStore->GetCount()) : -1;
    });
}

int TRecordsetObject::GetAbsolutePosition() {
    return Guard([&] {
        CheckOpen("Recordset.AbsolutePosition");
        if (!FStore) return static_cast<int>(adPosUnknown);
        if (FStore->GetCount() == 0 || FStore->GetBOF()) return static_cast<int>(adPosBOF);
        if (FStore->GetEOF()) return static_cast<int>(adPosEOF);
        if (!FStore->HasRow()) return static_cast<int>(adPosUnknown);
        return static_cast<int>(FStore->IndexOf(FStore->GetCurrent()) + 1);
    });
}

void TRecordsetObject::SetAbsolutePosition(int Value) {
    Guard([&] {
        CheckOpen("Recordset.AbsolutePosition");
        CheckScrollable("Recordset.AbsolutePosition");
        AwaitRows(Value);
        if (Value < 1 || Value > FStore->GetCount())
            AdoFail(adErrInvalidArgument, "AbsolutePosition " + std::to_string(Value) + " is outside 1.." +
                                              std::to_string(FStore->GetCount()));
        Moving(adRsnMove, [&] { FStore->GoTo(FStore->RowAt(Value - 1)); });
    });
}

int TRecordsetObject::GetPageCount() {
    return Guard([&] {
        CheckOpen("Recordset.PageCount");
        if (!FStore) return -1;
        return static_cast<int>((FStore->GetCount() + FPageSize - 1) / FPageSize);
    });
}

int TRecordsetObject::GetAbsolutePage() {
    return Guard([&] {
        CheckOpen("Recordset.AbsolutePage");
        if (!FStore) return static_cast<int>(adPosUnknown);
        if (FStore->GetCount() == 0 || FStore->GetBOF()) return static_cast<int>(adPosBOF);
        if (FStore->GetEOF()) return static_cast<int>(adPosEOF);
        if (!FStore->HasRow()) return static_cast<int>(adPosUnknown);
        return static_cast<int>(FStore->IndexOf(FStore->GetCurrent()) / FPageSize + 1);
    });
}

void TRecordsetObject::SetAbsolutePage(int Value) {
    Guard([&] {
        CheckOpen("Recordset.AbsolutePage");
        CheckScrollable("Recordset.AbsolutePage");
        AwaitRows((static_cast<Int64>(Value) - 1) * FPageSize + 1);
        const Int64 pages = (FStore->GetCount() + FPageSize - 1) / FPageSize;
        if (Value < 1 || Value > pages)
            AdoFail(adErrInvalidArgument, "AbsolutePage " + std::to_string(Value) + " is outside 1.." +
                                              std::to_string(pages) + " (PageSize " + std::to_string(FPageSize) + ")");
        Moving(adRsnMove, [&] { FStore->GoTo(FStore->RowAt(static_cast<Int64>(Value - 1) * FPageSize)); });
    });
}

// ---- Bookmarks ------------------------------------------------------------------------------------------

Variant TRecordsetObject::BookmarkOf(TRowId row) const { return Variant(static_cast<double>(row) + 1.0); }

Int64 TRecordsetObject::BookmarkRow(const Variant& bookmark, std::string_view what) const {
    const Variant v = Deref(bookmark);
    double d = -1;
    if (Rtl::VarIsNumeric(v) && !v.IsArray()) d = v.ToDouble();
    if (!(d >= 1 && d <= 4294967295.0 && std::floor(d) == d))
        AdoFail(adErrInvalidArgument, String(what) + ": " + DescribeValue(v) + " is not a bookmark of this recordset");
    const TRowId row = static_cast<TRowId>(d - 1);
    if (row >= NoRow || !FStore->Store().IsLive(row) || !FStore->IsVisible(row)) {
        // Ids only grow: a bookmark beyond every row given never was one.
        const auto& rows = FStore->Store().GetRows();
        if (rows.empty() || row > rows.back())
            AdoFail(adErrInvalidArgument, String(what) + ": " + DescribeValue(v) + " is not a bookmark of this recordset");
        throw EEngineError("Row handle referred to a deleted row or a row marked for deletion: " + String(what) +
                               " with the bookmark of a deleted row (" + DescribeValue(v) + ")",
                           hrDeletedRow);
    }
    return row;
}

Variant TRecordsetObject::GetBookmark() {
    return Guard([&] {
        CheckOpen("Recordset.Bookmark");
        if (FStream)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Bookmark: a forward-only cursor has no bookmarks");
        CheckCurrentRow("Recordset.Bookmark");
        return BookmarkOf(FStore->GetCurrent());
    });
}

void TRecordsetObject::SetBookmark(const Variant& Value) {
    Guard([&] {
        CheckOpen("Recordset.Bookmark");
        if (FStream)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Bookmark: a forward-only cursor has no bookmarks");
        const TRowId row = static_cast<TRowId>(BookmarkRow(Value, "Recordset.Bookmark"));
        Moving(adRsnMove, [&] { FStore->GoTo(row); });
    });
}

CompareEnum TRecordsetObject::CompareBookmarks(const Variant& Bookmark1, const Variant& Bookmark2) {
    return Guard([&] {
        CheckOpen("Recordset.CompareBookmarks");
        if (FStream)
            AdoFail(adErrFeatureNotAvailable, "Recordset.CompareBookmarks: a forward-only cursor has no bookmarks");
        Int64 rows[2];
        const Variant* marks[2] = {&Bookmark1, &Bookmark2};
        for (int i = 0; i < 2; ++i) {
            try {
                rows[i] = BookmarkRow(*marks[i], "Recordset.CompareBookmarks");
            } catch (const EEngineError& e) {
                if (e.GetNumber() == hrDeletedRow) return adCompareNotComparable;
                throw;
            }
        }
        const Int64 a = FStore->IndexOf(static_cast<TRowId>(rows[0]));
        const Int64 b = FStore->IndexOf(static_cast<TRowId>(rows[1]));
        return a < b ? adCompareLessThan : a > b ? adCompareGreaterThan : adCompareEqual;
    });
}

// ---- Capabilities ---------------------------------------------------------------------------------------

bool TRecordsetObject::Supports(CursorOptionEnum CursorOptions) {
    return Guard([&] {
        CheckOpen("Recordset.Supports");
        int mask = adNotify;
        if (FStream) mask |= adFind;
        if (FStore) {
            // Filter, Find, Seek over the client's own indexes (Optimize) and the provider's.
            mask |= adHoldRecords | adMovePrevious | adBookmark | adApproxPosition | adFind | adIndex | adSeek;
            if (FWriter && !FFabricated && !FSchemaRowset) mask |= adResync;
            const bool writable = FLockType != adLockReadOnly && (FFabricated || (FWriter && FWriter->CanWrite()));
            if (writable) {
                mask |= adAddNew | adDelete | adUpdate;
                if (IsBatch()) mask |= adUpdateBatch;
            }
        }
        const int asked = static_cast<int>(CursorOptions);
        return asked != 0 && (mask & asked) == asked;
    });
}

// ---- Reading rows in bulk ------------------------------------------------------------------------------------

Variant TRecordsetObject::GetRows(int Rows, const Variant& Start, const Variant& Fields) {
    return Guard([&] {
        CheckOpen("Recordset.GetRows");
        if (Rows < adGetRowsRest) AdoFail(adErrInvalidArgument, "GetRows: " + std::to_string(Rows) + " rows");
        // Which columns.
        std::vector<std::size_t> columns;
        const Variant fields = Deref(Fields);
        auto column = [&](const Variant& f) {
            const int i = ResolveIndex(f, static_cast<int>(ColumnCount()), [&](const String& n) { return FindColumn(n); },
                                       "Fields");
            if (i < 0) AdoFail(adErrItemNotFound, "GetRows: Fields has no item " + DescribeValue(f));
            columns.push_back(static_cast<std::size_t>(i));
        };
        if (IsMissing(fields)) {
            for (std::size_t c = 0; c < ColumnCount(); ++c) columns.push_back(c);
        } else if (fields.IsArray()) {
            for (int i = Rtl::VarArrayLowBound(fields, 1); i <= Rtl::VarArrayHighBound(fields, 1); ++i)
                column(fields.GetElement(i));
        } else {
            column(fields);
        }
        const Variant start = Deref(Start);
        if (!IsMissing(start) && !(IsIntegerKind(start) && start.ToInteger() == adBookmarkCurrent)) {
            CheckScrollable("Recordset.GetRows from a bookmark");
            if (IsIntegerKind(start) && start.ToInteger() == adBookmarkFirst)
                FStore->MoveFirst();
            else if (IsIntegerKind(start) && start.ToInteger() == adBookmarkLast)
                FStore->MoveLast();
            else
                FStore->GoTo(static_cast<TRowId>(BookmarkRow(start, "Recordset.GetRows")));
        }
        FinishEdit();
        if (!HasCurrentRow()) AdoFail(adErrNoCurrentRecord, "Recordset.GetRows");
        std::vector<std::vector<Variant>> data;
        Moving(adRsnMove, [&] {
            while (HasCurrentRow() && (Rows < 0 || static_cast<int>(data.size()) < Rows)) {
                std::vector<Variant> row;
                for (std::size_t c : columns) row.push_back(FieldValue(c, vvCurrent));
                data.push_back(std::move(row));
                StepNext(false);
                Landed();
            }
        });
        Variant result = Rtl::VarArrayCreate({0, static_cast<int>(columns.size()) - 1, 0, static_cast<int>(data.size()) - 1},
                                             Rtl::varVariant);
        for (std::size_t r = 0; r < data.size(); ++r)
            for (std::size_t c = 0; c < columns.size(); ++c)
                result.PutElement({static_cast<int>(c), static_cast<int>(r)}, data[r][c]);
        return result;
    });
}

WideString TRecordsetObject::GetString(StringFormatEnum StringFormat, int NumRows, const WideString& ColumnDelimeter,
                                       const WideString& RowDelimeter, const WideString& NullExpr) {
    return Guard([&] {
        CheckOpen("Recordset.GetString");
        if (StringFormat != adClipString)
            AdoFail(adErrInvalidArgument, "GetString: StringFormat " + std::to_string(StringFormat) +
                                              " is not adClipString (2)");
        const WideString columnDelimiter = ColumnDelimeter.empty() ? WideString(u"\t") : ColumnDelimeter;
        const WideString rowDelimiter = RowDelimeter.empty() ? WideString(u"\r") : RowDelimeter;
        FinishEdit();
        if (!HasCurrentRow()) AdoFail(adErrNoCurrentRecord, "Recordset.GetString");
        WideString out;
        int rows = 0;
        Moving(adRsnMove, [&] {
            while (HasCurrentRow() && (NumRows < 0 || rows < NumRows)) {
                for (std::size_t c = 0; c < ColumnCount(); ++c) {
                    if (c) out += columnDelimiter;
                    const Variant v = FieldValue(c, vvCurrent);
                    out += v.IsNull() ? NullExpr : Rtl::VarToWideStr(v);
                }
                out += rowDelimiter;
                ++rows;
                StepNext(false);
                Landed();
            }
        });
        return out;
    });
}

int TRecordsetObject::GetStatus() {
    return Guard([&] {
        CheckOpen("Recordset.Status");
        if (!HasCurrentRow()) AdoFail(adErrNoCurrentRecord, "Recordset.Status");
        if (FStream) return static_cast<int>(adRecUnmodified);
        return FStore->Store().GetStatus(FStore->GetCurrent());
    });
}

Variant TRecordsetObject::GetCollect(const Variant& Index) {
    return Guard([&] {
        CheckOpen("Recordset.Collect");
        const int i = ResolveIndex(Index, static_cast<int>(ColumnCount()), [&](const String& n) { return FindColumn(n); },
                                   "Fields");
        if (i < 0) AdoFail(adErrItemNotFound, "Fields has no item " + DescribeValue(Index));
        return FieldValue(static_cast<std::size_t>(i), vvCurrent);
    });
}

void TRecordsetObject::SetCollect(const Variant& Index, const Variant& Value) {
    Guard([&] {
        CheckOpen("Recordset.Collect");
        const int i = ResolveIndex(Index, static_cast<int>(ColumnCount()), [&](const String& n) { return FindColumn(n); },
                                   "Fields");
        if (i < 0) AdoFail(adErrItemNotFound, "Fields has no item " + DescribeValue(Index));
        SetFieldValue(static_cast<std::size_t>(i), Value);
    });
}

// ---- Clones and resynchronisation ----------------------------------------------------------------------------

ComPtr<_Recordset> TRecordsetObject::Clone(LockTypeEnum LockType) {
    return Guard([&] {
        CheckOpen("Recordset.Clone");
        if (!FStore) AdoFail(adErrFeatureNotAvailable, "Recordset.Clone: a forward-only cursor cannot be cloned");
        if (LockType != adLockUnspecified && LockType != adLockReadOnly && LockType != FLockType)
            AdoFail(adErrInvalidArgument, "Recordset.Clone: a clone is read-only or has the lock type of its original");
        auto clone = Com::MakeComObject<TRecordsetObject>();
        clone->FStore = std::make_unique<TStoreCursor>(FStore->SharedRows());
        clone->FColumns = FColumns;
        clone->FWriter = FWriter;
        clone->FCursorType = FCursorType;
        clone->FLockType = LockType == adLockReadOnly ? adLockReadOnly : FLockType;
        if (clone->FLockType == adLockReadOnly)
            for (auto& c : clone->FColumns) c.Attributes &= ~adFldUpdatable;
        clone->FCursorLocation = FCursorLocation;
        clone->FCursorLocationSet = true;
        clone->FOpenLocation = FOpenLocation;
        clone->FCacheSize = FCacheSize;
        clone->FMaxRecords = FMaxRecords;
        clone->FPageSize = FPageSize;
        clone->FUpdateCriteria = FUpdateCriteria;
        clone->FKeyset = FKeyset;
        clone->FFabricated = FFabricated;
        clone->FSchemaRowset = FSchemaRowset;
        clone->FSource = FSource;
        clone->FCommand = FCommand;
        clone->FOpenOptions = FOpenOptions;
        clone->FState = adStateOpen;
        clone->SetConnection(FConnection);
        clone->AfterOpen();
        return ComPtr<_Recordset>(static_cast<_Recordset*>(clone.Get()));
    });
}

ComPtr<_Recordset> TRecordsetObject::_xClone() { return Clone(adLockUnspecified); }

void TRecordsetObject::Resync(AffectEnum AffectRecords, ResyncEnum ResyncValues) {
    Guard([&] {
        CheckOpen("Recordset.Resync");
        if (!FStore || !FWriter || FFabricated || FSchemaRowset)
            AdoFail(adErrFeatureNotAvailable, "Recordset.Resync: the recordset's rows cannot be read again from tables");
        if (ResyncValues != adResyncAllValues && ResyncValues != adResyncUnderlyingValues)
            AdoFail(adErrInvalidArgument, "Resync: ResyncValues " + std::to_string(ResyncValues));
        if (AffectRecords == adAffectCurrent && !FStore->HasRow()) AdoFail(adErrNoCurrentRecord, "Recordset.Resync");
        if (AffectRecords != adAffectCurrent && AffectRecords != adAffectAll && AffectRecords != adAffectGroup &&
            AffectRecords != adAffectAllChapters)
            AdoFail(adErrInvalidArgument, "Resync: AffectRecords " + std::to_string(AffectRecords));
        if (FEditMode != adEditNone)
            AdoFail(adErrIllegalOperation, "Recordset.Resync: an edit is in progress; call Update or CancelUpdate first");
        const bool cancelled = FireWillChangeRecordset(adRsnResynch).Cancelled;
        Surround(
            cancelled, "WillChangeRecordset",
            [&] {
                TRowStore& store = FStore->Store();
                std::vector<TRowId> rows;
                if (AffectRecords == adAffectCurrent)
                    rows.push_back(FStore->GetCurrent());
                else
                    for (Int64 i = 0; i < FStore->GetCount(); ++i) rows.push_back(FStore->RowAt(i));
                int missing = 0;
                FStore->Rows().Affected = rows;
                for (TRowId row : rows) {
                    if (store.GetStatus(row) & adRecNew) continue;  // not in the database yet
                    TRowBuffer values;
                    if (!FWriter->Reread(store, row, values)) {
                        store.SetStatusFlags(row, adRecDBDeleted);
                        ++missing;
                        continue;
                    }
                    if (ResyncValues == adResyncAllValues)
                        store.Refresh(row, values);
                    else
                        store.SetUnderlying(row, values);
                }
                Landed();
                if (missing)
                    throw EEngineError("Key value for this row was changed or deleted at the data store: " +
                                           std::to_string(missing) + " of " + std::to_string(rows.size()) +
                                           " rows were not found again (their Status has adRecDBDeleted)",
                                       hrConcurrencyViolation);
            },
            [&](Error* e) { FireRecordsetChangeComplete(adRsnResynch, e); });
    });
}

void TRecordsetObject::_xResync(AffectEnum AffectRecords) { Resync(AffectRecords, adResyncAllValues); }

}  // namespace DataEngine::Ado
