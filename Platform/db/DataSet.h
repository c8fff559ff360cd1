// TDataSet: the framework's dataset. It keeps a ring of record buffers that a
// descendant fills record by record (GetRecord), tracks the dataset state,
// drives navigation, bookmarks, editing and posting, calculated and lookup
// fields, and tells the data sources and data links about every change.
//
// A descendant supplies the cursor: it allocates and lays out record buffers
// (AllocRecordBuffer / FreeRecordBuffer: raw memory), reads records into them
// (GetRecord), moves its cursor (InternalFirst, InternalLast,
// InternalGotoBookmark, InternalSetToRecord), stores bookmarks and bookmark
// flags inside the buffers, moves field values between the buffers and the
// fields (GetFieldData / SetFieldData, in the native formats documented in
// Fields.h) and writes changes (InternalPost, InternalAddRecord,
// InternalDelete).
//
// Record buffer layout the framework assumes: the descendant's own area, then
// a calculated-field area of CalcFieldsSize() bytes in which every
// calculated or lookup field owns a slot at its Offset(): one presence byte
// followed by DataSize() bytes of native value. Blob fields carry their blob
// number (0..BlobFieldCount()-1) in Offset(); their contents are the
// descendant's business (CreateBlobStream).
//
// Destruction: `delete dataSet` closes the dataset in BeforeDestruction, while
// the descendant is still whole. A dataset destroyed any other way (on the
// stack, say) must be closed by its descendant's destructor: C++ does not
// dispatch virtual calls from a base destructor, and ~TDataSet releases only
// what the framework itself owns.
//
// TDataSet publishes nothing itself: each descendant lists the framework
// properties it offers, with the Publish... helpers at the end of this file.
#pragma once

#include <memory>
#include <vector>

#include "Platform/db/DBTypes.h"
#include "Platform/rtl/Classes.h"
#include "Platform/vcl/Components.h"

namespace Db {

class TDataSet : public Vcl::TComponent {
    VCL_CLASS(TDataSet, Vcl::TComponent)
    friend class TField;
    friend class TFields;
    friend class TDataSource;
    friend class TDataLink;
    friend class TFieldDefs;
    friend class TFieldDef;
    friend class TBlobField;

public:
    explicit TDataSet(Vcl::TComponent* AOwner);
    ~TDataSet() override;
    void BeforeDestruction() override;
    // Form files: persistent fields owned by Root are written inside the dataset.
    void GetChildren(const Vcl::TGetChildProc& Proc, Vcl::TComponent* Root) override;

    // ---- Opening and closing --------------------------------------------------------
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    bool GetActive() const noexcept { return FState != dsInactive && FState != dsOpening; }
    virtual void SetActive(bool Value);

    // ---- State ---------------------------------------------------------------------
    TDataSetState GetState() const noexcept { return FState; }
    bool GetModified() const noexcept { return FModified; }
    bool GetFound() const noexcept { return FFound; }
    virtual bool GetCanModify() { return true; }
    void CheckActive() const;
    void CheckInactive();
    virtual void CheckBrowseMode();
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const noexcept { return FDisableCount != 0; }
    bool GetAutoCalcFields() const noexcept { return FAutoCalcFields; }
    void SetAutoCalcFields(bool Value) { FAutoCalcFields = Value; }
    bool IsUniDirectional() const noexcept { return FIsUniDirectional; }

    // ---- Navigation ------------------------------------------------------------------
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int Distance);
    bool GetBof() const noexcept { return FBOF; }
    bool GetEof() const noexcept { return FEOF; }
    bool IsEmpty() const noexcept { return FActiveRecord >= FRecordCount; }
    virtual int GetRecNo() { return -1; }
    virtual void SetRecNo(int Value) {}
    virtual int GetRecordCount() { return -1; }
    virtual bool IsSequenced() { return true; }
    void Refresh();
    virtual void Resync(TResyncMode Mode);
    // Marks the descendant's cursor as no longer standing on any buffered record.
    void CursorPosChanged() noexcept { FCurrentRecord = -1; }
    // Brings the descendant's cursor to the active record.
    void UpdateCursorPos();

