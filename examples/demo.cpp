// The project's main job: a tour of what the library does today.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "Platform/com/Com.h"
#include "Platform/rtl/Classes.h"
#include "Platform/rtl/Currency.h"
#include "Platform/rtl/DateTime.h"
#include "Platform/rtl/Variant.h"
#include "Velora/com/Ado.h"

using namespace Rtl;

// The connection component's tour (database_tour.cpp).
void DatabaseTour();
// The client cursor's tour (offline_tour.cpp).
void OfflineTour();

namespace {
void Line(const String& s) { std::printf("%s\n", s.c_str()); }

// The data engine through ADO's objects: a SQLite file, a parameterized
// command, a client recordset, and a change written back to the table.
void DataEngineTour() {
    using namespace Velora;
    Line("");
    Line("Velora data engine through ADO");
    const std::string file =
        (std::filesystem::temp_directory_path() / ("velora-demo-" + std::to_string(::getpid()) + ".db")).string();
    struct TRemove {
        std::string File;
        ~TRemove() { std::filesystem::remove(File); }
    } cleanup{file};
    try {
        // Late bound, as a program that only knows the ProgID would do it.
        auto late = Com::CreateOleObject("ADODB.Connection");
        Line("  engine   ADODB.Connection, version " + Com::OleGet(late, "Version").ToString());

        auto connection = CoConnection::Create();
        connection->Open(Utf8ToWide("Provider=SQLite;Data Source=" + file));
        connection->Execute(u"CREATE TABLE fruit (id INTEGER PRIMARY KEY, name VARCHAR(20), price MONEY)", nullptr,
                            adExecuteNoRecords);
        auto insert = CoCommand::Create();
        insert->SetActiveConnectionRef(connection.Get());
        insert->SetCommandText(u"INSERT INTO fruit (name, price) VALUES (?, ?)");
        insert->SetPrepared(true);
        const struct {
            const char* Name;
            const char* Price;
        } rows[] = {{"apple", "0.45"}, {"pear", "0.60"}, {"fig", "1.20"}};
        for (const auto& r : rows)
            insert->Execute(nullptr, VarArrayOf({Variant(r.Name), Variant(StrToCurr(r.Price))}), adExecuteNoRecords);

        auto rs = CoRecordset::Create();
        rs->SetCursorLocation(adUseClient);
        rs->Open(Variant(u"SELECT * FROM fruit ORDER BY name"), Com::VarFromInterface(connection), adOpenStatic,
                 adLockOptimistic, adCmdText);
        Line(Format("  query    %d rows, cursor type %d, fields:", {rs->GetRecordCount(), int(rs->GetCursorType())}));
        for (; !rs->GetEOF(); rs->MoveNext()) {
            auto fields = rs->GetFields();
            Line(Format("           #%s %-6s %s", {VarToStr(fields->GetItem(Variant("id"))->GetValue()),
                                                    VarToStr(fields->GetItem(Variant("name"))->GetValue()),
                                                    CurrToStr(fields->GetItem(Variant("price"))->GetValue().ToCurrency())}));
        }
        rs->MoveFirst();
        rs->GetFields()->GetItem(Variant("price"))->SetValue(Variant(StrToCurr("0.50")));
        rs->Update(Com::EmptyParam, Com::EmptyParam);
        auto check = connection->Execute(u"SELECT price FROM fruit WHERE name = 'apple'", nullptr, adCmdText);
        Line("  update   apple now costs " +
             CurrToStr(check->GetFields()->GetItem(Variant(0))->GetValue().ToCurrency()) + " in the file");
        try {
            connection->Execute(u"SELECT * FROM vegetables", nullptr, adCmdText);
        } catch (const Com::EOleException& e) {
            Line("  error    " + e.Description());
        }
        connection->Close();
    } catch (const Exception& e) {
        Line("  the data engine is not available: " + e.Message());
    }
}
}  // namespace

int main() {
    Line("Velora runtime library");

    // Text: UTF-8 strings, UTF-16 for COM, the framework's Format.
    const String text = "Grüße, Ελλάδα";
    const WideString wide = Utf8ToWide(text);
    Line(Format("  text     %-16s %d bytes, %d UTF-16 units, round trip %s",
                {text, int(text.size()), int(wide.size()), WideToUtf8(wide) == text ? "exact" : "BROKEN"}));

    // Dates: days since 1899-12-30, ISO text by default.
    const TDateTime moon = ComposeDateTime(EncodeDate(1969, 7, 20), EncodeTime(20, 17, 40, 0));
    Line(Format("  date     %s is day %.6f; 1850-01-01 is day %g", {DateTimeToStr(moon), double(moon),
                                                                     double(EncodeDate(1850, 1, 1))}));

    // Money: Currency is exact fixed point; TBcd the packed decimal record.
    const Currency price = StrToCurr("19.99");
    const Currency total = price * Currency(3);
    TBcd bcd;
    CurrToBCD(total, bcd, 10, 2);
    Line(Format("  money    3 x %s = %s, as BCD %s (precision %d)",
                {CurrToStr(price), CurrToStr(total), BcdToStr(bcd), BcdPrecision(bcd)}));

    // Variants: one 16-byte value type with the framework's conversions.
    const Variant values[] = {Variant(42), Variant("3.25"), Variant(moon), Variant(total), Variant::Null()};
    for (const Variant& v : values)
        Line(Format("  variant  %-10s -> '%s'", {VarTypeAsText(v.VType()), VarToStr(v)}));
    try {
        (void)Variant("abc").ToInteger();
    } catch (const Exception& e) {
        Line("  error    " + String(e.ClassName()) + ": " + e.Message());
    }

    // Lists.
    TStringList list;
    list.SetCommaText("pear,apple,\"kiwi fruit\",fig");
    list.SetSorted(true);
    Line("  sorted   " + list.GetCommaText());

    DataEngineTour();
    OfflineTour();
    DatabaseTour();
    return 0;
}
