// TDataSet: editing, inserting, posting, cancelling and deleting.

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"
#include "Platform/db/Field.h"

namespace Db {

void TDataSet::CheckCanModify() {
    if (!GetCanModify()) DatabaseError(SDataSetReadOnly, this);
}

void TDataSet::CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& ErrorEvent) {
    for (;;) {
        try {
            UpdateCursorPos();
            Operation();
            return;
        } catch (EDatabaseError& e) {
            TDataAction action = daFail;
            if (ErrorEvent) ErrorEvent(this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) Rtl::Abort();
            // daRetry: run the operation again.
        }
    }
}

void TDataSet::Edit() {
    if (FState == dsEdit || FState == dsInsert) return;
    if (FRecordCount == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation([this] { InternalEdit(); }, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync({});
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

// Puts a fresh record into the ring: before the active record (insert) or
// after the last record (append). Its bookmark says where the cursor must go
// when the record is posted or cancelled.
void TDataSet::PlaceNewRecord(bool Append) {
    if (Append) {
        ClearBuffers();
        TRecordBuffer buffer = FBuffers[0];
        InitRecord(buffer);
        SetBookmarkFlag(buffer, bfEOF);
        FRecordCount = 1;
        FBOF = false;
        GetPriorRecords();
    } else {
        TBookmarkStr oldCurrent = GetBookmarkStr();
        MoveBuffer(FRecordCount, FActiveRecord);
        TRecordBuffer buffer = ActiveBuffer();
        InitRecord(buffer);
        if (FRecordCount == 0)
            SetBookmarkFlag(buffer, bfBOF);
        else if (!oldCurrent.empty())
            SetBookmarkData(buffer, oldCurrent.data());
        if (FRecordCount < FBufferCount) ++FRecordCount;
    }
    InternalInsert();
}

void TDataSet::Insert() {
    BeginInsertAppend();
    PlaceNewRecord(false);
    EndInsertAppend();
}

void TDataSet::Append() {
    BeginInsertAppend();
    PlaceNewRecord(true);
    EndInsertAppend();
}

void TDataSet::UpdateRecord() {
    if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckRequiredFields() {
    for (TField* field : *FFields) {
        if (field->GetRequired() && !field->GetReadOnly() && field->GetFieldKind() == fkData &&
            field->GetIsNull()) {
            field->FocusControl();
            DatabaseErrorFmt(SFieldRequired, {field->GetDisplayName()});
        }
    }
}

void TDataSet::Post() {
    UpdateRecord();
    if (FState != dsEdit && FState != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    DoBeforePost();
    CheckRequiredFields();
    CheckOperation([this] { InternalPost(); }, OnPostError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterPost();
}

void TDataSet::Cancel() {
    if (FState != dsEdit && FState != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeCancel();
    bool scrollEvents = FState == dsInsert;
    if (scrollEvents) DoBeforeScroll();
    UpdateCursorPos();
    InternalCancel();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterCancel();
    if (scrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
    CheckActive();
    if (FState == dsInsert || FState == dsSetKey) {
        Cancel();
        return;
    }
    if (FRecordCount == 0) DatabaseError(SDataSetEmpty, this);
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation([this] { InternalDelete(); }, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterDelete();
    DoAfterScroll();
}

void TDataSet::SetFields(const std::vector<Variant>& Values) {
    if (FState != dsEdit && FState != dsInsert) DatabaseError(SNotEditing, this);
    if (static_cast<int>(Values.size()) > FFields->Count())
        DatabaseErrorFmt(SFieldCountMismatch, {static_cast<int>(Values.size()), FFields->Count()}, this);
    for (std::size_t i = 0; i < Values.size(); ++i) {
        const Variant& value = Values[i];
        if (value.IsEmpty()) continue;
        TField* field = FFields->GetField(static_cast<int>(i));
        if (field->GetFieldKind() != fkData && field->GetFieldKind() != fkInternalCalc) continue;
        field->AssignValue(value);
    }
}

// Inserts or appends a whole record in one step: the new record gets its
// defaults, takes Values, and goes to the descendant's InternalAddRecord. A
// failure leaves the dataset in insert mode with the values in place, as a
// failing Post does.
void TDataSet::AddRecord(const std::vector<Variant>& Values, bool Append) {
    if (static_cast<int>(Values.size()) > FFields->Count())
        DatabaseErrorFmt(SFieldCountMismatch, {static_cast<int>(Values.size()), FFields->Count()}, this);
    BeginInsertAppend();
    PlaceNewRecord(Append);
    EndInsertAppend();
    SetFields(Values);
    UpdateRecord();
    DataEvent(deCheckBrowseMode, 0);
    DoBeforePost();
    CheckRequiredFields();
    CheckOperation([this, Append] { InternalAddRecord(ActiveBuffer(), Append); }, OnPostError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterPost();
}

void TDataSet::InsertRecord(const std::vector<Variant>& Values) { AddRecord(Values, false); }

void TDataSet::AppendRecord(const std::vector<Variant>& Values) { AddRecord(Values, true); }

void TDataSet::ClearFields() {
    if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
    DataEvent(deCheckBrowseMode, 0);
    for (TField* field : *FFields)
        if (field->GetFieldKind() == fkData && !field->GetReadOnly()) field->Clear();
    DataEvent(deRecordChange, 0);
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
    InternalInitRecord(Buffer);
    ClearCalcFields(Buffer);
    SetBookmarkFlag(Buffer, bfInserted);
}

void TDataSet::FreeFieldBuffers() {
    for (TField* field : *FFields) field->FreeBuffers();
}

}  // namespace Db