    // ---- Bookmarks ---------------------------------------------------------------------
    int GetBookmarkSize() const noexcept { return FBookmarkSize; }
    bool BookmarkAvailable();
    TBookmark GetBookmark();
    void GotoBookmark(TBookmark Bookmark);
    void FreeBookmark(TBookmark Bookmark);
    TBookmarkStr GetBookmarkStr();
    // An empty string does nothing; a string of another size than
    // BookmarkSize raises EDatabaseError.
    void SetBookmarkStr(const TBookmarkStr& Value);
    virtual bool BookmarkValid(TBookmark Bookmark) { return false; }
    virtual int CompareBookmarks(TBookmark Bookmark1, TBookmark Bookmark2) { return 0; }

    // ---- Editing -----------------------------------------------------------------------
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    // Whole-record inserts written through InternalAddRecord. Values are taken
    // in field order; Unassigned leaves a field as the new-record defaults left
    // it, Null clears it.
    void InsertRecord(const std::vector<Variant>& Values);
    void AppendRecord(const std::vector<Variant>& Values);
    void SetFields(const std::vector<Variant>& Values);
    void UpdateRecord();
    void CheckRequiredFields();
    void ClearFields();

    // ---- Fields ------------------------------------------------------------------------
    TFields* GetFields() const noexcept { return FFields.get(); }
    TFieldDefs* GetFieldDefs() const noexcept { return FFieldDefs.get(); }
    void SetFieldDefs(TFieldDefs* Value);
    int GetFieldCount() const;
    TField* FieldByName(const String& FieldName) const;
    TField* FindField(const String& FieldName) const;
    TField* FieldByNumber(int FieldNo) const;
    // One name: that field's Value; several (';'-separated): an array of values.
    Variant GetFieldValues(const String& FieldNames) const;
    void SetFieldValues(const String& FieldNames, const Variant& Value);
    void GetFieldList(std::vector<TField*>& List, const String& FieldNames) const;
    void GetFieldList(Rtl::TList* List, const String& FieldNames) const;
    void GetFieldNames(Rtl::TStrings* List) const;
    bool GetDefaultFields() const noexcept { return FDefaultFields; }

    virtual bool GetFieldData(TField* Field, void* Buffer) { return false; }
    virtual bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat);
    virtual void SetFieldData(TField* Field, const void* Buffer) {}
    virtual void SetFieldData(TField* Field, const void* Buffer, bool NativeFormat);
    // Converts between the native form a descendant stores and the form the
    // fields work with (TDateTime for dates and times, Currency for BCD); the
    // other types have one form and are copied.
    virtual void DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative);
    // The caller owns the stream.
    virtual Rtl::TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode);
    virtual bool GetCurrentRecord(TRecordBuffer Buffer) { return false; }

    // ---- Searching and filtering ---------------------------------------------------------
    virtual bool Locate(const String& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
        return false;
    }
    virtual Variant Lookup(const String& KeyFields, const Variant& KeyValues, const String& ResultFields) {
        return Variant::Null();
    }
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }

    const String& GetFilter() const noexcept { return FFilterText; }
    void SetFilter(const String& Value) { SetFilterText(Value); }
    bool GetFiltered() const noexcept { return FFiltered; }
    virtual void SetFiltered(bool Value) { FFiltered = Value; }
    TFilterOptions GetFilterOptions() const noexcept { return FFilterOptions; }
    virtual void SetFilterOptions(TFilterOptions Value);

    // ---- Links -----------------------------------------------------------------------------
    // True when DataSource leads, through data sets and their data sources, back
    // to this dataset: linking it would make the dataset depend on itself.
    bool IsLinkedTo(TDataSource* DataSource) const;
    virtual TDataSource* GetDataSource() const { return nullptr; }
    // The datasets that follow this one through detail data links.
    void GetDetailDataSets(std::vector<TDataSet*>& List) const;
    // Everything a descendant or a data link may tell the data sources.
    virtual void DataEvent(TDataEvent Event, std::intptr_t Info);

    // ---- Events ------------------------------------------------------------------------------
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
    TDataSetNotifyEvent OnCalcFields, OnNewRecord;
    TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;
    TFilterRecordEvent OnFilterRecord;

    // ---- Record buffers (for descendants and data links) ---------------------------------------
    TRecordBuffer ActiveBuffer() const noexcept {
        return FActiveRecord < static_cast<int>(FBuffers.size()) ? FBuffers[FActiveRecord] : nullptr;
    }
    // The buffer whose calculated fields are being computed (state dsCalcFields).
    TRecordBuffer CalcBuffer() const noexcept { return FCalcBuffer; }
    // The spare buffer after the buffered records, free for a descendant's reads.
    TRecordBuffer TempBuffer() const noexcept {
        return FRecordCount < static_cast<int>(FBuffers.size()) ? FBuffers[FRecordCount] : nullptr;
    }
    TRecordBuffer GetBuffer(int Index) const { return FBuffers.at(Index); }
    int GetBufferCount() const noexcept { return FBufferCount; }
    int GetBufferedRecordCount() const noexcept { return FRecordCount; }
    int GetActiveRecord() const noexcept { return FActiveRecord; }
    int GetCalcFieldsSize() const noexcept { return FCalcFieldsSize; }
    int GetBlobFieldCount() const noexcept { return FBlobFieldCount; }

