// The Recordset's cursor services over each provider: Filter (criteria,
// groups, bookmarks), Sort, Find, Index and Seek with Optimize, Delete of a
// group, Save and opening a saved file with its pending changes.
#include <filesystem>
#include <fstream>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::HRESULT;
using Com::S_OK;

class CursorServicesTest : public TAdoProviderTest {
protected:
    void SetUp() override {
        TAdoProviderTest::SetUp();
        if (IsSkipped()) return;
        FConn = Connect();
    }
    ComPtr<_Recordset> Client(LockTypeEnum lock = adLockBatchOptimistic,
                              const std::string& sql = "SELECT * FROM items ORDER BY id") {
        return OpenRecordset(FConn, sql, adUseClient, adOpenStatic, lock);
    }
    // The names from the current row to the end.
    static std::vector<std::string> Rest(const ComPtr<_Recordset>& rs) {
        std::vector<std::string> out;
        while (!rs->GetEOF()) {
            out.push_back(N(FieldValue(rs, "name").ToWideString()));
            rs->MoveNext();
        }
        return out;
    }
    static std::vector<std::string> AllNames(const ComPtr<_Recordset>& rs) {
        if (rs->GetRecordCount() > 0) rs->MoveFirst();
        return Rest(rs);
    }
    std::vector<std::string> TableNames() {
        auto rs = OpenRecordset(FConn, "SELECT name FROM items ORDER BY id", adUseClient, adOpenStatic, adLockReadOnly);
        return AllNames(rs);
    }
    static void GoTo(const ComPtr<_Recordset>& rs, const std::string& name) {
        rs->Find(W("name = '" + name + "'"), 0, adSearchForward, Variant(static_cast<int>(adBookmarkFirst)));
        ASSERT_FALSE(rs->GetEOF()) << name;
    }
    ComPtr<_Connection> FConn;
};

using TNames = std::vector<std::string>;

// ---- Filter --------------------------------------------------------------------------------------------

TEST_P(CursorServicesTest, CriteriaKeepTheirRowsAndMovesSeeOnlyThem) {
    // apple 1.25 qty 10 'red'; pear 2.50 qty 5 Null; plum 0.75 qty 20 'sweet'; fig 3.00 qty 2 Null.
    struct TCase {
        const char* Criteria;
        TNames Kept;
    };
    const std::vector<TCase> cases = {
        {"price > 1", {"apple", "pear", "fig"}},
        {"qty >= 10 AND price < 1", {"plum"}},
        {"name LIKE 'p*'", {"pear", "plum"}},
        {"name LIKE '%L%'", {"apple", "plum"}},
        {"note = Null", {"pear", "fig"}},
        {"note <> Null", {"apple", "plum"}},
        {"[name] = 'fig' OR (qty > 15 AND note = 'sweet')", {"plum", "fig"}},
        {"name = 'nothing'", {}},
    };
    auto rs = Client();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Criteria);
        rs->SetFilter(Variant(W(tc.Criteria)));
        EXPECT_EQ(N(rs->GetFilter().ToWideString()), tc.Criteria);
        EXPECT_EQ(rs->GetRecordCount(), static_cast<int>(tc.Kept.size()));
        if (tc.Kept.empty()) {
            EXPECT_TRUE(rs->GetBOF());
            EXPECT_TRUE(rs->GetEOF());
            continue;
        }
        // Setting a filter stands on its first row.
        EXPECT_EQ(rs->GetAbsolutePosition(), 1);
        EXPECT_EQ(Rest(rs), tc.Kept);
        rs->MoveLast();
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), tc.Kept.back());
        EXPECT_EQ(rs->GetAbsolutePosition(), static_cast<int>(tc.Kept.size()));
        rs->MovePrevious();
        if (tc.Kept.size() == 1) {
            EXPECT_TRUE(rs->GetBOF());
        }
    }
    rs->SetFilter(Variant(static_cast<int>(adFilterNone)));
    EXPECT_EQ(rs->GetFilter().ToInteger(), adFilterNone);
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "pear", "plum", "fig"}));
}

