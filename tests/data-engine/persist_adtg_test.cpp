// Saving and loading row stores as Advanced Data TableGrams: files built by
// hand from the published format, a file Windows wrote, every column type
// family, nulls, pending changes of every kind, round trips and hostile input.
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

// Bytes from hexadecimal pairs separated by blanks.
std::string Hex(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
        i += 2;
    }
    return out;
}
std::string Le16(unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
// An ASCII name as a 16-bit character count and UTF-16 characters.
std::string Name16(std::string_view s) {
    std::string out = Le16(static_cast<unsigned>(s.size()));
    for (char c : s) out += std::string{c, '\0'};
    return out;
}

// The elements before the columns: header, handler options, a result of n
// columns and no base table, without property sets.
std::string Head(unsigned columns) {
    return Hex("01 07 54 47 21 00 00 00 00") +  // header, version 0.0, little-endian, narrow text as bytes
           Hex("02 19 00 B6 92 F2 3F 04 B2 CF 11 8D 23 00 AA 00 5F FE 58 01 00 00 00 00 00 00 01 00") +  // handler
           Hex("03 21 00 D2 AD 63 F6 02 EB CF 11 B0 E3 00 AA 00 3F 00 0F 00 00 00") +  // result: id, snapshot
           Le16(columns) + Le16(columns) + Le16(columns) + Hex("00 00 00 00 00 00 00 00");  // computed, tables, rows
}
// A column descriptor with only its name among the optional fields.
std::string Column(unsigned ordinal, std::string_view name, unsigned dbType, std::uint32_t maxLength, std::uint32_t flags,
                   std::uint32_t precision = 0, std::uint32_t scale = 0) {
    const std::string body = Hex("80 00 00") + Le16(ordinal) + Name16(name) + Le16(dbType) + Le32(maxLength) +
                             Le32(precision) + Le32(scale) + Le32(flags) + Hex("FF FF");
    return Hex("06") + Le16(static_cast<unsigned>(body.size())) + body;
}

constexpr std::uint32_t Fixed = 0x10, Nullable = 0x60, Long = 0x80, Key = 0x8000;

std::string Describe(const TRowStore& s, TRowId row, std::size_t column, TValueVersion v = vvCurrent) {
    const TCell cell = s.GetCell(row, column, v);
    if (cell.Null) return "Null";
    if (s.GetKinds()[column] == skDate) return FormatIsoDateTime(cell.D, s.GetColumns()[column].Type);
    if (s.GetKinds()[column] == skBytes) {
        std::string out;
        char buf[4];
        for (std::size_t i = 0; i < cell.Size; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(cell.Data[i]));
            out += buf;
        }
        return out;
    }
    return s.GetValue(row, column, v).ToString();
}

std::string LoadError(std::string_view data) {
    try {
        LoadAdtg(data);
    } catch (const EPersistError& e) {
        return e.Message();
    }
    return "";
}

// ---- A file written by Windows --------------------------------------------------------------------------

