// Binding a row store's typed cells to SQLite parameters: a cell must reach
// the database exactly as the same value given as a variant does, copied so
// that it outlives the cell, and its errors must name the parameter.
#include <cstring>

#include "EngineTestSupport.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::OpenSqlite;
using EngineTest::TTempDir;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class SqliteCellBindTest : public ::testing::Test {
protected:
    void SetUp() override { S = OpenSqlite(Dir.File("cells.db")); }

    // SQLite's storage class and literal of the bound value: "integer:5".
    static std::string Bound(TStatement& st) {
        TResultStream& r = st.Execute();
        TRowBuffer row;
        std::string out;
        if (r.Fetch(row))
            out = std::string(row[0].GetView()) + ":" + std::string(row[1].GetView());
        st.Close();
        return out;
    }

    static TColumnInfo Column(DataTypeEnum type) {
        TColumnInfo c;
        c.Name = "c";
        c.Type = type;
        return c;
    }

    TTempDir Dir;
    std::unique_ptr<TSession> S;
};

struct TCellCase {
    const char* What;
    DataTypeEnum Type;  // the column's type; the cell's kind follows from it
    Variant Value;      // stored into the cell the way a row store does
    DataTypeEnum BindAs = adEmpty;
};

TEST_F(SqliteCellBindTest, ACellBindsAsTheSameValueGivenAsAVariant) {
    const unsigned char bytes[] = {0x00, 0x41, 0xFF, 0x00};
    const TCellCase cases[] = {
        {"boolean", adBoolean, Variant(true)},
        {"tiny", adTinyInt, Variant(-5)},
        {"small", adSmallInt, Variant(-32768)},
        {"integer", adInteger, Variant(-2147483647 - 1)},
        {"big", adBigInt, Variant(static_cast<long long>(INT64_MAX))},
        {"unsigned tiny", adUnsignedTinyInt, Variant(255)},
        {"unsigned small", adUnsignedSmallInt, Variant(65535)},
        {"unsigned int", adUnsignedInt, Variant(4294967295LL)},
        {"unsigned big", adUnsignedBigInt, Variant(static_cast<unsigned long long>(INT64_MAX))},
        {"single", adSingle, Variant(1.1f)},
        {"double", adDouble, Variant(0.1)},
        {"currency", adCurrency, Variant(Currency::FromScaled(123456))},
        {"whole currency", adCurrency, Variant(Currency::FromScaled(-50000))},
        {"decimal", adDecimal, Variant(u"12.5")},
        {"text", adVarWChar, Variant(u"d\u00e9j\u00e0 vu")},
        {"empty text", adVarWChar, Variant(u"")},
        {"bytes", adVarBinary, Rtl::BytesToVarArray(reinterpret_cast<const char*>(bytes), sizeof bytes)},
        {"date", adDBTimeStamp, Variant(Rtl::TDateTime(45000.25)), adDBTimeStamp},
        {"day", adDBDate, Variant(Rtl::TDateTime(45000)), adDBDate},
        {"guid", adGUID, Variant(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), adGUID},
        {"null", adInteger, Variant::Null()},
        {"null text", adVarWChar, Variant::Null()},
    };
    auto viaCell = S->CreateStatement();
    auto viaVariant = S->CreateStatement();
    viaCell->Prepare("SELECT typeof(:v), quote(:v)");
    viaVariant->Prepare("SELECT typeof(:v), quote(:v)");
    for (const TCellCase& c : cases) {
        SCOPED_TRACE(c.What);
        const TColumnInfo col = Column(c.Type);
        const TStorageKind kind = StorageKindOf(c.Type);
        TCell cell;
        String scratch;
        VariantToCell(col, kind, c.Value, cell, scratch);
        viaCell->SetParameterCell(1, col, kind, cell, c.BindAs);
        viaVariant->SetParameter(1, CellToVariant(col, kind, cell), c.BindAs);
        const std::string want = Bound(*viaVariant);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(Bound(*viaCell), want);
    }
}

TEST_F(SqliteCellBindTest, ACellsTextIsCopiedAndStaysBoundForLaterExecutions) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT typeof(?), quote(?2)");
    const TColumnInfo col = Column(adVarWChar);
    char text[] = "first";
    TCell cell;
    cell.Null = false;
    cell.Data = text;
    cell.Size = std::strlen(text);
    st->SetParameterCell(1, col, skText, cell);
    st->SetParameterCell(2, col, skText, cell);
    std::memcpy(text, "XXXXX", 5);  // the row store moved on
    EXPECT_EQ(Bound(*st), "text:'first'");
    EXPECT_EQ(Bound(*st), "text:'first'");

    // A value given later replaces it, whichever way it comes.
    st->SetParameter(2, Variant(u"second"));
    EXPECT_EQ(Bound(*st), "text:'second'");
    TCell number;
    number.Null = false;
    number.I = 7;
    st->SetParameterCell(2, Column(adInteger), skInt32, number);
    EXPECT_EQ(Bound(*st), "text:7");
    st->ClearParameters();
    EXPECT_TRUE(Contains(ErrorOf([&] { st->Execute(); }), "No value given for parameter"));
}

TEST_F(SqliteCellBindTest, ValuesSQLiteCannotHoldFailNamingTheParameterAndTheValue) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT typeof(:big), quote(:big)");
    TCell cell;
    cell.Null = false;
    cell.U = static_cast<UInt64>(INT64_MAX) + 1;
    st->SetParameterCell(1, Column(adUnsignedBigInt), skUInt64, cell);
    std::string error = ErrorOf([&] { st->Execute(); });
    EXPECT_TRUE(Contains(error, "\":big\"")) << error;
    EXPECT_TRUE(Contains(error, "9223372036854775808")) << error;
    EXPECT_TRUE(Contains(error, "beyond SQLite's 64-bit signed integers")) << error;
    // The same value given as a variant says the same.
    st->SetParameter(1, Variant(static_cast<unsigned long long>(INT64_MAX) + 1));
    EXPECT_EQ(ErrorOf([&] { st->Execute(); }), error);

    // The statement is usable again once a value that fits is bound.
    cell.U = 42;
    st->SetParameterCell(1, Column(adUnsignedBigInt), skUInt64, cell);
    EXPECT_EQ(Bound(*st), "integer:42");

    // A value that does not fit the type given is refused where it is given,
    // naming the parameter, and the value bound before stays.
    TCell text;
    text.Null = false;
    text.Data = "not a date";
    text.Size = 10;
    error = ErrorOf([&] { st->SetParameterCell(1, Column(adVarWChar), skText, text, adDBTimeStamp); });
    EXPECT_TRUE(Contains(error, ":big")) << error;
    EXPECT_EQ(Bound(*st), "integer:42");
}

}  // namespace
