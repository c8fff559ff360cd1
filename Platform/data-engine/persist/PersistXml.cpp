// ADO's XML rowset format.
//
// The document: an <xml> root declaring the namespaces s (XML-Data schema,
// uuid:BDC6E3F0-...), dt (XML-Data types, uuid:C2F41010-...), rs
// (urn:schemas-microsoft-com:rowset) and z (#RowsetSchema); an s:Schema with
// one s:ElementType named "row" holding an s:AttributeType per column (its
// s:datatype child carries dt:type, rs:dbtype, dt:maxLength, rs:precision,
// rs:scale, rs:fixedlength, rs:maybenull, rs:long); then rs:data with one
// z:row per row, a column per attribute (a missing attribute is Null).
// Pending changes: rs:insert wraps new rows, rs:delete wraps the original
// values of deleted rows, rs:update wraps rs:original (the original row) and
// a z:row with the columns that changed. A column changed to Null cannot be an
// attribute; this engine lists such columns in the attribute "nulls" of the
// namespace urn:schemas-velora:rowset-nulls on that z:row (readers that do not
// know it ignore it, as ADO ignores undeclared attributes).
//
// Column names that are not XML names are written as c<n> with rs:name
// holding the real name, as ADO does.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "Platform/data-engine/persist/Persist.h"

