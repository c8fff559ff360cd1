// The recordset: field values, editing (AddNew, Update, CancelUpdate,
// Delete), batch updates, and fabricated field definitions.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"

#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"

namespace DataEngine::Ado {

namespace {

bool IsWideText(DataTypeEnum t) { return t == adWChar || t == adVarWChar || t == adLongVarWChar || t == adBSTR; }

// Status flags the update layer sets beside the row's state.
constexpr int StateBits = adRecNew | adRecModified | adRecDeleted | adRecUnmodified;

}  // namespace

// ---- Columns ----------------------------------------------------------------------------------

std::size_t TRecordsetObject::ColumnCount() const {
    return FState == adStateOpen ? FColumns.size() : FFieldDefs.size();
}

const TColumnInfo& TRecordsetObject::ColumnAt(std::size_t index) const {
    const auto& list = FState == adStateOpen ? FColumns : FFieldDefs;
    if (index >= list.size())
        AdoFail(adErrObjectNotSet, "the field (index " + std::to_string(index) + ") no longer belongs to the recordset");
    return list[index];
}

int TRecordsetObject::FindColumn(const String& name) const {
    const auto& list = FState == adStateOpen ? FColumns : FFieldDefs;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (Rtl::SameText(list[i].Name, name)) return static_cast<int>(i);
    return -1;
}

EditModeEnum TRecordsetObject::GetEditMode() {
    return Guard([&] {
        CheckOpen("Recordset.EditMode");
        // A pending delete (batch mode) of the row the cursor stands on.
        if (FEditMode == adEditNone && FStore && FStore->OnDeletedRow() && FStore->Store().IsLive(FStore->GetPlaceRow()))
            return adEditDelete;
        return FEditMode;
    });
}

// ---- Reading values ------------------------------------------------------------------------------

Variant TRecordsetObject::FieldValue(std::size_t column, TValueVersion version) {
    CheckOpen("Field.Value");
    const TColumnInfo& col = ColumnAt(column);
    // The message is built only when there is no row to read (this runs for every value read).
    if (!OnReadableRow()) CheckCurrentRow("reading field \"" + col.Name + "\"");
    if (FStream) return FStream->GetValue(column);  // a read-only stream: every version is the current one
    return FStore->Store().GetValue(FStore->GetCurrent(), column, version);
}

int TRecordsetObject::FieldActualSize(std::size_t column) {
    CheckOpen("Field.ActualSize");
    const TColumnInfo& col = ColumnAt(column);
    if (!OnReadableRow()) CheckCurrentRow("reading the size of field \"" + col.Name + "\"");
    TStorageKind kind;
    TCell cell;
    if (FStream) {
        kind = StorageKindOf(col.Type);
        cell = FStream->GetCell(column);
    } else {
        kind = FStore->Store().GetKinds()[column];
        cell = FStore->Store().GetCell(FStore->GetCurrent(), column);
    }
    if (cell.Null) return 0;
    if (kind == skText) {
        const std::size_t units = Utf16Length(cell.GetView());
        return static_cast<int>(IsWideText(col.Type) ? units * 2 : units);
    }
    if (kind == skBytes) return static_cast<int>(cell.Size);
    return FixedWidthOf(kind);
}

Variant TRecordsetObject::FieldChunk(std::size_t column, int length) {
    CheckOpen("Field.GetChunk");
    const TColumnInfo& col = ColumnAt(column);
    if (!col.HasAttribute(adFldLong))
        AdoFail(adErrIllegalOperation, "GetChunk reads long fields (adFldLong) only; field \"" + col.Name + "\" is not one");
    if (length < 0) AdoFail(adErrInvalidArgument, "GetChunk: length " + std::to_string(length) + " is negative");
    CheckCurrentRow("reading field \"" + col.Name + "\" in chunks");
    const TRowId row = FStream ? static_cast<TRowId>(FStream->GetRowNumber()) : FStore->GetCurrent();
    if (FChunkAppending || FChunkRow != row || FChunkColumn != static_cast<int>(column)) {
        FChunkRow = row;
        FChunkColumn = static_cast<int>(column);
        FChunkOffset = 0;
        FChunkAppending = false;
    }
    const Variant v = FieldValue(column, vvCurrent);
    if (v.IsNull()) return Variant::Null();
    if (v.IsArray()) {
        const auto bytes = Rtl::VarArrayToBytes(v);
        if (FChunkOffset >= bytes.size()) return Variant::Null();
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), bytes.size() - FChunkOffset);
        Variant out = Rtl::BytesToVarArray(bytes.data() + FChunkOffset, n);
        FChunkOffset += n;
        return out;
    }
    const WideString text = v.ToWideString();
    if (FChunkOffset >= text.size()) return Variant::Null();
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), text.size() - FChunkOffset);
    Variant out(text.substr(FChunkOffset, n));
    FChunkOffset += n;
    return out;
}

