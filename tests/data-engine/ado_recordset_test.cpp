// The Recordset object: cursor kinds, navigation, bookmarks, positions and
// paging, fields and their metadata, bulk reading, fabricated recordsets.
#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::OleCall;
using Com::OleGet;

// Over each provider.
class RecordsetTest : public TAdoProviderTest {
protected:
    void SetUp() override {
        TAdoProviderTest::SetUp();
        if (IsSkipped()) return;
        FConn = Connect();
    }
    ComPtr<_Recordset> Open(const std::string& sql, CursorLocationEnum location, CursorTypeEnum type,
                            LockTypeEnum lock) {
        return OpenRecordset(FConn, sql, location, type, lock);
    }
    std::vector<std::string> Names(const ComPtr<_Recordset>& rs) {
        std::vector<std::string> out;
        while (!rs->GetEOF()) {
            out.push_back(N(FieldValue(rs, "name").ToWideString()));
            rs->MoveNext();
        }
        return out;
    }
    ComPtr<_Connection> FConn;
};

// What only SQLite's files show (its declared types), and what needs no data source at all.
class RecordsetSqliteTest : public TAdoFixture {
protected:
    void SetUp() override {
        TAdoFixture::SetUp();
        FConn = OpenConnection(FFile);
    }
    ComPtr<_Recordset> Open(const std::string& sql, CursorLocationEnum location, CursorTypeEnum type,
                            LockTypeEnum lock) {
        return OpenRecordset(FConn, sql, location, type, lock);
    }
    ComPtr<_Connection> FConn;
};

TEST_P(RecordsetTest, CursorKindsReadBackWhatTheyGiveAndSupportTruthfully) {
    struct TCase {
        CursorLocationEnum Location;
        CursorTypeEnum Asked;
        LockTypeEnum AskedLock;
        const char* Sql;
        CursorTypeEnum Given;
        LockTypeEnum GivenLock;
        bool Bookmarks, Updates, Warned;
    };
    const char* table = "SELECT * FROM items";
    const char* joined = "SELECT name, price * 2 AS twice FROM items";
    const std::vector<TCase> cases = {
        {adUseClient, adOpenKeyset, adLockOptimistic, table, adOpenStatic, adLockOptimistic, true, true, true},
        {adUseClient, adOpenStatic, adLockBatchOptimistic, table, adOpenStatic, adLockBatchOptimistic, true, true, false},
        {adUseClient, adOpenStatic, adLockPessimistic, table, adOpenStatic, adLockOptimistic, true, true, true},
        {adUseClient, adOpenStatic, adLockReadOnly, table, adOpenStatic, adLockReadOnly, true, false, false},
        {adUseServer, adOpenForwardOnly, adLockReadOnly, table, adOpenForwardOnly, adLockReadOnly, false, false, false},
        {adUseServer, adOpenForwardOnly, adLockOptimistic, table, adOpenForwardOnly, adLockReadOnly, false, false, true},
        {adUseServer, adOpenStatic, adLockOptimistic, table, adOpenStatic, adLockReadOnly, true, false, true},
        {adUseServer, adOpenKeyset, adLockOptimistic, table, adOpenKeyset, adLockOptimistic, true, true, false},
        {adUseServer, adOpenDynamic, adLockOptimistic, table, adOpenKeyset, adLockOptimistic, true, true, true},
        {adUseServer, adOpenKeyset, adLockOptimistic, joined, adOpenStatic, adLockReadOnly, true, false, true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(tc.Sql) + " location " + std::to_string(tc.Location) + " type " +
                     std::to_string(tc.Asked) + " lock " + std::to_string(tc.AskedLock));
        FConn->GetErrors()->Clear();
        auto rs = Open(tc.Sql, tc.Location, tc.Asked, tc.AskedLock);
        EXPECT_EQ(rs->GetCursorType(), tc.Given);
        EXPECT_EQ(rs->GetLockType(), tc.GivenLock);
        EXPECT_EQ(rs->GetCursorLocation(), tc.Location);
        EXPECT_EQ(rs->Supports(adBookmark), tc.Bookmarks);
        EXPECT_EQ(rs->Supports(adMovePrevious), tc.Bookmarks);
        EXPECT_EQ(rs->Supports(adApproxPosition), tc.Bookmarks);
        EXPECT_EQ(rs->Supports(adUpdate), tc.Updates);
        EXPECT_EQ(rs->Supports(adAddNew), tc.Updates);
        EXPECT_EQ(rs->Supports(adDelete), tc.Updates);
        EXPECT_EQ(rs->Supports(adUpdateBatch), tc.Updates && tc.GivenLock == adLockBatchOptimistic);
        // Cursors that hold their rows index them on request (Optimize) and seek; every cursor finds.
        EXPECT_EQ(rs->Supports(adSeek), tc.Bookmarks);
        EXPECT_EQ(rs->Supports(adIndex), tc.Bookmarks);
        EXPECT_TRUE(rs->Supports(adFind));
        EXPECT_TRUE(rs->Supports(adNotify));
        EXPECT_EQ(rs->GetRecordCount(), tc.Bookmarks ? 4 : -1);
        // A request that could not be met leaves a warning, not an error.
        EXPECT_EQ(FConn->GetErrors()->GetCount(), tc.Warned ? 1 : 0);
        if (tc.Warned)
            EXPECT_EQ(N(FConn->GetErrors()->GetItem(Variant(0))->GetSQLState()), "01S02");
    }
}

