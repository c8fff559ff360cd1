// The Advanced Data TableGram (ADTG), the binary format of the RDS transport
// protocol that ADO's adPersistADTG writes.
//
// A TableGram is a sequence of tokens, little-endian throughout:
//   header           01 07 "TG!" major minor byte-order unicode-flag
//   handler options  02 size16 recordset-class-id update-kind url url name async
//   result           03 size16 guid info cursor-model normalisation visible total
//                       computed tables order-by rows32 [property sets]
//   rowset context   10 size16 [property sets]
//   tables           05 size16 ordinal name name code-page columns keys key-ordinals...
//   columns          06 size16 presence24 ordinal [name] [table ordinal] [column
//                       ordinal] [base name] dbtype16 max-length32 precision32
//                       scale32 flags32 [catalog] [schema] [...] visible16
//   rows             07 original-row [0A update-row | 0C]   an unchanged, changed or deleted row
//                    0D update-row                          a new row
//   end              0F
// An original row is a bitmap with one bit per nullable column (1 = a value
// follows) and the values of the columns that have one; an update row is an
// update bitmap and a force-null bitmap with one bit per column and the
// values of the updated, non-null columns. Bitmaps fill each byte from its
// most significant bit. Strings in the metadata are UTF-16 with a 16-bit
// character count.
//
// Values: fixed-width types in their natural width (dates as OLE dates or
// the year/month/day, hour/minute/second and nanosecond structures, GUIDs in
// Windows byte order, decimals as the 16-byte DECIMAL, numerics as the
// 19-byte NUMERIC); text and bytes of fixed-length columns take exactly the
// column's length (wide text two bytes a character), padded with blanks or
// zero bytes; other text and bytes carry their length in bytes in one byte
// when the column's largest value fits in 255 bytes, in four otherwise.
// Narrow (DBTYPE_STR) text is written in windows-1252, the code page Windows
// writes it in, unless a character has no byte there or the bytes would read
// as UTF-8; then it is written as UTF-8. Read back, narrow text that is valid
// UTF-8 is taken as such, other text as windows-1252.
//
// Hierarchical recordsets (chapter columns and child rows) are refused by
// name; property sets are skipped by their sizes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "Platform/data-engine/persist/Persist.h"

