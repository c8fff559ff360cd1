#include "Platform/data-engine/cursor/Sort.h"

#include <algorithm>
#include <numeric>

#include "Platform/data-engine/cursor/Compare.h"
#include "Platform/data-engine/cursor/Criteria.h"

namespace DataEngine {

using namespace Velora;

namespace {

[[noreturn]] void SortError(std::string_view text, const String& why) {
    throw ECriteriaError("Invalid sort \"" + ClipForMessage(text) + "\": " + why, AdoErrorHResult(adErrInvalidArgument));
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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