TEST_P(RecordsetTest, ConnectionsCursorLocationIsInheritedUnlessSet) {
    FConn->SetCursorLocation(adUseClient);
    auto rs = CoRecordset::Create();
    rs->Open(Variant(u"SELECT * FROM items"), Com::VarFromInterface(FConn), adOpenForwardOnly, adLockReadOnly,
             adCmdText);
    EXPECT_EQ(rs->GetCursorLocation(), adUseClient);
    EXPECT_EQ(rs->GetCursorType(), adOpenStatic);
    auto executed = FConn->Execute(u"SELECT * FROM items", nullptr, adCmdText);
    EXPECT_EQ(executed->GetCursorType(), adOpenStatic);
    EXPECT_EQ(executed->GetLockType(), adLockReadOnly);
}

TEST_P(RecordsetTest, NavigationOverEveryScrollableCursor) {
    for (auto [location, type] : {std::pair{adUseClient, adOpenStatic}, std::pair{adUseServer, adOpenKeyset},
                                  std::pair{adUseServer, adOpenStatic}}) {
        SCOPED_TRACE("location " + std::to_string(location) + " type " + std::to_string(type));
        auto rs = Open("SELECT * FROM items ORDER BY id", location, type, adLockReadOnly);
        EXPECT_FALSE(rs->GetBOF());
        EXPECT_EQ(rs->GetAbsolutePosition(), 1);
        rs->MoveLast();
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "fig");
        EXPECT_EQ(rs->GetAbsolutePosition(), 4);
        rs->MoveNext();
        EXPECT_TRUE(rs->GetEOF());
        EXPECT_EQ(rs->GetAbsolutePosition(), adPosEOF);
        EXPECT_EQ(OleCode([&] { rs->MoveNext(); }), AdoCode(adErrNoCurrentRecord));
        EXPECT_EQ(OleCode([&] { FieldValue(rs, "name"); }), AdoCode(adErrNoCurrentRecord));
        rs->MovePrevious();
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "fig");
        rs->MoveFirst();
        rs->MovePrevious();
        EXPECT_TRUE(rs->GetBOF());
        EXPECT_EQ(rs->GetAbsolutePosition(), adPosBOF);
        EXPECT_EQ(OleCode([&] { rs->MovePrevious(); }), AdoCode(adErrNoCurrentRecord));
        // Move: relative, from a bookmark, clamped to BOF and EOF.
        rs->MoveFirst();
        rs->Move(2, Com::EmptyParam);
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
        const Variant plum = rs->GetBookmark();
        rs->Move(-1, Variant(static_cast<int>(adBookmarkLast)));
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
        rs->Move(1, plum);
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "fig");
        rs->Move(10, Com::EmptyParam);
        EXPECT_TRUE(rs->GetEOF());
        rs->Move(-10, Com::EmptyParam);
        EXPECT_TRUE(rs->GetBOF());
        // AbsolutePosition moves; out of range is an error naming the range.
        rs->SetAbsolutePosition(3);
        EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
        EXPECT_NE(OleError([&] { rs->SetAbsolutePosition(5); }).find("1..4"), std::string::npos);
    }
}

