// The Recordset object ("ADODB.Recordset") with its Fields and Field objects.
//
// Cursors by where they live and what was asked for:
//
// | CursorLocation | CursorType asked        | cursor given                                   | CursorType read back |
// |----------------|-------------------------|------------------------------------------------|----------------------|
// | adUseClient    | any                     | static, the whole result in a row store        | adOpenStatic         |
// | adUseServer    | adOpenForwardOnly (or unspecified) | streaming from the statement, read-only | adOpenForwardOnly |
// | adUseServer    | adOpenStatic            | static row store, read-only                    | adOpenStatic         |
// | adUseServer    | adOpenKeyset, adOpenDynamic | keyset: membership fixed at open, each row read again from its table when the cursor reaches it | adOpenKeyset (adOpenStatic when the result has no complete key) |
//
// LockType reads back what the cursor really gives: forward-only and static
// server cursors are read-only; adLockPessimistic becomes adLockOptimistic
// (rows are never held locked). A request the cursor cannot meet adds a
// warning to the connection's Errors and raises InfoMessage.
//
// Changes go to the database as ADO's client cursor engine sends them: with
// adLockOptimistic (and adLockPessimistic) at Update, with
// adLockBatchOptimistic at UpdateBatch, through TRowWriter (optimistic
// concurrency by the "Update Criteria" property, adCriteriaUpdCols by
// default). A recordset fabricated with Fields.Append keeps its changes to
// itself.
#pragma once

#include <utility>

#include "Platform/data-engine/objects/Connection.h"
#include "Platform/data-engine/objects/Cursors.h"
#include "Platform/data-engine/objects/RowWriter.h"

namespace DataEngine::Ado {

class TRecordsetObject;
class TCommandObject;
class TStreamObject;

enum TRecordsetEvent : int {
    reWillChangeField,
    reFieldChangeComplete,
    reWillChangeRecord,
    reRecordChangeComplete,
    reWillChangeRecordset,
    reRecordsetChangeComplete,
    reWillMove,
    reMoveComplete,
    reEndOfRecordset,
    reFetchProgress,
    reFetchComplete,
};

class TFieldObject : public Com::TDispatchImpl<TFieldObject, Com::TImplements<Com::TContainedObject, Field>> {
public:
    TFieldObject(Rtl::IUnknown* controller, TRecordsetObject* owner, std::size_t index);
    ~TFieldObject() override;

    ComPtr<Properties> GetProperties() override;
    int GetActualSize() override;
    int GetAttributes() override;
    int GetDefinedSize() override;
    WideString GetName() override;
    DataTypeEnum GetType() override;
    Variant GetValue() override;
    void SetValue(const Variant& Value) override;
    Byte GetPrecision() override;
    Byte GetNumericScale() override;
    void AppendChunk(const Variant& Data) override;
    Variant GetChunk(int Length) override;
    Variant GetOriginalValue() override;
    Variant GetUnderlyingValue() override;
    ComPtr<Rtl::IUnknown> GetDataFormat() override;
    void SetDataFormatRef(Rtl::IUnknown* Value) override;
    void SetPrecision(Byte Value) override;
    void SetNumericScale(Byte Value) override;
    void SetType(DataTypeEnum Value) override;
    void SetDefinedSize(int Value) override;
    void SetAttributes(int Value) override;
    int GetStatus() override;

    std::size_t GetIndex() const noexcept { return FIndex; }

    static const Com::TDispatchTable<TFieldObject>& GetDispatchTable();

private:
    TRecordsetObject* FOwner;
    std::size_t FIndex;
    std::unique_ptr<TPropertiesCollection> FProperties;
};

class TFieldsCollection : public Com::TDispatchImpl<TFieldsCollection, Com::TImplements<Com::TContainedObject, Fields>> {
public:
    TFieldsCollection(Rtl::IUnknown* controller, TRecordsetObject* owner);
    ~TFieldsCollection() override;

    int GetCount() override;
    ComPtr<Rtl::IUnknown> _NewEnum() override;
    void Refresh() override;
    ComPtr<Field> GetItem(const Variant& Index) override;
    void _Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib) override;
    void Delete(const Variant& Index) override;
    void Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                const Variant& FieldValue) override;
    void Update() override;
    void Resync(ResyncEnum ResyncValues) override;
    void CancelUpdate() override;

    // The field object for a column (created on first use, then kept).
    TFieldObject* FieldAt(std::size_t index);

    static const Com::TDispatchTable<TFieldsCollection>& GetDispatchTable();

