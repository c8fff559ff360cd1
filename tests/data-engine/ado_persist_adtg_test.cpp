// Recordsets saved as Advanced Data TableGrams and opened again, over a
// SQLite file: pending changes survive save, reopen, edit and save again,
// reach the database through UpdateBatch once a connection is assigned, and
// a rowset moved XML -> TableGram -> XML comes back to the same file.
#include <filesystem>
#include <fstream>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

class AdoAdtgTest : public TAdoFixture {
protected:
    void SetUp() override {
        TAdoFixture::SetUp();
        FConn = OpenConnection(FFile);
    }
    ComPtr<_Recordset> Items() {
        return OpenRecordset(FConn, "SELECT * FROM items ORDER BY id", adUseClient, adOpenStatic, adLockBatchOptimistic);
    }
    static ComPtr<_Recordset> OpenFile(const std::string& file) {
        auto rs = CoRecordset::Create();
        rs->Open(Variant(W(file)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile);
        return rs;
    }
    static std::vector<std::string> Names(const ComPtr<_Recordset>& rs) {
        std::vector<std::string> out;
        if (rs->GetRecordCount() > 0) rs->MoveFirst();
        for (; !rs->GetEOF(); rs->MoveNext()) out.push_back(N(FieldValue(rs, "name").ToWideString()));
        return out;
    }
    static void GoTo(const ComPtr<_Recordset>& rs, const std::string& name) {
        rs->Find(W("name = '" + name + "'"), 0, adSearchForward, Variant(static_cast<int>(adBookmarkFirst)));
        ASSERT_FALSE(rs->GetEOF()) << name;
    }
    static int Pending(const ComPtr<_Recordset>& rs) {
        rs->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
        const int n = rs->GetRecordCount();
        rs->SetFilter(Variant(static_cast<int>(adFilterNone)));
        return n;
    }
    std::vector<std::string> TableNames() {
        return Names(OpenRecordset(FConn, "SELECT name FROM items ORDER BY id", adUseClient, adOpenStatic, adLockReadOnly));
    }
    static std::string Contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    ComPtr<_Connection> FConn;
};

TEST_F(AdoAdtgTest, SavedChangesReopenEditSaveAgainAndReachTheDatabase) {
    const std::string file = FDir.File("items.adtg");
    {
        auto rs = Items();
        GoTo(rs, "pear");
        rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(6));
        rs->GetFields()->GetItem(Variant("note"))->SetValue(Variant(u"ripe \u00E9t\u00E9"));
        GoTo(rs, "fig");
        rs->Delete(adAffectCurrent);
        rs->AddNew(Rtl::VarArrayOf({Variant("name"), Variant("qty")}), Rtl::VarArrayOf({Variant("kiwi"), Variant(7)}));
        rs->Save(Variant(W(file)), adPersistADTG);
    }
    ASSERT_EQ(Contents(file).substr(0, 5), std::string("\x01\x07TG!", 5));
    auto reopened = OpenFile(file);
    EXPECT_EQ(reopened->GetCursorLocation(), adUseClient);
    EXPECT_EQ(reopened->GetLockType(), adLockBatchOptimistic);
    EXPECT_EQ(Names(reopened), (std::vector<std::string>{"apple", "pear", "plum", "kiwi"}));
    EXPECT_EQ(Pending(reopened), 3);
    GoTo(reopened, "pear");
    EXPECT_EQ(N(reopened->GetFields()->GetItem(Variant("note"))->GetValue().ToWideString()), "ripe \xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(reopened->GetFields()->GetItem(Variant("note"))->GetOriginalValue().IsNull());
    GoTo(reopened, "plum");
    reopened->GetFields()->GetItem(Variant("price"))->SetValue(Variant(0.5));
    reopened->Update(Com::EmptyParam, Com::EmptyParam);
    // Without a destination Save writes the file it came from.
    reopened->Save(Com::EmptyParam, adPersistADTG);
    reopened->Close();

    // Through the persistence provider, then connected to the database.
    auto last = CoRecordset::Create();
    last->Open(Variant(W(file)), Variant(u"Provider=MSPersist"), adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
    EXPECT_EQ(Pending(last), 4);
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"apple", "pear", "plum", "fig"}));  // nothing written yet
    last->SetActiveConnection(Com::VarFromInterface(FConn));
    last->UpdateBatch(adAffectAll);
    EXPECT_EQ(Pending(last), 0);
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"apple", "pear", "plum", "kiwi"}));
    auto check = OpenRecordset(FConn, "SELECT qty, price, note FROM items WHERE name IN ('pear', 'plum') ORDER BY name",
                               adUseClient, adOpenStatic, adLockReadOnly);
    EXPECT_EQ(FieldValue(check, "qty").ToInteger(), 6);
    EXPECT_EQ(N(FieldValue(check, "note").ToWideString()), "ripe \xC3\xA9t\xC3\xA9");
    check->MoveNext();
    EXPECT_DOUBLE_EQ(FieldValue(check, "price").ToDouble(), 0.5);
}

