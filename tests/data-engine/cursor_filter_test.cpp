// Filter criteria, filter groups, bookmark filters and the view of visible rows.
#include "CursorTestSupport.h"
#include "Platform/data-engine/cursor/CursorView.h"

using namespace CursorTest;
using namespace Velora;

namespace {

struct TKeeps {
    const char* Criteria;
    std::vector<int> Ids;
};

const TKeeps KeepTable[] = {
    {"[Last Name] = 'Smith'", {1}},
    {"[Last Name] = 'SMITH'", {1}},
    {"[last name]='smith'", {1}},
    {"[Last Name] LIKE 'smi*'", {1, 4}},
    {"[Last Name] like 'Smi%'", {1, 4}},
    {"[Last Name] LIKE '*MIT*'", {1, 4}},
    {"[Last Name] LIKE '%o%'", {2, 3, 6}},
    {"[Last Name] LIKE 'jones'", {2}},
    {"[Last Name] LIKE '*'", {1, 2, 3, 4, 5, 6}},
    {"[Last Name] = 'O''Malley'", {3}},
    {"[Last Name] = #O'Malley#", {3}},
    {"[Last Name] > 'Dora' AND [Last Name] < 'Fritz'", {5}},
    {"[Last Name] >= 'J' AND [Last Name] < 'K'", {2, 6}},
    {"Price > 100", {2, 6}},
    {"Price >= $300.00", {2, 6}},
    {"Price < 1e1", {5}},
    {"Price = 10.5", {1}},
    {"Price = '50'", {3}},
    {"Price = -$5", {}},
    {"Price = Null", {4}},
    {"Price <> NULL", {1, 2, 3, 5, 6}},
    {"Price <> 300", {1, 3, 5}},
    {"ID = 3", {3}},
    {"ID = 3.5", {}},
    {"ID < 3.5", {1, 2, 3}},
    {"ID > -$1", {1, 2, 3, 4, 5, 6}},
    {"ID <= 99999999999999999999", {1, 2, 3, 4, 5, 6}},
    {"Born = #4/10/1970#", {1, 6}},
    {"Born = #1970-04-10#", {1, 6}},
    {"Born > #12/31/99#", {5}},
    {"Born = #1/31/1999 1:45 PM#", {3}},
    {"Born = #1999-01-31 13:45#", {3}},
    {"Born < #1/1/30#", {}},
    {"Born < #1/1/29#", {1, 2, 3, 5, 6}},
    {"Active = True", {1, 3, 6}},
    {"Active = false", {2, 5}},
    {"Active <> 0", {1, 3, 6}},
    {"Score = 0.1", {4}},
    {"Score < 0", {3}},
    {"Score >= 1e2", {5, 6}},
    {"City = 'London' OR City = 'Paris'", {1, 2, 4}},
    {"(City = 'London' AND Active = True) OR (City = 'Paris')", {1, 2}},
    {"City = 'London' AND Active = True OR City = 'Paris'", {1, 2}},
    {"City = 'Paris' OR City = 'London' AND Active = True", {1, 2}},
    {"((Price > 100))", {2, 6}},
    {"(Price > 100 OR Price < 8) OR City = 'Dublin'", {2, 3, 5, 6}},
    {"(Price > 100 AND Active = True) AND Score > 1", {6}},
    {"City = Null OR City = 'Lyon'", {5, 6}},
};

std::vector<int> Kept(const TRowStore& store, const char* criteria, const TIndexes* indexes = nullptr) {
    TCursorView view(store, indexes);
    view.SetFilter(TFilter::FromCriteria(store, criteria));
    return Ids(store, view.GetRows());
}

TEST(FilterCriteria, KeepsTheRowsOfEachCriteria) {
    auto store = People();
    for (const auto& t : KeepTable) EXPECT_EQ(Kept(*store, t.Criteria), t.Ids) << t.Criteria;
}

TEST(FilterCriteria, OptimizedFieldsGiveTheSameRows) {
    auto store = People();
    TIndexes indexes(*store);
    for (std::size_t c = 0; c < store->GetColumnCount(); ++c) indexes.SetOptimize(c, true);
    for (const auto& t : KeepTable) EXPECT_EQ(Kept(*store, t.Criteria, &indexes), t.Ids) << t.Criteria;
    // The indexes follow edits made after they were built.
    store->SetValue(1, 2, Variant("London"));
    store->SetValue(0, 2, Variant("Rome"));
    EXPECT_EQ(Kept(*store, "City = 'London'", &indexes), (std::vector<int>{2, 4}));
    EXPECT_EQ(Kept(*store, "City = 'London'"), (std::vector<int>{2, 4}));
}

struct TBad {
    const char* Criteria;
    const char* Message;
};

const TBad BadTable[] = {
    {"   ", "Invalid filter criteria \"   \": it holds no clause"},
    {"Nope = 1", "Invalid filter criteria \"Nope = 1\": no field named \"Nope\""},
    {"Price", "Invalid filter criteria \"Price\": \"Price\" must be followed by a comparison operator (=, <>, <, >, "
              "<=, >= or LIKE)"},
    {"Price IS 5", "Invalid filter criteria \"Price IS 5\": \"Price\" must be followed by a comparison operator (=, "
                   "<>, <, >, <=, >= or LIKE), not \"IS\""},
    {"Price =", "Invalid filter criteria \"Price =\": \"=\" must be followed by a value"},
    {"Price = abc", "Invalid filter criteria \"Price = abc\": \"abc\" is not a value; texts go between single quotes "
                    "and dates between # signs"},
    {"[Last Name] = 'Smith", "Invalid filter criteria \"[Last Name] = 'Smith\": the text beginning at position 15 has "
                             "no closing quote"},
    {"[Last Name = 'x'", "Invalid filter criteria \"[Last Name = 'x'\": the name beginning with [ at position 1 has no "
                         "closing ]"},
    {"Born = #1/2/2000", "Invalid filter criteria \"Born = #1/2/2000\": the value beginning with # at position 8 has "
                         "no closing #"},
    {"Price = 'cheap'", "Invalid filter criteria \"Price = 'cheap'\": The value 'cheap' cannot be compared with column "
                        "\"Price\" (adCurrency): not a number"},
    {"Born = #31/31/2000#", "Invalid filter criteria \"Born = #31/31/2000#\": The value #31/31/2000# cannot be "
                            "compared with column \"Born\" (adDBTimeStamp): not a date"},
    {"Born = 5", "Invalid filter criteria \"Born = 5\": The value 5 cannot be compared with column \"Born\" "
                 "(adDBTimeStamp): dates are written between # signs"},
    {"Active = 'maybe'", "Invalid filter criteria \"Active = 'maybe'\": The value 'maybe' cannot be compared with "
                         "column \"Active\" (adBoolean): not True or False"},
    {"[Last Name] LIKE '*son'", "Invalid filter criteria \"[Last Name] LIKE '*son'\": a LIKE pattern may not begin "
                                "with a wildcard unless it also ends with one: \"'*son'\""},
    {"[Last Name] LIKE 'S*h'", "Invalid filter criteria \"[Last Name] LIKE 'S*h'\": a LIKE pattern may hold * or % "
                               "only at its end or at both ends, not inside: \"'S*h'\""},
    {"[Last Name] LIKE Smith", "Invalid filter criteria \"[Last Name] LIKE Smith\": LIKE needs a text between quotes, "
                               "not \"Smith\""},
    {"Price LIKE '1*'", "Invalid filter criteria \"Price LIKE '1*'\": LIKE needs a text field; \"Price\" holds "
                        "adCurrency"},
    {"Price > Null", "Invalid filter criteria \"Price > Null\": Null can only be compared with = or <>"},
    {"(City = 'London' OR City = 'Paris') AND Active = True",
     "Invalid filter criteria \"(City = 'London' OR City = 'Paris') AND Active = True\": clauses joined by OR inside "
     "parentheses cannot be joined to another clause with AND: \"(City = 'London' OR City = 'Paris')\" (write (a AND "
     "c) OR (b AND c) instead of (a OR b) AND c)"},
    {"Active = True AND (City = 'London' OR City = 'Paris')",
     "Invalid filter criteria \"Active = True AND (City = 'London' OR City = 'Paris')\": clauses joined by OR inside "
     "parentheses cannot be joined to another clause with AND: \"(City = 'London' OR City = 'Paris')\" (write (a AND "
     "c) OR (b AND c) instead of (a OR b) AND c)"},
    {"(Price > 1", "Invalid filter criteria \"(Price > 1\": the parenthesis at position 1 is not closed"},
    {"Price > 1)", "Invalid filter criteria \"Price > 1)\": \")\" closes no parenthesis"},
    {"Price > 1 Price < 5", "Invalid filter criteria \"Price > 1 Price < 5\": AND or OR must join the clauses, not "
                            "\"Price\""},
    {"Price > 1 AND", "Invalid filter criteria \"Price > 1 AND\": a field name is missing at the end"},
    {"AND Price > 1", "Invalid filter criteria \"AND Price > 1\": a field name must come first, not \"AND\""},
    {"= 5", "Invalid filter criteria \"= 5\": a field name must come first, not \"=\""},
};

TEST(FilterCriteria, BadCriteriaAreNamedExactly) {
    auto store = People();
    for (const auto& t : BadTable) {
        std::string message;
        try {
            TCriteria::Parse(*store, t.Criteria);
        } catch (const ECriteriaError& e) {
            message = e.Message();
            EXPECT_EQ(e.GetNumber(), AdoErrorHResult(adErrInvalidArgument)) << t.Criteria;
        }
        EXPECT_EQ(message, t.Message);
    }
}

TEST(FilterCriteria, NulCharactersAndDeepNestingAreRefused) {
    auto store = People();
    EXPECT_NE(ErrorOf([&] { TCriteria::Parse(*store, std::string("ID = 1\0", 7)); }).find("NUL character"),
              std::string::npos);
    const std::string deep = std::string(200, '(') + "ID = 1" + std::string(200, ')');
    EXPECT_NE(ErrorOf([&] { TCriteria::Parse(*store, deep); }).find("nested too deeply"), std::string::npos);
}

TEST(CursorView, ABadCriteriaLeavesThePreviousFilterInForce) {
    auto store = People();
    TCursorView view(*store);
    view.SetFilter(TFilter::FromCriteria(*store, "Active = True"));
    EXPECT_NE(ErrorOf([&] { view.SetFilter(TFilter::FromCriteria(*store, "Active = Maybe")); }), "");
    EXPECT_EQ(view.GetFilter().GetText(), "Active = True");
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 3, 6}));
}