TEST_P(CursorServicesTest, BadCriteriaNameWhatIsWrongAndKeepThePreviousFilter) {
    struct TCase {
        const char* Criteria;
        const char* Named;  // part of the message
    };
    const std::vector<TCase> cases = {
        {"qty >> 3", "qty >> 3"},
        {"colour = 'red'", "colour"},
        {"qty = 'many'", "many"},
        {"(qty > 1 OR qty < 0) AND price > 1", "(qty > 1 OR qty < 0) AND price > 1"},
        {"name LIKE 'a*b'", "a*b"},
        {"name = 'open", "name = 'open"},
    };
    auto rs = Client();
    rs->SetFilter(Variant(W("qty > 4")));
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Criteria);
        const std::string message = OleError([&] { rs->SetFilter(Variant(W(tc.Criteria))); });
        EXPECT_NE(message.find(tc.Named), std::string::npos) << message;
        EXPECT_EQ(N(rs->GetFilter().ToWideString()), "qty > 4");
        EXPECT_EQ(rs->GetRecordCount(), 3);
    }
    EXPECT_EQ(OleCode([&] { rs->SetFilter(Variant(17)); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(rs->GetRecordCount(), 3);
}

TEST_P(CursorServicesTest, BookmarksSurviveFiltersAndAnArrayOfThemIsAFilter) {
    auto rs = Client();
    GoTo(rs, "plum");
    const Variant plum = rs->GetBookmark();
    GoTo(rs, "apple");
    const Variant apple = rs->GetBookmark();

    rs->SetFilter(Variant(W("qty > 4")));
    rs->SetBookmark(plum);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
    EXPECT_EQ(rs->GetAbsolutePosition(), 3);  // apple, pear, plum
    rs->SetFilter(Variant(W("")));
    rs->SetBookmark(plum);
    EXPECT_EQ(rs->GetAbsolutePosition(), 3);

    rs->SetFilter(Rtl::VarArrayOf({plum, apple}));
    EXPECT_EQ(rs->GetRecordCount(), 2);
    EXPECT_TRUE(rs->GetFilter().IsArray());
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "plum"}));
    // A row outside the filter cannot be reached by its bookmark.
    GoTo(rs, "apple");
    rs->SetFilter(Variant(W("name = 'fig'")));
    EXPECT_NE(OleCode([&] { rs->SetBookmark(apple); }), 0);

    const std::string message = OleError([&] { rs->SetFilter(Rtl::VarArrayOf({plum, Variant(99.0)})); });
    EXPECT_NE(message.find("99"), std::string::npos) << message;
    EXPECT_EQ(N(rs->GetFilter().ToWideString()), "name = 'fig'");
}

TEST_P(CursorServicesTest, FilterGroupsShowPendingAffectedAndConflictingRows) {
    auto rs = Client();
    GoTo(rs, "pear");
    rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(6));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    GoTo(rs, "fig");
    rs->Delete(adAffectCurrent);
    rs->AddNew(Rtl::VarArrayOf({Variant("name"), Variant("qty")}), Rtl::VarArrayOf({Variant("kiwi"), Variant(7)}));
    EXPECT_EQ(rs->GetRecordCount(), 4);  // the deleted fig is hidden

    rs->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
    EXPECT_EQ(rs->GetRecordCount(), 3);
    std::vector<int> statuses;
    while (!rs->GetEOF()) {
        statuses.push_back(rs->GetStatus() & (adRecNew | adRecModified | adRecDeleted));
        rs->MoveNext();
    }
    EXPECT_EQ(statuses, (std::vector<int>{adRecModified, adRecDeleted, adRecNew}));
    rs->SetFilter(Variant(static_cast<int>(adFilterNone)));

    // Another connection changes pear first: its change loses, the others go through.
    Exec(FConn, "UPDATE items SET qty = 50 WHERE name = 'pear'");
    EXPECT_NE(OleCode([&] { rs->UpdateBatch(adAffectAll); }), 0);
    rs->SetFilter(Variant(static_cast<int>(adFilterConflictingRecords)));
    EXPECT_EQ(AllNames(rs), (TNames{"pear"}));
    rs->MoveFirst();
    EXPECT_TRUE(rs->GetStatus() & adRecConcurrencyViolation);
    rs->SetFilter(Variant(static_cast<int>(adFilterAffectedRecords)));
    EXPECT_EQ(rs->GetRecordCount(), 2);  // pear and kiwi stay; fig went from the store
    EXPECT_EQ(TableNames(), (TNames{"apple", "pear", "plum", "kiwi"}));
}