namespace DataEngine {

using namespace Velora;

namespace {

using Rtl::Word;
using UInt32 = std::uint32_t;

enum : Byte {
    tkHeader = 0x01,
    tkHandlerOptions = 0x02,
    tkResultDescriptor = 0x03,
    tkTableDescriptor = 0x05,
    tkColumnDescriptor = 0x06,
    tkOriginalRow = 0x07,
    tkChangeRow = 0x0A,
    tkDeleteRow = 0x0C,
    tkInsertRow = 0x0D,
    tkDone = 0x0F,
    tkResultContext = 0x10,
};

// The wire's data type identifiers.
enum : Word {
    dbI2 = 0x02, dbI4 = 0x03, dbR4 = 0x04, dbR8 = 0x05, dbCY = 0x06, dbDate = 0x07, dbBSTR = 0x08,
    dbBool = 0x0B, dbDecimal = 0x0E, dbI1 = 0x10, dbUI1 = 0x11, dbUI2 = 0x12, dbUI4 = 0x13, dbI8 = 0x14,
    dbUI8 = 0x15, dbGuid = 0x48, dbBytes = 0x80, dbStr = 0x81, dbWStr = 0x82, dbNumeric = 0x83,
    dbDBDate = 0x85, dbDBTime = 0x86, dbDBTimeStamp = 0x87, dbChapter = 0x88, dbVarNumeric = 0x8B,
};

constexpr UInt32 NoMaxLength = 0xFFFFFFFFu;
constexpr int FlagFixed = 0x10, FlagNullable = 0x20, FlagMayBeNull = 0x40, FlagLong = 0x80, FlagChapter = 0x2000;

// Presence bits of the optional column descriptor fields.
enum : UInt32 {
    pmFriendlyName = 0x800000, pmBaseTableOrdinal = 0x400000, pmBaseColumnOrdinal = 0x200000,
    pmBaseColumnName = 0x100000, pmBaseCatalog = 0x020000, pmBaseSchema = 0x010000,
    pmCollatingSequence = 0x008000, pmComputeMode = 0x004000, pmDateTimePrecision = 0x002000,
    pmDefaultValue = 0x001000, pmAutoIncrement = 0x000100, pmCaseSensitive = 0x000080,
    pmMultiValued = 0x000040, pmSearchable = 0x000020, pmUnique = 0x000010, pmOctetLength = 0x000008,
    pmCalculationInfo = 0x000004,
};

const Byte RecordsetClassId[16] = {0xB6, 0x92, 0xF2, 0x3F, 0x04, 0xB2, 0xCF, 0x11,
                                   0x8D, 0x23, 0x00, 0xAA, 0x00, 0x5F, 0xFE, 0x58};
const Byte ResultDescriptorId[16] = {0xD2, 0xAD, 0x63, 0xF6, 0x02, 0xEB, 0xCF, 0x11,
                                     0xB0, 0xE3, 0x00, 0xAA, 0x00, 0x3F, 0x00, 0x0F};
const Byte PropSetRowset[16] = {0xBE, 0x22, 0xB5, 0xC8, 0xF3, 0x5C, 0xCE, 0x11,
                                0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D};
const Byte PropSetAdc[16] = {0xC1, 0x3C, 0x8E, 0xB6, 0xEB, 0x6D, 0xD0, 0x11,
                             0x8D, 0xF6, 0x00, 0xAA, 0x00, 0x5F, 0xFE, 0x58};

// How a column's values travel.
struct TWire {
    enum TForm { wfFixed, wfVarNumeric, wfText, wfBytes } Form = wfFixed;
    Word DbType = 0;
    int Width = 0;             // bytes of a fixed-width value (wfFixed)
    bool Wide = false;         // text as UTF-16
    bool FixedLength = false;  // text and bytes of exactly MaxLength characters or bytes
    bool ShortPrefix = false;  // a one-byte length before variable values
    UInt32 MaxLength = NoMaxLength;
};

int FixedWidthOfDbType(Word t) noexcept {
    switch (t) {
        case dbI1: case dbUI1: return 1;
        case dbI2: case dbUI2: case dbBool: return 2;
        case dbI4: case dbUI4: case dbR4: return 4;
        case dbI8: case dbUI8: case dbR8: case dbCY: case dbDate: return 8;
        case dbDBDate: case dbDBTime: return 6;
        case dbDecimal: case dbGuid: case dbDBTimeStamp: return 16;
        case dbNumeric: return 19;
        default: return 0;
    }
}

Word DbTypeOf(DataTypeEnum type) noexcept {
    switch (type) {
        case adSmallInt: return dbI2;
        case adInteger: return dbI4;
        case adSingle: return dbR4;
        case adDouble: return dbR8;
        case adCurrency: return dbCY;
        case adDate: return dbDate;
        case adBSTR: return dbBSTR;
        case adBoolean: return dbBool;
        case adDecimal: return dbDecimal;
        case adTinyInt: return dbI1;
        case adUnsignedTinyInt: return dbUI1;
        case adUnsignedSmallInt: return dbUI2;
        case adUnsignedInt: return dbUI4;
        case adBigInt: return dbI8;
        case adUnsignedBigInt: return dbUI8;
        case adGUID: return dbGuid;
        case adBinary: case adVarBinary: case adLongVarBinary: return dbBytes;
        case adChar: case adVarChar: case adLongVarChar: return dbStr;
        case adWChar: case adVarWChar: case adLongVarWChar: return dbWStr;
        case adNumeric: return dbNumeric;
        case adDBDate: return dbDBDate;
        case adDBTime: return dbDBTime;
        case adDBTimeStamp: return dbDBTimeStamp;
        case adVarNumeric: return dbVarNumeric;
        default: return 0;
    }
}

// The ADO type of a wire type and column flags; adEmpty when unknown.
DataTypeEnum TypeOfDbType(Word t, int flags) noexcept {
    const bool fixed = flags & FlagFixed, isLong = flags & FlagLong;
    switch (t) {
        case dbI2: return adSmallInt;
        case dbI4: return adInteger;
        case dbR4: return adSingle;
        case dbR8: return adDouble;
        case dbCY: return adCurrency;
        case dbDate: return adDate;
        case dbBSTR: return adBSTR;
        case dbBool: return adBoolean;
        case dbDecimal: return adDecimal;
        case dbI1: return adTinyInt;
        case dbUI1: return adUnsignedTinyInt;
        case dbUI2: return adUnsignedSmallInt;
        case dbUI4: return adUnsignedInt;
        case dbI8: return adBigInt;
        case dbUI8: return adUnsignedBigInt;
        case dbGuid: return adGUID;
        case dbBytes: return isLong ? adLongVarBinary : fixed ? adBinary : adVarBinary;
        case dbStr: return isLong ? adLongVarChar : fixed ? adChar : adVarChar;
        case dbWStr: return isLong ? adLongVarWChar : fixed ? adWChar : adVarWChar;
        case dbNumeric: return adNumeric;
        case dbDBDate: return adDBDate;
        case dbDBTime: return adDBTime;
        case dbDBTimeStamp: return adDBTimeStamp;
        case dbVarNumeric: return adVarNumeric;
        default: return adEmpty;
    }
}

// How values of a column travel, from its wire type, length and flags.
TWire WireOf(Word dbType, UInt32 maxLength, int flags, bool unicodeText) {
    TWire w;
    w.DbType = dbType;
    w.MaxLength = maxLength;
    if (dbType == dbVarNumeric) {
        w.Form = TWire::wfVarNumeric;
        return w;
    }
    w.Width = FixedWidthOfDbType(dbType);
    if (w.Width) return w;
    w.Form = dbType == dbBytes ? TWire::wfBytes : TWire::wfText;
    w.Wide = dbType == dbWStr || dbType == dbBSTR || (dbType == dbStr && unicodeText);
    w.FixedLength = (flags & FlagFixed) != 0;
    const UInt64 unit = w.Wide ? 2 : 1;
    w.ShortPrefix = maxLength != NoMaxLength && UInt64(maxLength) * unit <= 255;
    return w;
}

// Bytes of the value of a varnumeric of the given precision: ceil(log256(10^p)).
std::size_t VarNumericBytes(int precision) noexcept {
    if (precision <= 0) return 0;
    return static_cast<std::size_t>(std::ceil(precision * std::log(10.0) / std::log(256.0)));
}

// GUIDs: RFC 4122 order in the store, Windows order (three little-endian fields) on the wire.
void SwapGuid(const Byte in[16], Byte out[16]) noexcept {
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = in[order[i]];
}

const char32_t Cp1252High[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                 0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                 0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

String NarrowToUtf8(std::string_view s) {
    if (Rtl::IsValidUtf8(s)) return String(s);
    String out;
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        Rtl::Utf8Append(out, b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char32_t(b));
    }
    return out;
}

// Narrow text as windows-1252 bytes when every character has one and the
// bytes cannot be mistaken for UTF-8 on reading; as UTF-8 otherwise.
String NarrowBytes(std::string_view utf8) {
    String out;
    out.reserve(utf8.size());
    bool ascii = true;
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = Rtl::Utf8Next(utf8, i);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        ascii = false;
        int byte = -1;
        if (cp >= 0xA0 && cp <= 0xFF) byte = static_cast<int>(cp);
        for (int k = 0; k < 32 && byte < 0; ++k)
            if (Cp1252High[k] == cp) byte = 0x80 + k;
        if (byte < 0) return String(utf8);
        out += static_cast<char>(byte);
    }
    if (!ascii && Rtl::IsValidUtf8(out)) return String(utf8);
    return out;
}

String Hex(unsigned v, int digits = 2) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

// ---- Writing ----------------------------------------------------------------------------------------

class TAdtgWriter {
public:
    String Out;