TEST(CursorView, RowIdsSurviveFilterChanges) {
    auto store = People();
    TCursorView view(*store);
    EXPECT_EQ(view.GetCount(), 6u);
    const TRowId johnson = view.RowAt(5);
    view.SetFilter(TFilter::FromCriteria(*store, "Price >= 300"));
    ASSERT_EQ(view.GetCount(), 2u);
    EXPECT_EQ(view.IndexOf(johnson), 1u);
    EXPECT_EQ(view.IndexOf(view.RowAt(0) + 1), TCursorView::npos);  // O'Malley is not shown
    EXPECT_EQ(view.RowAt(2), NoRow);
    view.SetFilter(TFilter());
    EXPECT_EQ(view.GetCount(), 6u);
    EXPECT_EQ(view.IndexOf(johnson), 5u);
    EXPECT_EQ(store->GetValue(johnson, 1).ToString(), "Johnson");
}

TEST(CursorView, EditsStayVisibleUntilTheFilterIsSetAgainAndNewRowsShowAtTheEnd) {
    auto store = People();
    TCursorView view(*store);
    view.SetFilter(TFilter::FromCriteria(*store, "City = 'London'"));
    ASSERT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 4}));
    store->SetValue(view.RowAt(0), 2, Variant("Oslo"));
    EXPECT_EQ(view.GetCount(), 2u);
    const TRowId added = store->AddNew();
    store->SetValue(added, 0, Variant(7));
    view.RowAdded(added);
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 4, 7}));
    view.RowRemoved(view.RowAt(1));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 7}));
    EXPECT_EQ(view.IndexOf(added), 1u);
    view.Refresh();
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{4}));
}