TEST_P(CursorServicesTest, FilterMovesWithEventsAndACancelledMoveKeepsTheFilter) {
    struct TSink : Com::TImplements<Com::TInterfacedObject, RecordsetEventsVt> {
        std::vector<std::pair<std::string, int>> Calls;
        bool Cancel = false;
        HRESULT WillChangeField(int, const Variant&, EventStatusEnum&, _Recordset*) override { return S_OK; }
        HRESULT FieldChangeComplete(int, const Variant&, Error*, EventStatusEnum&, _Recordset*) override { return S_OK; }
        HRESULT WillChangeRecord(EventReasonEnum, int, EventStatusEnum&, _Recordset*) override { return S_OK; }
        HRESULT RecordChangeComplete(EventReasonEnum, int, Error*, EventStatusEnum&, _Recordset*) override {
            return S_OK;
        }
        HRESULT WillChangeRecordset(EventReasonEnum r, EventStatusEnum&, _Recordset*) override {
            Calls.emplace_back("WillChangeRecordset", r);
            return S_OK;
        }
        HRESULT RecordsetChangeComplete(EventReasonEnum r, Error*, EventStatusEnum&, _Recordset*) override {
            Calls.emplace_back("RecordsetChangeComplete", r);
            return S_OK;
        }
        HRESULT WillMove(EventReasonEnum r, EventStatusEnum& st, _Recordset*) override {
            Calls.emplace_back("WillMove", r);
            if (Cancel) st = adStatusCancel;
            return S_OK;
        }
        HRESULT MoveComplete(EventReasonEnum r, Error*, EventStatusEnum& st, _Recordset*) override {
            Calls.emplace_back(st == adStatusErrorsOccurred ? "MoveFailed" : "MoveComplete", r);
            return S_OK;
        }
        HRESULT EndOfRecordset(bool&, EventStatusEnum&, _Recordset*) override { return S_OK; }
        HRESULT FetchProgress(int, int, EventStatusEnum&, _Recordset*) override { return S_OK; }
        HRESULT FetchComplete(Error*, EventStatusEnum&, _Recordset*) override { return S_OK; }
    };
    auto rs = Client();
    auto sink = Com::MakeComObject<TSink>();
    int cookie = 0;
    ASSERT_EQ(Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(sink.Get()), cookie),
              S_OK);
    rs->SetFilter(Variant(W("qty > 4")));
    using Calls = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(sink->Calls, (Calls{{"WillMove", adRsnMove}, {"MoveComplete", adRsnMove}}));

    sink->Calls.clear();
    sink->Cancel = true;
    EXPECT_EQ(OleCode([&] { rs->SetFilter(Variant(W("qty < 4"))); }), AdoCode(adErrOperationCancelled));
    EXPECT_EQ(sink->Calls, (Calls{{"WillMove", adRsnMove}, {"MoveFailed", adRsnMove}}));
    EXPECT_EQ(N(rs->GetFilter().ToWideString()), "qty > 4");
    EXPECT_EQ(rs->GetRecordCount(), 3);
    sink->Cancel = false;
    Com::InterfaceDisconnect(rs.Get(), DIID_RecordsetEvents, cookie);
}

TEST_P(CursorServicesTest, ClonesKeepTheirOwnFilterAndSeeDeletesOfEachOther) {
    auto rs = Client();
    auto clone = rs->Clone(adLockUnspecified);
    rs->SetFilter(Variant(W("qty > 4")));
    EXPECT_EQ(clone->GetRecordCount(), 4);
    GoTo(clone, "plum");
    clone->Delete(adAffectCurrent);
    EXPECT_EQ(rs->GetRecordCount(), 2);
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "pear"}));
    // The clone stands where plum was: the next row is fig.
    clone->MoveNext();
    EXPECT_EQ(N(FieldValue(clone, "name").ToWideString()), "fig");
    rs->CancelBatch(adAffectAll);
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "pear", "plum"}));
    EXPECT_EQ(AllNames(clone), (TNames{"apple", "pear", "plum", "fig"}));
}

