// What every provider does the same way, run over each of them: native
// parameters, several results per text, prepared statements run again,
// nested transactions, cancellation, timeouts and closing.
#include <thread>

#include "ProviderTestSupport.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::Scalar;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Every row of a result as text cells joined by ',' and rows by ';'.
std::string Rows(TResultStream& r) {
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

std::string WithoutSemicolon(std::string s) {
    while (!s.empty() && (s.back() == ';' || s.back() == ' ')) s.pop_back();
    return s;
}

class ProviderStatements : public EngineTest::ProviderTest {};

TEST_P(ProviderStatements, ParametersAreBoundAsValuesNeverAsText) {
    auto s = Target().Open();
    Exec(*s, "CREATE TABLE people(name VARCHAR(100), age INT)");
    const std::string hostile = "Robert'); DROP TABLE people; --";
    auto ins = s->CreateStatement();
    ins->Prepare("INSERT INTO people VALUES(:name, :age)");
    ins->SetParameter(":name", Variant(hostile));
    ins->SetParameter("AGE", Variant(5));  // by name, without prefix, any case
    EXPECT_EQ(ins->Execute().GetRecordsAffected(), 1);

    auto sel = s->CreateStatement();
    sel->Prepare("SELECT name, age FROM people WHERE name = ?");
    sel->SetParameter(1, Variant(hostile));
    EXPECT_EQ(Rows(sel->Execute()), hostile + ",5");
    EXPECT_EQ(Scalar(*s, "SELECT count(*) FROM people").ToInteger(), 1);

    // Errors name what is wrong.
    EXPECT_TRUE(Contains(ErrorOf([&] { sel->SetParameter(2, Variant(1)); }), "Parameter 2 does not exist"));
    EXPECT_TRUE(Contains(ErrorOf([&] { ins->SetParameter(":nope", Variant(1)); }), "\":nope\" does not occur"));
    ins->ClearParameters();
    EXPECT_TRUE(Contains(ErrorOf([&] { ins->Execute(); }), "No value given for parameter \":name\""));
}

TEST_P(ProviderStatements, APreparedStatementRunsAgainWithNewValues) {
    auto s = Target().Open();
    Exec(*s, "CREATE TABLE n(v INT)");
    auto ins = s->CreateStatement();
    ins->Prepare("INSERT INTO n VALUES(?)");
    s->BeginTrans();
    for (int i = 1; i <= 100; ++i) {
        ins->SetParameter(1, Variant(i));
        ASSERT_EQ(ins->Execute().GetRecordsAffected(), 1);
    }
    s->CommitTrans();
    auto sel = s->CreateStatement();
    sel->Prepare("SELECT sum(v) FROM n WHERE v <= ?");
    sel->SetParameter(1, Variant(10));
    EXPECT_EQ(Rows(sel->Execute()), "55");
    sel->SetParameter(1, Variant(100));
    EXPECT_EQ(Rows(sel->Execute()), "5050");
    // Running again before the previous result was read to its end starts over.
    auto all = s->CreateStatement();
    all->Prepare("SELECT v FROM n ORDER BY v");
    TRowBuffer row;
    ASSERT_TRUE(all->Execute().Fetch(row));
    ASSERT_TRUE(all->Execute().Fetch(row));
    EXPECT_EQ(CellToVariant(all->Execute().GetColumns()[0], skInt32, row[0]).ToInteger(), 1);
}

TEST_P(ProviderStatements, ATextWithSeveralStatementsGivesOneResultEach) {
    auto s = Target().Open();
    auto st = s->CreateStatement();
    st->Prepare(
        "CREATE TABLE a(x INT);\n"
        "INSERT INTO a VALUES(1),(2); -- two rows\n"
        "SELECT x FROM a ORDER BY x;\n"
        "UPDATE a SET x = x + 10;\n"
        "SELECT count(*) AS n FROM a;  ");
    auto& first = st->Execute();
    EXPECT_FALSE(first.HasRows());
    EXPECT_EQ(first.GetRecordsAffected(), 0);
    auto* r = st->NextResult();  // compiled now that the table exists
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetRecordsAffected(), 2);
    r = st->NextResult();
    ASSERT_TRUE(r && r->HasRows());
    EXPECT_EQ(r->GetRecordsAffected(), -1);
    EXPECT_EQ(Rows(*r), "1;2");
    r = st->NextResult();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetRecordsAffected(), 2);
    r = st->NextResult();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetColumns()[0].Name, "n");
    EXPECT_EQ(Rows(*r), "2");
    EXPECT_EQ(st->NextResult(), nullptr);
    EXPECT_EQ(st->NextResult(), nullptr);

    // Running it again fails in its first statement, and says which one.
    try {
        st->Execute();
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "already exists")) << e.Message();
        EXPECT_EQ(WithoutSemicolon(e.GetStatement()), "CREATE TABLE a(x INT)");
        EXPECT_EQ(e.GetNumber(), hrErrorsInCommand);
    }

    // Positional parameters count across the statements of the text.
    auto two = s->CreateStatement();
    two->Prepare("INSERT INTO a VALUES(?); INSERT INTO a VALUES(?); SELECT sum(x) FROM a");
    ASSERT_EQ(two->DescribeParameters().size(), 2u);
    two->SetParameter(1, Variant(100));
    two->SetParameter(2, Variant(1000));
    two->Execute();
    two->NextResult();
    EXPECT_EQ(Rows(*two->NextResult()), "1123");
}

