// Changes written through recordsets: AddNew, Update, Delete, CancelUpdate,
// optimistic concurrency, keyset cursors, batch updates.
#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

class UpdateTest : public TAdoProviderTest {
protected:
    void SetUp() override {
        TAdoProviderTest::SetUp();
        if (IsSkipped()) return;
        FConn = Connect();
        FOther = Connect();
    }
    // A value as another connection reads it from the file.
    Variant Stored(const std::string& sql) {
        auto rs = FOther->Execute(W(sql), nullptr, adCmdText);
        return rs->GetEOF() ? Variant() : rs->GetFields()->GetItem(Variant(0))->GetValue();
    }
    ComPtr<_Recordset> Items(LockTypeEnum lock = adLockOptimistic, CursorLocationEnum location = adUseClient,
                             CursorTypeEnum type = adOpenStatic) {
        return OpenRecordset(FConn, "SELECT * FROM items ORDER BY id", location, type, lock);
    }
    void Set(const ComPtr<_Recordset>& rs, const char* field, const Variant& v) {
        rs->GetFields()->GetItem(Variant(field))->SetValue(v);
    }
    ComPtr<_Connection> FConn, FOther;
};

TEST_P(UpdateTest, EditAndUpdateWriteThroughToTheTable) {
    auto rs = Items();
    EXPECT_EQ(rs->GetEditMode(), adEditNone);
    Set(rs, "qty", Variant(11));
    EXPECT_EQ(rs->GetEditMode(), adEditInProgress);
    EXPECT_EQ(rs->GetStatus() & adRecModified, adRecModified);
    EXPECT_EQ(rs->GetFields()->GetItem(Variant("qty"))->GetOriginalValue().ToInteger(), 10);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 10);  // nothing sent yet
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(rs->GetEditMode(), adEditNone);
    EXPECT_EQ(rs->GetStatus(), adRecUnmodified);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 11);
    // Update with fields and values, and a move that updates on its way.
    rs->Update(Variant("name"), Variant("Apple"));
    EXPECT_EQ(Stored("SELECT name FROM items WHERE id = 1").ToString(), "Apple");
    Set(rs, "note", Variant::Null());
    rs->MoveNext();
    EXPECT_TRUE(Stored("SELECT note FROM items WHERE id = 1").IsNull());
    // Values that do not fit are refused and change nothing.
    EXPECT_NE(OleError([&] { Set(rs, "name", Variant("a name longer than twenty")); }).find("name"), std::string::npos);
    EXPECT_EQ(rs->GetEditMode(), adEditNone);
    // A constraint the database enforces fails the update; the edit stays.
    Set(rs, "name", Variant::Null());
    std::string message = OleError([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); });
    EXPECT_EQ(FConn->GetErrors()->GetItem(Variant(0))->GetNumber(), static_cast<int>(0x80040E2Fu)) << message;
    for (auto& ch : message) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(message.find("null"), std::string::npos) << message;
    EXPECT_EQ(rs->GetEditMode(), adEditInProgress);
    rs->CancelUpdate();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "pear");
    EXPECT_EQ(rs->GetEditMode(), adEditNone);
}

TEST_P(UpdateTest, AddNewInsertsAndReadsBackTheGeneratedKeyAndDefaults) {
    auto rs = Items();
    const int before = rs->GetRecordCount();
    rs->AddNew(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(rs->GetEditMode(), adEditAdd);
    EXPECT_TRUE(FieldValue(rs, "id").IsNull());
    Set(rs, "name", Variant("kiwi"));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(FieldValue(rs, "id").ToInteger(), 5);   // the generated key
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 1);  // the column's default
    EXPECT_EQ(rs->GetRecordCount(), before + 1);
    EXPECT_EQ(Stored("SELECT name FROM items WHERE id = 5").ToString(), "kiwi");
    // The new row can be changed and deleted at once: its key is known.
    Set(rs, "qty", Variant(7));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 5").ToInteger(), 7);
    // AddNew with values updates at once; CancelUpdate of an AddNew drops the row.
    rs->AddNew(Rtl::VarArrayOf({Variant("name"), Variant("price")}), Rtl::VarArrayOf({Variant("lime"), Variant(0.5)}));
    EXPECT_EQ(Stored("SELECT price FROM items WHERE name = 'lime'").ToDouble(), 0.5);
    const Variant mark = rs->GetBookmark();
    rs->AddNew(Com::EmptyParam, Com::EmptyParam);
    Set(rs, "name", Variant("never"));
    rs->CancelUpdate();
    EXPECT_EQ(rs->GetBookmark(), mark);  // back where it was before the AddNew
    EXPECT_TRUE(Stored("SELECT name FROM items WHERE name = 'never'").IsEmpty());
}

