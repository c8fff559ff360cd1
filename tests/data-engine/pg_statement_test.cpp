// Statements over PostgreSQL: parameter markers, streaming results, base
// table metadata for updates, and stored procedures and functions.
#include <thread>

#include "PgTestSupport.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::Scalar;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::string Text(const TResultStream& r, const TRowBuffer& row, std::size_t i) {
    return row[i].Null ? "null" : Rtl::VarToStr(CellToVariant(r.GetColumns()[i], r.GetKinds()[i], row[i]));
}

std::string Rows(TResultStream& r) {
    std::string out;
    TRowBuffer row;
    while (r.Fetch(row)) {
        if (!out.empty()) out += ';';
        for (std::size_t i = 0; i < row.Count(); ++i) out += (i ? "," : "") + Text(r, row, i);
    }
    return out;
}

class PgStatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELORA_REQUIRE_PG();
        Schema = std::make_unique<EngineTest::TPgSchema>();
        S = Schema->Open();
    }
    std::string Run(const std::string& sql, const std::vector<Variant>& params = {}) {
        auto st = S->CreateStatement();
        st->Prepare(sql);
        for (std::size_t i = 0; i < params.size(); ++i) st->SetParameter(static_cast<int>(i) + 1, params[i]);
        return Rows(st->Execute());
    }
    std::unique_ptr<EngineTest::TPgSchema> Schema;
    std::unique_ptr<TSession> S;
};

TEST_F(PgStatementTest, MarkersInEveryStyleAndNeverInsideQuotes) {
    struct TCase {
        const char* Sql;
        std::vector<Variant> Params;
        const char* Rows;
    } cases[] = {
        {"SELECT ?::int + ?::int", {Variant(1), Variant(2)}, "3"},
        {"SELECT :a::int * 10 + :b::int + :a::int", {Variant(1), Variant(2)}, "13"},
        {"SELECT $2::int - $1::int", {Variant(1), Variant(5)}, "4"},
        // With $n the text is taken as written: '?' is jsonb's operator.
        {"SELECT '{\"k\": 1}'::jsonb ? $1", {Variant("k")}, "True"},
        {"SELECT '?' || ? || $q$ :x ? $q$ || \"?col\"::text FROM (SELECT ':y' AS \"?col\") t -- ?\n",
         {Variant("v")},
         "?v :x ? :y"},
        {"SELECT (ARRAY[1,2,3])[2:3]::text, E'it\\'s ?', ?::text", {Variant("z")}, "{2,3},it's ?,z"},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.Sql, c.Params), c.Rows) << c.Sql;
}

TEST_F(PgStatementTest, RoutineBodiesAreOneStatement) {
    auto st = S->CreateStatement();
    st->Prepare(
        "CREATE FUNCTION twice(x int) RETURNS int LANGUAGE sql BEGIN ATOMIC SELECT CASE WHEN x > 0 THEN x * 2 ELSE 0 "
        "END; END;\n"
        "CREATE FUNCTION plus(a int, b int) RETURNS int AS $$ SELECT a + b; $$ LANGUAGE sql;\n"
        "SELECT twice(21), plus(1, 2)");
    st->Execute();
    st->NextResult();
    EXPECT_EQ(Rows(*st->NextResult()), "42,3");
    EXPECT_EQ(st->NextResult(), nullptr);
}

TEST_F(PgStatementTest, RowsStreamAsTheServerSendsThem) {
    // Rows before the failing one arrive: nothing waits for the whole result.
    auto st = S->CreateStatement();
    st->Prepare("SELECT 10 / (5 - g) FROM generate_series(1, 9) g");
    auto& r = st->Execute();
    TRowBuffer row;
    std::string got;
    try {
        while (r.Fetch(row)) got += Text(r, row, 0) + " ";
        FAIL() << "division by zero was not reported";
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "division by zero")) << e.Message();
        EXPECT_EQ(e.GetSQLState(), "22012");
    }
    EXPECT_EQ(got, "2 3 5 10 ");
    // The session goes on.
    EXPECT_EQ(Scalar(*S, "SELECT 7").ToInteger(), 7);
}