    void Put8(unsigned v) { Out += static_cast<char>(v & 0xFF); }
    void Put16(unsigned v) { Put8(v); Put8(v >> 8); }
    void Put32(UInt32 v) { Put16(v & 0xFFFF); Put16(v >> 16); }
    void Put64(UInt64 v) { Put32(static_cast<UInt32>(v)); Put32(static_cast<UInt32>(v >> 32)); }
    void PutRaw(const void* p, std::size_t n) { Out.append(static_cast<const char*>(p), n); }
    void PutUtf16(const std::u16string& w) {
        for (char16_t c : w) Put16(c);
    }
    // A 16-bit character count and the UTF-16 characters.
    void PutName(const String& s, const String& what) {
        const std::u16string w = Rtl::Utf8ToWide(s);
        if (w.size() > 0xFFFF)
            throw EPersistError(what + " \"" + ClipForMessage(s, 40) + "\" is longer than the 65535 characters a TableGram holds",
                                AdoErrorHResult(adErrFeatureNotAvailable));
        Put16(static_cast<unsigned>(w.size()));
        PutUtf16(w);
    }
    // A token and a 16-bit size patched in by EndElement.
    std::size_t BeginElement(Byte token) {
        Put8(token);
        Put16(0);
        return Out.size();
    }
    void EndElement(std::size_t start, const String& what) {
        const std::size_t size = Out.size() - start;
        if (size > 0xFFFF)
            throw EPersistError("The description of " + what + " takes " + std::to_string(size) +
                                    " bytes, more than the 65535 a TableGram element holds",
                                AdoErrorHResult(adErrFeatureNotAvailable));
        Out[start - 2] = static_cast<char>(size & 0xFF);
        Out[start - 1] = static_cast<char>(size >> 8);
    }
    void PutBitmap(const std::vector<bool>& bits) {
        for (std::size_t i = 0; i < bits.size(); i += 8) {
            unsigned b = 0;
            for (std::size_t k = 0; k < 8 && i + k < bits.size(); ++k)
                if (bits[i + k]) b |= 0x80u >> k;
            Put8(b);
        }
    }
};

struct TSaveColumn {
    TWire Wire;
    int Flags = 0;
    bool Nullable = false;
    int TableOrdinal = 0;  // 0: no base table
};

[[noreturn]] void ValueError(const TColumnInfo& c, const String& why) {
    throw EPersistError("Column \"" + c.Name + "\" (" + DataTypeName(c.Type) + ") has a value that " + why,
                        hrFail);
}

void PutText(TAdtgWriter& w, const TColumnInfo& c, const TWire& wire, std::string_view text) {
    if (!Rtl::IsValidUtf8(text)) ValueError(c, "is not valid UTF-8");
    String bytes;
    if (wire.Wide) {
        std::u16string u = Rtl::Utf8ToWide(text);
        if (wire.FixedLength) {
            if (u.size() > wire.MaxLength)
                ValueError(c, "is longer than the column's " + std::to_string(wire.MaxLength) + " characters");
            u.resize(wire.MaxLength, u' ');
        }
        bytes.reserve(u.size() * 2);
        for (char16_t ch : u) {
            bytes += static_cast<char>(ch & 0xFF);
            bytes += static_cast<char>(ch >> 8);
        }
    } else {
        bytes = NarrowBytes(text);
        if (wire.FixedLength) {
            if (bytes.size() > wire.MaxLength)
                ValueError(c, "takes more than the column's " + std::to_string(wire.MaxLength) + " bytes");
            bytes.resize(wire.MaxLength, ' ');
        }
    }
    if (!wire.FixedLength) {
        if (wire.ShortPrefix) {
            if (bytes.size() > 255) ValueError(c, "takes " + std::to_string(bytes.size()) + " bytes, more than its column's 255");
            w.Put8(static_cast<unsigned>(bytes.size()));
        } else {
            if (bytes.size() > 0x7FFFFFFF) ValueError(c, "is larger than 2 GB");
            w.Put32(static_cast<UInt32>(bytes.size()));
        }
    }
    w.Out += bytes;
}

void PutBytes(TAdtgWriter& w, const TColumnInfo& c, const TWire& wire, std::string_view data) {
    if (wire.FixedLength) {
        if (data.size() > wire.MaxLength)
            ValueError(c, "takes more than the column's " + std::to_string(wire.MaxLength) + " bytes");
        w.Out += data;
        w.Out.append(wire.MaxLength - data.size(), '\0');
        return;
    }
    if (wire.ShortPrefix) {
        if (data.size() > 255) ValueError(c, "takes " + std::to_string(data.size()) + " bytes, more than its column's 255");
        w.Put8(static_cast<unsigned>(data.size()));
    } else {
        if (data.size() > 0x7FFFFFFF) ValueError(c, "is larger than 2 GB");
        w.Put32(static_cast<UInt32>(data.size()));
    }
    w.Out += data;
}

void PutDecimal16(TAdtgWriter& w, const TDecimal& d) {
    w.Put16(0);
    w.Put8(d.Scale);
    w.Put8(d.Sign);
    w.Put32(d.Hi32);
    w.Put64(d.Lo64);  // low 32 bits, then the middle 32
}

void PutValue(TAdtgWriter& w, const TColumnInfo& c, const TWire& wire, const TCell& cell) {
    switch (wire.Form) {
        case TWire::wfText: PutText(w, c, wire, cell.GetView()); return;
        case TWire::wfBytes: PutBytes(w, c, wire, cell.GetView()); return;
        case TWire::wfVarNumeric: {
            const TDecimal d = cell.GetDecimal();
            w.Put8(29);  // digits of the 96-bit mantissa
            w.Put8(d.Scale);
            w.Put8(d.Sign ? 0 : 1);
            Byte value[16] = {};
            for (int i = 0; i < 8; ++i) value[i] = static_cast<Byte>(d.Lo64 >> (8 * i));
            for (int i = 0; i < 4; ++i) value[8 + i] = static_cast<Byte>(d.Hi32 >> (8 * i));
            w.PutRaw(value, VarNumericBytes(29));
            return;
        }
        case TWire::wfFixed: break;
    }
    switch (wire.DbType) {
        case dbI1: case dbUI1: w.Put8(static_cast<unsigned>(cell.U)); return;
        case dbI2: case dbUI2: w.Put16(static_cast<unsigned>(cell.U)); return;
        case dbI4: case dbUI4: w.Put32(static_cast<UInt32>(cell.U)); return;
        case dbI8: case dbUI8: case dbCY: w.Put64(cell.U); return;
        case dbBool: w.Put16(cell.I ? 0xFFFF : 0); return;
        case dbR4: {
            const float f = static_cast<float>(cell.D);
            UInt32 bits;
            std::memcpy(&bits, &f, 4);
            w.Put32(bits);
            return;
        }
        case dbR8: case dbDate: {
            UInt64 bits;
            std::memcpy(&bits, &cell.D, 8);
            w.Put64(bits);
            return;
        }
        case dbDecimal: PutDecimal16(w, cell.GetDecimal()); return;
        case dbNumeric: {
            const TDecimal d = cell.GetDecimal();
            w.Put8(c.Precision != 255 && c.Precision > 0 ? c.Precision : 29);
            w.Put8(d.Scale);
            w.Put8(d.Sign ? 0 : 1);
            w.Put64(d.Lo64);
            w.Put32(d.Hi32);
            w.Put32(0);
            return;
        }
        case dbGuid: {
            Byte g[16];
            SwapGuid(cell.Raw, g);
            w.PutRaw(g, 16);
            return;
        }
        case dbDBDate: case dbDBTime: case dbDBTimeStamp: {
            int y, mo, d, h, mi, s, us;
            if (!DecodeDateTimeUs(cell.D, y, mo, d, h, mi, s, us)) ValueError(c, "is not a date");
            if (wire.DbType != dbDBTime) {
                if (y < 0 || y > 9999) ValueError(c, "lies outside the years 0 to 9999");
                w.Put16(y);
                w.Put16(mo);
                w.Put16(d);
            }
            if (wire.DbType == dbDBDate && (h || mi || s || us)) ValueError(c, "has a time of day, which adDBDate cannot hold");
            if (wire.DbType != dbDBDate) {
                w.Put16(h);
                w.Put16(mi);
                w.Put16(s);
            }
            if (wire.DbType == dbDBTime && us) ValueError(c, "has fractions of a second, which adDBTime cannot hold");
            if (wire.DbType == dbDBTimeStamp) w.Put32(static_cast<UInt32>(us) * 1000u);
            return;
        }
        default: break;
    }
    ValueError(c, "cannot be written");
}

void PutPropertyInt(TAdtgWriter& w, UInt32 id, UInt32 value) {
    w.Put32(id);
    w.Put16(4);
    w.Put32(value);
}
void PutPropertyBool(TAdtgWriter& w, UInt32 id, bool value) {
    w.Put32(id);
    w.Put16(2);
    w.Put16(value ? 0xFFFF : 0);
}
void PutPropertyEmptyText(TAdtgWriter& w, UInt32 id) {
    w.Put32(id);
    w.Put16(0);
}

}  // namespace