// The TableGram of the publishers example of the public transport protocol
// description: one table, five narrow text columns, one row.
std::string WindowsPublishers() {
    return Hex(
        // header: token, size 7, "TG!", version 0.0, little-endian, narrow text as bytes
        "01 07 54 47 21 00 00 00 00 "
        // handler options: token, size 25, recordset class id, columns-only updates, three empty strings, asynchronous non-blocking
        "02 19 00 B6 92 F2 3F 04 B2 CF 11 8D 23 00 AA 00 5F FE 58 01 00 00 00 00 00 00 03 00 "
        // result: token, size 103, descriptor id, reserved, snapshot, not normalised, 5 visible, 5 total, 0 computed, 1 table, 0 order-by, 1 row; one property set (ADC) of 7: Auto Recalc 1, Update Resync 1, Unique Table/Schema/Catalog, Resync Command, Reshape Name empty
        "03 67 00 D2 AD 63 F6 02 EB CF 11 B0 E3 00 AA 00 3F 00 0F 00 00 00 05 00 05 00 00 00 01 00 00 00 01 00 00 00 01 00 C1 3C "
        "8E B6 EB 6D D0 11 8D F6 00 AA 00 5F FE 58 07 00 0B 00 00 00 04 00 01 00 00 00 13 00 00 00 04 00 01 00 00 00 0D 00 00 00 "
        "00 00 0E 00 00 00 00 00 0F 00 00 00 00 00 10 00 00 00 00 00 12 00 00 00 00 00 "
        // rowset context: token, size 124; ROWSET set: IRowsetChange true, IRowsetUpdate true, command timeout 30, maximum rows 0; ADC set: batch size 15, update criteria 2, background fetch 15, initial fetch 50, thread priority 3
        "10 7C 00 02 00 BE 22 B5 C8 F3 5C CE 11 AD E5 00 AA 00 44 77 3D 04 00 7F 00 00 00 02 00 FF FF 86 00 00 00 02 00 FF FF 22 "
        "00 00 00 04 00 1E 00 00 00 49 00 00 00 04 00 00 00 00 00 C1 3C 8E B6 EB 6D D0 11 8D F6 00 AA 00 5F FE 58 05 00 04 00 00 "
        "00 04 00 0F 00 00 00 05 00 00 00 04 00 02 00 00 00 03 00 00 00 04 00 0F 00 00 00 07 00 00 00 04 00 32 00 00 00 08 00 00 "
        "00 04 00 03 00 00 00 "
        // table: token, size 74, ordinal 1, original name "pubs".."Publishers", update name Publishers, code page 0, 5 columns, 1 key column: ordinal 1
        "05 4A 00 01 00 14 00 22 00 70 00 75 00 62 00 73 00 22 00 2E 00 2E 00 22 00 50 00 75 00 62 00 6C 00 69 00 73 00 68 00 65 "
        "00 72 00 73 00 22 00 0A 00 50 00 75 00 62 00 6C 00 69 00 73 00 68 00 65 00 72 00 73 00 00 00 05 00 01 00 01 00 "
        // column 1: token, size 69, presence F2 01 00 (name, base table and column ordinals, base name, catalog, auto-increment), ordinal 1, "pub_id", table 1, column 1, "pub_id", DBTYPE_STR, length 4, precision 255, scale 255, flags key|fixed|write-unknown, catalog "pubs", not auto-increment, visible
        "06 45 00 F2 01 00 01 00 06 00 70 00 75 00 62 00 5F 00 69 00 64 00 01 00 01 00 06 00 70 00 75 00 62 00 5F 00 69 00 64 00 "
        "81 00 04 00 00 00 FF 00 00 00 FF 00 00 00 18 80 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF "
        // column 2: "pub_name", DBTYPE_STR, length 40, flags nullable|may-be-null|write-unknown
        "06 4D 00 F2 01 00 02 00 08 00 70 00 75 00 62 00 5F 00 6E 00 61 00 6D 00 65 00 01 00 02 00 08 00 70 00 75 00 62 00 5F 00 "
        "6E 00 61 00 6D 00 65 00 81 00 28 00 00 00 FF 00 00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF "
        // column 3: "city", DBTYPE_STR, length 20, nullable
        "06 3D 00 F2 01 00 03 00 04 00 63 00 69 00 74 00 79 00 01 00 03 00 04 00 63 00 69 00 74 00 79 00 81 00 14 00 00 00 FF 00 "
        "00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF "
        // column 4: "state", DBTYPE_STR, length 2, fixed, nullable
        "06 41 00 F2 01 00 04 00 05 00 73 00 74 00 61 00 74 00 65 00 01 00 04 00 05 00 73 00 74 00 61 00 74 00 65 00 81 00 02 00 "
        "00 00 FF 00 00 00 FF 00 00 00 78 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF "
        // column 5: "country", DBTYPE_STR, length 30, nullable
        "06 49 00 F2 01 00 05 00 07 00 63 00 6F 00 75 00 6E 00 74 00 72 00 79 00 01 00 05 00 07 00 63 00 6F 00 75 00 6E 00 74 00 "
        "72 00 79 00 81 00 1E 00 00 00 FF 00 00 00 FF 00 00 00 68 00 00 00 04 00 70 00 75 00 62 00 73 00 00 00 FF FF "
        // row: original-row token, presence bits FF (all four nullable columns present; the spare bits set), "0736" (fixed, 4 bytes), 0E "New Moon Books", 08 "New York", "MA" (fixed, 2 bytes), 03 "USA"
        "07 FF 30 37 33 36 0E 4E 65 77 20 4D 6F 6F 6E 20 42 6F 6F 6B 73 08 4E 65 77 20 59 6F 72 6B 4D 41 03 55 53 41 "
        // end
        "0F "
    );
}

