// The client cursor's row storage and the forward-only reader.
#include "EngineTestSupport.h"
#include "Platform/data-engine/cursor/ForwardReader.h"
#include "Platform/data-engine/cursor/RowStore.h"
#include "Platform/data-engine/providers/MemoryResult.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::OpenSqlite;
using EngineTest::TTempDir;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TColumnInfo Numeric(const char* name, int precision, int scale) {
    TColumnInfo c = MakeColumn(name, adNumeric);
    c.Precision = static_cast<Rtl::Byte>(precision);
    c.NumericScale = static_cast<Rtl::Byte>(scale);
    return c;
}

TEST(RowStore, EveryKindRoundTripsThroughItsSlot) {
    std::vector<TColumnInfo> cols = {
        MakeColumn("b", adBoolean),        MakeColumn("ti", adTinyInt),      MakeColumn("uti", adUnsignedTinyInt),
        MakeColumn("si", adSmallInt),      MakeColumn("i", adInteger),       MakeColumn("bi", adBigInt),
        MakeColumn("ubi", adUnsignedBigInt), MakeColumn("f", adSingle),      MakeColumn("d", adDouble),
        MakeColumn("cy", adCurrency),      MakeColumn("ts", adDBTimeStamp),  Numeric("n", 12, 3),
        MakeColumn("g", adGUID),           MakeColumn("vc", adVarWChar, 5),  MakeColumn("memo", adLongVarWChar),
        MakeColumn("blob", adLongVarBinary)};
    TRowStore store(cols);
    EXPECT_EQ(store.GetRecordSize() % 8, 0u);
    const std::string big(300000, 'x');  // larger than a heap chunk's share
    std::vector<Rtl::Byte> bytes(big.begin(), big.end());
    const std::vector<Variant> values = {
        Variant(true),
        Variant(static_cast<signed char>(-7)),
        Variant(static_cast<unsigned char>(200)),
        Variant(static_cast<short>(-30000)),
        Variant(2000000000),
        Variant(-9000000000000000000LL),
        Variant(18000000000000000000ULL),
        Variant(1.5f),
        Variant(-2.25),
        Variant(Rtl::Currency::FromScaled(-12345678)),
        Variant(Rtl::TDateTime(45322.75)),
        Variant(Rtl::StrToDecimal("-123456789.125")),
        Variant(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
        Variant(u"\u00E9t\u00E9!"),
        Variant(big),
        Rtl::BytesToVarArray(bytes.data(), bytes.size())};
    const TRowId row = store.AddNew();
    for (std::size_t c = 0; c < cols.size(); ++c) store.SetValue(row, c, values[c]);
    const TRowId nulls = store.AddNew();
    for (std::size_t c = 0; c < cols.size(); ++c) {
        const Variant v = store.GetValue(row, c);
        EXPECT_TRUE(v == values[c]) << cols[c].Name << ": " << DescribeValue(v);
        EXPECT_TRUE(store.IsNull(nulls, c)) << cols[c].Name;
    }
    EXPECT_EQ(store.GetValue(row, 14).VType(), Rtl::varOleStr);
    EXPECT_EQ(store.GetBytes(row, 15).size(), big.size());
    // An empty text is a value, not a Null.
    store.SetValue(nulls, 13, Variant(""));
    EXPECT_FALSE(store.IsNull(nulls, 13));
    EXPECT_EQ(store.GetBytes(nulls, 13), "");
    EXPECT_TRUE(Contains(ErrorOf([&] { store.GetInt64(row, 13); }), "does not hold integers"));
}

TEST(RowStore, ABadValueIsNamedAndChangesNothing) {
    TRowStore store({MakeColumn("qty", adInteger), MakeColumn("code", adVarWChar, 5), Numeric("price", 4, 2),
                     MakeColumn("day", adDBDate)});
    TRowBuffer row(4);
    row[0].Null = false;
    row[0].I = 3;
    row.SetOwnedText(1, "abc");
    row.SetNull(2);
    row.SetNull(3);
    const TRowId id = store.Append(row);
    struct TCase {
        std::size_t Column;
        Variant Value;
        const char* Message;
    } cases[] = {
        {0, Variant("three"), "Cannot store 'three' in column \"qty\" (adInteger): not a number"},
        {0, Variant(3000000000LL), "in column \"qty\" (adInteger): out of range"},
        {0, Variant(2.5), "whole numbers only"},
        {1, Variant("abcdef"), "6 characters are more than the column's 5"},
        {2, Variant(123.4), "more digits than the column's precision"},
        {3, Variant(Rtl::TDateTime(45322.5)), "without a time of day"},
        {1, Rtl::BytesToVarArray("ab", 2), "binary data cannot be stored as text"},
    };
    for (const auto& c : cases) {
        const std::string msg = ErrorOf([&] { store.SetValue(id, c.Column, c.Value); });
        EXPECT_TRUE(Contains(msg, c.Message)) << msg;
    }
    EXPECT_EQ(store.GetStatus(id), adRecUnmodified);
    EXPECT_EQ(store.GetPendingCount(), 0u);
    EXPECT_EQ(store.GetValue(id, 0).ToInteger(), 3);
    // Decimals round to the column's scale.
    store.SetValue(id, 2, Variant(1.005));
    EXPECT_EQ(Rtl::DecimalToStr(store.GetValue(id, 2).ToDecimal()), "1.01");
}

class RowStoreOnTable : public ::testing::Test {
protected:
    void SetUp() override {
        S = OpenSqlite(Dir.File("rows.db"));
        Exec(*S,
             "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, qty INT);"
             "INSERT INTO t VALUES(1, 'one', 10), (2, 'two', 20), (3, 'three', 30), (4, 'four', 40), (5, 'five', 50);");
        auto st = S->CreateStatement();
        st->Prepare("SELECT id, name, qty FROM t ORDER BY id");
        auto& r = st->Execute();
        Store = std::make_unique<TRowStore>(r.GetColumns());
        EXPECT_EQ(Store->Load(r), 5u);
    }
    std::string Name(TRowId row, TValueVersion v = vvCurrent) { return Rtl::VarToStr(Store->GetValue(row, 1, v)); }

    TTempDir Dir;
    std::unique_ptr<TSession> S;
    std::unique_ptr<TRowStore> Store;
};

TEST_F(RowStoreOnTable, RowIdsSurviveInsertsAndDeletes) {
    EXPECT_EQ(Store->GetRows(), (std::vector<TRowId>{0, 1, 2, 3, 4}));
    Store->Delete(1);  // pending: still there, marked
    EXPECT_EQ(Store->GetStatus(1), adRecDeleted);
    EXPECT_EQ(Store->GetRowCount(), 5u);
    const TRowId added = Store->AddNew();
    EXPECT_EQ(added, 5u);
    Store->SetValue(added, 1, Variant("six"));
    Store->AcceptChanges(1);  // the delete reached the database: the row goes
    EXPECT_FALSE(Store->IsLive(1));
    EXPECT_EQ(Store->GetRows(), (std::vector<TRowId>{0, 2, 3, 4, 5}));
    EXPECT_EQ(Store->PositionOf(5), 4u);
    EXPECT_EQ(Store->PositionOf(1), static_cast<std::size_t>(-1));
    EXPECT_EQ(Name(3), "four");
    EXPECT_EQ(Name(5), "six");
    EXPECT_TRUE(Contains(ErrorOf([&] { Store->GetValue(1, 0); }), "Row 1 does not exist"));

    Store->Delete(added);  // a new row never sent goes at once
    EXPECT_FALSE(Store->IsLive(added));
    EXPECT_EQ(Store->AddNew(), 6u);  // ids are never reused
    EXPECT_EQ(Name(4), "five");
}

TEST_F(RowStoreOnTable, PendingChangesKeepOriginalAndUnderlyingValues) {
    Store->SetValue(2, 1, Variant("THREE"));
    Store->SetValue(2, 1, Variant("Three"));
    EXPECT_EQ(Store->GetStatus(2), adRecModified);
    EXPECT_EQ(Name(2), "Three");
    EXPECT_EQ(Name(2, vvOriginal), "three");    // the first original stays
    EXPECT_EQ(Name(2, vvUnderlying), "three");  // never read back: the original
    EXPECT_TRUE(Store->IsChanged(2, 1));
    EXPECT_FALSE(Store->IsChanged(2, 2));
    EXPECT_EQ(Store->GetPendingCount(), 1u);

    // Someone else changed the row in the database; the update layer reads it back.
    TRowBuffer now(3);
    now[0].Null = false;
    now[0].I = 3;
    now.SetOwnedText(1, "tres");
    now[2].Null = false;
    now[2].I = 31;
    Store->SetUnderlying(2, now);
    Store->SetStatusFlags(2, adRecConcurrencyViolation);
    EXPECT_EQ(Store->GetStatus(2), adRecModified | adRecConcurrencyViolation);
    EXPECT_EQ(Name(2, vvUnderlying), "tres");
    EXPECT_EQ(Store->GetValue(2, 2, vvUnderlying).ToInteger(), 31);
    EXPECT_EQ(Name(2, vvOriginal), "three");

    Store->RejectChanges(2);  // CancelBatch
    EXPECT_EQ(Store->GetStatus(2), adRecUnmodified);
    EXPECT_EQ(Name(2), "three");
    EXPECT_EQ(Name(2, vvUnderlying), "three");
    EXPECT_EQ(Store->GetPendingCount(), 0u);

    // A changed row deleted, then both undone.
    Store->SetValue(3, 2, Variant(41));
    Store->Delete(3);
    EXPECT_EQ(Store->GetStatus(3), adRecDeleted);
    EXPECT_TRUE(Contains(ErrorOf([&] { Store->SetValue(3, 1, Variant("x")); }), "is deleted"));
    EXPECT_EQ(Store->GetPendingRows(), std::vector<TRowId>{3});
    Store->RejectChanges(3);
    EXPECT_EQ(Store->GetStatus(3), adRecUnmodified);
    EXPECT_EQ(Store->GetValue(3, 2).ToInteger(), 40);

    // Accepted changes become the new originals.
    Store->SetValue(0, 1, Variant("uno"));
    Store->AcceptChanges(0);
    EXPECT_EQ(Store->GetStatus(0), adRecUnmodified);
    EXPECT_EQ(Name(0, vvOriginal), "uno");
    EXPECT_FALSE(Store->IsChanged(0, 1));

    // New rows have no originals; rejecting them removes them.
    const TRowId n = Store->AddNew();
    Store->SetValue(n, 1, Variant("new"));
    EXPECT_EQ(Store->GetStatus(n), adRecNew);
    EXPECT_TRUE(Store->GetValue(n, 1, vvOriginal).IsNull());
    EXPECT_TRUE(Store->IsChanged(n, 1));
    EXPECT_FALSE(Store->IsChanged(n, 2));
    Store->RejectChanges(n);
    EXPECT_FALSE(Store->IsLive(n));

    // Refresh: the database's values win over a pending change.
    Store->SetValue(4, 1, Variant("mine"));
    Store->Refresh(4, now);
    EXPECT_EQ(Store->GetStatus(4), adRecUnmodified);
    EXPECT_EQ(Name(4), "tres");
    EXPECT_FALSE(Store->HasOriginal(4));
    EXPECT_EQ(Store->GetPendingCount(), 0u);
}

TEST_F(RowStoreOnTable, LoadStopsAtMaxRows) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT * FROM t");
    auto& r = st->Execute();
    TRowStore part(r.GetColumns());
    EXPECT_EQ(part.Load(r, 2), 2u);
    EXPECT_EQ(part.Load(r), 3u);  // the rest of the same result
    EXPECT_EQ(part.GetRowCount(), 5u);
}