String SaveAdtg(const TRowStore& store) {
    const auto& columns = store.GetColumns();
    const std::size_t n = columns.size();
    if (n > 0xFFFF)
        throw EPersistError("A TableGram holds at most 65535 columns, not " + std::to_string(n),
                            AdoErrorHResult(adErrFeatureNotAvailable));
    const auto& rows = store.GetRows();

    // Columns: wire forms, flags, base tables.
    std::vector<TSaveColumn> cols(n);
    std::vector<String> tables;  // by ordinal - 1
    for (std::size_t i = 0; i < n; ++i) {
        const TColumnInfo& c = columns[i];
        const Word dbType = DbTypeOf(c.Type);
        if (!dbType)
            throw EPersistError("Column \"" + c.Name + "\" is of type " + DataTypeName(c.Type) +
                                    ", which the ADTG format cannot hold",
                                AdoErrorHResult(adErrFeatureNotAvailable));
        TSaveColumn& s = cols[i];
        s.Flags = c.Attributes & 0xFFFF & ~FlagChapter;
        const int width = FixedWidthOfDbType(dbType);
        const UInt32 maxLength = width ? UInt32(width) : c.DefinedSize > 0 ? UInt32(c.DefinedSize) : NoMaxLength;
        s.Wire = WireOf(dbType, maxLength, s.Flags, false);
        if (s.Wire.FixedLength && (maxLength == NoMaxLength || maxLength == 0))
            throw EPersistError("Column \"" + c.Name + "\" is fixed-length but has no length", hrFail);
        if (!c.BaseTableName.empty()) {
            std::size_t t = 0;
            while (t < tables.size() && tables[t] != c.BaseTableName) ++t;
            if (t == tables.size()) tables.push_back(c.BaseTableName);
            s.TableOrdinal = static_cast<int>(t + 1);
        }
    }
    // A column that holds a null in a row written with its original values
    // says so in its flags: only nullable columns can leave a value out.
    for (TRowId r : rows) {
        if (store.GetStatus(r) & adRecNew) continue;
        const TValueVersion v = store.HasOriginal(r) ? vvOriginal : vvCurrent;
        for (std::size_t i = 0; i < n; ++i)
            if (!(cols[i].Flags & (FlagNullable | FlagMayBeNull)) && store.IsNull(r, i, v)) cols[i].Flags |= FlagMayBeNull;
    }
    std::size_t nullable = 0;
    for (auto& s : cols) {
        s.Nullable = (s.Flags & (FlagNullable | FlagMayBeNull)) != 0;
        nullable += s.Nullable;
    }

    TAdtgWriter w;
    w.Out.reserve(512 + n * 64 + rows.size() * (store.GetRecordSize() + 4));
    // Header: version 0.0, little-endian, narrow text as bytes.
    w.Put8(tkHeader);
    w.Put8(7);
    w.Out += "TG!";
    w.Put8(0);
    w.Put8(0);
    w.Put8(0);
    w.Put8(0);
    // Handler options.
    std::size_t at = w.BeginElement(tkHandlerOptions);
    w.PutRaw(RecordsetClassId, 16);
    w.Put8(1);   // columns-only updates
    w.Put16(0);  // original URL
    w.Put16(0);  // update URL
    w.Put16(0);  // friendly name
    w.Put16(1);  // synchronous fetch
    w.EndElement(at, "the handler options");
    // Result descriptor with the properties Windows writes for a rowset.
    std::size_t computed = 0;
    for (const auto& s : cols) computed += s.TableOrdinal == 0;
    at = w.BeginElement(tkResultDescriptor);
    w.PutRaw(ResultDescriptorId, 16);
    w.Put8(0);  // reserved
    w.Put8(0);  // snapshot
    w.Put8(0);  // not normalised
    w.Put16(static_cast<unsigned>(n));
    w.Put16(static_cast<unsigned>(n));
    w.Put16(static_cast<unsigned>(computed));
    w.Put16(static_cast<unsigned>(tables.size()));
    w.Put16(0);
    w.Put32(static_cast<UInt32>(rows.size()));
    w.Put16(1);
    w.PutRaw(PropSetAdc, 16);
    w.Put16(7);
    PutPropertyInt(w, 0x0B, 1);  // Auto Recalc
    PutPropertyInt(w, 0x13, 1);  // Update Resync
    for (UInt32 id : {0x0Du, 0x0Eu, 0x0Fu, 0x10u, 0x12u}) PutPropertyEmptyText(w, id);  // unique table ... reshape name
    w.EndElement(at, "the result");
    // Rowset context: changeable, updatable in batches.
    at = w.BeginElement(tkResultContext);
    w.Put16(2);
    w.PutRaw(PropSetRowset, 16);
    w.Put16(4);
    PutPropertyBool(w, 0x7F, true);  // IRowsetChange
    PutPropertyBool(w, 0x86, true);  // IRowsetUpdate
    PutPropertyInt(w, 0x22, 30);     // command timeout
    PutPropertyInt(w, 0x49, 0);      // maximum rows
    w.PutRaw(PropSetAdc, 16);
    w.Put16(5);
    PutPropertyInt(w, 0x04, 15);  // batch size
    PutPropertyInt(w, 0x05, 2);   // update criteria: updated columns
    PutPropertyInt(w, 0x03, 15);  // background fetch size
    PutPropertyInt(w, 0x07, 50);  // initial fetch size
    PutPropertyInt(w, 0x08, 3);   // background thread priority
    w.EndElement(at, "the rowset context");
    // Base tables.
    for (std::size_t t = 0; t < tables.size(); ++t) {
        at = w.BeginElement(tkTableDescriptor);
        w.Put16(static_cast<unsigned>(t + 1));
        w.PutName(tables[t], "The table name");
        w.PutName(tables[t], "The table name");
        w.Put16(0);  // code page
        std::vector<unsigned> keys;
        unsigned count = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (cols[i].TableOrdinal != int(t + 1)) continue;
            ++count;
            if (columns[i].HasAttribute(adFldKeyColumn)) keys.push_back(static_cast<unsigned>(i + 1));
        }
        w.Put16(count);
        w.Put16(static_cast<unsigned>(keys.size()));
        for (unsigned k : keys) w.Put16(k);
        w.EndElement(at, "the table \"" + tables[t] + "\"");
    }
    // Columns.
    for (std::size_t i = 0; i < n; ++i) {
        const TColumnInfo& c = columns[i];
        const TSaveColumn& s = cols[i];
        UInt32 presence = pmFriendlyName | pmAutoIncrement;
        if (s.TableOrdinal) presence |= pmBaseTableOrdinal | pmBaseColumnOrdinal;
        if (!c.BaseColumnName.empty()) presence |= pmBaseColumnName;
        if (!c.BaseCatalogName.empty()) presence |= pmBaseCatalog;
        if (!c.BaseSchemaName.empty()) presence |= pmBaseSchema;
        at = w.BeginElement(tkColumnDescriptor);
        w.Put8(presence >> 16);
        w.Put8(presence >> 8);
        w.Put8(presence);
        w.Put16(static_cast<unsigned>(i + 1));
        w.PutName(c.Name, "The column name");
        if (s.TableOrdinal) {
            w.Put16(static_cast<unsigned>(s.TableOrdinal));
            w.Put16(static_cast<unsigned>(i + 1));
        }
        if (presence & pmBaseColumnName) w.PutName(c.BaseColumnName, "The base column name");
        w.Put16(s.Wire.DbType);
        w.Put32(s.Wire.MaxLength);
        w.Put32(c.Precision);
        w.Put32(c.NumericScale);
        w.Put32(static_cast<UInt32>(s.Flags));
        if (presence & pmBaseCatalog) w.PutName(c.BaseCatalogName, "The base catalog name");
        if (presence & pmBaseSchema) w.PutName(c.BaseSchemaName, "The base schema name");
        w.Put16(c.AutoIncrement ? 0xFFFF : 0);
        w.Put16(0xFFFF);  // visible
        w.EndElement(at, "the column \"" + c.Name + "\"");
    }
    // Rows, in arrival order.
    std::vector<bool> present(nullable), update(n), forceNull(n);
    auto originalRow = [&](TRowId r, TValueVersion v) {
        w.Put8(tkOriginalRow);
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (cols[i].Nullable) present[k++] = !store.IsNull(r, i, v);
        w.PutBitmap(present);
        for (std::size_t i = 0; i < n; ++i) {
            const TCell cell = store.GetCell(r, i, v);
            if (!cell.Null) PutValue(w, columns[i], cols[i].Wire, cell);
        }
    };
    auto updateRow = [&](TRowId r) {
        w.PutBitmap(update);
        w.PutBitmap(forceNull);
        for (std::size_t i = 0; i < n; ++i)
            if (update[i] && !forceNull[i]) PutValue(w, columns[i], cols[i].Wire, store.GetCell(r, i));
    };
    for (TRowId r : rows) {
        const int status = store.GetStatus(r);
        if (status & adRecNew) {
            w.Put8(tkInsertRow);
            for (std::size_t i = 0; i < n; ++i) {
                update[i] = !store.IsNull(r, i);
                forceNull[i] = false;
            }
            updateRow(r);
        } else if (status & adRecDeleted) {
            originalRow(r, store.HasOriginal(r) ? vvOriginal : vvCurrent);
            w.Put8(tkDeleteRow);
        } else if (status & adRecModified) {
            originalRow(r, vvOriginal);
            w.Put8(tkChangeRow);
            for (std::size_t i = 0; i < n; ++i) {
                update[i] = store.IsChanged(r, i);
                forceNull[i] = update[i] && store.IsNull(r, i);
            }
            updateRow(r);
        } else {
            originalRow(r, vvCurrent);
        }
    }
    w.Put8(tkDone);
    return std::move(w.Out);
}

