#include "Platform/data-engine/cursor/Filter.h"

#include <algorithm>

namespace DataEngine {

using namespace Velora;

namespace {
const String EmptyText;

bool InSorted(const std::vector<TRowId>& v, TRowId row) noexcept { return std::binary_search(v.begin(), v.end(), row); }
}  // namespace

TFilter TFilter::FromCriteria(const TRowStore& store, std::string_view text) {
    TFilter f;
    if (Rtl::Trim(text).empty()) return f;
    f.FCriteria = std::make_shared<const TCriteria>(TCriteria::Parse(store, text));
    f.FKind = fkCriteria;
    return f;
}

TFilter TFilter::FromGroup(int group, const TFilter* lastCriteria, TFilterContext context) {
    TFilter f;
    switch (group) {
        case adFilterNone: return f;
        case adFilterPendingRecords:
        case adFilterConflictingRecords: break;
        case adFilterAffectedRecords:
            f.FSorted = std::move(context.Affected);
            std::sort(f.FSorted.begin(), f.FSorted.end());
            break;
        case adFilterFetchedRecords:
            f.FAllRows = !context.FetchedKnown;
            f.FSorted = std::move(context.Fetched);
            std::sort(f.FSorted.begin(), f.FSorted.end());
            break;
        case adFilterPredicate:
            if (lastCriteria) f.FCriteria = lastCriteria->FCriteria;
            break;
        default:
            throw EEngineError("The filter " + std::to_string(group) +
                                   " is neither criteria, bookmarks nor a filter group (adFilterNone 0 to "
                                   "adFilterConflictingRecords 5)",
                               AdoErrorHResult(adErrInvalidArgument));
    }
    f.FKind = fkGroup;
    f.FGroup = group;
    return f;
}

TFilter TFilter::FromBookmarks(const TRowStore& store, std::vector<TRowId> rows) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!store.IsLive(rows[i]))
            throw EEngineError("Bookmark " + std::to_string(rows[i]) + " (item " + std::to_string(i) +
                                   " of the filter's bookmarks) names no row of the recordset",
                               AdoErrorHResult(adErrInvalidArgument));
    TFilter f;
    f.FKind = fkBookmarks;
    f.FBookmarks = std::move(rows);
    f.FSorted = f.FBookmarks;
    std::sort(f.FSorted.begin(), f.FSorted.end());
    return f;
}

const String& TFilter::GetText() const noexcept {
    return FKind == fkCriteria && FCriteria ? FCriteria->GetText() : EmptyText;
}

bool TFilter::ShowsDeleted() const noexcept {
    if (FKind == fkBookmarks) return true;
    return FKind == fkGroup && (FGroup == adFilterPendingRecords || FGroup == adFilterAffectedRecords ||
                                FGroup == adFilterConflictingRecords);
}

bool TFilter::Matches(const TRowStore& store, TRowId row) const {
    switch (FKind) {
        case fkNone: return true;
        case fkCriteria: return FCriteria->Matches(store, row);
        case fkBookmarks: return InSorted(FSorted, row);
        case fkGroup: break;
    }
    switch (FGroup) {
        case adFilterPendingRecords: return (store.GetStatus(row) & (adRecNew | adRecModified | adRecDeleted)) != 0;
        case adFilterConflictingRecords: return (store.GetStatus(row) & ConflictStatusMask) != 0;
        case adFilterAffectedRecords: return InSorted(FSorted, row);
        case adFilterFetchedRecords: return FAllRows || InSorted(FSorted, row);
        case adFilterPredicate: return !FCriteria || FCriteria->Matches(store, row);
        default: return true;
    }
}

}  // namespace DataEngine
