// Runtime library: strings, exceptions, formatting and text conversions.
//
// String is the framework's narrow string: UTF-8 in a std::string. WideString is
// the COM text type: UTF-16 in a std::u16string. Conversion between them is
// lossless for valid input. Invalid UTF-8 (stray continuation bytes, overlong
// forms, surrogates, truncated sequences) becomes U+FFFD, one per offending
// byte; unpaired UTF-16 surrogates become U+FFFD too. Nothing is ever read past
// the end of the input.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace Rtl {

using String = std::string;
using WideString = std::u16string;
using AnsiChar = char;
using WideChar = char16_t;
using Byte = std::uint8_t;
using Word = std::uint16_t;
using LongWord = std::uint32_t;
using Cardinal = std::uint32_t;
using Int64 = std::int64_t;
using UInt64 = std::uint64_t;

// ---- Exceptions -------------------------------------------------------------

class Exception : public std::exception {
public:
    explicit Exception(String msg) : FMessage(std::move(msg)) {}
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override = default;

    const String& Message() const noexcept { return FMessage; }
    void SetMessage(String msg) { FMessage = std::move(msg); }
    int HelpContext() const noexcept { return FHelpContext; }
    void SetHelpContext(int ctx) noexcept { FHelpContext = ctx; }
    const char* what() const noexcept override { return FMessage.c_str(); }
    // Name of the most derived class, for messages such as "Cannot assign a %s to a %s".
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    String FMessage;
    int FHelpContext = 0;
};

// Declares an exception class deriving from Base with the base's constructors.
#define RTL_DECLARE_EXCEPTION(Name, Base)                                          \
    class Name : public Base {                                                     \
    public:                                                                        \
        using Base::Base;                                                          \
        const char* ClassName() const noexcept override { return #Name; }          \
    };

RTL_DECLARE_EXCEPTION(EAbort, Exception)
RTL_DECLARE_EXCEPTION(EConvertError, Exception)
RTL_DECLARE_EXCEPTION(EVariantError, Exception)
RTL_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError)
RTL_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError)
RTL_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError)
RTL_DECLARE_EXCEPTION(EVariantArrayCreateError, EVariantError)
RTL_DECLARE_EXCEPTION(EVariantInvalidOpError, EVariantError)
RTL_DECLARE_EXCEPTION(EVariantInvalidArgError, EVariantError)
RTL_DECLARE_EXCEPTION(EAbstractError, Exception)
RTL_DECLARE_EXCEPTION(EIntError, Exception)
RTL_DECLARE_EXCEPTION(EIntOverflow, EIntError)
RTL_DECLARE_EXCEPTION(ERangeError, EIntError)
RTL_DECLARE_EXCEPTION(EDivByZero, EIntError)
RTL_DECLARE_EXCEPTION(EMathError, Exception)
RTL_DECLARE_EXCEPTION(EOverflow, EMathError)
RTL_DECLARE_EXCEPTION(EZeroDivide, EMathError)
RTL_DECLARE_EXCEPTION(EInvalidOp, EMathError)
RTL_DECLARE_EXCEPTION(EOutOfMemory, Exception)
RTL_DECLARE_EXCEPTION(EInvalidPointer, Exception)
RTL_DECLARE_EXCEPTION(EInvalidCast, Exception)
RTL_DECLARE_EXCEPTION(EInOutError, Exception)
RTL_DECLARE_EXCEPTION(EListError, Exception)
RTL_DECLARE_EXCEPTION(EStringListError, EListError)
RTL_DECLARE_EXCEPTION(EStreamError, Exception)
RTL_DECLARE_EXCEPTION(EReadError, EStreamError)
RTL_DECLARE_EXCEPTION(EWriteError, EStreamError)
RTL_DECLARE_EXCEPTION(EFCreateError, EStreamError)
RTL_DECLARE_EXCEPTION(EFOpenError, EStreamError)
RTL_DECLARE_EXCEPTION(EFilerError, EStreamError)
RTL_DECLARE_EXCEPTION(EClassNotFound, EFilerError)
RTL_DECLARE_EXCEPTION(EInvalidOperation, Exception)
RTL_DECLARE_EXCEPTION(ENotSupportedException, Exception)