namespace DataEngine {

using namespace Velora;

namespace {

const char* const NsS = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
const char* const NsDt = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
const char* const NsRs = "urn:schemas-microsoft-com:rowset";
const char* const NsZ = "#RowsetSchema";
const char* const NsNulls = "urn:schemas-velora:rowset-nulls";

// ---- Types ---------------------------------------------------------------------------------------

struct TXmlType {
    DataTypeEnum Type;
    const char* DtType;
    const char* DbType;  // rs:dbtype or null
    bool Fixed;          // written with rs:fixedlength
};

const TXmlType XmlTypes[] = {
    {adTinyInt, "i1", nullptr, true},          {adSmallInt, "i2", nullptr, true},
    {adInteger, "int", nullptr, true},         {adBigInt, "i8", nullptr, true},
    {adUnsignedTinyInt, "ui1", nullptr, true}, {adUnsignedSmallInt, "ui2", nullptr, true},
    {adUnsignedInt, "ui4", nullptr, true},     {adUnsignedBigInt, "ui8", nullptr, true},
    {adSingle, "r4", nullptr, true},           {adDouble, "float", nullptr, true},
    {adCurrency, "number", "currency", true},  {adDecimal, "number", "decimal", true},
    {adNumeric, "number", "numeric", true},    {adVarNumeric, "number", "varnumeric", false},
    {adBoolean, "boolean", nullptr, true},     {adGUID, "uuid", nullptr, true},
    {adDate, "dateTime", "variantdate", true}, {adDBDate, "date", nullptr, true},
    {adDBTime, "time", nullptr, true},         {adDBTimeStamp, "dateTime", "timestamp", true},
    {adBSTR, "string", "bstr", false},         {adChar, "string", "str", true},
    {adVarChar, "string", "str", false},       {adLongVarChar, "string", "str", false},
    {adWChar, "string", nullptr, true},        {adVarWChar, "string", nullptr, false},
    {adLongVarWChar, "string", nullptr, false}, {adBinary, "bin.hex", nullptr, true},
    {adVarBinary, "bin.hex", nullptr, false},  {adLongVarBinary, "bin.hex", nullptr, false},
};

const TXmlType* XmlTypeOf(DataTypeEnum type) noexcept {
    for (const auto& t : XmlTypes)
        if (t.Type == type) return &t;
    return nullptr;
}

// The ADO type of a dt:type / rs:dbtype pair read back; adEmpty when unknown.
DataTypeEnum TypeFromXml(std::string_view dt, std::string_view db, bool fixed, bool isLong) {
    auto is = [](std::string_view a, const char* b) { return Rtl::SameText(a, b); };
    if (dt.empty() || is(dt, "string") || is(dt, "char")) {
        const bool narrow = is(db, "str");
        if (is(db, "bstr")) return adBSTR;
        if (isLong) return narrow ? adLongVarChar : adLongVarWChar;
        if (fixed || is(dt, "char")) return narrow ? adChar : adWChar;
        return narrow ? adVarChar : adVarWChar;
    }
    if (is(dt, "bin.hex")) return isLong ? adLongVarBinary : fixed ? adBinary : adVarBinary;
    if (is(dt, "number") || is(dt, "fixed.14.4")) {
        if (is(db, "currency") || is(dt, "fixed.14.4")) return adCurrency;
        if (is(db, "decimal")) return adDecimal;
        if (is(db, "varnumeric")) return adVarNumeric;
        return adNumeric;
    }
    if (is(dt, "dateTime") || is(dt, "dateTime.tz")) return is(db, "variantdate") ? adDate : adDBTimeStamp;
    struct {
        const char* Name;
        DataTypeEnum Type;
    } simple[] = {{"i1", adTinyInt},  {"i2", adSmallInt},  {"int", adInteger},       {"i4", adInteger},
                  {"i8", adBigInt},   {"ui1", adUnsignedTinyInt}, {"ui2", adUnsignedSmallInt},
                  {"ui4", adUnsignedInt}, {"ui8", adUnsignedBigInt}, {"r4", adSingle}, {"float", adDouble},
                  {"r8", adDouble},   {"boolean", adBoolean}, {"uuid", adGUID},     {"date", adDBDate},
                  {"time", adDBTime}, {"time.tz", adDBTime}};
    for (const auto& s : simple)
        if (is(dt, s.Name)) return s.Type;
    return adEmpty;
}

// ---- Values as text --------------------------------------------------------------------------------

String CurrencyText(Int64 scaled) {
    const bool neg = scaled < 0;
    const UInt64 m = neg ? 0 - static_cast<UInt64>(scaled) : static_cast<UInt64>(scaled);
    String s = (neg ? "-" : "") + std::to_string(m / 10000);
    UInt64 frac = m % 10000;
    if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
        String f(buf);
        while (f.back() == '0') f.pop_back();
        s += '.' + f;
    }
    return s;
}

String DateText(double d, DataTypeEnum type) {
    String s = FormatIsoDateTime(d, type == adDBDate || type == adDBTime ? type : adDBTimeStamp);
    const std::size_t blank = s.find(' ');
    if (blank != String::npos) s[blank] = 'T';
    return s;
}

const char HexDigits[] = "0123456789abcdef";

String CellText(const TColumnInfo& column, TStorageKind kind, const TCell& c) {
    switch (kind) {
        case skBoolean: return c.I ? "1" : "0";
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64: return std::to_string(c.I);
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return std::to_string(c.U);
        case skSingle:
        case skDouble: return DoubleToShortest(c.D);
        case skCurrency: return CurrencyText(c.I);
        case skDate: return DateText(c.D, column.Type);
        case skDecimal: return DecimalToText(c.GetDecimal());
        case skGuid: return FormatGuid(c.Raw);
        case skText: return String(c.GetView());
        case skBytes: {
            String s;
            s.reserve(c.Size * 2);
            for (std::size_t i = 0; i < c.Size; ++i) {
                const auto b = static_cast<unsigned char>(c.Data[i]);
                s += HexDigits[b >> 4];
                s += HexDigits[b & 15];
            }
            return s;
        }
    }
    return {};
}

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Text back into a cell of the column's kind; false with the reason when it does not fit.
bool TextCell(const TColumnInfo& column, TStorageKind kind, std::string_view s, TCell& cell, String& scratch,
              String& why) {
    cell = TCell{};
    cell.Null = false;
    switch (kind) {
        case skBoolean: {
            bool b;
            if (!Rtl::TryStrToBool(s, b)) {
                why = "not a boolean";
                return false;
            }
            cell.I = b ? 1 : 0;
            return true;
        }
        case skText: {
            if (!Rtl::IsValidUtf8(s)) {
                why = "not valid UTF-8";
                return false;
            }
            scratch.assign(s);
            cell.Data = scratch.data();
            cell.Size = scratch.size();
            if (column.HasSizeLimit() && column.DefinedSize > 0 && Utf16Length(s) > static_cast<std::size_t>(column.DefinedSize)) {
                why = "longer than the column's " + std::to_string(column.DefinedSize) + " characters";
                return false;
            }
            return true;
        }
        case skBytes: {
            if (s.size() % 2) {
                why = "an odd number of hex digits";
                return false;
            }
            scratch.resize(s.size() / 2);
            for (std::size_t i = 0; i < scratch.size(); ++i) {
                const int hi = HexValue(s[2 * i]), lo = HexValue(s[2 * i + 1]);
                if (hi < 0 || lo < 0) {
                    why = "not hex digits";
                    return false;
                }
                scratch[i] = static_cast<char>(hi * 16 + lo);
            }
            cell.Data = scratch.data();
            cell.Size = scratch.size();
            return true;
        }
        case skGuid:
            if (!ParseGuidText(s, cell.Raw)) {
                why = "not a GUID";
                return false;
            }
            return true;
        case skDate: {
            String t(s);
            if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
            if (!ParseIsoDateTime(t, column.Type == adDBTime, cell.D)) {
                why = "not a date";
                return false;
            }
            return true;
        }
        default: break;
    }
    // Numbers.
    if (kind == skSingle || kind == skDouble) {
        const String t(s);
        char* end = nullptr;
        const double d = std::strtod(t.c_str(), &end);
        if (t.empty() || end != t.c_str() + t.size() || std::isspace(static_cast<unsigned char>(t[0]))) {
            why = "not a number";
            return false;
        }
        cell.D = kind == skSingle ? static_cast<double>(static_cast<float>(d)) : d;
        return true;
    }
    TExactDecimal x;
    if (!ParseExactDecimal(s, x)) {
        why = "not a number";
        return false;
    }
    if (kind == skCurrency) {
        if (!ExactToCurrency(x, cell.I)) {
            why = "out of range for currency";
            return false;
        }
        return true;
    }
    Rtl::TDecimal d;
    if (kind == skDecimal) {
        const int scale = x.Scale < 0 ? 0 : (x.Scale > 28 ? 28 : x.Scale);
        if (!ExactToDecimal(x, scale, 29, d)) {
            why = "out of range for a decimal";
            return false;
        }
        cell.SetDecimal(d);
        return true;
    }
    if (!ExactToDecimal(x, 0, 29, d) || d.Hi32 != 0) {
        why = "not a whole number in range";
        return false;
    }
    const bool neg = d.Sign != 0 && d.Lo64 != 0;
    UInt64 hi = 0;
    Int64 lo = 0;
    switch (kind) {
        case skInt8: lo = INT8_MIN; hi = INT8_MAX; break;
        case skInt16: lo = INT16_MIN; hi = INT16_MAX; break;
        case skInt32: lo = INT32_MIN; hi = INT32_MAX; break;
        case skInt64: lo = INT64_MIN; hi = INT64_MAX; break;
        case skUInt8: hi = UINT8_MAX; break;
        case skUInt16: hi = UINT16_MAX; break;
        case skUInt32: hi = UINT32_MAX; break;
        default: hi = UINT64_MAX; break;
    }
    const UInt64 negLimit = static_cast<UInt64>(-(lo + 1)) + 1;
    if (neg ? (lo == 0 || d.Lo64 > negLimit) : d.Lo64 > hi) {
        why = "out of range for " + DataTypeName(column.Type);
        return false;
    }
    if (kind == skUInt8 || kind == skUInt16 || kind == skUInt32 || kind == skUInt64)
        cell.U = d.Lo64;
    else
        cell.I = neg ? static_cast<Int64>(0 - d.Lo64) : static_cast<Int64>(d.Lo64);
    return true;
}

// ---- Writing ----------------------------------------------------------------------------------------

void AppendEscaped(String& out, std::string_view s) {
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\'': out += "&apos;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "&#x%X;", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
}

void Attr(String& out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "='";
    AppendEscaped(out, value);
    out += '\'';
}

bool IsXmlName(std::string_view s) noexcept {
    if (s.empty()) return false;
    auto start = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!start(s[0])) return false;
    if (s.size() >= 3 && Rtl::SameText(s.substr(0, 3), "xml")) return false;
    for (char c : s)
        if (!start(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
    return true;
}

// Attribute names of the columns in the data section.
std::vector<String> DataNames(const std::vector<TColumnInfo>& columns) {
    std::vector<String> names(columns.size());
    auto usedBefore = [&](const String& n, std::size_t i) {
        for (std::size_t j = 0; j < i; ++j)
            if (Rtl::SameText(names[j], n)) return true;
        return false;
    };
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (IsXmlName(columns[i].Name) && !usedBefore(columns[i].Name, i)) {
            names[i] = columns[i].Name;
            continue;
        }
        // c<n>, kept clear of every other column's own name.
        String n = "c" + std::to_string(i);
        auto clash = [&](const String& candidate) {
            if (usedBefore(candidate, i)) return true;
            for (std::size_t j = 0; j < columns.size(); ++j)
                if (j != i && Rtl::SameText(columns[j].Name, candidate)) return true;
            return false;
        };
        while (clash(n)) n += '_';
        names[i] = n;
    }
    return names;
}

void WriteRowElement(String& out, const TRowStore& store, TRowId row, TValueVersion version,
                     const std::vector<String>& names, const char* indent, const std::vector<bool>* only = nullptr) {
    out += indent;
    out += "<z:row";
    std::vector<std::size_t> nulls;
    for (std::size_t c = 0; c < store.GetColumnCount(); ++c) {
        if (only && !(*only)[c]) continue;
        const TCell cell = store.GetCell(row, c, version);
        if (cell.Null) {
            if (only) nulls.push_back(c);
            continue;
        }
        Attr(out, names[c], CellText(store.GetColumns()[c], store.GetKinds()[c], cell));
    }
    if (!nulls.empty()) {
        Attr(out, "xmlns:vn", NsNulls);
        String list;
        for (std::size_t c : nulls) list += (list.empty() ? "" : " ") + names[c];
        Attr(out, "vn:nulls", list);
    }
    out += "/>\n";
}

}  // namespace