TEST(PersistAdtg, AFileWrittenByWindowsOpensAndSavesBackAlike) {
    const std::string windows = WindowsPublishers();
    ASSERT_EQ(DetectPersistFormat(windows), adPersistADTG);
    auto store = LoadAdtg(windows);
    ASSERT_EQ(store->GetColumnCount(), 5u);
    const struct {
        const char* Name;
        DataTypeEnum Type;
        int Size;
        int Attributes;
        const char* Value;
    } expected[] = {
        {"pub_id", adChar, 4, adFldKeyColumn | adFldFixed | adFldUnknownUpdatable, "0736"},
        {"pub_name", adVarChar, 40, adFldIsNullable | adFldMayBeNull | adFldUnknownUpdatable, "New Moon Books"},
        {"city", adVarChar, 20, adFldIsNullable | adFldMayBeNull | adFldUnknownUpdatable, "New York"},
        {"state", adChar, 2, adFldFixed | adFldIsNullable | adFldMayBeNull | adFldUnknownUpdatable, "MA"},
        {"country", adVarChar, 30, adFldIsNullable | adFldMayBeNull | adFldUnknownUpdatable, "USA"},
    };
    ASSERT_EQ(store->GetRowCount(), 1u);
    for (std::size_t c = 0; c < 5; ++c) {
        const TColumnInfo& info = store->GetColumns()[c];
        SCOPED_TRACE(info.Name);
        EXPECT_EQ(info.Name, expected[c].Name);
        EXPECT_EQ(info.Type, expected[c].Type);
        EXPECT_EQ(info.DefinedSize, expected[c].Size);
        EXPECT_EQ(info.Attributes, expected[c].Attributes);
        EXPECT_EQ(info.BaseTableName, "Publishers");
        EXPECT_EQ(info.BaseColumnName, info.Name);
        EXPECT_EQ(info.BaseCatalogName, "pubs");
        EXPECT_EQ(Describe(*store, store->GetRows()[0], c), expected[c].Value);
    }
    EXPECT_EQ(store->GetStatus(store->GetRows()[0]), adRecUnmodified);

    // Saved again it is the same TableGram but for three choices of ours: a
    // synchronous fetch hint, the bare table name as the original name, and
    // the spare bits of the presence bitmap left zero.
    std::string ours = windows;
    ours[35] = '\x01';
    const std::size_t table = 0x2C4 - 0x1B6, tableEnd = 0x311 - 0x1B6;
    const std::string tableElement = Hex("05 36 00 01 00") + Name16("Publishers") + Name16("Publishers") +
                                     Hex("00 00 05 00 01 00 01 00");
    ours.replace(table, tableEnd - table, tableElement);
    const std::size_t presence = ours.size() - 36;  // after the row token
    ASSERT_EQ(ours[presence], '\xFF');
    ours[presence] = '\xF0';
    EXPECT_EQ(SaveAdtg(*store), ours);
}

// ---- Column types -----------------------------------------------------------------------------------

