// The connection component at work: a TADODatabase on a SQLite file,
// statements in nested transactions, and ADO's connection events printed as
// they arrive.
#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "Platform/com/Com.h"
#include "Velora/Adods/Adods.h"

using namespace Rtl;
using namespace Velora;

namespace {

void Say(const String& s) { std::printf("%s\n", s.c_str()); }
void Event(const String& s) { Say("           . " + s); }

String Describe(Error* error) { return error ? " failed: " + WideToUtf8(error->GetDescription()) : String(); }

// Handlers for the nine connection events (and OnLogin), each printing one line.
void ShowEvents(TADODatabase& db) {
    db.SetOnLogin([](TADODatabase* d) { Event("OnLogin (" + d->GetName() + ")"); });
    db.SetADOWillConnect([](TADODatabase*, WideString& connectionString, WideString&, WideString&, int&,
                            EventStatusEnum&) { Event("WillConnect " + WideToUtf8(connectionString)); });
    db.SetADOConnectComplete([](TADODatabase*, Error* e, EventStatusEnum&) { Event("ConnectComplete" + Describe(e)); });
    db.SetADOBeginTransComplete([](TADODatabase*, int level, Error* e, EventStatusEnum&) {
        Event("BeginTransComplete, level " + std::to_string(level) + Describe(e));
    });
    db.SetADOCommitTransComplete([](TADODatabase*, Error* e, EventStatusEnum&) { Event("CommitTransComplete" + Describe(e)); });
    db.SetADORollbackTransComplete(
        [](TADODatabase*, Error* e, EventStatusEnum&) { Event("RollbackTransComplete" + Describe(e)); });
    db.SetADOWillExecute([](TADODatabase*, WideString& source, CursorTypeEnum&, LockTypeEnum&, int&, EventStatusEnum&,
                            _Command*, _Recordset*) { Event("WillExecute " + WideToUtf8(source)); });
    db.SetADOExecuteComplete([](TADODatabase*, int affected, Error* e, EventStatusEnum&, _Command*, _Recordset*) {
        Event("ExecuteComplete, " + std::to_string(affected) + " records affected" + Describe(e));
    });
    db.SetADOInfoMessage([](TADODatabase*, Error* e, EventStatusEnum&) {
        Event("InfoMessage " + (e ? WideToUtf8(e->GetDescription()) : String()));
    });
    db.SetADODisconnect([](TADODatabase*, EventStatusEnum&) { Event("Disconnect"); });
}

long Count(TADODatabase& db, const String& sql) {
    const ComPtr<_Recordset> rs = db.GetHandle()->Execute(Utf8ToWide(sql), nullptr, adCmdText);
    return static_cast<long>(rs->GetFields()->GetItem(Variant(0))->GetValue().ToInt64());
}

}  // namespace

void DatabaseTour() {
    Say("");
    Say("Velora connection component (TADODatabase)");
    const std::string file =
        (std::filesystem::temp_directory_path() / ("velora-shop-" + std::to_string(::getpid()) + ".db")).string();
    struct TRemove {
        std::string File;
        ~TRemove() { std::filesystem::remove(File); }
    } cleanup{file};
    try {
        TADODatabase db(nullptr);
        db.SetName("Shop");
        db.SetDatabaseProvider("SQLite");
        db.SetDatabaseConnect("Data Source=" + file);
        db.SetConnectionMode(cmUnknown);  // SQLite creates the file when it is missing
        ShowEvents(db);

        Say("  open     " + file);
        db.Open();
        Say("  open     connected through ADO " + db.GetADOVersion() + " to provider " + db.GetDatabaseProvider());
        db.ExecSQL("CREATE TABLE orders (id INTEGER PRIMARY KEY, item VARCHAR(20) NOT NULL)");

        Say("  trans    level " + std::to_string(db.StartTransaction()));
        db.ExecSQL("INSERT INTO orders (item) VALUES ('apples')");
        Say("  trans    level " + std::to_string(db.StartTransaction()) + " (a savepoint inside the first)");
        db.ExecSQL("INSERT INTO orders (item) VALUES ('pears')");
        db.Rollback();
        Say("  trans    rolled back the pears, level " + std::to_string(db.GetTransactionLevel()));
        Say("  trans    level " + std::to_string(db.StartTransaction()));
        db.ExecSQL("INSERT INTO orders (item) VALUES ('figs')");
        db.Commit();
        db.Commit();
        Say("  trans    committed, level " + std::to_string(db.GetTransactionLevel()) + "; orders now: " +
            std::to_string(Count(db, "SELECT count(*) FROM orders")) + " (apples and figs)");

        try {
            db.ExecSQL("INSERT INTO orders (item) VALUES (NULL)");
        } catch (const Com::EOleException& e) {
            Say("  error    " + e.Description());
            Say("  error    the connection's Errors hold " + std::to_string(db.GetErrors()->GetCount()) +
                " item; the component stays connected: " + (db.GetConnected() ? "yes" : "no"));
        }

        Rtl::TStringList providers;
        EnumerateOleDbProviders(&providers);
        Say("  sources  OLE DB providers: " + providers.GetCommaText() + "; ADO version " + GetADOVersion());

        Say("  close    with a transaction still open");
        db.StartTransaction();
        db.ExecSQL("DELETE FROM orders");
        db.Close();
        TADODatabase check(nullptr);
        check.SetDatabaseConnect("Data Source=" + file);
        check.Open();
        Say("  close    rolled back on closing: " + std::to_string(Count(check, "SELECT count(*) FROM orders")) +
            " orders remain");
    } catch (const Exception& e) {
        Say("  the data engine is not available: " + e.Message());
    }
}
