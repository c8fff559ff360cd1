// Client-side indexes over a row store and Seek.
//
// An index orders the live rows of a store by one or more key columns (each
// ascending or descending), ties by row id, so its order is always the one
// and only sorted order of the rows. Two kinds exist side by side in a
// TIndexes set: the index of one column that the field property Optimize
// asks for (it speeds Find and Filter on that field), and named indexes of
// several columns, taken from the provider's indexes or made by the
// application, which the recordset's Index property chooses for Seek.
//
// An index follows the store without being told: when the store's change
// count moved since the index last looked, it drops rows that went away,
// takes in new rows and moves rows whose keys changed, without sorting
// everything again unless most rows moved.
//
// Seek(KeyValues, SeekOption) compares the given values with the leading
// key columns (fewer values than columns compare a leading part):
// adSeekFirstEQ / adSeekLastEQ give the first / last row whose key equals the
// values, adSeekAfterEQ the first row at or after them, adSeekAfter the first
// row after them, adSeekBeforeEQ the last row at or before them, and
// adSeekBefore the last row before them; NoRow when there is none (the
// recordset then stands at EOF).
#pragma once

#include <functional>
#include <memory>

#include "Platform/data-engine/cursor/Compare.h"
#include "Platform/data-engine/cursor/Sort.h"

namespace DataEngine {

class TIndex {
public:
    TIndex(const TRowStore& store, String name, std::vector<TSortKey> keys, bool unique = false);

    const String& GetName() const noexcept { return FName; }
    const std::vector<TSortKey>& GetKeys() const noexcept { return FKeys; }
    bool GetUnique() const noexcept { return FUnique; }
    // The live rows (pending deletes included) in key order.
    const std::vector<TRowId>& GetRows() const;

    // One probe per leading key column, converted from the seek values.
    // EEngineError naming the value when one does not fit its column.
    std::vector<TProbe> MakeProbes(const std::vector<Variant>& keyValues) const;
    // The row Seek stands on, or NoRow. visible (optional) skips rows the
    // cursor does not show, in the direction of the option.
    TRowId Seek(const std::vector<Variant>& keyValues, Velora::SeekEnum option,
                const std::function<bool(TRowId)>& visible = {}) const;
    // Positions [first, last) in GetRows() of the rows whose leading keys equal the probes.
    std::pair<std::size_t, std::size_t> EqualRange(const std::vector<TProbe>& probes) const;

private:
    int CompareRows(TRowId a, TRowId b) const;
    // Sign of (row's leading keys - probes).
    int CompareToProbes(TRowId row, const std::vector<TProbe>& probes) const;
    void Refresh() const;
    void Rebuild() const;

    const TRowStore& FStore;
    String FName;
    std::vector<TSortKey> FKeys;
    bool FUnique;
    mutable std::vector<TRowId> FRows;
    mutable std::uint64_t FSeen = ~std::uint64_t{0};
    mutable TRowId FNextNew = 0;  // rows with ids from here on are new to the index
};

class TIndexes {
public:
    explicit TIndexes(const TRowStore& store) : FStore(store) {}

    // The field property Optimize: an index on one column, made or dropped.
    void SetOptimize(std::size_t column, bool on);
    bool GetOptimize(std::size_t column) const noexcept;
    const TIndex* ColumnIndex(std::size_t column) const noexcept;

    // A named index over columns named by the provider or the application;
    // descending may be empty (all ascending). Errors name a missing column,
    // a name already used, or an empty key.
    const TIndex& Add(const String& name, const std::vector<String>& columns, const std::vector<bool>& descending = {},
                      bool unique = false);
    void Remove(std::string_view name);
    // By name without regard to ASCII case; null when absent.
    const TIndex* Find(std::string_view name) const noexcept;
    // The index Recordset.Index names; adErrItemNotFound naming it when absent.
    const TIndex& Get(std::string_view name) const;
    std::vector<String> GetNames() const;

private:
    const TRowStore& FStore;
    std::vector<std::unique_ptr<TIndex>> FNamed;
    std::vector<std::pair<std::size_t, std::unique_ptr<TIndex>>> FColumns;
};

}  // namespace DataEngine