TEST_P(CursorServicesTest, DeleteOfAGroupDeletesTheFilteredRows) {
    auto rs = Client(adLockOptimistic);
    EXPECT_EQ(OleCode([&] { rs->Delete(adAffectGroup); }), AdoCode(adErrInvalidArgument));
    rs->SetFilter(Variant(W("qty < 10")));
    rs->Delete(adAffectGroup);
    EXPECT_EQ(rs->GetRecordCount(), 0);
    EXPECT_EQ(TableNames(), (TNames{"apple", "plum"}));
    rs->SetFilter(Variant(static_cast<int>(adFilterAffectedRecords)));
    EXPECT_EQ(rs->GetRecordCount(), 0);  // written at once, so gone from the rows
    rs->SetFilter(Variant(0));
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "plum"}));

    // In batch mode the group waits for UpdateBatch.
    auto batch = Client();
    batch->SetFilter(Variant(W("name LIKE 'p*'")));
    batch->Delete(adAffectGroup);
    EXPECT_EQ(TableNames(), (TNames{"apple", "plum"}));
    batch->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
    EXPECT_EQ(batch->GetRecordCount(), 1);
    batch->UpdateBatch(adAffectAll);
    EXPECT_EQ(TableNames(), (TNames{"apple"}));
}

// ---- Sort -------------------------------------------------------------------------------------------------

TEST_P(CursorServicesTest, SortOrdersByTypeStablyWithoutFetchingAgain) {
    Exec(FConn, "INSERT INTO items (name, price, qty) VALUES ('kiwi', 10, 100), ('lime', 0.75, 5)");
    struct TCase {
        const char* Sort;
        TNames Order;
    };
    const std::vector<TCase> cases = {
        // 100 after 20: numbers as numbers, not as text.
        {"qty", {"fig", "pear", "lime", "apple", "plum", "kiwi"}},
        {"qty DESC", {"kiwi", "plum", "apple", "pear", "lime", "fig"}},
        // Equal prices keep their order (plum before lime), in both directions.
        {"price", {"plum", "lime", "apple", "pear", "fig", "kiwi"}},
        {"price DESC", {"kiwi", "fig", "pear", "apple", "plum", "lime"}},
        // Nulls first ascending, then names descending within equal notes.
        {"note ASC, [name] DESC", {"pear", "lime", "kiwi", "fig", "apple", "plum"}},
        {"", {"apple", "pear", "plum", "fig", "kiwi", "lime"}},
    };
    auto rs = Client();
    // The other connection's change after opening is not seen: sorting does not fetch.
    Exec(FConn, "UPDATE items SET qty = 1000 WHERE name = 'fig'");
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Sort);
        rs->SetSort(W(tc.Sort));
        EXPECT_EQ(N(rs->GetSort()), tc.Sort);
        EXPECT_EQ(AllNames(rs), tc.Order);
    }
    // A sort and a filter together; a bad sort names its fault and keeps the order.
    rs->SetSort(u"qty DESC");
    rs->SetFilter(Variant(W("price < 3")));
    EXPECT_EQ(AllNames(rs), (TNames{"plum", "apple", "pear", "lime"}));
    const std::string message = OleError([&] { rs->SetSort(u"weight DESC"); });
    EXPECT_NE(message.find("weight"), std::string::npos) << message;
    EXPECT_EQ(N(rs->GetSort()), "qty DESC");
    EXPECT_EQ(AllNames(rs), (TNames{"plum", "apple", "pear", "lime"}));
    // Requery fetches again (fig's new quantity) and keeps the sort and the criteria.
    rs->UpdateBatch(adAffectAll);
    Exec(FConn, "UPDATE items SET price = 2 WHERE name = 'fig'");
    rs->Requery(adOptionUnspecified);
    EXPECT_EQ(N(rs->GetSort()), "qty DESC");
    EXPECT_EQ(N(rs->GetFilter().ToWideString()), "price < 3");
    EXPECT_EQ(AllNames(rs), (TNames{"fig", "plum", "apple", "pear", "lime"}));
}