TEST(FilterGroups, PendingConflictingAffectedFetchedAndPredicate) {
    auto store = People();
    TCursorView view(*store);
    store->SetValue(1, 3, Variant(1));  // Jones changed
    store->Delete(2);                   // O'Malley deleted
    const TRowId added = store->AddNew();
    store->SetValue(added, 0, Variant(7));
    store->SetStatusFlags(4, adRecConcurrencyViolation);  // Émile lost a conflict

    view.Refresh();  // no filter: the pending delete is hidden
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 2, 4, 5, 6, 7}));
    view.SetFilter(TFilter::FromGroup(adFilterPendingRecords));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{2, 3, 7}));
    view.SetFilter(TFilter::FromGroup(adFilterConflictingRecords));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{5}));
    TFilterContext context;
    context.Affected = {2, 0};
    view.SetFilter(TFilter::FromGroup(adFilterAffectedRecords, nullptr, context));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 3}));
    view.SetFilter(TFilter::FromGroup(adFilterFetchedRecords));
    EXPECT_EQ(view.GetCount(), 6u);
    context.FetchedKnown = true;
    context.Fetched = {5};
    view.SetFilter(TFilter::FromGroup(adFilterFetchedRecords, nullptr, context));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{6}));
    const TFilter last = TFilter::FromCriteria(*store, "Active = True");
    view.SetFilter(TFilter::FromGroup(adFilterPredicate, &last));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 6}));
    view.SetFilter(TFilter::FromGroup(adFilterNone));
    EXPECT_TRUE(view.GetFilter().IsNone());
    EXPECT_EQ(view.GetCount(), 6u);
    EXPECT_EQ(ErrorOf([] { TFilter::FromGroup(9); }),
              "The filter 9 is neither criteria, bookmarks nor a filter group (adFilterNone 0 to "
              "adFilterConflictingRecords 5)");
}

TEST(FilterBookmarks, ShowTheNamedRowsAndRefuseUnknownOnes) {
    auto store = People();
    TCursorView view(*store);
    view.SetFilter(TFilter::FromBookmarks(*store, {4, 0}));
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 5}));
    EXPECT_EQ(view.GetFilter().GetBookmarks(), (std::vector<TRowId>{4, 0}));
    EXPECT_EQ(ErrorOf([&] { view.SetFilter(TFilter::FromBookmarks(*store, {1, 99})); }),
              "Bookmark 99 (item 1 of the filter's bookmarks) names no row of the recordset");
    EXPECT_EQ(Ids(*store, view.GetRows()), (std::vector<int>{1, 5}));
}

}  // namespace
