#include "Platform/data-engine/objects/AdoSupport.h"

#include <new>

namespace DataEngine::Ado {

// ---- Failures ----------------------------------------------------------------------------------

String AdoErrorText(ErrorValueEnum code) {
    switch (code) {
        case adErrProviderFailed: return "Provider failed to perform the requested operation.";
        case adErrInvalidArgument:
            return "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
        case adErrOpeningFile: return "File could not be opened.";
        case adErrReadFile: return "File could not be read.";
        case adErrWriteFile: return "Write to file failed.";
        case adErrNoCurrentRecord:
            return "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
                   "current record.";
        case adErrIllegalOperation: return "Operation is not allowed in this context.";
        case adErrCantChangeProvider: return "Supplied provider is different from the one already in use.";
        case adErrInTransaction: return "Connection object cannot be explicitly closed while in a transaction.";
        case adErrFeatureNotAvailable: return "Object or provider is not capable of performing requested operation.";
        case adErrItemNotFound:
            return "Item cannot be found in the collection corresponding to the requested name or ordinal.";
        case adErrObjectInCollection: return "Object is already in collection. Cannot append.";
        case adErrObjectNotSet: return "Object is no longer valid.";
        case adErrDataConversion: return "Application uses a value of the wrong type for the current operation.";
        case adErrObjectClosed: return "Operation is not allowed when the object is closed.";
        case adErrObjectOpen: return "Operation is not allowed when the object is open.";
        case adErrProviderNotFound: return "Provider cannot be found. It may not be properly installed.";
        case adErrBoundToCommand:
            return "Cannot change the ActiveConnection property of a Recordset object which has a Command object as "
                   "its source.";
        case adErrInvalidParamInfo:
            return "Parameter object is improperly defined. Inconsistent or incomplete information was provided.";
        case adErrInvalidConnection:
            return "The connection cannot be used to perform this operation. It is either closed or invalid in this "
                   "context.";
        case adErrNotReentrant: return "Operation cannot be performed while processing event.";
        case adErrStillExecuting: return "Operation cannot be performed while executing asynchronously.";
        case adErrOperationCancelled: return "Operation was cancelled.";
        case adErrStillConnecting: return "Operation cannot be performed while connecting asynchronously.";
        case adErrInvalidTransaction: return "Coordinating transaction is invalid or has not started.";
        case adErrNotExecuting: return "Operation cannot be performed while not executing.";
        case adErrIntegrityViolation: return "Data value conflicts with the integrity constraints of the field.";
        case adErrPermissionDenied: return "Insufficient permission prevents writing to the field.";
        case adErrDataOverflow: return "Data value is too large to be represented by the field data type.";
        case adErrSchemaViolation: return "Data value conflicts with the data type or constraints of the field.";
        case adErrCantConvertvalue:
            return "Data value cannot be converted for reasons other than sign mismatch or data overflow.";
        case adErrColumnNotOnThisRow: return "Field does not exist in this record.";
        case adErrPropInvalidValue: return "Invalid property value.";
        case adErrPropNotSettable: return "Property is read-only or cannot be set.";
        case adErrPropNotSupported: return "Property not supported.";
        case adErrCantChangeConnection:
            return "Connection was denied. The new connection you requested has different characteristics than the "
                   "one already in use.";
        case adErrProviderNotSpecified: return "Provider is not specified and there is no designated default provider.";
        default: return "ADO error " + std::to_string(static_cast<int>(code)) + ".";
    }
}

void AdoFail(ErrorValueEnum code, std::string_view detail) {
    String text = AdoErrorText(code);
    if (!detail.empty()) {
        if (!text.empty() && text.back() == '.') text.pop_back();
        text += ": " + String(detail);
    }
    throw EEngineError(std::move(text), AdoErrorHResult(code));
}

void NotImplementedYet(std::string_view member) {
    throw EEngineError(String(member) + " is not implemented yet in this data engine", Com::E_NOTIMPL);
}

EAdoError::EAdoError(const TFailure& f)
    : EOleException(f.Description, f.Number, f.Source, f.HelpFile, f.HelpContext),
      FSQLState(f.SQLState),
      FNativeError(f.NativeError) {}

TFailure DescribeCurrentException(std::string_view defaultSource) noexcept {
    TFailure f;
    try {
        f.Source = String(defaultSource);
        try {
            throw;
        } catch (const EEngineError& e) {
            f.Number = e.GetNumber();
            f.Description = e.Message();
            f.SQLState = e.GetSQLState();
            f.NativeError = e.GetNativeError();
            if (!e.GetSource().empty()) f.Source = e.GetSource();
        } catch (const EAdoError& e) {
            f.Number = e.ErrorCode();
            f.Description = e.Description();
            f.SQLState = e.GetSQLState();
            f.NativeError = e.GetNativeError();
            if (!e.Source().empty()) f.Source = e.Source();
        } catch (const Com::EOleException& e) {
            f.Number = e.ErrorCode();
            f.Description = e.Description().empty() ? e.Message() : e.Description();
            if (!e.Source().empty()) f.Source = e.Source();
            f.HelpFile = e.HelpFile();
            f.HelpContext = e.HelpContext();
        } catch (const Com::EOleSysError& e) {
            f.Number = e.ErrorCode();
            f.Description = e.Message();
        } catch (const Rtl::EVariantError& e) {
            // A value of the wrong kind for an argument or a field.
            f.Number = AdoErrorHResult(adErrDataConversion);
            f.Description = AdoErrorText(adErrDataConversion);
            f.Description.pop_back();
            f.Description += ": " + e.Message();
        } catch (const Com::EIntfCastError& e) {
            f.Number = AdoErrorHResult(adErrInvalidArgument);
            f.Description = e.Message();
        } catch (const Rtl::Exception& e) {
            f.Description = e.Message();
        } catch (const std::bad_alloc&) {
            f.Number = Com::E_OUTOFMEMORY;
            f.Description = Com::HResultMessage(f.Number);
        } catch (const std::exception& e) {
            f.Description = e.what();
        } catch (...) {
            f.Number = Com::E_UNEXPECTED;
            f.Description = Com::HResultMessage(f.Number);
        }
        if (!Com::Failed(f.Number)) f.Number = hrFail;
    } catch (...) {
        f.Number = Com::E_OUTOFMEMORY;
    }
    return f;
}

WideString Wide(std::string_view s) { return Rtl::Utf8ToWide(s); }
String Narrow(const WideString& s) { return Rtl::WideToUtf8(s); }

// ---- Error and Errors ------------------------------------------------------------------------------

const Com::TDispatchTable<TErrorObject>& TErrorObject::GetDispatchTable() {
    static const auto table = Com::TDispatchTable<TErrorObject>("ADODB.Error")
                                  .Property("Number", 1, &TErrorObject::GetNumber)
                                  .Property("Source", 2, &TErrorObject::GetSource)
                                  .Property("Description", 0, &TErrorObject::GetDescription)
                                  .Property("HelpFile", 3, &TErrorObject::GetHelpFile)
                                  .Property("HelpContext", 4, &TErrorObject::GetHelpContext)
                                  .Property("SQLState", 5, &TErrorObject::GetSQLState)
                                  .Property("NativeError", 6, &TErrorObject::GetNativeError);
    return table;
}

ComPtr<Error> MakeError(const TFailure& failure) {
    return Com::MakeComObject<TErrorObject>(failure).As<Error>();
}

ComPtr<Rtl::IUnknown> TErrorsCollection::_NewEnum() {
    try {
        NoEnumerator("Errors");
    } catch (...) {
        throw EAdoError(DescribeCurrentException("ADODB.Errors"));
    }
}

ComPtr<Error> TErrorsCollection::GetItem(const Variant& Index) {
    // The collection reports its own lookup failures without touching itself.
    try {
        const int i = ResolveIndex(Index, GetCount(), [](const String&) { return -1; }, "Errors");
        if (i < 0) AdoFail(adErrItemNotFound, "Errors has no item " + DescribeValue(Index));
        return FItems[static_cast<std::size_t>(i)];
    } catch (...) {
        throw EAdoError(DescribeCurrentException("ADODB.Errors"));
    }
}

ComPtr<Error> TErrorsCollection::Report(const TFailure& failure) {
    FItems.clear();
    return AddWarning(failure);
}

ComPtr<Error> TErrorsCollection::AddWarning(const TFailure& failure) {
    auto e = MakeError(failure);
    FItems.push_back(e);
    return e;
}

const Com::TDispatchTable<TErrorsCollection>& TErrorsCollection::GetDispatchTable() {
    static const auto table = Com::TDispatchTable<TErrorsCollection>("ADODB.Errors")
                                  .Property("Count", 1, &TErrorsCollection::GetCount)
                                  .Method("Refresh", 2, &TErrorsCollection::Refresh)
                                  .Property("Item", 0, &TErrorsCollection::GetItem)
                                  .Method("Clear", 3, &TErrorsCollection::Clear);
    return table;
}

// ---- Guarded members ---------------------------------------------------------------------------------

void TFailureReporter::RaiseReported(const TFailure& failure) {
    if (TErrorsCollection* errors = GetErrorTarget()) errors->Report(failure);
    throw EAdoError(failure);
}

void TFailureReporter::RaiseWithComplete(const std::function<void(Error*)>& complete) {
    const TFailure f = DescribeCurrentException(GetSourceName());
    ComPtr<Error> error;
    bool reported = false;
    try {
        throw;
    } catch (const EAdoError&) {
        reported = true;
    } catch (...) {
    }
    TErrorsCollection* errors = GetErrorTarget();
    if (!reported && errors)
        error = errors->Report(f);
    else
        error = MakeError(f);
    try {
        complete(error.Get());
    } catch (...) {
    }
    throw EAdoError(f);
}

// ---- Dynamic properties -----------------------------------------------------------------------------

DataTypeEnum VariantDataType(const Variant& v) noexcept {
    if (v.IsArray()) return static_cast<DataTypeEnum>(adArray | Rtl::VarArrayElementType(v));
    switch (v.BaseType()) {
        case Rtl::varEmpty: return adEmpty;
        case Rtl::varNull: return adEmpty;
        case Rtl::varSmallint: return adSmallInt;
        case Rtl::varInteger: return adInteger;
        case Rtl::varSingle: return adSingle;
        case Rtl::varDouble: return adDouble;
        case Rtl::varCurrency: return adCurrency;
        case Rtl::varDate: return adDate;
        case Rtl::varOleStr:
        case Rtl::varString: return adBSTR;
        case Rtl::varDispatch: return adIDispatch;
        case Rtl::varError: return adError;
        case Rtl::varBoolean: return adBoolean;
        case Rtl::varUnknown: return adIUnknown;
        case Rtl::varDecimal: return adDecimal;
        case Rtl::varShortInt: return adTinyInt;
        case Rtl::varByte: return adUnsignedTinyInt;
        case Rtl::varWord: return adUnsignedSmallInt;
        case Rtl::varLongWord: return adUnsignedInt;
        case Rtl::varInt64: return adBigInt;
        case Rtl::varUInt64: return adUnsignedBigInt;
        default: return adVariant;
    }
}

Variant TPropertyObject::GetValue() {
    return FOwner->GetReporter()->Guard([&] { return FOwner->Find(FName).Value; });
}

void TPropertyObject::SetValue(const Variant& Value) {
    FOwner->GetReporter()->Guard([&] { FOwner->Set(FName, Value); });
}

DataTypeEnum TPropertyObject::GetType() {
    return FOwner->GetReporter()->Guard([&] { return VariantDataType(FOwner->Find(FName).Value); });
}

int TPropertyObject::GetAttributes() {
    return FOwner->GetReporter()->Guard([&] { return FOwner->Find(FName).Attributes; });
}

void TPropertyObject::SetAttributes(int) {
    FOwner->GetReporter()->Guard([&] { AdoFail(adErrPropNotSettable, "the attributes of property \"" + FName + "\""); });
}

const Com::TDispatchTable<TPropertyObject>& TPropertyObject::GetDispatchTable() {
    static const auto table = Com::TDispatchTable<TPropertyObject>("ADODB.Property")
                                  .Property("Value", 0, &TPropertyObject::GetValue, &TPropertyObject::SetValue)
                                  .Property("Name", 1, &TPropertyObject::GetName)
                                  .Property("Type", 2, &TPropertyObject::GetType)
                                  .Property("Attributes", 3, &TPropertyObject::GetAttributes,
                                            &TPropertyObject::SetAttributes);
    return table;
}

TPropertiesCollection::TPropertiesCollection(Rtl::IUnknown* controller, TFailureReporter* reporter, TLister lister,
                                             TSetter setter)
    : TDispatchImpl(controller),
      FController(controller),
      FReporter(reporter),
      FLister(std::move(lister)),
      FSetter(std::move(setter)) {}

TPropertiesCollection::~TPropertiesCollection() = default;

int TPropertiesCollection::GetCount() {
    return FReporter->Guard([&] { return static_cast<int>(FLister().size()); });
}

ComPtr<Rtl::IUnknown> TPropertiesCollection::_NewEnum() {
    return FReporter->Guard([&]() -> ComPtr<Rtl::IUnknown> { NoEnumerator("Properties"); });
}

TPropertyObject* TPropertiesCollection::ObjectFor(const String& name) {
    const String key = Rtl::LowerCase(name);
    auto& slot = FObjects[key];
    if (!slot) slot = std::make_unique<TPropertyObject>(FController, this, name);
    return slot.get();
}

ComPtr<Property> TPropertiesCollection::GetItem(const Variant& Index) {
    return FReporter->Guard([&] {
        const auto list = FLister();
        const int i = ResolveIndex(
            Index, static_cast<int>(list.size()),
            [&](const String& name) {
                for (std::size_t k = 0; k < list.size(); ++k)
                    if (Rtl::SameText(list[k].Name, name)) return static_cast<int>(k);
                return -1;
            },
            "Properties");
        if (i < 0) AdoFail(adErrItemNotFound, "Properties has no item " + DescribeValue(Index));
        return ComPtr<Property>(ObjectFor(list[static_cast<std::size_t>(i)].Name));
    });
}

TPropertyInfo TPropertiesCollection::Find(const String& name) {
    for (auto& p : FLister())
        if (Rtl::SameText(p.Name, name)) return p;
    AdoFail(adErrItemNotFound, "the property \"" + name + "\" no longer exists");
}

void TPropertiesCollection::Set(const String& name, const Variant& value) {
    const TPropertyInfo info = Find(name);
    if (!(info.Attributes & adPropWrite) || !FSetter)
        AdoFail(adErrPropNotSettable, "property \"" + info.Name + "\" is read-only");
    FSetter(info.Name, value.IsByRef() ? value.Deref() : value);
}

const Com::TDispatchTable<TPropertiesCollection>& TPropertiesCollection::GetDispatchTable() {
    static const auto table = Com::TDispatchTable<TPropertiesCollection>("ADODB.Properties")
                                  .Property("Count", 1, &TPropertiesCollection::GetCount)
                                  .Method("Refresh", 2, &TPropertiesCollection::Refresh)
                                  .Property("Item", 0, &TPropertiesCollection::GetItem);
    return table;
}

// ---- Small helpers -------------------------------------------------------------------------------------

bool IsIntegerKind(const Variant& v) noexcept {
    switch (v.BaseType()) {
        case Rtl::varSmallint:
        case Rtl::varInteger:
        case Rtl::varShortInt:
        case Rtl::varByte:
        case Rtl::varWord:
        case Rtl::varLongWord:
        case Rtl::varInt64:
        case Rtl::varUInt64: return true;
        default: return false;
    }
}

bool IsMissing(const Variant& v) noexcept {
    const Variant* p = &v;
    Variant d;
    if (v.IsByRef()) {
        try {
            d = v.Deref();
        } catch (...) {
            return false;
        }
        p = &d;
    }
    return p->IsEmpty() || p->IsNull() || Com::IsEmptyParam(*p);
}

int ResolveIndex(const Variant& index, int count, const std::function<int(const String&)>& byName,
                 std::string_view collection) {
    const Variant v = index.IsByRef() ? index.Deref() : index;
    if (v.BaseType() == Rtl::varString || v.BaseType() == Rtl::varOleStr) return byName(v.ToString());
    if (IsMissing(v) || v.IsArray())
        AdoFail(adErrInvalidArgument, String(collection) + " cannot be indexed by " + DescribeValue(v));
    const Int64 i = v.ToInt64();
    if (i < 0 || i >= count)
        AdoFail(adErrItemNotFound, String(collection) + " has " + std::to_string(count) + " items; there is no item " +
                                       std::to_string(i));
    return static_cast<int>(i);
}

void NoEnumerator(std::string_view collection) { NotImplementedYet(String(collection) + "._NewEnum"); }

}  // namespace DataEngine::Ado