TEST_F(PgStatementTest, OtherCommandsMeanwhileLeaveAStreamIntact) {
    Exec(*S, "CREATE TABLE big AS SELECT g AS id FROM generate_series(1, 2000) g");
    auto a = S->CreateStatement();
    a->Prepare("SELECT id FROM big ORDER BY id");
    auto& ra = a->Execute();
    TRowBuffer row;
    long long sum = 0;
    int n = 0;
    for (; n < 10 && ra.Fetch(row); ++n) sum += row[0].I;
    // Another statement, a transaction and a schema rowset on the same connection.
    EXPECT_EQ(Scalar(*S, "SELECT count(*) FROM big").ToInteger(), 2000);
    S->BeginTrans();
    Exec(*S, "INSERT INTO big VALUES (0)");
    S->RollbackTrans();
    S->OpenSchema(adSchemaTables, {});
    while (ra.Fetch(row)) {
        sum += row[0].I;
        ++n;
    }
    EXPECT_EQ(n, 2000);
    EXPECT_EQ(sum, 2000LL * 2001 / 2);
    // Closing a result before its end drops the rest and frees the connection.
    auto& again = a->Execute();
    ASSERT_TRUE(again.Fetch(row));
    a->Close();
    EXPECT_EQ(Scalar(*S, "SELECT 1").ToInteger(), 1);
}

TEST_F(PgStatementTest, CancelStopsAStreamBeingRead) {
    auto st = S->CreateStatement();
    st->Prepare("SELECT a FROM generate_series(1, 100000) a, generate_series(1, 100000) b");
    auto& r = st->Execute();
    TRowBuffer row;
    ASSERT_TRUE(r.Fetch(row));
    std::thread canceller([&] { S->Cancel(); });
    canceller.join();
    const std::string msg = ErrorOf([&] {
        while (r.Fetch(row)) {
        }
    });
    EXPECT_TRUE(Contains(msg, "Operation cancelled")) << msg;
    EXPECT_EQ(Scalar(*S, "SELECT 2").ToInteger(), 2);
}

