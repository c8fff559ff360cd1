// The declared-type mapping of the SQLite provider and the conversion of
// stored values into the reported types, on real database files.
#include "EngineTestSupport.h"
#include "Platform/data-engine/providers/sqlite/SqliteProvider.h"
#include "Platform/rtl/DateTime.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::TTempDir;
using Rtl::Variant;

namespace {

struct TMapCase {
    const char* Declared;
    DataTypeEnum Type;  // adEmpty: the first value decides
    int DefinedSize;
    int Precision;
    int Scale;
    int Attributes;  // adFldFixed / adFldLong expected
};

// The table of Platform/data-engine/README.md.
const TMapCase MapCases[] = {
    {"INTEGER", adBigInt, 8, 19, 255, adFldFixed},
    {"bigint", adBigInt, 8, 19, 255, adFldFixed},
    {"INT", adInteger, 4, 10, 255, adFldFixed},
    {"MEDIUMINT", adInteger, 4, 10, 255, adFldFixed},
    {"SMALLINT", adSmallInt, 2, 5, 255, adFldFixed},
    {"TINYINT", adUnsignedTinyInt, 1, 3, 255, adFldFixed},
    {"BOOLEAN", adBoolean, 2, 255, 255, adFldFixed},
    {"bit", adBoolean, 2, 255, 255, adFldFixed},
    {"REAL", adDouble, 8, 15, 255, adFldFixed},
    {"DOUBLE  PRECISION", adDouble, 8, 15, 255, adFldFixed},
    {"FLOAT", adDouble, 8, 15, 255, adFldFixed},
    {"NUMERIC(10,2)", adNumeric, 19, 10, 2, adFldFixed},
    {"decimal( 5 )", adNumeric, 19, 5, 0, adFldFixed},
    {"NUMERIC", adDouble, 8, 15, 255, adFldFixed},
    {"MONEY", adCurrency, 8, 19, 4, adFldFixed},
    {"DATE", adDBDate, 6, 10, 0, adFldFixed},
    {"TIME", adDBTime, 6, 15, 6, adFldFixed},
    {"DATETIME", adDBTimeStamp, 16, 26, 6, adFldFixed},
    {"timestamp", adDBTimeStamp, 16, 26, 6, adFldFixed},
    {"UNIQUEIDENTIFIER", adGUID, 16, 255, 255, adFldFixed},
    {"CHAR(3)", adWChar, 3, 255, 255, adFldFixed},
    {"VARCHAR(20)", adVarWChar, 20, 255, 255, 0},
    {"NVARCHAR(10)", adVarWChar, 10, 255, 255, 0},
    {"character varying(7)", adVarWChar, 7, 255, 255, 0},
    {"VARCHAR", adLongVarWChar, 1073741823, 255, 255, adFldLong},
    {"TEXT", adLongVarWChar, 1073741823, 255, 255, adFldLong},
    {"CLOB", adLongVarWChar, 1073741823, 255, 255, adFldLong},
    {"BLOB", adLongVarBinary, 2147483647, 255, 255, adFldLong},
    {"BINARY(4)", adBinary, 4, 255, 255, adFldFixed},
    {"VARBINARY(16)", adVarBinary, 16, 255, 255, 0},
    // SQLite's affinity rules for names outside the table.
    {"UNSIGNED INTEGERISH", adBigInt, 8, 19, 255, adFldFixed},
    {"MYCHARS", adLongVarWChar, 1073741823, 255, 255, adFldLong},
    {"FLOATY", adDouble, 8, 15, 255, adFldFixed},
    {"BLOBBY", adLongVarBinary, 2147483647, 255, 255, adFldLong},
    {"FOO", adEmpty, 0, 255, 255, 0},
    {"", adEmpty, 0, 255, 255, 0},
};

TEST(SqliteTypeMapping, DeclaredTypesMapAsDocumented) {
    for (const auto& c : MapCases) {
        const TColumnInfo col = MapSqliteDeclaredType(c.Declared);
        EXPECT_EQ(col.Type, c.Type) << c.Declared;
        if (c.Type == adEmpty) continue;
        EXPECT_EQ(col.DefinedSize, c.DefinedSize) << c.Declared;
        EXPECT_EQ(col.Precision, c.Precision) << c.Declared;
        EXPECT_EQ(col.NumericScale, c.Scale) << c.Declared;
        EXPECT_EQ(col.Attributes & (adFldFixed | adFldLong), c.Attributes) << c.Declared;
    }
}

TEST(SqliteTypeMapping, ResultColumnsOfARealTableReportTheMapping) {
    TTempDir dir;
    auto s = EngineTest::OpenSqlite(dir.File("types.db"));
    std::string ddl = "CREATE TABLE t(";
    for (std::size_t i = 0; i < std::size(MapCases); ++i)
        ddl += (i ? ", c" : "c") + std::to_string(i) + " " + MapCases[i].Declared;
    Exec(*s, ddl + ")");
    auto st = s->CreateStatement();
    st->Prepare("SELECT * FROM t");
    auto& r = st->Execute();
    ASSERT_EQ(r.GetColumns().size(), std::size(MapCases));
    for (std::size_t i = 0; i < std::size(MapCases); ++i) {
        const auto& col = r.GetColumns()[i];
        EXPECT_EQ(col.Name, "c" + std::to_string(i));
        EXPECT_EQ(col.DeclaredType, MapCases[i].Declared);
        // Without rows, a column with no fixed type reports long text.
        EXPECT_EQ(col.Type, MapCases[i].Type == adEmpty ? adLongVarWChar : MapCases[i].Type) << MapCases[i].Declared;
    }
}

struct TValueCase {
    const char* Declared;
    const char* Literal;  // SQL inserted as it is
    Variant Expected;     // Empty when an error is expected
    Rtl::TVarType Kind;
    const char* Error;    // part of the expected message
};

void PrintTo(const TValueCase& c, std::ostream* os) { *os << c.Declared << " holding " << c.Literal; }

Variant Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    double v;
    EXPECT_TRUE(EncodeDateTimeUs(y, m, d, h, mi, s, ms * 1000, v));
    return Variant(Rtl::TDateTime(v));
}