int TRecordsetObject::FieldStatus(std::size_t column) {
    if (FState != adStateOpen || !FStore || !FStore->HasRow()) return adFieldOK;
    const TRowStore& store = FStore->Store();
    const TRowId row = FStore->GetCurrent();
    const int status = store.GetStatus(row);
    if (status & adRecNew) return adFieldPendingInsert;
    if (status & adRecDeleted) return adFieldPendingDelete;
    if ((status & adRecModified) && store.IsChanged(row, column)) return adFieldPendingChange;
    return adFieldOK;
}

std::vector<TPropertyInfo> TRecordsetObject::FieldProperties(std::size_t column) {
    const TColumnInfo& c = ColumnAt(column);
    auto text = [](const String& s) { return s.empty() ? Variant::Null() : Variant(s); };
    std::vector<TPropertyInfo> list = {
        {"BASECATALOGNAME", text(c.BaseCatalogName), adPropRead},
        {"BASESCHEMANAME", text(c.BaseSchemaName), adPropRead},
        {"BASETABLENAME", text(c.BaseTableName), adPropRead},
        {"BASECOLUMNNAME", text(c.BaseColumnName), adPropRead},
        {"KEYCOLUMN", Variant(c.HasAttribute(adFldKeyColumn)), adPropRead},
        {"ISAUTOINCREMENT", Variant(c.AutoIncrement), adPropRead},
        {"OCTETLENGTH", Variant(IsWideText(c.Type) && c.DefinedSize > 0 && c.DefinedSize < 0x40000000
                                    ? c.DefinedSize * 2
                                    : c.DefinedSize),
         adPropRead},
    };
    // A cursor that holds its rows indexes a field on request (Find, Filter).
    if (FState == adStateOpen && FStore)
        list.push_back({"Optimize", Variant(FStore->Indexes().GetOptimize(column)), adPropRead | adPropWrite});
    return list;
}

// ---- Changing values -------------------------------------------------------------------------------

void TRecordsetObject::CheckUpdatable(std::string_view operation) const {
    CheckOpen(operation);
    if (FStream || FSchemaRowset || FLockType == adLockReadOnly)
        AdoFail(adErrFeatureNotAvailable,
                String(operation) + ": the recordset is read-only (LockType " +
                    (FLockType == adLockReadOnly ? "adLockReadOnly" : "of a read-only cursor") +
                    "); updating needs adLockOptimistic or adLockBatchOptimistic");
}

void TRecordsetObject::BeginEdit(std::size_t) {
    TRowStore& store = FStore->Store();
    const TRowId row = FStore->GetCurrent();
    FEditMode = adEditInProgress;
    FEditRow = row;
    FEditRowWasPending = (store.GetStatus(row) & (adRecNew | adRecModified)) != 0;
    // Cells of the snapshot point into the store's heap, which never moves or reuses space.
    store.GetRow(row, FEditSnapshot);
}