TEST_P(UpdateTest, DeleteRemovesTheRowAndLeavesTheCursorOnItsPlace) {
    auto rs = Items();
    rs->MoveNext();  // pear
    rs->Delete(adAffectCurrent);
    EXPECT_TRUE(Stored("SELECT name FROM items WHERE name = 'pear'").IsEmpty());
    EXPECT_EQ(rs->GetRecordCount(), 3);
    EXPECT_EQ(OleCode([&] { FieldValue(rs, "name"); }), AdoCode(adErrNoCurrentRecord));
    rs->MoveNext();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
    rs->MovePrevious();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
}

TEST_P(UpdateTest, BookmarksStayValidAcrossUpdatesAndDeletes) {
    auto rs = Items();
    std::vector<Variant> marks;
    for (; !rs->GetEOF(); rs->MoveNext()) marks.push_back(rs->GetBookmark());
    rs->SetBookmark(marks[2]);
    Set(rs, "name", Variant("PLUM"));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    rs->SetBookmark(marks[0]);
    rs->Delete(adAffectCurrent);
    rs->AddNew(Variant("name"), Variant("new"));
    rs->SetBookmark(marks[2]);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "PLUM");
    EXPECT_EQ(rs->GetAbsolutePosition(), 2);  // one row before it went
    rs->SetBookmark(marks[3]);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "fig");
    EXPECT_EQ(rs->CompareBookmarks(marks[1], marks[3]), adCompareLessThan);
    // The deleted row's bookmark no longer leads anywhere.
    const auto deletedRow = static_cast<Rtl::HRESULT>(0x80040E23u);
    EXPECT_EQ(OleCode([&] { rs->SetBookmark(marks[0]); }), deletedRow);
    EXPECT_EQ(rs->CompareBookmarks(marks[0], marks[1]), adCompareNotComparable);
}

TEST_P(UpdateTest, AChangeByAnotherConnectionIsAConflictAndNothingIsOverwritten) {
    auto rs = Items();  // apple: qty 10
    Exec(FOther, "UPDATE items SET qty = 99 WHERE id = 1");
    Set(rs, "qty", Variant(11));
    const auto code = OleCode([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); });
    EXPECT_EQ(code, static_cast<Rtl::HRESULT>(0x80040E38u));
    const std::string message = N(FConn->GetErrors()->GetItem(Variant(0))->GetDescription());
    EXPECT_NE(message.find("Row cannot be located for updating"), std::string::npos) << message;
    EXPECT_NE(message.find("\"qty\" holds 99"), std::string::npos) << message;
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 99);  // not overwritten
    // The row shows the conflict and what the database holds.
    EXPECT_TRUE(rs->GetStatus() & adRecConcurrencyViolation);
    auto qty = rs->GetFields()->GetItem(Variant("qty"));
    EXPECT_EQ(qty->GetUnderlyingValue().ToInteger(), 99);
    EXPECT_EQ(qty->GetOriginalValue().ToInteger(), 10);
    EXPECT_EQ(qty->GetValue().ToInteger(), 11);
    rs->CancelUpdate();
    // A change to another column of the row is no conflict (only the changed columns are compared).
    auto again = Items();
    Exec(FOther, "UPDATE items SET note = 'changed' WHERE id = 1");
    Set(again, "qty", Variant(12));
    again->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT qty || note FROM items WHERE id = 1").ToString(), "12changed");
    // With "Update Criteria" adCriteriaAllCols it is one.
    auto strict = Items();
    strict->GetProperties()->GetItem(Variant("Update Criteria"))->SetValue(Variant(static_cast<int>(adCriteriaAllCols)));
    Exec(FOther, "UPDATE items SET note = 'again' WHERE id = 1");
    Set(strict, "qty", Variant(13));
    EXPECT_EQ(OleCode([&] { strict->Update(Com::EmptyParam, Com::EmptyParam); }), static_cast<Rtl::HRESULT>(0x80040E38u));
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 12);
    strict->CancelUpdate();
}