TEST_P(CursorServicesTest, SortNeedsAClientCursor) {
    auto rs = OpenRecordset(FConn, "SELECT * FROM items", adUseServer, adOpenKeyset, adLockOptimistic);
    EXPECT_EQ(OleCode([&] { rs->SetSort(u"name"); }), AdoCode(adErrFeatureNotAvailable));
    // Filter works on any cursor that holds its rows.
    rs->SetFilter(Variant(W("qty > 4")));
    EXPECT_EQ(rs->GetRecordCount(), 3);
    auto forward = OpenRecordset(FConn, "SELECT * FROM items", adUseServer, adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(OleCode([&] { forward->SetFilter(Variant(W("qty > 4"))); }), AdoCode(adErrFeatureNotAvailable));
}

// ---- Find ---------------------------------------------------------------------------------------------------

TEST_P(CursorServicesTest, FindSearchesFromItsStartBySkipAndDirection) {
    auto rs = Client();
    GoTo(rs, "pear");
    const Variant pear = rs->GetBookmark();
    struct TCase {
        const char* Criteria;
        int Skip;
        SearchDirectionEnum Direction;
        Variant Start;  // Empty: from the current row, which is apple
        const char* Found;  // nullptr: nothing (EOF forward, BOF backward)
    };
    const std::vector<TCase> cases = {
        {"qty > 4", 0, adSearchForward, Variant(), "apple"},
        {"qty > 4", 1, adSearchForward, Variant(), "pear"},
        {"qty > 4", 2, adSearchForward, Variant(), "plum"},
        {"qty < 4", 0, adSearchForward, pear, "fig"},
        {"price > 1", 0, adSearchBackward, Variant(static_cast<int>(adBookmarkLast)), "fig"},
        // SkipRecords counts rows from the start, not matches.
        {"price > 1", 2, adSearchBackward, Variant(static_cast<int>(adBookmarkLast)), "pear"},
        {"price > 1", 3, adSearchBackward, Variant(static_cast<int>(adBookmarkLast)), "apple"},
        {"name LIKE 'p*'", 1, adSearchBackward, Variant(static_cast<int>(adBookmarkLast)), "plum"},
        {"name = 'kiwi'", 0, adSearchForward, Variant(), nullptr},
        {"name = 'kiwi'", 0, adSearchBackward, Variant(static_cast<int>(adBookmarkLast)), nullptr},
        {"qty > 4", 0, adSearchBackward, Variant(), "apple"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(tc.Criteria) + " skip " + std::to_string(tc.Skip) + " dir " +
                     std::to_string(tc.Direction));
        rs->MoveFirst();
        rs->Find(W(tc.Criteria), tc.Skip, tc.Direction, tc.Start.IsEmpty() ? Com::EmptyParam : tc.Start);
        if (!tc.Found) {
            EXPECT_TRUE(tc.Direction == adSearchForward ? rs->GetEOF() : rs->GetBOF());
            continue;
        }
        ASSERT_FALSE(rs->GetEOF() || rs->GetBOF());
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), tc.Found);
    }
    // Find takes exactly one comparison.
    rs->MoveFirst();
    const std::string message = OleError([&] { rs->Find(u"qty > 4 AND qty < 9", 0, adSearchForward, Com::EmptyParam); });
    EXPECT_NE(message.find("qty > 4 AND qty < 9"), std::string::npos) << message;
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    // Find sees only the filtered rows.
    rs->SetFilter(Variant(W("qty < 10")));
    rs->Find(u"name = 'plum'", 0, adSearchForward, Com::EmptyParam);
    EXPECT_TRUE(rs->GetEOF());
}

TEST_P(CursorServicesTest, FindOnAForwardOnlyCursorGoesForwardOnly) {
    auto rs = OpenRecordset(FConn, "SELECT * FROM items ORDER BY id", adUseServer, adOpenForwardOnly, adLockReadOnly);
    rs->Find(u"qty = 20", 0, adSearchForward, Com::EmptyParam);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
    EXPECT_NE(OleCode([&] { rs->Find(u"qty = 10", 0, adSearchBackward, Com::EmptyParam); }), 0);
    rs->Find(u"qty = 10", 0, adSearchForward, Com::EmptyParam);
    EXPECT_TRUE(rs->GetEOF());
}

// ---- Index, Seek, Optimize ----------------------------------------------------------------------------------