String SaveXml(const TRowStore& store) {
    const auto& columns = store.GetColumns();
    const std::vector<String> names = DataNames(columns);
    String out;
    out.reserve(1024 + store.GetRowCount() * 64);
    out += "<xml xmlns:s='";
    out += NsS;
    out += "'\n\txmlns:dt='";
    out += NsDt;
    out += "'\n\txmlns:rs='";
    out += NsRs;
    out += "'\n\txmlns:z='";
    out += NsZ;
    out += "'>\n<s:Schema id='RowsetSchema'>\n\t<s:ElementType name='row' content='eltOnly'";
    bool updatable = store.GetPendingCount() > 0;
    for (const auto& c : columns) updatable |= c.HasAttribute(adFldUpdatable) || c.HasAttribute(adFldUnknownUpdatable);
    if (updatable) out += " rs:updatable='true'";
    out += ">\n";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TColumnInfo& c = columns[i];
        const TXmlType* t = XmlTypeOf(c.Type);
        if (!t)
            throw EPersistError("Column \"" + c.Name + "\" is of type " + DataTypeName(c.Type) +
                                    ", which the XML format cannot hold",
                                AdoErrorHResult(adErrFeatureNotAvailable));
        out += "\t\t<s:AttributeType";
        Attr(out, "name", names[i]);
        if (names[i] != c.Name) Attr(out, "rs:name", c.Name);
        Attr(out, "rs:number", std::to_string(i + 1));
        if (c.HasAttribute(adFldIsNullable)) Attr(out, "rs:nullable", "true");
        if (c.HasAttribute(adFldMayDefer)) Attr(out, "rs:maydefer", "true");
        if (c.HasAttribute(adFldUpdatable)) Attr(out, "rs:write", "true");
        if (c.HasAttribute(adFldUnknownUpdatable)) Attr(out, "rs:writeunknown", "true");
        if (c.HasAttribute(adFldRowID)) Attr(out, "rs:rowid", "true");
        if (c.HasAttribute(adFldRowVersion)) Attr(out, "rs:rowver", "true");
        if (c.HasAttribute(adFldCacheDeferred)) Attr(out, "rs:cachedeferred", "true");
        if (!c.BaseCatalogName.empty()) Attr(out, "rs:basecatalog", c.BaseCatalogName);
        if (!c.BaseSchemaName.empty()) Attr(out, "rs:baseschema", c.BaseSchemaName);
        if (!c.BaseTableName.empty()) Attr(out, "rs:basetable", c.BaseTableName);
        if (!c.BaseColumnName.empty()) Attr(out, "rs:basecolumn", c.BaseColumnName);
        if (c.HasAttribute(adFldKeyColumn)) Attr(out, "rs:keycolumn", "true");
        if (c.AutoIncrement) Attr(out, "rs:autoincrement", "true");
        out += ">\n\t\t\t<s:datatype";
        Attr(out, "dt:type", t->DtType);
        if (t->DbType) Attr(out, "rs:dbtype", t->DbType);
        Attr(out, "dt:maxLength", std::to_string(c.DefinedSize));
        if (c.NumericScale != 255) Attr(out, "rs:scale", std::to_string(c.NumericScale));
        if (c.Precision != 255) Attr(out, "rs:precision", std::to_string(c.Precision));
        if (c.HasAttribute(adFldFixed)) Attr(out, "rs:fixedlength", "true");
        if (!c.HasAttribute(adFldMayBeNull)) Attr(out, "rs:maybenull", "false");
        if (c.HasAttribute(adFldLong)) Attr(out, "rs:long", "true");
        out += "/>\n\t\t</s:AttributeType>\n";
    }
    out += "\t\t<s:extends type='rs:rowbase'/>\n\t</s:ElementType>\n</s:Schema>\n<rs:data>\n";
    const auto& rows = store.GetRows();
    std::vector<bool> changed(columns.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRowId r = rows[i];
        const int status = store.GetStatus(r);
        if (status & adRecDeleted) {
            out += "\t<rs:delete>\n";
            for (; i < rows.size() && (store.GetStatus(rows[i]) & adRecDeleted); ++i)
                WriteRowElement(out, store, rows[i], vvOriginal, names, "\t\t");
            --i;
            out += "\t</rs:delete>\n";
        } else if (status & adRecNew) {
            out += "\t<rs:insert>\n";
            for (; i < rows.size() && (store.GetStatus(rows[i]) & (adRecNew | adRecDeleted)) == adRecNew; ++i)
                WriteRowElement(out, store, rows[i], vvCurrent, names, "\t\t");
            --i;
            out += "\t</rs:insert>\n";
        } else if (status & adRecModified) {
            out += "\t<rs:update>\n\t\t<rs:original>\n";
            WriteRowElement(out, store, r, vvOriginal, names, "\t\t\t");
            out += "\t\t</rs:original>\n";
            for (std::size_t c = 0; c < columns.size(); ++c) changed[c] = store.IsChanged(r, c);
            WriteRowElement(out, store, r, vvCurrent, names, "\t\t", &changed);
            out += "\t</rs:update>\n";
        } else {
            WriteRowElement(out, store, r, vvCurrent, names, "\t");
        }
    }
    out += "</rs:data>\n</xml>\n";
    return out;
}