TEST_P(RecordsetTest, EmptyResultIsAtBothEnds) {
    for (auto location : {adUseClient, adUseServer}) {
        auto rs = Open("SELECT * FROM items WHERE 1 = 0", location, adOpenForwardOnly, adLockReadOnly);
        EXPECT_TRUE(rs->GetBOF());
        EXPECT_TRUE(rs->GetEOF());
        rs->MoveFirst();  // no error on an empty recordset
        EXPECT_EQ(rs->GetFields()->GetCount(), 6);
        EXPECT_EQ(OleCode([&] { rs->MoveNext(); }), AdoCode(adErrNoCurrentRecord));
    }
}

TEST_P(RecordsetTest, ForwardOnlyStreamsAndGoesBackOnlyByRunningAgain) {
    auto rs = Open("SELECT name FROM items ORDER BY id", adUseServer, adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(rs->GetAbsolutePosition(), adPosUnknown);
    rs->MoveNext();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "pear");
    const auto backward = static_cast<Rtl::HRESULT>(0x80040E24u);
    EXPECT_EQ(OleCode([&] { rs->MovePrevious(); }), backward);
    EXPECT_EQ(OleCode([&] { rs->MoveLast(); }), backward);
    EXPECT_EQ(OleCode([&] { rs->Move(-1, Com::EmptyParam); }), backward);
    EXPECT_EQ(OleCode([&] { rs->GetBookmark(); }), AdoCode(adErrFeatureNotAvailable));
    EXPECT_EQ(OleCode([&] { rs->SetAbsolutePosition(1); }), backward);
    // MoveFirst runs the statement again: rows added meanwhile are seen.
    Exec(FConn, "INSERT INTO items (id, name) VALUES (0, 'date')");
    rs->MoveFirst();
    EXPECT_EQ(Names(rs), (std::vector<std::string>{"date", "apple", "pear", "plum", "fig"}));
}

TEST_P(RecordsetTest, BookmarksAndCompareBookmarks) {
    auto rs = Open("SELECT * FROM items ORDER BY id", adUseClient, adOpenStatic, adLockReadOnly);
    const Variant first = rs->GetBookmark();
    rs->MoveLast();
    const Variant last = rs->GetBookmark();
    EXPECT_EQ(rs->CompareBookmarks(first, last), adCompareLessThan);
    EXPECT_EQ(rs->CompareBookmarks(last, first), adCompareGreaterThan);
    EXPECT_EQ(rs->CompareBookmarks(last, last), adCompareEqual);
    rs->SetBookmark(first);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    for (const Variant& bad : {Variant("x"), Variant(0.5), Variant(99.0), Variant::Null()})
        EXPECT_EQ(OleCode([&] { rs->SetBookmark(bad); }), AdoCode(adErrInvalidArgument)) << Rtl::VarToStr(bad);
    // A clone shares rows and bookmarks and moves on its own.
    auto clone = rs->Clone(adLockUnspecified);
    EXPECT_EQ(N(FieldValue(clone, "name").ToWideString()), "apple");
    clone->SetBookmark(last);
    EXPECT_EQ(N(FieldValue(clone, "name").ToWideString()), "fig");
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    EXPECT_EQ(clone->CompareBookmarks(first, last), adCompareLessThan);
}

