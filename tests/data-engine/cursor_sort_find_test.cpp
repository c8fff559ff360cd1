// Sort orders, Find, client indexes (Optimize) and Seek.
#include <random>

#include "CursorTestSupport.h"
#include "Platform/data-engine/cursor/CursorView.h"

using namespace CursorTest;
using namespace Velora;

namespace {

std::vector<int> Sorted(const TRowStore& store, const char* sort, const char* filter = "") {
    TCursorView view(store);
    view.SetFilter(TFilter::FromCriteria(store, filter));
    view.SetSort(TSortOrder::Parse(store, sort));
    return Ids(store, view.GetRows());
}

TEST(Sort, OrdersByTypeStablyWithNullsFirst) {
    auto store = People();
    struct {
        const char* Sort;
        std::vector<int> Ids;
    } table[] = {
        {"Score", {3, 4, 1, 2, 5, 6}},                  // -1, 0.1, 2.5, 10, 100, 1000: numbers, not text
        {"Score DESC", {6, 5, 2, 1, 4, 3}},
        {"Price", {4, 5, 1, 3, 2, 6}},                  // Null first; 300 twice keeps arrival order
        {"Price DESC", {2, 6, 3, 1, 5, 4}},             // equal keys still in arrival order, Null last
        {"price desc, ID DESC", {6, 2, 3, 1, 5, 4}},
        {"[Last Name]", {5, 6, 2, 3, 1, 4}},            // Émile with the E's, case ignored
        {"Born ASC, [Last Name] DESC", {4, 1, 6, 2, 3, 5}},
        {"Active, ID DESC", {4, 5, 2, 6, 3, 1}},        // Null, False, True
        {"  City ,  Score  ", {6, 3, 4, 1, 5, 2}},
        {"", {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& t : table) EXPECT_EQ(Sorted(*store, t.Sort), t.Ids) << t.Sort;
    EXPECT_EQ(Sorted(*store, "Price DESC", "Active = True"), (std::vector<int>{6, 3, 1}));
}

TEST(Sort, BadSortsAreNamed) {
    auto store = People();
    struct {
        const char* Sort;
        const char* Message;
    } table[] = {
        {"Nope", "Invalid sort \"Nope\": no field named \"Nope\""},
        {"Price UP", "Invalid sort \"Price UP\": \"UP\" after \"Price\" at position 7 is neither ASC nor DESC"},
        {"Price,", "Invalid sort \"Price,\": a field name is missing at the end"},
        {",Price", "Invalid sort \",Price\": a field name is missing before \",\" at position 1"},
        {"[Last Name", "Invalid sort \"[Last Name\": the name beginning with [ at position 1 has no closing ]"},
        {"Price DESC ID", "Invalid sort \"Price DESC ID\": a comma must separate the fields, not \"ID\""},
        {"Last Name", "Invalid sort \"Last Name\": no field named \"Last\""},
    };
    for (const auto& t : table) EXPECT_EQ(ErrorOf([&] { TSortOrder::Parse(*store, t.Sort); }), t.Message);
}

TEST(Sort, ManyEqualKeysKeepTheirOrder) {
    // Integer keys of every width sort on their own path; Nulls among them.
    TRowStore store({MakeColumn("k", adInteger), MakeColumn("t", adVarWChar, 10), MakeColumn("u", adUnsignedBigInt),
                     MakeColumn("b", adBigInt)});
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const TRowId r = store.AddNew();
        store.SetValue(r, 0, random() % 10 == 0 ? Variant::Null() : Variant(static_cast<int>(random() % 20) - 10));
        store.SetValue(r, 1, Variant(std::string(1, static_cast<char>('a' + random() % 3))));
        store.SetValue(r, 2, random() % 10 == 0 ? Variant::Null() : Variant(static_cast<UInt64>(random() % 4) << 62));
        store.SetValue(r, 3, Variant((static_cast<Int64>(random() % 5) - 2) * INT64_C(4000000000000000000)));
    }
    for (const char* sort : {"t DESC, k", "k", "k DESC", "u", "u DESC", "b DESC", "b"}) {
        SCOPED_TRACE(sort);
        TCursorView view(store);
        view.SetSort(TSortOrder::Parse(store, sort));
        const auto& rows = view.GetRows();
        ASSERT_EQ(rows.size(), 3000u);
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const int c = view.GetSort().Compare(store, rows[i - 1], rows[i]);
            ASSERT_LE(c, 0) << i;
            if (c == 0) ASSERT_LT(rows[i - 1], rows[i]) << i;
        }
    }
}

TEST(Find, SearchesFromTheStartRowInEitherDirection) {
    auto store = People();
    TCursorView view(*store);
    const Int64 eof = 6, bof = -1, notFound = -1;
    struct {
        const char* Criteria;
        Int64 Start, Skip;
        SearchDirectionEnum Direction;
        Int64 Found;  // position
    } table[] = {
        {"City = 'London'", 0, 0, adSearchForward, 0},
        {"City = 'London'", 0, 1, adSearchForward, 3},   // skipping the current row
        {"City = 'London'", 3, 0, adSearchForward, 3},
        {"City = 'London'", 4, 0, adSearchForward, notFound},
        {"City = 'London'", 5, 0, adSearchBackward, 3},
        {"City = 'London'", 3, 1, adSearchBackward, 0},
        {"City = 'London'", 0, 1, adSearchBackward, notFound},
        {"City = 'London'", eof, 0, adSearchForward, notFound},
        {"City = 'London'", bof, 0, adSearchBackward, notFound},
        {"City = 'London'", -3, 0, adSearchForward, 0},
        {"Price > 100", 0, 0, adSearchForward, 1},
        {"Price > 100", 5, 0, adSearchBackward, 5},
        {"[Last Name] LIKE 'j*'", 2, 0, adSearchForward, 5},
        {"Born = #4/10/1970#", 1, 0, adSearchForward, 5},
        {"Price = Null", 0, 0, adSearchForward, 3},
        {"ID = 99", 0, 0, adSearchForward, notFound},
    };
    TIndexes indexes(*store);
    for (std::size_t c = 0; c < store->GetColumnCount(); ++c) indexes.SetOptimize(c, true);
    TCursorView optimized(*store, &indexes);
    for (const auto& t : table) {
        const TComparison c = TCriteria::ParseComparison(*store, t.Criteria);
        EXPECT_EQ(view.Find(c, t.Start, t.Skip, t.Direction), t.Found) << t.Criteria << " from " << t.Start;
        EXPECT_EQ(optimized.Find(c, t.Start, t.Skip, t.Direction), t.Found) << t.Criteria << " (optimized)";
    }
    // In a sorted view Find goes in view order.
    view.SetSort(TSortOrder::Parse(*store, "Score DESC"));
    EXPECT_EQ(view.Find(TCriteria::ParseComparison(*store, "Active = True"), 0, 0, adSearchForward), 0);
    EXPECT_EQ(view.Find(TCriteria::ParseComparison(*store, "Active = False"), 0, 0, adSearchForward), 1);
}

TEST(Find, TakesExactlyOneComparison) {
    auto store = People();
    EXPECT_EQ(ErrorOf([&] { TCriteria::ParseComparison(*store, "ID = 1 AND Price > 2"); }),
              "Invalid Find criteria \"ID = 1 AND Price > 2\": Find takes one comparison; AND and OR cannot join "
              "several");
    EXPECT_EQ(ErrorOf([&] { TCriteria::ParseComparison(*store, "(ID = 1)"); }),
              "Invalid Find criteria \"(ID = 1)\": Find takes one comparison without parentheses");
    EXPECT_EQ(ErrorOf([&] { TCriteria::ParseComparison(*store, "ID = 1 2"); }),
              "Invalid Find criteria \"ID = 1 2\": unexpected \"2\" after the comparison");
    EXPECT_EQ(ErrorOf([&] { TCriteria::ParseComparison(*store, "City LIKE '*on'"); }),
              "Invalid Find criteria \"City LIKE '*on'\": a LIKE pattern may not begin with a wildcard unless it also "
              "ends with one: \"'*on'\"");
    TCursorView view(*store);
    EXPECT_EQ(ErrorOf([&] { view.Find(TCriteria::ParseComparison(*store, "ID = 1"), 0, 0, SearchDirectionEnum(0)); }),
              "The search direction 0 is neither adSearchForward (1) nor adSearchBackward (-1)");
}

TEST(Seek, TheSixOptionsOverAnIndexOfTwoColumns) {
    auto store = People();
    TIndexes indexes(*store);
    indexes.Add("ByPriceName", {"Price", "Last Name"});
    const TIndex& index = indexes.Get("bypricename");
    // Index order: Null(smithers), 7.25 Émile, 10.5 Smith, 50 O'Malley, 300 Johnson, 300 Jones
    EXPECT_EQ(Ids(*store, index.GetRows()), (std::vector<int>{4, 5, 1, 3, 6, 2}));
    auto seek = [&](std::vector<Variant> keys, SeekEnum option) {
        const TRowId r = index.Seek(keys, option);
        return r == NoRow ? 0 : store->GetValue(r, 0).ToInteger();
    };
    const Variant p300(Rtl::Currency::FromScaled(3000000));
    struct {
        std::vector<Variant> Keys;
        SeekEnum Option;
        int Id;  // 0: not found (EOF)
    } table[] = {
        {{p300}, adSeekFirstEQ, 6},
        {{p300}, adSeekLastEQ, 2},
        {{p300, Variant("jones")}, adSeekFirstEQ, 2},
        {{Variant(50)}, adSeekAfterEQ, 3},
        {{Variant(50)}, adSeekAfter, 6},
        {{Variant(50)}, adSeekBeforeEQ, 3},
        {{Variant(50)}, adSeekBefore, 1},
        {{Variant(20)}, adSeekFirstEQ, 0},
        {{Variant(20)}, adSeekLastEQ, 0},
        {{Variant(20)}, adSeekAfterEQ, 3},
        {{Variant(20)}, adSeekAfter, 3},
        {{Variant(20)}, adSeekBeforeEQ, 1},
        {{Variant(20)}, adSeekBefore, 1},
        {{Variant(1000)}, adSeekAfterEQ, 0},
        {{Variant(1)}, adSeekBefore, 4},   // only the Null row sorts before
        {{Variant::Null()}, adSeekFirstEQ, 4},
        {{Variant("10.5")}, adSeekFirstEQ, 1},
        {{Variant(10.5)}, adSeekFirstEQ, 1},
    };
    for (const auto& t : table) EXPECT_EQ(seek(t.Keys, t.Option), t.Id) << DescribeValue(t.Keys[0]) << " " << t.Option;
    // Rows the cursor does not show are passed over.
    EXPECT_EQ(store->GetValue(index.Seek({p300}, adSeekFirstEQ, [](TRowId r) { return r != 5; }), 0).ToInteger(), 2);
    EXPECT_EQ(ErrorOf([&] { index.Seek({}, adSeekFirstEQ); }), "Seek on index \"ByPriceName\" needs at least one key value");
    EXPECT_EQ(ErrorOf([&] { index.Seek({Variant(1), Variant("a"), Variant(3)}, adSeekFirstEQ); }),
              "Seek on index \"ByPriceName\" got 3 key values; the index has 2 key columns");
    EXPECT_EQ(ErrorOf([&] { index.Seek({Variant("cheap")}, adSeekFirstEQ); }),
              "The value 'cheap' cannot be compared with column \"Price\" (adCurrency): not a number");
    EXPECT_EQ(ErrorOf([&] { index.Seek({Variant(1)}, SeekEnum(3)); }),
              "The seek option 3 is none of adSeekFirstEQ, adSeekLastEQ, adSeekAfterEQ, adSeekAfter, adSeekBeforeEQ, "
              "adSeekBefore");
}

TEST(Seek, DescendingKeysAndIndexNames) {
    auto store = People();
    TIndexes indexes(*store);
    indexes.Add("ScoreDown", {"Score"}, {true});
    const TIndex& index = *indexes.Find("SCOREDOWN");
    EXPECT_EQ(Ids(*store, index.GetRows()), (std::vector<int>{6, 5, 2, 1, 4, 3}));
    EXPECT_EQ(store->GetValue(index.Seek({Variant(5)}, adSeekAfterEQ), 0).ToInteger(), 1);  // 2.5 follows 5 going down
    EXPECT_EQ(indexes.GetNames(), (std::vector<String>{"ScoreDown"}));
    EXPECT_EQ(ErrorOf([&] { indexes.Add("scoredown", {"ID"}); }), "An index named \"scoredown\" exists already");
    EXPECT_EQ(ErrorOf([&] { indexes.Add("X", {"ID", "Missing"}); }),
              "Index \"X\" uses column \"Missing\", which the recordset does not have");
    EXPECT_EQ(ErrorOf([&] { indexes.Get("Nope"); }), "The recordset has no index named \"Nope\"");
    indexes.Remove("scoredown");
    EXPECT_EQ(indexes.Find("ScoreDown"), nullptr);
}

// An index that follows edits, inserts, deletes and rejected changes always
// equals the one sorted from scratch.
TEST(Index, FollowsTheStoreThroughRandomChanges) {
    TRowStore store({MakeColumn("k", adInteger), MakeColumn("s", adVarWChar, 8)});
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        const TRowId r = store.AddNew();
        store.SetValue(r, 0, Variant(static_cast<int>(random() % 50)));
        store.SetValue(r, 1, Variant(std::string(1, static_cast<char>('a' + random() % 26))));
        store.AcceptChanges(r);
    }
    TIndexes indexes(store);
    indexes.Add("ks", {"k", "s"}, {false, true});
    const TIndex& index = indexes.Get("ks");
    for (int round = 0; round < 200; ++round) {
        const auto& live = store.GetRows();
        const int changes = 1 + static_cast<int>(random() % (round % 10 == 0 ? 60 : 3));
        for (int c = 0; c < changes; ++c) {
            const TRowId r = live[random() % live.size()];
            switch (random() % 5) {
                case 0: {
                    const TRowId n = store.AddNew();
                    store.SetValue(n, 0, Variant(static_cast<int>(random() % 50)));
                    break;
                }
                case 1:
                    if (!(store.GetStatus(r) & adRecDeleted)) store.Delete(r);
                    break;
                case 2: store.RejectChanges(r); break;
                default:
                    if (!(store.GetStatus(r) & adRecDeleted))
                        store.SetValue(r, random() % 2, random() % 4 == 0 ? Variant::Null()
                                                                          : Variant(static_cast<int>(random() % 50)));
            }
        }
        std::vector<TRowId> expected = store.GetRows();
        std::stable_sort(expected.begin(), expected.end(), [&](TRowId a, TRowId b) {
            const int k = CompareCells(skInt32, store.GetCell(a, 0), store.GetCell(b, 0));
            if (k != 0) return k < 0;
            return CompareCells(skText, store.GetCell(a, 1), store.GetCell(b, 1)) > 0;
        });
        ASSERT_EQ(index.GetRows(), expected) << "round " << round;
    }
}

}  // namespace