void TRecordsetObject::SetFieldValue(std::size_t column, const Variant& value) {
    CheckUpdatable("Field.Value");
    const TColumnInfo& col = ColumnAt(column);
    CheckCurrentRow("changing field \"" + col.Name + "\"");
    if (!col.HasAttribute(adFldUpdatable) && !col.HasAttribute(adFldUnknownUpdatable))
        AdoFail(adErrFeatureNotAvailable, "field \"" + col.Name + "\" cannot be changed" +
                                              (col.BaseTableName.empty() ? " (it is not a column of a table)" : ""));
    Variant v = Deref(value);
    if (v.IsEmpty() || Com::IsEmptyParam(v)) v = Variant::Null();
    if (v.IsNull() && FFabricated && !col.HasAttribute(adFldIsNullable))
        throw EEngineError("Field \"" + col.Name + "\" does not accept Null (it was appended without adFldIsNullable)",
                           AdoErrorHResult(adErrSchemaViolation), 0, "23000");
    TRowStore& store = FStore->Store();
    const TRowId row = FStore->GetCurrent();
    const Variant fields = FieldArray({column});
    const bool first = FEditMode == adEditNone;
    bool cancelled = FireWillChangeField(fields, 1).Cancelled;
    const char* which = "WillChangeField";
    bool recordFired = false;
    if (!cancelled && first) {
        recordFired = true;
        cancelled = FireWillChangeRecord(adRsnFirstChange, 1).Cancelled;
        which = "WillChangeRecord";
    }
    try {
        if (cancelled) RaiseCancelled(which);
        if (first) BeginEdit(column);
        try {
            store.SetValue(row, column, v);
        } catch (...) {
            if (first) {
                FEditMode = adEditNone;
                FEditRow = NoRow;
            }
            throw;
        }
    } catch (...) {
        RaiseWithComplete([&](Error* e) {
            FireFieldChangeComplete(fields, 1, e);
            if (recordFired) FireRecordChangeComplete(adRsnFirstChange, 1, e);
        });
    }
    FireFieldChangeComplete(fields, 1, nullptr);
    if (recordFired) FireRecordChangeComplete(adRsnFirstChange, 1, nullptr);
}

void TRecordsetObject::FieldAppendChunk(std::size_t column, const Variant& data) {
    CheckUpdatable("Field.AppendChunk");
    const TColumnInfo& col = ColumnAt(column);
    if (!col.HasAttribute(adFldLong))
        AdoFail(adErrIllegalOperation, "AppendChunk writes long fields (adFldLong) only; field \"" + col.Name +
                                           "\" is not one");
    CheckCurrentRow("appending to field \"" + col.Name + "\"");
    const TRowId row = FStore->GetCurrent();
    const Variant d = Deref(data);
    Variant value = d;
    if (FChunkAppending && FChunkRow == row && FChunkColumn == static_cast<int>(column)) {
        const Variant current = FieldValue(column, vvCurrent);
        if (!current.IsNull()) {
            if (current.IsArray() || d.IsArray()) {
                auto bytes = Rtl::VarArrayToBytes(current);
                const auto more = Rtl::VarArrayToBytes(d);
                bytes.insert(bytes.end(), more.begin(), more.end());
                value = Rtl::BytesToVarArray(bytes.data(), bytes.size());
            } else {
                value = Variant(current.ToWideString() + d.ToWideString());
            }
        }
    }
    SetFieldValue(column, value);
    FChunkAppending = true;
    FChunkRow = row;
    FChunkColumn = static_cast<int>(column);
}