// ---- Reading ----------------------------------------------------------------------------------------

namespace {

struct TXmlAttr {
    String Uri;    // namespace of the attribute ("" for none)
    String Local;
    String Value;
};

struct TXmlEvent {
    enum TKind { xeStart, xeEnd, xeEof } Kind = xeEof;
    String Uri, Local, QName;
    std::vector<TXmlAttr> Attrs;
    std::size_t Offset = 0;
};

// A pull parser for the subset of XML the rowset format uses: elements,
// attributes, character and entity references, comments, processing
// instructions and character data between elements (ignored). DOCTYPE is
// refused: no entity can be declared, so nothing expands.
class TXmlReader {
public:
    explicit TXmlReader(std::string_view data) : FData(data) {
        if (FData.size() >= 3 && FData.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
        else if (FData.size() >= 2 && (FData.substr(0, 2) == "\xFF\xFE" || FData.substr(0, 2) == "\xFE\xFF"))
            Fail(0, "the file is UTF-16; rowset files are UTF-8");
    }

    TXmlEvent Next() {
        if (FPendingEnd) {
            FPendingEnd = false;
            TXmlEvent e = FLastStart;
            e.Kind = TXmlEvent::xeEnd;
            e.Attrs.clear();
            PopScope();
            return e;
        }
        for (;;) {
            const std::size_t lt = FData.find('<', FPos);
            if (lt == std::string_view::npos) {
                if (!FOpen.empty()) Fail(FData.size(), "the document ends inside <" + FOpen.back() + ">");
                TXmlEvent e;
                e.Offset = FData.size();
                return e;
            }
            FPos = lt;
            if (Starts("<!--")) {
                const std::size_t end = FData.find("-->", FPos + 4);
                if (end == std::string_view::npos) Fail(FPos, "a comment is not closed");
                FPos = end + 3;
            } else if (Starts("<?")) {
                const std::size_t end = FData.find("?>", FPos + 2);
                if (end == std::string_view::npos) Fail(FPos, "a processing instruction is not closed");
                FPos = end + 2;
            } else if (Starts("<![CDATA[")) {
                const std::size_t end = FData.find("]]>", FPos + 9);
                if (end == std::string_view::npos) Fail(FPos, "a CDATA section is not closed");
                FPos = end + 3;
            } else if (Starts("<!")) {
                Fail(FPos, "document type declarations are not accepted");
            } else if (Starts("</")) {
                return EndTag();
            } else {
                return StartTag();
            }
        }
    }

    [[noreturn]] void Fail(std::size_t offset, const String& why) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < offset && i < FData.size(); ++i) line += FData[i] == '\n';
        throw EPersistError("The XML rowset is invalid at byte " + std::to_string(offset) + " (line " +
                                std::to_string(line) + "): " + why,
                            hrFail);
    }

private:
    bool Starts(std::string_view s) const noexcept { return FData.substr(FPos, s.size()) == s; }
    static bool NameChar(char c) noexcept {
        return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=' || c == '<' ||
                 c == '\'' || c == '"');
    }
    void SkipBlanks() {
        while (FPos < FData.size() && (FData[FPos] == ' ' || FData[FPos] == '\t' || FData[FPos] == '\r' || FData[FPos] == '\n'))
            ++FPos;
    }
    String ReadName() {
        const std::size_t start = FPos;
        while (FPos < FData.size() && NameChar(FData[FPos])) ++FPos;
        if (FPos == start) Fail(FPos, FPos < FData.size() ? "a name is expected" : "the document ends inside a tag");
        return String(FData.substr(start, FPos - start));
    }
    String Decode(std::string_view raw, std::size_t offset) {
        String out;
        out.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (c == '<') Fail(offset + i, "'<' inside an attribute value");
            if (c == '\t' || c == '\n' || c == '\r') {
                out += ' ';  // attribute value normalization
                continue;
            }
            if (c != '&') {
                out += c;
                continue;
            }
            const std::size_t semi = raw.find(';', i);
            if (semi == std::string_view::npos || semi - i > 12) Fail(offset + i, "an entity reference is not closed");
            const std::string_view ent = raw.substr(i + 1, semi - i - 1);
            if (ent == "lt") out += '<';
            else if (ent == "gt") out += '>';
            else if (ent == "amp") out += '&';
            else if (ent == "apos") out += '\'';
            else if (ent == "quot") out += '"';
            else if (!ent.empty() && ent[0] == '#') {
                char32_t cp = 0;
                const bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
                std::size_t k = hex ? 2 : 1;
                if (k >= ent.size()) Fail(offset + i, "an empty character reference");
                for (; k < ent.size(); ++k) {
                    const int d = hex ? HexValue(ent[k]) : (ent[k] >= '0' && ent[k] <= '9' ? ent[k] - '0' : -1);
                    if (d < 0 || cp > 0x10FFFF) Fail(offset + i, "a bad character reference &" + String(ent) + ";");
                    cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
                }
                // NUL and the other control characters are taken: this engine
                // writes them as references so that no text value is lost.
                if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                    Fail(offset + i, "the character reference &" + String(ent) + "; names no character");
                Rtl::Utf8Append(out, cp);
            } else {
                Fail(offset + i, "the entity &" + String(ent) + "; is not defined");
            }
            i = semi;
        }
        return out;
    }
    // Splits "p:local" and finds p's namespace in the open scopes.
    void Resolve(const String& qname, bool attribute, String& uri, String& local, std::size_t offset) {
        const std::size_t colon = qname.find(':');
        String prefix = colon == String::npos ? String() : qname.substr(0, colon);
        local = colon == String::npos ? qname : qname.substr(colon + 1);
        if (prefix.empty() && attribute) {
            uri.clear();
            return;
        }
        if (prefix == "xml") {
            uri = "http://www.w3.org/XML/1998/namespace";
            return;
        }
        for (auto it = FDeclared.rbegin(); it != FDeclared.rend(); ++it)
            if (it->Prefix == prefix) {
                uri = it->Uri;
                return;
            }
        if (!prefix.empty()) Fail(offset, "the prefix \"" + prefix + "\" of \"" + qname + "\" is not declared");
        uri.clear();
    }
    void PopScope() {
        while (!FDeclared.empty() && FDeclared.back().Depth >= FOpen.size()) FDeclared.pop_back();
        FOpen.pop_back();
    }
    TXmlEvent StartTag() {
        TXmlEvent e;
        e.Kind = TXmlEvent::xeStart;
        e.Offset = FPos;
        ++FPos;
        e.QName = ReadName();
        std::vector<std::pair<String, String>> raw;
        std::vector<std::pair<String, String>> scope;
        bool selfClosing = false;
        for (;;) {
            SkipBlanks();
            if (FPos >= FData.size()) Fail(e.Offset, "the tag <" + e.QName + "> is not closed");
            if (FData[FPos] == '>') {
                ++FPos;
                break;
            }
            if (Starts("/>")) {
                FPos += 2;
                selfClosing = true;
                break;
            }
            const std::size_t at = FPos;
            const String name = ReadName();
            SkipBlanks();
            if (FPos >= FData.size() || FData[FPos] != '=') Fail(at, "the attribute \"" + name + "\" has no value");
            ++FPos;
            SkipBlanks();
            if (FPos >= FData.size() || (FData[FPos] != '\'' && FData[FPos] != '"'))
                Fail(FPos, "the value of \"" + name + "\" is not quoted");
            const char q = FData[FPos];
            const std::size_t close = FData.find(q, FPos + 1);
            if (close == std::string_view::npos) Fail(FPos, "the value of \"" + name + "\" is not closed");
            String value = Decode(FData.substr(FPos + 1, close - FPos - 1), FPos + 1);
            FPos = close + 1;
            for (const auto& [n, v] : raw)
                if (n == name) Fail(at, "the attribute \"" + name + "\" appears twice");
            if (name == "xmlns") scope.emplace_back("", value);
            else if (name.rfind("xmlns:", 0) == 0) scope.emplace_back(name.substr(6), value);
            raw.emplace_back(name, std::move(value));
        }
        if (FOpen.size() > 256) Fail(e.Offset, "elements are nested too deeply");
        FOpen.push_back(e.QName);
        for (auto& [prefix, uri] : scope) FDeclared.push_back({std::move(prefix), std::move(uri), FOpen.size()});
        Resolve(e.QName, false, e.Uri, e.Local, e.Offset);
        for (auto& [n, v] : raw) {
            if (n == "xmlns" || n.rfind("xmlns:", 0) == 0) continue;
            TXmlAttr a;
            Resolve(n, true, a.Uri, a.Local, e.Offset);
            a.Value = std::move(v);
            e.Attrs.push_back(std::move(a));
        }
        if (selfClosing) {
            FPendingEnd = true;
            FLastStart.QName = e.QName;
            FLastStart.Uri = e.Uri;
            FLastStart.Local = e.Local;
            FLastStart.Offset = e.Offset;
        }
        return e;
    }
    TXmlEvent EndTag() {
        TXmlEvent e;
        e.Kind = TXmlEvent::xeEnd;
        e.Offset = FPos;
        FPos += 2;
        e.QName = ReadName();
        SkipBlanks();
        if (FPos >= FData.size() || FData[FPos] != '>') Fail(e.Offset, "the end tag </" + e.QName + "> is not closed");
        ++FPos;
        if (FOpen.empty() || FOpen.back() != e.QName)
            Fail(e.Offset, "</" + e.QName + "> does not close " + (FOpen.empty() ? String("any element") : "<" + FOpen.back() + ">"));
        Resolve(e.QName, false, e.Uri, e.Local, e.Offset);
        PopScope();
        return e;
    }

    std::string_view FData;
    std::size_t FPos = 0;
    // Namespace declarations in force, innermost last, each with the depth of its element.
    struct TDeclaration {
        String Prefix, Uri;
        std::size_t Depth;
    };
    std::vector<TDeclaration> FDeclared;
    std::vector<String> FOpen;
    bool FPendingEnd = false;
    TXmlEvent FLastStart;
};