TEST_P(UpdateTest, DeletingARowAnotherConnectionRemovedIsAConflict) {
    auto rs = Items();
    Exec(FOther, "DELETE FROM items WHERE id = 1");
    const std::string message = OleError([&] { rs->Delete(adAffectCurrent); });
    EXPECT_NE(message.find("no longer exists"), std::string::npos) << message;
    EXPECT_TRUE(rs->GetStatus() & adRecDBDeleted);
    EXPECT_EQ(rs->GetRecordCount(), 4);  // the row stays in the recordset
}

TEST_P(UpdateTest, ResyncReadsTheDatabasesValues) {
    auto rs = Items();
    Exec(FOther, "UPDATE items SET qty = 50 WHERE id = 1");
    rs->Resync(adAffectCurrent, adResyncUnderlyingValues);
    EXPECT_EQ(rs->GetFields()->GetItem(Variant("qty"))->GetUnderlyingValue().ToInteger(), 50);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 10);
    rs->Resync(adAffectAll, adResyncAllValues);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 50);
    Exec(FOther, "DELETE FROM items WHERE id = 4");
    EXPECT_NE(OleError([&] { rs->Resync(adAffectAll, adResyncAllValues); }).find("1 of 4"), std::string::npos);
}

TEST_P(UpdateTest, KeysetCursorSeesOtherConnectionsChangesAndDeletes) {
    auto rs = Items(adLockOptimistic, adUseServer, adOpenKeyset);
    ASSERT_EQ(rs->GetCursorType(), adOpenKeyset);
    Exec(FOther, "UPDATE items SET qty = 77 WHERE id = 2; DELETE FROM items WHERE id = 3; "
                 "INSERT INTO items (name) VALUES ('new')");
    rs->MoveNext();
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 77);  // the change is seen
    rs->MoveNext();
    EXPECT_TRUE(rs->GetStatus() & adRecDBDeleted);  // the deleted row is a hole
    EXPECT_EQ(OleCode([&] { FieldValue(rs, "name"); }), static_cast<Rtl::HRESULT>(0x80040E23u));
    EXPECT_EQ(rs->GetRecordCount(), 4);  // membership was fixed at open: no new row
    // And it writes through like the client cursor.
    rs->MoveNext();
    Set(rs, "qty", Variant(3));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 4").ToInteger(), 3);
}

TEST_P(UpdateTest, BatchUpdatesWaitForUpdateBatch) {
    auto rs = Items(adLockBatchOptimistic);
    Set(rs, "qty", Variant(1));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    rs->MoveNext();
    rs->Delete(adAffectCurrent);
    EXPECT_EQ(rs->GetEditMode(), adEditDelete);
    rs->AddNew(Variant("name"), Variant("batch"));
    EXPECT_EQ(rs->GetRecordCount(), 4);  // the deleted row is hidden
    EXPECT_EQ(Stored("SELECT COUNT(*) FROM items").ToInteger(), 4);  // nothing sent yet
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 10);
    rs->UpdateBatch(adAffectAll);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 1);
    EXPECT_TRUE(Stored("SELECT name FROM items WHERE id = 2").IsEmpty());
    EXPECT_EQ(Stored("SELECT COUNT(*) FROM items WHERE name = 'batch'").ToInteger(), 1);
    // A conflict in a batch: the other rows go, that one stays pending and says why.
    rs->MoveFirst();
    Set(rs, "qty", Variant(2));
    rs->MoveNext();
    Set(rs, "qty", Variant(3));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    Exec(FOther, "UPDATE items SET qty = 0 WHERE id = 3");
    EXPECT_NE(OleError([&] { rs->UpdateBatch(adAffectAll); }).find("1 of 2"), std::string::npos);
    // The summary, then the row that failed, in Errors.
    ASSERT_EQ(FConn->GetErrors()->GetCount(), 2);
    EXPECT_NE(N(FConn->GetErrors()->GetItem(Variant(1))->GetDescription()).find("\"qty\" holds 0"), std::string::npos);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 2);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 3").ToInteger(), 0);
    EXPECT_TRUE(rs->GetStatus() & adRecConcurrencyViolation);
    rs->CancelBatch(adAffectAll);
    EXPECT_EQ(rs->GetStatus(), adRecUnmodified);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 20);
}

