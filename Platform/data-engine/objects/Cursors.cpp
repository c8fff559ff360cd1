#include "Platform/data-engine/objects/Cursors.h"

#include <algorithm>

namespace DataEngine::Ado {

namespace {
constexpr std::size_t npos = static_cast<std::size_t>(-1);
}

// ---- TStoreCursor ------------------------------------------------------------------------

TStoreCursor::TStoreCursor(std::shared_ptr<TRowSet> rows)
    : FRows(std::move(rows)), FView(FRows->Store, &FRows->Indexes) {
    FRows->Cursors.push_back(this);
}

TStoreCursor::~TStoreCursor() {
    auto& list = FRows->Cursors;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

bool TStoreCursor::IsVisible(TRowId row) const { return FView.Contains(row); }

bool TStoreCursor::HasRow() const { return FPlace == plRow && FView.Contains(FRow); }

TRowId TStoreCursor::GetCurrent() const { return HasRow() ? FRow : NoRow; }

bool TStoreCursor::OnDeletedRow() const { return FPlace == plRow && !FView.Contains(FRow); }

void TStoreCursor::MoveFirst() {
    if (FView.GetCount() == 0) {
        FPlace = plEOF;
        return;
    }
    GoTo(FView.RowAt(0));
}

void TStoreCursor::MoveLast() {
    if (FView.GetCount() == 0) {
        FPlace = plBOF;
        return;
    }
    GoTo(FView.RowAt(FView.GetCount() - 1));
}

void TStoreCursor::MoveNext() {
    std::size_t next;
    switch (FPlace) {
        case plEOF: return;
        case plBOF: next = 0; break;
        default: {
            const std::size_t i = FView.IndexOf(FRow);
            next = i != npos ? i + 1 : FGoneIndex;  // the row after a row that went away took its place
            break;
        }
    }
    if (next >= FView.GetCount()) {
        FPlace = plEOF;
        return;
    }
    GoTo(FView.RowAt(next));
}

void TStoreCursor::MovePrevious() {
    std::size_t place;
    switch (FPlace) {
        case plBOF: return;
        case plEOF: place = FView.GetCount(); break;
        default: {
            const std::size_t i = FView.IndexOf(FRow);
            place = i != npos ? i : std::min(FGoneIndex, FView.GetCount());
            break;
        }
    }
    if (place == 0) {
        FPlace = plBOF;
        return;
    }
    GoTo(FView.RowAt(place - 1));
}

void TStoreCursor::GoTo(TRowId row) {
    FPlace = plRow;
    FRow = row;
}

Int64 TStoreCursor::IndexOf(TRowId row) const {
    const std::size_t i = FView.IndexOf(row);
    return i == npos ? -1 : static_cast<Int64>(i);
}

TRowId TStoreCursor::RowAt(Int64 index) const {
    if (index < 0) return NoRow;
    return FView.RowAt(static_cast<std::size_t>(index));
}

Int64 TStoreCursor::GetIndex() const {
    switch (FPlace) {
        case plBOF: return -1;
        case plEOF: return GetCount();
        default: {
            const std::size_t i = FView.IndexOf(FRow);
            return static_cast<Int64>(i != npos ? i : std::min(FGoneIndex, FView.GetCount()));
        }
    }
}

void TStoreCursor::Leave(TRowId row) {
    const std::size_t i = FView.IndexOf(row);
    if (i == npos) return;
    if (FPlace == plRow) {
        if (FRow == row)
            FGoneIndex = i;
        else if (!FView.Contains(FRow) && i < FGoneIndex)
            --FGoneIndex;
    }
    FView.RowRemoved(row);
}

void TStoreCursor::Rebuild(const std::function<void()>& change) {
    const Int64 before = GetIndex();
    change();
    if (FPlace == plRow && !FView.Contains(FRow))
        FGoneIndex = static_cast<std::size_t>(std::clamp<Int64>(before, 0, GetCount()));
}

void TStoreCursor::SetFilter(TFilter filter) {
    Rebuild([&] { FView.SetFilter(std::move(filter)); });
}

void TStoreCursor::SetSort(TSortOrder sort) {
    Rebuild([&] { FView.SetSort(std::move(sort)); });
}

void TStoreCursor::Refresh() {
    Rebuild([&] { FView.Refresh(); });
}

void TStoreCursor::RowHidden(TRowId row) {
    for (TStoreCursor* c : FRows->Cursors)
        if (!c->FView.GetFilter().ShowsDeleted()) c->Leave(row);
}

void TStoreCursor::RowShown(TRowId row) {
    if (!FRows->Store.IsLive(row)) return;
    // The row goes back to its place in each view (the view is built again).
    for (TStoreCursor* c : FRows->Cursors)
        if (!c->FView.Contains(row)) c->Refresh();
}

void TStoreCursor::RowAdded(TRowId row) {
    for (TStoreCursor* c : FRows->Cursors) c->FView.RowAdded(row);
}

void TStoreCursor::RowGone(TRowId row) {
    for (TStoreCursor* c : FRows->Cursors) c->Leave(row);
}

void TStoreCursor::RowsArrived(TRowId first) {
    for (TStoreCursor* c : FRows->Cursors) c->FView.RowsAppended(first);
}

void TStoreCursor::DropGone() {
    const TRowStore& store = FRows->Store;
    for (TStoreCursor* c : FRows->Cursors) {
        std::vector<TRowId> gone;
        for (TRowId r : c->FView.GetRows())
            if (!store.IsLive(r)) gone.push_back(r);
        for (TRowId r : gone) c->Leave(r);
    }
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
