#include "Platform/com/Dispatch.h"

namespace Com {

const Variant EmptyParam = Variant::Error(DISP_E_PARAMNOTFOUND);

bool IsEmptyParam(const Variant& v) noexcept {
    if (v.VType() != Rtl::varError) return false;
    try {
        return v.ToError() == DISP_E_PARAMNOTFOUND;
    } catch (...) {
        return false;
    }
}

// ---- Variants holding interfaces ----------------------------------------------------

Variant VarFromInterface(IDispatch* disp) noexcept { return Variant::FromDispatch(disp); }

Variant VarFromInterface(IUnknown* unk) noexcept { return Variant::FromUnknown(unk); }

namespace {

[[noreturn]] void CannotConvert(const Variant& v, const char* target) {
    throw Rtl::EVariantTypeCastError("Could not convert variant of type (" + Rtl::VarTypeAsText(v.VType()) +
                                     ") into type (" + target + ")");
}

}  // namespace

ComPtr<IDispatch> VarToDispatch(const Variant& v) {
    const Variant d = v.IsByRef() ? v.Deref() : v;
    switch (d.VType()) {
        case Rtl::varEmpty:
        case Rtl::varNull:
            return nullptr;
        case Rtl::varDispatch:
            return ComPtr<IDispatch>(static_cast<IDispatch*>(d.GetInterface()));
        case Rtl::varUnknown:
            return ComPtr<IUnknown>(d.GetInterface()).As<IDispatch>();
        default:
            CannotConvert(d, "Dispatch");
    }
}

ComPtr<IUnknown> VarToUnknown(const Variant& v) {
    const Variant d = v.IsByRef() ? v.Deref() : v;
    switch (d.VType()) {
        case Rtl::varEmpty:
        case Rtl::varNull:
            return nullptr;
        case Rtl::varDispatch:
        case Rtl::varUnknown:
            return ComPtr<IUnknown>(d.GetInterface());
        default:
            CannotConvert(d, "Unknown");
    }
}

// ---- TDispCall ------------------------------------------------------------------------------

Variant TDispCall::Arg(int i) const {
    if (i < 0 || i >= Count()) return EmptyParam;
    const Variant& a = FArgs[static_cast<std::size_t>(i)];
    return a.IsByRef() ? a.Deref() : a;
}

bool TDispCall::IsOmitted(int i) const noexcept {
    if (i < 0 || i >= Count()) return true;
    const Variant& a = FArgs[static_cast<std::size_t>(i)];
    if (!a.IsByRef()) return IsEmptyParam(a);
    try {
        return IsEmptyParam(a.Deref());
    } catch (...) {
        return false;
    }
}

bool TDispCall::IsByRef(int i) const noexcept {
    return i >= 0 && i < Count() && FArgs[static_cast<std::size_t>(i)].IsByRef();
}

void TDispCall::SetArg(int i, const Variant& v) {
    if (!IsByRef(i)) return;
    try {
        FArgs[static_cast<std::size_t>(i)].AssignByRef(v);
    } catch (const Rtl::EVariantOverflowError&) {
        throw EDispArgError(DISP_E_OVERFLOW, i);
    } catch (const Rtl::EVariantError&) {
        throw EDispArgError(DISP_E_TYPEMISMATCH, i);
    }
}

namespace Detail {

void DispatchTableError(const String& message) { throw Rtl::EInvalidOperation(message); }

String LowerAscii(std::string_view s) {
    String r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

HRESULT ReportException(std::string_view source, TExcepInfo* excepInfo) noexcept {
    TErrorInfo info;
    const HRESULT code = CurrentExceptionToErrorInfo(info, source);
    if (excepInfo) {
        excepInfo->Source = std::move(info.Source);
        excepInfo->Description = std::move(info.Description);
        excepInfo->HelpFile = std::move(info.HelpFile);
        excepInfo->HelpContext = info.HelpContext;
        excepInfo->SCode = code;
    }
    return DISP_E_EXCEPTION;
}

}  // namespace Detail

// ---- Client side ----------------------------------------------------------------------------

TDispTarget::TDispTarget(const Variant& v) {
    const Rtl::TVarType kind = v.BaseType();
    if (kind != Rtl::varDispatch && kind != Rtl::varUnknown)
        throw Rtl::EVariantInvalidOpError("Variant does not reference an automation object");
    FDisp = VarToDispatch(v);
}

namespace {

[[noreturn]] void RaiseInvokeError(HRESULT hr, std::string_view name, int argErr) {
    TErrorInfo info;
    if (GetErrorInfo(info) && (info.Code == 0 || info.Code == hr))
        throw EOleException(std::move(info.Description), hr, std::move(info.Source), std::move(info.HelpFile),
                            info.HelpContext);
    String msg = HResultMessage(hr) + " (" + String(name);
    if (argErr >= 0 && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_OVERFLOW))
        msg += ", argument " + std::to_string(argErr + 1);
    msg += ")";
    throw EOleSysError(msg, hr);
}

}  // namespace

Variant OleInvoke(const TDispTarget& obj, std::string_view name, Word flags, std::span<Variant> args) {
    IDispatch* disp = obj.Get();
    if (!disp)
        throw EOleSysError("Cannot invoke " + String(name) + " on an unassigned automation object", E_POINTER);
    ClearErrorInfo();
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = disp->GetIDsOfNames(name, &id);
    if (Failed(hr)) RaiseInvokeError(hr, name, -1);
    Variant result;
    TExcepInfo excep;
    int argErr = -1;
    hr = disp->Invoke(id, flags, args, &result, &excep, &argErr);
    if (hr == DISP_E_EXCEPTION) {
        ClearErrorInfo();
        const HRESULT code = Failed(excep.SCode) ? excep.SCode : DISP_E_EXCEPTION;
        throw EOleException(std::move(excep.Description), code, std::move(excep.Source), std::move(excep.HelpFile),
                            excep.HelpContext);
    }
    if (Failed(hr)) RaiseInvokeError(hr, name, argErr);
    return result;
}

Variant OleGet(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> index) {
    std::vector<Variant> args(index);
    return OleInvoke(obj, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
}

void OlePut(const TDispTarget& obj, std::string_view name, const Variant& value) {
    Variant args[1] = {value};
    OleInvoke(obj, name, DISPATCH_PROPERTYPUT, args);
}

void OlePut(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> index,
            const Variant& value) {
    std::vector<Variant> args(index);
    args.push_back(value);
    OleInvoke(obj, name, DISPATCH_PROPERTYPUT, args);
}

void OlePutRef(const TDispTarget& obj, std::string_view name, const Variant& value) {
    Variant args[1] = {value};
    OleInvoke(obj, name, DISPATCH_PROPERTYPUTREF, args);
}

Variant OleCall(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> args) {
    std::vector<Variant> a(args);
    return OleInvoke(obj, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, a);
}

Variant OleCall(const TDispTarget& obj, std::string_view name, std::span<Variant> args) {
    return OleInvoke(obj, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

}  // namespace Com
