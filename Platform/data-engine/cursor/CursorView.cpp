#include "Platform/data-engine/cursor/CursorView.h"

#include <algorithm>
#include <iterator>

namespace DataEngine {

using namespace Velora;

TCursorView::TCursorView(const TRowStore& store, const TIndexes* indexes) : FStore(store), FIndexes(indexes) { Build(); }

void TCursorView::SetFilter(TFilter filter) {
    FFilter = std::move(filter);
    Build();
}

void TCursorView::SetSort(TSortOrder sort) {
    FSort = std::move(sort);
    Build();
}

void TCursorView::Refresh() { Build(); }

bool TCursorView::Shows(TRowId row) const {
    if (!FFilter.ShowsDeleted() && (FStore.GetStatus(row) & adRecDeleted)) return false;
    return FFilter.Matches(FStore, row);
}

// Criteria whose every group holds an equality on an optimized field: the
// candidates come from the indexes and only they are tested.
bool TCursorView::CollectByIndex(std::vector<TRowId>& out) const {
    const TCriteria* criteria = FFilter.GetKind() == TFilter::fkCriteria ? FFilter.GetCriteria() : nullptr;
    if (!criteria || !FIndexes) return false;
    std::vector<std::pair<const TIndex*, const TComparison*>> lookups;
    for (const auto& group : criteria->GetGroups()) {
        const TIndex* found = nullptr;
        const TComparison* by = nullptr;
        for (const auto& c : group) {
            if (c.Op != coEqual) continue;
            if (const TIndex* index = FIndexes->ColumnIndex(c.Column)) {
                found = index;
                by = &c;
                break;
            }
        }
        if (!found) return false;
        lookups.emplace_back(found, by);
    }
    std::vector<TRowId> candidates;
    for (const auto& [index, c] : lookups) {
        const auto [lo, hi] = index->EqualRange({c->Value});
        const auto& rows = index->GetRows();
        candidates.insert(candidates.end(), rows.begin() + static_cast<std::ptrdiff_t>(lo),
                          rows.begin() + static_cast<std::ptrdiff_t>(hi));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (TRowId r : candidates)
        if (Shows(r)) out.push_back(r);
    return true;
}

void TCursorView::Build() {
    std::vector<TRowId> rows;
    const auto& all = FStore.GetRows();
    if (FFilter.IsNone() && FFilter.ShowsDeleted() == false && FStore.GetPendingCount() == 0) {
        rows = all;
    } else if (!CollectByIndex(rows)) {
        rows.reserve(all.size());
        for (TRowId r : all)
            if (Shows(r)) rows.push_back(r);
    }
    FSort.Apply(FStore, rows);
    FRows.swap(rows);
    FPos.assign(all.empty() ? 0 : all.back() + 1, 0);
    Reindex(0);
}

void TCursorView::Reindex(std::size_t from) {
    for (std::size_t i = from; i < FRows.size(); ++i) {
        if (FRows[i] >= FPos.size()) FPos.resize(FRows[i] + 1, 0);
        FPos[FRows[i]] = static_cast<std::uint32_t>(i + 1);
    }
}

std::size_t TCursorView::IndexOf(TRowId row) const noexcept {
    if (row >= FPos.size() || FPos[row] == 0) return npos;
    return FPos[row] - 1;
}

void TCursorView::RowAdded(TRowId row) {
    if (Contains(row)) return;
    FRows.push_back(row);
    Reindex(FRows.size() - 1);
}

std::size_t TCursorView::RowsAppended(TRowId first) {
    const auto& all = FStore.GetRows();
    std::vector<TRowId> fresh;
    for (auto it = std::lower_bound(all.begin(), all.end(), first); it != all.end(); ++it)
        if (!Contains(*it) && Shows(*it)) fresh.push_back(*it);
    if (fresh.empty()) return 0;
    if (!all.empty() && all.back() >= FPos.size()) FPos.resize(all.back() + 1, 0);
    if (FSort.IsEmpty()) {
        const std::size_t from = FRows.size();
        FRows.insert(FRows.end(), fresh.begin(), fresh.end());
        Reindex(from);
        return fresh.size();
    }
    // The new rows in order among themselves, then merged in: on equal keys
    // the rows already shown come first, as a stable sort of the whole would
    // place them (the new rows arrived last).
    FSort.Apply(FStore, fresh);
    auto before = [&](TRowId a, TRowId b) { return FSort.Compare(FStore, a, b) < 0; };
    const std::size_t from = static_cast<std::size_t>(
        std::upper_bound(FRows.begin(), FRows.end(), fresh.front(), before) - FRows.begin());
    std::vector<TRowId> merged;
    merged.reserve(FRows.size() + fresh.size());
    std::merge(FRows.begin(), FRows.end(), fresh.begin(), fresh.end(), std::back_inserter(merged),
               [&](TRowId n, TRowId o) { return before(n, o); });
    FRows.swap(merged);
    Reindex(from);
    return fresh.size();
}

void TCursorView::RowRemoved(TRowId row) {
    const std::size_t i = IndexOf(row);
    if (i == npos) return;
    FPos[row] = 0;
    FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(i));
    Reindex(i);
}

Int64 TCursorView::Find(const TComparison& criteria, Int64 start, Int64 skip, SearchDirectionEnum direction) const {
    const Int64 count = static_cast<Int64>(FRows.size());
    const bool forward = direction != adSearchBackward;
    if (direction != adSearchForward && direction != adSearchBackward)
        throw EEngineError("The search direction " + std::to_string(static_cast<int>(direction)) +
                               " is neither adSearchForward (1) nor adSearchBackward (-1)",
                           AdoErrorHResult(adErrInvalidArgument));
    // Searching on from EOF forward, or from BOF backward, finds nothing.
    if ((forward && start >= count) || (!forward && start < 0)) return -1;
    Int64 from = start + (forward ? skip : -skip);
    if (forward) {
        if (from < 0) from = 0;
        if (from >= count) return -1;
    } else {
        if (from >= count) from = count - 1;
        if (from < 0) return -1;
    }
    // An equality on an optimized field: the matching rows come from its index.
    if (criteria.Op == coEqual && !criteria.Value.IsNull() && FIndexes) {
        if (const TIndex* index = FIndexes->ColumnIndex(criteria.Column)) {
            const auto [lo, hi] = index->EqualRange({criteria.Value});
            const auto& rows = index->GetRows();
            Int64 best = -1;
            for (std::size_t i = lo; i < hi; ++i) {
                const std::size_t p = IndexOf(rows[i]);
                if (p == npos) continue;
                const Int64 pos = static_cast<Int64>(p);
                if (forward ? (pos >= from && (best < 0 || pos < best)) : (pos <= from && pos > best)) best = pos;
            }
            return best;
        }
    }
    if (forward) {
        for (Int64 i = from; i < count; ++i)
            if (criteria.Matches(FStore, FRows[static_cast<std::size_t>(i)])) return i;
    } else {
        for (Int64 i = from; i >= 0; --i)
            if (criteria.Matches(FStore, FRows[static_cast<std::size_t>(i)])) return i;
    }
    return -1;
}

}  // namespace DataEngine