void TRecordsetObject::ApplyValues(const Variant& fieldList, const Variant& values) {
    const Variant fields = Deref(fieldList);
    const Variant vals = Deref(values);
    auto columnOf = [&](const Variant& f) {
        const int i = ResolveIndex(f, static_cast<int>(ColumnCount()), [&](const String& n) { return FindColumn(n); },
                                   "Fields");
        if (i < 0) AdoFail(adErrItemNotFound, "Fields has no item " + DescribeValue(f));
        return static_cast<std::size_t>(i);
    };
    if (fields.IsArray()) {
        if (!vals.IsArray())
            AdoFail(adErrInvalidArgument, "a list of fields needs an array of values of the same length");
        const int fl = Rtl::VarArrayLowBound(fields, 1), fh = Rtl::VarArrayHighBound(fields, 1);
        const int vl = Rtl::VarArrayLowBound(vals, 1), vh = Rtl::VarArrayHighBound(vals, 1);
        if (fh - fl != vh - vl)
            AdoFail(adErrInvalidArgument, "the field list has " + std::to_string(fh - fl + 1) + " items and the values " +
                                              std::to_string(vh - vl + 1));
        for (int i = 0; i <= fh - fl; ++i) SetFieldValue(columnOf(fields.GetElement(fl + i)), vals.GetElement(vl + i));
    } else {
        SetFieldValue(columnOf(fields), vals);
    }
}

// ---- Writing rows ---------------------------------------------------------------------------------------

void TRecordsetObject::WriteRow(TRowId row, bool isNew) {
    TRowStore& store = FStore->Store();
    if (FFabricated) {
        store.AcceptChanges(row);
        return;
    }
    if (!FWriter || !FConnection)
        AdoFail(adErrInvalidConnection, "the recordset has no connection to write its changes through");
    FConnection->CheckUsable("Recordset.Update");
    if (isNew)
        FWriter->Insert(store, row);
    else
        FWriter->Update(store, row, FUpdateCriteria);
}

void TRecordsetObject::FinishEdit() {
    if (FEditMode == adEditNone) return;
    Update(Com::EmptyParam, Com::EmptyParam);
}

void TRecordsetObject::Update(const Variant& Fields, const Variant& Values) {
    Guard([&] {
        CheckOpen("Recordset.Update");
        if (!IsMissing(Fields)) {
            CheckUpdatable("Recordset.Update");
            ApplyValues(Fields, Values);
        }
        if (FEditMode == adEditNone) return;  // nothing changed since the last update
        const bool cancelled = FireWillChangeRecord(adRsnUpdate, 1).Cancelled;
        Surround(
            cancelled, "WillChangeRecord",
            [&] {
                const bool isNew = FEditMode == adEditAdd;
                // In batch mode the change stays pending until UpdateBatch.
                if (!IsBatch()) WriteRow(FEditRow, isNew);
                FEditMode = adEditNone;
                FEditRow = NoRow;
                FBeforeAddNew = NoRow;
            },
            [&](Error* e) { FireRecordChangeComplete(adRsnUpdate, 1, e); });
    });
}

void TRecordsetObject::AddNew(const Variant& FieldList, const Variant& Values) {
    Guard([&] {
        CheckUpdatable("Recordset.AddNew");
        FinishEdit();
        const bool moveCancelled = FireWillMove(adRsnMove).Cancelled;
        bool recordFired = false, recordCancelled = false;
        if (!moveCancelled) {
            recordFired = true;
            recordCancelled = FireWillChangeRecord(adRsnAddNew, 1).Cancelled;
        }
        try {
            if (moveCancelled) RaiseCancelled("WillMove");
            if (recordCancelled) RaiseCancelled("WillChangeRecord");
            const TRowId before = FStore->GetCurrent();
            const TRowId row = FStore->Store().AddNew();
            FStore->RowAdded(row);
            FStore->GoTo(row);
            FEditMode = adEditAdd;
            FEditRow = row;
            FBeforeAddNew = before;
            FEditRowWasPending = false;
            Landed();
        } catch (...) {
            RaiseWithComplete([&](Error* e) {
                if (recordFired) FireRecordChangeComplete(adRsnAddNew, 1, e);
                FireMoveComplete(adRsnMove, e);
            });
        }
        FireRecordChangeComplete(adRsnAddNew, 1, nullptr);
        FireMoveComplete(adRsnMove, nullptr);
        if (!IsMissing(FieldList)) {
            ApplyValues(FieldList, Values);
            Update(Com::EmptyParam, Com::EmptyParam);
        }
    });
}