// ---- Reading ----------------------------------------------------------------------------------------

namespace {

class TAdtgReader {
public:
    explicit TAdtgReader(std::string_view data) : FData(data) {}

    std::size_t Pos() const noexcept { return FPos; }
    std::size_t Remaining() const noexcept { return FData.size() - FPos; }
    bool AtEnd() const noexcept { return FPos >= FData.size(); }

    [[noreturn]] void Fail(std::size_t offset, const String& why) const {
        throw EPersistError("The ADTG TableGram is invalid at byte " + std::to_string(offset) + ": " + why, hrFail);
    }
    void Need(std::size_t n, const char* what) const {
        if (n > Remaining())
            Fail(FPos, String("the data ends inside ") + what + " (" + std::to_string(n) + " bytes expected, " +
                           std::to_string(Remaining()) + " left)");
    }
    unsigned Get8(const char* what) {
        Need(1, what);
        return static_cast<unsigned char>(FData[FPos++]);
    }
    unsigned Get16(const char* what) {
        Need(2, what);
        const unsigned v = Byte(FData[FPos]) | unsigned(Byte(FData[FPos + 1])) << 8;
        FPos += 2;
        return v;
    }
    UInt32 Get32(const char* what) {
        Need(4, what);
        UInt32 v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | Byte(FData[FPos + i]);
        FPos += 4;
        return v;
    }
    UInt64 Get64(const char* what) {
        Need(8, what);
        UInt64 v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | Byte(FData[FPos + i]);
        FPos += 8;
        return v;
    }
    std::string_view GetBytes(std::size_t n, const char* what) {
        Need(n, what);
        const std::string_view v = FData.substr(FPos, n);
        FPos += n;
        return v;
    }
    void Skip(std::size_t n, const char* what) { GetBytes(n, what); }
    unsigned Peek() const noexcept { return AtEnd() ? 0x100 : static_cast<unsigned char>(FData[FPos]); }

    // UTF-16LE bytes to UTF-8; unpaired surrogates are refused.
    String Utf16(std::string_view bytes, std::size_t offset, const String& what) const {
        std::u16string u(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < u.size(); ++i)
            u[i] = static_cast<char16_t>(Byte(bytes[2 * i]) | unsigned(Byte(bytes[2 * i + 1])) << 8);
        for (std::size_t i = 0; i < u.size(); ++i) {
            const char16_t c = u[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                Fail(offset + 2 * i, what + " holds an unpaired UTF-16 surrogate " + Hex(c, 4));
            }
        }
        return Rtl::WideToUtf8(u);
    }
    // A 16-bit character count and UTF-16 characters.
    String GetName(const char* what) {
        const std::size_t at = FPos;
        const unsigned count = Get16(what);
        return Utf16(GetBytes(std::size_t(count) * 2, what), at + 2, what);
    }

    std::string_view FData;
    std::size_t FPos = 0;
};

struct TLoadColumn {
    TColumnInfo Info;
    TWire Wire;
    int Ordinal = 0;
    int TableOrdinal = 0;
    bool Nullable = false;
};

class TAdtgLoader {
public:
    explicit TAdtgLoader(std::string_view data) : R(data) {}

    std::unique_ptr<TRowStore> Load() {
        ReadHeader();
        ReadHandlerOptions();
        ReadResultDescriptor();
        ReadElements();
        MakeStore();
        ReadRows();
        return std::move(FStore);
    }

private:
    // Reads a token and a 16-bit size; checks the element lies inside the data.
    std::size_t BeginElement(Byte token, const char* what) {
        const std::size_t at = R.Pos();
        const unsigned t = R.Get8(what);
        if (t != token) R.Fail(at, String("expected ") + what + " (token " + Hex(token) + "), found " + Hex(t));
        const std::size_t sizeAt = R.Pos();
        const unsigned size = R.Get16(what);
        if (size > R.Remaining())
            R.Fail(sizeAt, "the size of " + String(what) + " is " + std::to_string(size) + " bytes, but only " +
                               std::to_string(R.Remaining()) + " remain");
        return R.Pos() + size;
    }
    // Checks what was read of an element stayed inside it and moves to its end.
    void EndElement(std::size_t end, std::size_t start, const char* what) {
        if (R.Pos() > end)
            R.Fail(start, String(what) + " holds more than its size of " + std::to_string(end - start - 3) + " bytes");
        R.FPos = end;
    }

