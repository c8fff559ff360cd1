// Opening PostgreSQL sessions (connection strings, cancelling and timing out
// a connect), transactions the server ends on its own, a server that goes
// away, several threads on one connection, and properties.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "PgTestSupport.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using EngineTest::PgConnectionString;
using EngineTest::PgEnv;
using EngineTest::Scalar;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

Variant PropertyOf(const TSession& s, const std::string& name) {
    for (auto& p : s.GetProperties())
        if (p.Name == name) return p.Value;
    ADD_FAILURE() << "no property " << name;
    return Variant();
}

// A TCP port on 127.0.0.1 that accepts connections and never answers:
// connecting to it waits until cancelled or timed out.
class TSilentServer {
public:
    TSilentServer() {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(FSocket, 8);
        socklen_t len = sizeof addr;
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
        FPort = ntohs(addr.sin_port);
    }
    ~TSilentServer() { close(FSocket); }
    int Port() const { return FPort; }

private:
    int FSocket = -1;
    int FPort = 0;
};

// A port nothing listens on.
int ClosedPort() {
    TSilentServer s;
    return s.Port();  // closed when s goes
}

struct TOpenCase {
    const char* Name;
    std::string ConnectionString;
    std::string ErrorPart;  // empty: opens
};

class PgOpen : public ::testing::TestWithParam<TOpenCase> {};

TEST_P(PgOpen, OpensOrNamesWhatFailed) {
    VELORA_REQUIRE_PG();
    const auto& c = GetParam();
    std::unique_ptr<TSession> s;
    const std::string msg = ErrorOf([&] { s = OpenSession(c.ConnectionString); });
    if (c.ErrorPart.empty()) {
        EXPECT_EQ(msg, "");
        ASSERT_TRUE(s && s->GetConnected());
        EXPECT_EQ(Scalar(*s, "SELECT 1").ToInteger(), 1);
    } else {
        EXPECT_TRUE(Contains(msg, c.ErrorPart)) << msg;
    }
}

std::vector<TOpenCase> OpenCases() {
    const std::string host = PgEnv("VELORA_PG_HOST", "127.0.0.1"), port = PgEnv("VELORA_PG_PORT", "5432"),
                      user = PgEnv("VELORA_PG_USER", "postgres"), db = PgEnv("VELORA_PG_DATABASE", "postgres");
    const std::string closed = std::to_string(ClosedPort());
    return {
        {"DataSourceHostAndPort", PgConnectionString(), ""},
        {"LibpqKeywordsPassThrough",
         "Provider=PostgreSQL;host=" + host + ";port=" + port + ";dbname=" + db + ";user=" + user, ""},
        {"ExtendedPropertiesIsAConninfo",
         "Provider=PostgreSQL;Extended Properties='host=" + host + " port=" + port + " dbname=" + db + " user=" + user +
             "'",
         ""},
        {"SeveralHostsTheFirstDown",
         "Provider=PostgreSQL;Data Source=" + host + ":" + closed + "," + host + ":" + port + ";Initial Catalog=" + db +
             ";User ID=" + user,
         ""},
        {"PortOutOfRange", PgConnectionString({}, "Data Source=" + host + ":99999"), "'99999' is not a port number"},
        {"NothingListens", PgConnectionString({}, "Data Source=" + host + ":" + closed),
         "Cannot connect to PostgreSQL at " + host + ":" + closed},
        {"UnknownDatabase", PgConnectionString("no_such_db_here"), "\"no_such_db_here\" does not exist"},
        {"BadExtendedProperties", PgConnectionString({}, "Extended Properties='sslmode'"),
         "is not a libpq connection text"},
        {"ConnectTimeoutMustBeANumber", PgConnectionString({}, "Connect Timeout=soon"), "Connect Timeout 'soon'"},
        {"DenyingOthersIsRefused", PgConnectionString({}, "Mode=Share Exclusive"), "use Share Deny None"},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, PgOpen, ::testing::ValuesIn(OpenCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PgConnect, ConnectTimeoutAndCancelStopAConnectThatHangs) {
    TSilentServer silent;
    const std::string cs = "Provider=PostgreSQL;Data Source=127.0.0.1:" + std::to_string(silent.Port()) +
                           ";Initial Catalog=x;User ID=x;";
    try {
        OpenSession(cs + "Connect Timeout=1");
        FAIL() << "the connect did not time out";
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "Connection timeout expired after 1 seconds")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrTimeout);
    }

    auto session = FindProvider("PostgreSQL")->CreateSession();
    std::atomic<bool> done{false};
    std::string message;
    std::thread opener([&] {
        message = ErrorOf([&] { session->Open(TConnectionString::Parse(cs + "Connect Timeout=60"), "x", ""); });
        done = true;
    });
    while (!done) {
        session->Cancel();
        std::this_thread::yield();
    }
    opener.join();
    EXPECT_TRUE(Contains(message, "connecting was cancelled")) << message;
    EXPECT_FALSE(session->GetConnected());
}

class PgSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELORA_REQUIRE_PG();
        Schema = std::make_unique<EngineTest::TPgSchema>();
        S = Schema->Open();
        Exec(*S, "CREATE TABLE t(x int PRIMARY KEY)");
    }
    std::unique_ptr<EngineTest::TPgSchema> Schema;
    std::unique_ptr<TSession> S;
};

