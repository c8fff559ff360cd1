#include "Platform/data-engine/objects/Cursors.h"

#include <algorithm>

namespace DataEngine::Ado {

namespace {
constexpr std::size_t npos = static_cast<std::size_t>(-1);
}

// ---- TStoreCursor ------------------------------------------------------------------------

TStoreCursor::TStoreCursor(std::shared_ptr<TRowSet> rows)
    : FRows(std::move(rows)), FStore(&FRows->Store), FHidden(FRows->Hidden) {}

Int64 TStoreCursor::GetCount() const {
    return static_cast<Int64>(FStore->GetRowCount()) - static_cast<Int64>(FHidden.size());
}

bool TStoreCursor::IsVisible(TRowId row) const {
    return FStore->IsLive(row) && !std::binary_search(FHidden.begin(), FHidden.end(), row);
}

bool TStoreCursor::HasRow() const { return FPlace == plRow && IsVisible(FRow); }

TRowId TStoreCursor::GetCurrent() const { return HasRow() ? FRow : NoRow; }

bool TStoreCursor::OnDeletedRow() const { return FPlace == plRow && !IsVisible(FRow); }

std::size_t TStoreCursor::VisibleFrom(std::size_t p) const {
    const auto& rows = FStore->GetRows();
    for (; p < rows.size(); ++p)
        if (!std::binary_search(FHidden.begin(), FHidden.end(), rows[p])) return p;
    return npos;
}

std::size_t TStoreCursor::VisibleBefore(std::size_t p) const {
    const auto& rows = FStore->GetRows();
    if (p > rows.size()) p = rows.size();
    while (p > 0) {
        --p;
        if (!std::binary_search(FHidden.begin(), FHidden.end(), rows[p])) return p;
    }
    return npos;
}

std::size_t TStoreCursor::StorePosition() const {
    const std::size_t p = FStore->PositionOf(FRow);
    if (p != npos) return p;
    // The row went away: the rows after it moved up into its place. Rows
    // before it may have gone too; rows never move down, so the place is at
    // most where the row was.
    const auto& rows = FStore->GetRows();
    const auto it = std::lower_bound(rows.begin(), rows.end(), FRow);
    return static_cast<std::size_t>(it - rows.begin());
}

void TStoreCursor::MoveFirst() {
    const std::size_t p = VisibleFrom(0);
    if (p == npos) {
        FPlace = plEOF;
        return;
    }
    GoTo(FStore->GetRows()[p]);
}

void TStoreCursor::MoveLast() {
    const std::size_t p = VisibleBefore(FStore->GetRowCount());
    if (p == npos) {
        FPlace = plBOF;
        return;
    }
    GoTo(FStore->GetRows()[p]);
}

void TStoreCursor::MoveNext() {
    std::size_t from;
    switch (FPlace) {
        case plEOF: return;
        case plBOF: from = 0; break;
        default:
            from = StorePosition();
            if (FStore->PositionOf(FRow) != npos) ++from;  // past a row that is still there
            break;
    }
    const std::size_t p = VisibleFrom(from);
    if (p == npos) {
        FPlace = plEOF;
        return;
    }
    GoTo(FStore->GetRows()[p]);
}

void TStoreCursor::MovePrevious() {
    std::size_t before;
    switch (FPlace) {
        case plBOF: return;
        case plEOF: before = FStore->GetRowCount(); break;
        default: before = StorePosition(); break;
    }
    const std::size_t p = VisibleBefore(before);
    if (p == npos) {
        FPlace = plBOF;
        return;
    }
    GoTo(FStore->GetRows()[p]);
}

void TStoreCursor::GoTo(TRowId row) {
    FPlace = plRow;
    FRow = row;
}

Int64 TStoreCursor::HiddenBefore(std::size_t storePos) const {
    Int64 n = 0;
    for (TRowId h : FHidden) {
        const std::size_t p = FStore->PositionOf(h);
        if (p != npos && p < storePos) ++n;
    }
    return n;
}

Int64 TStoreCursor::IndexOf(TRowId row) const {
    if (!IsVisible(row)) return -1;
    const std::size_t p = FStore->PositionOf(row);
    return static_cast<Int64>(p) - HiddenBefore(p);
}

TRowId TStoreCursor::RowAt(Int64 index) const {
    if (index < 0 || index >= GetCount()) return NoRow;
    // Hidden rows are few (pending deletes): step over those before the target.
    std::size_t p = static_cast<std::size_t>(index);
    std::vector<std::size_t> hidden;
    for (TRowId h : FHidden) hidden.push_back(FStore->PositionOf(h));
    std::sort(hidden.begin(), hidden.end());
    for (std::size_t h : hidden)
        if (h <= p) ++p;
    return FStore->GetRows()[p];
}

Int64 TStoreCursor::GetIndex() const {
    switch (FPlace) {
        case plBOF: return -1;
        case plEOF: return GetCount();
        default: {
            const std::size_t p = StorePosition();
            return static_cast<Int64>(p) - HiddenBefore(p);
        }
    }
}

void TStoreCursor::RowHidden(TRowId row) {
    const auto it = std::lower_bound(FHidden.begin(), FHidden.end(), row);
    if (it == FHidden.end() || *it != row) FHidden.insert(it, row);
}

void TStoreCursor::RowShown(TRowId row) {
    const auto it = std::lower_bound(FHidden.begin(), FHidden.end(), row);
    if (it != FHidden.end() && *it == row) FHidden.erase(it);
}

// ---- TStreamCursor -----------------------------------------------------------------------

TStreamCursor::TStreamCursor(std::shared_ptr<TStatement> statement, TResultStream& result, Int64 maxRecords)
    : FStatement(std::move(statement)), FMax(maxRecords) {
    Start(result);
}

void TStreamCursor::Start(TResultStream& result) {
    FReader = std::make_unique<TForwardReader>(result);
    FColumns = result.GetColumns();
    FRead = 0;
    FEof = false;
    MoveNext();
    FEmpty = FEof;
}

void TStreamCursor::MoveNext() {
    if (FEof) return;
    if (FMax > 0 && FRead >= FMax) {
        FEof = true;
        FStatement->Close();  // MaxRecords reached: release the rest
        return;
    }
    if (FReader->Next()) {
        ++FRead;
    } else {
        FEof = true;
    }
}

void TStreamCursor::Restart() {
    FReader.reset();
    TResultStream& result = FStatement->Execute();
    if (!result.HasRows())
        throw EEngineError("Running the statement again gave no rows", hrFail, 0, {}, {}, FStatement->GetText());
    Start(result);
}

void TStreamCursor::Close() noexcept {
    FReader.reset();
    FEof = true;
    try {
        FStatement->Close();
    } catch (...) {
    }
}

}  // namespace DataEngine::Ado
