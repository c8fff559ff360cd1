// The PostgreSQL type mapping, values read back in their ADO types and
// parameters bound in the server's types, on the test server.
#include "PgTestSupport.h"
#ifdef VELORA_HAVE_POSTGRES
#include "Platform/data-engine/providers/postgres/PgProvider.h"
#endif

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

#ifdef VELORA_HAVE_POSTGRES
struct TMapCase {
    unsigned Oid;
    int Typmod;
    DataTypeEnum Type;
    int DefinedSize;
    int Precision;
    int Scale;
    int Attributes;  // adFldFixed / adFldLong expected
};

// The table of Platform/data-engine/README.md.
const TMapCase MapCases[] = {
    {16, -1, adBoolean, 2, 255, 255, adFldFixed},                  // bool
    {21, -1, adSmallInt, 2, 5, 255, adFldFixed},                   // int2
    {23, -1, adInteger, 4, 10, 255, adFldFixed},                   // int4
    {20, -1, adBigInt, 8, 19, 255, adFldFixed},                    // int8
    {700, -1, adSingle, 4, 7, 255, adFldFixed},                    // float4
    {701, -1, adDouble, 8, 15, 255, adFldFixed},                   // float8
    {1700, (10 << 16 | 2) + 4, adNumeric, 19, 10, 2, adFldFixed},  // numeric(10,2)
    {1700, -1, adNumeric, 19, 29, 255, adFldFixed},                // numeric
    {25, -1, adLongVarWChar, 1073741823, 255, 255, adFldLong},     // text
    {1043, 24, adVarWChar, 20, 255, 255, 0},                       // varchar(20)
    {1043, -1, adLongVarWChar, 1073741823, 255, 255, adFldLong},   // varchar
    {1042, 7, adWChar, 3, 255, 255, adFldFixed},                   // char(3)
    {17, -1, adLongVarBinary, 2147483647, 255, 255, adFldLong},    // bytea
    {1082, -1, adDBDate, 6, 10, 0, adFldFixed},                    // date
    {1083, -1, adDBTime, 6, 15, 6, adFldFixed},                    // time
    {1083, 3, adDBTime, 6, 15, 3, adFldFixed},                     // time(3)
    {1114, -1, adDBTimeStamp, 16, 26, 6, adFldFixed},              // timestamp
    {1184, -1, adDBTimeStamp, 16, 26, 6, adFldFixed},              // timestamptz
    {2950, -1, adGUID, 16, 255, 255, adFldFixed},                  // uuid
    {114, -1, adLongVarWChar, 1073741823, 255, 255, adFldLong},    // json
    {3802, -1, adLongVarWChar, 1073741823, 255, 255, adFldLong},   // jsonb
    {1186, -1, adLongVarWChar, 1073741823, 255, 255, adFldLong},   // interval: its text
};

TEST(PgTypeMapping, ServerTypesMapAsDocumented) {
    for (const auto& c : MapCases) {
        const TColumnInfo col = MapPgType(c.Oid, c.Typmod);
        SCOPED_TRACE("oid " + std::to_string(c.Oid) + " typmod " + std::to_string(c.Typmod));
        EXPECT_EQ(col.Type, c.Type);
        EXPECT_EQ(col.DefinedSize, c.DefinedSize);
        EXPECT_EQ(col.Precision, c.Precision);
        EXPECT_EQ(col.NumericScale, c.Scale);
        EXPECT_EQ(col.Attributes & (adFldFixed | adFldLong), c.Attributes);
    }
}
#endif

class PgTypesTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELORA_REQUIRE_PG();
        Schema = std::make_unique<EngineTest::TPgSchema>();
        S = Schema->Open();
    }
    // The first row of a query: its columns and values.
    std::pair<std::vector<TColumnInfo>, std::vector<Variant>> Row(const std::string& sql,
                                                                  const std::vector<Variant>& params = {}) {
        auto st = S->CreateStatement();
        st->Prepare(sql);
        for (std::size_t i = 0; i < params.size(); ++i) st->SetParameter(static_cast<int>(i) + 1, params[i]);
        auto& r = st->Execute();
        TRowBuffer row;
        std::vector<Variant> values;
        if (r.Fetch(row))
            for (std::size_t i = 0; i < row.Count(); ++i)
                values.push_back(CellToVariant(r.GetColumns()[i], r.GetKinds()[i], row[i]));
        return {r.GetColumns(), values};
    }
    std::unique_ptr<EngineTest::TPgSchema> Schema;
    std::unique_ptr<TSession> S;
};

