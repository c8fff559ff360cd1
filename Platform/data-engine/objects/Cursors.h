// The two cursor kinds a recordset moves with.
//
// TStoreCursor: a position over the rows of a TRowStore (the static client
// cursor, the static and keyset server cursors, fabricated recordsets),
// visited through a TCursorView: the rows the cursor's filter keeps, in the
// order of its sort (arrival order without one). The store may be shared by
// clones; each clone has its own cursor, filter and sort. Rows with a
// pending delete (batch updates) are hidden unless the filter shows them.
// The position is kept by row id, so inserts, deletes, filters and sorts
// never lose it; when the current row leaves the view the cursor stands "on
// a deleted row" at its old place until it moves.
//
// TStreamCursor: forward-only reading of a statement's result, one row at a
// time; moving back to the first row runs the statement again.
#pragma once

#include <functional>
#include <memory>

#include "Platform/data-engine/cursor/CursorView.h"
#include "Platform/data-engine/cursor/ForwardReader.h"
#include "Platform/data-engine/cursor/RowStore.h"

namespace DataEngine::Ado {

class TStoreCursor;

// A row store, the client indexes over it (field property Optimize and
// named indexes) and the cursors that show it, shared by a recordset and
// its clones. Rows that arrive or leave are announced here, so every
// cursor's view follows.
struct TRowSet {
    explicit TRowSet(std::vector<TColumnInfo> columns) : TRowSet(std::make_unique<TRowStore>(std::move(columns))) {}
    // Over a store built elsewhere (a saved recordset loaded from a file).
    explicit TRowSet(std::unique_ptr<TRowStore> store) : Owned(std::move(store)), Store(*Owned), Indexes(Store) {}
    TRowSet(const TRowSet&) = delete;
    TRowSet& operator=(const TRowSet&) = delete;

    std::unique_ptr<TRowStore> Owned;
    TRowStore& Store;
    TIndexes Indexes;
    std::vector<TStoreCursor*> Cursors;
    // Rows of the last Delete, Resync, UpdateBatch or CancelBatch (adFilterAffectedRecords).
    std::vector<TRowId> Affected;
};

class TStoreCursor {
public:
    explicit TStoreCursor(std::shared_ptr<TRowSet> rows);
    ~TStoreCursor();
    TStoreCursor(const TStoreCursor&) = delete;
    TStoreCursor& operator=(const TStoreCursor&) = delete;

    TRowStore& Store() const noexcept { return FRows->Store; }
    TIndexes& Indexes() const noexcept { return FRows->Indexes; }
    TRowSet& Rows() const noexcept { return *FRows; }
    const std::shared_ptr<TRowSet>& SharedRows() const noexcept { return FRows; }
    const TCursorView& View() const noexcept { return FView; }

    // Visible rows.
    Int64 GetCount() const { return static_cast<Int64>(FView.GetCount()); }
    bool GetBOF() const noexcept { return FPlace == plBOF || (FPlace != plRow && FView.GetCount() == 0); }
    bool GetEOF() const noexcept { return FPlace == plEOF || (FPlace != plRow && FView.GetCount() == 0); }
    // On a visible row (not BOF, EOF, or a row that went away).
    bool HasRow() const;
    // The current row; NoRow when there is none.
    TRowId GetCurrent() const;
    bool OnDeletedRow() const;
    // The row the cursor stands on or stood on (a deleted one included); NoRow at BOF and EOF.
    TRowId GetPlaceRow() const noexcept { return FPlace == plRow ? FRow : NoRow; }

    void MoveFirst();
    void MoveLast();
    // From BOF to the first row, from a row (or a deleted row's place) to the
    // next one or EOF. At EOF it stays.
    void MoveNext();
    void MovePrevious();
    void ToBOF() noexcept { FPlace = plBOF; }
    void ToEOF() noexcept { FPlace = plEOF; }
    // Puts the cursor on a row (which must be visible).
    void GoTo(TRowId row);

    // 0-based index of a visible row among the visible rows; -1 otherwise.
    Int64 IndexOf(TRowId row) const;
    // The visible row at a 0-based index; NoRow outside.
    TRowId RowAt(Int64 index) const;
    // The 0-based index of the current position: the row's, or for a row that
    // went away the index the next row has. -1 before the first, Count at the end.
    Int64 GetIndex() const;
    bool IsVisible(TRowId row) const;

    // The filter and the sort of this cursor (built and checked by the caller).
    void SetFilter(TFilter filter);
    void SetSort(TSortOrder sort);
    // Takes in every change of the store (a new filter pass, the sort again).
    void Refresh();

    // Announcements to every cursor over the rows (clones included):
    // a row took a pending delete, lost it, was added, or left the store.
    void RowHidden(TRowId row);
    void RowShown(TRowId row);
    void RowAdded(TRowId row);
    // A row that left the store leaves every view.
    void RowGone(TRowId row);
    // Rows fetched after the cursors were made (ids from first on) join
    // every view their filter lets them into, in its order.
    void RowsArrived(TRowId first);
    // Rows no longer in the store leave every view.
    void DropGone();

private:
    enum TPlace { plBOF, plRow, plEOF };
    void Leave(TRowId row);      // this cursor's view drops the row
    void Rebuild(const std::function<void()>& change);

    std::shared_ptr<TRowSet> FRows;
    TCursorView FView;
    TPlace FPlace = plBOF;
    TRowId FRow = NoRow;
    // When the current row left the view: the index the next row has.
    std::size_t FGoneIndex = 0;
};

class TStreamCursor {
public:
    // statement has run; result is its current result, read from its first row.
    TStreamCursor(std::shared_ptr<TStatement> statement, TResultStream& result, Int64 maxRecords);

    const std::vector<TColumnInfo>& GetColumns() const { return FColumns; }
    bool GetBOF() const noexcept { return FEmpty; }
    bool GetEOF() const noexcept { return FEof; }
    bool HasRow() const noexcept { return !FEof; }
    // Rows read so far, the current one included.
    Int64 GetRowNumber() const noexcept { return FRead; }
    void MoveNext();
    // Runs the statement again and stands on its first row.
    void Restart();
    Variant GetValue(std::size_t column) const { return FReader->GetValue(column); }
    const TCell& GetCell(std::size_t column) const { return FReader->Cell(column); }
    TStatement& Statement() const noexcept { return *FStatement; }
    const std::shared_ptr<TStatement>& SharedStatement() const noexcept { return FStatement; }
    // Stops reading (the statement releases what it holds).
    void Close() noexcept;

private:
    void Start(TResultStream& result);

    std::shared_ptr<TStatement> FStatement;
    std::unique_ptr<TForwardReader> FReader;
    std::vector<TColumnInfo> FColumns;
    Int64 FMax = 0;
    Int64 FRead = 0;
    bool FEof = true;
    bool FEmpty = true;
};

}  // namespace DataEngine::Ado