void TRecordsetObject::CancelUpdate() {
    Guard([&] {
        CheckOpen("Recordset.CancelUpdate");
        if (FEditMode == adEditNone) return;
        const EventReasonEnum reason = FEditMode == adEditAdd ? adRsnUndoAddNew : adRsnUndoUpdate;
        const bool cancelled = FireWillChangeRecord(reason, 1).Cancelled;
        Surround(
            cancelled, "WillChangeRecord",
            [&] {
                TRowStore& store = FStore->Store();
                if (FEditMode == adEditAdd) {
                    store.RejectChanges(FEditRow);  // the new row goes
                    FStore->RowGone(FEditRow);
                    if (FBeforeAddNew != NoRow && FStore->IsVisible(FBeforeAddNew))
                        FStore->GoTo(FBeforeAddNew);
                    else if (FStore->GetCount() == 0)
                        FStore->ToBOF();
                    else
                        FStore->ToEOF();
                } else if (!FEditRowWasPending) {
                    store.RejectChanges(FEditRow);
                } else {
                    for (std::size_t c = 0; c < store.GetColumnCount(); ++c) store.SetCell(FEditRow, c, FEditSnapshot[c]);
                }
                FEditMode = adEditNone;
                FEditRow = NoRow;
                FBeforeAddNew = NoRow;
                Landed();
            },
            [&](Error* e) { FireRecordChangeComplete(reason, 1, e); });
    });
}

void TRecordsetObject::DeleteRow(TRowId row) {
    TRowStore& store = FStore->Store();
    if (FEditRow == row && FEditMode != adEditNone) {
        // The edit in progress is dropped with the row.
        const bool wasAdd = FEditMode == adEditAdd;
        if (wasAdd || !FEditRowWasPending)
            store.RejectChanges(row);
        else
            for (std::size_t c = 0; c < store.GetColumnCount(); ++c) store.SetCell(row, c, FEditSnapshot[c]);
        FEditMode = adEditNone;
        FEditRow = NoRow;
        if (wasAdd) {
            FStore->RowGone(row);
            return;
        }
    }
    store.Delete(row);
    if (!store.IsLive(row)) {  // a new row that never reached the database
        FStore->RowGone(row);
        return;
    }
    if (IsBatch()) {
        FStore->RowHidden(row);
        return;
    }
    try {
        if (FFabricated) {
            store.AcceptChanges(row);
        } else {
            if (!FWriter || !FConnection)
                AdoFail(adErrInvalidConnection, "the recordset has no connection to delete the row through");
            FConnection->CheckUsable("Recordset.Delete");
            FWriter->Delete(store, row, FUpdateCriteria);
        }
    } catch (...) {
        // The row stays, with the flags the failed write gave it.
        const int flags = store.GetStatus(row) & ~StateBits;
        store.RejectChanges(row);
        if (flags) store.SetStatusFlags(row, flags);
        throw;
    }
    FStore->RowGone(row);
}

void TRecordsetObject::Delete(AffectEnum AffectRecords) {
    Guard([&] {
        CheckUpdatable("Recordset.Delete");
        std::vector<TRowId> rows;
        switch (AffectRecords) {
            case adAffectCurrent:
                CheckCurrentRow("Recordset.Delete");
                rows.push_back(FStore->GetCurrent());
                break;
            case adAffectGroup:
                // The rows the filter in force shows.
                if (FStore->View().GetFilter().IsNone())
                    AdoFail(adErrInvalidArgument, "Recordset.Delete with adAffectGroup deletes the rows of the Filter "
                                                  "in force, and no Filter is set");
                rows = FStore->View().GetRows();
                break;
            case adAffectAll:
            case adAffectAllChapters:
                for (TRowId r : FStore->Store().GetRows())
                    if (!(FStore->Store().GetStatus(r) & adRecDeleted)) rows.push_back(r);
                break;
            default:
                AdoFail(adErrInvalidArgument, "Recordset.Delete: AffectRecords " + std::to_string(AffectRecords) +
                                                  " is not adAffectCurrent, adAffectGroup or adAffectAll");
        }
        // Rows a filter shows with their pending delete are deleted already.
        std::erase_if(rows, [&](TRowId r) { return (FStore->Store().GetStatus(r) & adRecDeleted) != 0; });
        if (rows.empty()) return;
        const int count = static_cast<int>(rows.size());
        const bool cancelled = FireWillChangeRecord(adRsnDelete, count).Cancelled;
        Surround(
            cancelled, "WillChangeRecord",
            [&] {
                FStore->Rows().Affected = rows;
                for (TRowId row : rows) DeleteRow(row);
            },
            [&](Error* e) { FireRecordChangeComplete(adRsnDelete, count, e); });
    });
}