protected:
    // ---- The descendant's cursor -------------------------------------------------------------
    virtual TRecordBuffer AllocRecordBuffer() = 0;
    virtual void FreeRecordBuffer(TRecordBuffer& Buffer) = 0;
    virtual int GetRecordSize() { return 0; }
    virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) = 0;
    virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data) {}
    virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data) {}
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) { return bfCurrent; }
    virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {}
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual void InternalGotoBookmark(TBookmark Bookmark) = 0;
    virtual void InternalSetToRecord(TRecordBuffer Buffer) = 0;
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual bool IsCursorOpen() const = 0;
    virtual void InternalInitFieldDefs() = 0;
    virtual void InternalHandleException();
    virtual void InternalInitRecord(TRecordBuffer Buffer) = 0;
    virtual void InitRecord(TRecordBuffer Buffer);
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalCancel() {}
    virtual void InternalPost() {}
    virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) = 0;
    virtual void InternalDelete() = 0;
    virtual void InternalRefresh() {}
    virtual void ClearCalcFields(TRecordBuffer Buffer) {}
    virtual void SetFilterText(const String& Value) { FFilterText = Value; }
    virtual bool FindRecord(bool Restart, bool GoForward) { return false; }
    // Called when a blob field's buffers are released after a post or cancel.
    virtual void CloseBlob(TField* Field) {}

    // ---- Open / close sequence -----------------------------------------------------------------
    // InfoQuery: only the field definitions are wanted (FieldDefs.Update on a closed dataset).
    virtual void OpenCursor(bool InfoQuery = false);
    virtual void CloseCursor();
    // Fills FieldDefs: through InternalInitFieldDefs, opening the cursor for
    // the time it takes when the dataset is closed.
    void InitFieldDefs();
    virtual void CreateFields();
    virtual void DestroyFields();
    virtual void BindFields(bool Binding);
    virtual Rtl::TClass GetFieldClass(TFieldType FieldType) const;
    void SetBookmarkSize(int Value) noexcept { FBookmarkSize = Value; }
    void SetUniDirectional(bool Value) noexcept { FIsUniDirectional = Value; }
    void Loaded() override;

    // ---- States ----------------------------------------------------------------------------------
    void SetState(TDataSetState Value);
    // Enters a state for the time of an internal operation (calculating
    // fields, reading old values, offering a record to a filter); the data
    // sources are not told. Returns the state to hand to RestoreState.
    TDataSetState SetTempState(TDataSetState Value);
    void RestoreState(TDataSetState Value);
    void SetModified(bool Value) noexcept { FModified = Value; }
    void SetFound(bool Value) noexcept { FFound = Value; }
    virtual Variant GetStateFieldValue(TDataSetState State, TField* Field);
    virtual void SetStateFieldValue(TDataSetState State, TField* Field, const Variant& Value);
    void CheckCanModify();
    void CheckBiDirectional() const;
    // Runs Operation with the cursor on the active record; an EDatabaseError goes
    // to ErrorEvent, whose action decides: daFail re-raises, daAbort aborts
    // silently, daRetry runs the operation again.
    void CheckOperation(const std::function<void()>& Operation, const TDataSetErrorEvent& ErrorEvent);

    // ---- Calculated fields -------------------------------------------------------------------------
    // Computes the calculated and lookup fields of Buffer in state dsCalcFields.
    void GetCalcFields(TRecordBuffer Buffer);
    virtual void CalculateFields(TRecordBuffer Buffer);
    void UpdateCalcFields();
    virtual void FreeFieldBuffers();

    // ---- The buffer ring ----------------------------------------------------------------------------
    void SetBufferCount(int Value);
    void UpdateBufferCount();
    virtual bool GetNextRecord();
    virtual int GetNextRecords();
    virtual bool GetPriorRecord();
    virtual int GetPriorRecords();
    void ClearBuffers() noexcept;
    void ActivateBuffers() noexcept;
    void SetCurrentRecord(int Index);

    // ---- Event dispatchers ---------------------------------------------------------------------------
    virtual void DoBeforeOpen() { Fire(BeforeOpen); }
    virtual void DoAfterOpen() { Fire(AfterOpen); }
    virtual void DoBeforeClose() { Fire(BeforeClose); }
    virtual void DoAfterClose() { Fire(AfterClose); }
    virtual void DoBeforeInsert() { Fire(BeforeInsert); }
    virtual void DoAfterInsert() { Fire(AfterInsert); }
    virtual void DoBeforeEdit() { Fire(BeforeEdit); }
    virtual void DoAfterEdit() { Fire(AfterEdit); }
    virtual void DoBeforePost() { Fire(BeforePost); }
    virtual void DoAfterPost() { Fire(AfterPost); }
    virtual void DoBeforeCancel() { Fire(BeforeCancel); }
    virtual void DoAfterCancel() { Fire(AfterCancel); }
    virtual void DoBeforeDelete() { Fire(BeforeDelete); }
    virtual void DoAfterDelete() { Fire(AfterDelete); }
    virtual void DoBeforeScroll() { Fire(BeforeScroll); }
    virtual void DoAfterScroll() { Fire(AfterScroll); }
    virtual void DoBeforeRefresh() { Fire(BeforeRefresh); }
    virtual void DoAfterRefresh() { Fire(AfterRefresh); }
    virtual void DoOnCalcFields() { Fire(OnCalcFields); }
    virtual void DoOnNewRecord() { Fire(OnNewRecord); }