TEST_F(PgTypesTest, ColumnsOfARealTableReportTheMapping) {
    Exec(*S,
         "CREATE TABLE every(b bool, s int2, i int4, l int8, n numeric(12,3), f4 float4, f8 float8, t text, "
         "v varchar(5), c char(2), by bytea, d date, tm time, ts timestamp, tz timestamptz, u uuid, j json, jb jsonb)");
    auto [cols, values] = Row("SELECT * FROM every");
    const DataTypeEnum want[] = {adBoolean, adSmallInt, adInteger, adBigInt, adNumeric, adSingle,
                                 adDouble, adLongVarWChar, adVarWChar, adWChar, adLongVarBinary, adDBDate,
                                 adDBTime, adDBTimeStamp, adDBTimeStamp, adGUID, adLongVarWChar, adLongVarWChar};
    ASSERT_EQ(cols.size(), std::size(want));
    for (std::size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(cols[i].Type, want[i]) << cols[i].Name;
    EXPECT_EQ(cols[4].Precision, 12);
    EXPECT_EQ(cols[4].NumericScale, 3);
    EXPECT_EQ(cols[8].DefinedSize, 5);
    EXPECT_EQ(cols[9].DefinedSize, 2);
    EXPECT_EQ(cols[8].DeclaredType, "character varying(5)");
}

struct TRoundTrip {
    const char* Name;
    const char* Column;  // the column's declaration
    Variant Value;
    DataTypeEnum Type;    // adEmpty: the variant's own
    const char* ReadBack; // VarToStr of the value read back
};

class PgRoundTrip : public PgTypesTest, public ::testing::WithParamInterface<TRoundTrip> {};

TEST_P(PgRoundTrip, ValuesComeBackAsStored) {
    const auto& c = GetParam();
    Exec(*S, std::string("CREATE TABLE rt(x ") + c.Column + ")");
    auto ins = S->CreateStatement();
    ins->Prepare("INSERT INTO rt VALUES(?)");
    ins->SetParameter(1, c.Value, c.Type);
    ASSERT_EQ(ins->Execute().GetRecordsAffected(), 1);
    auto [cols, values] = Row("SELECT x FROM rt");
    ASSERT_EQ(values.size(), 1u);
    const bool date = StorageKindOf(cols[0].Type) == skDate && !values[0].IsNull();
    EXPECT_EQ(date ? FormatIsoDateTime(values[0].ToDateTime().Value, cols[0].Type) : Rtl::VarToStr(values[0]),
              c.ReadBack);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PgRoundTrip,
    ::testing::Values(
        TRoundTrip{"Boolean", "bool", Variant(true), adEmpty, "True"},
        TRoundTrip{"SmallInt", "int2", Variant(-32768), adEmpty, "-32768"},
        TRoundTrip{"BigInt", "int8", Variant(9223372036854775807LL), adEmpty, "9223372036854775807"},
        TRoundTrip{"NumericKeepsItsScale", "numeric(9,2)", Variant(12.5), adEmpty, "12.50"},
        TRoundTrip{"NumericFromText", "numeric(29,10)", Variant("1234567890123456789.0123456789"), adEmpty,
                   "1234567890123456789.0123456789"},
        TRoundTrip{"Currency", "numeric(19,4)", Variant(Rtl::Currency::FromScaled(-1234567)), adEmpty, "-123.4567"},
        TRoundTrip{"Single", "float4", Variant(1.5f), adEmpty, "1.5"},
        TRoundTrip{"DoubleKeepsEveryDigit", "float8", Variant(0.1 + 0.2), adEmpty, "0.3"},
        TRoundTrip{"Text", "text", Variant(u"\u00E9t\u00E9 \u2603"), adEmpty, "\xC3\xA9t\xC3\xA9 \xE2\x98\x83"},
        TRoundTrip{"CharIsPadded", "char(4)", Variant("ab"), adEmpty, "ab  "},
        TRoundTrip{"Uuid", "uuid", Variant("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), adGUID,
                   "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
        TRoundTrip{"Date", "date", Variant("2024-02-29"), adDBDate, "2024-02-29"},
        TRoundTrip{"TimeToTheMicrosecond", "time", Variant("12:34:56.123456"), adDBTime, "12:34:56.123456"},
        TRoundTrip{"Timestamp", "timestamp", Variant("1999-12-31 23:59:59"), adDBTimeStamp, "1999-12-31 23:59:59"},
        TRoundTrip{"TimestampTzIsUtc", "timestamptz", Variant("2024-01-31 10:00:00+02"), adEmpty, "2024-01-31 08:00:00"},
        TRoundTrip{"Json", "jsonb", Variant("{\"a\": [1, 2]}"), adEmpty, "{\"a\": [1, 2]}"},
        TRoundTrip{"Null", "int4", Variant::Null(), adEmpty, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PgTypesTest, BinaryDataKeepsEveryByte) {
    Exec(*S, "CREATE TABLE bin(b bytea)");
    const std::string bytes("\x00\xFF\x01\x5C\x27\x00", 6);
    auto ins = S->CreateStatement();
    ins->Prepare("INSERT INTO bin VALUES($1)");
    ins->SetParameter(1, Rtl::BytesToVarArray(bytes.data(), bytes.size()));
    ins->Execute();
    auto [cols, values] = Row("SELECT b, length(b) FROM bin");
    const auto back = Rtl::VarArrayToBytes(values[0]);
    EXPECT_EQ(std::string(back.begin(), back.end()), bytes);
    EXPECT_EQ(values[1].ToInteger(), 6);
}

TEST_F(PgTypesTest, ValuesOutsideWhatTheEngineHoldsAreRefusedByName) {
    struct TCase {
        const char* Select;
        const char* Value;
    } cases[] = {
        {"SELECT '10000-01-01'::date AS x", "'10000-01-01'"},
        {"SELECT 'infinity'::timestamp AS x", "'infinity'"},
        {"SELECT '0044-03-15 BC'::date AS x", "'0044-03-15 BC'"},
        {"SELECT '24:00:00'::time AS x", "'24:00:00'"},
        {"SELECT 'NaN'::numeric AS x", "'NaN'"},
        {"SELECT 123456789012345678901234567890.5::numeric AS x", "'123456789012345678901234567890.5'"},
    };
    for (const auto& c : cases) {
        const std::string msg = ErrorOf([&] { Row(c.Select); });
        EXPECT_TRUE(Contains(msg, "Column \"x\"") && Contains(msg, c.Value)) << c.Select << ": " << msg;
    }
}

TEST_F(PgTypesTest, DatesNeedTheIsoDateStyleTheSessionStartsWith) {
    Exec(*S, "SET DateStyle = 'German'");
    const std::string msg = ErrorOf([&] { Row("SELECT DATE '2024-05-01' AS d"); });
    EXPECT_TRUE(Contains(msg, "DateStyle is \"German, DMY\"")) << msg;
    Exec(*S, "SET DateStyle = ISO");
    EXPECT_EQ(FormatIsoDateTime(Row("SELECT DATE '2024-05-01' AS d").second[0].ToDateTime().Value, adDBDate),
              "2024-05-01");
}

TEST_F(PgTypesTest, ParametersTakeTheTypeTheServerInfers) {
    Exec(*S, "CREATE TABLE p(name text, n int4, d date)");
    Exec(*S, "INSERT INTO p VALUES('5', 5, '2024-05-01')");
    auto st = S->CreateStatement();
    st->Prepare("SELECT count(*) FROM p WHERE name = ? AND n = ? AND d = ?");
    const auto params = st->DescribeParameters();
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[0].Type, adLongVarWChar);
    EXPECT_EQ(params[1].Type, adInteger);
    EXPECT_EQ(params[2].Type, adDBDate);
    // A number for the text column, text for the number, a date variant for the date.
    st->SetParameter(1, Variant(5));
    st->SetParameter(2, Variant("5"));
    st->SetParameter(3, Variant(Rtl::TDateTime(45413.0)));  // 2024-05-01
    TRowBuffer row;
    auto& r = st->Execute();
    ASSERT_TRUE(r.Fetch(row));
    EXPECT_EQ(row[0].I, 1);
    // A value that cannot be the inferred type fails where it is given, naming
    // the parameter and the value.
    const std::string msg = ErrorOf([&] { st->SetParameter(2, Variant("five")); });
    EXPECT_TRUE(Contains(msg, "'five'") && Contains(msg, "#2")) << msg;
    // Text holding NUL cannot reach the server: refused, not cut.
    EXPECT_TRUE(Contains(ErrorOf([&] { st->SetParameter(1, Variant(std::string("a\0b", 3))); }), "NUL character"));
}

}  // namespace
