#include "Platform/data-engine/cursor/Index.h"

#include <algorithm>

namespace DataEngine {

using namespace Velora;

TIndex::TIndex(const TRowStore& store, String name, std::vector<TSortKey> keys, bool unique)
    : FStore(store), FName(std::move(name)), FKeys(std::move(keys)), FUnique(unique) {
    if (FKeys.empty())
        throw EEngineError("Index \"" + FName + "\" has no key columns", AdoErrorHResult(adErrInvalidArgument));
    for (const auto& k : FKeys)
        if (k.Column >= store.GetColumnCount())
            throw EEngineError("Index \"" + FName + "\" names column " + std::to_string(k.Column) +
                                   ", which the rows do not have",
                               AdoErrorHResult(adErrItemNotFound));
}

int TIndex::CompareRows(TRowId a, TRowId b) const {
    for (const auto& k : FKeys) {
        const int r = CompareCells(FStore.GetKinds()[k.Column], FStore.GetCell(a, k.Column), FStore.GetCell(b, k.Column));
        if (r != 0) return k.Descending ? -r : r;
    }
    return a < b ? -1 : (a > b ? 1 : 0);
}

int TIndex::CompareToProbes(TRowId row, const std::vector<TProbe>& probes) const {
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const TCell cell = FStore.GetCell(row, FKeys[i].Column);
        int r;
        if (probes[i].IsNull()) r = cell.Null ? 0 : 1;
        else if (cell.Null) r = -1;
        else r = probes[i].Compare(cell);
        if (r != 0) return FKeys[i].Descending ? -r : r;
    }
    return 0;
}

void TIndex::Rebuild() const {
    // A stable sort of the rows in arrival order (ids ascending) breaks ties by row id.
    FRows = FStore.GetRows();
    TSortOrder::FromKeys(FKeys).Apply(FStore, FRows);
}

void TIndex::Refresh() const {
    if (FSeen == FStore.GetChangeCount()) return;
    const auto& live = FStore.GetRows();
    if (FSeen == ~std::uint64_t{0}) {
        Rebuild();
    } else {
        // Rows that went away leave; rows new to the index and rows out of
        // order become misfits, which are sorted and merged back in. Any
        // sorted permutation is the index, so the result does not depend
        // on which rows are taken out.
        std::vector<TRowId> kept, misfits;
        kept.reserve(FRows.size());
        for (TRowId r : FRows) {
            if (!FStore.IsLive(r)) continue;
            // Either r moved down or the row before it moved up: take out r
            // when it is below the row before that too, else that row.
            bool dropped = false;
            while (!kept.empty() && CompareRows(kept.back(), r) > 0) {
                if (kept.size() >= 2 && CompareRows(kept[kept.size() - 2], r) > 0) {
                    misfits.push_back(r);
                    dropped = true;
                    break;
                }
                misfits.push_back(kept.back());
                kept.pop_back();
            }
            if (!dropped) kept.push_back(r);
        }
        for (auto it = std::lower_bound(live.begin(), live.end(), FNextNew); it != live.end(); ++it)
            misfits.push_back(*it);
        if (misfits.size() > kept.size()) {
            Rebuild();
        } else {
            const auto less = [&](TRowId a, TRowId b) { return CompareRows(a, b) < 0; };
            std::sort(misfits.begin(), misfits.end(), less);
            FRows.resize(kept.size() + misfits.size());
            std::merge(kept.begin(), kept.end(), misfits.begin(), misfits.end(), FRows.begin(), less);
        }
    }
    FNextNew = live.empty() ? 0 : live.back() + 1;
    FSeen = FStore.GetChangeCount();
}

const std::vector<TRowId>& TIndex::GetRows() const {
    Refresh();
    return FRows;
}

std::vector<TProbe> TIndex::MakeProbes(const std::vector<Variant>& keyValues) const {
    if (keyValues.empty())
        throw EEngineError("Seek on index \"" + FName + "\" needs at least one key value",
                           AdoErrorHResult(adErrInvalidArgument));
    if (keyValues.size() > FKeys.size())
        throw EEngineError("Seek on index \"" + FName + "\" got " + std::to_string(keyValues.size()) +
                               " key values; the index has " + std::to_string(FKeys.size()) + " key columns",
                           AdoErrorHResult(adErrInvalidArgument));
    std::vector<TProbe> probes;
    probes.reserve(keyValues.size());
    for (std::size_t i = 0; i < keyValues.size(); ++i) {
        const std::size_t c = FKeys[i].Column;
        probes.push_back(TProbe::FromVariant(FStore.GetColumns()[c], FStore.GetKinds()[c], keyValues[i]));
    }
    return probes;
}

