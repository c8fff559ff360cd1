#include "Platform/data-engine/cursor/Sort.h"

#include <algorithm>
#include <numeric>
#include <type_traits>

#include "Platform/data-engine/cursor/Compare.h"
#include "Platform/data-engine/cursor/Criteria.h"

namespace DataEngine {

using namespace Velora;

namespace {

[[noreturn]] void SortError(std::string_view text, const String& why) {
    throw ECriteriaError("Invalid sort \"" + ClipForMessage(text) + "\": " + why, AdoErrorHResult(adErrInvalidArgument));
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsSignedIntegerKind(TStorageKind k) noexcept {
    return k == skBoolean || k == skInt8 || k == skInt16 || k == skInt32 || k == skInt64 || k == skCurrency;
}
bool IsUnsignedIntegerKind(TStorageKind k) noexcept {
    return k == skUInt8 || k == skUInt16 || k == skUInt32 || k == skUInt64;
}

// One key of an integer kind: keys and positions side by side, ordered by
// (key, position), which is the stable order, without a comparison per kind
// or a look at the row store while sorting. Nulls keep their order, first
// ascending and last descending, as CompareCells puts them.
template <class T>
void SortByIntegerKey(const TRowStore& store, const TSortKey& key, std::vector<TRowId>& rows) {
    struct TEntry {
        T Key;
        std::uint32_t Pos;
    };
    std::vector<TEntry> values;
    values.reserve(rows.size());
    std::vector<TRowId> nulls;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TCell c = store.GetCell(rows[i], key.Column);
        if (c.Null) {
            nulls.push_back(rows[i]);
            continue;
        }
        if constexpr (std::is_signed_v<T>)
            values.push_back({c.I, static_cast<std::uint32_t>(i)});
        else
            values.push_back({c.U, static_cast<std::uint32_t>(i)});
    }
    if (key.Descending)
        std::sort(values.begin(), values.end(),
                  [](const TEntry& a, const TEntry& b) { return a.Key != b.Key ? a.Key > b.Key : a.Pos < b.Pos; });
    else
        std::sort(values.begin(), values.end(),
                  [](const TEntry& a, const TEntry& b) { return a.Key != b.Key ? a.Key < b.Key : a.Pos < b.Pos; });
    std::vector<TRowId> sorted;
    sorted.reserve(rows.size());
    if (!key.Descending) sorted.insert(sorted.end(), nulls.begin(), nulls.end());
    for (const TEntry& e : values) sorted.push_back(rows[e.Pos]);
    if (key.Descending) sorted.insert(sorted.end(), nulls.begin(), nulls.end());
    rows.swap(sorted);
}

}  // namespace

TSortOrder TSortOrder::Parse(const TRowStore& store, std::string_view text) {
    TSortOrder s;
    if (Rtl::Trim(text).empty()) return s;
    if (text.find('\0') != std::string_view::npos) SortError(text, "it holds a NUL character");
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        String name;
        if (i < text.size() && text[i] == '[') {
            const std::size_t close = text.find(']', i + 1);
            if (close == std::string_view::npos)
                SortError(text, "the name beginning with [ at position " + std::to_string(i + 1) + " has no closing ]");
            name = String(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') name += text[i++];
        }
        if (name.empty())
            SortError(text, i < text.size() ? "a field name is missing before \",\" at position " + std::to_string(i + 1)
                                             : "a field name is missing at the end");
        const int column = store.FindColumn(name);
        if (column < 0) SortError(text, "no field named \"" + name + "\"");
        TSortKey key;
        key.Column = static_cast<std::size_t>(column);
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i < text.size() && text[i] != ',') {
            String word;
            const std::size_t start = i;
            while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') word += text[i++];
            if (Rtl::SameText(word, "DESC")) key.Descending = true;
            else if (!Rtl::SameText(word, "ASC"))
                SortError(text, "\"" + word + "\" after \"" + name + "\" at position " + std::to_string(start + 1) +
                                    " is neither ASC nor DESC");
            while (i < text.size() && IsBlank(text[i])) ++i;
            if (i < text.size() && text[i] != ',')
                SortError(text, "a comma must separate the fields, not \"" + String(text.substr(i, 20)) + "\"");
        }
        s.FKeys.push_back(key);
        if (i >= text.size()) break;
        ++i;  // the comma
    }
    s.FText = String(text);
    return s;
}

int TSortOrder::Compare(const TRowStore& store, TRowId a, TRowId b) const {
    for (const auto& k : FKeys) {
        const int r = CompareCells(store.GetKinds()[k.Column], store.GetCell(a, k.Column), store.GetCell(b, k.Column));
        if (r != 0) return k.Descending ? -r : r;
    }
    return 0;
}

void TSortOrder::Apply(const TRowStore& store, std::vector<TRowId>& rows) const {
    if (FKeys.empty() || rows.size() < 2) return;
    if (FKeys.size() == 1) {
        const TStorageKind kind = store.GetKinds()[FKeys.front().Column];
        if (IsSignedIntegerKind(kind)) return SortByIntegerKey<Int64>(store, FKeys.front(), rows);
        if (IsUnsignedIntegerKind(kind)) return SortByIntegerKey<UInt64>(store, FKeys.front(), rows);
    }
    // The keys are read once: cells of text point into the store, which never moves them.
    const std::size_t n = rows.size();
    std::vector<std::vector<TCell>> keys(FKeys.size());
    for (std::size_t k = 0; k < FKeys.size(); ++k) {
        keys[k].resize(n);
        for (std::size_t i = 0; i < n; ++i) keys[k][i] = store.GetCell(rows[i], FKeys[k].Column);
    }
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    const auto& kinds = store.GetKinds();
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (std::size_t k = 0; k < FKeys.size(); ++k) {
            const int r = CompareCells(kinds[FKeys[k].Column], keys[k][a], keys[k][b]);
            if (r != 0) return FKeys[k].Descending ? r > 0 : r < 0;
        }
        return false;
    });
    std::vector<TRowId> sorted(n);
    for (std::size_t i = 0; i < n; ++i) sorted[i] = rows[order[i]];
    rows.swap(sorted);
}

}  // namespace DataEngine
