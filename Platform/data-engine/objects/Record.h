// The Record object ("ADODB.Record"): the current row of a recordset, or a
// resource of a document source (DocumentSource.h): a folder (a collection
// record, whose children GetChildren lists) or a file (a simple record whose
// default stream holds the file's bytes).
//
// A record on a row shares the row with its recordset: its Fields are those
// of a clone of the recordset standing on that row, so a change made through
// either shows in both. A resource record's Fields are the resource fields
// of a document source (RESOURCE_PARSENAME, RESOURCE_ISCOLLECTION,
// RESOURCE_STREAMSIZE ...), read when the record opens; Fields(adDefaultStream)
// holds a Stream on the file and Fields(adRecordURL) the record's URL.
#pragma once

#include "Platform/data-engine/objects/AdoSupport.h"
#include "Platform/data-engine/objects/DocumentSource.h"

namespace DataEngine::Ado {

class TRecordObject;

// One field of a resource record: a name, a type and a value read at open.
class TResourceField : public Com::TDispatchImpl<TResourceField, Com::TImplements<Com::TContainedObject, Field>> {
public:
    TResourceField(Rtl::IUnknown* controller, TRecordObject* owner, String name, DataTypeEnum type, Variant value,
                   int index);
    ComPtr<Properties> GetProperties() override;
    int GetActualSize() override;
    int GetAttributes() override;
    int GetDefinedSize() override;
    WideString GetName() override { return Wide(FName); }
    DataTypeEnum GetType() override { return FType; }
    Variant GetValue() override;
    void SetValue(const Variant& Value) override;
    Byte GetPrecision() override { return 255; }
    Byte GetNumericScale() override { return 255; }
    void AppendChunk(const Variant& Data) override;
    Variant GetChunk(int Length) override;
    Variant GetOriginalValue() override { return GetValue(); }
    Variant GetUnderlyingValue() override { return GetValue(); }
    ComPtr<Rtl::IUnknown> GetDataFormat() override { return nullptr; }
    void SetDataFormatRef(Rtl::IUnknown* Value) override;
    void SetPrecision(Byte Value) override;
    void SetNumericScale(Byte Value) override;
    void SetType(DataTypeEnum Value) override;
    void SetDefinedSize(int Value) override;
    void SetAttributes(int Value) override;
    int GetStatus() override { return adFieldOK; }

    static const Com::TDispatchTable<TResourceField>& GetDispatchTable();

private:
    [[noreturn]] void ReadOnly(std::string_view what);
    TRecordObject* FOwner;
    String FName;
    DataTypeEnum FType;
    Variant FValue;
    int FIndex;  // adDefaultStream, adRecordURL, or the position in the collection
    std::unique_ptr<TPropertiesCollection> FProperties;
};

class TResourceFields : public Com::TDispatchImpl<TResourceFields, Com::TImplements<Com::TContainedObject, Fields>> {
public:
    TResourceFields(Rtl::IUnknown* controller, TRecordObject* owner) : TDispatchImpl(controller), FController(controller), FOwner(owner) {}
    int GetCount() override { return static_cast<int>(FItems.size()); }
    ComPtr<Rtl::IUnknown> _NewEnum() override { NoEnumerator("Fields"); }
    void Refresh() override {}
    ComPtr<Field> GetItem(const Variant& Index) override;
    void _Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib) override;
    void Delete(const Variant& Index) override;
    void Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                const Variant& FieldValue) override;
    void Update() override {}
    void Resync(ResyncEnum) override {}
    void CancelUpdate() override {}

    void Fill(const std::vector<std::pair<String, Variant>>& values, const std::vector<DataTypeEnum>& types,
              const String& url, bool hasStream);
    void Clear();

    static const Com::TDispatchTable<TResourceFields>& GetDispatchTable();

private:
    Rtl::IUnknown* FController;
    TRecordObject* FOwner;
    std::vector<std::unique_ptr<TResourceField>> FItems;
    std::unique_ptr<TResourceField> FStreamField;  // adDefaultStream; null for a folder
    std::unique_ptr<TResourceField> FUrlField;     // adRecordURL
};