TEST(ForwardReader, ReadsOneRowAtATimeWithTypedAccess) {
    TTempDir dir;
    auto s = OpenSqlite(dir.File("fwd.db"));
    Exec(*s,
         "CREATE TABLE t(i INT, big INTEGER, d REAL, name TEXT, data BLOB);"
         "INSERT INTO t VALUES(1, 10000000000, 0.5, 'a', X'01'), (2, NULL, 1.5, 'b', X'0203');");
    auto st = s->CreateStatement();
    st->Prepare("SELECT * FROM t ORDER BY i");
    TForwardReader reader(st->Execute());
    EXPECT_TRUE(Contains(ErrorOf([&] { reader.GetInt64(0); }), "call Next first"));
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.GetInt64(0), 1);
    EXPECT_EQ(reader.GetInt64(1), 10000000000LL);
    EXPECT_EQ(reader.GetDouble(2), 0.5);
    EXPECT_EQ(reader.GetText(3), "a");
    EXPECT_EQ(reader.GetBytes(4), std::string_view("\x01", 1));
    EXPECT_TRUE(reader.GetValue(3) == Variant(u"a"));
    EXPECT_TRUE(Contains(ErrorOf([&] { reader.GetInt64(3); }), "\"name\" (adLongVarWChar) does not hold integers"));
    EXPECT_TRUE(Contains(ErrorOf([&] { reader.GetText(9); }), "Column 9 does not exist"));
    ASSERT_TRUE(reader.Next());
    EXPECT_TRUE(reader.IsNull(1));
    EXPECT_EQ(reader.GetBytes(4).size(), 2u);
    EXPECT_EQ(reader.GetRowNumber(), 2);
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.GetEof());
    EXPECT_FALSE(reader.Next());

    auto upd = s->CreateStatement();
    upd->Prepare("UPDATE t SET i = i + 1");
    TForwardReader none(upd->Execute());
    EXPECT_TRUE(none.GetEof());
    EXPECT_FALSE(none.Next());
}

}  // namespace