TEST(PersistAdtg, EveryTypeFamilyReadsFromHandBuiltBytes) {
    struct TCase {
        const char* Label;
        unsigned DbType;
        std::uint32_t MaxLength;
        std::uint32_t Flags;
        const char* Value;  // the column data as hex
        DataTypeEnum Type;
        const char* Expected;
    };
    const TCase cases[] = {
        {"I2", 0x02, 2, Fixed, "FE FF", adSmallInt, "-2"},
        {"I4", 0x03, 4, Fixed, "2A 00 00 00", adInteger, "42"},
        {"R4", 0x04, 4, Fixed, "00 00 C0 3F", adSingle, "1.5"},
        {"R8", 0x05, 8, Fixed, "00 00 00 00 00 00 F8 BF", adDouble, "-1.5"},
        {"CY 1.2345", 0x06, 8, Fixed, "39 30 00 00 00 00 00 00", adCurrency, "1.2345"},
        {"DATE 2.25", 0x07, 8, Fixed, "00 00 00 00 00 00 02 40", adDate, "1900-01-01 06:00:00"},
        {"BOOL", 0x0B, 2, Fixed, "FF FF", adBoolean, "True"},
        {"DECIMAL -123.45", 0x0E, 16, Fixed, "00 00 02 80 00 00 00 00 39 30 00 00 00 00 00 00", adDecimal, "-123.45"},
        {"I1", 0x10, 1, Fixed, "FF", adTinyInt, "-1"},
        {"UI1", 0x11, 1, Fixed, "FF", adUnsignedTinyInt, "255"},
        {"UI2", 0x12, 2, Fixed, "FF FF", adUnsignedSmallInt, "65535"},
        {"UI4", 0x13, 4, Fixed, "FF FF FF FF", adUnsignedInt, "4294967295"},
        {"I8", 0x14, 8, Fixed, "FF FF FF FF FF FF FF 7F", adBigInt, "9223372036854775807"},
        {"UI8", 0x15, 8, Fixed, "FF FF FF FF FF FF FF FF", adUnsignedBigInt, "18446744073709551615"},
        {"GUID", 0x48, 16, Fixed, "FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF", adGUID,
         "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
        {"BYTES short", 0x80, 10, 0, "03 01 02 03", adVarBinary, "010203"},
        {"BYTES long", 0x80, 0xFFFFFFFF, Long, "02 00 00 00 AB CD", adLongVarBinary, "abcd"},
        {"BYTES fixed", 0x80, 2, Fixed, "AB CD", adBinary, "abcd"},
        {"STR short", 0x81, 10, 0, "02 68 69", adVarChar, "hi"},
        {"STR windows-1252", 0x81, 10, 0, "03 E9 74 80", adVarChar, "\xC3\xA9t\xE2\x82\xAC"},
        {"STR UTF-8", 0x81, 10, 0, "03 C3 A9 74", adVarChar, "\xC3\xA9t"},
        {"STR fixed", 0x81, 3, Fixed, "61 62 20", adChar, "ab "},
        {"WSTR short", 0x82, 20, 0, "04 68 00 69 00", adVarWChar, "hi"},
        {"WSTR long", 0x82, 0xFFFFFFFF, Long, "06 00 00 00 3D D8 00 DE 21 00", adLongVarWChar, "\xF0\x9F\x98\x80!"},
        {"WSTR 200 characters", 0x82, 200, 0, "02 00 00 00 E9 00", adVarWChar, "\xC3\xA9"},
        {"WSTR fixed", 0x82, 3, Fixed, "61 00 62 00 20 00", adWChar, "ab "},
        {"BSTR", 0x08, 10, 0, "02 7A 00", adBSTR, "z"},
        {"DBDATE", 0x85, 6, Fixed, "E8 07 02 00 1D 00", adDBDate, "2024-02-29"},
        {"DBTIME", 0x86, 6, Fixed, "0D 00 2D 00 1E 00", adDBTime, "13:45:30"},
        {"DBTIMESTAMP", 0x87, 16, Fixed, "E8 07 02 00 1D 00 17 00 3B 00 3A 00 40 4B 4C 00", adDBTimeStamp,
         "2024-02-29 23:59:58.005"},
        {"NUMERIC", 0x83, 19, Fixed, "0A 02 01 39 30 00 00 00 00 00 00 00 00 00 00 00 00 00 00", adNumeric, "123.45"},
        {"VARNUMERIC", 0x8B, 19, Fixed, "05 00 00 39 30 00", adVarNumeric, "-12345"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Label);
        const std::string gram = Head(1) + Column(1, "v", tc.DbType, tc.MaxLength, tc.Flags, 10, 2) + Hex("07") +
                                 Hex(tc.Value) + Hex("0F");
        std::unique_ptr<TRowStore> store;
        ASSERT_NO_THROW(store = LoadAdtg(gram)) << LoadError(gram);
        EXPECT_EQ(store->GetColumns()[0].Type, tc.Type);
        ASSERT_EQ(store->GetRowCount(), 1u);
        EXPECT_EQ(Describe(*store, store->GetRows()[0], 0), tc.Expected);
        // What was read writes back and reads again to the same value.
        auto again = LoadAdtg(SaveAdtg(*store));
        EXPECT_EQ(Describe(*again, again->GetRows()[0], 0), tc.Expected);
    }
}

// ---- Nulls and pending changes ------------------------------------------------------------------------------

// ID: a fixed, non-nullable key; Name: nullable wide text of up to 20 characters.
std::string PendingGram() {
    return Head(2) + Column(1, "ID", 0x03, 4, Fixed | Key) + Column(2, "Name", 0x82, 20, Nullable) +
           Hex("07 80 01 00 00 00 06 41 00 6E 00 6E 00") +                        // unchanged: 1 "Ann"
           Hex("07 80 02 00 00 00 06 42 00 6F 00 62 00 0A 40 00 06 52 00 6F 00 62 00") +  // 2 "Bob" -> "Rob"
           Hex("07 80 03 00 00 00 06 43 00 79 00 20 00 0A 40 40") +                // 3 "Cy " -> Null (forced)
           Hex("07 00 04 00 00 00 0C") +                                          // 4 with a Null name, deleted
           Hex("0D C0 00 05 00 00 00 06 45 00 76 00 65 00") +                     // new: 5 "Eve"
           Hex("0D 80 00 06 00 00 00") +                                          // new: 6, name not set
           Hex("07 80 07 00 00 00 02 47 00 0A 00 00") +                           // 7 "G", changed to itself
           Hex("0F");
}

TEST(PersistAdtg, HandBuiltPendingChangesOfEveryKindLoad) {
    auto store = LoadAdtg(PendingGram());
    ASSERT_EQ(store->GetRowCount(), 7u);
    const auto& rows = store->GetRows();
    const struct {
        int Status;
        const char* Original;
        const char* Current;
    } expected[] = {
        {adRecUnmodified, "Ann", "Ann"}, {adRecModified, "Bob", "Rob"}, {adRecModified, "Cy ", "Null"},
        {adRecDeleted, "Null", "Null"},  {adRecNew, "Null", "Eve"},     {adRecNew, "Null", "Null"},
        {adRecModified, "G", "G"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(store->GetStatus(rows[i]), expected[i].Status);
        EXPECT_EQ(Describe(*store, rows[i], 0), std::to_string(i + 1));
        EXPECT_EQ(Describe(*store, rows[i], 1, vvOriginal), expected[i].Original);
        if (!(expected[i].Status & adRecDeleted)) {
            EXPECT_EQ(Describe(*store, rows[i], 1), expected[i].Current);
        }
    }
    EXPECT_EQ(store->GetPendingCount(), 6u);
    EXPECT_TRUE(store->IsChanged(rows[2], 1));
    EXPECT_FALSE(store->IsChanged(rows[1], 0));
    // Saved as it was loaded, it is the same TableGram but for the properties this engine writes.
    auto again = LoadAdtg(SaveAdtg(*store));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(again->GetStatus(again->GetRows()[i]), store->GetStatus(rows[i]));
        EXPECT_EQ(Describe(*again, again->GetRows()[i], 1, vvOriginal), Describe(*store, rows[i], 1, vvOriginal));
    }
}

// ---- Round trips ---------------------------------------------------------------------------------------

TColumnInfo Col(const char* name, DataTypeEnum type, int size = 0, int attrs = adFldMayBeNull | adFldIsNullable) {
    TColumnInfo c = MakeColumn(name, type, size);
    c.Attributes = attrs | (c.Attributes & adFldFixed);
    return c;
}

// Every type the format holds, base names, and rows unchanged, changed (also
// to Null and back to the same value), changed then deleted, deleted and new.
std::unique_ptr<TRowStore> Everything() {
    std::vector<TColumnInfo> cols = {
        Col("ID", adInteger, 4, adFldKeyColumn | adFldUpdatable),
        Col("Order Name", adVarWChar, 30, adFldUpdatable | adFldIsNullable | adFldMayBeNull),
        Col("memo", adLongVarWChar, 1073741823, adFldLong | adFldMayBeNull),
        Col("code", adWChar, 4, adFldFixed | adFldMayBeNull), Col("narrow", adVarChar, 10),
        Col("ti", adTinyInt), Col("si", adSmallInt), Col("bi", adBigInt), Col("ub", adUnsignedTinyInt),
        Col("uw", adUnsignedSmallInt), Col("ui", adUnsignedInt), Col("ubi", adUnsignedBigInt), Col("f", adSingle),
        Col("d", adDouble), Col("cy", adCurrency), Col("num", adNumeric), Col("dec", adDecimal), Col("ok", adBoolean),
        Col("g", adGUID), Col("dt", adDate), Col("day", adDBDate), Col("clock", adDBTime), Col("ts", adDBTimeStamp),
        Col("bin", adBinary, 4, adFldFixed | adFldMayBeNull), Col("vbin", adVarBinary, 100),
        Col("blob", adLongVarBinary, 2147483647, adFldLong | adFldMayBeNull), Col("vn", adVarNumeric),
    };
    cols[15].Precision = 12;
    cols[15].NumericScale = 3;
    cols[16].Precision = 20;
    cols[16].NumericScale = 6;
    // Fixed-width types with the sizes ADO gives them (which travel as their lengths).
    for (auto [column, size] : {std::pair{15, 19}, {17, 2}, {20, 6}, {21, 6}, {22, 16}}) cols[column].DefinedSize = size;
    cols[0].BaseCatalogName = "main";
    cols[0].BaseSchemaName = "dbo";
    cols[0].BaseTableName = "orders";
    cols[0].BaseColumnName = "id";
    cols[0].AutoIncrement = true;
    cols[1].BaseTableName = "orders";
    cols[4].BaseTableName = "customers";
    cols[4].BaseColumnName = "nm";
    auto store = std::make_unique<TRowStore>(cols);
    const std::vector<Variant> values = {
        Variant(1), Variant("A & B <C> \xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80"),
        Variant(std::string("line\nbreak \0 nul", 16) + std::string(300, 'x')), Variant("abcd"), Variant("narrow"),
        Variant(static_cast<signed char>(-5)), Variant(static_cast<short>(-300)), Variant(-9000000000000000000LL),
        Variant(static_cast<unsigned char>(250)), Variant(static_cast<unsigned short>(65000)), Variant(4000000000u),
        Variant(18000000000000000000ULL), Variant(0.1f), Variant(1.0 / 3.0), Variant(Rtl::Currency::FromScaled(-1234567)),
        Variant(Rtl::StrToDecimal("-123456789.125")), Variant(Rtl::StrToDecimal("12345678901234.000001")), Variant(true),
        Variant(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), Date(2024, 2, 29, 23, 59), Date(1899, 12, 30),
        Variant(Rtl::TDateTime(0.5)), Date(1, 1, 1), Rtl::BytesToVarArray("\x00\xFF\x10\x7F", 4),
        Rtl::BytesToVarArray("", 0), Rtl::BytesToVarArray(std::string(70000, '\xAB').data(), 70000),
        Variant(Rtl::StrToDecimal("-79228162514264337593543950335"))};
    const TRowId r = store->AddNew();
    for (std::size_t c = 0; c < values.size(); ++c) store->SetValue(r, c, values[c]);
    store->AcceptChanges(r);
    PersistTest::AddPendingChanges(*store);
    return store;
}

TEST(PersistAdtg, EveryTypeAndPendingChangeRoundTripsToTheSameBytes) {
    auto store = Everything();
    const String first = SaveAdtg(*store);
    auto loaded = LoadAdtg(first);
    ExpectSameStores(*store, *loaded);
    EXPECT_EQ(loaded->GetPendingCount(), store->GetPendingCount());
    EXPECT_EQ(SaveAdtg(*loaded), first);
}

TEST(PersistAdtg, AReopenedRecordsetCanBeEditedAndSavedAgain) {
    auto loaded = LoadAdtg(SaveAdtg(*Everything()));
    const TRowId first = loaded->GetRows()[0];
    loaded->SetValue(first, 1, Variant("edited after reopening"));
    loaded->SetValue(loaded->GetRows()[1], 4, Variant("also"));  // a second change of a changed row
    const TRowId added = loaded->AddNew();
    loaded->SetValue(added, 0, Variant(99));
    loaded->Delete(loaded->GetRows()[2]);
    auto again = LoadAdtg(SaveAdtg(*loaded));
    ExpectSameStores(*loaded, *again);
    EXPECT_EQ(again->GetStatus(again->GetRows()[0]), adRecModified);
    EXPECT_EQ(Describe(*again, again->GetRows()[0], 1, vvOriginal), "A & B <C> \xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(Describe(*again, again->GetRows()[1], 14), "Null");  // the earlier change to Null is kept
}

TEST(PersistAdtg, XmlToAdtgToXmlKeepsEverything) {
    const String xml = SaveXml(*Everything());
    auto fromXml = LoadXml(xml);
    auto viaAdtg = LoadAdtg(SaveAdtg(*fromXml));
    ExpectSameStores(*fromXml, *viaAdtg);
    EXPECT_EQ(SaveXml(*viaAdtg), xml);
}

TEST(PersistAdtg, AColumnWithoutNullableFlagsStillKeepsItsNulls) {
    // A row read with a Null in a column that claims no Nulls: the saved column says it may hold one.
    std::vector<TColumnInfo> cols = {Col("k", adInteger, 4, 0), Col("t", adVarWChar, 5, 0)};
    TRowStore store(cols);
    TRowBuffer row(2);
    row[0].Null = false;
    row[0].I = 7;
    store.Append(row);
    auto back = LoadAdtg(SaveAdtg(store));
    EXPECT_EQ(Describe(*back, back->GetRows()[0], 0), "7");
    EXPECT_EQ(Describe(*back, back->GetRows()[0], 1), "Null");
    EXPECT_TRUE(back->GetColumns()[1].HasAttribute(adFldMayBeNull));
    EXPECT_FALSE(back->GetColumns()[0].HasAttribute(adFldMayBeNull));
}

TEST(PersistAdtg, ValuesTheFormatCannotHoldAreRefusedByName) {
    struct TCase {
        TColumnInfo Column;
        Variant Value;
        const char* Message;
    };
    const TCase cases[] = {
        {Col("code", adChar, 2, adFldFixed | adFldMayBeNull), Variant("\xE6\x97\xA5\xE6\x9C\xAC"),
         "Column \"code\" (adChar) has a value that takes more than the column's 2 bytes"},
        {Col("clock", adDBTime), Variant(Rtl::TDateTime(0.5 + 0.5 / 86400)),
         "Column \"clock\" (adDBTime) has a value that has fractions of a second, which adDBTime cannot hold"},
    };
    for (const auto& tc : cases) {
        TRowStore store({tc.Column});
        store.SetValue(store.AddNew(), 0, tc.Value);
        EXPECT_NE(ErrorOf([&] { SaveAdtg(store); }).find(tc.Message), std::string::npos)
            << ErrorOf([&] { SaveAdtg(store); });
    }
}

// ---- Hostile input ----------------------------------------------------------------------------------------

TEST(PersistAdtg, EveryTruncationIsRefusedAndNamesItsOffset) {
    for (const std::string& gram : {PendingGram(), SaveAdtg(*Everything())}) {
        for (std::size_t n = 0; n < gram.size(); n += (n < 2000 ? 1 : 997)) {
            const std::string message = LoadError(std::string_view(gram).substr(0, n));
            ASSERT_NE(message, "") << "a prefix of " << n << " bytes loaded";
            ASSERT_NE(message.find("at byte"), std::string::npos) << message;
        }
    }
}

TEST(PersistAdtg, CorruptTableGramsAreRefusedClearly) {
    const std::string head = Head(2) + Column(1, "ID", 0x03, 4, Fixed | Key);
    const std::string name = Column(2, "Name", 0x82, 20, Nullable);
    const std::string longName = Column(2, "Name", 0x82, 0xFFFFFFFF, Nullable | Long);
    const std::string good = head + name + Hex("07 80 01 00 00 00 02 41 00 0F");
    std::string bigEndian = good, badSignature = good, lyingSize = good;
    bigEndian[7] = '\x01';
    badSignature[4] = '?';
    lyingSize[11] = '\x7F';  // the handler options claim 0x7F19 bytes
    struct TCase {
        std::string Data;
        const char* Message;
    } cases[] = {
        {"", "at byte 0: the data ends inside the header (1 bytes expected, 0 left)"},
        {Hex("02 07 54 47 21"), "at byte 0: expected the header token 0x01, found 0x02"},
        {badSignature, "at byte 2: expected the signature \"TG!\""},
        {bigEndian, "at byte 7: the TableGram is big-endian; only little-endian TableGrams are read"},
        {lyingSize, "at byte 10: the size of the handler options is 32537 bytes, but only 143 remain"},
        {head + Column(2, "v", 0x0C, 16, 0) + Hex("0F"), "the column \"v\" has the unknown data type 0x000C"},
        {head + Column(2, "ch", 0x88, 4, 0x2000) + Hex("0F"), "the column \"ch\" is a chapter of a hierarchical recordset"},
        {head + Column(1, "again", 0x03, 4, Fixed) + Hex("0F"), "the column ordinal 1 appears twice"},
        {head + longName + Hex("07 80 01 00 00 00 F0 FF FF 7F 41"),
         "the value of column \"Name\" takes 2147483632 bytes, but only 1 remain"},
        {head + name + Hex("07 80 01 00 00 00 03 41 00 42"), "the value of column \"Name\" has an odd number of bytes"},
        {head + name + Hex("07 80 01 00 00 00 02 00 D8 0F"), "holds an unpaired UTF-16 surrogate 0xD800"},
        {head + name + Hex("07 80 01 00 00 00 2A") + std::string(42, 'a'),
         "the value of column \"Name\" is longer than the column's 20 characters"},
        {head + name + Hex("87 00 00 00 00 0F"), "rows of child recordsets (token 0x87) are not supported"},
        {head + name + Hex("42 0F"), "expected a row (token 0x07 or 0x0D) or the end token 0x0F, found 0x42"},
        {head + name + Hex("07 00 01 00 00 00"), "the data ends before the end token 0x0F"},
        {good + Hex("00 00"), "2 bytes follow the end token 0x0F"},
        {Head(1) + Column(1, "d", 0x85, 6, Fixed) + Hex("07 E8 07 02 00 1E 00 0F"),
         "the value of column \"d\" is not a valid date or time (2024-2-30 0:0:0)"},
        {Head(1) + Column(1, "m", 0x0E, 16, Fixed) + Hex("07 00 00 1D 00 00 00 00 00 01 00 00 00 00 00 00 00 0F"),
         "the value of column \"m\" has the scale 29, beyond 28"},
        {Head(1) + Column(1, "s", 0x81, 0, Fixed) + Hex("0F"), "the column \"s\" is fixed-length but has no length"},
        {Head(0), "the result has no columns"},
    };
    for (const auto& tc : cases) {
        const std::string message = LoadError(tc.Data);
        EXPECT_NE(message.find(tc.Message), std::string::npos) << message << "\nexpected: " << tc.Message;
        EXPECT_EQ(message.rfind("The ADTG TableGram is invalid at byte ", 0), 0u) << message;
    }
}

// ---- Files ------------------------------------------------------------------------------------------------

TEST(PersistAdtgFiles, SaveAndOpenFilesAndAFailedSaveLeavesThePreviousFile) {
    EngineTest::TTempDir dir;
    const String path = dir.File("people.adtg");
    auto store = People();
    store->SetValue(store->GetRows()[0], 1, Variant("changed"));
    store->Delete(store->GetRows()[1]);
    SaveToFile(*store, path, adPersistADTG);
    auto back = LoadFromFile(path);
    ExpectSameStores(*LoadAdtg(SaveAdtg(*store)), *back);
    EXPECT_EQ(back->GetStatus(back->GetRows()[1]), adRecDeleted);
    std::ifstream in(path, std::ios::binary);
    const String before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(before, SaveAdtg(*store));

    // A value the format cannot hold fails before the file is touched.
    TRowStore bad({Col("code", adChar, 1, adFldFixed | adFldMayBeNull)});
    bad.SetValue(bad.AddNew(), 0, Variant("\xE6\x97\xA5"));  // no windows-1252 byte, three in UTF-8
    EXPECT_NE(ErrorOf([&] { SaveToFile(bad, path, adPersistADTG); }).find("takes more than"), std::string::npos);
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(String((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), before);
    std::size_t files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);

    // A damaged file names the file and the offset.
    std::ofstream(dir.File("cut.adtg"), std::ios::binary) << before.substr(0, 40);
    const std::string message = ErrorOf([&] { LoadFromFile(dir.File("cut.adtg")); });
    EXPECT_NE(message.find("cut.adtg"), std::string::npos) << message;
    EXPECT_NE(message.find("at byte"), std::string::npos) << message;
}

}  // namespace
