// Saving and loading row stores in ADO's XML rowset format.
#include <filesystem>
#include <fstream>

#include "CursorTestSupport.h"
#include "EngineTestSupport.h"
#include "Platform/data-engine/persist/Persist.h"
#include "PersistTestSupport.h"

using namespace CursorTest;
using PersistTest::ExpectSameStores;
using namespace Velora;

namespace {

TColumnInfo Column(const char* name, DataTypeEnum type, int size = 0, int attrs = adFldMayBeNull) {
    TColumnInfo c = MakeColumn(name, type, size);
    c.Attributes = attrs;
    return c;
}

// Every type the format holds, names that are and are not XML names, base names.
std::unique_ptr<TRowStore> Everything() {
    std::vector<TColumnInfo> cols = {
        Column("ID", adInteger, 4, adFldKeyColumn | adFldUpdatable | adFldFixed),
        Column("Order Name", adVarWChar, 30, adFldUpdatable | adFldIsNullable | adFldMayBeNull),
        Column("memo", adLongVarWChar, 1073741823, adFldLong | adFldMayBeNull),
        Column("code", adWChar, 4, adFldFixed | adFldMayBeNull),
        Column("narrow", adVarChar, 10, adFldMayBeNull),
        Column("ti", adTinyInt), Column("si", adSmallInt), Column("bi", adBigInt), Column("ub", adUnsignedTinyInt),
        Column("uw", adUnsignedSmallInt), Column("ui", adUnsignedInt), Column("ubi", adUnsignedBigInt),
        Column("f", adSingle), Column("d", adDouble), Column("cy", adCurrency),
        Column("num", adNumeric), Column("dec", adDecimal), Column("ok", adBoolean), Column("g", adGUID),
        Column("dt", adDate), Column("day", adDBDate), Column("clock", adDBTime), Column("ts", adDBTimeStamp),
        Column("bin", adBinary, 4, adFldFixed | adFldMayBeNull), Column("vbin", adVarBinary, 100),
        Column("blob", adLongVarBinary, 2147483647, adFldLong | adFldMayBeNull), Column("1st", adInteger),
        Column("c26", adInteger),
    };
    cols[15].Precision = 12;
    cols[15].NumericScale = 3;
    cols[16].Precision = 20;
    cols[16].NumericScale = 6;
    cols[0].BaseCatalogName = "main";
    cols[0].BaseTableName = "orders";
    cols[0].BaseColumnName = "id";
    cols[0].AutoIncrement = true;
    auto store = std::make_unique<TRowStore>(cols);
    const std::vector<Variant> values = {
        Variant(1), Variant("A & B <C> 'q' \"dq\"\ttab\nline"), Variant(std::string("\xC3\xA9t\xC3\xA9 \x01 \0 end", 13)),
        Variant("abcd"), Variant("narrow"), Variant(static_cast<signed char>(-5)), Variant(static_cast<short>(-300)),
        Variant(-9000000000000000000LL), Variant(static_cast<unsigned char>(250)),
        Variant(static_cast<unsigned short>(65000)), Variant(4000000000u), Variant(18000000000000000000ULL),
        Variant(0.1f), Variant(1.0 / 3.0), Variant(Rtl::Currency::FromScaled(-1234567)),
        Variant(Rtl::StrToDecimal("-123456789.125")), Variant(Rtl::StrToDecimal("12345678901234.000001")),
        Variant(true), Variant(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), Date(2024, 2, 29, 23, 59),
        Date(1899, 12, 30), Variant(Rtl::TDateTime(0.5)), Date(1, 1, 1), Rtl::BytesToVarArray("\x00\xFF\x10\x7F", 4),
        Rtl::BytesToVarArray("", 0), Rtl::BytesToVarArray("\x01\x02\x03", 3), Variant(7), Variant(26)};
    const TRowId r = store->AddNew();
    for (std::size_t c = 0; c < values.size(); ++c) store->SetValue(r, c, values[c]);
    store->AcceptChanges(r);
    PersistTest::AddPendingChanges(*store);
    return store;
}

TEST(PersistXml, EveryTypeAndPendingChangeRoundTripsToTheSameBytes) {
    auto store = Everything();
    const String first = SaveXml(*store);
    auto loaded = LoadXml(first);
    ExpectSameStores(*store, *loaded);
    EXPECT_EQ(SaveXml(*loaded), first);
    EXPECT_EQ(loaded->GetPendingCount(), store->GetPendingCount());
    // The format as ADO writes it: namespaces, schema, wrappers, aliases.
    for (const char* part :
         {"xmlns:rs='urn:schemas-microsoft-com:rowset'", "<s:AttributeType name='c1' rs:name='Order Name'",
          "<s:AttributeType name='c26_' rs:name='1st'", "<s:AttributeType name='c26' rs:number='28'", "rs:basetable='orders'", "rs:keycolumn='true'",
          "dt:type='number' rs:dbtype='currency'", "<rs:update>", "<rs:original>", "<rs:insert>", "<rs:delete>",
          "c1='A &amp; B &lt;C&gt; &apos;q&apos; &quot;dq&quot;&#x9;tab&#xA;line'", "g='{6F9619FF-8B86-D011-B42D-00C04FC964FF}'",
          "dt='2024-02-29T23:59:00'", "bin='00ff107f'", "ok='1'", "vn:nulls='cy'"})
        EXPECT_NE(first.find(part), String::npos) << part;
}

TEST(PersistXml, AReopenedRecordsetCanBeEditedAndSavedAgain) {
    auto loaded = LoadXml(SaveXml(*Everything()));
    const TRowId first = loaded->GetRows()[0];
    loaded->SetValue(first, 1, Variant("edited after reopening"));
    const TRowId added = loaded->AddNew();
    loaded->SetValue(added, 0, Variant(99));
    auto again = LoadXml(SaveXml(*loaded));
    ExpectSameStores(*loaded, *again);
    EXPECT_EQ(again->GetStatus(again->GetRows()[0]), adRecModified);
    EXPECT_EQ(again->GetValue(again->GetRows()[0], 1, vvOriginal).ToString(), "A & B <C> 'q' \"dq\"\ttab\nline");
}

// A file as the public documentation shows it: double quotes, an XML
// declaration, a comment, a minimal schema, aliases and pending changes.
TEST(PersistXml, AHandWrittenFileInThePublicFormatOpens) {
    const char* xml =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- Shippers -->\n"
        "<xml xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\"\n"
        "  xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\"\n"
        "  xmlns:rs=\"urn:schemas-microsoft-com:rowset\" xmlns:z=\"#RowsetSchema\">\n"
        "<s:Schema id=\"RowsetSchema\">\n"
        " <s:ElementType name=\"row\" content=\"eltOnly\" rs:updatable=\"true\">\n"
        "  <s:AttributeType name=\"s1\" rs:name=\"ShipperID\" rs:number=\"1\" rs:keycolumn=\"true\">\n"
        "   <s:datatype dt:type=\"int\" dt:maxLength=\"4\" rs:precision=\"10\" rs:fixedlength=\"true\" "
        "rs:maybenull=\"false\"/>\n"
        "  </s:AttributeType>\n"
        "  <s:AttributeType name=\"Phone\" rs:number=\"3\"/>\n"
        "  <s:AttributeType name=\"CompanyName\" rs:number=\"2\" rs:write=\"true\">\n"
        "   <s:datatype dt:type=\"string\" dt:maxLength=\"40\"/>\n"
        "  </s:AttributeType>\n"
        "  <s:extends type=\"rs:rowbase\"/>\n"
        " </s:ElementType>\n"
        "</s:Schema>\n"
        "<rs:data>\n"
        " <z:row s1=\"1\" CompanyName=\"Speedy Express\" Phone=\"(503) 555-9831\" Unknown=\"ignored\"/>\n"
        " <z:row s1=\"2\" CompanyName=\"Joe&apos;s Garage\"/>\n"
        " <rs:update><rs:original><z:row s1=\"3\" CompanyName=\"Federal Shipping\" Phone=\"(503) 555-9931\"/>"
        "</rs:original><z:row Phone=\"(503) 552-7134\"/></rs:update>\n"
        " <rs:insert><z:row s1=\"12\" CompanyName=\"Lightning\" Phone=\"(505) 555-2323\"/>"
        "<z:row s1=\"13\" CompanyName=\"Thunder\"/></rs:insert>\n"
        " <rs:delete><z:row s1=\"4\" CompanyName=\"Old\"/></rs:delete>\n"
        "</rs:data>\n</xml>\n";
    auto store = LoadXml(xml);
    ASSERT_EQ(store->GetColumnCount(), 3u);
    EXPECT_EQ(store->GetColumns()[0].Name, "ShipperID");
    EXPECT_EQ(store->GetColumns()[0].Type, adInteger);
    EXPECT_EQ(store->GetColumns()[1].Name, "CompanyName");
    EXPECT_EQ(store->GetColumns()[2].Type, adVarWChar);  // no type: variable-length text
    ASSERT_EQ(store->GetRowCount(), 6u);
    const auto& rows = store->GetRows();
    EXPECT_EQ(store->GetValue(rows[1], 1).ToString(), "Joe's Garage");
    EXPECT_TRUE(store->IsNull(rows[1], 2));
    EXPECT_EQ(store->GetStatus(rows[2]), adRecModified);
    EXPECT_EQ(store->GetValue(rows[2], 2).ToString(), "(503) 552-7134");
    EXPECT_EQ(store->GetValue(rows[2], 2, vvOriginal).ToString(), "(503) 555-9931");
    EXPECT_EQ(store->GetStatus(rows[3]), adRecNew);
    EXPECT_EQ(store->GetStatus(rows[4]), adRecNew);
    EXPECT_EQ(store->GetStatus(rows[5]), adRecDeleted);
    EXPECT_EQ(store->GetPendingCount(), 4u);
}

TEST(PersistXml, EveryTruncationIsRefusedAndNamesItsOffset) {
    auto store = People();
    store->SetValue(0, 1, Variant("x"));
    store->Delete(1);
    const String xml = SaveXml(*store);
    for (std::size_t n = 0; n + 1 < xml.size(); ++n) {
        std::string message;
        try {
            LoadXml(std::string_view(xml).substr(0, n));
        } catch (const EPersistError& e) {
            message = e.Message();
        }
        ASSERT_NE(message, "") << "a prefix of " << n << " bytes loaded";
        ASSERT_NE(message.find("at byte"), std::string::npos) << message;
    }
}

TEST(PersistXml, HostileDocumentsAreRefusedClearly) {
    const String head =
        "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882' "
        "xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'><s:Schema id='RowsetSchema'>"
        "<s:ElementType name='row'><s:AttributeType name='n'><s:datatype dt:type='int'/></s:AttributeType>"
        "</s:ElementType></s:Schema><rs:data>";
    const String tail = "</rs:data></xml>";
    struct {
        String Xml;
        const char* Message;
    } table[] = {
        {"", "there is no root element"},
        {"<!DOCTYPE x [<!ENTITY a 'b'>]><xml/>", "document type declarations are not accepted"},
        {String("\xFF\xFE<\0x\0", 6), "the file is UTF-16; rowset files are UTF-8"},
        {head + "<z:row n='12x'/>" + tail,
         "z:row has n='12x', which column \"n\" (adInteger) cannot hold: not a number"},
        {head + "<z:row n='99999999999'/>" + tail,
         "z:row has n='99999999999', which column \"n\" (adInteger) cannot hold: out of range for adInteger"},
        {head + "<z:row n='&bogus;'/>" + tail, "the entity &bogus; is not defined"},
        {head + "<z:row n='&#xD800;'/>" + tail, "the character reference &#xD800; names no character"},
        {head + "<q:row n='1'/>" + tail, "the prefix \"q\" of \"q:row\" is not declared"},
        {head + "<z:row n='1'></rs:data></xml>", "</rs:data> does not close <z:row>"},
        {head + "<z:row n='1' n='2'/>" + tail, "the attribute \"n\" appears twice"},
        {head + "<rs:update><z:row n='1'/></rs:update>" + tail, "rs:update has no rs:original before its row"},
        {head + tail + "<more/>", "content follows the root element"},
        {head + "</rs:data><rs:data>" + tail, "a second rs:data"},
        {String(head).replace(head.find("'int'"), 5, "'int16'") + tail,
         "the column \"n\" has the unknown type dt:type='int16'"},
        {"<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'><s:Schema><s:ElementType name='row'/>"
         "</s:Schema></xml>",
         "the schema defines no column"},
    };
    for (const auto& t : table) {
        std::string message;
        try {
            LoadXml(t.Xml);
        } catch (const EPersistError& e) {
            message = e.Message();
        }
        EXPECT_NE(message.find(t.Message), std::string::npos) << message << "\nexpected: " << t.Message;
    }
}

TEST(PersistFiles, SaveReplacesTheFileAndAFailedSaveLeavesItIntact) {
    EngineTest::TTempDir dir;
    const String path = dir.File("people.xml");
    auto store = People();
    SaveToFile(*store, path, adPersistXML);
    auto back = LoadFromFile(path);
    ExpectSameStores(*store, *back);
    std::ifstream in(path);
    const String before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A bad format fails before the file is touched; so does a target that cannot be replaced.
    EXPECT_NE(ErrorOf([&] { SaveToFile(*store, path, PersistFormatEnum(7)); }), "");
    const String folder = dir.File("folder");
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/inside") << "x";
    EXPECT_NE(ErrorOf([&] { SaveToFile(*store, folder, adPersistXML); }).find("Cannot replace"), std::string::npos);
    std::ifstream again(path);
    EXPECT_EQ(String((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), before);
    std::size_t files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);  // no temporary file is left behind
    EXPECT_NE(ErrorOf([&] { LoadFromFile(dir.File("missing.xml")); }).find("Cannot open"), std::string::npos);
    // A TableGram is recognised by its header and read as one.
    EXPECT_NE(ErrorOf([&] { LoadPersisted(std::string("\x01\x07TG!\x01\x00\x00\x01", 9)); })
                  .find("The ADTG TableGram is invalid at byte 9"),
              std::string::npos);
    std::ofstream(dir.File("junk.bin")) << "junk";
    EXPECT_NE(ErrorOf([&] { LoadFromFile(dir.File("junk.bin")); }).find("neither an XML rowset nor an ADTG"),
              std::string::npos);
}

}  // namespace
