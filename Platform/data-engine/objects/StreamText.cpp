#include "Platform/data-engine/objects/StreamText.h"

#include <array>
#include <cstdio>

#include "Platform/rtl/SysUtils.h"

namespace DataEngine::Ado {

using namespace Velora;

namespace {

const TCharset Charsets[] = {
    {ckUtf16LE, "Unicode", std::string_view("\xFF\xFE", 2), 2},
    {ckUtf16BE, "unicodeFFFE", std::string_view("\xFE\xFF", 2), 2},
    {ckUtf8, "utf-8", std::string_view("\xEF\xBB\xBF", 3), 1},
    {ckLatin1, "iso-8859-1", {}, 1},
    {ckAscii, "us-ascii", {}, 1},
    {ckWindows1252, "windows-1252", {}, 1},
};

struct TAlias {
    const char* Name;
    TCharsetKind Kind;
};

const TAlias Aliases[] = {
    {"unicode", ckUtf16LE},     {"utf-16", ckUtf16LE},       {"utf-16le", ckUtf16LE},  {"ucs-2", ckUtf16LE},
    {"unicodefffe", ckUtf16BE}, {"utf-16be", ckUtf16BE},     {"utf-8", ckUtf8},        {"utf8", ckUtf8},
    {"iso-8859-1", ckLatin1},   {"iso8859-1", ckLatin1},     {"iso_8859-1", ckLatin1}, {"latin1", ckLatin1},
    {"l1", ckLatin1},           {"us-ascii", ckAscii},       {"ascii", ckAscii},       {"iso646-us", ckAscii},
    {"windows-1252", ckWindows1252}, {"cp1252", ckWindows1252}, {"x-ansi", ckWindows1252},
};

// windows-1252 0x80..0x9F; the five bytes the code page leaves undefined map to
// the C1 control of the same number, as Windows converts them, so they read
// back unchanged.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int PutCodePoint(char32_t cp, char16_t out[2]) noexcept {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
        out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    out[0] = static_cast<char16_t>(cp);
    return 1;
}

char16_t Unit(const TCharset& cs, const unsigned char* p) noexcept {
    return cs.Kind == ckUtf16BE ? static_cast<char16_t>((p[0] << 8) | p[1])
                                : static_cast<char16_t>(p[0] | (p[1] << 8));
}

bool IsHighSurrogate(char16_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }

[[noreturn]] void Unencodable(const TCharset& cs, char32_t cp, std::size_t index) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    throw EEngineError("The text cannot be written in the character set \"" + std::string(cs.Name) +
                           "\": the character " + code + " at index " + std::to_string(index) + " has no code in it",
                       AdoErrorHResult(adErrDataConversion));
}

}  // namespace

const TCharset* FindCharset(std::string_view name) noexcept {
    const String trimmed = Rtl::Trim(String(name));
    for (const auto& a : Aliases)
        if (Rtl::SameText(trimmed, a.Name))
            for (const auto& cs : Charsets)
                if (cs.Kind == a.Kind) return &cs;
    return nullptr;
}

std::string KnownCharsetNames() {
    std::string out;
    for (const auto& cs : Charsets) {
        if (!out.empty()) out += ", ";
        out += cs.Name;
    }
    return out;
}

const TCharset& DefaultCharset() noexcept { return Charsets[0]; }

int DecodeChar(const TCharset& cs, const unsigned char* data, std::size_t size, std::size_t& pos,
               char16_t out[2]) noexcept {
    const unsigned char b = data[pos];
    switch (cs.Kind) {
        case ckUtf16LE:
        case ckUtf16BE: {
            if (size - pos < 2) {  // half a unit at the end
                ++pos;
                out[0] = 0xFFFD;
                return 1;
            }
            const char16_t u = Unit(cs, data + pos);
            pos += 2;
            out[0] = u;
            if (IsHighSurrogate(u) && size - pos >= 2 && IsLowSurrogate(Unit(cs, data + pos))) {
                out[1] = Unit(cs, data + pos);
                pos += 2;
                return 2;
            }
            // An unpaired surrogate stays as it is: UTF-16 text may hold one.
            return 1;
        }
        case ckUtf8: {
            const std::string_view s(reinterpret_cast<const char*>(data), size);
            const char32_t cp = Rtl::Utf8Next(s, pos);
            return PutCodePoint(cp == Rtl::Utf8Invalid ? 0xFFFD : cp, out);
        }
        case ckLatin1: ++pos; out[0] = b; return 1;
        case ckAscii: ++pos; out[0] = b < 0x80 ? b : 0xFFFD; return 1;
        case ckWindows1252:
            ++pos;
            out[0] = (b >= 0x80 && b < 0xA0) ? Cp1252High[b - 0x80] : b;
            return 1;
    }
    ++pos;
    out[0] = 0xFFFD;
    return 1;
}

std::string EncodeText(const TCharset& cs, std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * cs.UnitSize);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        switch (cs.Kind) {
            case ckUtf16LE:
                out += static_cast<char>(u & 0xFF);
                out += static_cast<char>(u >> 8);
                break;
            case ckUtf16BE:
                out += static_cast<char>(u >> 8);
                out += static_cast<char>(u & 0xFF);
                break;
            case ckUtf8: {
                char32_t cp = u;
                if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                    cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                    ++i;
                } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
                    Unencodable(cs, u, i);
                }
                Rtl::Utf8Append(out, cp);
                break;
            }
            case ckLatin1:
                if (u > 0xFF) Unencodable(cs, u, i);
                out += static_cast<char>(u);
                break;
            case ckAscii:
                if (u > 0x7F) Unencodable(cs, u, i);
                out += static_cast<char>(u);
                break;
            case ckWindows1252: {
                if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
                    out += static_cast<char>(u);
                    break;
                }
                std::size_t k = 0;
                while (k < Cp1252High.size() && Cp1252High[k] != u) ++k;
                if (k == Cp1252High.size()) Unencodable(cs, u, i);
                out += static_cast<char>(0x80 + k);
                break;
            }
        }
    }
    return out;
}

std::u16string_view SeparatorText(int separator) noexcept {
    switch (separator) {
        case adCR: return u"\r";
        case adLF: return u"\n";
        default: return u"\r\n";
    }
}

std::size_t SkipBom(const TCharset& cs, std::string_view bytes, std::size_t pos) noexcept {
    if (pos == 0 && !cs.Bom.empty() && bytes.substr(0, cs.Bom.size()) == cs.Bom) return cs.Bom.size();
    return pos;
}

TTextRead ReadChars(const TCharset& cs, std::string_view bytes, std::size_t pos, long long count) {
    TTextRead r;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    char16_t units[2];
    while (pos < size && (count < 0 || static_cast<long long>(r.Text.size()) < count)) {
        const int n = DecodeChar(cs, data, size, pos, units);
        r.Text.append(units, static_cast<std::size_t>(n));
    }
    r.End = pos < size ? pos : size;
    return r;
}

TTextRead ReadLine(const TCharset& cs, std::string_view bytes, std::size_t pos, int separator) {
    TTextRead r;
    const std::u16string_view sep = SeparatorText(separator);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    char16_t units[2];
    while (pos < size) {
        const int n = DecodeChar(cs, data, size, pos, units);
        r.Text.append(units, static_cast<std::size_t>(n));
        if (r.Text.size() >= sep.size() && std::u16string_view(r.Text).substr(r.Text.size() - sep.size()) == sep) {
            r.Text.resize(r.Text.size() - sep.size());
            break;
        }
    }
    r.End = pos < size ? pos : size;
    return r;
}

}  // namespace DataEngine::Ado