TEST_P(RecordsetTest, PagingAndMaxRecords) {
    for (int i = 0; i < 21; ++i) Exec(FConn, "INSERT INTO items (name) VALUES ('n" + std::to_string(i) + "')");
    auto rs = CoRecordset::Create();
    rs->SetCursorLocation(adUseClient);
    rs->SetPageSize(10);
    rs->Open(Variant(u"SELECT * FROM items ORDER BY id"), Com::VarFromInterface(FConn), adOpenStatic, adLockReadOnly,
             adCmdText);
    EXPECT_EQ(rs->GetRecordCount(), 25);
    EXPECT_EQ(rs->GetPageCount(), 3);
    EXPECT_EQ(rs->GetAbsolutePage(), 1);
    rs->SetAbsolutePage(3);
    EXPECT_EQ(rs->GetAbsolutePosition(), 21);
    EXPECT_EQ(OleCode([&] { rs->SetAbsolutePage(4); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { rs->SetPageSize(0); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { rs->SetMaxRecords(5); }), AdoCode(adErrObjectOpen));
    rs->Close();
    rs->SetMaxRecords(5);
    rs->Open(Com::EmptyParam, Com::EmptyParam, adOpenStatic, adLockReadOnly, adCmdText);  // the same source again
    EXPECT_EQ(rs->GetRecordCount(), 5);
    auto stream = CoRecordset::Create();
    stream->SetMaxRecords(3);
    stream->Open(Variant(u"SELECT * FROM items"), Com::VarFromInterface(FConn), adOpenForwardOnly, adLockReadOnly,
                 adCmdText);
    int n = 0;
    for (; !stream->GetEOF(); stream->MoveNext()) ++n;
    EXPECT_EQ(n, 3);
    EXPECT_EQ(OleCode([&] { stream->SetCacheSize(0); }), AdoCode(adErrInvalidArgument));
}

TEST_F(RecordsetSqliteTest, FieldsDescribeTheColumnsByTheDeclaredTypes) {
    Exec(FConn,
         "CREATE TABLE typed (i INTEGER PRIMARY KEY, n INT NOT NULL, s SMALLINT, b BOOLEAN, r REAL, d DECIMAL(8,3), "
         "m MONEY, dt DATE, ts DATETIME, g GUID, c CHAR(4), v VARCHAR(12), t TEXT, bin VARBINARY(8), bl BLOB);"
         "INSERT INTO typed VALUES (1, 2, 3, 1, 1.5, 12.125, 9.99, '2024-02-29', '2024-02-29 13:45:00', "
         "'{6A0D1C8E-4E0B-4F7A-9A51-2B1F0C9E7D11}', 'abcd', 'hello', 'text', x'0102', x'FF')");
    struct TCase {
        const char* Name;
        DataTypeEnum Type;
        int DefinedSize;
        int Attributes;  // that must be set
    };
    const std::vector<TCase> cases = {
        {"i", adBigInt, 8, adFldFixed | adFldKeyColumn | adFldRowID | adFldUpdatable},
        {"n", adInteger, 4, adFldFixed | adFldUpdatable},
        {"s", adSmallInt, 2, adFldFixed | adFldIsNullable},
        {"b", adBoolean, 2, adFldFixed},
        {"r", adDouble, 8, adFldFixed},
        {"d", adNumeric, 19, adFldFixed},
        {"m", adCurrency, 8, adFldFixed},
        {"dt", adDBDate, 6, adFldFixed},
        {"ts", adDBTimeStamp, 16, adFldFixed},
        {"g", adGUID, 16, adFldFixed},
        {"c", adWChar, 4, adFldFixed},
        {"v", adVarWChar, 12, adFldMayBeNull},
        {"t", adLongVarWChar, 1073741823, adFldLong},
        {"bin", adVarBinary, 8, 0},
        {"bl", adLongVarBinary, 2147483647, adFldLong},
    };
    auto rs = Open("SELECT * FROM typed", adUseClient, adOpenStatic, adLockOptimistic);
    auto fields = rs->GetFields();
    ASSERT_EQ(fields->GetCount(), static_cast<int>(cases.size()));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto& tc = cases[k];
        SCOPED_TRACE(tc.Name);
        auto f = fields->GetItem(Variant(static_cast<int>(k)));
        EXPECT_EQ(N(f->GetName()), tc.Name);
        EXPECT_EQ(f->GetType(), tc.Type);
        EXPECT_EQ(f->GetDefinedSize(), tc.DefinedSize);
        EXPECT_EQ(f->GetAttributes() & tc.Attributes, tc.Attributes);
    }
    EXPECT_FALSE(fields->GetItem(Variant("n"))->GetAttributes() & adFldIsNullable);
    EXPECT_EQ(fields->GetItem(Variant("d"))->GetPrecision(), 8);
    EXPECT_EQ(fields->GetItem(Variant("d"))->GetNumericScale(), 3);
    // Values arrive in their ADO types.
    EXPECT_EQ(fields->GetItem(Variant("d"))->GetValue().VType(), Rtl::varDecimal);
    EXPECT_EQ(fields->GetItem(Variant("m"))->GetValue().ToCurrency(), Rtl::Currency::FromScaled(99900));
    EXPECT_EQ(fields->GetItem(Variant("dt"))->GetValue().VType(), Rtl::varDate);
    EXPECT_EQ(N(fields->GetItem(Variant("g"))->GetValue().ToWideString()), "{6A0D1C8E-4E0B-4F7A-9A51-2B1F0C9E7D11}");
    EXPECT_EQ(fields->GetItem(Variant("bl"))->GetValue().VType(), Rtl::varArray | Rtl::varByte);
    EXPECT_EQ(fields->GetItem(Variant("v"))->GetActualSize(), 10);  // 5 characters of 2 bytes
    EXPECT_EQ(fields->GetItem(Variant("bin"))->GetActualSize(), 2);
    // Base table and column, and key, as field properties.
    auto props = fields->GetItem(Variant("i"))->GetProperties();
    EXPECT_EQ(N(props->GetItem(Variant("BASETABLENAME"))->GetValue().ToWideString()), "typed");
    EXPECT_EQ(N(props->GetItem(Variant("BASECOLUMNNAME"))->GetValue().ToWideString()), "i");
    EXPECT_TRUE(props->GetItem(Variant("KEYCOLUMN"))->GetValue().ToBoolean());
    EXPECT_TRUE(props->GetItem(Variant("ISAUTOINCREMENT"))->GetValue().ToBoolean());
    EXPECT_FALSE(fields->GetItem(Variant("v"))->GetProperties()->GetItem(Variant("KEYCOLUMN"))->GetValue().ToBoolean());
    // Unknown names are an error naming them; the same field object each time.
    EXPECT_NE(OleError([&] { fields->GetItem(Variant("nope")); }).find("nope"), std::string::npos);
    EXPECT_EQ(fields->GetItem(Variant("V")).Get(), fields->GetItem(Variant(11)).Get());
}

TEST_P(RecordsetTest, FieldsCarryTypesKeysAndBaseColumnsOfTheTable) {
    struct TCase {
        const char* Name;
        DataTypeEnum Type;
        int DefinedSize;
        bool Key, AutoIncrement, Nullable;
    };
    // An integer key is SQLite's 64-bit row id; the server's SERIAL is a 32-bit integer.
    const std::vector<TCase> cases = {
        {"id", IsPostgres() ? adInteger : adBigInt, IsPostgres() ? 4 : 8, true, true, false},
        {"name", adVarWChar, 20, false, false, false},
        {"price", adNumeric, 19, false, false, true},
        {"qty", adInteger, 4, false, false, true},
        {"note", adLongVarWChar, 1073741823, false, false, true},
        {"data", adLongVarBinary, 2147483647, false, false, true},
    };
    auto rs = Open("SELECT * FROM items", adUseClient, adOpenStatic, adLockOptimistic);
    auto fields = rs->GetFields();
    ASSERT_EQ(fields->GetCount(), static_cast<int>(cases.size()));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto& tc = cases[k];
        SCOPED_TRACE(tc.Name);
        auto f = fields->GetItem(Variant(static_cast<int>(k)));
        EXPECT_EQ(N(f->GetName()), tc.Name);
        EXPECT_EQ(f->GetType(), tc.Type);
        EXPECT_EQ(f->GetDefinedSize(), tc.DefinedSize);
        EXPECT_EQ((f->GetAttributes() & adFldKeyColumn) != 0, tc.Key);
        // (SQLite's own column metadata calls a row-id key nullable: a Null stored there takes a new number.)
        if (!tc.Key || IsPostgres()) EXPECT_EQ((f->GetAttributes() & adFldIsNullable) != 0, tc.Nullable);
        EXPECT_TRUE(f->GetAttributes() & adFldUpdatable);
        auto props = f->GetProperties();
        EXPECT_EQ(N(props->GetItem(Variant("BASETABLENAME"))->GetValue().ToWideString()), "items");
        EXPECT_EQ(N(props->GetItem(Variant("BASECOLUMNNAME"))->GetValue().ToWideString()), tc.Name);
        EXPECT_EQ(props->GetItem(Variant("KEYCOLUMN"))->GetValue().ToBoolean(), tc.Key);
        EXPECT_EQ(props->GetItem(Variant("ISAUTOINCREMENT"))->GetValue().ToBoolean(), tc.AutoIncrement);
    }
    EXPECT_EQ(fields->GetItem(Variant("price"))->GetPrecision(), 10);
    EXPECT_EQ(fields->GetItem(Variant("price"))->GetNumericScale(), 2);
    EXPECT_EQ(FieldValue(rs, "price").VType(), Rtl::varDecimal);
}