TEST_F(PgStatementTest, ColumnsDescribeTheirBaseTablesForUpdates) {
    Exec(*S,
         "CREATE TABLE orders(id serial PRIMARY KEY, code text NOT NULL, qty int, total int GENERATED ALWAYS AS "
         "(qty * 2) STORED, ref bigint GENERATED BY DEFAULT AS IDENTITY);"
         "CREATE TABLE pairs(a int, b int, c text, PRIMARY KEY (a, b));"
         "CREATE TABLE loose(x int NOT NULL, y int, UNIQUE (x));"
         "CREATE TABLE bare(v text);"
         "CREATE VIEW ov AS SELECT id, code FROM orders;"
         "CREATE VIEW sums AS SELECT code, sum(qty) AS s FROM orders GROUP BY code;");
    auto columnsOf = [&](const std::string& sql) {
        auto st = S->CreateStatement();
        st->Prepare(sql);
        return st->Execute().GetColumns();
    };
    const auto o = columnsOf("SELECT id, code, qty, total, ref, qty + 1 AS q1 FROM orders");
    EXPECT_EQ(o[0].BaseTableName, "orders");
    EXPECT_EQ(o[0].BaseColumnName, "id");
    EXPECT_EQ(o[0].BaseSchemaName, Schema->Name());
    EXPECT_EQ(o[0].BaseCatalogName, EngineTest::PgEnv("VELORA_PG_DATABASE", "postgres"));
    EXPECT_TRUE(o[0].HasAttribute(adFldKeyColumn) && o[0].AutoIncrement && o[0].HasAttribute(adFldUpdatable));
    EXPECT_FALSE(o[1].HasAttribute(adFldIsNullable));
    EXPECT_TRUE(o[2].HasAttribute(adFldIsNullable) && o[2].HasAttribute(adFldUpdatable));
    EXPECT_FALSE(o[3].HasAttribute(adFldUpdatable));  // generated
    EXPECT_TRUE(o[4].AutoIncrement);                   // identity
    EXPECT_EQ(o[5].BaseTableName, "");
    EXPECT_FALSE(o[5].HasAttribute(adFldUpdatable));

    const auto v = columnsOf("SELECT * FROM ov");
    EXPECT_EQ(v[0].BaseTableName, "ov");
    EXPECT_TRUE(v[0].HasAttribute(adFldUpdatable));  // a simple view takes updates
    EXPECT_FALSE(columnsOf("SELECT * FROM sums")[1].HasAttribute(adFldUpdatable));

    EXPECT_EQ(S->GetKeyColumns("", "orders"), std::vector<std::string>{"id"});
    EXPECT_EQ(S->GetKeyColumns("", Schema->Name() + ".pairs"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(S->GetKeyColumns("", "loose"), std::vector<std::string>{"x"});  // unique over NOT NULL columns
    EXPECT_TRUE(S->GetKeyColumns("", "bare").empty());
    EXPECT_TRUE(Contains(ErrorOf([&] { S->GetKeyColumns("", "nope"); }), "Table \"nope\" does not exist"));
    EXPECT_TRUE(Contains(ErrorOf([&] { S->GetKeyColumns("otherdb", "orders"); }), "in database \"otherdb\""));
    EXPECT_EQ(S->TableCommandText("Order Details"), "SELECT * FROM \"Order Details\"");
    EXPECT_EQ(S->TableCommandText("sales.orders"), "SELECT * FROM \"sales\".\"orders\"");

    // A changed table is described anew when the statement runs again.
    auto st = S->CreateStatement();
    st->Prepare("SELECT * FROM bare");
    EXPECT_EQ(st->Execute().GetColumns().size(), 1u);
    Exec(*S, "ALTER TABLE bare ADD COLUMN w int NOT NULL DEFAULT 3; INSERT INTO bare VALUES ('x')");
    auto& r = st->Execute();
    ASSERT_EQ(r.GetColumns().size(), 2u);
    EXPECT_FALSE(r.GetColumns()[1].HasAttribute(adFldIsNullable));
    EXPECT_EQ(Rows(r), "x,3");
}

TEST_F(PgStatementTest, DigitsBeyondADecimalReachTheServerUncut) {
    Exec(*S, "CREATE TABLE wide(n numeric(40,5))");
    auto ins = S->CreateStatement();
    ins->Prepare("INSERT INTO wide VALUES (?)");
    ins->SetParameter(1, Variant("123456789012345678901234567890.12345"));
    ins->Execute();
    EXPECT_EQ(Run("SELECT n::text FROM wide"), "123456789012345678901234567890.12345");
    EXPECT_TRUE(Contains(ErrorOf([&] { ins->SetParameter(1, Variant("12,5")); }), "not a number"));
}

// ---- Stored procedures and functions ---------------------------------------------------------

class PgRoutineTest : public PgStatementTest {
protected:
    void SetUp() override {
        PgStatementTest::SetUp();
        if (IsSkipped()) return;
        Exec(*S,
             "CREATE FUNCTION add_tax(amount numeric, rate numeric DEFAULT 0.2) RETURNS numeric LANGUAGE sql "
             "AS 'SELECT amount * (1 + rate)';"
             "CREATE FUNCTION split_name(full_name text, OUT first text, OUT last text) LANGUAGE sql "
             "AS $$ SELECT split_part(full_name, ' ', 1), split_part(full_name, ' ', 2) $$;"
             "CREATE FUNCTION numbers(n int) RETURNS TABLE(i int, sq bigint) LANGUAGE sql "
             "AS 'SELECT g, g * g FROM generate_series(1, n) g';"
             "CREATE PROCEDURE bump(INOUT counter int, step int, OUT note text) LANGUAGE plpgsql "
             "AS $$ BEGIN counter := counter + step; note := 'bumped by ' || step; END $$;"
             "CREATE TABLE log(msg text);"
             "CREATE PROCEDURE write_log(m text) LANGUAGE sql AS 'INSERT INTO log VALUES (m)';"
             "CREATE FUNCTION pick(x int) RETURNS text LANGUAGE sql AS 'SELECT ''int''';"
             "CREATE FUNCTION pick(x text) RETURNS text LANGUAGE sql AS 'SELECT ''text''';");
    }
};

TEST_F(PgRoutineTest, AFunctionGivesItsReturnValue) {
    auto st = S->CreateStatement();
    st->PrepareProcedure("add_tax");
    const auto params = st->DescribeParameters();
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[0].Name, "RETURN_VALUE");
    EXPECT_EQ(params[0].Direction, adParamReturnValue);
    EXPECT_EQ(params[1].Name, "amount");
    EXPECT_EQ(params[1].Type, adNumeric);
    EXPECT_EQ(params[2].Direction, adParamInput);
    st->SetParameter("@amount", Variant(100));
    auto& r = st->Execute();  // the argument with a default is left off
    EXPECT_FALSE(r.HasRows());
    EXPECT_EQ(Rtl::VarToStr(st->GetParameterValue(1)), "120.0");
    st->SetParameter("rate", Variant("0.5"));
    st->Execute();
    EXPECT_EQ(Rtl::VarToStr(st->GetParameterValue(1)), "150.0");
}

TEST_F(PgRoutineTest, OutputArgumentsComeBackAsParameterValues) {
    auto st = S->CreateStatement();
    st->PrepareProcedure(Schema->Name() + ".split_name");
    auto params = st->DescribeParameters();
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[1].Direction, adParamOutput);
    st->SetParameter(1, Variant("Ada Lovelace"));
    st->Execute();
    EXPECT_EQ(Rtl::VarToStr(st->GetParameterValue(2)), "Ada");
    EXPECT_EQ(Rtl::VarToStr(st->GetParameterValue(3)), "Lovelace");

    auto proc = S->CreateStatement();
    proc->PrepareProcedure("bump");
    params = proc->DescribeParameters();
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[0].Direction, adParamInputOutput);
    EXPECT_EQ(params[1].Direction, adParamInput);
    EXPECT_EQ(params[2].Direction, adParamOutput);
    proc->SetParameter("counter", Variant(40));
    proc->SetParameter("step", Variant(2));
    proc->Execute();
    EXPECT_EQ(proc->GetParameterValue(1).ToInteger(), 42);
    EXPECT_EQ(Rtl::VarToStr(proc->GetParameterValue(3)), "bumped by 2");

    auto plain = S->CreateStatement();
    plain->PrepareProcedure("write_log");
    plain->SetParameter(1, Variant("it's done"));
    plain->Execute();
    EXPECT_EQ(Scalar(*S, "SELECT msg FROM log").ToString(), "it's done");
}

