// Opening SQLite data sources, locks held by other connections and
// properties, on real database files. Transactions, cancellation and
// timeouts are in the suite every provider runs (provider_suite_test.cpp).
#include <unistd.h>

#include <fstream>

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

Variant PropertyOf(const TSession& s, const std::string& name) {
    for (auto& p : s.GetProperties())
        if (p.Name == name) return p.Value;
    ADD_FAILURE() << "no property " << name;
    return Variant();
}

struct TOpenCase {
    const char* Name;
    const char* Extra;      // appended to "Provider=SQLite;Data Source=<file>;"
    bool FileExists;        // create the database file first
    const char* ErrorPart;  // nullptr: opens
};

class SqliteOpen : public ::testing::TestWithParam<TOpenCase> {};

TEST_P(SqliteOpen, OpensOrNamesWhatFailed) {
    const auto& c = GetParam();
    TTempDir dir;
    const std::string file = dir.File("open.db");
    if (c.FileExists) Exec(*OpenSqlite(file), "CREATE TABLE t(x)");
    std::unique_ptr<TSession> s;
    const std::string msg = ErrorOf([&] { s = OpenSqlite(file, c.Extra); });
    if (!c.ErrorPart) {
        EXPECT_EQ(msg, "");
        ASSERT_TRUE(s && s->GetConnected());
        EXPECT_TRUE(std::filesystem::exists(file));
    } else {
        EXPECT_TRUE(Contains(msg, c.ErrorPart)) << msg;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SqliteOpen,
    ::testing::Values(
        TOpenCase{"CreatesWhenNoModeGiven", "", false, nullptr},
        TOpenCase{"ReadOnlyNeedsTheFile", "Mode=Read", false, "open.db\" (read-only): unable to open database file"},
        TOpenCase{"ReadWriteNeedsTheFile", "Mode=ReadWrite", false, "(read-write): unable to open"},
        TOpenCase{"ReadOnlyOpensAnExistingFile", "Mode=Read", true, nullptr},
        TOpenCase{"ModeNamesCombine", "Mode=Read|Share Deny None", true, nullptr},
        TOpenCase{"AdoModeNumbers", "Mode=19", true, nullptr},
        TOpenCase{"ShareExclusive", "Mode=ReadWrite|Share Exclusive", true, nullptr},
        TOpenCase{"UnknownModeName", "Mode=Read|Sideways", true, "\"Sideways\" is unknown"},
        TOpenCase{"DenyWriteAloneIsRefused", "Mode=Share Deny Write", true, "use Share Exclusive or Share Deny None"},
        TOpenCase{"BusyTimeoutMustBeANumber", "Busy Timeout=soon", true, "Busy Timeout 'soon'"},
        TOpenCase{"PragmaNameMustBeAName", "Extended Properties='drop table t=1'", true, "'drop table t=1'"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SqliteOpen, MissingDataSourceAndUnknownProvider) {
    EXPECT_TRUE(Contains(ErrorOf([] { OpenSession("Provider=SQLite;Mode=Read"); }), "names no Data Source"));
    try {
        OpenSession("Provider=Nope;Data Source=x");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "\"Nope\"")) << e.Message();
        EXPECT_EQ(e.GetNumber(), AdoErrorHResult(adErrProviderNotFound));
    }
    // A version suffix and any case name the same provider.
    TTempDir dir;
    EXPECT_NO_THROW(OpenSession("Provider=sqlite.1;Data Source=" + dir.File("v.db")));
}

TEST(SqliteOpen, AFileThatIsNotADatabaseIsNamedAtOpen) {
    TTempDir dir;
    const std::string file = dir.File("notes.txt");
    std::ofstream(file) << "these are not the pages you are looking for, not even close to a database header";
    const std::string msg = ErrorOf([&] { OpenSqlite(file); });
    EXPECT_TRUE(Contains(msg, "notes.txt")) << msg;
    EXPECT_TRUE(Contains(msg, "file is not a database")) << msg;
}

TEST(SqliteOpen, WritingThroughAReadOnlyConnectionFailsClearly) {
    TTempDir dir;
    const std::string file = dir.File("ro.db");
    Exec(*OpenSqlite(file), "CREATE TABLE t(x); INSERT INTO t VALUES(1)");
    auto check = [](TSession& s) {
        try {
            Exec(s, "INSERT INTO t VALUES(2)");
            FAIL() << "the write went through";
        } catch (const EEngineError& e) {
            EXPECT_TRUE(Contains(e.Message(), "readonly database")) << e.Message();
            EXPECT_TRUE(Contains(e.Message(), "INSERT INTO t VALUES(2)")) << e.Message();
            EXPECT_EQ(e.GetNumber(), hrPermissionDenied);
        }
        EXPECT_EQ(Scalar(s, "SELECT count(*) FROM t").ToInteger(), 1);
    };
    auto ro = OpenSqlite(file, "Mode=Read");
    check(*ro);
    EXPECT_TRUE(PropertyOf(*ro, "Read-Only Data Source").ToBoolean());
    auto uri = OpenSession("Provider=SQLite;Data Source='file:" + file + "?mode=ro'");
    check(*uri);
    if (geteuid() != 0) {  // the superuser writes to read-only files regardless
        std::filesystem::permissions(file, std::filesystem::perms::owner_read);
        auto s = OpenSqlite(file);
        check(*s);
    }
}

TEST(SqliteOpen, MemoryDatabasesAndPragmasFromExtendedProperties) {
    auto mem = OpenSession("Provider=SQLite;Data Source=:memory:");
    Exec(*mem, "CREATE TABLE t(x)");
    EXPECT_EQ(Scalar(*mem, "SELECT count(*) FROM t").ToInteger(), 0);

    TTempDir dir;
    const std::string file = dir.File("p.db");
    auto s = OpenSqlite(file, "Extended Properties=\"user_version=7;journal_mode=WAL;foreign_keys=ON\"");
    EXPECT_EQ(Scalar(*s, "PRAGMA user_version").ToInteger(), 7);
    EXPECT_EQ(Scalar(*s, "PRAGMA journal_mode").ToString(), "wal");
    EXPECT_EQ(Scalar(*s, "PRAGMA foreign_keys").ToInteger(), 1);
    Exec(*s, "CREATE TABLE keep(x)");
    s.reset();
    // A value that tries to end the pragma and run more SQL stays one quoted value.
    auto t = OpenSqlite(file, "Extended Properties=\"journal_mode='delete; DROP TABLE keep; --'\"");
    EXPECT_EQ(Scalar(*t, "SELECT count(*) FROM sqlite_schema WHERE name = 'keep'").ToInteger(), 1);
}

TEST(SqliteTransactions, ALockHeldElsewhereIsReportedAfterTheBusyTimeout) {
    TTempDir dir;
    const std::string file = dir.File("busy.db");
    auto a = OpenSqlite(file);
    auto b = OpenSqlite(file, "Busy Timeout=0");
    Exec(*a, "CREATE TABLE t(x)");
    a->BeginTrans();
    Exec(*a, "INSERT INTO t VALUES(1)");
    try {
        Exec(*b, "INSERT INTO t VALUES(2)");
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_TRUE(Contains(e.Message(), "database is locked")) << e.Message();
        EXPECT_EQ(e.GetNativeError() & 0xFF, SQLITE_BUSY);
    }
    a->CommitTrans();
    EXPECT_EQ(Exec(*b, "INSERT INTO t VALUES(2)"), 1);
}

TEST(SqliteProperties, ListedAndSettable) {
    TTempDir dir;
    auto s = OpenSqlite(dir.File("props.db"), "Cache Flavour=mint");
    auto find = [&](const std::string& name) { return PropertyOf(*s, name); };
    EXPECT_EQ(find("DBMS Name").ToString(), "SQLite");
    EXPECT_EQ(find("DBMS Version").ToString(), sqlite3_libversion());
    EXPECT_FALSE(find("Read-Only Data Source").ToBoolean());
    EXPECT_EQ(find("Cache Flavour").ToString(), "mint");  // unknown keys stay visible
    s->SetProperty("busy timeout", Variant(250));
    EXPECT_EQ(find("Busy Timeout").ToInteger(), 250);
    EXPECT_TRUE(Contains(ErrorOf([&] { s->SetProperty("DBMS Name", Variant("x")); }), "cannot be changed"));
    EXPECT_TRUE(Contains(ErrorOf([&] { s->SetProperty("Warp Drive", Variant(1)); }), "not supported"));
}

}  // namespace
