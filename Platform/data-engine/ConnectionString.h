// Connection strings: "key=value;key=value" as ADO and OLE DB write them.
//
// Rules (those of OLE DB's initialization strings):
// - items are separated by ';'; empty items (";;", a trailing ';') are skipped;
// - blanks around keys and around unquoted values are dropped, blanks inside
//   are kept; keys compare without regard to ASCII case;
// - "==" inside a key stands for one '=' (the first single '=' ends the key);
// - a value may be enclosed in single or double quotes; inside, the other
//   quote character is literal, the same one is written twice, and ';' and '='
//   are literal; after the closing quote only blanks may follow before ';';
// - a key given twice keeps the last value (and the place of the first);
// - keys the engine does not know are kept and handed to the provider.
// A malformed string raises EConnectionStringError naming the offending text
// and its position. NUL characters are refused: no value may hide text from
// the C interfaces it is handed to.
#pragma once

#include <optional>
#include <vector>

#include "Platform/data-engine/EngineError.h"

namespace DataEngine {

class TConnectionString {
public:
    struct TItem {
        String Key;
        String Value;
    };

    TConnectionString() = default;
    static TConnectionString Parse(std::string_view text);

    bool Empty() const noexcept { return FItems.empty(); }
    bool Has(std::string_view key) const noexcept { return IndexOf(key) >= 0; }
    std::optional<String> Find(std::string_view key) const;
    String Get(std::string_view key, std::string_view def = {}) const;
    // Replaces the value of an existing key (keeping its place) or appends the
    // pair. EConnectionStringError for a key that cannot be written back
    // (empty, or holding ';' or NUL) or a value holding NUL.
    void Set(std::string_view key, std::string_view value);
    bool Remove(std::string_view key);
    const std::vector<TItem>& Items() const noexcept { return FItems; }

    // The canonical text: "Key=Value;" per item, values quoted where needed.
    // Parse(ToString()) gives back the same items.
    String ToString() const;

    bool operator==(const TConnectionString& o) const;

private:
    int IndexOf(std::string_view key) const noexcept;
    std::vector<TItem> FItems;
};

// Quotes a value when it must be: it holds ';', starts or ends with a blank,
// or starts with a quote character or '=' (which would read as part of the key).
String QuoteConnectionValue(std::string_view value);

}  // namespace DataEngine
