// GUIDs in their registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// The type itself (Rtl::GUID, with ==, < and std::hash) lives in the runtime
// library so that variants can name interfaces; this header adds parsing,
// formatting and creation. GUIDLiteral parses at compile time, so an interface
// or class id written in code is checked by the compiler.
#pragma once

#include <string_view>

#include "Platform/com/Errors.h"

namespace Com {

using Rtl::CLSID;
using Rtl::GUID;
using Rtl::IID;
using Rtl::TGUID;

namespace Detail {
constexpr int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace Detail

// Parses exactly the 38-character braced form (hex digits in either case); no
// blanks, no missing braces. Reads nothing beyond s.
constexpr bool TryStringToGUID(std::string_view s, GUID& g) noexcept {
    if (s.size() != 38 || s[0] != '{' || s[37] != '}') return false;
    if (s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-') return false;
    // Positions of the 16 bytes' first hex digit, in textual order.
    constexpr int starts[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
    unsigned char bytes[16] = {};
    for (int i = 0; i < 16; ++i) {
        const int hi = Detail::HexDigit(s[starts[i]]);
        const int lo = Detail::HexDigit(s[starts[i] + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    GUID r;
    r.D1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           bytes[3];
    r.D2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    r.D3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) r.D4[i] = bytes[8 + i];
    g = r;
    return true;
}

// A GUID written in code: GUIDLiteral("{00020400-0000-0000-C000-000000000046}").
// A malformed text does not compile.
consteval GUID GUIDLiteral(const char* text) {
    std::string_view s(text);
    GUID g;
    if (!TryStringToGUID(s, g)) throw "malformed GUID literal";
    return g;
}

// EConvertError "'<text>' is not a valid GUID value" for anything else than the braced form.
GUID StringToGUID(std::string_view s);
// Upper-case braced form.
String GUIDToString(const GUID& g);
// A new random (version 4) GUID.
GUID CreateGUID();
inline bool IsEqualGUID(const GUID& a, const GUID& b) noexcept { return a == b; }

constexpr GUID GUID_NULL{};

}  // namespace Com
