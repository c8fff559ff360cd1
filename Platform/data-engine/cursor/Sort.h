// Sort orders of the client cursor ("a ASC, b DESC"), parsed against a row
// store's columns and applied to a list of row ids without fetching again.
//
// The text is a comma-separated list of field names, each optionally followed
// by ASC (the default) or DESC, keywords in any case; a name with blanks,
// commas or brackets goes in [brackets]. A blank text is no sort (arrival
// order). The sort is stable: rows with equal keys keep the order they had,
// which for rows in arrival order is the arrival order. Values compare by
// their type (Compare.h): numbers as numbers, dates as dates, text in the
// cursor's collation; Nulls come first ascending and last descending.
#pragma once

#include "Platform/data-engine/cursor/RowStore.h"

namespace DataEngine {

struct TSortKey {
    std::size_t Column = 0;
    bool Descending = false;
};

class TSortOrder {
public:
    TSortOrder() = default;
    // ECriteriaError (adErrInvalidArgument) naming the offending part when bad.
    static TSortOrder Parse(const TRowStore& store, std::string_view text);
    static TSortOrder FromKeys(std::vector<TSortKey> keys) {
        TSortOrder s;
        s.FKeys = std::move(keys);
        return s;
    }

    bool IsEmpty() const noexcept { return FKeys.empty(); }
    const String& GetText() const noexcept { return FText; }
    const std::vector<TSortKey>& GetKeys() const noexcept { return FKeys; }

    // Orders rows (ids of the store) by the keys, stably.
    void Apply(const TRowStore& store, std::vector<TRowId>& rows) const;
    // Order of two rows by the keys alone: <0, 0, >0.
    int Compare(const TRowStore& store, TRowId a, TRowId b) const;

private:
    String FText;
    std::vector<TSortKey> FKeys;
};

}  // namespace DataEngine