TEST_P(RecordsetTest, ReadOnlyRecordsetsShowNoUpdatableFields) {
    auto rs = Open("SELECT * FROM items", adUseClient, adOpenStatic, adLockReadOnly);
    EXPECT_FALSE(rs->GetFields()->GetItem(Variant("name"))->GetAttributes() & adFldUpdatable);
    EXPECT_NE(OleError([&] { rs->GetFields()->GetItem(Variant("name"))->SetValue(Variant("x")); }).find("read-only"),
              std::string::npos);
}

TEST_P(RecordsetTest, ChunksOfLongFields) {
    Exec(FConn, "UPDATE items SET note = 'abcdefghij', data = " + Bytes("00010203040506") + " WHERE id = 1");
    auto rs = Open("SELECT * FROM items WHERE id = 1", adUseClient, adOpenStatic, adLockOptimistic);
    auto note = rs->GetFields()->GetItem(Variant("note"));
    EXPECT_EQ(N(note->GetChunk(4).ToWideString()), "abcd");
    EXPECT_EQ(N(note->GetChunk(4).ToWideString()), "efgh");
    EXPECT_EQ(N(note->GetChunk(4).ToWideString()), "ij");
    EXPECT_TRUE(note->GetChunk(4).IsNull());
    auto data = rs->GetFields()->GetItem(Variant("data"));
    EXPECT_EQ(Rtl::VarArrayToBytes(data->GetChunk(5)), (std::vector<Rtl::Byte>{0, 1, 2, 3, 4}));
    EXPECT_EQ(Rtl::VarArrayToBytes(data->GetChunk(5)), (std::vector<Rtl::Byte>{5, 6}));
    EXPECT_EQ(OleCode([&] { rs->GetFields()->GetItem(Variant("name"))->GetChunk(2); }), AdoCode(adErrIllegalOperation));
    note->AppendChunk(Variant("12"));
    note->AppendChunk(Variant("34"));
    EXPECT_EQ(N(note->GetValue().ToWideString()), "1234");
    EXPECT_EQ(N(note->GetOriginalValue().ToWideString()), "abcdefghij");
    rs->CancelUpdate();
}