    void ReadHeader() {
        const unsigned token = R.Get8("the header");
        if (token != tkHeader) R.Fail(0, "expected the header token 0x01, found " + Hex(token));
        const unsigned size = R.Get8("the header");
        if (size < 7) R.Fail(1, "the header size is " + std::to_string(size) + ", expected 7");
        if (R.GetBytes(3, "the header") != "TG!") R.Fail(2, "expected the signature \"TG!\"");
        R.Skip(2, "the header");  // version
        const unsigned order = R.Get8("the header");
        if (order == 1) R.Fail(7, "the TableGram is big-endian; only little-endian TableGrams are read");
        if (order != 0) R.Fail(7, "the byte order " + Hex(order) + " is neither 0x00 nor 0x01");
        const unsigned unicode = R.Get8("the header");
        if (unicode > 1) R.Fail(8, "the text format " + Hex(unicode) + " is neither 0x00 nor 0x01");
        FUnicodeText = unicode == 1;
        R.Skip(size - 7, "the header");
    }

    void ReadHandlerOptions() {
        const std::size_t start = R.Pos();
        const std::size_t end = BeginElement(tkHandlerOptions, "the handler options");
        R.Skip(17, "the handler options");  // class id, update kind
        for (int i = 0; i < 3; ++i) R.GetName("the handler options");
        R.Skip(2, "the handler options");
        EndElement(end, start, "the handler options");
    }

    void ReadResultDescriptor() {
        const std::size_t start = R.Pos();
        const std::size_t end = BeginElement(tkResultDescriptor, "the result descriptor");
        R.Skip(16 + 1, "the result descriptor");
        const unsigned model = R.Get8("the result descriptor");
        if (model > 3) R.Fail(R.Pos() - 1, "the cursor model " + Hex(model) + " is not one of 0x00 to 0x03");
        if (R.Get8("the result descriptor") != 0) R.Fail(R.Pos() - 1, "normalised row data is not supported");
        R.Get16("the result descriptor");  // visible columns
        const std::size_t totalAt = R.Pos();
        FTotalColumns = R.Get16("the result descriptor");
        if (FTotalColumns == 0) R.Fail(totalAt, "the result has no columns");
        if (FTotalColumns > 4096) R.Fail(totalAt, "the result has " + std::to_string(FTotalColumns) + " columns, more than 4096");
        R.Get16("the result descriptor");  // computed columns
        FTableCount = R.Get16("the result descriptor");
        R.Skip(2 + 4, "the result descriptor");  // order-by columns, rows
        EndElement(end, start, "the result descriptor");  // property sets are skipped
    }

    // The rowset context, table descriptors and column descriptors.
    void ReadElements() {
        if (R.Peek() == tkResultContext) {
            const std::size_t start = R.Pos();
            const std::size_t end = BeginElement(tkResultContext, "the rowset context");
            EndElement(end, start, "the rowset context");
        }
        for (unsigned t = 0; t < FTableCount; ++t) ReadTable();
        std::vector<bool> seen(FTotalColumns + 1);
        for (unsigned c = 0; c < FTotalColumns; ++c) {
            const std::size_t at = R.Pos();
            ReadColumn();
            const int ordinal = FColumns.back().Ordinal;
            if (ordinal < 1 || ordinal > int(FTotalColumns))
                R.Fail(at + 6, "the column ordinal " + std::to_string(ordinal) + " is outside 1 to " + std::to_string(FTotalColumns));
            if (seen[ordinal]) R.Fail(at + 6, "the column ordinal " + std::to_string(ordinal) + " appears twice");
            seen[ordinal] = true;
        }
    }

    void ReadTable() {
        const std::size_t start = R.Pos();
        const std::size_t end = BeginElement(tkTableDescriptor, "a table descriptor");
        const unsigned ordinal = R.Get16("a table descriptor");
        const String original = R.GetName("a table descriptor");
        const String update = R.GetName("a table descriptor");
        R.Skip(4, "a table descriptor");  // code page, column count
        const unsigned keys = R.Get16("a table descriptor");
        R.Skip(std::size_t(keys) * 2, "a table descriptor");
        EndElement(end, start, "a table descriptor");
        FTables[ordinal] = update.empty() ? original : update;
    }

    void ReadColumn() {
        const std::size_t start = R.Pos();
        const std::size_t end = BeginElement(tkColumnDescriptor, "a column descriptor");
        const char* what = "a column descriptor";
        TLoadColumn col;
        UInt32 presence = R.Get8(what) << 16;
        presence |= R.Get8(what) << 8;
        presence |= R.Get8(what);
        col.Ordinal = static_cast<int>(R.Get16(what));
        String baseName;
        if (presence & pmFriendlyName) col.Info.Name = R.GetName(what);
        if (presence & pmBaseTableOrdinal) col.TableOrdinal = static_cast<int>(R.Get16(what));
        if (presence & pmBaseColumnOrdinal) R.Get16(what);
        if (presence & pmBaseColumnName) baseName = R.GetName(what);
        const std::size_t typeAt = R.Pos();
        const Word dbType = static_cast<Word>(R.Get16(what));
        const UInt32 maxLength = R.Get32(what);
        const UInt32 precision = R.Get32(what);
        const UInt32 scale = R.Get32(what);
        const UInt32 flags = R.Get32(what);
        if (presence & pmBaseCatalog) col.Info.BaseCatalogName = R.GetName(what);
        if (presence & pmBaseSchema) col.Info.BaseSchemaName = R.GetName(what);
        if (presence & pmCollatingSequence) R.Skip(4, what);
        if (presence & pmComputeMode) R.Skip(4, what);
        if (presence & pmDateTimePrecision) R.Skip(4, what);
        if (presence & pmDefaultValue) R.Skip(16, what);
        if (presence & pmAutoIncrement) col.Info.AutoIncrement = R.Get16(what) != 0;
        if (presence & pmCaseSensitive) R.Skip(2, what);
        if (presence & pmMultiValued) R.Skip(2, what);
        if (presence & pmSearchable) R.Skip(4, what);
        if (presence & pmUnique) R.Skip(2, what);
        if (presence & pmOctetLength) R.Skip(4, what);
        R.Skip(2, what);  // visible
        EndElement(end, start, what);
        if (col.Info.Name.empty()) col.Info.Name = baseName;
        if (col.Info.Name.empty()) col.Info.Name = "c" + std::to_string(col.Ordinal);
        const String label = "column \"" + col.Info.Name + "\"";
        if (dbType == dbChapter || (flags & FlagChapter))
            R.Fail(typeAt, "the " + label + " is a chapter of a hierarchical recordset, which is not supported");
        if (presence & pmCalculationInfo)
            R.Fail(start, "the " + label + " is a calculated column of a hierarchical recordset, which is not supported");
        col.Info.Type = TypeOfDbType(dbType, static_cast<int>(flags));
        if (col.Info.Type == adEmpty) R.Fail(typeAt, "the " + label + " has the unknown data type " + Hex(dbType, 4));
        col.Info.BaseColumnName = baseName;
        col.Info.Attributes = static_cast<int>(flags & 0xFFFF);
        col.Info.DefinedSize = maxLength >= 0x80000000u ? 0 : static_cast<int>(maxLength);
        col.Info.Precision = precision > 255 ? 255 : static_cast<Byte>(precision);
        if (scale > 255 && (col.Info.Type == adNumeric || col.Info.Type == adDecimal || col.Info.Type == adVarNumeric))
            R.Fail(typeAt + 10, "the scale of the " + label + " is out of range");
        col.Info.NumericScale = scale > 255 ? 255 : static_cast<Byte>(scale);
        if ((col.Info.Type == adNumeric || col.Info.Type == adDecimal) && col.Info.NumericScale != 255 &&
            col.Info.NumericScale > 28)
            R.Fail(typeAt + 10, "the scale of the " + label + " is beyond 28");
        col.Wire = WireOf(dbType, maxLength, static_cast<int>(flags), FUnicodeText);
        if (col.Wire.FixedLength && (maxLength == 0 || maxLength > 0x7FFFFFFF))
            R.Fail(typeAt + 2, "the " + label + " is fixed-length but has no length");
        col.Nullable = (flags & (FlagNullable | FlagMayBeNull)) != 0;
        FColumns.push_back(std::move(col));
    }

