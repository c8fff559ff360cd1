// The demo's tour of the client cursor: a table fetched asynchronously with
// progress events, then filtered, sorted, searched and edited in a batch
// without asking the database again, saved as a TableGram with its pending
// changes, reopened and applied to the database in one transaction.
#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "Platform/com/Apartment.h"
#include "Platform/com/Com.h"
#include "Velora/com/Ado.h"

using namespace Rtl;
using namespace Velora;

namespace {

void Line(const String& s) { std::printf("%s\n", s.c_str()); }

// Counts the fetch events of a recordset; the other events are not wanted.
class TFetchWatcher : public Com::TImplements<Com::TInterfacedObject, RecordsetEventsVt> {
public:
    int Batches = 0;
    int Fetched = 0;
    bool Complete = false;

    Com::HRESULT WillChangeField(int, const Variant&, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT FieldChangeComplete(int, const Variant&, Error*, EventStatusEnum& st, _Recordset*) override {
        return Unwanted(st);
    }
    Com::HRESULT WillChangeRecord(EventReasonEnum, int, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT RecordChangeComplete(EventReasonEnum, int, Error*, EventStatusEnum& st, _Recordset*) override {
        return Unwanted(st);
    }
    Com::HRESULT WillChangeRecordset(EventReasonEnum, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT RecordsetChangeComplete(EventReasonEnum, Error*, EventStatusEnum& st, _Recordset*) override {
        return Unwanted(st);
    }
    Com::HRESULT WillMove(EventReasonEnum, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT MoveComplete(EventReasonEnum, Error*, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT EndOfRecordset(bool&, EventStatusEnum& st, _Recordset*) override { return Unwanted(st); }
    Com::HRESULT FetchProgress(int progress, int, EventStatusEnum&, _Recordset*) override {
        ++Batches;
        Fetched = progress;
        return Com::S_OK;
    }
    Com::HRESULT FetchComplete(Error* e, EventStatusEnum&, _Recordset*) override {
        Complete = true;
        if (e) Line("           fetch failed: " + WideToUtf8(e->GetDescription()));
        return Com::S_OK;
    }

private:
    static Com::HRESULT Unwanted(EventStatusEnum& st) {
        st = adStatusUnwantedEvent;
        return Com::S_OK;
    }
};

String Text(const Com::ComPtr<_Recordset>& rs, const char* field) {
    return VarToStr(rs->GetFields()->GetItem(Variant(field))->GetValue());
}

}  // namespace

void OfflineTour() {
    Line("");
    Line("Velora client cursor: asynchronous fetch, filter, sort, find, batch, TableGram");
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string file = (dir / ("velora-offline-" + std::to_string(::getpid()) + ".db")).string();
    const std::string saved = file + ".adtg";
    struct TRemove {
        std::string A, B;
        ~TRemove() {
            std::filesystem::remove(A);
            std::filesystem::remove(B);
        }
    } cleanup{file, saved};
    try {
        auto cn = CoConnection::Create();
        cn->Open(Utf8ToWide("Provider=SQLite;Data Source=" + file));
        cn->Execute(u"CREATE TABLE stock (id INTEGER PRIMARY KEY, item VARCHAR(20), qty INTEGER)", nullptr,
                    adExecuteNoRecords);
        // 20,000 rows in one statement: item-1 .. item-20000 with quantities 0 .. 96.
        cn->Execute(u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                    u"INSERT INTO stock (item, qty) SELECT 'item-' || i, (i * 37) % 97 FROM n",
                    nullptr, adExecuteNoRecords);

        // Fetched on a worker thread; the events arrive here when this thread pumps.
        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        auto watcher = Com::MakeComObject<TFetchWatcher>();
        int cookie = 0;
        Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(watcher.Get()), cookie);
        rs->GetProperties()->GetItem(Variant("Initial Fetch Size"))->SetValue(Variant(100));
        rs->GetProperties()->GetItem(Variant("Background Fetch Size"))->SetValue(Variant(2500));
        rs->Open(Variant(u"SELECT id, item, qty FROM stock"), Com::VarFromInterface(cn), adOpenStatic,
                 adLockBatchOptimistic, adCmdText | adAsyncFetchNonBlocking);
        Line(Format("  fetch    open with %d rows while the rest arrives", {rs->GetRecordCount()}));
        Com::PumpUntil([&] { return watcher->Complete; }, std::chrono::seconds(60));
        Line(Format("  fetch    %d progress events, %d rows, complete: %s",
                    {watcher->Batches, rs->GetRecordCount(), watcher->Complete ? "yes" : "no"}));

        rs->SetFilter(Variant(u"qty < 5 AND item LIKE 'item-1*'"));
        rs->SetSort(u"qty DESC, item");  // the current row stays current; the order changes
        rs->MoveFirst();
        Line(Format("  filter   %d rows with qty < 5 among item-1*; the first after sorting: %s (qty %s)",
                    {rs->GetRecordCount(), Text(rs, "item"), Text(rs, "qty")}));
        rs->SetFilter(Variant(adFilterNone));
        rs->MoveFirst();
        rs->Find(u"item = 'item-12345'", 0, adSearchForward, Com::EmptyParam);
        Line("  find     item-12345 has qty " + Text(rs, "qty"));

        // A batch: every row with qty 0 gets 10 more, kept locally until UpdateBatch.
        rs->SetFilter(Variant(u"qty = 0"));
        int changed = 0;
        for (rs->MoveFirst(); !rs->GetEOF(); rs->MoveNext(), ++changed)
            rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(10));
        rs->SetFilter(Variant(adFilterPendingRecords));
        Line(Format("  batch    %d rows changed locally, %d pending", {changed, rs->GetRecordCount()}));
        rs->SetFilter(Variant(adFilterNone));
        rs->Save(Variant(Utf8ToWide(saved)), adPersistADTG);
        rs->Close();
        Line(Format("  save     TableGram of %d bytes with the pending changes",
                    {int(std::filesystem::file_size(saved))}));

        auto later = CoRecordset::Create();
        later->Open(Variant(Utf8ToWide(saved)), Com::EmptyParam, adOpenStatic, adLockBatchOptimistic, adCmdFile);
        later->SetActiveConnectionRef(cn.Get());
        later->UpdateBatch(adAffectAll);
        auto check = cn->Execute(u"SELECT count(*) FROM stock WHERE qty = 0", nullptr, adCmdText);
        Line("  apply    reopened and applied: rows with qty 0 left in the file: " +
             VarToStr(check->GetFields()->GetItem(Variant(0))->GetValue()));
        cn->Close();
    } catch (const Exception& e) {
        Line("  the offline tour failed: " + e.Message());
    }
}