Variant Bytes(std::initializer_list<int> b) {
    std::vector<Rtl::Byte> v;
    for (int x : b) v.push_back(static_cast<Rtl::Byte>(x));
    return Rtl::BytesToVarArray(v.data(), v.size());
}

Variant Dec(const char* text) {
    TExactDecimal x;
    EXPECT_TRUE(ParseExactDecimal(text, x));
    Rtl::TDecimal d;
    EXPECT_TRUE(ExactToDecimal(x, x.Scale, 29, d));
    return Variant(d);
}

class SqliteValues : public ::testing::TestWithParam<TValueCase> {
protected:
    static void SetUpTestSuite() {
        Dir = new TTempDir;
        Session = EngineTest::OpenSqlite(Dir->File("values.db")).release();
    }
    static void TearDownTestSuite() {
        delete Session;
        delete Dir;
    }
    static inline TTempDir* Dir = nullptr;
    static inline TSession* Session = nullptr;
};

TEST_P(SqliteValues, ConvertOrNameTheColumnAndValue) {
    const auto& c = GetParam();
    Exec(*Session, "DROP TABLE IF EXISTS t");
    Exec(*Session, std::string("CREATE TABLE t(v ") + c.Declared + ")");
    Exec(*Session, std::string("INSERT INTO t VALUES(") + c.Literal + ")");
    auto st = Session->CreateStatement();
    st->Prepare("SELECT v FROM t");
    auto& r = st->Execute();
    TRowBuffer row;
    if (c.Error) {
        const std::string msg = ErrorOf([&] { r.Fetch(row); });
        EXPECT_NE(msg.find(c.Error), std::string::npos) << c.Declared << " " << c.Literal << ": " << msg;
        EXPECT_NE(msg.find("Column \"v\""), std::string::npos) << msg;
        return;
    }
    ASSERT_TRUE(r.Fetch(row));
    const Variant v = CellToVariant(r.GetColumns()[0], r.GetKinds()[0], row[0]);
    EXPECT_EQ(v.VType(), c.Kind) << c.Declared << " " << c.Literal;
    EXPECT_TRUE(v == c.Expected) << c.Declared << " " << c.Literal << " gave " << DescribeValue(v);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SqliteValues,
    ::testing::Values(
        TValueCase{"INTEGER", "9223372036854775807", Variant(9223372036854775807LL), Rtl::varInt64, nullptr},
        TValueCase{"INT", "2147483647", Variant(2147483647), Rtl::varInteger, nullptr},
        TValueCase{"INT", "2147483648", {}, 0, "the integer 2147483648, which does not fit its type adInteger"},
        TValueCase{"INT", "'abc'", {}, 0, "the text 'abc'"},
        TValueCase{"INT", "2.5", {}, 0, "has a fraction"},
        TValueCase{"SMALLINT", "40000", {}, 0, "out of range"},
        TValueCase{"TINYINT", "255", Variant(static_cast<unsigned char>(255)), Rtl::varByte, nullptr},
        TValueCase{"TINYINT", "-1", {}, 0, "out of range"},
        TValueCase{"BOOLEAN", "1", Variant(true), Rtl::varBoolean, nullptr},
        TValueCase{"BOOLEAN", "'false'", Variant(false), Rtl::varBoolean, nullptr},
        TValueCase{"BOOLEAN", "2", {}, 0, "a boolean is 0 or 1"},
        TValueCase{"REAL", "1", Variant(1.0), Rtl::varDouble, nullptr},
        TValueCase{"NUMERIC", "2.5", Variant(2.5), Rtl::varDouble, nullptr},
        TValueCase{"NUMERIC", "9007199254740993", {}, 0, "no exact double"},
        TValueCase{"DECIMAL(10,2)", "19.99", Dec("19.99"), Rtl::varDecimal, nullptr},
        TValueCase{"DECIMAL(10,2)", "7", Dec("7.00"), Rtl::varDecimal, nullptr},
        TValueCase{"DECIMAL(10,2)", "1.005", {}, 0, "more digits than precision 10, scale 2"},
        TValueCase{"DECIMAL(4,2)", "123.4", {}, 0, "more digits than precision 4"},
        TValueCase{"MONEY", "12.3456", Variant(Rtl::Currency::FromScaled(123456)), Rtl::varCurrency, nullptr},
        TValueCase{"MONEY", "1.23456", {}, 0, "four decimals"},
        TValueCase{"DATE", "'2024-02-29'", Date(2024, 2, 29), Rtl::varDate, nullptr},
        TValueCase{"DATE", "'2024-02-30'", {}, 0, "not an ISO-8601 date"},
        TValueCase{"DATE", "'2024-01-01 10:00:00'", {}, 0, "without a time of day"},
        TValueCase{"DATETIME", "'2024-01-31 13:45:30.250'", Date(2024, 1, 31, 13, 45, 30, 250), Rtl::varDate, nullptr},
        TValueCase{"DATETIME", "'2024-01-31T13:45:30Z'", Date(2024, 1, 31, 13, 45, 30), Rtl::varDate, nullptr},
        TValueCase{"DATETIME", "'1850-06-01 06:00'", Date(1850, 6, 1, 6), Rtl::varDate, nullptr},
        TValueCase{"DATETIME", "0", Date(1970, 1, 1), Rtl::varDate, nullptr},
        TValueCase{"DATETIME", "2451544.5", Date(2000, 1, 1), Rtl::varDate, nullptr},
        TValueCase{"DATETIME", "'yesterday'", {}, 0, "the text 'yesterday'"},
        TValueCase{"DATETIME", "'2024-01-31 13:45:30+02:00'", {}, 0, "not an ISO-8601 date"},
        TValueCase{"TIME", "'18:00'", Variant(Rtl::TDateTime(0.75)), Rtl::varDate, nullptr},
        TValueCase{"TIME", "'25:00'", {}, 0, "not a time"},
        TValueCase{"GUID", "'6f9619ff-8b86-d011-b42d-00c04fc964ff'",
                   Variant(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), Rtl::varOleStr, nullptr},
        TValueCase{"GUID", "'nope'", {}, 0, "not a GUID"},
        TValueCase{"VARCHAR(3)", "'\xC3\xA4\xC3\xB6\xC3\xBC'", Variant(u"\u00E4\u00F6\u00FC"), Rtl::varOleStr, nullptr},
        TValueCase{"VARCHAR(3)", "'abcd'", {}, 0, "4 characters are more than its 3"},
        TValueCase{"TEXT", "'h\xC3\xA9llo'", Variant(u"h\u00E9llo"), Rtl::varOleStr, nullptr},
        TValueCase{"TEXT", "X'6869'", Variant(u"hi"), Rtl::varOleStr, nullptr},
        TValueCase{"TEXT", "X'FF00'", {}, 0, "not UTF-8"},
        TValueCase{"BLOB", "X'00FF'", Bytes({0, 255}), Rtl::varArray | Rtl::varByte, nullptr},
        TValueCase{"BLOB", "'abc'", Bytes({'a', 'b', 'c'}), Rtl::varArray | Rtl::varByte, nullptr},
        TValueCase{"VARBINARY(2)", "X'010203'", {}, 0, "3 bytes are more than its 2"},
        TValueCase{"", "42", Variant(42LL), Rtl::varInt64, nullptr},
        TValueCase{"", "'x'", Variant(u"x"), Rtl::varOleStr, nullptr}));