TEST_P(ProviderStatements, ErrorsNameTheStatementAndTheViolation) {
    auto s = Target().Open();
    try {
        s->CreateStatement()->Prepare("SELEC 1");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "syntax error")) << e.Message();
        EXPECT_TRUE(Contains(e.Message(), "in statement: SELEC 1")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrErrorsInCommand);
        EXPECT_EQ(e.GetSource(), GetParam());
    }
    Exec(*s, "CREATE TABLE u(k VARCHAR(10) PRIMARY KEY)");
    Exec(*s, "INSERT INTO u VALUES('a')");
    try {
        Exec(*s, "SELECT 1; INSERT INTO u VALUES('a')");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.GetStatement(), "INSERT INTO u VALUES('a')");
        EXPECT_EQ(e.GetNumber(), hrIntegrityViolation);
        EXPECT_EQ(e.GetSQLState().substr(0, 2), "23");
    }
    EXPECT_TRUE(Contains(ErrorOf([&] { s->CreateStatement()->Prepare("   "); }), "command text is empty"));
}

VELORA_PROVIDER_SUITE(ProviderStatements);

class ProviderTransactions : public EngineTest::ProviderTest {};

TEST_P(ProviderTransactions, NestedLevelsAreSavepoints) {
    auto s = Target().Open();
    auto other = Target().Open();
    Exec(*s, "CREATE TABLE t(x INT)");

    EXPECT_EQ(s->BeginTrans(), 1);
    Exec(*s, "INSERT INTO t VALUES(1)");
    EXPECT_EQ(s->BeginTrans(), 2);
    Exec(*s, "INSERT INTO t VALUES(2)");
    s->RollbackTrans();  // undoes 2 only
    EXPECT_EQ(s->GetTransactionLevel(), 1);
    EXPECT_EQ(s->BeginTrans(), 2);
    Exec(*s, "INSERT INTO t VALUES(3)");
    EXPECT_EQ(s->BeginTrans(), 3);
    Exec(*s, "INSERT INTO t VALUES(4)");
    s->CommitTrans();  // 4 joins level 2
    s->CommitTrans();  // 3 and 4 join level 1
    EXPECT_EQ(s->GetTransactionLevel(), 1);
    EXPECT_EQ(Scalar(*other, "SELECT count(*) FROM t").ToInteger(), 0);  // nothing visible outside yet
    s->CommitTrans();
    EXPECT_EQ(s->GetTransactionLevel(), 0);
    EXPECT_EQ(Scalar(*other, "SELECT count(*) * 100 + sum(x) FROM t").ToInteger(), 308);  // 1, 3 and 4

    s->BeginTrans();
    s->BeginTrans();
    Exec(*s, "DELETE FROM t");
    s->CommitTrans();
    s->RollbackTrans();  // the outer rollback undoes the committed inner level too
    EXPECT_EQ(Scalar(*s, "SELECT count(*) FROM t").ToInteger(), 3);
}

