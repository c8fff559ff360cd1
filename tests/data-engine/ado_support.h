// Helpers for the tests of the ADO objects: objects are created as a program
// creates them, through the class registry (which loads the engine's server
// module), over SQLite files in a temporary folder and, for the suites that run
// over every provider (TAdoProviderTest), over a schema of their own on the
// PostgreSQL test server too.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "Platform/com/Com.h"
#include "Velora/com/Ado.h"
#include "tests/data-engine/EngineTestSupport.h"
#include "tests/data-engine/ProviderTestSupport.h"

namespace AdoTest {

using namespace Velora;
using Com::ComPtr;
using Rtl::String;
using Rtl::Variant;
using Rtl::WideString;

// Options combine a command type with execute options, as ADO's callers write them.
constexpr int operator|(CommandTypeEnum a, ExecuteOptionEnum b) { return static_cast<int>(a) | static_cast<int>(b); }

inline WideString W(std::string_view s) { return Rtl::Utf8ToWide(s); }
inline String N(const WideString& s) { return Rtl::WideToUtf8(s); }

inline String ConnectionStringFor(const std::string& file, const std::string& extra = {}) {
    return "Provider=SQLite;Data Source=" + DataEngine::QuoteConnectionValue(file) + ";" + extra;
}

inline ComPtr<_Connection> OpenConnection(const std::string& file, const std::string& extra = {}) {
    auto c = CoConnection::Create();
    c->Open(W(ConnectionStringFor(file, extra)));
    return c;
}

inline int Exec(const ComPtr<_Connection>& c, const std::string& sql) {
    Variant affected;
    c->Execute(W(sql), &affected, adCmdText | adExecuteNoRecords);
    return affected.ToInteger();
}

inline ComPtr<_Recordset> OpenRecordset(const ComPtr<_Connection>& c, const std::string& source,
                                        CursorLocationEnum location, CursorTypeEnum type, LockTypeEnum lock,
                                        int options = adCmdText) {
    auto rs = CoRecordset::Create();
    rs->SetCursorLocation(location);
    rs->Open(Variant(W(source)), Com::VarFromInterface(c), type, lock, options);
    return rs;
}

inline Variant FieldValue(const ComPtr<_Recordset>& rs, const std::string& name) {
    return rs->GetFields()->GetItem(Variant(name))->GetValue();
}

// Runs f and returns the description of the EOleException it raises; fails
// the test when it raises none or something else.
template <class F>
std::string OleError(F&& f) {
    try {
        f();
    } catch (const Com::EOleException& e) {
        return e.Description();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "expected EOleException, got: " << e.what();
        return {};
    }
    ADD_FAILURE() << "expected EOleException, nothing was raised";
    return {};
}

// The HRESULT of the EOleException f raises (0 when none).
template <class F>
Rtl::HRESULT OleCode(F&& f) {
    try {
        f();
    } catch (const Com::EOleSysError& e) {
        return e.ErrorCode();
    }
    return 0;
}

constexpr Rtl::HRESULT AdoCode(ErrorValueEnum e) { return static_cast<Rtl::HRESULT>(0x800A0000u | static_cast<unsigned>(e)); }

// A fresh SQLite file with a small table, written through SQLite itself.
class TAdoFixture : public ::testing::Test {
protected:
    void SetUp() override {
        FFile = FDir.File("test.db");
        auto s = EngineTest::OpenSqlite(FFile);
        EngineTest::Exec(*s,
                         "CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL, price NUMERIC(10,2), "
                         "qty INT DEFAULT 1, note TEXT, data BLOB);"
                         "INSERT INTO items (name, price, qty, note) VALUES ('apple', 1.25, 10, 'red'), "
                         "('pear', 2.50, 5, NULL), ('plum', 0.75, 20, 'sweet'), ('fig', 3.00, 2, NULL);");
    }
    std::string FFile;
    EngineTest::TTempDir FDir;
};

// The same small table on each provider, as a parameterised suite:
//
//   class MySuite : public TAdoProviderTest {};
//   TEST_P(MySuite, Something) { auto c = Connect(); ... }
//   VELORA_PROVIDER_SUITE(MySuite);
//
// The few things SQL says differently on the providers come from the fixture
// (AutoKey, BlobType, Bytes, ...); everything else is written once.
class TAdoProviderTest : public EngineTest::ProviderTest {
protected:
    void SetUp() override {
        EngineTest::ProviderTest::SetUp();
        if (IsSkipped()) return;
        auto s = Target().Open();
        EngineTest::Exec(*s, "CREATE TABLE items (id " + AutoKey() +
                                 ", name VARCHAR(20) NOT NULL, price NUMERIC(10,2), qty INT DEFAULT 1, note TEXT, data " +
                                 BlobType() + ")");
        EngineTest::Exec(*s,
                         "INSERT INTO items (name, price, qty, note) VALUES ('apple', 1.25, 10, 'red'), "
                         "('pear', 2.50, 5, NULL), ('plum', 0.75, 20, 'sweet'), ('fig', 3.00, 2, NULL)");
    }
    std::string ConnectionString(const std::string& extra = {}) const { return Target().ConnectionString(extra); }
    ComPtr<_Connection> Connect(const std::string& extra = {}) const {
        auto c = CoConnection::Create();
        c->Open(W(ConnectionString(extra)));
        return c;
    }
    // A file in the test's own folder.
    std::string File(const std::string& name) const { return Target().Dir().File(name); }

    // An integer primary key the database numbers itself.
    std::string AutoKey() const { return IsPostgres() ? "SERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY"; }
    std::string BlobType() const { return IsPostgres() ? "BYTEA" : "BLOB"; }
    // A binary literal from hexadecimal digits.
    std::string Bytes(const std::string& hex) const {
        return IsPostgres() ? "'\\x" + hex + "'::bytea" : "x'" + hex + "'";
    }
    // A statement that runs until it is stopped.
    std::string Endless() const {
        return IsPostgres() ? "SELECT count(*) FROM generate_series(1, 100000) a, generate_series(1, 100000) b, "
                              "generate_series(1, 100000) c"
                            : "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT COUNT(*) FROM n";
    }
    // A schema rowset restriction for the test's own schema (Empty on SQLite).
    Variant SchemaRestriction() const { return IsPostgres() ? Variant(W(Target().Schema())) : Variant(); }
};

}  // namespace AdoTest
