// The engine's exception: one failure, with what ADO's Error object reports
// about it (number, native error, SQL state, source) and the statement text
// that failed, if any. The COM layer turns it into an Error item of the
// connection's Errors collection and an EOleException.
#pragma once

#include "Platform/rtl/Interfaces.h"
#include "Platform/rtl/SysUtils.h"
#include "Velora/com/AdoEnums.h"

namespace DataEngine {

using Rtl::HRESULT;
using Rtl::Int64;
using Rtl::String;

// OLE DB and COM result codes the engine reports.
constexpr HRESULT hrFail = static_cast<HRESULT>(0x80004005u);                  // E_FAIL
constexpr HRESULT hrErrorsInCommand = static_cast<HRESULT>(0x80040E14u);       // DB_E_ERRORSINCOMMAND
constexpr HRESULT hrIntegrityViolation = static_cast<HRESULT>(0x80040E2Fu);    // DB_E_INTEGRITYVIOLATION
constexpr HRESULT hrPermissionDenied = static_cast<HRESULT>(0x80040E09u);      // DB_SEC_E_PERMISSIONDENIED
constexpr HRESULT hrCanceled = static_cast<HRESULT>(0x80040E4Eu);              // DB_E_CANCELED
constexpr HRESULT hrTimeout = static_cast<HRESULT>(0x80040E31u);               // DB_E_ABORTLIMITREACHED
constexpr HRESULT hrCantConvertValue = static_cast<HRESULT>(0x80040E07u);      // DB_E_CANTCONVERTVALUE
constexpr HRESULT hrDataOverflow = static_cast<HRESULT>(0x80040E57u);          // DB_E_DATAOVERFLOW
constexpr HRESULT hrBadParameterName = static_cast<HRESULT>(0x80040E0Eu);      // DB_E_BADPARAMETERNAME
constexpr HRESULT hrParamNotOptional = static_cast<HRESULT>(0x80040E10u);      // DB_E_PARAMNOTOPTIONAL
constexpr HRESULT hrNoTable = static_cast<HRESULT>(0x80040E37u);               // DB_E_NOTABLE
constexpr HRESULT hrNotSupported = static_cast<HRESULT>(0x80040E53u);          // DB_E_NOTSUPPORTED
constexpr HRESULT hrObjectOpen = static_cast<HRESULT>(0x80040E05u);            // DB_E_OBJECTOPEN

// ADO's own errors travel as 0x800A0000 + the ErrorValueEnum number.
constexpr HRESULT AdoErrorHResult(Velora::ErrorValueEnum code) noexcept {
    return static_cast<HRESULT>(0x800A0000u | static_cast<unsigned>(code));
}

class EEngineError : public Rtl::Exception {
public:
    explicit EEngineError(String message, HRESULT number = hrFail, int nativeError = 0, String sqlState = {},
                          String source = {}, String statement = {})
        : Exception(std::move(message)),
          FNumber(number),
          FNativeError(nativeError),
          FSQLState(std::move(sqlState)),
          FSource(std::move(source)),
          FStatement(std::move(statement)) {}

    HRESULT GetNumber() const noexcept { return FNumber; }
    int GetNativeError() const noexcept { return FNativeError; }
    const String& GetSQLState() const noexcept { return FSQLState; }
    const String& GetSource() const noexcept { return FSource; }
    const String& GetStatement() const noexcept { return FStatement; }
    const char* ClassName() const noexcept override { return "EEngineError"; }

private:
    HRESULT FNumber;
    int FNativeError;
    String FSQLState;
    String FSource;
    String FStatement;
};

// Raised for a connection string that does not follow the key=value; syntax.
class EConnectionStringError : public EEngineError {
public:
    using EEngineError::EEngineError;
    const char* ClassName() const noexcept override { return "EConnectionStringError"; }
};

// Shortens a text quoted in a message: long statements and values are cut
// with an ellipsis so that one message stays readable.
String ClipForMessage(std::string_view text, std::size_t limit = 200);

}  // namespace DataEngine
