#include "Platform/data-engine/ConnectionString.h"

namespace DataEngine {

namespace {

bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= ' ' && c != '\0'; }

[[noreturn]] void Malformed(std::string_view text, std::size_t pos, std::string_view what) {
    // Name the item that failed: from the start of the offending item to the next ';'.
    std::size_t end = pos;
    while (end < text.size() && text[end] != ';') ++end;
    std::size_t start = pos;
    while (start > 0 && text[start - 1] != ';') --start;
    throw EConnectionStringError("Connection string is malformed at position " + std::to_string(pos + 1) + ": " +
                                     String(what) + " in '" + ClipForMessage(text.substr(start, end - start)) + "'",
                                 hrFail, 0, {}, "Connection string");
}

std::string_view TrimBlanks(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

void CheckNoNul(std::string_view s, std::string_view what) {
    if (s.find('\0') != std::string_view::npos)
        throw EConnectionStringError("Connection string " + String(what) + " holds a NUL character", hrFail, 0, {},
                                     "Connection string");
}

}  // namespace

String ClipForMessage(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return String(text);
    std::size_t cut = limit;
    // Never split a UTF-8 sequence: back up to the start of the character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return String(text.substr(0, cut)) + "...";
}

TConnectionString TConnectionString::Parse(std::string_view text) {
    TConnectionString result;
    const std::size_t n = text.size();
    std::size_t i = 0;
    if (auto nul = text.find('\0'); nul != std::string_view::npos) Malformed(text, nul, "NUL character");
    while (i < n) {
        while (i < n && (IsBlank(text[i]) || text[i] == ';')) ++i;
        if (i >= n) break;
        const std::size_t keyStart = i;
        // Key: up to the first single '='; "==" is a literal '='.
        String key;
        bool haveEquals = false;
        while (i < n) {
            const char c = text[i];
            if (c == '=') {
                if (i + 1 < n && text[i + 1] == '=') {
                    key += '=';
                    i += 2;
                    continue;
                }
                haveEquals = true;
                ++i;
                break;
            }
            if (c == ';') break;
            key += c;
            ++i;
        }
        if (!haveEquals) Malformed(text, keyStart, "a keyword without '=' and value");
        const std::string_view trimmedKey = TrimBlanks(key);
        if (trimmedKey.empty()) Malformed(text, keyStart, "an empty keyword");

        while (i < n && IsBlank(text[i])) ++i;
        String value;
        if (i < n && (text[i] == '\'' || text[i] == '"')) {
            const char quote = text[i];
            const std::size_t quoteStart = i;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (!closed) Malformed(text, quoteStart, "a quoted value without its closing quote");
            while (i < n && IsBlank(text[i])) ++i;
            if (i < n && text[i] != ';') Malformed(text, i, "text after the closing quote");
        } else {
            const std::size_t valueStart = i;
            while (i < n && text[i] != ';') ++i;
            value = String(TrimBlanks(text.substr(valueStart, i - valueStart)));
        }
        const int at = result.IndexOf(trimmedKey);
        if (at >= 0)
            result.FItems[static_cast<std::size_t>(at)].Value = std::move(value);
        else
            result.FItems.push_back({String(trimmedKey), std::move(value)});
    }
    return result;
}

int TConnectionString::IndexOf(std::string_view key) const noexcept {
    key = TrimBlanks(key);
    for (std::size_t k = 0; k < FItems.size(); ++k)
        if (Rtl::SameText(FItems[k].Key, key)) return static_cast<int>(k);
    return -1;
}

std::optional<String> TConnectionString::Find(std::string_view key) const {
    const int at = IndexOf(key);
    if (at < 0) return std::nullopt;
    return FItems[static_cast<std::size_t>(at)].Value;
}

String TConnectionString::Get(std::string_view key, std::string_view def) const {
    const int at = IndexOf(key);
    return at < 0 ? String(def) : FItems[static_cast<std::size_t>(at)].Value;
}

void TConnectionString::Set(std::string_view key, std::string_view value) {
    const std::string_view k = TrimBlanks(key);
    if (k.empty()) throw EConnectionStringError("Connection string keyword is empty", hrFail, 0, {}, "Connection string");
    if (k.find(';') != std::string_view::npos)
        throw EConnectionStringError("Connection string keyword '" + ClipForMessage(k) + "' holds ';'", hrFail, 0, {},
                                     "Connection string");
    CheckNoNul(k, "keyword");
    CheckNoNul(value, "value");
    const int at = IndexOf(k);
    if (at >= 0)
        FItems[static_cast<std::size_t>(at)].Value = String(value);
    else
        FItems.push_back({String(k), String(value)});
}

bool TConnectionString::Remove(std::string_view key) {
    const int at = IndexOf(key);
    if (at < 0) return false;
    FItems.erase(FItems.begin() + at);
    return true;
}

String QuoteConnectionValue(std::string_view value) {
    const bool needs = value.find(';') != std::string_view::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || value.front() == '\'' ||
                                           value.front() == '"' || value.front() == '='));
    if (!needs) return String(value);
    char quote = '"';
    if (value.find('"') != std::string_view::npos && value.find('\'') == std::string_view::npos) quote = '\'';
    String out(1, quote);
    for (char c : value) {
        out += c;
        if (c == quote) out += c;
    }
    out += quote;
    return out;
}

String TConnectionString::ToString() const {
    String out;
    for (const auto& item : FItems) {
        for (char c : item.Key) {
            out += c;
            if (c == '=') out += '=';
        }
        out += '=';
        out += QuoteConnectionValue(item.Value);
        out += ';';
    }
    return out;
}

bool TConnectionString::operator==(const TConnectionString& o) const {
    if (FItems.size() != o.FItems.size()) return false;
    for (std::size_t k = 0; k < FItems.size(); ++k)
        if (!Rtl::SameText(FItems[k].Key, o.FItems[k].Key) || FItems[k].Value != o.FItems[k].Value) return false;
    return true;
}

}  // namespace DataEngine