private:
    void Fire(const TDataSetNotifyEvent& Event) {
        if (Event) Event(this);
    }
    void SetBufListSize(int Value);
    void MoveBuffer(int CurIndex, int NewIndex);
    void AdjustFirstRecord(int Delta);
    void BeginInsertAppend();
    void EndInsertAppend();
    void PlaceNewRecord(bool Append);
    void AddRecord(const std::vector<Variant>& Values, bool Append);
    void OpenCursorComplete();
    void AddDataSource(TDataSource* DataSource);
    void RemoveDataSource(TDataSource* DataSource);
    void CheckFieldName(const String& FieldName) const;
    void CheckFieldCompatibility(TField* Field, TFieldDef* FieldDef) const;

    std::unique_ptr<TFields> FFields;
    std::unique_ptr<TFieldDefs> FFieldDefs;
    std::vector<TDataSource*> FDataSources;
    std::vector<TRecordBuffer> FBuffers;  // FBufferCount records and one spare
    TRecordBuffer FCalcBuffer = nullptr;
    int FBufferCount = 0;
    int FRecordCount = 0;
    int FActiveRecord = 0;
    int FCurrentRecord = -1;
    int FBookmarkSize = 0;
    int FCalcFieldsSize = 0;
    int FBlobFieldCount = 0;
    int FDisableCount = 0;
    TDataSetState FState = dsInactive;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;
    String FFilterText;
    TFilterOptions FFilterOptions;
    bool FFiltered = false;
    bool FBOF = true;
    bool FEOF = true;
    bool FModified = false;
    bool FFound = false;
    bool FStreamedActive = false;
    bool FAutoCalcFields = true;
    bool FDefaultFields = false;
    bool FInternalCalcFields = false;
    bool FInternalOpenComplete = false;
    bool FIsUniDirectional = false;
};