TEST_F(AdoAdtgTest, XmlToTableGramToXmlGivesTheSameFile) {
    const std::string xml = FDir.File("items.xml"), adtg = FDir.File("items.adtg"), again = FDir.File("again.xml");
    auto rs = Items();
    GoTo(rs, "apple");
    rs->GetFields()->GetItem(Variant("note"))->SetValue(Variant::Null());
    rs->GetFields()->GetItem(Variant("data"))->SetValue(Rtl::BytesToVarArray("\x00\x01\xFF", 3));
    GoTo(rs, "plum");
    rs->Delete(adAffectCurrent);
    rs->AddNew(Rtl::VarArrayOf({Variant("name")}), Rtl::VarArrayOf({Variant("lime")}));
    rs->Save(Variant(W(xml)), adPersistXML);
    OpenFile(xml)->Save(Variant(W(adtg)), adPersistADTG);
    OpenFile(adtg)->Save(Variant(W(again)), adPersistXML);
    EXPECT_EQ(Contents(again), Contents(xml));
    // And the TableGram saved from the reopened TableGram is the same TableGram.
    const std::string adtg2 = FDir.File("items2.adtg");
    OpenFile(adtg)->Save(Variant(W(adtg2)), adPersistADTG);
    EXPECT_EQ(Contents(adtg2), Contents(adtg));
}

TEST_F(AdoAdtgTest, ABinaryStreamCarriesATableGram) {
    auto rs = Items();
    GoTo(rs, "pear");
    rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(9));
    auto stream = CoStream::Create();
    stream->SetType(adTypeBinary);
    stream->Open();
    rs->Save(Com::VarFromInterface(stream), adPersistADTG);
    stream->SetPosition(0);
    auto back = CoRecordset::Create();
    back->Open(Com::VarFromInterface(stream));
    EXPECT_EQ(Pending(back), 1);
    GoTo(back, "pear");
    EXPECT_EQ(FieldValue(back, "qty").ToInteger(), 9);
    EXPECT_EQ(back->GetFields()->GetItem(Variant("qty"))->GetOriginalValue().ToInteger(), 5);
}

TEST_F(AdoAdtgTest, ADamagedTableGramNamesTheFileAndTheOffsetAndLeavesTheRecordsetClosed) {
    const std::string file = FDir.File("items.adtg");
    Items()->Save(Variant(W(file)), adPersistADTG);
    const std::string whole = Contents(file);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
    auto rs = CoRecordset::Create();
    const std::string message =
        OleError([&] { rs->Open(Variant(W(file)), Com::EmptyParam, adOpenUnspecified, adLockUnspecified, adCmdFile); });
    EXPECT_NE(message.find(file), std::string::npos) << message;
    EXPECT_NE(message.find("The ADTG TableGram is invalid at byte"), std::string::npos) << message;
    EXPECT_EQ(rs->GetState(), adStateClosed);
}

}  // namespace
}  // namespace AdoTest