TEST_P(CursorServicesTest, OptimizeMakesAnIndexThatOrdersAndSeeks) {
    Exec(FConn, "INSERT INTO items (name, price, qty) VALUES ('kiwi', 4, 5), ('lime', 1, 20)");
    auto rs = Client();
    EXPECT_TRUE(rs->Supports(adIndex));
    EXPECT_TRUE(rs->Supports(adSeek));
    EXPECT_EQ(OleCode([&] { rs->Seek(Variant(5), adSeekFirstEQ); }), AdoCode(adErrIllegalOperation));
    const std::string missing = OleError([&] { rs->SetIndex(u"qty"); });
    EXPECT_NE(missing.find("qty"), std::string::npos) << missing;

    auto optimize = rs->GetFields()->GetItem(Variant("qty"))->GetProperties()->GetItem(Variant("Optimize"));
    EXPECT_FALSE(optimize->GetValue().ToBoolean());
    optimize->SetValue(Variant(true));
    EXPECT_TRUE(optimize->GetValue().ToBoolean());
    rs->SetIndex(u"qty");
    EXPECT_EQ(N(rs->GetIndex()), "qty");
    // qty: fig 2, pear 5, kiwi 5, apple 10, plum 20, lime 20.
    EXPECT_EQ(AllNames(rs), (TNames{"fig", "pear", "kiwi", "apple", "plum", "lime"}));
    struct TCase {
        int Key;
        SeekEnum Option;
        const char* Found;  // nullptr: EOF
    };
    const std::vector<TCase> cases = {
        {5, adSeekFirstEQ, "pear"},   {5, adSeekLastEQ, "kiwi"},   {6, adSeekFirstEQ, nullptr},
        {6, adSeekAfterEQ, "apple"},  {5, adSeekAfterEQ, "pear"},  {5, adSeekAfter, "apple"},
        {20, adSeekAfter, nullptr},   {6, adSeekBeforeEQ, "kiwi"}, {5, adSeekBeforeEQ, "kiwi"},
        {5, adSeekBefore, "fig"},     {2, adSeekBefore, nullptr},  {20, adSeekLastEQ, "lime"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::to_string(tc.Key) + " option " + std::to_string(tc.Option));
        rs->Seek(Variant(tc.Key), tc.Option);
        if (!tc.Found) {
            EXPECT_TRUE(rs->GetEOF());
            continue;
        }
        ASSERT_FALSE(rs->GetEOF());
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), tc.Found);
    }
    // Seek sees only filtered rows; a key that is no number is named.
    rs->SetFilter(Variant(W("name <> 'pear'")));
    rs->Seek(Variant(5), adSeekFirstEQ);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "kiwi");
    const std::string bad = OleError([&] { rs->Seek(Variant("five"), adSeekFirstEQ); });
    EXPECT_NE(bad.find("five"), std::string::npos) << bad;
    EXPECT_EQ(OleCode([&] { rs->Seek(Variant(5), static_cast<SeekEnum>(3)); }), AdoCode(adErrInvalidArgument));
    // Clearing the index gives back the arrival order.
    rs->SetFilter(Variant(0));
    rs->SetIndex(u"");
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "pear", "plum", "fig", "kiwi", "lime"}));
}

TEST_P(CursorServicesTest, TheProvidersIndexesServeSeek) {
    // On the server, a table of the same name in another schema has an index of the same name over other columns:
    // only the recordset's own table's index counts.
    std::unique_ptr<EngineTest::TPgSchema> elsewhere;
    if (IsPostgres()) {
        elsewhere = std::make_unique<EngineTest::TPgSchema>();
        const std::string other = elsewhere->Name();
        EngineTest::Exec(elsewhere->Admin(), "CREATE TABLE " + other + ".items (id INT PRIMARY KEY, note TEXT); " +
                                                 "CREATE INDEX ix_name_qty ON " + other + ".items (note, id)");
    }
    Exec(FConn, "CREATE INDEX ix_name_qty ON items (name, qty DESC)");
    Exec(FConn, "INSERT INTO items (name, price, qty) VALUES ('pear', 9, 7)");
    auto rs = Client();
    rs->SetIndex(u"ix_name_qty");
    EXPECT_EQ(AllNames(rs), (TNames{"apple", "fig", "pear", "pear", "plum"}));
    rs->Seek(Rtl::VarArrayOf({Variant("pear")}), adSeekFirstEQ);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 7);  // qty descending within a name
    rs->Seek(Rtl::VarArrayOf({Variant("pear"), Variant(5)}), adSeekFirstEQ);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 5);
    EXPECT_EQ(OleCode([&] { rs->Seek(Rtl::VarArrayOf({Variant("a"), Variant(1), Variant(2)}), adSeekFirstEQ); }),
              AdoCode(adErrInvalidArgument));
}

// ---- Save and Open of saved files ----------------------------------------------------------------------------