// Raises the silent exception.
[[noreturn]] void Abort();

// ---- Unicode ---------------------------------------------------------------

WideString Utf8ToWide(std::string_view s);
String WideToUtf8(std::u16string_view s);
// True when s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s) noexcept;
// Number of code points (invalid bytes count one each).
std::size_t Utf8Length(std::string_view s) noexcept;
// The code-point primitives the converters above are built on.
constexpr char32_t Utf8Invalid = 0xFFFFFFFF;
// Decodes the code point at s[i] (i < s.size()) and advances i past it; a byte
// that does not start a well-formed sequence gives Utf8Invalid and advances i by one.
char32_t Utf8Next(std::string_view s, std::size_t& i) noexcept;
// Appends cp (at most U+10FFFF) encoded as UTF-8.
void Utf8Append(String& out, char32_t cp);

// ---- Format settings ---------------------------------------------------------

struct TFormatSettings {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '-';
    char TimeSeparator = ':';
    String ShortDateFormat = "yyyy-mm-dd";
    String LongDateFormat = "yyyy-mm-dd";
    String ShortTimeFormat = "hh:nn";
    String LongTimeFormat = "hh:nn:ss";
    String TimeAMString = "AM";
    String TimePMString = "PM";
    String CurrencyString = "$";
    Byte CurrencyFormat = 0;      // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    Byte NegCurrFormat = 1;       // the framework's 0..15 patterns; 1 is "-$1"
    Byte CurrencyDecimals = 2;
    Word TwoDigitYearCenturyWindow = 50;
};

// The one process-wide settings record; change it at run time to localise.
TFormatSettings& FormatSettings();

// ---- Formatting --------------------------------------------------------------

// One argument of Format: any integer, floating value, string, or pointer.
class TVarRec {
public:
    enum Kind : Byte { vtInteger, vtInt64, vtUInt64, vtExtended, vtString, vtWideString, vtPointer, vtChar };
    TVarRec(int v) : FKind(vtInteger), FInt(v) {}
    TVarRec(unsigned v) : FKind(vtInt64), FInt(v) {}
    TVarRec(long v) : FKind(vtInt64), FInt(v) {}
    TVarRec(long long v) : FKind(vtInt64), FInt(v) {}
    TVarRec(unsigned long v) : FKind(vtUInt64), FUInt(v) {}
    TVarRec(unsigned long long v) : FKind(vtUInt64), FUInt(v) {}
    TVarRec(short v) : FKind(vtInteger), FInt(v) {}
    TVarRec(unsigned short v) : FKind(vtInteger), FInt(v) {}
    TVarRec(signed char v) : FKind(vtInteger), FInt(v) {}
    TVarRec(unsigned char v) : FKind(vtInteger), FInt(v) {}
    TVarRec(double v) : FKind(vtExtended), FDouble(v) {}
    TVarRec(float v) : FKind(vtExtended), FDouble(v) {}
    TVarRec(long double v) : FKind(vtExtended), FDouble(static_cast<double>(v)) {}
    TVarRec(char v) : FKind(vtChar), FInt(static_cast<unsigned char>(v)) {}
    TVarRec(const char* v) : FKind(vtString), FStr(v ? v : "") {}
    TVarRec(const String& v) : FKind(vtString), FStr(v) {}
    TVarRec(std::string_view v) : FKind(vtString), FStr(v) {}
    TVarRec(const WideString& v) : FKind(vtWideString), FWide(&v) {}
    TVarRec(const void* v) : FKind(vtPointer), FPtr(v) {}
    TVarRec(bool) = delete;  // the framework's Format has no boolean specifier

    Kind VType() const noexcept { return FKind; }
    Int64 AsInt64() const noexcept { return FInt; }
    UInt64 AsUInt64() const noexcept { return FUInt; }
    double AsDouble() const noexcept { return FDouble; }
    std::string_view AsString() const noexcept { return FStr; }
    const WideString& AsWide() const noexcept { return *FWide; }
    const void* AsPointer() const noexcept { return FPtr; }

private:
    Kind FKind;
    union {
        Int64 FInt;
        UInt64 FUInt;
        double FDouble;
        const WideString* FWide;
        const void* FPtr;
    };
    std::string_view FStr;
};