TEST_P(UpdateTest, CancelUpdateAndCloseWhileEditing) {
    auto rs = Items();
    Set(rs, "name", Variant("changed"));
    EXPECT_EQ(OleCode([&] { rs->Close(); }), AdoCode(adErrIllegalOperation));
    rs->CancelUpdate();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    EXPECT_EQ(rs->GetStatus(), adRecUnmodified);
    rs->Close();
    EXPECT_EQ(Stored("SELECT name FROM items WHERE id = 1").ToString(), "apple");
}

TEST_P(UpdateTest, ExpressionsAndJoinsCannotBeWritten) {
    auto rs = OpenRecordset(FConn, "SELECT id, name, price * 2 AS twice FROM items", adUseClient, adOpenStatic,
                            adLockOptimistic);
    EXPECT_FALSE(rs->GetFields()->GetItem(Variant("twice"))->GetAttributes() & adFldUpdatable);
    EXPECT_NE(OleError([&] { Set(rs, "twice", Variant(1)); }).find("not a column of a table"), std::string::npos);
    Set(rs, "name", Variant("ok"));  // a column of the table still can
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT name FROM items WHERE id = 1").ToString(), "ok");
}

TEST_P(UpdateTest, RowsOfATableWithoutKeyAreFoundByAllTheirValues) {
    Exec(FConn, "CREATE TABLE log (who TEXT, what TEXT); INSERT INTO log VALUES ('a', 'x'), ('b', 'y'), ('b', 'y')");
    auto rs = OpenRecordset(FConn, "SELECT who, what FROM log", adUseClient, adOpenStatic, adLockOptimistic);
    Set(rs, "what", Variant("z"));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT what FROM log WHERE who = 'a'").ToString(), "z");
    // Two identical rows cannot be told apart: refused, and neither changes.
    rs->MoveNext();
    Set(rs, "what", Variant("w"));
    EXPECT_NE(OleError([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); }).find("Insufficient key"),
              std::string::npos);
    EXPECT_EQ(Stored("SELECT COUNT(*) FROM log WHERE what = 'y'").ToInteger(), 2);
    rs->CancelUpdate();
}

TEST_P(UpdateTest, WritesJoinTheUsersTransaction) {
    FConn->BeginTrans();
    auto rs = Items();
    Set(rs, "qty", Variant(0));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 10);
    FConn->RollbackTrans();
    rs->Close();
    EXPECT_EQ(Stored("SELECT qty FROM items WHERE id = 1").ToInteger(), 10);
}

TEST_P(UpdateTest, AFailedOrConflictingWriteLeavesTheUsersTransactionWorking) {
    auto rs = Items();
    // Another connection changes plum after it was read (before the transaction: SQLite has one writer at a time).
    Exec(FOther, "UPDATE items SET qty = 99 WHERE id = 3");
    FConn->BeginTrans();
    Set(rs, "qty", Variant(1));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    // Refused by the database: only that write is undone.
    rs->MoveNext();
    Set(rs, "name", Variant::Null());
    EXPECT_FALSE(OleError([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); }).empty());
    rs->CancelUpdate();
    // The conflict with the other connection's change: the same.
    rs->MoveNext();
    Set(rs, "qty", Variant(3));
    EXPECT_EQ(OleCode([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); }), static_cast<Rtl::HRESULT>(0x80040E38u));
    rs->CancelUpdate();
    // The transaction goes on at its own level, and what it wrote commits.
    rs->MoveNext();
    Set(rs, "qty", Variant(4));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(OleCode([&] { FConn->CommitTrans(); }), 0);
    EXPECT_EQ(OleCode([&] { FConn->CommitTrans(); }), AdoCode(adErrInvalidTransaction));
    EXPECT_EQ(Stored("SELECT SUM(qty) FROM items").ToInteger(), 1 + 5 + 99 + 4);
}