// The fields of a row record: the fields of its clone of the recordset, where
// Update, CancelUpdate and Resync act on the row.
class TRowFields : public Com::TDispatchImpl<TRowFields, Com::TImplements<Com::TContainedObject, Fields>> {
public:
    TRowFields(Rtl::IUnknown* controller, TRecordObject* owner) : TDispatchImpl(controller), FOwner(owner) {}
    void Attach(ComPtr<_Recordset> clone) { FClone = std::move(clone); }
    int GetCount() override;
    ComPtr<Rtl::IUnknown> _NewEnum() override { NoEnumerator("Fields"); }
    void Refresh() override {}
    ComPtr<Field> GetItem(const Variant& Index) override;
    void _Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib) override;
    void Delete(const Variant& Index) override;
    void Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                const Variant& FieldValue) override;
    void Update() override;
    void Resync(ResyncEnum ResyncValues) override;
    void CancelUpdate() override;

    static const Com::TDispatchTable<TRowFields>& GetDispatchTable();

private:
    ComPtr<_Recordset> Clone();
    TRecordObject* FOwner;
    ComPtr<_Recordset> FClone;
};

class TRecordObject : public Com::TDispatchImpl<TRecordObject, Com::TImplements<Com::TInterfacedObject, _Record>>,
                      public TFailureReporter {
public:
    TRecordObject();
    ~TRecordObject() override;

    // ---- _Record -------------------------------------------------------------------
    ComPtr<Properties> GetProperties() override;
    Variant GetActiveConnection() override;
    void SetActiveConnection(const WideString& Value) override;
    void SetActiveConnectionRef(_Connection* Value) override;
    ObjectStateEnum GetState() override { return FState; }
    Variant GetSource() override;
    void SetSource(const WideString& Value) override;
    void SetSourceRef(Com::IDispatch* Value) override;
    ConnectModeEnum GetMode() override { return FMode; }
    void SetMode(ConnectModeEnum Value) override;
    WideString GetParentURL() override;
    WideString MoveRecord(const WideString& Source, const WideString& Destination, const WideString& UserName,
                          const WideString& Password, MoveRecordOptionsEnum Options, bool Async) override;
    WideString CopyRecord(const WideString& Source, const WideString& Destination, const WideString& UserName,
                          const WideString& Password, CopyRecordOptionsEnum Options, bool Async) override;
    void DeleteRecord(const WideString& Source, bool Async) override;
    void Open(const Variant& Source, const Variant& ActiveConnection, ConnectModeEnum Mode,
              RecordCreateOptionsEnum CreateOptions, RecordOpenOptionsEnum Options, const WideString& UserName,
              const WideString& Password) override;
    void Close() override;
    ComPtr<Fields> GetFields() override;
    RecordTypeEnum GetRecordType() override;
    ComPtr<_Recordset> GetChildren() override;
    void Cancel() override {}

    // ---- TFailureReporter --------------------------------------------------------------
    TErrorsCollection* GetErrorTarget() override;
    const char* GetSourceName() const override { return "ADODB.Record"; }

    static const Com::TDispatchTable<TRecordObject>& GetDispatchTable();

    // ---- Engine side ------------------------------------------------------------------
    // The file of an open simple resource record and the record's mode (for
    // Stream.Open on the record); raises for a folder or a row record.
    String DefaultStreamPath(std::string_view operation, ConnectModeEnum& mode) const;
    bool IsOpen() const noexcept { return FState == adStateOpen; }

private:
    enum TKind { rkNone, rkRow, rkResource };
    void CheckOpen(std::string_view operation) const;
    void CheckClosed(std::string_view operation) const;
    void CheckResource(std::string_view operation) const;
    void OpenRow(const Variant& source, ConnectModeEnum mode);
    void OpenResource(const String& url, const Variant& connection, ConnectModeEnum mode, int createOptions);
    void LoadFields();
    // The path a Source argument names: this record's own when empty.
    String PathOf(const WideString& source, std::string_view operation) const;

    ObjectStateEnum FState = adStateClosed;
    ConnectModeEnum FMode = adModeUnknown;
    TKind FKind = rkNone;
    // As set while closed (or given to Open).
    Variant FSourceValue;      // a URL string or a Recordset object
    Variant FConnectionValue;  // a connection string or a Connection object
    // Open state.
    ComPtr<_Recordset> FRowClone;             // a row record's clone of its recordset
    ComPtr<_Connection> FConnection;          // the document source connection, when one was given
    std::shared_ptr<TDocumentRoot> FRoot;
    String FPath;
    bool FIsCollection = false;

    std::unique_ptr<TResourceFields> FFields;
    std::unique_ptr<TRowFields> FRowFields;
    std::unique_ptr<TPropertiesCollection> FProperties;
};

TRecordObject* RecordOf(Rtl::IUnknown* unk) noexcept;

}  // namespace DataEngine::Ado