void TRecordsetObject::UpdateBatch(AffectEnum AffectRecords) {
    Guard([&] {
        CheckOpen("Recordset.UpdateBatch");
        FinishEdit();
        if (!IsBatch() || !FStore) return;  // changes were written as they were made
        TRowStore& store = FStore->Store();
        std::vector<TRowId> rows;
        if (AffectRecords == adAffectCurrent) {
            const TRowId r = FStore->GetPlaceRow();
            if (r != NoRow && store.IsLive(r) && (store.GetStatus(r) & (adRecNew | adRecModified | adRecDeleted)))
                rows.push_back(r);
        } else {
            rows = store.GetPendingRows();
        }
        if (rows.empty()) return;
        const int count = static_cast<int>(rows.size());
        const bool cancelled = FireWillChangeRecord(adRsnUpdate, count).Cancelled;
        Surround(
            cancelled, "WillChangeRecord",
            [&] {
                if (!FFabricated && (!FWriter || !FConnection))
                    AdoFail(adErrInvalidConnection, "the recordset has no connection to send its changes through");
                if (!FFabricated) {
                    FConnection->CheckUsable("Recordset.UpdateBatch");
                    FWriter->BeginBatch();
                }
                std::vector<TFailure> failures;
                FStore->Rows().Affected = rows;
                try {
                    for (TRowId row : rows) {
                        const int status = store.GetStatus(row);
                        try {
                            if (FFabricated) {
                                store.AcceptChanges(row);
                            } else if (status & adRecDeleted) {
                                FWriter->Delete(store, row, FUpdateCriteria);
                            } else if (status & adRecNew) {
                                FWriter->Insert(store, row);
                            } else {
                                FWriter->Update(store, row, FUpdateCriteria);
                            }
                            if (!store.IsLive(row)) FStore->RowGone(row);
                        } catch (...) {
                            // The row keeps its change and the flags the failed write gave it.
                            failures.push_back(DescribeCurrentException(GetSourceName()));
                        }
                    }
                    if (!FFabricated) FWriter->EndBatch();
                } catch (...) {
                    if (!FFabricated) FWriter->AbandonBatch();
                    throw;
                }
                if (!failures.empty()) {
                    TFailure summary = failures.front();
                    summary.Description = std::to_string(failures.size()) + " of " + std::to_string(count) +
                                          " changes could not be sent; the rows that failed keep their changes and "
                                          "show why in their Status. First: " +
                                          failures.front().Description;
                    // The summary, then one item per row that failed.
                    if (TErrorsCollection* errors = GetErrorTarget()) {
                        errors->Report(summary);
                        for (const TFailure& f : failures) errors->AddWarning(f);
                    }
                    throw EAdoError(summary);
                }
            },
            [&](Error* e) { FireRecordChangeComplete(adRsnUpdate, count, e); });
    });
}

