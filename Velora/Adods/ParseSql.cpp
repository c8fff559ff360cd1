// TParams::ParseSQL: ":name" markers become "?" and, on request, parameters.
//
// The rules, which stored statements depend on:
// - The single quote, the double quote and the back quote each toggle one
//   shared literal flag; a quote of one kind does not need a partner of the
//   same kind. Outside a literal a ':' not followed by another ':' starts a
//   marker; "::" becomes ":" and starts nothing.
// - A name runs from after the ':' to the first blank, comma, semicolon,
//   closing parenthesis, carriage return or line feed met outside a literal,
//   or to the end of the text. A tab does not end a name. Quotes inside the
//   name still toggle the flag, so ":'Order Date'" is one marker; when the
//   name starts with a quote, one leading and one trailing quote are removed
//   from it.
// - The whole marker (the ':' and the name with its quotes) is replaced by a
//   single '?'; the character that ended the name is kept and not examined.
// - The text is UTF-8. A multi-byte character is passed over whole and never
//   examined: only its lead byte and the continuation bytes that really follow
//   it are skipped, so a damaged sequence can never swallow a quote, a colon
//   or the end of the text.
// - A NUL byte inside the text ends a name as the end of the text does, but
//   the scan goes on and the rest of the text is kept.
//
// The result is built in one pass over the text: replacements only ever
// change what lies behind the scan position, so the scan reads the caller's
// text and writes the new one beside it, in time linear in the text's length.

#include "Velora/Adods/Params.h"

namespace Velora {

namespace {

constexpr bool IsQuote(char c) noexcept { return c == '\'' || c == '"' || c == '`'; }

constexpr bool IsNameDelimiter(char c) noexcept {
    return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// The length of the UTF-8 character starting at i when it is a multi-byte
// one (its lead byte and the continuation bytes actually present), else 0.
std::size_t MultiByteLength(const String& s, std::size_t i) noexcept {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t expected;
    if (lead >= 0xC2 && lead <= 0xDF) expected = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) expected = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) expected = 4;
    else return 0;
    std::size_t n = 1;
    while (n < expected && i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
    return n;
}

// Removes one leading quote and then, if anything is left, one trailing quote.
void StripLiterals(String& name) {
    if (!name.empty() && IsQuote(name.front())) name.erase(0, 1);
    if (!name.empty() && IsQuote(name.back())) name.pop_back();
}

}  // namespace

String TParams::ParseSQL(const String& SQL, bool DoCreate) {
    if (DoCreate) Clear();
    const std::size_t n = SQL.size();
    // The character at i, the end of the text reading as NUL.
    auto at = [&](std::size_t i) noexcept { return i < n ? SQL[i] : '\0'; };

    String result;
    result.reserve(n);
    bool literal = false;
    std::size_t i = 0;
    while (i < n) {
        if (std::size_t len = MultiByteLength(SQL, i)) {
            result.append(SQL, i, len);
            i += len;
            continue;
        }
        const char c = SQL[i];
        if (c == ':' && !literal && at(i + 1) != ':') {
            const std::size_t start = i;
            bool embeddedLiteral = false;
            std::size_t j = i;
            char cur = c;
            while (cur != '\0' && (literal || !IsNameDelimiter(cur))) {
                ++j;
                while (j < n) {
                    const std::size_t len = MultiByteLength(SQL, j);
                    if (!len) break;
                    j += len;
                }
                cur = at(j);
                if (IsQuote(cur)) {
                    literal = !literal;
                    if (j == start + 1) embeddedLiteral = true;
                }
            }
            String name = SQL.substr(start + 1, j - start - 1);
            if (embeddedLiteral) StripLiterals(name);
            if (DoCreate) Add()->FName = std::move(name);
            result += '?';
            // The character that ended the name stays, unexamined.
            if (j < n) result += SQL[j];
            i = j + 1;
            continue;
        }
        if (c == ':' && !literal) {
            // "::" stands for one ':' and starts no marker.
            result += ':';
            i += 2;
            continue;
        }
        if (IsQuote(c)) literal = !literal;
        result += c;
        ++i;
    }
    return result;
}

}  // namespace Velora
