// The filter in force on a cursor: none, criteria text, a filter group or an
// array of bookmarks (row ids). A TFilter is built (and checked) first and
// handed to the view afterwards, so a bad criteria or bookmark raises before
// anything changes and the previous filter stays in force.
//
// Filter groups:
// - adFilterNone: every row;
// - adFilterPendingRecords: rows with a pending insert, change or delete;
// - adFilterAffectedRecords: the rows the caller reports as affected by the
//   last Delete, Resync, UpdateBatch or CancelBatch;
// - adFilterFetchedRecords: the rows of the last fetch the caller reports
//   (every row when it reports none);
// - adFilterPredicate: the rows that pass the criteria of the last criteria
//   filter (every row when none was set);
// - adFilterConflictingRecords: rows whose status carries a failure of the
//   last batch update (adRecConcurrencyViolation, adRecIntegrityViolation,
//   adRecSchemaViolation, adRecPermissionDenied, adRecDBDeleted, ...).
// Rows with a pending delete are hidden except under the pending, affected
// and conflicting groups and an array of bookmarks that names them.
#pragma once

#include <memory>

#include "Platform/data-engine/cursor/Criteria.h"

namespace DataEngine {

// What only the recordset knows: the rows of its last operations. Vectors
// are kept sorted by the filter that holds them.
struct TFilterContext {
    std::vector<TRowId> Affected;
    std::vector<TRowId> Fetched;
    bool FetchedKnown = false;
};

// Status flags that mark a row that failed the last batch update.
constexpr int ConflictStatusMask = Velora::adRecConcurrencyViolation | Velora::adRecIntegrityViolation |
                                   Velora::adRecSchemaViolation | Velora::adRecPermissionDenied |
                                   Velora::adRecDBDeleted | Velora::adRecCantRelease |
                                   Velora::adRecMaxChangesExceeded | Velora::adRecObjectOpen |
                                   Velora::adRecOutOfMemory | Velora::adRecMultipleChanges | Velora::adRecInvalid;

class TFilter {
public:
    enum TKind : Byte { fkNone, fkCriteria, fkGroup, fkBookmarks };

    TFilter() = default;  // adFilterNone
    // Criteria text; a blank text is no filter. ECriteriaError when bad.
    static TFilter FromCriteria(const TRowStore& store, std::string_view text);
    // A filter group. lastCriteria serves adFilterPredicate (may be null);
    // context serves the affected and fetched groups. A number that is no
    // group raises adErrInvalidArgument naming it.
    static TFilter FromGroup(int group, const TFilter* lastCriteria = nullptr, TFilterContext context = {});
    // Rows by bookmark; a bookmark that names no live row raises
    // adErrInvalidArgument naming it.
    static TFilter FromBookmarks(const TRowStore& store, std::vector<TRowId> rows);

    TKind GetKind() const noexcept { return FKind; }
    bool IsNone() const noexcept { return FKind == fkNone; }
    // The group number (adFilterNone for no filter); meaningful for groups.
    int GetGroup() const noexcept { return FGroup; }
    const String& GetText() const noexcept;
    const TCriteria* GetCriteria() const noexcept { return FCriteria.get(); }
    // The bookmarks as given (order kept).
    const std::vector<TRowId>& GetBookmarks() const noexcept { return FBookmarks; }

    bool Matches(const TRowStore& store, TRowId row) const;
    // Whether rows with a pending delete may show.
    bool ShowsDeleted() const noexcept;

private:
    TKind FKind = fkNone;
    int FGroup = Velora::adFilterNone;
    std::shared_ptr<const TCriteria> FCriteria;  // criteria, or the predicate group's criteria
    std::vector<TRowId> FBookmarks;
    std::vector<TRowId> FSorted;                 // bookmarks, affected or fetched rows, sorted
    bool FAllRows = false;                       // fetched group without a known fetch
};

}  // namespace DataEngine