// ---- Publishing -------------------------------------------------------------------------------
// For a descendant's published-property body (VCL_COMPONENT_IMPL): the
// framework properties a dataset usually offers, in three groups.

template <class P>
void PublishDataSetProperties(P& Publisher) {
    Publisher.Prop("Active", &TDataSet::GetActive, &TDataSet::SetActive).Default(false);
    Publisher.Prop("AutoCalcFields", &TDataSet::GetAutoCalcFields, &TDataSet::SetAutoCalcFields).Default(true);
    Publisher.Prop("Filter", &TDataSet::GetFilter, &TDataSet::SetFilter);
    Publisher.Prop("Filtered", &TDataSet::GetFiltered, &TDataSet::SetFiltered).Default(false);
}

// BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeScroll, AfterScroll, OnCalcFields.
template <class P>
void PublishDataSetBrowseEvents(P& Publisher) {
    Publisher.Event("BeforeOpen", &TDataSet::BeforeOpen, &TDataSet::BeforeOpen, "TDataSetNotifyEvent");
    Publisher.Event("AfterOpen", &TDataSet::AfterOpen, &TDataSet::AfterOpen, "TDataSetNotifyEvent");
    Publisher.Event("BeforeClose", &TDataSet::BeforeClose, &TDataSet::BeforeClose, "TDataSetNotifyEvent");
    Publisher.Event("AfterClose", &TDataSet::AfterClose, &TDataSet::AfterClose, "TDataSetNotifyEvent");
    Publisher.Event("BeforeScroll", &TDataSet::BeforeScroll, &TDataSet::BeforeScroll, "TDataSetNotifyEvent");
    Publisher.Event("AfterScroll", &TDataSet::AfterScroll, &TDataSet::AfterScroll, "TDataSetNotifyEvent");
    Publisher.Event("OnCalcFields", &TDataSet::OnCalcFields, &TDataSet::OnCalcFields, "TDataSetNotifyEvent");
}

// The editing events: Before/After Insert, Edit, Post, Cancel, Delete,
// OnNewRecord and the three error events.
template <class P>
void PublishDataSetEditEvents(P& Publisher) {
    Publisher.Event("BeforeInsert", &TDataSet::BeforeInsert, &TDataSet::BeforeInsert, "TDataSetNotifyEvent");
    Publisher.Event("AfterInsert", &TDataSet::AfterInsert, &TDataSet::AfterInsert, "TDataSetNotifyEvent");
    Publisher.Event("BeforeEdit", &TDataSet::BeforeEdit, &TDataSet::BeforeEdit, "TDataSetNotifyEvent");
    Publisher.Event("AfterEdit", &TDataSet::AfterEdit, &TDataSet::AfterEdit, "TDataSetNotifyEvent");
    Publisher.Event("BeforePost", &TDataSet::BeforePost, &TDataSet::BeforePost, "TDataSetNotifyEvent");
    Publisher.Event("AfterPost", &TDataSet::AfterPost, &TDataSet::AfterPost, "TDataSetNotifyEvent");
    Publisher.Event("BeforeCancel", &TDataSet::BeforeCancel, &TDataSet::BeforeCancel, "TDataSetNotifyEvent");
    Publisher.Event("AfterCancel", &TDataSet::AfterCancel, &TDataSet::AfterCancel, "TDataSetNotifyEvent");
    Publisher.Event("BeforeDelete", &TDataSet::BeforeDelete, &TDataSet::BeforeDelete, "TDataSetNotifyEvent");
    Publisher.Event("AfterDelete", &TDataSet::AfterDelete, &TDataSet::AfterDelete, "TDataSetNotifyEvent");
    Publisher.Event("OnNewRecord", &TDataSet::OnNewRecord, &TDataSet::OnNewRecord, "TDataSetNotifyEvent");
    Publisher.Event("OnPostError", &TDataSet::OnPostError, &TDataSet::OnPostError, "TDataSetErrorEvent");
    Publisher.Event("OnEditError", &TDataSet::OnEditError, &TDataSet::OnEditError, "TDataSetErrorEvent");
    Publisher.Event("OnDeleteError", &TDataSet::OnDeleteError, &TDataSet::OnDeleteError, "TDataSetErrorEvent");
}

}  // namespace Db
