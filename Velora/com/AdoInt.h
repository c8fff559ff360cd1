// The ADO object model: interfaces, their identifiers and the vtable event
// interfaces.
//
// Each interface is an abstract struct naming its IID once (COM_INTERFACE).
// Members follow ADO's type library in order and meaning: a property X has
// GetX / SetX (and SetXRef where ADO has a put-by-reference), methods keep
// ADO's names. Members raise EOleException on failure (safecall style); the
// event interfaces answer an HRESULT. Generations extend the older
// interface in the same member order:
//
//     Connection15 <- _Connection
//     Command15 <- Command25 <- _Command
//     Recordset15 <- Recordset20 <- Recordset21 <- _Recordset
//     Field15 <- Field20 <- Field,  Fields15 <- Fields20 <- Fields
//
// so a reference of an older generation reaches the members it shares with
// the newest one. Types map as: BSTR -> Rtl::WideString, VARIANT ->
// Rtl::Variant, long -> int, VARIANT_BOOL -> bool, interface results ->
// Com::ComPtr (the caller owns the reference). Optional arguments default to
// the values the type library gives, Com::EmptyParam for omitted variants.
//
// The objects themselves are created through the class registry by class id
// or ProgID (AdoClasses.h); the data engine implements them.
#pragma once

#include "Platform/com/Dispatch.h"
#include "Velora/com/AdoEnums.h"