TEST_P(RecordsetTest, GetRowsAndGetString) {
    auto rs = Open("SELECT name, qty FROM items ORDER BY id", adUseClient, adOpenStatic, adLockReadOnly);
    Variant rows = rs->GetRows(2, Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(Rtl::VarArrayHighBound(rows, 1), 1);  // two fields
    EXPECT_EQ(Rtl::VarArrayHighBound(rows, 2), 1);  // two rows
    EXPECT_EQ(rows.GetElement({0, 1}).ToString(), "pear");
    EXPECT_EQ(rows.GetElement({1, 0}).ToInteger(), 10);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");  // after the rows read
    rows = rs->GetRows(adGetRowsRest, Variant(static_cast<int>(adBookmarkFirst)), Variant("qty"));
    EXPECT_EQ(Rtl::VarArrayHighBound(rows, 1), 0);
    EXPECT_EQ(Rtl::VarArrayHighBound(rows, 2), 3);
    EXPECT_TRUE(rs->GetEOF());
    EXPECT_EQ(OleCode([&] { rs->GetRows(adGetRowsRest, Com::EmptyParam, Com::EmptyParam); }),
              AdoCode(adErrNoCurrentRecord));
    rs->MoveFirst();
    EXPECT_EQ(N(rs->GetString(adClipString, 2, u",", u";", u"-")), "apple,10;pear,5;");
    auto nulls = Open("SELECT name, note FROM items ORDER BY id", adUseServer, adOpenForwardOnly, adLockReadOnly);
    EXPECT_EQ(N(nulls->GetString(adClipString, -1, {}, {}, u"(null)")),
              "apple\tred\rpear\t(null)\rplum\tsweet\rfig\t(null)\r");
}

TEST_P(RecordsetTest, NextRecordsetWalksTheResultsOfABatch) {
    auto rs = FConn->Execute(
        u"SELECT name FROM items WHERE id = 1; UPDATE items SET qty = 0; SELECT COUNT(*) AS n FROM items", nullptr,
        adCmdText);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    Variant affected;
    auto next = rs->NextRecordset(&affected);
    ASSERT_TRUE(next);
    EXPECT_EQ(affected.ToInteger(), 4);  // the UPDATE between them
    EXPECT_EQ(FieldValue(next, "n").ToInteger(), 4);
    EXPECT_EQ(rs->GetState(), adStateClosed);  // a forward-only recordset gives its rows up
    EXPECT_FALSE(next->NextRecordset(&affected));
}

TEST_F(RecordsetSqliteTest, FabricatedRecordsetHoldsItsOwnRows) {
    auto rs = CoRecordset::Create();
    auto fields = rs->GetFields();
    fields->Append(u"id", adInteger, 0, adFldUnspecified, Com::EmptyParam);
    fields->Append(u"name", adVarWChar, 10, adFldIsNullable, Com::EmptyParam);
    EXPECT_EQ(fields->GetCount(), 2);
    // Appended fields take values whatever else their attributes say; Null only when nullable.
    EXPECT_EQ(fields->GetItem(Variant("name"))->GetAttributes(), adFldIsNullable | adFldMayBeNull | adFldUpdatable);
    EXPECT_EQ(fields->GetItem(Variant("id"))->GetAttributes(), adFldFixed | adFldUpdatable);
    EXPECT_EQ(OleCode([&] { fields->Append(u"ID", adInteger, 0, adFldUnspecified, Com::EmptyParam); }),
              AdoCode(adErrObjectInCollection));
    EXPECT_EQ(OleCode([&] { fields->Append(u"v", adVariant, 0, adFldUnspecified, Com::EmptyParam); }),
              AdoCode(adErrFeatureNotAvailable));
    rs->Open(Com::EmptyParam, Com::EmptyParam, adOpenStatic, adLockOptimistic, adCmdUnspecified);
    EXPECT_TRUE(rs->GetBOF() && rs->GetEOF());
    EXPECT_EQ(rs->GetCursorLocation(), adUseClient);
    EXPECT_TRUE(rs->Supports(adAddNew));
    rs->AddNew(Rtl::VarArrayOf({Variant("id"), Variant("name")}), Rtl::VarArrayOf({Variant(1), Variant("one")}));
    rs->AddNew(Com::EmptyParam, Com::EmptyParam);
    FieldValue(rs, "id");
    rs->GetFields()->GetItem(Variant("id"))->SetValue(Variant(2));
    EXPECT_NE(OleError([&] { rs->GetFields()->GetItem(Variant("id"))->SetValue(Variant::Null()); }).find("Null"),
              std::string::npos);
    EXPECT_NE(OleError([&] { rs->GetFields()->GetItem(Variant("name"))->SetValue(Variant("eleven chars")); })
                  .find("name"),
              std::string::npos);
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    EXPECT_EQ(rs->GetRecordCount(), 2);
    rs->MoveFirst();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "one");
    EXPECT_EQ(rs->GetStatus(), adRecUnmodified);
    rs->Delete(adAffectCurrent);
    EXPECT_EQ(rs->GetRecordCount(), 1);
    EXPECT_EQ(OleCode([&] { fields->Append(u"x", adInteger, 0, adFldUnspecified, Com::EmptyParam); }),
              AdoCode(adErrIllegalOperation));
    // Fields of a source are not appended by hand.
    auto sourced = CoRecordset::Create();
    sourced->SetActiveConnectionRef(Com::ComPtr<Com::IDispatch>(FConn.Get()).Get());
    EXPECT_EQ(OleCode([&] { sourced->GetFields()->Append(u"x", adInteger, 0, adFldUnspecified, Com::EmptyParam); }),
              AdoCode(adErrIllegalOperation));
}

