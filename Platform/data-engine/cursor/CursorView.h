// The rows a client cursor shows: the store's rows passed through the filter
// in force and put in the sort order in force (arrival order without one).
// RecordCount, AbsolutePosition and moves work on this list; rows keep their
// ids (bookmarks) whatever filter or sort comes and goes.
//
// Changing the filter or the sort takes an already built TFilter or
// TSortOrder (see Filter.h and Sort.h), so every error is raised before the
// view changes. Edits do not re-filter by themselves, as in ADO: a row edited
// so that it no longer passes the criteria stays visible until the filter is
// set again (or Refresh), and a row the recordset adds shows at the end
// (RowAdded). Rows fetched later (an asynchronous fetch) pass the filter and
// take their place in the order (RowsAppended). A row that goes away (a pending delete hidden, a row purged)
// leaves with RowRemoved.
//
// Find searches the visible rows in view order; with an index on the field
// (the field property Optimize, see Index.h) an equality search looks the
// matching rows up instead of visiting them.
#pragma once

#include "Platform/data-engine/cursor/Filter.h"
#include "Platform/data-engine/cursor/Index.h"
#include "Platform/data-engine/cursor/Sort.h"

namespace DataEngine {

class TCursorView {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit TCursorView(const TRowStore& store, const TIndexes* indexes = nullptr);

    const TFilter& GetFilter() const noexcept { return FFilter; }
    const TSortOrder& GetSort() const noexcept { return FSort; }
    void SetFilter(TFilter filter);
    void SetSort(TSortOrder sort);
    // Recomputes the rows from the store (after a requery, a resync or
    // changes the view should take in).
    void Refresh();

    std::size_t GetCount() const noexcept { return FRows.size(); }
    const std::vector<TRowId>& GetRows() const noexcept { return FRows; }
    // The visible row at a 0-based position; NoRow outside.
    TRowId RowAt(std::size_t index) const noexcept { return index < FRows.size() ? FRows[index] : NoRow; }
    // The 0-based position of a visible row; npos for a row not shown.
    std::size_t IndexOf(TRowId row) const noexcept;
    bool Contains(TRowId row) const noexcept { return IndexOf(row) != npos; }

    // A row the recordset added: it shows at the end.
    void RowAdded(TRowId row);
    // A row that should no longer show.
    void RowRemoved(TRowId row);
    // Rows fetched into the store after the view was built (ids from first
    // on, at the end of the store): those the filter keeps join the view at
    // their place in the sort order, after rows with equal keys, or at the
    // end without a sort. Answers how many joined.
    std::size_t RowsAppended(TRowId first);

    // Find: searches from the row at start (a position; GetCount() stands for
    // EOF and -1 for BOF) moved by skip rows in the direction, towards the end
    // (adSearchForward) or the beginning (adSearchBackward). The position of
    // the first matching row met, or -1 when none (the recordset then stands
    // at EOF searching forward, at BOF searching backward).
    Int64 Find(const TComparison& criteria, Int64 start, Int64 skip, Velora::SearchDirectionEnum direction) const;

private:
    void Build();
    void Reindex(std::size_t from);
    bool Shows(TRowId row) const;
    bool CollectByIndex(std::vector<TRowId>& out) const;

    const TRowStore& FStore;
    const TIndexes* FIndexes;
    TFilter FFilter;
    TSortOrder FSort;
    std::vector<TRowId> FRows;
    std::vector<std::uint32_t> FPos;  // by row id: position + 1, 0 when not shown
};

}  // namespace DataEngine
