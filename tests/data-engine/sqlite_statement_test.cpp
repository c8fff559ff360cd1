// Statements over SQLite: parameter names and SQLite's storage forms,
// errors, metadata for updates and schema rowsets. What every provider does
// alike is in provider_suite_test.cpp.
#include "EngineTestSupport.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::OpenSqlite;
using EngineTest::Scalar;
using EngineTest::TTempDir;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class SqliteStatementTest : public ::testing::Test {
protected:
    void SetUp() override { S = OpenSqlite(Dir.File("statements.db")); }

    // Every row of a result as text cells joined by ',' and rows by ';'.
    static std::string Rows(TResultStream& r) {
        std::string out;
        TRowBuffer row;
        while (r.Fetch(row)) {
            if (!out.empty()) out += ';';
            for (std::size_t i = 0; i < row.Count(); ++i) {
                if (i) out += ',';
                out += row[i].Null ? "null" : Rtl::VarToStr(CellToVariant(r.GetColumns()[i], r.GetKinds()[i], row[i]));
            }
        }
        return out;
    }

    TTempDir Dir;
    std::unique_ptr<TSession> S;
};

TEST_F(SqliteStatementTest, ParametersAreDescribedAndNamedOnesShared) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT ?, :x, ?, :x + 1, @y");
    const auto params = st->DescribeParameters();
    ASSERT_EQ(params.size(), 4u);
    EXPECT_EQ(params[0].Name, "");
    EXPECT_EQ(params[1].Name, ":x");
    EXPECT_EQ(params[3].Name, "@y");
    EXPECT_EQ(params[3].Ordinal, 4);
    EXPECT_EQ(params[1].Direction, adParamInput);
    st->SetParameter(1, Variant("a"));
    st->SetParameter(2, Variant(10));
    st->SetParameter(3, Variant::Null());
    st->SetParameter("y", Variant(2.5));
    EXPECT_EQ(Rows(st->Execute()), "a,10,null,11,2.5");

    // Errors name what is wrong.
    EXPECT_TRUE(Contains(ErrorOf([&] { st->SetParameter(5, Variant(1)); }), "Parameter 5 does not exist"));
    EXPECT_TRUE(Contains(ErrorOf([&] { st->SetParameter(":nope", Variant(1)); }), "\":nope\" does not occur"));
    st->ClearParameters();
    EXPECT_TRUE(Contains(ErrorOf([&] { st->Execute(); }), "No value given for parameter #1"));
}

TEST_F(SqliteStatementTest, TypedParametersBindInSQLiteForms) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT typeof(:p) || ':' || quote(:p)");
    struct TCase {
        Variant Value;
        DataTypeEnum Type;
        const char* Stored;
    } cases[] = {
        {Variant("2024-01-31 10:00"), adDBTimeStamp, "text:'2024-01-31 10:00:00'"},
        {Variant("2024-01-31"), adDBDate, "text:'2024-01-31'"},
        {Variant(Rtl::TDateTime(0.5)), adDBTime, "text:'12:00:00'"},
        {Variant(Rtl::Currency::FromScaled(125000)), adEmpty, "real:12.5"},
        {Variant(Rtl::Currency::FromScaled(120000)), adEmpty, "integer:12"},
        {Variant("12345678901234567890.12"), adDecimal, "text:'12345678901234567890.12'"},
        {Variant("42"), adInteger, "integer:42"},
        {Variant(true), adEmpty, "integer:1"},
        {Variant(u"\u00E9t\u00E9"), adEmpty, "text:'\xC3\xA9t\xC3\xA9'"},
        {Rtl::BytesToVarArray("\x01\x02", 2), adEmpty, "blob:X'0102'"},
        {Variant(), adEmpty, "null:NULL"},
        {Variant("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), adGUID, "text:'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
    };
    for (const auto& c : cases) {
        st->SetParameter(1, c.Value, c.Type);
        EXPECT_EQ(Rows(st->Execute()), c.Stored) << DescribeValue(c.Value);
    }
    // A value that does not fit its type is refused where it is given, naming both.
    const std::string msg = ErrorOf([&] { st->SetParameter(1, Variant("abc"), adInteger); });
    EXPECT_TRUE(Contains(msg, "'abc'") && Contains(msg, "parameter \":p\"")) << msg;
    EXPECT_TRUE(Contains(ErrorOf([&] { st->SetParameter(1, Variant(UINT64_MAX)); st->Execute(); }),
                         "beyond SQLite's 64-bit signed integers"));
}

TEST_F(SqliteStatementTest, ErrorsCarrySQLitesMessageCodeAndStatement) {
    try {
        auto st = S->CreateStatement();
        st->Prepare("SELEC 1");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "syntax error")) << e.Message();
        EXPECT_TRUE(Contains(e.Message(), "in statement: SELEC 1")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrErrorsInCommand);
        EXPECT_EQ(e.GetSQLState(), "42000");
        EXPECT_EQ(e.GetNativeError(), SQLITE_ERROR);
        EXPECT_EQ(e.GetSource(), "SQLite");
    }
    Exec(*S, "CREATE TABLE u(k TEXT PRIMARY KEY)");
    Exec(*S, "INSERT INTO u VALUES('a')");
    try {
        Exec(*S, "SELECT 1; INSERT INTO u VALUES('a')");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "UNIQUE constraint failed: u.k")) << e.Message();
        EXPECT_EQ(e.GetStatement(), "INSERT INTO u VALUES('a')");
        EXPECT_EQ(e.GetNativeError(), SQLITE_CONSTRAINT_PRIMARYKEY);
        EXPECT_EQ(e.GetNumber(), hrIntegrityViolation);
        EXPECT_EQ(e.GetSQLState(), "23000");
    }
    try {
        S->CreateStatement()->Prepare("SELECT * FROM nowhere");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "no such table: nowhere")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrNoTable);
    }
    EXPECT_TRUE(Contains(ErrorOf([&] { S->CreateStatement()->Prepare("   "); }), "command text is empty"));
    EXPECT_TRUE(Contains(ErrorOf([&] { S->CreateStatement()->Prepare(std::string("SELECT 1;\0DROP TABLE u", 23)); }),
                         "NUL character at position 10"));
    EXPECT_TRUE(Contains(ErrorOf([&] { S->CreateStatement()->PrepareProcedure("sp_who"); }),
                         "Stored procedures are not supported by this provider"));
}