TEST(SqliteTypeMapping, ColumnsWithoutTypeTakeTheFirstValueAndRefuseWhatDoesNotFit) {
    TTempDir dir;
    auto s = EngineTest::OpenSqlite(dir.File("dyn.db"));
    auto st = s->CreateStatement();
    st->Prepare("SELECT 1 UNION ALL SELECT 2.5");
    auto& r = st->Execute();
    EXPECT_EQ(r.GetColumns()[0].Type, adBigInt);
    TRowBuffer row;
    ASSERT_TRUE(r.Fetch(row));
    EXPECT_EQ(row[0].I, 1);
    const std::string msg = ErrorOf([&] { r.Fetch(row); });
    EXPECT_NE(msg.find("the real number 2.5"), std::string::npos) << msg;
}

TEST(IsoDates, RoundTripAcrossTheRange) {
    struct TCase {
        const char* Text;
        DataTypeEnum Type;
    } cases[] = {
        {"0001-01-01 00:00:00", adDBTimeStamp}, {"1899-12-29 06:00:00", adDBTimeStamp},
        {"1899-12-30", adDBDate},               {"2024-02-29 23:59:59.999", adDBTimeStamp},
        {"2024-06-30 12:00:00.000001", adDBTimeStamp}, {"9999-12-31 23:59:59.999", adDBTimeStamp},
        {"13:14:15.5", adDBTime},
    };
    for (const auto& c : cases) {
        double v;
        ASSERT_TRUE(ParseIsoDateTime(c.Text, c.Type == adDBTime, v)) << c.Text;
        std::string expected = c.Text;
        if (expected == "13:14:15.5") expected = "13:14:15.500";
        EXPECT_EQ(FormatIsoDateTime(v, c.Type), expected);
    }
    double v;
    EXPECT_TRUE(ParseIsoDateTime("1899-12-29 06:00:00", false, v));
    EXPECT_DOUBLE_EQ(v, -1.25);  // the framework's rule before the epoch
    // Near the year 9999 a double cannot hold a microsecond: refused, not rounded.
    EXPECT_FALSE(ParseIsoDateTime("9999-12-31 12:00:00.000001", false, v));
}

}  // namespace