TEST_P(UpdateTest, ValuesOfEveryKindAreWrittenComparedAndFoundAgain) {
    // Written with a key, and without one (found by all its values), and compared column by column
    // (adCriteriaAllCols): a value that does not read back exactly as it went in shows as a conflict.
    const std::string columns = std::string("d DATE, ts ") + (IsPostgres() ? "TIMESTAMP" : "DATETIME") +
                                ", b " + BlobType() + ", n NUMERIC(12,4), f DOUBLE PRECISION, flag BOOLEAN, "
                                "s VARCHAR(10)";
    Exec(FConn, "CREATE TABLE keyed (id " + AutoKey() + ", " + columns + "); CREATE TABLE loose (" + columns + ")");
    const Rtl::TDateTime day = Rtl::EncodeDate(2024, 2, 29);
    const Rtl::TDateTime moment(Rtl::EncodeDate(1999, 12, 31).Value + Rtl::EncodeTime(23, 59, 58, 125).Value);
    const Rtl::Byte bytes[] = {0, 255, 7};
    const std::vector<std::pair<const char*, Variant>> first = {
        {"d", Variant(day)},
        {"ts", Variant(moment)},
        {"b", Rtl::BytesToVarArray(bytes, sizeof bytes)},
        {"n", Variant("12345678.0625")},
        {"f", Variant(0.1)},
        {"flag", Variant(true)},
        {"s", Variant("héllo")},
    };
    for (const char* table : {"keyed", "loose"}) {
        SCOPED_TRACE(table);
        const std::string sql = std::string("SELECT ") + (std::string(table) == "keyed" ? "id, " : "") +
                                "d, ts, b, n, f, flag, s FROM " + table;
        auto rs = OpenRecordset(FConn, sql, adUseClient, adOpenStatic, adLockOptimistic);
        rs->GetProperties()->GetItem(Variant("Update Criteria"))->SetValue(Variant(static_cast<int>(adCriteriaAllCols)));
        rs->AddNew(Com::EmptyParam, Com::EmptyParam);
        for (const auto& [name, value] : first) Set(rs, name, value);
        rs->Update(Com::EmptyParam, Com::EmptyParam);
        // Changed one column at a time: each write finds the row by what the last one left.
        rs->Update(Variant("s"), Variant("again"));
        rs->Update(Variant("flag"), Variant(false));
        rs->Update(Variant("ts"), Variant(Rtl::TDateTime(moment.Value + 1)));
        rs->Update(Variant("n"), Variant("-0.0001"));
        rs->Update(Variant("f"), Variant(2.5e-7));
        rs->Close();

        auto check = OpenRecordset(FOther, sql, adUseClient, adOpenStatic, adLockReadOnly);
        ASSERT_EQ(check->GetRecordCount(), 1);
        EXPECT_EQ(FieldValue(check, "d").ToDouble(), day.Value);
        EXPECT_EQ(FieldValue(check, "ts").ToDouble(), moment.Value + 1);
        EXPECT_EQ(Rtl::VarArrayToBytes(FieldValue(check, "b")), (std::vector<Rtl::Byte>{0, 255, 7}));
        EXPECT_EQ(Rtl::VarToStr(FieldValue(check, "n")), "-0.0001");
        EXPECT_EQ(FieldValue(check, "f").ToDouble(), 2.5e-7);
        EXPECT_FALSE(FieldValue(check, "flag").ToBoolean());
        EXPECT_EQ(N(FieldValue(check, "s").ToWideString()), "again");
        // And deleted, found the same way.
        check = OpenRecordset(FConn, sql, adUseClient, adOpenStatic, adLockOptimistic);
        check->GetProperties()->GetItem(Variant("Update Criteria"))->SetValue(Variant(static_cast<int>(adCriteriaAllCols)));
        check->Delete(adAffectCurrent);
        EXPECT_TRUE(Stored(std::string("SELECT s FROM ") + table).IsEmpty());
    }
}

VELORA_PROVIDER_SUITE(UpdateTest);

}  // namespace
}  // namespace AdoTest