TEST_P(CursorServicesTest, SavedChangesReopenEditSaveAgainAndReachTheDatabase) {
    const std::string file = File("items.xml");
    {
        auto rs = Client();
        GoTo(rs, "pear");
        rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(6));
        GoTo(rs, "fig");
        rs->Delete(adAffectCurrent);
        rs->AddNew(Rtl::VarArrayOf({Variant("name"), Variant("qty")}), Rtl::VarArrayOf({Variant("kiwi"), Variant(7)}));
        rs->Save(Variant(W(file)), adPersistXML);
        EXPECT_EQ(rs->GetAbsolutePosition(), 1);  // saving stands on the first row
    }
    // Opened with adCmdFile: a disconnected client recordset with every change pending.
    auto reopened = CoRecordset::Create();
    reopened->Open(Variant(W(file)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile);
    EXPECT_EQ(reopened->GetCursorLocation(), adUseClient);
    EXPECT_EQ(reopened->GetLockType(), adLockBatchOptimistic);
    EXPECT_TRUE(reopened->GetActiveConnection().IsEmpty() || reopened->GetActiveConnection().IsNull());
    EXPECT_EQ(AllNames(reopened), (TNames{"apple", "pear", "plum", "kiwi"}));
    reopened->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
    EXPECT_EQ(reopened->GetRecordCount(), 3);
    reopened->SetFilter(Variant(0));
    GoTo(reopened, "plum");
    reopened->GetFields()->GetItem(Variant("price"))->SetValue(Variant(0.5));
    reopened->Update(Com::EmptyParam, Com::EmptyParam);
    // Without a destination Save writes the file it came from.
    reopened->Save(Com::EmptyParam, adPersistXML);
    reopened->Close();

    // Through the persistence provider, then connected to the database.
    auto last = CoRecordset::Create();
    last->Open(Variant(W(file)), Variant(u"Provider=MSPersist"), adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
    last->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
    EXPECT_EQ(last->GetRecordCount(), 4);
    last->SetFilter(Variant(0));
    EXPECT_EQ(TableNames(), (TNames{"apple", "pear", "plum", "fig"}));  // nothing written yet
    last->SetActiveConnection(Com::VarFromInterface(FConn));
    last->UpdateBatch(adAffectAll);
    EXPECT_EQ(TableNames(), (TNames{"apple", "pear", "plum", "kiwi"}));
    auto check = OpenRecordset(FConn, "SELECT qty, price FROM items WHERE name IN ('pear', 'plum') ORDER BY name",
                               adUseClient, adOpenStatic, adLockReadOnly);
    EXPECT_EQ(FieldValue(check, "qty").ToInteger(), 6);
    check->MoveNext();
    EXPECT_DOUBLE_EQ(FieldValue(check, "price").ToDouble(), 0.5);
}

TEST_P(CursorServicesTest, SaveKeepsOnlyCriteriaRowsAndNeverReplacesAnotherFile) {
    const std::string file = File("cheap.xml");
    auto rs = Client();
    rs->SetFilter(Variant(W("price < 2")));
    rs->Save(Variant(W(file)), adPersistXML);
    auto reopened = CoRecordset::Create();
    reopened->Open(Variant(W(file)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile);
    EXPECT_EQ(AllNames(reopened), (TNames{"apple", "plum"}));

    // A group filter does not narrow what is saved.
    const std::string all = File("all.xml");
    rs->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
    rs->Save(Variant(W(all)), adPersistXML);
    auto whole = CoRecordset::Create();
    whole->Open(Variant(W(all)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile);
    EXPECT_EQ(whole->GetRecordCount(), 4);

    // Another file already there stays as it was.
    const std::string other = File("other.xml");
    { std::ofstream(other) << "keep me"; }
    auto fresh = Client();
    const std::string message = OleError([&] { fresh->Save(Variant(W(other)), adPersistXML); });
    EXPECT_NE(message.find(other), std::string::npos) << message;
    std::ifstream in(other);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    // The TableGram format writes its file as well.
    const std::string adtg = File("items.adtg");
    fresh->Save(Variant(W(adtg)), adPersistADTG);
    EXPECT_TRUE(std::filesystem::exists(adtg));
}

TEST_P(CursorServicesTest, OpeningABadFileNamesItAndLeavesTheRecordsetClosed) {
    const std::string junk = File("junk.xml");
    { std::ofstream(junk) << "<xml><rs:data><z:row"; }
    for (const std::string& f : {junk, File("absent.xml")}) {
        SCOPED_TRACE(f);
        auto rs = CoRecordset::Create();
        const std::string message = OleError(
            [&] { rs->Open(Variant(W(f)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile); });
        EXPECT_NE(message.find(f), std::string::npos) << message;
        EXPECT_EQ(rs->GetState(), adStateClosed);
    }
}

VELORA_PROVIDER_SUITE(CursorServicesTest);

}  // namespace
}  // namespace AdoTest