    void MakeStore() {
        std::sort(FColumns.begin(), FColumns.end(),
                  [](const TLoadColumn& a, const TLoadColumn& b) { return a.Ordinal < b.Ordinal; });
        std::vector<TColumnInfo> infos;
        for (auto& c : FColumns) {
            if (c.TableOrdinal) {
                auto it = FTables.find(static_cast<unsigned>(c.TableOrdinal));
                if (it == FTables.end())
                    R.Fail(R.Pos(), "column \"" + c.Info.Name + "\" belongs to base table " +
                                        std::to_string(c.TableOrdinal) + ", which no table descriptor defines");
                c.Info.BaseTableName = it->second;
            }
            infos.push_back(c.Info);
        }
        try {
            FStore = std::make_unique<TRowStore>(std::move(infos));
        } catch (const EEngineError& e) {
            R.Fail(R.Pos(), e.Message());
        }
        FBuffer.Reset(FColumns.size());
        FScratch.assign(FColumns.size(), String());
        for (const auto& c : FColumns) FNullable += c.Nullable;
    }

    // Reads a bitmap of bits bits, most significant bit first.
    void ReadBitmap(std::size_t bits, std::vector<bool>& out, const char* what) {
        const std::string_view b = R.GetBytes((bits + 7) / 8, what);
        out.assign(bits, false);
        for (std::size_t i = 0; i < bits; ++i) out[i] = (Byte(b[i / 8]) & (0x80u >> (i % 8))) != 0;
    }

    // One value of column i into FBuffer[i].
    void ReadValue(std::size_t i) {
        const TLoadColumn& col = FColumns[i];
        const TWire& wire = col.Wire;
        const TColumnInfo& info = FStore->GetColumns()[i];
        const TStorageKind kind = FStore->GetKinds()[i];
        TCell& cell = FBuffer[i];
        cell = TCell{};
        cell.Null = false;
        const std::size_t at = R.Pos();
        const String label = "the value of column \"" + info.Name + "\"";
        const char* what = "a column value";
        auto fail = [&](const String& why) { R.Fail(at, label + " " + why); };
        switch (wire.Form) {
            case TWire::wfText:
            case TWire::wfBytes: {
                std::size_t size;
                if (wire.FixedLength) {
                    size = std::size_t(wire.MaxLength) * (wire.Wide ? 2 : 1);
                } else {
                    size = wire.ShortPrefix ? R.Get8(what) : R.Get32(what);
                    if (!wire.ShortPrefix && size > 0x7FFFFFFF) fail("has the length " + std::to_string(size));
                }
                if (size > R.Remaining())
                    R.Fail(R.Pos(), label + " takes " + std::to_string(size) + " bytes, but only " +
                                        std::to_string(R.Remaining()) + " remain");
                const std::string_view raw = R.GetBytes(size, what);
                String& s = FScratch[i];
                if (wire.Form == TWire::wfBytes) {
                    s.assign(raw);
                    if (info.HasSizeLimit() && info.DefinedSize > 0 && s.size() > std::size_t(info.DefinedSize))
                        fail("is longer than the column's " + std::to_string(info.DefinedSize) + " bytes");
                } else {
                    if (wire.Wide && size % 2) fail("has an odd number of bytes for UTF-16 text");
                    s = wire.Wide ? R.Utf16(raw, R.Pos() - size, label) : NarrowToUtf8(raw);
                    if (info.HasSizeLimit() && info.DefinedSize > 0 && Utf16Length(s) > std::size_t(info.DefinedSize))
                        fail("is longer than the column's " + std::to_string(info.DefinedSize) + " characters");
                }
                if (kind != skText && kind != skBytes) fail("cannot be held");
                cell.Data = s.data();
                cell.Size = s.size();
                return;
            }
            case TWire::wfVarNumeric: {
                const unsigned precision = R.Get8(what);
                const unsigned scale = R.Get8(what);
                const unsigned sign = R.Get8(what);
                const std::string_view value = R.GetBytes(VarNumericBytes(static_cast<int>(precision)), what);
                SetNumeric(cell, at, label, scale, sign, value);
                return;
            }
            case TWire::wfFixed: break;
        }
        switch (wire.DbType) {
            case dbI1: cell.I = static_cast<signed char>(R.Get8(what)); break;
            case dbUI1: cell.U = R.Get8(what); break;
            case dbI2: cell.I = static_cast<short>(R.Get16(what)); break;
            case dbUI2: cell.U = R.Get16(what); break;
            case dbI4: cell.I = static_cast<std::int32_t>(R.Get32(what)); break;
            case dbUI4: cell.U = R.Get32(what); break;
            case dbI8: case dbCY: cell.I = static_cast<Int64>(R.Get64(what)); break;
            case dbUI8: cell.U = R.Get64(what); break;
            case dbBool: cell.I = R.Get16(what) != 0; break;
            case dbR4: {
                const UInt32 bits = R.Get32(what);
                float f;
                std::memcpy(&f, &bits, 4);
                cell.D = f;
                break;
            }
            case dbR8: case dbDate: {
                const UInt64 bits = R.Get64(what);
                std::memcpy(&cell.D, &bits, 8);
                break;
            }
            case dbDecimal: {
                R.Skip(2, what);
                TDecimal d;
                d.Scale = static_cast<Byte>(R.Get8(what));
                d.Sign = static_cast<Byte>(R.Get8(what));
                d.Hi32 = R.Get32(what);
                d.Lo64 = R.Get64(what);
                if (d.Scale > 28) fail("has the scale " + std::to_string(d.Scale) + ", beyond 28");
                if (d.Sign != 0 && d.Sign != 0x80) fail("has the sign byte " + Hex(d.Sign) + ", neither 0x00 nor 0x80");
                cell.SetDecimal(d);
                break;
            }
            case dbNumeric: {
                R.Skip(1, what);  // precision
                const unsigned scale = R.Get8(what);
                const unsigned sign = R.Get8(what);
                SetNumeric(cell, at, label, scale, sign, R.GetBytes(16, what));
                break;
            }
            case dbGuid: SwapGuid(reinterpret_cast<const Byte*>(R.GetBytes(16, what).data()), cell.Raw); break;
            case dbDBDate: case dbDBTime: case dbDBTimeStamp: {
                int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0, us = 0;
                if (wire.DbType != dbDBTime) {
                    y = static_cast<int>(R.Get16(what));
                    mo = static_cast<int>(R.Get16(what));
                    d = static_cast<int>(R.Get16(what));
                }
                if (wire.DbType != dbDBDate) {
                    h = static_cast<int>(R.Get16(what));
                    mi = static_cast<int>(R.Get16(what));
                    s = static_cast<int>(R.Get16(what));
                }
                if (wire.DbType == dbDBTimeStamp) {
                    const UInt32 ns = R.Get32(what);
                    if (ns >= 1000000000u) fail("has " + std::to_string(ns) + " nanoseconds");
                    us = static_cast<int>(ns / 1000);  // the store keeps microseconds
                }
                if (y == 0 || !EncodeDateTimeUs(y, mo, d, h, mi, s, us, cell.D))
                    fail("is not a valid date or time (" + std::to_string(y) + "-" + std::to_string(mo) + "-" +
                         std::to_string(d) + " " + std::to_string(h) + ":" + std::to_string(mi) + ":" +
                         std::to_string(s) + ")");
                break;
            }
            default: fail("has a type this reader cannot hold");
        }
    }

