// Helpers for the tests of the connection component and the shared ADO
// functions: SQLite files in a temporary folder (checked with sqlite3 behind
// the components' backs), a TADODatabase on such a file, a dataset stand-in
// that joins the database's dataset list the way the real datasets do, and an
// event log.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/com/Com.h"
#include "Velora/Adods/Adods.h"
#include "tests/db/MemDataSet.h"

namespace SpineTest {

using namespace Velora;
using Com::ComPtr;
using Rtl::String;
using Rtl::Variant;
using Rtl::WideString;

// Execute options of statements without rows: adCmdText + adExecuteNoRecords.
constexpr int ExecNoRecords = int{adCmdText} | int{adExecuteNoRecords};

inline WideString W(std::string_view s) { return Rtl::Utf8ToWide(s); }
inline String N(const WideString& s) { return Rtl::WideToUtf8(s); }

// A fresh folder under the system's temporary directory, removed afterwards.
class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "velora-spine-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

// Runs SQL on a file through sqlite3 itself (creating the file).
inline void SqliteExec(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

// The first column of the first row of a query, read through sqlite3 itself.
inline long long SqliteInt(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open " << file;
        return -1;
    }
    sqlite3_stmt* st = nullptr;
    long long r = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        r = sqlite3_column_int64(st, 0);
    else
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return r;
}

// Runs f and answers the message of the exception of type E it raises; fails
// the test when it raises nothing or something else.
template <class E, class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another exception: " << e.what();
        return {};
    }
    ADD_FAILURE() << "nothing was raised";
    return {};
}

// The result code of the COM error f raises (0 when it raises none).
template <class F>
Rtl::HRESULT CodeOf(F&& f) {
    try {
        f();
    } catch (const Com::EOleSysError& e) {
        return e.ErrorCode();
    }
    return 0;
}

// A dataset as the real ones meet their database: opening opens the database
// when needed and joins its dataset list, closing leaves it. It can run the
// datasets' error rule over a recordset the test gives it.
class TStandInDataSet : public DbTest::TMemDataSet {
public:
    TStandInDataSet(Vcl::TComponent* AOwner, std::vector<String>* Log = nullptr)
        : TMemDataSet(AOwner, MakeTable()), FLog(Log) {}
    ~TStandInDataSet() override {
        // Destroyed without `delete`: close while this class is still whole.
        if (GetActive()) Close();
        if (FDatabase) FDatabase->RemoveDataSet(this);
    }

    TADODatabase* GetDatabase() const noexcept { return FDatabase; }
    void SetDatabase(TADODatabase* Value) {
        FDatabase = Value;
        if (Value) Value->FreeNotification(this);
    }

    ComPtr<Recordset15> Recordset;
    Db::TDataSetErrorEvent OnADOError;
    [[noreturn]] void CheckADOError(const String& Msg) {
        RaiseADOError(this, Recordset.Get(), Msg, OnADOError);
    }

protected:
    void InternalOpen() override {
        if (!FDatabase) Db::DatabaseError("no database", this);
        if (!FDatabase->GetConnected()) FDatabase->Open();
        TMemDataSet::InternalOpen();
        FDatabase->AddDataSet(this);
        if (FLog) FLog->push_back("open " + GetName());
    }
    void InternalClose() override {
        if (FLog) FLog->push_back("close " + GetName());
        if (FDatabase) FDatabase->RemoveDataSet(this);
        Recordset = nullptr;
        TMemDataSet::InternalClose();
    }
    void Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) override {
        TMemDataSet::Notification(AComponent, Operation);
        if (Operation == Vcl::opRemove && AComponent == FDatabase) FDatabase = nullptr;
    }

private:
    static std::shared_ptr<DbTest::TMemTable> MakeTable() {
        auto table = std::make_shared<DbTest::TMemTable>();
        table->AddColumn("id", Db::ftInteger);
        return table;
    }
    TADODatabase* FDatabase = nullptr;
    std::vector<String>* FLog;
};

// A database on a fresh SQLite file holding t(id integer primary key, name text).
class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        File = Dir.File("test.db");
        SqliteExec(File, "create table t(id integer primary key, name text)");
        Db.reset(new TADODatabase(nullptr));
        Db->SetDatabaseProvider("SQLite");
        Db->SetDatabaseConnect("Data Source=" + File);
    }
    void TearDown() override { Db.reset(); }

    long long Rows() { return SqliteInt(File, "select count(*) from t"); }

    // Assigns handlers to all nine ADO events, each writing its name to Log.
    void LogAllEvents() {
        Db->SetADOInfoMessage([this](TADODatabase*, Error*, EventStatusEnum&) { Log.push_back("InfoMessage"); });
        Db->SetADOBeginTransComplete([this](TADODatabase*, int level, Error*, EventStatusEnum&) {
            Log.push_back("BeginTransComplete " + std::to_string(level));
        });
        Db->SetADOCommitTransComplete(
            [this](TADODatabase*, Error*, EventStatusEnum&) { Log.push_back("CommitTransComplete"); });
        Db->SetADORollbackTransComplete(
            [this](TADODatabase*, Error*, EventStatusEnum&) { Log.push_back("RollbackTransComplete"); });
        Db->SetADOWillExecute([this](TADODatabase*, WideString& source, CursorTypeEnum&, LockTypeEnum&, int& options,
                                     EventStatusEnum&, _Command*, _Recordset*) {
            Log.push_back("WillExecute " + N(source) + " " + std::to_string(options));
        });
        Db->SetADOExecuteComplete([this](TADODatabase*, int affected, Error* error, EventStatusEnum&, _Command*,
                                         _Recordset*) {
            Log.push_back("ExecuteComplete " + std::to_string(affected) + (error ? " error" : ""));
        });
        Db->SetADOWillConnect([this](TADODatabase*, WideString&, WideString&, WideString&, int&, EventStatusEnum&) {
            Log.push_back("WillConnect");
        });
        Db->SetADOConnectComplete([this](TADODatabase*, Error* error, EventStatusEnum&) {
            Log.push_back(error ? "ConnectComplete error" : "ConnectComplete");
        });
        Db->SetADODisconnect([this](TADODatabase*, EventStatusEnum&) { Log.push_back("Disconnect"); });
    }

    TTempDir Dir;
    std::string File;
    std::unique_ptr<TADODatabase> Db;
    std::vector<String> Log;
};

}  // namespace SpineTest