// The framework's Format: "%" [index ":"] ["-"] [width] ["." prec] type, with
// type one of d u e f g n m p s x (upper or lower case), "*" for width or
// precision taken from the arguments, and "%%". A mismatch between specifier
// and argument, or too few arguments, raises EConvertError
// "Format '%s' invalid or incompatible with argument".
String Format(std::string_view fmt, std::initializer_list<TVarRec> args);
String Format(std::string_view fmt, const TVarRec* args, std::size_t count);

// ---- Numbers and text ----------------------------------------------------------

String IntToStr(Int64 v);
String IntToHex(UInt64 v, int digits);
String UIntToStr(UInt64 v);
// EConvertError "'%s' is not a valid integer value"; leading and trailing blanks
// are allowed, as are a sign and a "$"/"0x" hexadecimal prefix.
int StrToInt(std::string_view s);
Int64 StrToInt64(std::string_view s);
int StrToIntDef(std::string_view s, int def) noexcept;
Int64 StrToInt64Def(std::string_view s, Int64 def) noexcept;
bool TryStrToInt(std::string_view s, int& v) noexcept;
bool TryStrToInt64(std::string_view s, Int64& v) noexcept;

// Uses FormatSettings().DecimalSeparator. EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view s);
double StrToFloatDef(std::string_view s, double def) noexcept;
bool TryStrToFloat(std::string_view s, double& v) noexcept;
// Shortest text with up to 15 significant digits, general format, as the framework prints.
String FloatToStr(double v);
enum TFloatFormat : Byte { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };
String FloatToStrF(double v, TFloatFormat format, int precision, int digits);
bool StrToBool(std::string_view s);              // "True"/"False", numbers; EConvertError otherwise
bool TryStrToBool(std::string_view s, bool& v) noexcept;
String BoolToStr(bool v, bool useBoolStrs = false);  // "-1"/"0", or "True"/"False"

String Trim(std::string_view s);        // strips characters <= ' '
String TrimLeft(std::string_view s);
String TrimRight(std::string_view s);
String UpperCase(std::string_view s);   // ASCII only, as the framework's UpperCase
String LowerCase(std::string_view s);
String AnsiUpperCase(std::string_view s);  // Unicode-aware for Latin, Greek and Cyrillic
String AnsiLowerCase(std::string_view s);
int CompareStr(std::string_view a, std::string_view b) noexcept;   // byte order
int CompareText(std::string_view a, std::string_view b) noexcept;  // ASCII case-insensitive
bool SameText(std::string_view a, std::string_view b) noexcept;
bool SameStr(std::string_view a, std::string_view b) noexcept;
int AnsiCompareStr(std::string_view a, std::string_view b);
int AnsiCompareText(std::string_view a, std::string_view b);  // case-insensitive beyond ASCII
bool AnsiSameText(std::string_view a, std::string_view b);
String QuotedStr(std::string_view s, char quote = '\'');
String AnsiDequotedStr(std::string_view s, char quote);
// 1-based position of sub in s, 0 when absent (the framework's Pos).
int Pos(std::string_view sub, std::string_view s) noexcept;
enum TReplaceFlag : Byte { rfReplaceAll = 1, rfIgnoreCase = 2 };
String StringReplace(std::string_view s, std::string_view oldPattern, std::string_view newPattern,
                     int flags);
String StringOfChar(char c, int count);
String IncludeTrailingPathDelimiter(std::string_view s);
String ExtractFileName(std::string_view s);
String ExtractFilePath(std::string_view s);
String ExtractFileExt(std::string_view s);
String ChangeFileExt(std::string_view s, std::string_view ext);
bool FileExists(std::string_view path);
bool DeleteFile(std::string_view path);
String SysErrorMessage(int error);

}  // namespace Rtl
