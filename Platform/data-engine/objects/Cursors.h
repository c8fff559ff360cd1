// The two cursor kinds a recordset moves with.
//
// TStoreCursor: a position over the rows of a TRowStore (the static client
// cursor, the static and keyset server cursors, fabricated recordsets). The
// store may be shared by clones, each with its own cursor. Rows are visited in
// the store's arrival order; rows with a pending delete (batch updates) are
// skipped and not counted. The position is kept by row id, so inserts and
// deletes elsewhere never move it; when the current row goes away the cursor
// stands "on a deleted row" at its old place until it moves.
//
// TStreamCursor: forward-only reading of a statement's result, one row at a
// time; moving back to the first row runs the statement again.
#pragma once

#include <memory>

#include "Platform/data-engine/cursor/ForwardReader.h"
#include "Platform/data-engine/cursor/RowStore.h"

namespace DataEngine::Ado {

// A row store and the rows of it that carry a pending delete (hidden from
// the cursors), shared by a recordset and its clones.
struct TRowSet {
    explicit TRowSet(std::vector<TColumnInfo> columns) : Store(std::move(columns)) {}
    TRowStore Store;
    std::vector<TRowId> Hidden;  // sorted
};

class TStoreCursor {
public:
    explicit TStoreCursor(std::shared_ptr<TRowSet> rows);

    TRowStore& Store() const noexcept { return FRows->Store; }
    const std::shared_ptr<TRowSet>& SharedRows() const noexcept { return FRows; }

    // Visible rows (live rows without a pending delete).
    Int64 GetCount() const;
    bool GetBOF() const noexcept { return FPlace == plBOF || (FPlace != plRow && GetCount() == 0); }
    bool GetEOF() const noexcept { return FPlace == plEOF || (FPlace != plRow && GetCount() == 0); }
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

    // Rows with a pending delete stay in the store but are skipped. Call after
    // marking or unmarking one (clones see it too).
    void RowHidden(TRowId row);
    void RowShown(TRowId row);

private:
    enum TPlace { plBOF, plRow, plEOF };
    // Store position (in GetRows()) of the first visible row at or after p,
    // or before/at p going back; npos when none.
    std::size_t VisibleFrom(std::size_t p) const;
    std::size_t VisibleBefore(std::size_t p) const;  // strictly before p
    std::size_t StorePosition() const;               // the current row's, or where it was
    Int64 HiddenBefore(std::size_t storePos) const;  // hidden rows at store positions < storePos

    std::shared_ptr<TRowSet> FRows;
    TRowStore* FStore;  // &FRows->Store
    std::vector<TRowId>& FHidden;
    TPlace FPlace = plBOF;
    TRowId FRow = NoRow;
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