namespace Velora {

using Com::ComPtr;
using Rtl::Byte;
using Rtl::Int64;
using Rtl::Variant;
using Rtl::WideString;

struct Properties;
struct Property;
struct Error;
struct Errors;
struct Field;
struct Fields;
struct _Parameter;
struct Parameters;
struct _Connection;
struct _Command;
struct _Recordset;
struct _Record;
struct _Stream;

// ---- Collections --------------------------------------------------------------------------

struct _Collection : Com::IDispatch {
    COM_INTERFACE(_Collection, Com::IDispatch, "{00000512-0000-0010-8000-00AA006D2EA4}")
    virtual int GetCount() = 0;
    // The collection's enumerator object (IEnumVARIANT in ADO).
    virtual ComPtr<Rtl::IUnknown> _NewEnum() = 0;
    virtual void Refresh() = 0;
};

struct _DynaCollection : _Collection {
    COM_INTERFACE(_DynaCollection, _Collection, "{00000513-0000-0010-8000-00AA006D2EA4}")
    virtual void Append(Com::IDispatch* Object) = 0;
    virtual void Delete(const Variant& Index) = 0;
};

// The base of the objects that carry dynamic properties.
struct _ADO : Com::IDispatch {
    COM_INTERFACE(_ADO, Com::IDispatch, "{00000534-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<Properties> GetProperties() = 0;
};

// ---- Properties and errors --------------------------------------------------------------------

struct Property : Com::IDispatch {
    COM_INTERFACE(Property, Com::IDispatch, "{00000503-0000-0010-8000-00AA006D2EA4}")
    virtual Variant GetValue() = 0;
    virtual void SetValue(const Variant& Value) = 0;
    virtual WideString GetName() = 0;
    virtual DataTypeEnum GetType() = 0;
    virtual int GetAttributes() = 0;
    virtual void SetAttributes(int Attributes) = 0;
};

struct Properties : _Collection {
    COM_INTERFACE(Properties, _Collection, "{00000504-0000-0010-8000-00AA006D2EA4}")
    // By name (case-insensitive) or by 0-based index.
    virtual ComPtr<Property> GetItem(const Variant& Index) = 0;
};

struct Error : Com::IDispatch {
    COM_INTERFACE(Error, Com::IDispatch, "{00000500-0000-0010-8000-00AA006D2EA4}")
    virtual int GetNumber() = 0;
    virtual WideString GetSource() = 0;
    virtual WideString GetDescription() = 0;
    virtual WideString GetHelpFile() = 0;
    virtual int GetHelpContext() = 0;
    virtual WideString GetSQLState() = 0;
    virtual int GetNativeError() = 0;
};

struct Errors : _Collection {
    COM_INTERFACE(Errors, _Collection, "{00000501-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<Error> GetItem(const Variant& Index) = 0;
    virtual void Clear() = 0;
};

// ---- Connection ------------------------------------------------------------------------------

struct Connection15 : _ADO {
    COM_INTERFACE(Connection15, _ADO, "{00000515-0000-0010-8000-00AA006D2EA4}")
    virtual WideString GetConnectionString() = 0;
    virtual void SetConnectionString(const WideString& Value) = 0;
    virtual int GetCommandTimeout() = 0;
    virtual void SetCommandTimeout(int Value) = 0;
    virtual int GetConnectionTimeout() = 0;
    virtual void SetConnectionTimeout(int Value) = 0;
    virtual WideString GetVersion() = 0;
    virtual void Close() = 0;
    // Runs a command text; RecordsAffected (when given) receives the count.
    virtual ComPtr<_Recordset> Execute(const WideString& CommandText, Variant* RecordsAffected = nullptr,
                                       int Options = adOptionUnspecified) = 0;
    // Starts a transaction and answers its nesting level.
    virtual int BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    virtual void Open(const WideString& ConnectionString = {}, const WideString& UserID = {},
                      const WideString& Password = {}, int Options = adConnectUnspecified) = 0;
    virtual ComPtr<Errors> GetErrors() = 0;
    virtual WideString GetDefaultDatabase() = 0;
    virtual void SetDefaultDatabase(const WideString& Value) = 0;
    virtual IsolationLevelEnum GetIsolationLevel() = 0;
    virtual void SetIsolationLevel(IsolationLevelEnum Value) = 0;
    virtual int GetAttributes() = 0;
    virtual void SetAttributes(int Value) = 0;
    virtual CursorLocationEnum GetCursorLocation() = 0;
    virtual void SetCursorLocation(CursorLocationEnum Value) = 0;
    virtual ConnectModeEnum GetMode() = 0;
    virtual void SetMode(ConnectModeEnum Value) = 0;
    virtual WideString GetProvider() = 0;
    virtual void SetProvider(const WideString& Value) = 0;
    virtual int GetState() = 0;
    virtual ComPtr<_Recordset> OpenSchema(SchemaEnum Schema, const Variant& Restrictions = Com::EmptyParam,
                                          const Variant& SchemaID = Com::EmptyParam) = 0;
};

struct _Connection : Connection15 {
    COM_INTERFACE(_Connection, Connection15, "{00000550-0000-0010-8000-00AA006D2EA4}")
    virtual void Cancel() = 0;
};

// ---- Parameters and commands ---------------------------------------------------------------------

struct _Parameter : _ADO {
    COM_INTERFACE(_Parameter, _ADO, "{0000050C-0000-0010-8000-00AA006D2EA4}")
    virtual WideString GetName() = 0;
    virtual void SetName(const WideString& Value) = 0;
    virtual Variant GetValue() = 0;
    virtual void SetValue(const Variant& Value) = 0;
    virtual DataTypeEnum GetType() = 0;
    virtual void SetType(DataTypeEnum Value) = 0;
    virtual void SetDirection(ParameterDirectionEnum Value) = 0;
    virtual ParameterDirectionEnum GetDirection() = 0;
    virtual void SetPrecision(Byte Value) = 0;
    virtual Byte GetPrecision() = 0;
    virtual void SetNumericScale(Byte Value) = 0;
    virtual Byte GetNumericScale() = 0;
    virtual void SetSize(int Value) = 0;
    virtual int GetSize() = 0;
    virtual void AppendChunk(const Variant& Val) = 0;
    virtual int GetAttributes() = 0;
    virtual void SetAttributes(int Value) = 0;
};

struct Parameters : _DynaCollection {
    COM_INTERFACE(Parameters, _DynaCollection, "{0000050D-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<_Parameter> GetItem(const Variant& Index) = 0;
};

struct Command15 : _ADO {
    COM_INTERFACE(Command15, _ADO, "{00000508-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<_Connection> GetActiveConnection() = 0;
    virtual void SetActiveConnectionRef(_Connection* Value) = 0;
    // A connection object or a connection string (which makes a private connection).
    virtual void SetActiveConnection(const Variant& Value) = 0;
    virtual WideString GetCommandText() = 0;
    virtual void SetCommandText(const WideString& Value) = 0;
    virtual int GetCommandTimeout() = 0;
    virtual void SetCommandTimeout(int Value) = 0;
    virtual bool GetPrepared() = 0;
    virtual void SetPrepared(bool Value) = 0;
    // Parameters, when given, is a variant array of values overriding the
    // Parameters collection's, in order.
    virtual ComPtr<_Recordset> Execute(Variant* RecordsAffected = nullptr,
                                       const Variant& Parameters = Com::EmptyParam,
                                       int Options = adOptionUnspecified) = 0;
    virtual ComPtr<_Parameter> CreateParameter(const WideString& Name = {}, DataTypeEnum Type = adEmpty,
                                               ParameterDirectionEnum Direction = adParamInput, int Size = 0,
                                               const Variant& Value = Com::EmptyParam) = 0;
    virtual ComPtr<Parameters> GetParameters() = 0;
    virtual void SetCommandType(CommandTypeEnum Value) = 0;
    virtual CommandTypeEnum GetCommandType() = 0;
    virtual WideString GetName() = 0;
    virtual void SetName(const WideString& Value) = 0;
};

struct Command25 : Command15 {
    COM_INTERFACE(Command25, Command15, "{0000054E-0000-0010-8000-00AA006D2EA4}")
    virtual int GetState() = 0;
    virtual void Cancel() = 0;
};

struct _Command : Command25 {
    COM_INTERFACE(_Command, Command25, "{B08400BD-F9D1-4D02-B856-71D5DBA123E9}")
    virtual void SetCommandStreamRef(Rtl::IUnknown* Value) = 0;
    virtual Variant GetCommandStream() = 0;
    virtual void SetDialect(const WideString& Value) = 0;
    virtual WideString GetDialect() = 0;
    virtual void SetNamedParameters(bool Value) = 0;
    virtual bool GetNamedParameters() = 0;
};

// ---- Fields ------------------------------------------------------------------------------------------

struct Field15 : _ADO {
    COM_INTERFACE(Field15, _ADO, "{00000505-0000-0010-8000-00AA006D2EA4}")
    virtual int GetActualSize() = 0;
    virtual int GetAttributes() = 0;
    virtual int GetDefinedSize() = 0;
    virtual WideString GetName() = 0;
    virtual DataTypeEnum GetType() = 0;
    virtual Variant GetValue() = 0;
    virtual void SetValue(const Variant& Value) = 0;
    virtual Byte GetPrecision() = 0;
    virtual Byte GetNumericScale() = 0;
    virtual void AppendChunk(const Variant& Data) = 0;
    virtual Variant GetChunk(int Length) = 0;
    virtual Variant GetOriginalValue() = 0;
    virtual Variant GetUnderlyingValue() = 0;
};

struct Field20 : Field15 {
    COM_INTERFACE(Field20, Field15, "{0000054C-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<Rtl::IUnknown> GetDataFormat() = 0;
    virtual void SetDataFormatRef(Rtl::IUnknown* Value) = 0;
    virtual void SetPrecision(Byte Value) = 0;
    virtual void SetNumericScale(Byte Value) = 0;
    virtual void SetType(DataTypeEnum Value) = 0;
    virtual void SetDefinedSize(int Value) = 0;
    virtual void SetAttributes(int Value) = 0;
};

struct Field : Field20 {
    COM_INTERFACE(Field, Field20, "{00000569-0000-0010-8000-00AA006D2EA4}")
    virtual int GetStatus() = 0;
};

struct Fields15 : _Collection {
    COM_INTERFACE(Fields15, _Collection, "{00000506-0000-0010-8000-00AA006D2EA4}")
    virtual ComPtr<Field> GetItem(const Variant& Index) = 0;
};

struct Fields20 : Fields15 {
    COM_INTERFACE(Fields20, Fields15, "{0000054D-0000-0010-8000-00AA006D2EA4}")
    // ADO 2.0's Append, without a value.
    virtual void _Append(const WideString& Name, DataTypeEnum Type, int DefinedSize = 0,
                         FieldAttributeEnum Attrib = adFldUnspecified) = 0;
    virtual void Delete(const Variant& Index) = 0;
};

struct Fields : Fields20 {
    COM_INTERFACE(Fields, Fields20, "{00000564-0000-0010-8000-00AA006D2EA4}")
    virtual void Append(const WideString& Name, DataTypeEnum Type, int DefinedSize = 0,
                        FieldAttributeEnum Attrib = adFldUnspecified, const Variant& FieldValue = Com::EmptyParam) = 0;
    virtual void Update() = 0;
    virtual void Resync(ResyncEnum ResyncValues = adResyncAllValues) = 0;
    virtual void CancelUpdate() = 0;
};

// ---- Recordset ---------------------------------------------------------------------------------------

struct Recordset15 : _ADO {
    COM_INTERFACE(Recordset15, _ADO, "{0000050E-0000-0010-8000-00AA006D2EA4}")
    virtual int GetAbsolutePosition() = 0;  // PositionEnum values when there is no position
    virtual void SetAbsolutePosition(int Value) = 0;
    virtual void SetActiveConnectionRef(Com::IDispatch* Value) = 0;
    virtual void SetActiveConnection(const Variant& Value) = 0;
    // The connection object, or Empty when the recordset has none.
    virtual Variant GetActiveConnection() = 0;
    virtual bool GetBOF() = 0;
    virtual Variant GetBookmark() = 0;
    virtual void SetBookmark(const Variant& Value) = 0;
    virtual int GetCacheSize() = 0;
    virtual void SetCacheSize(int Value) = 0;
    virtual CursorTypeEnum GetCursorType() = 0;
    virtual void SetCursorType(CursorTypeEnum Value) = 0;
    virtual bool GetEOF() = 0;
    virtual ComPtr<Fields> GetFields() = 0;
    virtual LockTypeEnum GetLockType() = 0;
    virtual void SetLockType(LockTypeEnum Value) = 0;
    virtual int GetMaxRecords() = 0;
    virtual void SetMaxRecords(int Value) = 0;
    virtual int GetRecordCount() = 0;
    virtual void SetSourceRef(Com::IDispatch* Value) = 0;
    virtual void SetSource(const WideString& Value) = 0;
    virtual Variant GetSource() = 0;
    virtual void AddNew(const Variant& FieldList = Com::EmptyParam, const Variant& Values = Com::EmptyParam) = 0;
    virtual void CancelUpdate() = 0;
    virtual void Close() = 0;
    virtual void Delete(AffectEnum AffectRecords = adAffectCurrent) = 0;
    virtual Variant GetRows(int Rows = adGetRowsRest, const Variant& Start = Com::EmptyParam,
                            const Variant& Fields = Com::EmptyParam) = 0;
    virtual void Move(int NumRecords, const Variant& Start = Com::EmptyParam) = 0;
    virtual void MoveNext() = 0;
    virtual void MovePrevious() = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveLast() = 0;
    virtual void Open(const Variant& Source = Com::EmptyParam, const Variant& ActiveConnection = Com::EmptyParam,
                      CursorTypeEnum CursorType = adOpenUnspecified, LockTypeEnum LockType = adLockUnspecified,
                      int Options = adCmdUnspecified) = 0;
    virtual void Requery(int Options = adOptionUnspecified) = 0;
    virtual void _xResync(AffectEnum AffectRecords = adAffectAll) = 0;
    virtual void Update(const Variant& Fields = Com::EmptyParam, const Variant& Values = Com::EmptyParam) = 0;
    virtual int GetAbsolutePage() = 0;
    virtual void SetAbsolutePage(int Value) = 0;
    virtual EditModeEnum GetEditMode() = 0;
    virtual Variant GetFilter() = 0;
    virtual void SetFilter(const Variant& Criteria) = 0;
    virtual int GetPageCount() = 0;
    virtual int GetPageSize() = 0;
    virtual void SetPageSize(int Value) = 0;
    virtual WideString GetSort() = 0;
    virtual void SetSort(const WideString& Criteria) = 0;
    virtual int GetStatus() = 0;
    virtual int GetState() = 0;
    virtual ComPtr<_Recordset> _xClone() = 0;
    virtual void UpdateBatch(AffectEnum AffectRecords = adAffectAll) = 0;
    virtual void CancelBatch(AffectEnum AffectRecords = adAffectAll) = 0;
    virtual CursorLocationEnum GetCursorLocation() = 0;
    virtual void SetCursorLocation(CursorLocationEnum Value) = 0;
    virtual ComPtr<_Recordset> NextRecordset(Variant* RecordsAffected = nullptr) = 0;
    virtual bool Supports(CursorOptionEnum CursorOptions) = 0;
    virtual Variant GetCollect(const Variant& Index) = 0;
    virtual void SetCollect(const Variant& Index, const Variant& Value) = 0;
    virtual MarshalOptionsEnum GetMarshalOptions() = 0;
    virtual void SetMarshalOptions(MarshalOptionsEnum Value) = 0;
    virtual void Find(const WideString& Criteria, int SkipRecords = 0,
                      SearchDirectionEnum SearchDirection = adSearchForward,
                      const Variant& Start = Com::EmptyParam) = 0;
};

struct Recordset20 : Recordset15 {
    COM_INTERFACE(Recordset20, Recordset15, "{0000054F-0000-0010-8000-00AA006D2EA4}")
    virtual void Cancel() = 0;
    virtual ComPtr<Rtl::IUnknown> GetDataSource() = 0;
    virtual void SetDataSourceRef(Rtl::IUnknown* Value) = 0;
    virtual void _xSave(const WideString& FileName = {}, PersistFormatEnum PersistFormat = adPersistADTG) = 0;
    virtual ComPtr<Com::IDispatch> GetActiveCommand() = 0;
    virtual void SetStayInSync(bool Value) = 0;
    virtual bool GetStayInSync() = 0;
    virtual WideString GetString(StringFormatEnum StringFormat = adClipString, int NumRows = -1,
                                 const WideString& ColumnDelimeter = {}, const WideString& RowDelimeter = {},
                                 const WideString& NullExpr = {}) = 0;
    virtual WideString GetDataMember() = 0;
    virtual void SetDataMember(const WideString& Value) = 0;
    virtual CompareEnum CompareBookmarks(const Variant& Bookmark1, const Variant& Bookmark2) = 0;
    virtual ComPtr<_Recordset> Clone(LockTypeEnum LockType = adLockUnspecified) = 0;
    virtual void Resync(AffectEnum AffectRecords = adAffectAll, ResyncEnum ResyncValues = adResyncAllValues) = 0;
};

struct Recordset21 : Recordset20 {
    COM_INTERFACE(Recordset21, Recordset20, "{00000555-0000-0010-8000-00AA006D2EA4}")
    virtual void Seek(const Variant& KeyValues, SeekEnum SeekOption = adSeekFirstEQ) = 0;
    virtual void SetIndex(const WideString& Value) = 0;
    virtual WideString GetIndex() = 0;
};

struct _Recordset : Recordset21 {
    COM_INTERFACE(_Recordset, Recordset21, "{00000556-0000-0010-8000-00AA006D2EA4}")
    virtual void Save(const Variant& Destination = Com::EmptyParam, PersistFormatEnum PersistFormat = adPersistADTG) = 0;
};

// ---- Record and Stream --------------------------------------------------------------------------------

struct _Record : _ADO {
    COM_INTERFACE(_Record, _ADO, "{00000562-0000-0010-8000-00AA006D2EA4}")
    virtual Variant GetActiveConnection() = 0;
    virtual void SetActiveConnection(const WideString& Value) = 0;
    virtual void SetActiveConnectionRef(_Connection* Value) = 0;
    virtual ObjectStateEnum GetState() = 0;
    virtual Variant GetSource() = 0;
    virtual void SetSource(const WideString& Value) = 0;
    virtual void SetSourceRef(Com::IDispatch* Value) = 0;
    virtual ConnectModeEnum GetMode() = 0;
    virtual void SetMode(ConnectModeEnum Value) = 0;
    virtual WideString GetParentURL() = 0;
    virtual WideString MoveRecord(const WideString& Source = {}, const WideString& Destination = {},
                                  const WideString& UserName = {}, const WideString& Password = {},
                                  MoveRecordOptionsEnum Options = adMoveUnspecified, bool Async = false) = 0;
    virtual WideString CopyRecord(const WideString& Source = {}, const WideString& Destination = {},
                                  const WideString& UserName = {}, const WideString& Password = {},
                                  CopyRecordOptionsEnum Options = adCopyUnspecified, bool Async = false) = 0;
    virtual void DeleteRecord(const WideString& Source = {}, bool Async = false) = 0;
    virtual void Open(const Variant& Source = Com::EmptyParam, const Variant& ActiveConnection = Com::EmptyParam,
                      ConnectModeEnum Mode = adModeUnknown, RecordCreateOptionsEnum CreateOptions = adFailIfNotExists,
                      RecordOpenOptionsEnum Options = adOpenRecordUnspecified, const WideString& UserName = {},
                      const WideString& Password = {}) = 0;
    virtual void Close() = 0;
    virtual ComPtr<Fields> GetFields() = 0;
    virtual RecordTypeEnum GetRecordType() = 0;
    virtual ComPtr<_Recordset> GetChildren() = 0;
    virtual void Cancel() = 0;
};

struct _Stream : Com::IDispatch {
    COM_INTERFACE(_Stream, Com::IDispatch, "{00000565-0000-0010-8000-00AA006D2EA4}")
    virtual Int64 GetSize() = 0;
    virtual bool GetEOS() = 0;
    virtual Int64 GetPosition() = 0;
    virtual void SetPosition(Int64 Value) = 0;
    virtual StreamTypeEnum GetType() = 0;
    virtual void SetType(StreamTypeEnum Value) = 0;
    virtual LineSeparatorEnum GetLineSeparator() = 0;
    virtual void SetLineSeparator(LineSeparatorEnum Value) = 0;
    virtual ObjectStateEnum GetState() = 0;
    virtual ConnectModeEnum GetMode() = 0;
    virtual void SetMode(ConnectModeEnum Value) = 0;
    virtual WideString GetCharset() = 0;
    virtual void SetCharset(const WideString& Value) = 0;
    virtual Variant Read(int NumBytes = adReadAll) = 0;
    virtual void Open(const Variant& Source = Com::EmptyParam, ConnectModeEnum Mode = adModeUnknown,
                      StreamOpenOptionsEnum Options = adOpenStreamUnspecified, const WideString& UserName = {},
                      const WideString& Password = {}) = 0;
    virtual void Close() = 0;
    virtual void SkipLine() = 0;
    virtual void Write(const Variant& Buffer) = 0;
    virtual void SetEOS() = 0;
    virtual void CopyTo(_Stream* DestStream, Int64 CharNumber = -1) = 0;
    virtual void Flush() = 0;
    virtual void SaveToFile(const WideString& FileName, SaveOptionsEnum Options = adSaveCreateNotExist) = 0;
    virtual void LoadFromFile(const WideString& FileName) = 0;
    virtual WideString ReadText(int NumChars = adReadAll) = 0;
    virtual void WriteText(const WideString& Data, StreamWriteEnum Options = adWriteChar) = 0;
    virtual void Cancel() = 0;
};

// ---- Events -------------------------------------------------------------------------------------------

// The connection's events, called through the vtable. The connection point is
// found under DIID_ConnectionEvents and under this IID alike; a sink must
// support this interface. Arguments passed by reference are in/out: a
// handler sets adStatus to adStatusCancel (in a Will... event whose status is
// not adStatusCantDeny) to cancel the operation, or to adStatusUnwantedEvent
// to stop that event for the object.
struct ConnectionEventsVt : Rtl::IUnknown {
    COM_INTERFACE(ConnectionEventsVt, Rtl::IUnknown, "{00000402-0000-0010-8000-00AA006D2EA4}")
    virtual Rtl::HRESULT InfoMessage(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT BeginTransComplete(int TransactionLevel, Error* pError, EventStatusEnum& adStatus,
                                            _Connection* pConnection) = 0;
    virtual Rtl::HRESULT CommitTransComplete(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT RollbackTransComplete(Error* pError, EventStatusEnum& adStatus,
                                               _Connection* pConnection) = 0;
    virtual Rtl::HRESULT WillExecute(WideString& Source, CursorTypeEnum& CursorType, LockTypeEnum& LockType,
                                     int& Options, EventStatusEnum& adStatus, _Command* pCommand,
                                     _Recordset* pRecordset, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT ExecuteComplete(int RecordsAffected, Error* pError, EventStatusEnum& adStatus,
                                         _Command* pCommand, _Recordset* pRecordset, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT WillConnect(WideString& ConnectionString, WideString& UserID, WideString& Password,
                                     int& Options, EventStatusEnum& adStatus, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT ConnectComplete(Error* pError, EventStatusEnum& adStatus, _Connection* pConnection) = 0;
    virtual Rtl::HRESULT Disconnect(EventStatusEnum& adStatus, _Connection* pConnection) = 0;
};

// The recordset's events; found under DIID_RecordsetEvents and this IID.
// Fields is a variant array of the Field objects concerned.
struct RecordsetEventsVt : Rtl::IUnknown {
    COM_INTERFACE(RecordsetEventsVt, Rtl::IUnknown, "{00000403-0000-0010-8000-00AA006D2EA4}")
    virtual Rtl::HRESULT WillChangeField(int cFields, const Variant& Fields, EventStatusEnum& adStatus,
                                         _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT FieldChangeComplete(int cFields, const Variant& Fields, Error* pError,
                                             EventStatusEnum& adStatus, _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT WillChangeRecord(EventReasonEnum adReason, int cRecords, EventStatusEnum& adStatus,
                                          _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT RecordChangeComplete(EventReasonEnum adReason, int cRecords, Error* pError,
                                              EventStatusEnum& adStatus, _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT WillChangeRecordset(EventReasonEnum adReason, EventStatusEnum& adStatus,
                                             _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT RecordsetChangeComplete(EventReasonEnum adReason, Error* pError, EventStatusEnum& adStatus,
                                                 _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT WillMove(EventReasonEnum adReason, EventStatusEnum& adStatus, _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT MoveComplete(EventReasonEnum adReason, Error* pError, EventStatusEnum& adStatus,
                                      _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT EndOfRecordset(bool& fMoreData, EventStatusEnum& adStatus, _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT FetchProgress(int Progress, int MaxProgress, EventStatusEnum& adStatus,
                                       _Recordset* pRecordset) = 0;
    virtual Rtl::HRESULT FetchComplete(Error* pError, EventStatusEnum& adStatus, _Recordset* pRecordset) = 0;
};

// The identifiers of ADO's event dispinterfaces: connection points are looked
// up under these (as under the vtable interfaces' IIDs).
constexpr Rtl::IID DIID_ConnectionEvents = Com::GUIDLiteral("{00000400-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::IID DIID_RecordsetEvents = Com::GUIDLiteral("{00000266-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::IID IID_ConnectionEventsVt = ConnectionEventsVt::InterfaceIID;
constexpr Rtl::IID IID_RecordsetEventsVt = RecordsetEventsVt::InterfaceIID;

}  // namespace Velora