TEST_P(ProviderTransactions, RetainingStartsTheNextTransactionAndMisuseIsAnError) {
    auto s = Target().Open();
    Exec(*s, "CREATE TABLE t(x INT)");
    s->BeginTrans();
    Exec(*s, "INSERT INTO t VALUES(1)");
    s->CommitTrans(true);
    EXPECT_EQ(s->GetTransactionLevel(), 1);
    Exec(*s, "INSERT INTO t VALUES(2)");
    s->RollbackTrans(true);
    EXPECT_EQ(s->GetTransactionLevel(), 1);
    s->RollbackTrans();
    EXPECT_EQ(Scalar(*s, "SELECT count(*) FROM t").ToInteger(), 1);

    try {
        s->CommitTrans();
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.GetNumber(), AdoErrorHResult(adErrInvalidTransaction));
        EXPECT_TRUE(Contains(e.Message(), "no transaction is active"));
    }
    // A COMMIT in SQL text ends the transaction: the level follows.
    s->BeginTrans();
    Exec(*s, "COMMIT");
    EXPECT_EQ(s->GetTransactionLevel(), 0);
    // The level asked for comes back as the level the data source gives.
    EXPECT_EQ(s->SetIsolationLevel(adXactReadCommitted), IsPostgres() ? adXactReadCommitted : adXactSerializable);
}

VELORA_PROVIDER_SUITE(ProviderTransactions);

class ProviderCancel : public EngineTest::ProviderTest {
protected:
    // A statement that runs until it is stopped.
    std::string Endless() const {
        return IsPostgres() ? "SELECT count(*) FROM generate_series(1, 100000) a, generate_series(1, 100000) b, "
                              "generate_series(1, 100000) c"
                            : "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c";
    }
};

TEST_P(ProviderCancel, AnotherThreadStopsARunningStatement) {
    auto s = Target().Open();
    std::atomic<bool> done{false};
    std::string message;
    HRESULT number = 0;
    std::thread worker([&] {
        try {
            Scalar(*s, Endless());
        } catch (const EEngineError& e) {
            message = e.Message();
            number = e.GetNumber();
        }
        done = true;
    });
    while (!done) {
        s->Cancel();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_TRUE(Contains(message, "Operation cancelled")) << message;
    EXPECT_EQ(number, hrCanceled);
    // The session goes on working, and a cancel with nothing running changes nothing.
    s->Cancel();
    EXPECT_EQ(Scalar(*s, "SELECT 40 + 2").ToInteger(), 42);
}

TEST_P(ProviderCancel, CommandTimeoutStopsAStatement) {
    auto s = Target().Open();
    s->SetCommandTimeout(1);
    try {
        Scalar(*s, Endless());
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "Query timeout expired")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrTimeout);
        EXPECT_EQ(e.GetStatement(), Endless());
    }
    EXPECT_EQ(Scalar(*s, "SELECT 1").ToInteger(), 1);
}

TEST_P(ProviderCancel, ClosingInvalidatesStatementsClearly) {
    auto s = Target().Open();
    auto st = s->CreateStatement();
    st->Prepare("SELECT 1");
    s->Close();
    EXPECT_FALSE(s->GetConnected());
    EXPECT_TRUE(Contains(ErrorOf([&] { st->Execute(); }), "The connection is closed"));
    EXPECT_TRUE(Contains(ErrorOf([&] { s->CreateStatement(); }), "The connection is closed"));
    st.reset();  // a statement may be destroyed after its session closed
}

VELORA_PROVIDER_SUITE(ProviderCancel);

}  // namespace
