// Compact typed row storage for the client cursor.
//
// Rows live in fixed-width records (one slot per column in the column's own
// width: 1 byte for booleans, 4 for adInteger, 8 for doubles, dates and
// currency, 16 for decimals and GUIDs, 8 for a reference into the byte heap
// for text and binary values) followed by a null bitmap. Records sit in
// pages that never move, and text and bytes in an append-only heap of
// chunks, so a cell read stays valid while the store lives.
//
// A row id is given once, in arrival order, and never reused: it is the
// row's bookmark and survives every insert, delete and change of other rows.
// Each row carries its ADO status (new, modified, deleted, unmodified, plus
// flags such as adRecConcurrencyViolation the update layer sets). The first
// change of a fetched row keeps a copy of its record as the original values;
// values read back from the database for a conflict check are kept as the
// underlying values. Accepting or rejecting a row's changes settles them.
// Filters, sorts and bookmarks of the cursor are views over row ids; the
// store itself keeps rows in arrival order.
#pragma once

#include <memory>
#include <unordered_map>

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine {

using TRowId = std::uint32_t;
constexpr TRowId NoRow = 0xFFFFFFFFu;

enum TValueVersion : Byte {
    vvCurrent,     // the value as the cursor shows it now
    vvOriginal,    // as fetched (or last accepted); Null for a new row
    vvUnderlying,  // as last read back from the database; the original when never read
};

class TRowStore {
public:
    explicit TRowStore(std::vector<TColumnInfo> columns);
    ~TRowStore();
    TRowStore(const TRowStore&) = delete;
    TRowStore& operator=(const TRowStore&) = delete;

    const std::vector<TColumnInfo>& GetColumns() const noexcept { return FColumns; }
    const std::vector<TStorageKind>& GetKinds() const noexcept { return FKinds; }
    std::size_t GetColumnCount() const noexcept { return FColumns.size(); }
    // Index of a column by name, without regard to ASCII case; -1 when absent.
    int FindColumn(std::string_view name) const noexcept;

    // ---- Rows ---------------------------------------------------------------
    // Appends a fetched row (status unmodified); its cells are copied.
    TRowId Append(const TRowBuffer& row);
    // Fetches the rest of a result (at most maxRows rows when maxRows > 0)
    // and returns how many rows were added.
    std::size_t Load(TResultStream& result, std::size_t maxRows = 0);
    // A new row, every cell Null, pending insertion (adRecNew).
    TRowId AddNew();
    void Reserve(std::size_t rows);

    // Live rows (pending deletes included), in arrival order, ids ascending.
    const std::vector<TRowId>& GetRows() const noexcept { return FRows; }
    std::size_t GetRowCount() const noexcept { return FRows.size(); }
    // Index of the row in GetRows(); npos when the row is not live.
    std::size_t PositionOf(TRowId row) const noexcept;
    bool IsLive(TRowId row) const noexcept;
    // RecordStatusEnum bits: exactly one of adRecNew, adRecModified,
    // adRecDeleted, adRecUnmodified, with any flags set by SetStatusFlags.
    int GetStatus(TRowId row) const;
    // Flags beyond the four states (adRecConcurrencyViolation, ...).
    void SetStatusFlags(TRowId row, int flags);
    void ClearStatusFlags(TRowId row, int flags);

    // ---- Cells ----------------------------------------------------------------
    bool IsNull(TRowId row, std::size_t column, TValueVersion version = vvCurrent) const;
    // The typed cell; text and bytes point into the store.
    TCell GetCell(TRowId row, std::size_t column, TValueVersion version = vvCurrent) const;
    Variant GetValue(TRowId row, std::size_t column, TValueVersion version = vvCurrent) const;
    // Every cell of a row at once (what a cursor does when it moves to a row).
    void GetRow(TRowId row, TRowBuffer& out, TValueVersion version = vvCurrent) const;
    // Fast paths for integer, floating and variable columns.
    Int64 GetInt64(TRowId row, std::size_t column) const;
    double GetDouble(TRowId row, std::size_t column) const;
    std::string_view GetBytes(TRowId row, std::size_t column) const;

    // ---- Changes ----------------------------------------------------------------
    // Converts the value to the column's type (errors name the column and the
    // value, and change nothing) and stores it. The first change of a fetched
    // row keeps its original values. A deleted row cannot change.
    void SetValue(TRowId row, std::size_t column, const Variant& value);
    void SetCell(TRowId row, std::size_t column, const TCell& cell);
    // Marks a row deleted; a new row that never reached the database goes at once.
    void Delete(TRowId row);
    // True when the current value differs from the original one.
    bool IsChanged(TRowId row, std::size_t column) const;
    bool HasOriginal(TRowId row) const noexcept { return FOriginal.count(row) != 0; }
    // The row's change reached the database: deleted rows go, others become
    // unmodified with their current values as the new originals.
    void AcceptChanges(TRowId row);
    // Undoes the row's pending change: new rows go, changed and deleted rows
    // get their original values and status back.
    void RejectChanges(TRowId row);
    // Keeps values read back from the database as the row's underlying values.
    void SetUnderlying(TRowId row, const TRowBuffer& values);
    // The database's values become current and original; any pending change goes.
    void Refresh(TRowId row, const TRowBuffer& values);
    // Rows with a pending insert, change or delete, in arrival order.
    std::vector<TRowId> GetPendingRows() const;
    std::size_t GetPendingCount() const noexcept { return FPendingCount; }
    // Grows with every change of rows or values (appends, new rows, edits,
    // deletes, accepted or rejected changes, refreshes); indexes and views
    // over the store compare it to know whether they are still current.
    std::uint64_t GetChangeCount() const noexcept { return FChangeCount; }

    // ---- Memory ------------------------------------------------------------------
    std::size_t GetRecordSize() const noexcept { return FRecordSize; }
    // Bytes held by records, heap, row lists and change bookkeeping.
    std::size_t GetMemoryUsage() const noexcept;

private:
    struct TSlot {
        std::uint32_t Offset;
        TStorageKind Kind;
    };
    class TRecordPool;
    class THeap;

    const Byte* RecordOf(TRowId row, TValueVersion version) const;
    Byte* CurrentRecord(TRowId row);
    void CheckRow(TRowId row) const;
    void CheckColumn(std::size_t column) const;
    TCell ReadCell(const Byte* record, std::size_t column) const;
    void WriteCell(Byte* record, std::size_t column, const TCell& cell);
    void WriteRow(Byte* record, const TRowBuffer& row);
    void KeepOriginal(TRowId row);
    std::uint32_t CopyToSide(const Byte* record);
    void FreeSide(std::unordered_map<TRowId, std::uint32_t>& map, TRowId row);
    void Purge(TRowId row);

    std::vector<TColumnInfo> FColumns;
    std::vector<TStorageKind> FKinds;
    std::vector<TSlot> FSlots;
    std::uint32_t FNullOffset = 0;
    std::uint32_t FRecordSize = 0;

    std::unique_ptr<TRecordPool> FRecords;  // indexed by row id
    std::unique_ptr<TRecordPool> FSide;     // originals and underlying values
    std::vector<std::uint32_t> FFreeSide;
    std::unique_ptr<THeap> FHeap;

    std::vector<int> FStatus;  // by row id
    std::vector<TRowId> FRows;
    std::unordered_map<TRowId, std::uint32_t> FOriginal;
    std::unordered_map<TRowId, std::uint32_t> FUnderlying;
    std::size_t FPendingCount = 0;
    std::uint64_t FChangeCount = 0;
};

}  // namespace DataEngine