TEST_F(RecordsetSqliteTest, MembersOfLaterWorkSayTheyAreNotImplementedYet) {
    auto rs = Open("SELECT * FROM items", adUseClient, adOpenStatic, adLockBatchOptimistic);
    for (auto f : std::vector<std::function<void()>>{[&] { rs->GetDataSource(); }}) {
        EXPECT_EQ(OleCode(f), Com::E_NOTIMPL);
        EXPECT_NE(OleError(f).find("not implemented yet"), std::string::npos);
    }
}

TEST_P(RecordsetTest, LateBoundSurface) {
    auto rs = Com::CreateOleObject("ADODB.Recordset");
    OleCall(rs, "Open", {Variant(u"SELECT name FROM items ORDER BY id"), Com::VarFromInterface(FConn),
                         Variant(static_cast<int>(adOpenStatic))});
    EXPECT_EQ(OleGet(rs, "RecordCount").ToInteger(), 4);
    OleCall(rs, "MoveLast");
    EXPECT_EQ(OleGet(OleGet(OleGet(rs, "Fields"), "Item", {Variant("name")}), "Value").ToString(), "fig");
    EXPECT_EQ(OleGet(rs, "Collect", {Variant(0)}).ToString(), "fig");
    const Variant active = OleGet(rs, "ActiveConnection");
    EXPECT_TRUE(Com::IsSameObject(Com::VarToUnknown(active), Com::ComPtr<Rtl::IUnknown>(FConn.Get())));
    EXPECT_EQ(OleGet(rs, "Source").ToString(), "SELECT name FROM items ORDER BY id");
}

VELORA_PROVIDER_SUITE(RecordsetTest);

}  // namespace
}  // namespace AdoTest