bool SameUri(const String& a, const char* b) { return Rtl::SameText(a, b); }
bool Is(const TXmlEvent& e, const char* uri, const char* local) { return SameUri(e.Uri, uri) && e.Local == local; }

const TXmlAttr* FindAttr(const TXmlEvent& e, const char* uri, const char* local) {
    for (const auto& a : e.Attrs)
        if (SameUri(a.Uri, uri) && a.Local == local) return &a;
    return nullptr;
}

bool TrueAttr(const TXmlEvent& e, const char* uri, const char* local) {
    const TXmlAttr* a = FindAttr(e, uri, local);
    bool b = false;
    return a && Rtl::TryStrToBool(a->Value, b) && b;
}

class TXmlLoader {
public:
    explicit TXmlLoader(std::string_view data) : FReader(data) {}

    std::unique_ptr<TRowStore> Load() {
        TXmlEvent e = NextStart();
        if (e.Kind != TXmlEvent::xeStart) FReader.Fail(e.Offset, "there is no root element");
        bool sawSchema = false;
        for (;;) {
            e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEnd) break;
            if (e.Kind == TXmlEvent::xeEof) FReader.Fail(e.Offset, "the root element is not closed");
            if (Is(e, NsS, "Schema")) {
                if (sawSchema) FReader.Fail(e.Offset, "a second s:Schema");
                ReadSchema();
                sawSchema = true;
            } else if (Is(e, NsRs, "data")) {
                if (!sawSchema) FReader.Fail(e.Offset, "rs:data comes before s:Schema");
                if (FStore) FReader.Fail(e.Offset, "a second rs:data");
                ReadData();
            } else {
                Skip();
            }
        }
        if (!sawSchema) FReader.Fail(e.Offset, "the document has no s:Schema");
        if (!FStore) MakeStore(e.Offset);
        const TXmlEvent after = FReader.Next();
        if (after.Kind != TXmlEvent::xeEof) FReader.Fail(after.Offset, "content follows the root element");
        return std::move(FStore);
    }

