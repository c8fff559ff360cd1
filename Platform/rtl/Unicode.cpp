// UTF-8 <-> UTF-16 conversion. Malformed input never stops a conversion and is
// never read past its end: each byte that does not start a well-formed UTF-8
// sequence becomes U+FFFD, and so does each unpaired UTF-16 surrogate.
#include "Platform/rtl/SysUtils.h"

namespace Rtl {

namespace {
constexpr char32_t Replacement = 0xFFFD;
}  // namespace

char32_t Utf8Next(std::string_view s, std::size_t& i) noexcept {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int len;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else { ++i; return Utf8Invalid; }
    if (s.size() - i < static_cast<std::size_t>(len)) { ++i; return Utf8Invalid; }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return Utf8Invalid; }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return Utf8Invalid; }
    i += len;
    return cp;
}

void Utf8Append(String& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

WideString Utf8ToWide(std::string_view s) {
    WideString out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = Utf8Next(s, i);
        if (cp == Utf8Invalid) cp = Replacement;
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

String WideToUtf8(std::u16string_view s) {
    String out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = Replacement;
        }
        Utf8Append(out, c);
    }
    return out;
}

bool IsValidUtf8(std::string_view s) noexcept {
    for (std::size_t i = 0; i < s.size();) {
        if (Utf8Next(s, i) == Utf8Invalid) return false;
    }
    return true;
}

std::size_t Utf8Length(std::string_view s) noexcept {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) Utf8Next(s, i);
    return n;
}

void Abort() { throw EAbort("Operation aborted"); }

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

}  // namespace Rtl
