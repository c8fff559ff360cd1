// Result codes, the OLE exception classes and per-thread error information.
//
// A failing COM call answers a negative HRESULT. The object that failed may
// first record a description of the failure for the calling thread
// (SetErrorInfo, or SetErrorResult which also returns the code); OleCheck and
// CheckAutoResult turn a failed result into an exception: EOleException with
// the recorded source, description, help file and help context when there is
// error information for that failure, EOleSysError with the system text of the
// code otherwise. Interface methods that raise on failure (safecall style) throw
// these exceptions directly; HandleSafeCallException converts an exception back
// into a result code and error information at a boundary that must answer an
// HRESULT (event sinks, IDispatch::Invoke, class factories).
#pragma once

#include <cstdint>
#include <string_view>

#include "Platform/rtl/Interfaces.h"
#include "Platform/rtl/SysUtils.h"

namespace Com {

using Rtl::Exception;
using Rtl::HRESULT;
using Rtl::String;

constexpr HRESULT MakeHResult(std::uint32_t code) noexcept { return static_cast<HRESULT>(code); }
constexpr bool Succeeded(HRESULT hr) noexcept { return hr >= 0; }
constexpr bool Failed(HRESULT hr) noexcept { return hr < 0; }

// ---- Result codes -------------------------------------------------------------

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHResult(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
constexpr HRESULT DISP_E_NOTACOLLECTION = MakeHResult(0x80020011);
constexpr HRESULT DISP_E_DIVBYZERO = MakeHResult(0x80020012);

constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
constexpr HRESULT CO_E_OBJNOTREG = MakeHResult(0x800401FB);
constexpr HRESULT CO_E_OBJISREG = MakeHResult(0x800401FC);
constexpr HRESULT RPC_E_WRONG_THREAD = MakeHResult(0x8001010E);

// The system text of a result code ("Class not registered", "Unknown name" ...);
// codes without a text of their own read "OLE error XXXXXXXX".
String HResultMessage(HRESULT hr);

// ---- Exceptions -----------------------------------------------------------------

RTL_DECLARE_EXCEPTION(EOleError, Exception)

// A failed result without error information; the message is the result's system
// text unless one is given.
class EOleSysError : public EOleError {
public:
    explicit EOleSysError(HRESULT code);
    EOleSysError(String message, HRESULT code, int helpContext = 0);
    HRESULT ErrorCode() const noexcept { return FErrorCode; }
    const char* ClassName() const noexcept override { return "EOleSysError"; }

private:
    HRESULT FErrorCode;
};

// A failure the object described: the message is the description (the system text
// of the code when the description is empty).
class EOleException : public EOleSysError {
public:
    EOleException(String description, HRESULT code, String source, String helpFile = {}, int helpContext = 0);
    const String& Source() const noexcept { return FSource; }
    const String& Description() const noexcept { return FDescription; }
    const String& HelpFile() const noexcept { return FHelpFile; }
    const char* ClassName() const noexcept override { return "EOleException"; }

private:
    String FSource;
    String FDescription;
    String FHelpFile;
};

// Raised by ComPtr<I>::As<J>() when the object does not support J.
RTL_DECLARE_EXCEPTION(EIntfCastError, Exception)

// ---- Per-thread error information ------------------------------------------------

struct TErrorInfo {
    Rtl::GUID Interface;  // the interface whose method failed (may stay null)
    String Source;        // the failing object's class or ProgID
    String Description;
    String HelpFile;
    int HelpContext = 0;
    // The failure this information describes; 0 means "the next failure". A check
    // of a different failed code ignores (and discards) the information as stale.
    HRESULT Code = 0;
};

// Records error information for the calling thread, replacing what was there.
void SetErrorInfo(TErrorInfo info);
// Takes the calling thread's error information (clearing it); false when there is none.
bool GetErrorInfo(TErrorInfo& info);
void ClearErrorInfo() noexcept;
// Records source and description for the failure hr and returns hr, for
// "return SetErrorResult(E_FAIL, ...)" in methods that answer a result code.
HRESULT SetErrorResult(HRESULT hr, std::string_view source, std::string_view description);

// ---- Checks --------------------------------------------------------------------------

// Raises EOleSysError for hr (no error information consulted).
[[noreturn]] void OleError(HRESULT hr);
// Raises for a failed hr: EOleException from the thread's error information for
// that failure, EOleSysError otherwise. Success codes (S_OK, S_FALSE ...) pass.
void OleCheck(HRESULT hr);
// The check applied to every result of an automation call; the same rule as OleCheck.
void CheckAutoResult(HRESULT hr);

// Inside a catch block: describes the current exception in info (source given
// unless the exception names its own) and answers the matching result code, as
// HandleSafeCallException does, without recording anything.
HRESULT CurrentExceptionToErrorInfo(TErrorInfo& info, std::string_view source) noexcept;

// Inside a catch block: records the current exception as the thread's error
// information and answers the matching result code: an EOleSysError's own code,
// E_ABORT for EAbort, E_OUTOFMEMORY for std::bad_alloc, E_FAIL for any other
// exception. source names the failing object.
HRESULT HandleSafeCallException(std::string_view source = {}) noexcept;

}  // namespace Com