private:
    Rtl::IUnknown* FController;
    TRecordsetObject* FOwner;
    std::vector<std::unique_ptr<TFieldObject>> FFields;
};

class TRecordsetObject
    : public Com::TDispatchImpl<TRecordsetObject,
                                Com::TImplements<Com::TInterfacedObject, _Recordset, Com::IConnectionPointContainer>>,
      public TFailureReporter {
public:
    TRecordsetObject();
    ~TRecordsetObject() override;

    // ---- _Recordset ----------------------------------------------------------------
    ComPtr<Properties> GetProperties() override;
    int GetAbsolutePosition() override;
    void SetAbsolutePosition(int Value) override;
    void SetActiveConnectionRef(Com::IDispatch* Value) override;
    void SetActiveConnection(const Variant& Value) override;
    Variant GetActiveConnection() override;
    bool GetBOF() override;
    Variant GetBookmark() override;
    void SetBookmark(const Variant& Value) override;
    int GetCacheSize() override;
    void SetCacheSize(int Value) override;
    CursorTypeEnum GetCursorType() override;
    void SetCursorType(CursorTypeEnum Value) override;
    bool GetEOF() override;
    ComPtr<Velora::Fields> GetFields() override;
    LockTypeEnum GetLockType() override;
    void SetLockType(LockTypeEnum Value) override;
    int GetMaxRecords() override;
    void SetMaxRecords(int Value) override;
    int GetRecordCount() override;
    void SetSourceRef(Com::IDispatch* Value) override;
    void SetSource(const WideString& Value) override;
    Variant GetSource() override;
    void AddNew(const Variant& FieldList, const Variant& Values) override;
    void CancelUpdate() override;
    void Close() override;
    void Delete(AffectEnum AffectRecords) override;
    Variant GetRows(int Rows, const Variant& Start, const Variant& Fields) override;
    void Move(int NumRecords, const Variant& Start) override;
    void MoveNext() override;
    void MovePrevious() override;
    void MoveFirst() override;
    void MoveLast() override;
    void Open(const Variant& Source, const Variant& ActiveConnection, CursorTypeEnum CursorType,
              LockTypeEnum LockType, int Options) override;
    void Requery(int Options) override;
    void _xResync(AffectEnum AffectRecords) override;
    void Update(const Variant& Fields, const Variant& Values) override;
    int GetAbsolutePage() override;
    void SetAbsolutePage(int Value) override;
    EditModeEnum GetEditMode() override;
    Variant GetFilter() override;
    void SetFilter(const Variant& Criteria) override;
    int GetPageCount() override;
    int GetPageSize() override;
    void SetPageSize(int Value) override;
    WideString GetSort() override;
    void SetSort(const WideString& Criteria) override;
    int GetStatus() override;
    int GetState() override;
    ComPtr<_Recordset> _xClone() override;
    void UpdateBatch(AffectEnum AffectRecords) override;
    void CancelBatch(AffectEnum AffectRecords) override;
    CursorLocationEnum GetCursorLocation() override;
    void SetCursorLocation(CursorLocationEnum Value) override;
    ComPtr<_Recordset> NextRecordset(Variant* RecordsAffected) override;
    bool Supports(CursorOptionEnum CursorOptions) override;
    Variant GetCollect(const Variant& Index) override;
    void SetCollect(const Variant& Index, const Variant& Value) override;
    MarshalOptionsEnum GetMarshalOptions() override;
    void SetMarshalOptions(MarshalOptionsEnum Value) override;
    void Find(const WideString& Criteria, int SkipRecords, SearchDirectionEnum SearchDirection,
              const Variant& Start) override;
    void Cancel() override;
    ComPtr<Rtl::IUnknown> GetDataSource() override;
    void SetDataSourceRef(Rtl::IUnknown* Value) override;
    void _xSave(const WideString& FileName, PersistFormatEnum PersistFormat) override;
    ComPtr<Com::IDispatch> GetActiveCommand() override;
    void SetStayInSync(bool Value) override;
    bool GetStayInSync() override;
    WideString GetString(StringFormatEnum StringFormat, int NumRows, const WideString& ColumnDelimeter,
                         const WideString& RowDelimeter, const WideString& NullExpr) override;
    WideString GetDataMember() override;
    void SetDataMember(const WideString& Value) override;
    CompareEnum CompareBookmarks(const Variant& Bookmark1, const Variant& Bookmark2) override;
    ComPtr<_Recordset> Clone(LockTypeEnum LockType) override;
    void Resync(AffectEnum AffectRecords, ResyncEnum ResyncValues) override;
    void Seek(const Variant& KeyValues, SeekEnum SeekOption) override;
    void SetIndex(const WideString& Value) override;
    WideString GetIndex() override;
    void Save(const Variant& Destination, PersistFormatEnum PersistFormat) override;

    // ---- IConnectionPointContainer ----------------------------------------------------
    Com::HRESULT EnumConnectionPoints(std::vector<ComPtr<Com::IConnectionPoint>>& points) override;
    Com::HRESULT FindConnectionPoint(const Com::IID& iid, Com::IConnectionPoint** point) override;

    // ---- TFailureReporter ---------------------------------------------------------------
    TErrorsCollection* GetErrorTarget() override { return FConnection ? FConnection->GetErrorTarget() : nullptr; }
    const char* GetSourceName() const override { return "ADODB.Recordset"; }

    static const Com::TDispatchTable<TRecordsetObject>& GetDispatchTable();

    // ---- Engine side ----------------------------------------------------------------------
    // Opens over a result that has already run (Connection.Execute, Command.Execute).
    void OpenOnResult(ComPtr<TConnectionObject> connection, TExecResult& run, CursorLocationEnum location,
                      TCommandObject* command);
    // Opens over a result built in memory (schema rowsets): static, read-only.
    void OpenOnMemory(ComPtr<TConnectionObject> connection, TResultStream& result, const String& source);
    // The connection closes: so does the recordset.
    void ConnectionClosing() noexcept;
    bool IsOpen() const noexcept { return FState == adStateOpen; }
    // An asynchronous execution on the connection opens this recordset
    // (null once it has ended or was abandoned); see RecordsetAsync.cpp.
    void SetOpeningOn(TConnectionObject* connection) noexcept { FOpeningOn = connection; }
    // An asynchronous fetch is running or its end is not delivered yet (a
    // finished one is delivered when asked on the owner's thread).
    bool IsFetching();
    // For an asynchronous execution that opens this recordset with
    // asynchronous fetching: the work that reads the initial rows on the
    // execution's worker (empty otherwise); taken once.
    std::function<void(TExecResult&)> TakeWorkerPrefetch() { return std::exchange(FWorkerPrefetch, nullptr); }

    // Used by Fields and Field.
    std::size_t ColumnCount() const;
    const TColumnInfo& ColumnAt(std::size_t index) const;
    int FindColumn(const String& name) const;
    Variant FieldValue(std::size_t column, TValueVersion version);
    void SetFieldValue(std::size_t column, const Variant& value);
    int FieldActualSize(std::size_t column);
    Variant FieldChunk(std::size_t column, int length);
    void FieldAppendChunk(std::size_t column, const Variant& data);
    int FieldStatus(std::size_t column);
    std::vector<TPropertyInfo> FieldProperties(std::size_t column);
    void SetFieldProperty(std::size_t column, const String& name, const Variant& value);
    // Fabricated field definitions (a closed recordset).
    void AppendFieldDef(const String& name, DataTypeEnum type, int definedSize, int attributes);
    void DeleteFieldDef(const Variant& index);
    TColumnInfo& FieldDefForChange(std::size_t index, std::string_view what);
    TFieldsCollection& FieldsCollection() { return *FFields; }

private:
    friend class TFieldObject;
    friend class TFieldsCollection;

    // Opening and closing (Recordset.cpp).
    void OpenFabricated(LockTypeEnum lockType);
    void Build(ComPtr<TConnectionObject> connection, TExecResult& run, CursorLocationEnum location,
               CursorTypeEnum cursorType, LockTypeEnum lockType);
    void AfterOpen();
    void ResetOpenState() noexcept;
    void CheckOpen(std::string_view operation) const;
    void CheckClosed(std::string_view operation) const;
    void SetConnection(ComPtr<TConnectionObject> connection);
    ComPtr<_Recordset> Self() { return ComPtr<_Recordset>(static_cast<_Recordset*>(this)); }
    std::vector<TPropertyInfo> ListProperties();
    void SetProperty(const String& name, const Variant& value);

    // Navigation (RecordsetNav.cpp).
    template <class Op>
    void Moving(EventReasonEnum reason, Op&& op);
    void StepNext(bool fireEnd);
    void Landed();  // after a move: keyset refresh, chunk state
    Int64 BookmarkRow(const Variant& bookmark, std::string_view what) const;
    Variant BookmarkOf(TRowId row) const;
    void CheckScrollable(std::string_view operation) const;
    void CheckCurrentRow(std::string_view operation) const;
    // On a row whose values can be read (not BOF, EOF, deleted, or gone from the database).
    bool OnReadableRow() const;
    bool IsStream() const noexcept { return FStream != nullptr; }
    TRowId CurrentRow() const;
    bool HasCurrentRow() const;

    // Cursor services and persistence (RecordsetCursor.cpp).
    void OpenFromFile(const String& path, LockTypeEnum lockType);
    void OpenFromStream(TStreamObject& stream, LockTypeEnum lockType);
    void OpenFromStore(std::unique_ptr<TRowStore> store, const String& path, LockTypeEnum lockType);
    TFilter BuildFilter(const Variant& criteria) const;
    // The index Recordset.Index names (client, Optimize or provider index); null when none is set.
    const TIndex* CurrentIndex() const;
    void LoadProviderIndexes();
    std::unique_ptr<TRowStore> RowsToSave() const;
    // After a requery: the criteria filter and sort of before, when they still fit.
    void RestoreView(const Variant& filter, const String& sort) noexcept;

    // Asynchronous opening (RecordsetAsync.cpp).
    // finished (optional) runs on the owner's thread when the execution has
    // ended: after ExecuteComplete, with the failure if there was one.
    void OpenAsync(const ComPtr<TConnectionObject>& connection, const ComPtr<TCommandObject>& command,
                   const String& text, CursorLocationEnum location, int options,
                   std::function<void(Error*)> finished = nullptr);
    // Requery with adAsyncExecute: the rows go, the text runs again on the
    // worker, and RecordsetChangeComplete comes when the recordset has opened.
    void RequeryAsync(int options, bool cancelled);

    // Asynchronous fetching (RecordsetAsync.cpp): after the initial rows, a
    // worker reads the rest of the result in batches; the owner's thread
    // appends them when it processes messages (or waits for rows).
    struct TFetchQueue;
    static bool AsksAsyncFetch(int options, CursorLocationEnum location) noexcept;
    // Loads the initial rows into rows (or takes those read on an execution's
    // worker); answers whether the result has more.
    bool LoadInitialRows(TExecResult& run, TRowStore& rows);
    void StartFetch(const std::shared_ptr<TStatement>& statement, TResultStream& result, bool blocking);
    void DrainFetched();
    void FetchEnded(std::exception_ptr failure, bool cancelled, const std::shared_ptr<TStatement>& statement);
    // Stops a running fetch: with deliver, FetchComplete reports the cancel;
    // without, the worker is joined and nothing is raised.
    void StopFetch(bool deliver) noexcept;
    // With adAsyncFetch (blocking): processes messages until the cursor shows
    // count rows or the fetch has ended; does nothing otherwise.
    void AwaitRows(Int64 count);
    void AwaitFetchEnd() { AwaitRows(INT64_MAX); }
    void FireFetchProgress(int progress, int maxProgress);
    void FireFetchComplete(Error* error);

    // Editing (RecordsetEdit.cpp).
    void CheckUpdatable(std::string_view operation) const;
    void BeginEdit(std::size_t column);
    void FinishEdit();
    void WriteRow(TRowId row, bool isNew);
    void DeleteRow(TRowId row);
    void ApplyValues(const Variant& fieldList, const Variant& values);
    int UpdateCriteria() const noexcept { return FUpdateCriteria; }
    bool IsBatch() const noexcept { return FLockType == adLockBatchOptimistic; }

    // Events.
    TEventOutcome FireWillMove(EventReasonEnum reason, EventStatusEnum status = adStatusOK);
    void FireMoveComplete(EventReasonEnum reason, Error* error);
    TEventOutcome FireWillChangeRecord(EventReasonEnum reason, int count);
    void FireRecordChangeComplete(EventReasonEnum reason, int count, Error* error);
    TEventOutcome FireWillChangeField(const Variant& fields, int count);
    void FireFieldChangeComplete(const Variant& fields, int count, Error* error);
    TEventOutcome FireWillChangeRecordset(EventReasonEnum reason);
    void FireRecordsetChangeComplete(EventReasonEnum reason, Error* error);
    bool FireEndOfRecordset();
    // Runs op between a Will... event (already fired: cancelled tells its
    // outcome) and its Complete event, which receives the failure if any.
    template <class Op, class Complete>
    void Surround(bool cancelled, std::string_view willEvent, Op&& op, Complete&& complete);
    Variant FieldArray(const std::vector<std::size_t>& columns);

    // Settings.
    CursorLocationEnum FCursorLocation = adUseServer;
    bool FCursorLocationSet = false;
    CursorTypeEnum FCursorType = adOpenForwardOnly;
    LockTypeEnum FLockType = adLockReadOnly;
    int FCacheSize = 1;
    int FMaxRecords = 0;
    int FPageSize = 10;
    MarshalOptionsEnum FMarshalOptions = adMarshalAll;
    bool FStayInSync = true;
    WideString FDataMember;
    int FUpdateCriteria = adCriteriaUpdCols;
    ObjectStateEnum FState = adStateClosed;

    // Source.
    ComPtr<TConnectionObject> FConnection;
    ComPtr<TCommandObject> FCommand;  // the command opened (Source or Execute)
    String FSource;                   // the text that ran, or the Source set while closed
    ComPtr<TCommandObject> FSourceCommand;  // a Command set as Source while closed
    int FOpenOptions = adCmdUnknown;
    CursorLocationEnum FOpenLocation = adUseServer;
    std::vector<TColumnInfo> FFieldDefs;  // appended while closed

    // Open state.
    std::vector<TColumnInfo> FColumns;  // as Fields show them
    std::unique_ptr<TStoreCursor> FStore;
    std::unique_ptr<TStreamCursor> FStream;
    std::shared_ptr<TRowWriter> FWriter;
    std::shared_ptr<TStatement> FStatement;  // of a store cursor, for NextRecordset
    bool FKeyset = false;
    bool FFabricated = false;
    bool FSchemaRowset = false;
    bool FFromFile = false;  // opened from a saved file: disconnected until given a connection

    // Cursor services.
    Variant FFilterValue;   // as set: criteria text, filter group or array of bookmarks
    TFilter FLastCriteria;  // the last criteria filter, for adFilterPredicate
    String FSortText;
    String FIndexName;
    bool FProviderIndexesLoaded = false;
    String FSavedFile;  // the file of the last Save (or the file opened), which Save without a destination writes

    // Editing.
    EditModeEnum FEditMode = adEditNone;
    TRowId FEditRow = NoRow;
    TRowId FBeforeAddNew = NoRow;
    bool FEditRowWasPending = false;
    TRowBuffer FEditSnapshot;
    // GetChunk / AppendChunk progress.
    TRowId FChunkRow = NoRow;
    int FChunkColumn = -1;
    std::size_t FChunkOffset = 0;
    bool FChunkAppending = false;

    std::unique_ptr<TFieldsCollection> FFields;
    std::unique_ptr<TPropertiesCollection> FProperties;
    Com::TConnectionPoints FPoints{static_cast<Com::IConnectionPointContainer*>(this)};
    Com::TConnectionPoint* FEvents = nullptr;
    TEventGate FGate;
    TConnectionObject* FOpeningOn = nullptr;  // SetOpeningOn

    // Asynchronous fetching.
    int FInitialFetchSize = 50;     // the "Initial Fetch Size" property
    int FBackgroundFetchSize = 15;  // the "Background Fetch Size" property
    TAsyncWork FFetch;
    std::shared_ptr<TFetchQueue> FFetchQueue;  // of the running fetch
    bool FFetchBlocking = false;               // adAsyncFetch without adAsyncFetchNonBlocking
    Int64 FFetched = 0;                        // rows fetched so far (FetchProgress)
    std::function<void(TExecResult&)> FWorkerPrefetch;
};

TRecordsetObject* RecordsetOf(Rtl::IUnknown* unk) noexcept;

}  // namespace DataEngine::Ado

// ---- Templates shared by the recordset's source files ----------------------------------------

namespace DataEngine::Ado {

template <class Op, class Complete>
void TRecordsetObject::Surround(bool cancelled, std::string_view willEvent, Op&& op, Complete&& complete) {
    try {
        if (cancelled) RaiseCancelled(willEvent);
        op();
    } catch (...) {
        RaiseWithComplete([&](Error* e) { complete(e); });
    }
    complete(nullptr);
}

template <class Op>
void TRecordsetObject::Moving(EventReasonEnum reason, Op&& op) {
    const bool cancelled = FireWillMove(reason).Cancelled;
    Surround(
        cancelled, "WillMove",
        [&] {
            FinishEdit();
            op();
            Landed();
        },
        [&](Error* e) { FireMoveComplete(reason, e); });
}

}  // namespace DataEngine::Ado