void TRecordsetObject::CancelBatch(AffectEnum AffectRecords) {
    Guard([&] {
        CheckOpen("Recordset.CancelBatch");
        if (!FStore) return;
        if (FEditMode != adEditNone) CancelUpdate();
        TRowStore& store = FStore->Store();
        std::vector<TRowId> rows;
        if (AffectRecords == adAffectCurrent) {
            const TRowId r = FStore->GetPlaceRow();
            if (r != NoRow && store.IsLive(r)) rows.push_back(r);
        } else {
            rows = store.GetPendingRows();
        }
        if (rows.empty()) return;
        const int count = static_cast<int>(rows.size());
        const bool cancelled = FireWillChangeRecord(adRsnUndoUpdate, count).Cancelled;
        Surround(
            cancelled, "WillChangeRecord",
            [&] {
                FStore->Rows().Affected = rows;
                for (TRowId row : rows) {
                    if (!store.IsLive(row)) continue;
                    const bool deleted = (store.GetStatus(row) & adRecDeleted) != 0;
                    store.RejectChanges(row);
                    if (!store.IsLive(row))
                        FStore->RowGone(row);  // a new row
                    else if (deleted)
                        FStore->RowShown(row);
                }
                Landed();
            },
            [&](Error* e) { FireRecordChangeComplete(adRsnUndoUpdate, count, e); });
    });
}

// ---- Fabricated fields --------------------------------------------------------------------------------

void TRecordsetObject::AppendFieldDef(const String& name, DataTypeEnum type, int definedSize, int attributes) {
    if (FState == adStateOpen) AdoFail(adErrIllegalOperation, "Fields.Append: the recordset is open");
    if (FConnection)
        AdoFail(adErrIllegalOperation, "Fields.Append: a recordset with an ActiveConnection takes its fields from its "
                                       "source");
    if (Rtl::Trim(name).empty()) AdoFail(adErrInvalidArgument, "Fields.Append: the field name is empty");
    if (FindColumn(name) >= 0) AdoFail(adErrObjectInCollection, "Fields.Append: there is already a field \"" + name + "\"");
    if (definedSize < 0)
        AdoFail(adErrInvalidArgument, "Fields.Append: DefinedSize " + std::to_string(definedSize) + " of field \"" + name +
                                          "\" is negative");
    try {
        StorageKindOf(type);
    } catch (const EEngineError&) {
        AdoFail(adErrFeatureNotAvailable, "Fields.Append: field \"" + name + "\" cannot have type " + DataTypeName(type) +
                                              " in this engine");
    }
    TColumnInfo c;
    c.Name = name;
    c.Type = type;
    ApplyTypeDefaults(c);
    if (definedSize > 0 && IsVariableKind(StorageKindOf(type)) && !c.HasAttribute(adFldLong)) c.DefinedSize = definedSize;
    if (type == adNumeric || type == adDecimal) c.NumericScale = 255;  // the value's own scale, until set
    // A fabricated field can always be written (as with ADO, where appending a
    // field with adFldIsNullable alone gives a field that takes values).
    c.Attributes |= adFldUpdatable;
    if (attributes != adFldUnspecified) c.Attributes |= attributes & ~(adFldFixed | adFldLong);
    if (c.HasAttribute(adFldIsNullable)) c.Attributes |= adFldMayBeNull;
    FFieldDefs.push_back(std::move(c));
}

void TRecordsetObject::DeleteFieldDef(const Variant& index) {
    if (FState == adStateOpen) AdoFail(adErrIllegalOperation, "Fields.Delete: the recordset is open");
    const int i = ResolveIndex(index, static_cast<int>(FFieldDefs.size()), [&](const String& n) { return FindColumn(n); },
                               "Fields");
    if (i < 0) AdoFail(adErrItemNotFound, "Fields has no item " + DescribeValue(index));
    FFieldDefs.erase(FFieldDefs.begin() + i);
}

TColumnInfo& TRecordsetObject::FieldDefForChange(std::size_t index, std::string_view what) {
    if (FState == adStateOpen || index >= FFieldDefs.size())
        AdoFail(adErrIllegalOperation, String(what) + " can change only on a field appended to a closed recordset");
    return FFieldDefs[index];
}

}  // namespace DataEngine::Ado