TEST_F(PgRoutineTest, ATableFunctionGivesRows) {
    auto st = S->CreateStatement();
    st->PrepareProcedure("numbers");
    ASSERT_EQ(st->DescribeParameters().size(), 1u);
    st->SetParameter(1, Variant(3));
    auto& r = st->Execute();
    ASSERT_EQ(r.GetColumns().size(), 2u);
    EXPECT_EQ(r.GetColumns()[1].Name, "sq");
    EXPECT_EQ(Rows(r), "1,1;2,4;3,9");
}

TEST_F(PgRoutineTest, NamesThatDoNotPickOneRoutineAreRefused) {
    auto st = S->CreateStatement();
    std::string msg = ErrorOf([&] { st->PrepareProcedure("pick"); });
    EXPECT_TRUE(Contains(msg, "has several forms") && Contains(msg, "pick(integer)") && Contains(msg, "pick(text)"))
        << msg;
    st->PrepareProcedure("pick(text)");
    st->SetParameter(2, Variant("x"));
    st->Execute();
    EXPECT_EQ(Rtl::VarToStr(st->GetParameterValue(1)), "text");
    EXPECT_TRUE(Contains(ErrorOf([&] { st->PrepareProcedure("no_such_proc"); }), "\"no_such_proc\" does not exist"));
    EXPECT_TRUE(Contains(ErrorOf([&] { st->PrepareProcedure("pick(nonsense_type)"); }), "cannot be found"));
    st->PrepareProcedure("add_tax");
    EXPECT_TRUE(Contains(ErrorOf([&] { st->Execute(); }), "No value given for parameter \"amount\""));
    EXPECT_TRUE(Contains(ErrorOf([&] { st->SetParameter("amount", Variant("lots")); }), "'lots'"));
}

}  // namespace
