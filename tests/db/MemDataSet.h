// Test fixture: an in-memory dataset built the way a real descendant is built.
//
// TMemTable is the "server": columns and rows of variants, shared by any
// number of TMemDataSet cursors. TMemDataSet overrides the TDataSet
// operations a database-backed dataset overrides, and keeps its record
// buffers as raw memory laid out like one: a slot per column (a presence byte
// and the native value), the framework's calculated-field area, a blob cache
// of owned byte strings, and a trailer with bookmark, bookmark flag and
// record number. Values are converted between the row variants and the
// native slot formats on every read and write.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Platform/db/DB.h"

namespace DbTest {

using Db::TDataSetState;
using Db::TFieldType;
using Rtl::Int64;
using Rtl::String;
using Rtl::Variant;

struct TMemColumn {
    String Name;
    TFieldType DataType = Db::ftUnknown;
    int Size = 0;
    bool Required = false;
    bool ReadOnly = false;
    int Precision = 0;
};

struct TMemRow {
    Int64 Id = 0;
    std::vector<Variant> Values;
};

class TMemTable {
public:
    std::vector<TMemColumn> Columns;
    std::vector<TMemRow> Rows;
    // Rejects a row about to be stored (a constraint of the "server"): raise
    // EDatabaseError to refuse it. Index is the row's position, -1 for a new row.
    std::function<void(const std::vector<Variant>& Values, int Index)> Check;
    // Counts of the writes that reached the table.
    int Inserts = 0, Updates = 0, Deletes = 0;

    void AddColumn(const String& Name, TFieldType DataType, int Size = 0, bool Required = false);
    int ColumnIndex(const String& Name) const;
    // Appends a row directly (values in column order; missing ones are Null).
    Int64 AddRow(std::vector<Variant> Values);
    int IndexOfId(Int64 Id) const;
    Int64 NewId() { return ++FLastId; }
    // Makes a table known by name, for datasets read from form files (TableName).
    static void Register(const String& Name, std::shared_ptr<TMemTable> Table);

private:
    Int64 FLastId = 0;
};

class TMemBlobStream;
class TMemDataSet;

// The link through which a dataset follows its master (it only counts what
// it hears: enough to see the detail-link machinery work).
class TMemMasterLink : public Db::TDetailDataLink {
public:
    explicit TMemMasterLink(TMemDataSet* Detail) : FDetail(Detail) {}
    Db::TDataSet* GetDetailDataSet() override;
    int MasterMoves = 0;

protected:
    void RecordChanged(Db::TField* Field) override {
        if (!Field) ++MasterMoves;
    }

private:
    TMemDataSet* FDetail;
};

class TMemDataSet : public Db::TDataSet {
    VCL_CLASS(TMemDataSet, Db::TDataSet)
    friend class TMemBlobStream;
public:
    explicit TMemDataSet(Vcl::TComponent* AOwner, std::shared_ptr<TMemTable> Table = nullptr);
    ~TMemDataSet() override;

    TMemTable& Table() const { return *FTable; }
    void SetTable(std::shared_ptr<TMemTable> Table);
    bool GetReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    // A master to follow; EDatabaseError "Circular datalinks are not allowed"
    // when the master depends on this dataset.
    Db::TDataSource* GetMasterSource() const { return FMasterLink->GetDataSource(); }
    void SetMasterSource(Db::TDataSource* Value);
    TMemMasterLink* MasterLink() const { return FMasterLink.get(); }
    Db::TDataSource* GetDataSource() const override { return GetMasterSource(); }
    const String& GetTableName() const noexcept { return FTableName; }
    // Uses the table registered under Value, if there is one.
    void SetTableName(const String& Value);
    // Exceptions that InternalHandleException received (their messages).
    std::vector<String> HandledErrors;

