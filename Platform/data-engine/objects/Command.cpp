#include "Platform/data-engine/objects/Command.h"

#include "Platform/data-engine/objects/Recordset.h"
#include "Platform/data-engine/objects/Stream.h"

namespace DataEngine::Ado {

namespace {

constexpr HRESULT hrNoCommandText = static_cast<HRESULT>(0x80040E0Cu);  // DB_E_NOCOMMAND
constexpr int CommandTypeMask = adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect;

Rtl::IUnknown* UnknownOf(TCommandObject* c) { return static_cast<Rtl::IUnknown*>(static_cast<_Command*>(c)); }

bool IsKnownType(DataTypeEnum t) {
    switch (t) {
        case adEmpty: case adTinyInt: case adSmallInt: case adInteger: case adBigInt: case adUnsignedTinyInt:
        case adUnsignedSmallInt: case adUnsignedInt: case adUnsignedBigInt: case adSingle: case adDouble:
        case adCurrency: case adDecimal: case adNumeric: case adBoolean: case adError: case adUserDefined:
        case adVariant: case adIDispatch: case adIUnknown: case adGUID: case adDate: case adDBDate: case adDBTime:
        case adDBTimeStamp: case adBSTR: case adChar: case adVarChar: case adLongVarChar: case adWChar:
        case adVarWChar: case adLongVarWChar: case adBinary: case adVarBinary: case adLongVarBinary:
        case adChapter: case adFileTime: case adPropVariant: case adVarNumeric: return true;
        default: return false;
    }
}

// Types whose values must fit the parameter's Size.
bool IsSizedType(DataTypeEnum t) {
    switch (t) {
        case adChar: case adVarChar: case adWChar: case adVarWChar: case adBinary: case adVarBinary: return true;
        default: return false;
    }
}

bool IsBinaryType(DataTypeEnum t) { return t == adBinary || t == adVarBinary || t == adLongVarBinary; }

String Label(const String& name, int position) {
    return name.empty() ? "#" + std::to_string(position) : "\"" + name + "\"";
}

}  // namespace

TCommandObject* CommandOf(Rtl::IUnknown* unk) noexcept {
    auto c = Com::QueryInterface<Command15>(unk);
    return dynamic_cast<TCommandObject*>(c.Get());
}

TParameterObject* ParameterOf(Rtl::IUnknown* unk) noexcept {
    auto p = Com::QueryInterface<_Parameter>(unk);
    return dynamic_cast<TParameterObject*>(p.Get());
}

// ---- Parameter ----------------------------------------------------------------------------------

TParameterObject::TParameterObject() {
    FProperties = std::make_unique<TPropertiesCollection>(
        static_cast<Rtl::IUnknown*>(static_cast<_Parameter*>(this)), this,
        [] { return std::vector<TPropertyInfo>{}; });
}

TParameterObject::~TParameterObject() = default;

ComPtr<Properties> TParameterObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

WideString TParameterObject::GetName() { return Wide(FName); }

void TParameterObject::SetName(const WideString& Value) {
    Guard([&] {
        if (FInCollection)
            AdoFail(adErrIllegalOperation, "the name of parameter \"" + FName +
                                               "\" cannot change while it is in a Parameters collection");
        FName = Narrow(Value);
    });
}

Variant TParameterObject::GetValue() { return FValue; }

void TParameterObject::SetValue(const Variant& Value) {
    FValue = Value.IsByRef() ? Value.Deref() : Value;
    if (Com::IsEmptyParam(FValue)) FValue = Variant();
    FChunkStarted = false;
}

DataTypeEnum TParameterObject::GetType() { return FType; }

void TParameterObject::SetType(DataTypeEnum Value) {
    Guard([&] {
        if (!IsKnownType(Value))
            AdoFail(adErrInvalidArgument, "Type " + std::to_string(Value) + " of parameter " + Label(FName, 0) +
                                              " is not an ADO data type");
        FType = Value;
    });
}

void TParameterObject::SetDirection(ParameterDirectionEnum Value) {
    Guard([&] {
        if (Value < adParamUnknown || Value > adParamReturnValue)
            AdoFail(adErrInvalidArgument, "Direction " + std::to_string(Value) + " of parameter " + Label(FName, 0) +
                                              " is not a ParameterDirectionEnum value");
        FDirection = Value;
    });
}

ParameterDirectionEnum TParameterObject::GetDirection() { return FDirection; }
void TParameterObject::SetPrecision(Byte Value) { FPrecision = Value; }
Byte TParameterObject::GetPrecision() { return FPrecision; }
void TParameterObject::SetNumericScale(Byte Value) { FNumericScale = Value; }
Byte TParameterObject::GetNumericScale() { return FNumericScale; }

void TParameterObject::SetSize(int Value) {
    Guard([&] {
        if (Value < 0)
            AdoFail(adErrInvalidArgument, "Size " + std::to_string(Value) + " of parameter " + Label(FName, 0) +
                                              " is negative");
        FSize = Value;
    });
}

int TParameterObject::GetSize() { return FSize; }
int TParameterObject::GetAttributes() { return FAttributes; }

void TParameterObject::SetAttributes(int Value) {
    Guard([&] {
        if (Value & ~(adParamSigned | adParamNullable | adParamLong))
            AdoFail(adErrInvalidArgument, "Attributes " + std::to_string(Value) + " of parameter " + Label(FName, 0) +
                                              " holds bits other than adParamSigned, adParamNullable and adParamLong");
        FAttributes = Value;
    });
}

void TParameterObject::AppendChunk(const Variant& Val) {
    Guard([&] {
        if (!(FAttributes & adParamLong))
            AdoFail(adErrIllegalOperation, "AppendChunk needs the adParamLong attribute on parameter " + Label(FName, 0));
        const Variant v = Val.IsByRef() ? Val.Deref() : Val;
        if (!FChunkStarted || FValue.IsNull() || FValue.IsEmpty()) {
            FValue = v;
        } else if (FValue.IsArray() || v.IsArray()) {
            auto bytes = Rtl::VarArrayToBytes(FValue);
            const auto more = Rtl::VarArrayToBytes(v);
            bytes.insert(bytes.end(), more.begin(), more.end());
            FValue = Rtl::BytesToVarArray(bytes.data(), bytes.size());
        } else {
            FValue = Variant(FValue.ToWideString() + v.ToWideString());
        }
        FChunkStarted = true;
    });
}

Variant TParameterObject::ValueForBinding(const String& label) const {
    if (FDirection == adParamOutput) return Variant::Null();
    Variant v = FValue;
    if (v.IsEmpty() || Com::IsEmptyParam(v)) v = Variant::Null();
    if (v.IsNull() || !IsSizedType(FType)) return v;
    if (FSize <= 0)
        AdoFail(adErrInvalidParamInfo, "parameter " + label + " of type " + DataTypeName(FType) +
                                           " has no Size for its value " + DescribeValue(v));
    std::size_t length;
    if (IsBinaryType(FType) && v.IsArray())
        length = Rtl::VarArrayToBytes(v).size();
    else
        length = v.ToWideString().size();
    if (length > static_cast<std::size_t>(FSize))
        throw EEngineError("Parameter " + label + " holds " + DescribeValue(v) + " (" + std::to_string(length) +
                               (IsBinaryType(FType) ? " bytes" : " characters") + "), longer than its Size " +
                               std::to_string(FSize) + "; nothing was cut",
                           hrDataOverflow, 0, "22001");
    return v;
}

const Com::TDispatchTable<TParameterObject>& TParameterObject::GetDispatchTable() {
    using T = TParameterObject;
    static const auto table = Com::TDispatchTable<T>("ADODB.Parameter")
                                  .Property("Properties", 500, &T::GetProperties)
                                  .Property("Name", 1, &T::GetName, &T::SetName)
                                  .Property("Value", 0, &T::GetValue, &T::SetValue)
                                  .Property("Type", 2, &T::GetType, &T::SetType)
                                  .Property("Direction", 3, &T::GetDirection, &T::SetDirection)
                                  .Property("Precision", 4, &T::GetPrecision, &T::SetPrecision)
                                  .Property("NumericScale", 5, &T::GetNumericScale, &T::SetNumericScale)
                                  .Property("Size", 6, &T::GetSize, &T::SetSize)
                                  .Method("AppendChunk", 7, &T::AppendChunk)
                                  .Property("Attributes", 8, &T::GetAttributes, &T::SetAttributes);
    return table;
}

// ---- Parameters -------------------------------------------------------------------------------------

TParametersCollection::TParametersCollection(Rtl::IUnknown* controller, TCommandObject* owner)
    : TDispatchImpl(controller), FOwner(owner) {}

TParametersCollection::~TParametersCollection() {
    for (auto& p : FItems) p->SetInCollection(false);
}

void TParametersCollection::Fill(std::vector<ComPtr<TParameterObject>> items) {
    for (auto& p : FItems) p->SetInCollection(false);
    FItems = std::move(items);
    for (auto& p : FItems) p->SetInCollection(true);
    FRefreshed = true;
}

int TParametersCollection::GetCount() {
    return FOwner->Guard([&] {
        // As ADO does, an untouched collection asks the provider first.
        if (!FRefreshed && FItems.empty() && FOwner->Connection() && FOwner->Connection()->IsOpen() &&
            !Narrow(FOwner->GetCommandText()).empty())
            FOwner->RefreshParameters();
        return static_cast<int>(FItems.size());
    });
}

ComPtr<Rtl::IUnknown> TParametersCollection::_NewEnum() {
    return FOwner->Guard([&]() -> ComPtr<Rtl::IUnknown> { NoEnumerator("Parameters"); });
}

void TParametersCollection::Refresh() {
    FOwner->Guard([&] { FOwner->RefreshParameters(); });
}

void TParametersCollection::Append(Com::IDispatch* Object) {
    FOwner->Guard([&] {
        TParameterObject* p = ParameterOf(Object);
        if (!p) AdoFail(adErrInvalidArgument, "Parameters.Append takes a Parameter object of this data engine");
        if (p->InCollection())
            AdoFail(adErrObjectInCollection, "parameter " + Label(p->Name(), 0) + " is already in a Parameters collection");
        FItems.emplace_back(p);
        p->SetInCollection(true);
        FRefreshed = true;
    });
}

int TParametersCollection::IndexOf(const String& name) const {
    auto strip = [](std::string_view s) {
        if (!s.empty() && (s[0] == ':' || s[0] == '@' || s[0] == '$' || s[0] == '?')) s.remove_prefix(1);
        return s;
    };
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (Rtl::SameText(FItems[i]->Name(), name)) return static_cast<int>(i);
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (!FItems[i]->Name().empty() && Rtl::SameText(strip(FItems[i]->Name()), strip(name))) return static_cast<int>(i);
    return -1;
}

void TParametersCollection::Delete(const Variant& Index) {
    FOwner->Guard([&] {
        const int i = ResolveIndex(Index, static_cast<int>(FItems.size()), [&](const String& n) { return IndexOf(n); },
                                   "Parameters");
        if (i < 0) AdoFail(adErrItemNotFound, "Parameters has no item " + DescribeValue(Index));
        FItems[static_cast<std::size_t>(i)]->SetInCollection(false);
        FItems.erase(FItems.begin() + i);
    });
}

ComPtr<_Parameter> TParametersCollection::GetItem(const Variant& Index) {
    return FOwner->Guard([&] {
        GetCount();  // refreshes an untouched collection
        const int i = ResolveIndex(Index, static_cast<int>(FItems.size()), [&](const String& n) { return IndexOf(n); },
                                   "Parameters");
        if (i < 0) AdoFail(adErrItemNotFound, "Parameters has no item " + DescribeValue(Index));
        return ComPtr<_Parameter>(FItems[static_cast<std::size_t>(i)].Get());
    });
}

const Com::TDispatchTable<TParametersCollection>& TParametersCollection::GetDispatchTable() {
    using T = TParametersCollection;
    static const auto table = Com::TDispatchTable<T>("ADODB.Parameters")
                                  .Property("Count", 1, &T::GetCount)
                                  .Method("Refresh", 2, &T::Refresh)
                                  .Method(
                                      "Append", 3,
                                      [](T& self, Com::TDispCall& call) {
                                          self.Append(Com::VarToDispatch(call.Arg(0)).Get());
                                      },
                                      1, 1)
                                  .Method("Delete", 4, &T::Delete)
                                  .Property("Item", 0, &T::GetItem);
    return table;
}

// ---- Command ---------------------------------------------------------------------------------------------

TCommandObject::TCommandObject() {
    FParameters = std::make_unique<TParametersCollection>(UnknownOf(this), this);
    FProperties = std::make_unique<TPropertiesCollection>(
        UnknownOf(this), this,
        [this] {
            return std::vector<TPropertyInfo>{
                {"Command Time Out", Variant(FCommandTimeout), adPropRead | adPropWrite},
                {"Prepared Statements", Variant(FPrepareCount), adPropRead},
            };
        },
        [this](const String& name, const Variant& value) {
            if (Rtl::SameText(name, "Command Time Out")) SetCommandTimeout(value.ToInteger());
        });
}

TCommandObject::~TCommandObject() {
    // An asynchronous execution of this command stops with it.
    if (FExecuting && FConnection) FConnection->AbandonAsync();
}

ComPtr<Properties> TCommandObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

void TCommandObject::CheckNotExecuting() const {
    if (FExecuting) AdoFail(adErrStillExecuting, "the command is running");
}

ComPtr<_Connection> TCommandObject::GetActiveConnection() {
    return FConnection ? ComPtr<_Connection>(static_cast<_Connection*>(FConnection.Get())) : ComPtr<_Connection>();
}

void TCommandObject::SetActiveConnectionRef(_Connection* Value) {
    Guard([&] {
        CheckNotExecuting();
        if (!Value) {
            FConnection = nullptr;
        } else {
            TConnectionObject* c = ConnectionOf(Value);
            if (!c) AdoFail(adErrInvalidArgument, "ActiveConnection takes a Connection object of this data engine");
            FConnection = c;
        }
        FPrivateConnection = false;
        FStatement.reset();
    });
}

void TCommandObject::SetActiveConnection(const Variant& Value) {
    Guard([&] {
        CheckNotExecuting();
        const Variant v = Value.IsByRef() ? Value.Deref() : Value;
        if (v.BaseType() == Rtl::varDispatch || v.BaseType() == Rtl::varUnknown) {
            Rtl::IUnknown* unk = v.GetInterface();
            if (!unk) {
                SetActiveConnectionRef(nullptr);
                return;
            }
            TConnectionObject* c = ConnectionOf(unk);
            if (!c) AdoFail(adErrInvalidArgument, "ActiveConnection takes a Connection object of this data engine");
            SetActiveConnectionRef(static_cast<_Connection*>(c));
            return;
        }
        if (IsMissing(v) || (Rtl::VarIsStr(v) && v.ToString().empty())) {
            SetActiveConnectionRef(nullptr);
            return;
        }
        if (!Rtl::VarIsStr(v))
            AdoFail(adErrInvalidArgument, "ActiveConnection takes a Connection object or a connection string, not " +
                                              DescribeValue(v));
        // A connection string opens a connection of the command's own.
        auto c = Com::MakeComObject<TConnectionObject>();
        c->SetConnectionString(v.ToWideString());
        c->Open({}, {}, {}, adConnectUnspecified);
        FConnection = c;
        FPrivateConnection = true;
        FStatement.reset();
    });
}

WideString TCommandObject::GetCommandText() { return FCommandStream ? WideString() : Wide(FCommandText); }

void TCommandObject::SetCommandText(const WideString& Value) {
    Guard([&] {
        CheckNotExecuting();
        FCommandText = Narrow(Value);
        FCommandStream = nullptr;  // the text and the stream exclude each other
    });
}

void TCommandObject::TakeStreamText() {
    if (!FCommandStream) return;
    TStreamObject* stream = StreamOf(FCommandStream.Get());
    FCommandText = stream->ContentText("Command.CommandStream");
}

int TCommandObject::GetCommandTimeout() { return FCommandTimeout; }

void TCommandObject::SetCommandTimeout(int Value) {
    Guard([&] {
        if (Value < 0) AdoFail(adErrInvalidArgument, "CommandTimeout " + std::to_string(Value) + " is negative");
        FCommandTimeout = Value;
    });
}

bool TCommandObject::GetPrepared() { return FPrepared; }

void TCommandObject::SetPrepared(bool Value) {
    FPrepared = Value;
    if (!Value) FStatement.reset();
}

void TCommandObject::SetCommandType(CommandTypeEnum Value) {
    Guard([&] {
        CheckNotExecuting();
        switch (static_cast<int>(Value)) {
            case adCmdUnspecified: Value = adCmdUnknown; break;
            case adCmdText:
            case adCmdTable:
            case adCmdStoredProc:
            case adCmdUnknown:
            case adCmdFile:
            case adCmdTableDirect: break;
            default: AdoFail(adErrInvalidArgument, "CommandType " + std::to_string(Value) + " is not a CommandTypeEnum value");
        }
        if (Value != FCommandType) FStatement.reset();
        FCommandType = Value;
    });
}

CommandTypeEnum TCommandObject::GetCommandType() { return FCommandType; }
WideString TCommandObject::GetName() { return Wide(FName); }
void TCommandObject::SetName(const WideString& Value) { FName = Narrow(Value); }
int TCommandObject::GetState() { return FExecuting ? adStateExecuting : adStateClosed; }

void TCommandObject::Cancel() {
    Guard([&] {
        if (FConnection && FExecuting) FConnection->Cancel();
    });
}

void TCommandObject::SetCommandStreamRef(Rtl::IUnknown* Value) {
    Guard([&] {
        CheckNotExecuting();
        if (!Value) {
            FCommandStream = nullptr;
            return;
        }
        if (!StreamOf(Value)) AdoFail(adErrInvalidArgument, "Command.CommandStream takes a Stream object");
        FCommandStream = Com::QueryInterface<_Stream>(Value);
        FCommandText.clear();
        FStatement.reset();
    });
}

Variant TCommandObject::GetCommandStream() {
    if (!FCommandStream) return Variant();
    return Com::VarFromInterface(static_cast<Com::IDispatch*>(FCommandStream.Get()));
}

void TCommandObject::SetDialect(const WideString& Value) {
    Guard([&] {
        Com::GUID g;
        if (!Com::TryStringToGUID(Narrow(Value), g))
            AdoFail(adErrInvalidArgument, "Dialect '" + Narrow(Value) + "' is not a GUID in braces");
        FDialect = Value;
    });
}

WideString TCommandObject::GetDialect() { return FDialect; }
void TCommandObject::SetNamedParameters(bool Value) { FNamedParameters = Value; }
bool TCommandObject::GetNamedParameters() { return FNamedParameters; }

ComPtr<Velora::Parameters> TCommandObject::GetParameters() {
    return ComPtr<Velora::Parameters>(FParameters.get());
}

ComPtr<_Parameter> TCommandObject::CreateParameter(const WideString& Name, DataTypeEnum Type,
                                                   ParameterDirectionEnum Direction, int Size, const Variant& Value) {
    return Guard([&] {
        auto p = Com::MakeComObject<TParameterObject>();
        p->SetName(Name);
        p->SetType(Type);
        p->SetDirection(Direction);
        p->SetSize(Size);
        if (!Com::IsEmptyParam(Value)) p->SetValue(Value);
        return ComPtr<_Parameter>(p.Get());
    });
}

void TCommandObject::RefreshParameters() {
    if (!FConnection) AdoFail(adErrInvalidConnection, "Parameters.Refresh: the command has no connection");
    FConnection->CheckUsable("Parameters.Refresh");
    TakeStreamText();
    if (Rtl::Trim(FCommandText).empty())
        throw EEngineError("Command text was not set for the command object", hrNoCommandText);
    CommandTypeEnum type = FCommandType;
    const String text = CommandTextToRun(type);
    auto stmt = std::shared_ptr<TStatement>(FConnection->GetSession().CreateStatement());
    if (type == adCmdStoredProc)
        stmt->PrepareProcedure(text);
    else
        stmt->Prepare(text);
    ++FPrepareCount;
    std::vector<ComPtr<TParameterObject>> items;
    for (const TParamInfo& info : stmt->DescribeParameters()) {
        auto p = Com::MakeComObject<TParameterObject>();
        p->SetName(Wide(info.Name.empty() ? "Param" + std::to_string(info.Ordinal) : info.Name));
        p->SetType(info.Type);
        p->SetDirection(info.Direction);
        p->SetSize(info.Size);
        p->SetPrecision(info.Precision);
        p->SetNumericScale(info.NumericScale);
        p->SetAttributes(info.Attributes & (adParamSigned | adParamNullable | adParamLong));
        items.push_back(p);
    }
    FParameters->Fill(std::move(items));
    if (FPrepared) {
        FStatement = stmt;
        FStatementText = FCommandText;
        FStatementOpenCount = FConnection->GetOpenCount();
    }
}

String TCommandObject::CommandTextToRun(CommandTypeEnum& type) {
    if (type == adCmdTable || type == adCmdTableDirect) {
        type = adCmdText;
        return FConnection->TableCommandText(FCommandText);
    }
    return FCommandText;
}

std::vector<TCommandObject::TBinding> TCommandObject::Bindings(const Variant& values) {
    std::vector<TBinding> out;
    auto& items = FParameters->Items();
    const Variant array = values.IsByRef() ? values.Deref() : values;
    if (array.IsArray()) {
        // Values given to Execute stand in for the collection's, in order.
        if (Rtl::VarArrayDimCount(array) != 1)
            AdoFail(adErrInvalidArgument, "the Parameters argument must be a one-dimensional array of values");
        const int low = Rtl::VarArrayLowBound(array, 1);
        const int high = Rtl::VarArrayHighBound(array, 1);
        // A return value takes no value but keeps its place among the provider's ordinals.
        std::size_t item = 0;
        for (int i = low; i <= high; ++i) {
            while (item < items.size() && items[item]->GetDirection() == adParamReturnValue) ++item;
            Variant v = array.GetElement(i);
            if (v.IsEmpty()) v = Variant::Null();
            DataTypeEnum type = adEmpty;
            if (item < items.size()) {
                type = items[item]->GetType();
                if (type == adVariant) type = adEmpty;
            }
            out.push_back({static_cast<int>(item) + 1, {}, v, type});
            ++item;
        }
        return out;
    }
    if (!IsMissing(array))
        AdoFail(adErrInvalidArgument, "the Parameters argument must be an array of values, not " + DescribeValue(array));
    // The collection's order is the provider's: a return value (a function's) is ordinal 1 and is not bound.
    int position = 0;
    for (auto& p : items) {
        ++position;
        if (p->GetDirection() == adParamReturnValue) continue;
        const String label = Label(p->Name(), position);
        const Variant v = p->ValueForBinding(label);
        DataTypeEnum type = p->GetType();
        if (type == adVariant) type = adEmpty;
        if (FNamedParameters && !p->Name().empty())
            out.push_back({0, p->Name(), v, type});
        else
            out.push_back({position, {}, v, type});
    }
    return out;
}

void TCommandObject::Apply(TStatement& statement, const std::vector<TBinding>& bindings) {
    statement.ClearParameters();
    for (const auto& b : bindings) {
        if (b.Position == 0)
            statement.SetParameter(b.Name, b.Value, b.Type);
        else
            statement.SetParameter(b.Position, b.Value, b.Type);
    }
}

void TCommandObject::Bind(TStatement& statement, const Variant& values) { Apply(statement, Bindings(values)); }


TExecResult TCommandObject::Run(int options, const Variant& values, CursorTypeEnum cursorType, LockTypeEnum lockType,
                                TRecordsetObject* recordset, std::function<void(TExecResult&)> after,
                                std::function<void()> failed) {
    if (!FConnection) AdoFail(adErrInvalidConnection, "the command has no ActiveConnection");
    FConnection->CheckUsable("Command.Execute");
    TakeStreamText();
    if (Rtl::Trim(FCommandText).empty())
        throw EEngineError("Command text was not set for the command object", hrNoCommandText);
    if (options != adOptionUnspecified && (options & adAsyncExecute) && !after)
        NotImplementedYet("Asynchronous execution (adAsyncExecute) of a recordset's command");
    CheckNotExecuting();
    CommandTypeEnum type = FCommandType;
    if (options != adOptionUnspecified && (options & CommandTypeMask))
        type = static_cast<CommandTypeEnum>(options & CommandTypeMask);

    TExecRequest request;
    request.Source = FCommandText;
    request.CommandType = type;
    request.CursorType = cursorType;
    request.LockType = lockType;
    request.Options = options;
    request.Command = this;
    request.Recordset = recordset;
    request.NoRecords = options != adOptionUnspecified && (options & adExecuteNoRecords);
    // A kept statement is reused unless a recordset still reads from it.
    if (FPrepared && FStatement && FStatementText == FCommandText && FStatementOpenCount == FConnection->GetOpenCount() &&
        FStatement.use_count() == 1)
        request.Prepared = FStatement;
    request.Bind = [&](TStatement& st) { Bind(st, values); };
    if (options != adOptionUnspecified && (options & adAsyncExecute)) {
        // The worker binds the values read now, never the parameter objects.
        auto bindings = std::make_shared<std::vector<TBinding>>(Bindings(values));
        request.Bind = [bindings](TStatement& st) { Apply(st, *bindings); };
        if (recordset) request.OnWorker = recordset->TakeWorkerPrefetch();
    }

    FConnection->GetSession().SetCommandTimeout(FCommandTimeout);
    if (options != adOptionUnspecified && (options & adAsyncExecute)) {
        ComPtr<TConnectionObject> connection = FConnection;
        auto restore = [connection] {
            try {
                if (connection->IsOpen()) connection->GetSession().SetCommandTimeout(connection->GetCommandTimeout());
            } catch (...) {
            }
        };
        FExecuting = true;
        try {
            connection->StartCommand(
                std::move(request),
                [this, restore, after = std::move(after)](TExecResult& run) {
                    FExecuting = false;
                    restore();
                    Finished(run);
                    after(run);
                },
                [this, restore, failed = std::move(failed)] {
                    FExecuting = false;
                    restore();
                    if (failed) failed();
                });
        } catch (...) {
            FExecuting = false;
            restore();
            throw;
        }
        return {};
    }
    FExecuting = true;
    TExecResult run;
    try {
        run = FConnection->RunCommand(std::move(request));
    } catch (...) {
        FExecuting = false;
        try {
            FConnection->GetSession().SetCommandTimeout(FConnection->GetCommandTimeout());
        } catch (...) {
        }
        throw;
    }
    FExecuting = false;
    FConnection->GetSession().SetCommandTimeout(FConnection->GetCommandTimeout());
    Finished(run);
    return run;
}

void TCommandObject::Finished(TExecResult& run) {
    if (run.Statement != FStatement) {
        ++FPrepareCount;
        if (FPrepared) {
            FStatement = run.Statement;
            FStatementText = FCommandText;
            FStatementOpenCount = FConnection->GetOpenCount();
        }
    }
    // Output values, where the provider has them.
    int position = 0;
    for (auto& p : FParameters->Items()) {
        ++position;
        if (p->GetDirection() == adParamInput) continue;
        const Variant v = run.Statement->GetParameterValue(position);
        if (!v.IsEmpty()) p->SetOutputValue(v);
    }
}

ComPtr<_Recordset> TCommandObject::Execute(Variant* RecordsAffected, const Variant& Parameters, int Options) {
    return Guard([&] {
        if (RecordsAffected) *RecordsAffected = Variant();
        const bool noRecords = Options != adOptionUnspecified && (Options & adExecuteNoRecords);
        auto rs = Com::MakeComObject<TRecordsetObject>();
        if (Options != adOptionUnspecified && (Options & adAsyncExecute)) {
            // The recordset opens when the execution ends (ExecuteComplete).
            TRecordsetObject* target = rs.Get();
            Run(Options, Parameters, adOpenForwardOnly, adLockReadOnly, noRecords ? nullptr : rs.Get(),
                [this, noRecords, target](TExecResult& run) {
                    if (!noRecords) target->OpenOnResult(FConnection, run, FConnection->GetCursorLocation(), this);
                    FConnection->FireExecuteComplete(run.RecordsAffected, nullptr, this, noRecords ? nullptr : target);
                });
            return noRecords ? ComPtr<_Recordset>() : ComPtr<_Recordset>(static_cast<_Recordset*>(rs.Get()));
        }
        TExecResult run = Run(Options, Parameters, adOpenForwardOnly, adLockReadOnly, noRecords ? nullptr : rs.Get());
        try {
            if (!noRecords) rs->OpenOnResult(FConnection, run, FConnection->GetCursorLocation(), this);
        } catch (...) {
            RaiseWithComplete([&](Error* e) { FConnection->FireExecuteComplete(run.RecordsAffected, e, this, rs.Get()); });
        }
        if (RecordsAffected)
            *RecordsAffected = Variant(static_cast<int>(std::clamp<Int64>(run.RecordsAffected, -1, INT32_MAX)));
        FConnection->FireExecuteComplete(run.RecordsAffected, nullptr, this, noRecords ? nullptr : rs.Get());
        return noRecords ? ComPtr<_Recordset>() : ComPtr<_Recordset>(static_cast<_Recordset*>(rs.Get()));
    });
}

const Com::TDispatchTable<TCommandObject>& TCommandObject::GetDispatchTable() {
    using T = TCommandObject;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Command")
            .Property("Properties", 500, &T::GetProperties)
            .Property(
                "ActiveConnection", 1,
                [](T& self, TDispCall& call) { call.Result = Com::VarFromInterface(self.GetActiveConnection()); },
                [](T& self, TDispCall& call) { self.SetActiveConnection(call.Value()); },
                [](T& self, TDispCall& call) { self.SetActiveConnection(call.Value()); })
            .Property("CommandText", 2, &T::GetCommandText, &T::SetCommandText)
            .Property("CommandTimeout", 3, &T::GetCommandTimeout, &T::SetCommandTimeout)
            .Property("Prepared", 4, &T::GetPrepared, &T::SetPrepared)
            .Method(
                "Execute", 5,
                [](T& self, TDispCall& call) {
                    Variant affected;
                    const Variant params = call.IsOmitted(1) ? Com::EmptyParam : call.Arg(1);
                    auto rs = self.Execute(&affected, params, call.ArgOr<int>(2, adOptionUnspecified));
                    if (call.IsByRef(0)) call.SetArg(0, affected);
                    call.Result = Com::VarFromInterface(rs);
                },
                0, 3)
            .Method(
                "CreateParameter", 6,
                [](T& self, TDispCall& call) {
                    call.Result = Com::VarFromInterface(self.CreateParameter(
                        call.ArgOr<WideString>(0, {}), call.ArgOr<DataTypeEnum>(1, adEmpty),
                        call.ArgOr<ParameterDirectionEnum>(2, adParamInput), call.ArgOr<int>(3, 0),
                        call.IsOmitted(4) ? Com::EmptyParam : call.Arg(4)));
                },
                0, 5)
            .Property("Parameters", 0, &T::GetParameters)
            .Property("CommandType", 7, &T::GetCommandType, &T::SetCommandType)
            .Property("Name", 8, &T::GetName, &T::SetName)
            .Property("State", 9, &T::GetState)
            .Method("Cancel", 10, &T::Cancel)
            .Property("Dialect", 12, &T::GetDialect, &T::SetDialect)
            .Property("NamedParameters", 13, &T::GetNamedParameters, &T::SetNamedParameters);
    return table;
}

}  // namespace DataEngine::Ado