    // A NUMERIC or VARNUMERIC value (sign byte 1 for positive, little-endian magnitude) into a decimal.
    void SetNumeric(TCell& cell, std::size_t at, const String& label, unsigned scale, unsigned sign,
                    std::string_view value) {
        if (scale > 28) R.Fail(at, label + " has the scale " + std::to_string(scale) + ", beyond 28");
        if (sign > 1) R.Fail(at, label + " has the sign byte " + Hex(sign) + ", neither 0x00 nor 0x01");
        TDecimal d;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const UInt64 b = Byte(value[i]);
            if (i < 8) d.Lo64 |= b << (8 * i);
            else if (i < 12) d.Hi32 |= static_cast<UInt32>(b << (8 * (i - 8)));
            else if (b) R.Fail(at, label + " has more than the 29 digits a decimal holds");
        }
        d.Scale = static_cast<Byte>(scale);
        d.Sign = sign == 0 && (d.Lo64 || d.Hi32) ? 0x80 : 0;
        cell.SetDecimal(d);
    }

    // Original row data: the presence bitmap of the nullable columns and the values present.
    void ReadOriginal() {
        ReadBitmap(FNullable, FPresent, "a presence bitmap");
        std::size_t k = 0;
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            if (FColumns[i].Nullable && !FPresent[k++]) {
                FBuffer.SetNull(i);
                continue;
            }
            ReadValue(i);
        }
    }

    // Update row data: the update and force-null bitmaps and the updated values.
    void ReadUpdate() {
        const std::size_t n = FColumns.size();
        ReadBitmap(n, FUpdate, "an update bitmap");
        ReadBitmap(n, FForceNull, "a force-null bitmap");
        for (std::size_t i = 0; i < n; ++i) {
            FBuffer.SetNull(i);
            if (FForceNull[i]) FUpdate[i] = true;
            else if (FUpdate[i]) ReadValue(i);
        }
    }

    void ReadRows() {
        for (;;) {
            const std::size_t at = R.Pos();
            if (R.AtEnd()) R.Fail(at, "the data ends before the end token 0x0F");
            const unsigned token = R.Get8("a row");
            if (token == tkDone) break;
            if (token == tkOriginalRow) {
                ReadOriginal();
                const TRowId row = FStore->Append(FBuffer);
                if (R.Peek() == tkDeleteRow) {
                    R.Get8("a row");
                    FStore->Delete(row);
                } else if (R.Peek() == tkChangeRow) {
                    R.Get8("a row");
                    ReadUpdate();
                    bool any = false;
                    for (std::size_t i = 0; i < FColumns.size(); ++i)
                        if (FUpdate[i]) {
                            FStore->SetCell(row, i, FBuffer[i]);
                            any = true;
                        }
                    // A change back to the same values is still a change.
                    if (!any) FStore->SetCell(row, 0, FStore->GetCell(row, 0));
                }
            } else if (token == tkInsertRow) {
                ReadUpdate();
                const TRowId row = FStore->AddNew();
                for (std::size_t i = 0; i < FColumns.size(); ++i)
                    if (FUpdate[i] && !FBuffer[i].Null) FStore->SetCell(row, i, FBuffer[i]);
            } else if (token == 0x80 || token == 0x87 || token == 0x8A || token == 0x8C || token == 0x8D) {
                R.Fail(at, "rows of child recordsets (token " + Hex(token) + ") are not supported");
            } else {
                R.Fail(at, "expected a row (token 0x07 or 0x0D) or the end token 0x0F, found " + Hex(token));
            }
        }
        if (!R.AtEnd()) R.Fail(R.Pos(), std::to_string(R.Remaining()) + " bytes follow the end token 0x0F");
    }

    TAdtgReader R;
    bool FUnicodeText = false;
    unsigned FTotalColumns = 0, FTableCount = 0;
    std::map<unsigned, String> FTables;
    std::vector<TLoadColumn> FColumns;
    std::unique_ptr<TRowStore> FStore;
    TRowBuffer FBuffer;
    std::vector<String> FScratch;
    std::size_t FNullable = 0;
    std::vector<bool> FPresent, FUpdate, FForceNull;
};

}  // namespace

std::unique_ptr<TRowStore> LoadAdtg(std::string_view data) {
    TAdtgLoader loader(data);
    try {
        return loader.Load();
    } catch (const EPersistError&) {
        throw;
    } catch (const EEngineError& e) {
        throw EPersistError("The ADTG TableGram cannot be loaded: " + e.Message(), e.GetNumber());
    }
}

}  // namespace DataEngine
