#include "Platform/com/Errors.h"

#include <cstdio>
#include <new>
#include <optional>

namespace Com {

namespace {

struct TCodeText {
    HRESULT Code;
    const char* Text;
};

constexpr TCodeText CodeTexts[] = {
    {S_OK, "The operation completed successfully"},
    {S_FALSE, "The operation completed with a false result"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_ACCESSDENIED, "Access is denied"},
    {E_HANDLE, "The handle is invalid"},
    {E_OUTOFMEMORY, "Not enough memory is available to complete this operation"},
    {E_INVALIDARG, "The parameter is incorrect"},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "Member not found"},
    {DISP_E_PARAMNOTFOUND, "Parameter not found"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_UNKNOWNNAME, "Unknown name"},
    {DISP_E_NONAMEDARGS, "No named arguments"},
    {DISP_E_BADVARTYPE, "Bad variable type"},
    {DISP_E_EXCEPTION, "Exception occurred"},
    {DISP_E_OVERFLOW, "Out of present range"},
    {DISP_E_BADINDEX, "Invalid index"},
    {DISP_E_ARRAYISLOCKED, "Memory is locked"},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional"},
    {DISP_E_NOTACOLLECTION, "Does not support a collection"},
    {DISP_E_DIVBYZERO, "Division by zero"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CONNECT_E_NOCONNECTION, "No connection for this cookie"},
    {CONNECT_E_ADVISELIMIT, "The connection point accepts no more connections"},
    {CONNECT_E_CANNOTCONNECT, "The sink does not support the connection point's interface"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {CO_E_OBJNOTREG, "Object is not registered"},
    {CO_E_OBJISREG, "Object is already registered"},
    {RPC_E_WRONG_THREAD, "The application called an interface that was marshalled for a different thread"},
};

thread_local std::optional<TErrorInfo> ThreadErrorInfo;

// Takes the thread's error information when it describes the failure hr.
std::optional<TErrorInfo> TakeErrorInfoFor(HRESULT hr) {
    std::optional<TErrorInfo> info;
    info.swap(ThreadErrorInfo);
    if (info && info->Code != 0 && info->Code != hr) info.reset();
    return info;
}

}  // namespace

String HResultMessage(HRESULT hr) {
    for (const auto& c : CodeTexts)
        if (c.Code == hr) return c.Text;
    char buf[32];
    std::snprintf(buf, sizeof buf, "OLE error %08X", static_cast<unsigned>(hr));
    return buf;
}

EOleSysError::EOleSysError(HRESULT code) : EOleError(HResultMessage(code)), FErrorCode(code) {}

EOleSysError::EOleSysError(String message, HRESULT code, int helpContext)
    : EOleError(message.empty() ? HResultMessage(code) : std::move(message)), FErrorCode(code) {
    SetHelpContext(helpContext);
}

EOleException::EOleException(String description, HRESULT code, String source, String helpFile, int helpContext)
    : EOleSysError(description, code, helpContext),
      FSource(std::move(source)),
      FDescription(std::move(description)),
      FHelpFile(std::move(helpFile)) {}

void SetErrorInfo(TErrorInfo info) { ThreadErrorInfo = std::move(info); }

bool GetErrorInfo(TErrorInfo& info) {
    if (!ThreadErrorInfo) return false;
    info = std::move(*ThreadErrorInfo);
    ThreadErrorInfo.reset();
    return true;
}

void ClearErrorInfo() noexcept { ThreadErrorInfo.reset(); }

HRESULT SetErrorResult(HRESULT hr, std::string_view source, std::string_view description) {
    TErrorInfo info;
    info.Source = String(source);
    info.Description = String(description);
    info.Code = hr;
    SetErrorInfo(std::move(info));
    return hr;
}

void OleError(HRESULT hr) { throw EOleSysError(hr); }

void OleCheck(HRESULT hr) {
    if (Succeeded(hr)) return;
    if (auto info = TakeErrorInfoFor(hr))
        throw EOleException(std::move(info->Description), hr, std::move(info->Source), std::move(info->HelpFile),
                            info->HelpContext);
    OleError(hr);
}

void CheckAutoResult(HRESULT hr) { OleCheck(hr); }

HRESULT CurrentExceptionToErrorInfo(TErrorInfo& info, std::string_view source) noexcept {
    try {
        info = TErrorInfo{};
        info.Source = String(source);
        HRESULT hr = E_FAIL;
        try {
            throw;
        } catch (const EOleException& e) {
            hr = e.ErrorCode();
            info.Description = e.Description();
            info.HelpFile = e.HelpFile();
            info.HelpContext = e.HelpContext();
            if (!e.Source().empty()) info.Source = e.Source();
        } catch (const EOleSysError& e) {
            hr = e.ErrorCode();
            info.Description = e.Message();
            info.HelpContext = e.HelpContext();
        } catch (const Rtl::EAbort& e) {
            hr = E_ABORT;
            info.Description = e.Message();
        } catch (const Rtl::Exception& e) {
            info.Description = e.Message();
            info.HelpContext = e.HelpContext();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
            info.Description = HResultMessage(hr);
        } catch (const std::exception& e) {
            info.Description = e.what();
        } catch (...) {
            hr = E_UNEXPECTED;
            info.Description = HResultMessage(hr);
        }
        if (!Failed(hr)) hr = E_FAIL;  // an exception is never a success
        info.Code = hr;
        return hr;
    } catch (...) {
        // Describing the failure itself failed (out of memory): the code still tells.
        return E_OUTOFMEMORY;
    }
}

HRESULT HandleSafeCallException(std::string_view source) noexcept {
    TErrorInfo info;
    const HRESULT hr = CurrentExceptionToErrorInfo(info, source);
    try {
        SetErrorInfo(std::move(info));
    } catch (...) {
    }
    return hr;
}

}  // namespace Com