TEST_F(SqliteStatementTest, ColumnsDescribeTheirBaseTablesForUpdates) {
    Exec(*S,
         "CREATE TABLE orders(id INTEGER PRIMARY KEY, code TEXT NOT NULL, qty INT, total INT AS (qty * 2));"
         "CREATE TABLE tags(name TEXT, note TEXT);"
         "CREATE TABLE pairs(a INT, b INT, c TEXT, PRIMARY KEY(a, b));"
         "CREATE VIEW ov AS SELECT id, code FROM orders;"
         "INSERT INTO orders(code, qty) VALUES('x', 1);");
    auto columnsOf = [&](const std::string& sql) {
        auto st = S->CreateStatement();
        st->Prepare(sql);
        return st->Execute().GetColumns();
    };
    const auto o = columnsOf("SELECT id, code, qty, total, qty + 1 AS q1 FROM orders");
    EXPECT_EQ(o[0].BaseTableName, "orders");
    EXPECT_EQ(o[0].BaseColumnName, "id");
    EXPECT_EQ(o[0].BaseCatalogName, "main");
    EXPECT_EQ(o[0].Type, adBigInt);
    EXPECT_TRUE(o[0].HasAttribute(adFldKeyColumn) && o[0].HasAttribute(adFldRowID) && o[0].AutoIncrement);
    EXPECT_TRUE(o[0].HasAttribute(adFldUpdatable));
    EXPECT_FALSE(o[1].HasAttribute(adFldIsNullable));  // NOT NULL
    EXPECT_TRUE(o[1].HasAttribute(adFldUpdatable) && o[1].HasAttribute(adFldMayBeNull));
    EXPECT_TRUE(o[2].HasAttribute(adFldIsNullable) && o[2].HasAttribute(adFldUpdatable));
    EXPECT_FALSE(o[2].HasAttribute(adFldKeyColumn));
    EXPECT_FALSE(o[3].HasAttribute(adFldUpdatable));  // generated
    EXPECT_EQ(o[4].BaseTableName, "");
    EXPECT_FALSE(o[4].HasAttribute(adFldUpdatable));
    EXPECT_TRUE(o[4].HasAttribute(adFldMayBeNull));

    const auto t = columnsOf("SELECT rowid, name FROM tags");
    EXPECT_EQ(t[0].Type, adBigInt);
    EXPECT_TRUE(t[0].HasAttribute(adFldRowID) && t[0].HasAttribute(adFldKeyColumn));
    EXPECT_FALSE(t[0].HasAttribute(adFldUpdatable));

    const auto p = columnsOf("SELECT c, a FROM pairs");
    EXPECT_FALSE(p[0].HasAttribute(adFldKeyColumn));
    EXPECT_TRUE(p[1].HasAttribute(adFldKeyColumn));

    const auto v = columnsOf("SELECT * FROM ov");
    EXPECT_EQ(v[0].BaseTableName, "orders");
    EXPECT_TRUE(v[0].HasAttribute(adFldKeyColumn));

    EXPECT_EQ(S->GetKeyColumns("", "orders"), std::vector<std::string>{"id"});
    EXPECT_EQ(S->GetKeyColumns("main", "pairs"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(S->GetKeyColumns("", "tags"), std::vector<std::string>{"rowid"});
    EXPECT_TRUE(Contains(ErrorOf([&] { S->GetKeyColumns("", "nope"); }), "Table \"nope\" does not exist"));
    // Table names become quoted identifiers, whatever they hold.
    const struct {
        const char* Name;
        const char* Sql;
    } tables[] = {
        {"order details", "SELECT * FROM \"order details\""},
        {"main.orders", "SELECT * FROM \"main\".\"orders\""},
        {"[main].\"a.b\"", "SELECT * FROM \"main\".\"a.b\""},
        {"\"t\"; DROP TABLE orders; --", "SELECT * FROM \"\"\"t\"\"; DROP TABLE orders; --\""},
        {"a.b.c", "SELECT * FROM \"a.b.c\""},
    };
    for (const auto& t : tables) EXPECT_EQ(S->TableCommandText(t.Name), t.Sql) << t.Name;

    // Through a read-only connection nothing is updatable.
    auto ro = OpenSqlite(Dir.File("statements.db"), "Mode=Read");
    auto st = ro->CreateStatement();
    st->Prepare("SELECT code FROM orders");
    EXPECT_FALSE(st->Execute().GetColumns()[0].HasAttribute(adFldUpdatable));
}

TEST_F(SqliteStatementTest, SchemaRowsetsWithRestrictions) {
    Exec(*S,
         "CREATE TABLE orders(id INTEGER PRIMARY KEY, code VARCHAR(8) NOT NULL DEFAULT 'new', price DECIMAL(9,2));"
         "CREATE INDEX ix_code ON orders(code DESC);"
         "CREATE TABLE pairs(a INT, b INT, PRIMARY KEY(a, b)) WITHOUT ROWID;"
         "CREATE VIEW ov AS SELECT id FROM orders;");
    auto rowsOf = [&](SchemaEnum schema, std::vector<Variant> restrictions, std::vector<std::string> columns) {
        auto r = S->OpenSchema(schema, restrictions);
        std::vector<int> idx;
        for (auto& name : columns)
            for (std::size_t i = 0; i < r->GetColumns().size(); ++i)
                if (r->GetColumns()[i].Name == name) idx.push_back(static_cast<int>(i));
        EXPECT_EQ(idx.size(), columns.size());
        std::string out;
        TRowBuffer row;
        while (r->Fetch(row)) {
            if (!out.empty()) out += ';';
            for (std::size_t k = 0; k < idx.size(); ++k) {
                const auto i = static_cast<std::size_t>(idx[k]);
                if (k) out += ',';
                out += row[i].Null ? "null" : Rtl::VarToStr(CellToVariant(r->GetColumns()[i], r->GetKinds()[i], row[i]));
            }
        }
        return out;
    };
    EXPECT_EQ(rowsOf(adSchemaTables, {Variant(), Variant(), Variant(), Variant("TABLE")}, {"TABLE_NAME", "TABLE_CATALOG"}),
              "orders,main;pairs,main");
    EXPECT_EQ(rowsOf(adSchemaTables, {Variant(), Variant(), Variant("OV")}, {"TABLE_NAME", "TABLE_TYPE"}), "ov,VIEW");
    EXPECT_EQ(rowsOf(adSchemaColumns, {Variant(), Variant(), Variant("orders")},
                     {"COLUMN_NAME", "ORDINAL_POSITION", "DATA_TYPE", "IS_NULLABLE", "COLUMN_DEFAULT",
                      "CHARACTER_MAXIMUM_LENGTH", "NUMERIC_PRECISION", "NUMERIC_SCALE"}),
              "id,1,20,False,null,null,19,null;code,2,202,False,'new',8,null,null;price,3,131,True,null,null,9,2");
    EXPECT_EQ(rowsOf(adSchemaIndexes, {Variant(), Variant(), Variant(), Variant(), Variant("orders")},
                     {"INDEX_NAME", "COLUMN_NAME", "UNIQUE", "COLLATION"}),
              "ix_code,code,False,2");
    EXPECT_EQ(rowsOf(adSchemaIndexes, {Variant(), Variant(), Variant(), Variant(), Variant("pairs")},
                     {"COLUMN_NAME", "PRIMARY_KEY", "CLUSTERED", "ORDINAL_POSITION"}),
              "a,True,True,1;b,True,True,2");
    EXPECT_EQ(rowsOf(adSchemaPrimaryKeys, {}, {"TABLE_NAME", "COLUMN_NAME", "ORDINAL"}), "orders,id,1;pairs,a,1;pairs,b,2");
    try {
        S->OpenSchema(adSchemaAsserts, {});
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.GetNumber(), AdoErrorHResult(adErrFeatureNotAvailable));
        EXPECT_TRUE(Contains(e.Message(), "not supported by the SQLite provider"));
    }
}

}  // namespace