std::pair<std::size_t, std::size_t> TIndex::EqualRange(const std::vector<TProbe>& probes) const {
    const auto& rows = GetRows();
    const auto lo = std::partition_point(rows.begin(), rows.end(),
                                         [&](TRowId r) { return CompareToProbes(r, probes) < 0; });
    const auto hi = std::partition_point(lo, rows.end(), [&](TRowId r) { return CompareToProbes(r, probes) <= 0; });
    return {static_cast<std::size_t>(lo - rows.begin()), static_cast<std::size_t>(hi - rows.begin())};
}

TRowId TIndex::Seek(const std::vector<Variant>& keyValues, SeekEnum option,
                    const std::function<bool(TRowId)>& visible) const {
    const std::vector<TProbe> probes = MakeProbes(keyValues);
    const auto& rows = GetRows();
    const auto [lo, hi] = EqualRange(probes);
    const auto ok = [&](std::size_t i) { return !visible || visible(rows[i]); };
    auto forward = [&](std::size_t from, std::size_t to) -> TRowId {
        for (std::size_t i = from; i < to; ++i)
            if (ok(i)) return rows[i];
        return NoRow;
    };
    auto backward = [&](std::size_t from, std::size_t to) -> TRowId {  // [to, from) downwards
        for (std::size_t i = from; i > to; --i)
            if (ok(i - 1)) return rows[i - 1];
        return NoRow;
    };
    switch (option) {
        case adSeekFirstEQ: return forward(lo, hi);
        case adSeekLastEQ: return backward(hi, lo);
        case adSeekAfterEQ: return forward(lo, rows.size());
        case adSeekAfter: return forward(hi, rows.size());
        case adSeekBeforeEQ: return backward(hi, 0);
        case adSeekBefore: return backward(lo, 0);
    }
    throw EEngineError("The seek option " + std::to_string(static_cast<int>(option)) +
                           " is none of adSeekFirstEQ, adSeekLastEQ, adSeekAfterEQ, adSeekAfter, adSeekBeforeEQ, "
                           "adSeekBefore",
                       AdoErrorHResult(adErrInvalidArgument));
}

// ---- The set of indexes ------------------------------------------------------------------------

void TIndexes::SetOptimize(std::size_t column, bool on) {
    if (column >= FStore.GetColumnCount())
        throw EEngineError("Column " + std::to_string(column) + " does not exist", AdoErrorHResult(adErrItemNotFound));
    auto it = std::find_if(FColumns.begin(), FColumns.end(), [&](const auto& p) { return p.first == column; });
    if (on && it == FColumns.end())
        FColumns.emplace_back(column, std::make_unique<TIndex>(FStore, FStore.GetColumns()[column].Name,
                                                                std::vector<TSortKey>{{column, false}}));
    else if (!on && it != FColumns.end())
        FColumns.erase(it);
}

bool TIndexes::GetOptimize(std::size_t column) const noexcept { return ColumnIndex(column) != nullptr; }

const TIndex* TIndexes::ColumnIndex(std::size_t column) const noexcept {
    for (const auto& p : FColumns)
        if (p.first == column) return p.second.get();
    return nullptr;
}

const TIndex& TIndexes::Add(const String& name, const std::vector<String>& columns,
                            const std::vector<bool>& descending, bool unique) {
    if (Rtl::Trim(name).empty()) throw EEngineError("An index needs a name", AdoErrorHResult(adErrInvalidArgument));
    if (Find(name)) throw EEngineError("An index named \"" + name + "\" exists already", AdoErrorHResult(adErrObjectInCollection));
    std::vector<TSortKey> keys;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int c = FStore.FindColumn(columns[i]);
        if (c < 0)
            throw EEngineError("Index \"" + name + "\" uses column \"" + columns[i] + "\", which the recordset does not have",
                               AdoErrorHResult(adErrItemNotFound));
        keys.push_back({static_cast<std::size_t>(c), i < descending.size() && descending[i]});
    }
    FNamed.push_back(std::make_unique<TIndex>(FStore, name, std::move(keys), unique));
    return *FNamed.back();
}

void TIndexes::Remove(std::string_view name) {
    std::erase_if(FNamed, [&](const auto& p) { return Rtl::SameText(p->GetName(), name); });
}

const TIndex* TIndexes::Find(std::string_view name) const noexcept {
    for (const auto& p : FNamed)
        if (Rtl::SameText(p->GetName(), name)) return p.get();
    return nullptr;
}

const TIndex& TIndexes::Get(std::string_view name) const {
    if (const TIndex* i = Find(name)) return *i;
    throw EEngineError("The recordset has no index named \"" + String(name) + "\"", AdoErrorHResult(adErrItemNotFound));
}

std::vector<String> TIndexes::GetNames() const {
    std::vector<String> out;
    for (const auto& p : FNamed) out.push_back(p->GetName());
    return out;
}

}  // namespace DataEngine
