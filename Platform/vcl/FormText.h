// The text form format as a tree: parsing and printing, nothing else.
//
//     object DataModule1: TDataModule1
//       Caption = 'Orders'#13#10'and lines'
//       Mode = fmFast
//       Options = [opA, opB]
//       Ratio = 0.25
//       SQL.Strings = (
//         'select *'
//         'from orders')
//       Params = <
//         item
//           Name = 'id'
//         end>
//       Data = {
//         0A0B0C}
//       object Query1: TQuery
//         Connection = Connection1
//       end
//     end
//
// Strings are runs of 'quoted text' (a quote doubled inside) and #nnn / #$hh
// character codes, joined across lines with '+'. Numbers are decimal or $hex
// integers and decimal floats, a float optionally suffixed s (single),
// d (date) or c (currency, written scaled by 10000). Keywords compare
// case-insensitively. The input is UTF-8; text inside quotes is taken byte for
// byte. Every syntax error raises EReadError "Line %d: ..." naming what was
// expected; nesting deeper than MaxFormNesting levels is refused.
#pragma once

#include <cstdint>
#include <vector>

#include "Platform/rtl/SysUtils.h"

namespace Vcl {

using Rtl::Byte;
using Rtl::Int64;
using Rtl::String;
using Rtl::WideString;

constexpr int MaxFormNesting = 64;

// One piece of a string value: text taken byte for byte, or a character code.
struct TFormStrPiece {
    bool IsCode = false;
    String Text;
    std::uint32_t Code = 0;
};

enum TFormValueKind : Byte { fvInteger, fvFloat, fvString, fvIdent, fvSet, fvList, fvCollection, fvBinary };

struct TFormProperty;

struct TFormItem {
    int Line = 0;
    std::vector<TFormProperty> Props;
};

struct TFormValue {
    TFormValueKind Kind = fvInteger;
    int Line = 0;
    Int64 Integer = 0;           // fvInteger
    double Float = 0;            // fvFloat
    char Suffix = 0;             // fvFloat: 0, 's', 'd'; fvInteger: 0 or 'c'
    String Ident;                // fvIdent: a name, dotted name, or "-Inf"
    std::vector<TFormStrPiece> Pieces;  // fvString
    std::vector<String> SetItems;       // fvSet
    std::vector<TFormValue> Items;      // fvList
    std::vector<TFormItem> CollItems;   // fvCollection
    std::vector<Byte> Bytes;            // fvBinary

    static TFormValue MakeInteger(Int64 v, char suffix = 0);
    static TFormValue MakeFloat(double v, char suffix = 0);
    static TFormValue MakeIdent(String name);
    // Strings: control characters become codes; everything else stays text.
    static TFormValue MakeString(std::string_view s);
    // Wide strings: as above; unpaired surrogates become codes so they survive.
    static TFormValue MakeWideString(std::u16string_view s);
};

struct TFormProperty {
    String Name;  // possibly dotted: SQL.Strings
    int Line = 0;
    TFormValue Value;
};

struct TFormObject {
    String Name;  // may be empty
    String ClassName;
    int Line = 0;
    std::vector<TFormProperty> Props;
    std::vector<TFormObject> Children;
};

// Parses one "object ... end" and nothing after it but blanks.
TFormObject ParseFormText(std::string_view Text);
// The text of a tree: two blanks per level, long strings split at 64
// characters, binary data at 32 bytes per line, "\n" line ends.
String PrintFormText(const TFormObject& Object);

// String values converted for a property; false with a reason when the value
// cannot be represented (a surrogate code in a narrow string, malformed UTF-8
// for a wide string, a code above U+10FFFF).
bool FormStringToString(const TFormValue& Value, String& Out, String& Error);
bool FormStringToWide(const TFormValue& Value, WideString& Out, String& Error);
// True when the value holds a surrogate code, which only a wide string keeps.
bool FormStringNeedsWide(const TFormValue& Value) noexcept;
// Shortest text that reads back as the same double (always with '.' or an exponent).
String FormatFormFloat(double v, char suffix = 0);

}  // namespace Vcl