private:
    struct TColumnDef {
        TColumnInfo Info;
        String DataName;
        int Number = 0;
        std::size_t Order = 0;
    };

    TXmlEvent NextStart() {
        for (;;) {
            TXmlEvent e = FReader.Next();
            if (e.Kind != TXmlEvent::xeEnd) return e;
        }
    }
    // Skips the element just started.
    void Skip() {
        int depth = 1;
        while (depth > 0) {
            const TXmlEvent e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEof) FReader.Fail(e.Offset, "an element is not closed");
            depth += e.Kind == TXmlEvent::xeStart ? 1 : -1;
        }
    }

    void ReadSchema() {
        for (;;) {
            TXmlEvent e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEnd) break;
            if (Is(e, NsS, "ElementType") && !FRowName.size()) {
                const TXmlAttr* name = FindAttr(e, "", "name");
                if (!name || name->Value.empty()) FReader.Fail(e.Offset, "s:ElementType has no name");
                FRowName = name->Value;
                ReadElementType();
            } else {
                Skip();
            }
        }
        if (FRowName.empty()) FReader.Fail(0, "s:Schema defines no row (s:ElementType)");
    }

    void ReadElementType() {
        for (;;) {
            TXmlEvent e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEnd) break;
            if (Is(e, NsS, "AttributeType")) ReadAttributeType(e);
            else Skip();
        }
    }

    void ReadAttributeType(const TXmlEvent& e) {
        TColumnDef def;
        const TXmlAttr* name = FindAttr(e, "", "name");
        if (!name || name->Value.empty()) FReader.Fail(e.Offset, "s:AttributeType has no name");
        def.DataName = name->Value;
        const TXmlAttr* real = FindAttr(e, NsRs, "name");
        def.Info.Name = real ? real->Value : name->Value;
        if (const TXmlAttr* n = FindAttr(e, NsRs, "number")) {
            char* end = nullptr;
            const long v = std::strtol(n->Value.c_str(), &end, 10);
            if (n->Value.empty() || *end || v < 1 || v > 65535)
                FReader.Fail(e.Offset, "rs:number='" + ClipForMessage(n->Value, 40) + "' of \"" + def.DataName +
                                           "\" is not a column number");
            def.Number = static_cast<int>(v);
        }
        for (const auto& d : FColumns)
            if (d.DataName == def.DataName)
                FReader.Fail(e.Offset, "the column \"" + def.DataName + "\" is defined twice");
        int attrs = adFldMayBeNull;
        auto flag = [&](const TXmlEvent& ev, const char* local, int bit) {
            if (TrueAttr(ev, NsRs, local)) attrs |= bit;
        };
        flag(e, "nullable", adFldIsNullable);
        flag(e, "maydefer", adFldMayDefer);
        flag(e, "write", adFldUpdatable);
        flag(e, "writeunknown", adFldUnknownUpdatable);
        flag(e, "rowid", adFldRowID);
        flag(e, "rowver", adFldRowVersion);
        flag(e, "cachedeferred", adFldCacheDeferred);
        flag(e, "keycolumn", adFldKeyColumn);
        def.Info.AutoIncrement = TrueAttr(e, NsRs, "autoincrement");
        if (auto* a = FindAttr(e, NsRs, "basecatalog")) def.Info.BaseCatalogName = a->Value;
        if (auto* a = FindAttr(e, NsRs, "baseschema")) def.Info.BaseSchemaName = a->Value;
        if (auto* a = FindAttr(e, NsRs, "basetable")) def.Info.BaseTableName = a->Value;
        if (auto* a = FindAttr(e, NsRs, "basecolumn")) def.Info.BaseColumnName = a->Value;
        // The type may sit on the AttributeType itself or on its s:datatype.
        TXmlEvent typeHolder = e;
        bool sawDatatype = false;
        for (;;) {
            TXmlEvent c = FReader.Next();
            if (c.Kind == TXmlEvent::xeEnd) break;
            if (Is(c, NsS, "datatype") && !sawDatatype) {
                typeHolder = c;
                sawDatatype = true;
            }
            Skip();
        }
        const TXmlAttr* dt = FindAttr(typeHolder, NsDt, "type");
        const TXmlAttr* db = FindAttr(typeHolder, NsRs, "dbtype");
        if (TrueAttr(typeHolder, NsRs, "fixedlength")) attrs |= adFldFixed;
        if (TrueAttr(typeHolder, NsRs, "long")) attrs |= adFldLong;
        if (const TXmlAttr* m = FindAttr(typeHolder, NsRs, "maybenull")) {
            bool b = true;
            if (Rtl::TryStrToBool(m->Value, b) && !b) attrs &= ~adFldMayBeNull;
        }
        def.Info.Type = TypeFromXml(dt ? std::string_view(dt->Value) : "", db ? std::string_view(db->Value) : "",
                                    (attrs & adFldFixed) != 0, (attrs & adFldLong) != 0);
        if (def.Info.Type == adEmpty)
            FReader.Fail(typeHolder.Offset, "the column \"" + def.Info.Name + "\" has the unknown type dt:type='" +
                                                ClipForMessage(dt ? dt->Value : String(), 40) + "'");
        auto number = [&](const char* uri, const char* local, long lo, long hi, long& out) {
            const TXmlAttr* a = FindAttr(typeHolder, uri, local);
            if (!a) return false;
            char* end = nullptr;
            const long long v = std::strtoll(a->Value.c_str(), &end, 10);
            if (a->Value.empty() || *end || v < lo || v > hi)
                FReader.Fail(typeHolder.Offset, String(local) + "='" + ClipForMessage(a->Value, 40) + "' of \"" +
                                                    def.Info.Name + "\" is out of range");
            out = static_cast<long>(v);
            return true;
        };
        long v;
        def.Info.DefinedSize = 0;
        if (number(NsDt, "maxLength", 0, 2147483647, v)) def.Info.DefinedSize = static_cast<int>(v);
        if (number(NsRs, "precision", 0, 255, v)) def.Info.Precision = static_cast<Byte>(v);
        if (number(NsRs, "scale", 0, 255, v)) def.Info.NumericScale = static_cast<Byte>(v);
        if ((def.Info.Type == adNumeric || def.Info.Type == adDecimal) && def.Info.NumericScale != 255 &&
            def.Info.NumericScale > 28)
            FReader.Fail(typeHolder.Offset, "the scale of \"" + def.Info.Name + "\" is beyond 28");
        def.Info.Attributes = attrs;
        def.Order = FColumns.size();
        if (FColumns.size() >= 4096) FReader.Fail(e.Offset, "more than 4096 columns");
        FColumns.push_back(std::move(def));
    }

    void MakeStore(std::size_t offset) {
        if (FColumns.empty()) FReader.Fail(offset, "the schema defines no column");
        std::stable_sort(FColumns.begin(), FColumns.end(), [](const TColumnDef& a, const TColumnDef& b) {
            const int na = a.Number ? a.Number : 1 << 20, nb = b.Number ? b.Number : 1 << 20;
            return na < nb;
        });
        std::vector<TColumnInfo> infos;
        for (const auto& d : FColumns) infos.push_back(d.Info);
        try {
            FStore = std::make_unique<TRowStore>(std::move(infos));
        } catch (const EEngineError& err) {
            FReader.Fail(offset, err.Message());
        }
        for (std::size_t i = 0; i < FColumns.size(); ++i) FByName.emplace(FColumns[i].DataName, i);
        FBuffer.Reset(FColumns.size());
        FScratch.assign(FColumns.size(), String());
    }

    enum TRowUse { ruPlain, ruInsert, ruDelete, ruOriginal, ruUpdate };

    // Reads the attributes of a z:row into FBuffer (Nulls elsewhere), or
    // into changes for the current values of an update.
    void ReadRow(const TXmlEvent& e, bool changes) {
        for (std::size_t c = 0; c < FColumns.size(); ++c) FBuffer.SetNull(c);
        FChanged.assign(FColumns.size(), false);
        FNulls.assign(FColumns.size(), false);
        for (const auto& a : e.Attrs) {
            if (SameUri(a.Uri, NsNulls) && a.Local == "nulls") {
                std::size_t i = 0;
                const String& list = a.Value;
                while (i < list.size()) {
                    while (i < list.size() && list[i] == ' ') ++i;
                    std::size_t j = i;
                    while (j < list.size() && list[j] != ' ') ++j;
                    if (j > i) {
                        auto it = FByName.find(list.substr(i, j - i));
                        if (it != FByName.end()) FNulls[it->second] = true;
                    }
                    i = j;
                }
                continue;
            }
            if (!a.Uri.empty()) continue;
            auto it = FByName.find(a.Local);
            if (it == FByName.end()) continue;  // undeclared attributes are ignored
            const std::size_t c = it->second;
            String why;
            if (!TextCell(FStore->GetColumns()[c], FStore->GetKinds()[c], a.Value, FBuffer[c], FScratch[c], why))
                FReader.Fail(e.Offset, "z:row has " + a.Local + "='" + ClipForMessage(a.Value, 60) +
                                           "', which column \"" + FStore->GetColumns()[c].Name + "\" (" +
                                           DataTypeName(FStore->GetColumns()[c].Type) + ") cannot hold: " + why);
            FChanged[c] = true;
        }
        (void)changes;
    }

    // The z:row elements inside a wrapper (or the rs:original of an update).
    void ReadRows(TRowUse use) {
        for (;;) {
            TXmlEvent e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEnd) return;
            if (e.Kind == TXmlEvent::xeEof) FReader.Fail(e.Offset, "the data section is not closed");
            if (Is(e, NsZ, FRowName.c_str()) || (e.Local == FRowName && SameUri(e.Uri, NsZ))) {
                ReadRow(e, false);
                Skip();
                switch (use) {
                    case ruPlain: FStore->Append(FBuffer); break;
                    case ruDelete: FStore->Delete(FStore->Append(FBuffer)); break;
                    case ruInsert: {
                        const TRowId r = FStore->AddNew();
                        for (std::size_t c = 0; c < FColumns.size(); ++c)
                            if (FChanged[c]) FStore->SetCell(r, c, FBuffer[c]);
                        break;
                    }
                    case ruOriginal:
                        if (FOriginalRow != NoRow) FReader.Fail(e.Offset, "rs:original holds more than one row");
                        FOriginalRow = FStore->Append(FBuffer);
                        break;
                    case ruUpdate: {
                        if (FOriginalRow == NoRow) FReader.Fail(e.Offset, "rs:update has no rs:original before its row");
                        if (FUpdated) FReader.Fail(e.Offset, "rs:update holds more than one changed row");
                        FUpdated = true;
                        bool any = false;
                        for (std::size_t c = 0; c < FColumns.size(); ++c) {
                            if (FChanged[c]) {
                                FStore->SetCell(FOriginalRow, c, FBuffer[c]);
                                any = true;
                            } else if (FNulls[c]) {
                                FStore->SetCell(FOriginalRow, c, TCell{});
                                any = true;
                            }
                        }
                        // A change back to the same values still counts as a change.
                        if (!any) FStore->SetCell(FOriginalRow, 0, FStore->GetCell(FOriginalRow, 0));
                        break;
                    }
                }
            } else if (use == ruUpdate && Is(e, NsRs, "original")) {
                if (FOriginalRow != NoRow) FReader.Fail(e.Offset, "rs:update holds two rs:original elements");
                ReadRows(ruOriginal);
                if (FOriginalRow == NoRow) FReader.Fail(e.Offset, "rs:original holds no row");
            } else {
                Skip();
            }
        }
    }

    void ReadData() {
        MakeStore(0);
        for (;;) {
            TXmlEvent e = FReader.Next();
            if (e.Kind == TXmlEvent::xeEnd) return;
            if (e.Kind == TXmlEvent::xeEof) FReader.Fail(e.Offset, "rs:data is not closed");
            if (e.Local == FRowName && SameUri(e.Uri, NsZ)) {
                ReadRow(e, false);
                Skip();
                FStore->Append(FBuffer);
            } else if (Is(e, NsRs, "insert")) {
                ReadRows(ruInsert);
            } else if (Is(e, NsRs, "delete")) {
                ReadRows(ruDelete);
            } else if (Is(e, NsRs, "update")) {
                FOriginalRow = NoRow;
                FUpdated = false;
                ReadRows(ruUpdate);
                if (FOriginalRow == NoRow) FReader.Fail(e.Offset, "rs:update has no rs:original");
                if (!FUpdated) FReader.Fail(e.Offset, "rs:update has no changed row");
            } else {
                Skip();
            }
        }
    }

    TXmlReader FReader;
    String FRowName;
    std::vector<TColumnDef> FColumns;
    std::map<String, std::size_t> FByName;
    std::unique_ptr<TRowStore> FStore;
    TRowBuffer FBuffer;
    std::vector<String> FScratch;
    std::vector<bool> FChanged, FNulls;
    TRowId FOriginalRow = NoRow;
    bool FUpdated = false;
};

}  // namespace

std::unique_ptr<TRowStore> LoadXml(std::string_view data) {
    TXmlLoader loader(data);
    try {
        return loader.Load();
    } catch (const EPersistError&) {
        throw;
    } catch (const EEngineError& e) {
        throw EPersistError("The XML rowset cannot be loaded: " + e.Message(), e.GetNumber());
    }
}

}  // namespace DataEngine