TEST_F(PgSessionTest, ATransactionWithAFailedStatementIsNotReportedCommitted) {
    S->BeginTrans();
    Exec(*S, "INSERT INTO t VALUES (1)");
    EXPECT_FALSE(ErrorOf([&] { Exec(*S, "INSERT INTO t VALUES (1)"); }).empty());
    // The server turns this COMMIT into a rollback; that is an error, not a success.
    const std::string msg = ErrorOf([&] { S->CommitTrans(); });
    EXPECT_TRUE(Contains(msg, "rolled back, not committed")) << msg;
    EXPECT_EQ(S->GetTransactionLevel(), 0);
    EXPECT_EQ(Scalar(*S, "SELECT count(*) FROM t").ToInteger(), 0);
}

TEST_F(PgSessionTest, RollingBackANestedLevelRecoversFromAFailedStatement) {
    S->BeginTrans();
    Exec(*S, "INSERT INTO t VALUES (1)");
    S->BeginTrans();
    EXPECT_TRUE(Contains(ErrorOf([&] { Exec(*S, "INSERT INTO t VALUES (1)"); }), "duplicate key"));
    S->RollbackTrans();
    Exec(*S, "INSERT INTO t VALUES (2)");
    S->CommitTrans();
    EXPECT_EQ(Scalar(*S, "SELECT sum(x) FROM t").ToInteger(), 3);
}

TEST_F(PgSessionTest, IsolationLevelsAreTheServersOwn) {
    EXPECT_EQ(S->SetIsolationLevel(adXactReadUncommitted), adXactReadCommitted);
    EXPECT_EQ(S->SetIsolationLevel(adXactSerializable), adXactSerializable);
    S->BeginTrans();
    EXPECT_EQ(Scalar(*S, "SELECT current_setting('transaction_isolation')").ToString(), "serializable");
    S->RollbackTrans();
    S->SetIsolationLevel(adXactRepeatableRead);
    S->BeginTrans();
    EXPECT_EQ(Scalar(*S, "SELECT current_setting('transaction_isolation')").ToString(), "repeatable read");
    S->CommitTrans();
}

TEST_F(PgSessionTest, AReadOnlySessionRefusesWrites) {
    auto ro = Schema->Open("Mode=Read");
    EXPECT_TRUE(PropertyOf(*ro, "Read-Only Data Source").ToBoolean());
    try {
        Exec(*ro, "INSERT INTO t VALUES (5)");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "read-only transaction")) << e.Message();
        EXPECT_EQ(e.GetNumber(), hrPermissionDenied);
    }
    auto st = ro->CreateStatement();
    st->Prepare("SELECT x FROM t");
    EXPECT_FALSE(st->Execute().GetColumns()[0].HasAttribute(adFldUpdatable));
}

TEST_F(PgSessionTest, AServerThatGoesAwayMidTransactionIsReported) {
    const int pid = Scalar(*S, "SELECT pg_backend_pid()").ToInteger();
    S->BeginTrans();
    Exec(*S, "INSERT INTO t VALUES (9)");
    Exec(Schema->Admin(), "SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
    const std::string msg = ErrorOf([&] { S->CommitTrans(); });
    EXPECT_FALSE(msg.empty());
    EXPECT_FALSE(S->GetConnected());
    EXPECT_TRUE(Contains(ErrorOf([&] { S->CreateStatement(); }), "connection to the server was lost"));
    EXPECT_EQ(Scalar(Schema->Admin(), "SELECT count(*) FROM " + Schema->Name() + ".t").ToInteger(), 0);
    S->Close();  // closing a lost connection is quiet
}

TEST_F(PgSessionTest, ThreadsShareOneConnectionOneCallAtATime) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&, k] {
            for (int i = 0; i < 50; ++i) {
                try {
                    auto st = S->CreateStatement();
                    st->Prepare("SELECT g * ? FROM generate_series(1, 20) g");
                    st->SetParameter(1, Variant(k));
                    auto& r = st->Execute();
                    TRowBuffer row;
                    int sum = 0;
                    while (r.Fetch(row)) sum += static_cast<int>(row[0].I);
                    if (sum != 210 * k) ++wrong;
                } catch (const EEngineError&) {
                    ++wrong;
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(PgSessionTest, PropertiesDescribeTheServer) {
    auto s = Schema->Open("Cache Flavour=mint");
    EXPECT_EQ(PropertyOf(*s, "DBMS Name").ToString(), "PostgreSQL");
    EXPECT_EQ(PropertyOf(*s, "DBMS Version").ToString().substr(0, 2),
              Scalar(*s, "SHOW server_version").ToString().substr(0, 2));
    EXPECT_EQ(PropertyOf(*s, "Current Catalog").ToString(), PgEnv("VELORA_PG_DATABASE", "postgres"));
    EXPECT_EQ(PropertyOf(*s, "Cache Flavour").ToString(), "mint");  // unknown keys stay visible
    EXPECT_TRUE(Contains(ErrorOf([&] { s->SetProperty("DBMS Name", Variant("x")); }), "cannot be changed"));
    EXPECT_TRUE(Contains(ErrorOf([&] { s->SetProperty("Warp Drive", Variant(1)); }), "not supported"));
    // The session keeps the settings the conversions rely on.
    EXPECT_EQ(Scalar(*s, "SHOW TimeZone").ToString(), "UTC");
    EXPECT_EQ(Scalar(*s, "SHOW DateStyle").ToString(), "ISO, YMD");
}

}  // namespace
