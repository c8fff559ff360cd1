#include "Platform/data-engine/providers/postgres/PgSqlText.h"

#include <map>

namespace DataEngine::Postgres {

namespace {

bool IsAsciiAlpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
// Identifiers start with a letter, '_' or any non-ASCII byte and go on with
// those, digits and '$'.
bool IsIdentStart(char c) noexcept { return IsAsciiAlpha(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }
bool IsIdentChar(char c) noexcept { return IsIdentStart(c) || IsDigit(c) || c == '$'; }
bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

String Upper(std::string_view s) {
    String out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The scanner works on the whole text; End() of each opaque token (string,
// quoted identifier, comment) never passes the end of the text.
class TScanner {
public:
    explicit TScanner(std::string_view text) : S(text) {}

    // End of a quoted string starting at i (S[i] == '\''); escapes: backslash
    // escapes in E'' strings, a doubled quote in all.
    std::size_t StringEnd(std::size_t i, bool backslashEscapes) const noexcept {
        ++i;
        while (i < S.size()) {
            const char c = S[i];
            if (backslashEscapes && c == '\\') {
                i += 2;
                continue;
            }
            if (c == '\'') {
                if (i + 1 < S.size() && S[i + 1] == '\'') {
                    i += 2;
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return S.size();
    }
    std::size_t QuotedIdentEnd(std::size_t i) const noexcept {
        ++i;
        while (i < S.size()) {
            if (S[i] == '"') {
                if (i + 1 < S.size() && S[i + 1] == '"') {
                    i += 2;
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return S.size();
    }
    std::size_t LineCommentEnd(std::size_t i) const noexcept {
        while (i < S.size() && S[i] != '\n') ++i;
        return i;
    }
    std::size_t BlockCommentEnd(std::size_t i) const noexcept {
        int depth = 0;
        while (i < S.size()) {
            if (S[i] == '/' && i + 1 < S.size() && S[i + 1] == '*') {
                ++depth;
                i += 2;
            } else if (S[i] == '*' && i + 1 < S.size() && S[i + 1] == '/') {
                i += 2;
                if (--depth == 0) return i;
            } else {
                ++i;
            }
        }
        return S.size();
    }
    // A dollar quote's opening tag at i ("$$" or "$tag$"); 0 when S[i] starts none.
    std::size_t DollarTagLength(std::size_t i) const noexcept {
        if (S[i] != '$') return 0;
        std::size_t j = i + 1;
        if (j < S.size() && S[j] == '$') return 2;
        if (j >= S.size() || !IsIdentStart(S[j])) return 0;
        while (j < S.size() && (IsIdentStart(S[j]) || IsDigit(S[j]))) ++j;
        if (j < S.size() && S[j] == '$') return j - i + 1;
        return 0;
    }
    std::size_t DollarQuoteEnd(std::size_t i, std::size_t tagLength) const noexcept {
        const std::string_view tag = S.substr(i, tagLength);
        const auto close = S.find(tag, i + tagLength);
        return close == std::string_view::npos ? S.size() : close + tagLength;
    }

    std::string_view S;
};

struct TBuilder {
    TPgCommandText& Out;
    std::map<String, int> NamedOrdinals;
    // The statement being built.
    String Sql;
    std::size_t Start = 0;
    bool HasContent = false;
    String Keyword;
    std::vector<int> Params;
    std::map<int, int> LocalOf;  // parameter of the text -> local number

    void AddMarker(int ordinal) {
        auto it = LocalOf.find(ordinal);
        if (it == LocalOf.end()) {
            Params.push_back(ordinal);
            it = LocalOf.emplace(ordinal, static_cast<int>(Params.size())).first;
        }
        Sql += '$';
        Sql += std::to_string(it->second);
    }

    void Finish(std::string_view text, std::size_t end) {
        if (HasContent) {
            TPgStatementText st;
            st.Sql = String(TrimView(Sql));
            st.Original = String(TrimView(text.substr(Start, end - Start)));
            st.Params = std::move(Params);
            st.Keyword = std::move(Keyword);
            Out.Statements.push_back(std::move(st));
        }
        Sql.clear();
        HasContent = false;
        Keyword.clear();
        Params.clear();
        LocalOf.clear();
    }
};

// Whether the text numbers its own parameters ($n outside quotes and comments).
bool UsesNativeMarkers(const TScanner& sc) {
    const std::string_view s = sc.S;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (IsIdentStart(c)) {
            std::size_t j = i;
            while (j < s.size() && IsIdentChar(s[j])) ++j;
            if (j - i == 1 && (c == 'e' || c == 'E') && j < s.size() && s[j] == '\'') {
                i = sc.StringEnd(j, true);
                continue;
            }
            i = j;
        } else if (c == '\'') {
            i = sc.StringEnd(i, false);
        } else if (c == '"') {
            i = sc.QuotedIdentEnd(i);
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            i = sc.LineCommentEnd(i);
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            i = sc.BlockCommentEnd(i);
        } else if (c == '$') {
            if (i + 1 < s.size() && IsDigit(s[i + 1])) return true;
            const std::size_t tag = sc.DollarTagLength(i);
            i = tag ? sc.DollarQuoteEnd(i, tag) : i + 1;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace

TPgCommandText ParsePgCommandText(std::string_view text) {
    TPgCommandText out;
    const TScanner sc(text);
    const bool native = UsesNativeMarkers(sc);
    TBuilder b{out};
    int parens = 0, brackets = 0, atomic = 0;
    String lastWord;  // the previous word, for BEGIN ATOMIC
    std::size_t i = 0;
    const std::string_view s = text;
    auto copy = [&](std::size_t from, std::size_t to) { b.Sql.append(s.substr(from, to - from)); };
    auto content = [&](std::string_view word) {
        if (!b.HasContent) b.Keyword = Upper(word);
        b.HasContent = true;
    };
    while (i < s.size()) {
        const char c = s[i];
        if (IsBlank(c)) {
            b.Sql += c;
            ++i;
            continue;
        }
        if (IsIdentStart(c)) {
            std::size_t j = i;
            while (j < s.size() && IsIdentChar(s[j])) ++j;
            const std::string_view word = s.substr(i, j - i);
            if (word.size() == 1 && (c == 'e' || c == 'E') && j < s.size() && s[j] == '\'') {
                const std::size_t end = sc.StringEnd(j, true);
                content({});
                copy(i, end);
                i = end;
                lastWord.clear();
                continue;
            }
            content(word);
            copy(i, j);
            const String upper = Upper(word);
            if (atomic == 0) {
                if (upper == "ATOMIC" && lastWord == "BEGIN") atomic = 1;
            } else if (upper == "CASE" || (upper == "ATOMIC" && lastWord == "BEGIN")) {
                ++atomic;
            } else if (upper == "END") {
                --atomic;
            }
            lastWord = upper;
            i = j;
            continue;
        }
        std::size_t end = 0;
        if (c == '\'') end = sc.StringEnd(i, false);
        else if (c == '"') end = sc.QuotedIdentEnd(i);
        else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') end = sc.LineCommentEnd(i);
        else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') end = sc.BlockCommentEnd(i);
        else if (c == '$' && !(i + 1 < s.size() && IsDigit(s[i + 1]))) {
            const std::size_t tag = sc.DollarTagLength(i);
            if (tag) end = sc.DollarQuoteEnd(i, tag);
        }
        if (end) {
            const bool comment = c == '-' || c == '/';
            if (!comment) {
                content({});
                lastWord.clear();
            }
            copy(i, end);
            i = end;
            continue;
        }
        lastWord.clear();
        if (c == '$' && i + 1 < s.size() && IsDigit(s[i + 1])) {  // $n
            std::size_t j = i + 1;
            while (j < s.size() && IsDigit(s[j])) ++j;
            content({});
            // Numbers beyond the protocol's 65535 parameters are left to the
            // server to refuse.
            if (j - i - 1 > 5) {
                copy(i, j);
            } else {
                const int n = std::stoi(String(s.substr(i + 1, j - i - 1)));
                if (n < 1 || n > 65535) {
                    copy(i, j);
                } else {
                    while (static_cast<int>(out.ParamNames.size()) < n)
                        out.ParamNames.push_back("$" + std::to_string(out.ParamNames.size() + 1));
                    b.AddMarker(n);
                }
            }
            i = j;
            continue;
        }
        if (c == '?' && !native) {
            content({});
            out.ParamNames.emplace_back();
            b.AddMarker(static_cast<int>(out.ParamNames.size()));
            ++i;
            continue;
        }
        if (c == ':') {
            content({});
            if (i + 1 < s.size() && (s[i + 1] == ':' || s[i + 1] == '=')) {
                copy(i, i + 2);
                i += 2;
                continue;
            }
            if (!native && brackets == 0 && i + 1 < s.size() && IsIdentStart(s[i + 1])) {
                std::size_t j = i + 1;
                while (j < s.size() && (IsIdentStart(s[j]) || IsDigit(s[j]))) ++j;
                const String name(s.substr(i, j - i));
                auto it = b.NamedOrdinals.find(name);
                if (it == b.NamedOrdinals.end()) {
                    out.ParamNames.push_back(name);
                    it = b.NamedOrdinals.emplace(name, static_cast<int>(out.ParamNames.size())).first;
                }
                b.AddMarker(it->second);
                i = j;
                continue;
            }
            b.Sql += c;
            ++i;
            continue;
        }
        if (c == ';' && parens == 0 && atomic <= 0) {
            b.Finish(s, i);
            atomic = 0;
            brackets = 0;
            ++i;
            b.Start = i;
            continue;
        }
        if (c == '(') ++parens;
        else if (c == ')' && parens > 0) --parens;
        else if (c == '[') ++brackets;
        else if (c == ']' && brackets > 0) --brackets;
        content({});
        b.Sql += c;
        ++i;
    }
    b.Finish(s, s.size());
    return out;
}

String QuotePgIdent(std::string_view name) {
    String out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    out += '"';
    return out;
}

bool SplitPgQualifiedName(std::string_view text, std::vector<String>& parts) {
    parts.clear();
    std::size_t i = 0;
    const std::string_view s = text;
    for (;;) {
        while (i < s.size() && IsBlank(s[i])) ++i;
        if (i >= s.size()) return false;
        String part;
        if (s[i] == '"') {
            ++i;
            bool closed = false;
            while (i < s.size()) {
                if (s[i] == '"') {
                    if (i + 1 < s.size() && s[i + 1] == '"') {
                        part += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                part += s[i++];
            }
            if (!closed || part.empty()) return false;
        } else {
            if (!IsIdentStart(s[i])) return false;
            while (i < s.size() && IsIdentChar(s[i])) {
                char c = s[i++];
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
                part += c;
            }
        }
        parts.push_back(std::move(part));
        while (i < s.size() && IsBlank(s[i])) ++i;
        if (i >= s.size()) return true;
        if (s[i] != '.') return false;
        ++i;
    }
}

}  // namespace DataEngine::Postgres