    bool GetCanModify() override { return !FReadOnly; }
    int GetRecordCount() override;
    int GetRecNo() override;
    void SetRecNo(int Value) override;
    bool BookmarkValid(Db::TBookmark Bookmark) override;
    int CompareBookmarks(Db::TBookmark Bookmark1, Db::TBookmark Bookmark2) override;
    bool GetFieldData(Db::TField* Field, void* Buffer) override;
    using Db::TDataSet::GetFieldData;
    void SetFieldData(Db::TField* Field, const void* Buffer) override;
    using Db::TDataSet::SetFieldData;
    Rtl::TStream* CreateBlobStream(Db::TField* Field, Db::TBlobStreamMode Mode) override;
    bool GetCurrentRecord(Db::TRecordBuffer Buffer) override;
    bool Locate(const String& KeyFields, const Variant& KeyValues, Db::TLocateOptions Options) override;
    Variant Lookup(const String& KeyFields, const Variant& KeyValues, const String& ResultFields) override;
    void SetFiltered(bool Value) override;
    void SetFilterOptions(Db::TFilterOptions Value) override;

protected:
    Db::TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(Db::TRecordBuffer& Buffer) override;
    int GetRecordSize() override { return FDataSize; }
    Db::TGetResult GetRecord(Db::TRecordBuffer Buffer, Db::TGetMode GetMode, bool DoCheck) override;
    void GetBookmarkData(Db::TRecordBuffer Buffer, void* Data) override;
    void SetBookmarkData(Db::TRecordBuffer Buffer, const void* Data) override;
    Db::TBookmarkFlag GetBookmarkFlag(Db::TRecordBuffer Buffer) override;
    void SetBookmarkFlag(Db::TRecordBuffer Buffer, Db::TBookmarkFlag Value) override;
    void InternalFirst() override;
    void InternalLast() override;
    void InternalGotoBookmark(Db::TBookmark Bookmark) override;
    void InternalSetToRecord(Db::TRecordBuffer Buffer) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() const override { return FCursorOpen; }
    void InternalInitFieldDefs() override;
    void InternalHandleException() override;
    void InternalInitRecord(Db::TRecordBuffer Buffer) override;
    void InitRecord(Db::TRecordBuffer Buffer) override;
    void DoOnNewRecord() override;
    void InternalEdit() override;
    void InternalCancel() override { FEditOriginal.clear(); }
    void InternalPost() override;
    void InternalAddRecord(Db::TRecordBuffer Buffer, bool Append) override;
    void InternalDelete() override;
    void InternalRefresh() override;
    void ClearCalcFields(Db::TRecordBuffer Buffer) override;
    void SetFilterText(const String& Value) override;

private:
    struct Slot {
        int Offset = 0;  // presence byte; the value starts 8 bytes later
        int Column = 0;
        TFieldType DataType = Db::ftUnknown;
        int DataSize = 0;
        int Blob = -1;  // blob cache index for blob columns
    };
    Db::TGetResult InternalGetRecord(Db::TRecordBuffer Buffer, Db::TGetMode GetMode);
    bool GetActiveRecBuf(Db::TRecordBuffer& Buffer);
    const Slot* SlotOf(const Db::TField* Field) const;
    void ReadRow(const std::vector<Variant>& Values, Db::TRecordBuffer Buffer);
    std::vector<Variant> WriteRow(Db::TRecordBuffer Buffer, const std::vector<Variant>& Base);
    void ClearSlots(Db::TRecordBuffer Buffer);
    String*& BlobRef(Db::TRecordBuffer Buffer, int Index) const;
    Int64& BookmarkOf(Db::TRecordBuffer Buffer) const;
    Rtl::Byte& FlagOf(Db::TRecordBuffer Buffer) const;
    int& RecNoOf(Db::TRecordBuffer Buffer) const;
    void InsertRow(Db::TRecordBuffer Buffer);
    bool LocateRecord(const String& KeyFields, const Variant& KeyValues, Db::TLocateOptions Options,
                      bool SyncCursor);
    int RowCount() const { return static_cast<int>(FTable->Rows.size()); }

    std::shared_ptr<TMemTable> FTable;
    std::unique_ptr<TMemMasterLink> FMasterLink;
    String FTableName;
    std::vector<Slot> FSlots;  // by field definition
    std::vector<Variant> FEditOriginal;
    Db::TRecordBuffer FFilterBuffer = nullptr;
    Db::TRecordBuffer FOldBuffer = nullptr;
    Db::TRecordBuffer FCurBuffer = nullptr;
    int FCursor = -1;  // -1 before the first row, RowCount() after the last
    int FDataSize = 0;
    int FBlobCount = 0;
    int FBlobOffset = 0;
    int FTrailerOffset = 0;
    int FRecBufSize = 0;
    bool FCursorOpen = false;
    bool FReadOnly = false;
};

// A data link that writes down everything it is told, and can read the
// records of its window the way a grid does.
class TRecordingLink : public Db::TDataLink {
public:
    explicit TRecordingLink(std::vector<String>* Log = nullptr) : FLog(Log ? Log : &OwnLog) {}
    std::vector<String> OwnLog;
    // The display texts of FieldName for every record of the window, the
    // active one marked with '>'.
    std::vector<String> Window(const String& FieldName);
    void Clear() { FLog->clear(); }
    const std::vector<String>& Log() const { return *FLog; }
    String Joined() const;
    // Data pushed into the record by UpdateData (a control holding an edit).
    std::function<void()> OnUpdateData;

protected:
    void ActiveChanged() override;
    void CheckBrowseMode() override { Add("CheckBrowseMode"); }
    void DataSetChanged() override { Add("DataSetChanged"); }
    void DataSetScrolled(int Distance) override;
    void EditingChanged() override;
    void FocusControl(Db::TField** Field) override;
    void LayoutChanged() override { Add("LayoutChanged"); }
    void RecordChanged(Db::TField* Field) override;
    void UpdateData() override;

private:
    void Add(const String& s) { FLog->push_back(s); }
    std::vector<String>* FLog;
};

// Hooks every Before/After event and OnNewRecord of a dataset into Log.
void RecordDataSetEvents(Db::TDataSet* DataSet, std::vector<String>* Log);

}  // namespace DbTest
