// The Command object ("ADODB.Command") with its Parameters collection, and
// the Parameter object ("ADODB.Parameter").
//
// A command runs on its ActiveConnection: a connection object, or a
// connection string, which opens a private connection the command owns.
// Parameter values are always bound natively by the provider, by position,
// or by name when NamedParameters is set; a value that does not fit the
// parameter's Type or Size is refused naming the parameter and the value. With
// Prepared set the compiled statement is kept and reused by later executions
// of the same text.
#pragma once

#include "Platform/data-engine/objects/Connection.h"

namespace DataEngine::Ado {

class TParameterObject
    : public Com::TDispatchImpl<TParameterObject, Com::TImplements<Com::TInterfacedObject, _Parameter>>,
      public TFailureReporter {
public:
    TParameterObject();
    ~TParameterObject() override;

    ComPtr<Properties> GetProperties() override;
    WideString GetName() override;
    void SetName(const WideString& Value) override;
    Variant GetValue() override;
    void SetValue(const Variant& Value) override;
    DataTypeEnum GetType() override;
    void SetType(DataTypeEnum Value) override;
    void SetDirection(ParameterDirectionEnum Value) override;
    ParameterDirectionEnum GetDirection() override;
    void SetPrecision(Byte Value) override;
    Byte GetPrecision() override;
    void SetNumericScale(Byte Value) override;
    Byte GetNumericScale() override;
    void SetSize(int Value) override;
    int GetSize() override;
    void AppendChunk(const Variant& Val) override;
    int GetAttributes() override;
    void SetAttributes(int Value) override;

    TErrorsCollection* GetErrorTarget() override { return nullptr; }
    const char* GetSourceName() const override { return "ADODB.Parameter"; }

    static const Com::TDispatchTable<TParameterObject>& GetDispatchTable();

    // Engine side.
    const String& Name() const noexcept { return FName; }
    // Checks the value against Type and Size and answers it as it binds:
    // label names the parameter in messages.
    Variant ValueForBinding(const String& label) const;
    void SetOutputValue(const Variant& v) { FValue = v; }
    bool InCollection() const noexcept { return FInCollection; }
    void SetInCollection(bool v) noexcept { FInCollection = v; }

private:
    String FName;
    Variant FValue;
    DataTypeEnum FType = adEmpty;
    ParameterDirectionEnum FDirection = adParamInput;
    Byte FPrecision = 0;
    Byte FNumericScale = 0;
    int FSize = 0;
    int FAttributes = 0;
    bool FInCollection = false;
    bool FChunkStarted = false;
    std::unique_ptr<TPropertiesCollection> FProperties;
};

class TCommandObject;

class TParametersCollection
    : public Com::TDispatchImpl<TParametersCollection, Com::TImplements<Com::TContainedObject, Parameters>> {
public:
    TParametersCollection(Rtl::IUnknown* controller, TCommandObject* owner);
    ~TParametersCollection() override;

    int GetCount() override;
    ComPtr<Rtl::IUnknown> _NewEnum() override;
    void Refresh() override;
    void Append(Com::IDispatch* Object) override;
    void Delete(const Variant& Index) override;
    ComPtr<_Parameter> GetItem(const Variant& Index) override;

    std::vector<ComPtr<TParameterObject>>& Items() noexcept { return FItems; }
    // Refresh has been done (by the caller or because the collection was used empty).
    bool WasRefreshed() const noexcept { return FRefreshed; }
    void Fill(std::vector<ComPtr<TParameterObject>> items);

    static const Com::TDispatchTable<TParametersCollection>& GetDispatchTable();

private:
    int IndexOf(const String& name) const;

    TCommandObject* FOwner;
    std::vector<ComPtr<TParameterObject>> FItems;
    bool FRefreshed = false;
};

class TRecordsetObject;

class TCommandObject
    : public Com::TDispatchImpl<TCommandObject, Com::TImplements<Com::TInterfacedObject, _Command>>,
      public TFailureReporter {
public:
    TCommandObject();
    ~TCommandObject() override;

    // ---- _Command -----------------------------------------------------------------
    ComPtr<Properties> GetProperties() override;
    ComPtr<_Connection> GetActiveConnection() override;
    void SetActiveConnectionRef(_Connection* Value) override;
    void SetActiveConnection(const Variant& Value) override;
    WideString GetCommandText() override;
    void SetCommandText(const WideString& Value) override;
    int GetCommandTimeout() override;
    void SetCommandTimeout(int Value) override;
    bool GetPrepared() override;
    void SetPrepared(bool Value) override;
    ComPtr<_Recordset> Execute(Variant* RecordsAffected, const Variant& Parameters, int Options) override;
    ComPtr<_Parameter> CreateParameter(const WideString& Name, DataTypeEnum Type, ParameterDirectionEnum Direction,
                                       int Size, const Variant& Value) override;
    ComPtr<Velora::Parameters> GetParameters() override;
    void SetCommandType(CommandTypeEnum Value) override;
    CommandTypeEnum GetCommandType() override;
    WideString GetName() override;
    void SetName(const WideString& Value) override;
    int GetState() override;
    void Cancel() override;
    void SetCommandStreamRef(Rtl::IUnknown* Value) override;
    Variant GetCommandStream() override;
    void SetDialect(const WideString& Value) override;
    WideString GetDialect() override;
    void SetNamedParameters(bool Value) override;
    bool GetNamedParameters() override;

    TErrorsCollection* GetErrorTarget() override { return FConnection ? FConnection->GetErrorTarget() : nullptr; }
    const char* GetSourceName() const override { return "ADODB.Command"; }

    static const Com::TDispatchTable<TCommandObject>& GetDispatchTable();

    // ---- Engine side -----------------------------------------------------------------------
    TConnectionObject* Connection() const noexcept { return FConnection.Get(); }
    // Runs the command for Execute or for a recordset opening over it. values
    // (a variant array, or missing) overrides the collection's values.
    // With adAsyncExecute in options the execution runs on a worker: Run
    // answers an empty result at once and after(run) gets the real one on this
    // thread when it ends (a failure goes to ExecuteComplete instead).
    TExecResult Run(int options, const Variant& values, CursorTypeEnum cursorType, LockTypeEnum lockType,
                    TRecordsetObject* recordset, std::function<void(TExecResult&)> after = nullptr,
                    std::function<void()> failed = nullptr);
    // Statements the command compiled (Prepared reuses one).
    int GetPrepareCount() const noexcept { return FPrepareCount; }
    // Describes the parameters of the current text through the provider.
    void RefreshParameters();

private:
    // One value to bind: by position (from 1), or by name when Position is 0.
    struct TBinding {
        int Position = 0;
        String Name;
        Variant Value;
        DataTypeEnum Type = adEmpty;
    };
    // The values to bind, checked against the parameters (failures name them).
    std::vector<TBinding> Bindings(const Variant& values);
    static void Apply(TStatement& statement, const std::vector<TBinding>& bindings);
    void Bind(TStatement& statement, const Variant& values);
    String CommandTextToRun(CommandTypeEnum& type);
    // With a CommandStream set: its text becomes the command text to run.
    void TakeStreamText();
    void CheckNotExecuting() const;
    // After an execution: the kept statement and the output parameters.
    void Finished(TExecResult& run);

    ComPtr<TConnectionObject> FConnection;
    bool FPrivateConnection = false;
    String FCommandText;
    ComPtr<_Stream> FCommandStream;  // CommandStream, which stands in for CommandText
    CommandTypeEnum FCommandType = adCmdUnknown;
    int FCommandTimeout = 30;
    bool FPrepared = false;
    String FName;
    WideString FDialect = u"{C8B521FB-5CF3-11CE-ADE5-00AA0044773D}";  // DBGUID_DEFAULT
    bool FNamedParameters = false;
    bool FExecuting = false;
    // The kept statement (Prepared) and what it was compiled from.
    std::shared_ptr<TStatement> FStatement;
    String FStatementText;
    unsigned FStatementOpenCount = 0;
    int FPrepareCount = 0;

    std::unique_ptr<TParametersCollection> FParameters;
    std::unique_ptr<TPropertiesCollection> FProperties;
};

TCommandObject* CommandOf(Rtl::IUnknown* unk) noexcept;
TParameterObject* ParameterOf(Rtl::IUnknown* unk) noexcept;

}  // namespace DataEngine::Ado
