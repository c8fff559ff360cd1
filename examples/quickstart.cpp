// The README's short examples as one program: the connection component, the
// ADO objects directly, offline work with a saved recordset, and parameters. Built and run by the tests so the
// README cannot drift from the code.
#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "Platform/com/Com.h"
#include "Velora/Adods/Adods.h"
#include "Velora/com/Ado.h"

using namespace Velora;

int main() {
    const std::string file =
        (std::filesystem::temp_directory_path() / ("velora-quickstart-" + std::to_string(::getpid()) + ".db")).string();
    try {
        // The connection component.
        {
            TADODatabase db(nullptr);
            db.SetDatabaseProvider("SQLite");  // the embedded default
            db.SetDatabaseConnect("Data Source=" + file);
            db.SetConnectionMode(cmUnknown);  // lets SQLite create the file
            db.SetADOExecuteComplete([](TADODatabase*, int affected, Error*, EventStatusEnum&, _Command*, _Recordset*) {
                std::printf("%d rows\n", affected);
            });
            db.Open();
            db.ExecSQL("CREATE TABLE orders (id INTEGER PRIMARY KEY, item VARCHAR(20))");
            db.StartTransaction();
            db.ExecSQL("INSERT INTO orders (item) VALUES ('figs')");
            db.Commit();
        }
        // The ADO objects directly.
        {
            Com::ComPtr<_Connection> cn = CoConnection::Create();
            cn->Open(Rtl::Utf8ToWide("Provider=SQLite;Data Source=" + file));
            Com::ComPtr<_Recordset> rs = CoRecordset::Create();
            rs->SetCursorLocation(adUseClient);
            rs->Open(Rtl::Variant(u"SELECT id, item FROM orders"), Com::VarFromInterface(cn), adOpenStatic,
                     adLockOptimistic, adCmdText);
            for (; !rs->GetEOF(); rs->MoveNext())
                std::printf("%s\n", Rtl::VarToStr(rs->GetFields()->GetItem(Rtl::Variant(u"item"))->GetValue()).c_str());
        }
        // Offline work: filter, sort, edit in the batch, save with the pending
        // change, reopen later and apply it to the database.
        {
            const std::string saved = file + ".adtg";
            Com::ComPtr<_Connection> cn = CoConnection::Create();
            cn->Open(Rtl::Utf8ToWide("Provider=SQLite;Data Source=" + file));
            Com::ComPtr<_Recordset> rs = CoRecordset::Create();
            rs->SetCursorLocation(adUseClient);
            rs->Open(Rtl::Variant(u"SELECT id, item FROM orders"), Com::VarFromInterface(cn), adOpenStatic,
                     adLockBatchOptimistic, adCmdText);
            rs->SetFilter(Rtl::Variant(u"item LIKE 'f*'"));
            rs->SetSort(u"item DESC");
            rs->GetFields()->GetItem(Rtl::Variant(u"item"))->SetValue(Rtl::Variant(u"dates"));
            rs->Save(Rtl::Variant(Rtl::Utf8ToWide(saved)), adPersistADTG);  // or adPersistXML
            rs->Close();

            Com::ComPtr<_Recordset> later = CoRecordset::Create();
            later->Open(Rtl::Variant(Rtl::Utf8ToWide(saved)), Com::EmptyParam, adOpenStatic, adLockBatchOptimistic,
                        adCmdFile);
            later->SetActiveConnectionRef(cn.Get());
            later->UpdateBatch(adAffectAll);
            std::printf("%s\n", Rtl::VarToStr(later->GetFields()->GetItem(Rtl::Variant(u"item"))->GetValue()).c_str());
            std::filesystem::remove(saved);
        }
        // Parameters.
        {
            TParams params(nullptr);
            Rtl::String sql = params.ParseSQL("SELECT * FROM orders WHERE item = :item", true);  // "... item = ?"
            params.ParamByName("item")->SetAsString("figs");
            std::printf("%s with %d parameter\n", sql.c_str(), params.Count());
        }
    } catch (const Rtl::Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
        std::filesystem::remove(file);
        return 1;
    }
    std::filesystem::remove(file);
    return 0;
}
