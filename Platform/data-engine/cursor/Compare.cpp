#include "Platform/data-engine/cursor/Compare.h"

#include <cmath>
#include <cstdlib>

namespace DataEngine {

using namespace Velora;

namespace {

char AsciiUpper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsAscii(std::string_view s) noexcept {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Case-insensitive identity of a text, code point by code point (as the
// runtime library folds: upper case, then lower case).
String FoldText(std::string_view s) {
    if (IsAscii(s)) {
        String out(s);
        for (char& c : out) c = AsciiLower(c);
        return out;
    }
    return Rtl::AnsiLowerCase(Rtl::AnsiUpperCase(s));
}

template <class T>
int Sign3(T a, T b) noexcept {
    return a < b ? -1 : (b < a ? 1 : 0);
}

using U128 = unsigned __int128;

U128 Pow10(int n) noexcept {
    U128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

U128 MantissaOf(const Rtl::TDecimal& d) noexcept { return (static_cast<U128>(d.Hi32) << 64) | d.Lo64; }

// Exact comparison of two unsigned decimals m * 10^-s (s <= 28).
int CompareMagnitudes(U128 ma, int sa, U128 mb, int sb) noexcept {
    const U128 pa = Pow10(sa), pb = Pow10(sb);
    const U128 ia = ma / pa, ib = mb / pb;
    if (ia != ib) return ia < ib ? -1 : 1;
    // Fractions below 10^28 (fits 94 bits) brought to one scale.
    const int s = sa > sb ? sa : sb;
    const U128 fa = (ma % pa) * Pow10(s - sa), fb = (mb % pb) * Pow10(s - sb);
    return Sign3(fa, fb);
}

long double CellNumber(TStorageKind kind, const TCell& c) noexcept {
    switch (kind) {
        case skBoolean:
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64: return static_cast<long double>(c.I);
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return static_cast<long double>(c.U);
        case skCurrency: return static_cast<long double>(c.I) / 10000.0L;
        case skDecimal: {
            const Rtl::TDecimal d = c.GetDecimal();
            const long double v = static_cast<long double>(MantissaOf(d)) / static_cast<long double>(Pow10(d.Scale));
            return d.Sign ? -v : v;
        }
        default: return static_cast<long double>(c.D);
    }
}

bool IsUnsignedKind(TStorageKind k) noexcept { return k == skUInt8 || k == skUInt16 || k == skUInt32 || k == skUInt64; }

// Range of the integer kinds.
void IntRange(TStorageKind k, Int64& lo, UInt64& hi) noexcept {
    switch (k) {
        case skInt8: lo = INT8_MIN; hi = INT8_MAX; break;
        case skInt16: lo = INT16_MIN; hi = INT16_MAX; break;
        case skInt32: lo = INT32_MIN; hi = INT32_MAX; break;
        case skUInt8: lo = 0; hi = UINT8_MAX; break;
        case skUInt16: lo = 0; hi = UINT16_MAX; break;
        case skUInt32: lo = 0; hi = UINT32_MAX; break;
        case skUInt64: lo = 0; hi = UINT64_MAX; break;
        default: lo = INT64_MIN; hi = INT64_MAX; break;
    }
}

// A number as criteria write it: an optional sign and '$' in either order,
// digits with an optional decimal point, an optional exponent. The result is
// the plain number text (sign, digits, point, exponent) for the exact parser.
bool NormalizeNumber(std::string_view s, String& out) {
    std::size_t i = 0;
    bool negative = false, dollar = false;
    for (int k = 0; k < 2 && i < s.size(); ++k) {
        if ((s[i] == '+' || s[i] == '-') && !negative && (k == 0 || dollar)) {
            negative = s[i] == '-';
            ++i;
        } else if (s[i] == '$' && !dollar) {
            dollar = true;
            ++i;
        }
    }
    out.clear();
    if (negative) out += '-';
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') out += s[i++], ++digits;
    if (i < s.size() && s[i] == '.') {
        out += s[i++];
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') out += s[i++], ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        out += s[i++];
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
        std::size_t e = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') out += s[i++], ++e;
        if (e == 0) return false;
    }
    return i == s.size();
}

String KindText(const TColumnInfo& column) { return DataTypeName(column.Type); }

int ReadNumber(std::string_view s, std::size_t& i, int maxDigits) noexcept {
    int v = 0, n = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < maxDigits) {
        v = v * 10 + (s[i++] - '0');
        ++n;
    }
    return n == 0 ? -1 : v;
}

// "h:mm[:ss] [AM|PM]" from position i to the end.
bool ParseClock(std::string_view s, std::size_t i, int& h, int& mi, int& sec) noexcept {
    h = ReadNumber(s, i, 2);
    if (h < 0 || i >= s.size() || s[i] != ':') return false;
    ++i;
    mi = ReadNumber(s, i, 2);
    if (mi < 0 || mi > 59) return false;
    sec = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        sec = ReadNumber(s, i, 2);
        if (sec < 0 || sec > 59) return false;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size()) {
        const std::string_view rest = s.substr(i);
        const bool am = Rtl::SameText(rest, "AM"), pm = Rtl::SameText(rest, "PM");
        if (!am && !pm) return false;
        if (h < 1 || h > 12) return false;
        if (am && h == 12) h = 0;
        if (pm && h != 12) h += 12;
    }
    return h <= 23;
}

}  // namespace

// ---- Orders ------------------------------------------------------------------------------

int CollateText(std::string_view a, std::string_view b) noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char ca = a[i], cb = b[i];
        if (static_cast<unsigned char>(ca | cb) >= 0x80) {
            try {
                return Rtl::AnsiCompareText(a, b);
            } catch (...) {
                return Sign3(a, b);
            }
        }
        if (ca == cb) continue;
        const char ua = AsciiUpper(ca), ub = AsciiUpper(cb);
        if (ua != ub) return static_cast<unsigned char>(ua) < static_cast<unsigned char>(ub) ? -1 : 1;
    }
    // Equal so far in both levels: the longer text is the greater one.
    return Sign3(a.size(), b.size());
}

int CompareDecimals(const Rtl::TDecimal& a, const Rtl::TDecimal& b) noexcept {
    const U128 ma = MantissaOf(a), mb = MantissaOf(b);
    const bool na = a.Sign && ma != 0, nb = b.Sign && mb != 0;
    if (na != nb) return na ? -1 : 1;
    const int r = CompareMagnitudes(ma, a.Scale, mb, b.Scale);
    return na ? -r : r;
}

int CompareCells(TStorageKind kind, const TCell& a, const TCell& b) noexcept {
    if (a.Null || b.Null) return a.Null == b.Null ? 0 : (a.Null ? -1 : 1);
    switch (kind) {
        case skBoolean:
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64:
        case skCurrency: return Sign3(a.I, b.I);
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return Sign3(a.U, b.U);
        case skSingle:
        case skDouble:
        case skDate: return Sign3(a.D, b.D);
        case skDecimal: return CompareDecimals(a.GetDecimal(), b.GetDecimal());
        case skGuid: {
            const int r = std::memcmp(a.Raw, b.Raw, 16);
            return r < 0 ? -1 : (r > 0 ? 1 : 0);
        }
        case skText: return CollateText(a.GetView(), b.GetView());
        case skBytes: return Sign3(a.GetView(), b.GetView());
    }
    return 0;
}

TValueDomain DomainOf(TStorageKind kind) noexcept {
    switch (kind) {
        case skBoolean: return vdBoolean;
        case skDate: return vdDate;
        case skGuid: return vdGuid;
        case skText: return vdText;
        case skBytes: return vdBytes;
        default: return vdNumber;
    }
}

// ---- Dates in criteria ---------------------------------------------------------------------

bool ParseCriteriaDate(std::string_view text, double& out) noexcept {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return false;
    if (ParseIsoDateTime(text, false, out)) return true;
    int h = 0, mi = 0, sec = 0;
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        // A time of day alone.
        if (!ParseClock(text, 0, h, mi, sec)) return false;
        return EncodeDateTimeUs(1899, 12, 30, h, mi, sec, 0, out);
    }
    std::size_t i = 0;
    const int month = ReadNumber(text, i, 2);
    if (month < 1 || i >= text.size() || text[i] != '/') return false;
    ++i;
    const int day = ReadNumber(text, i, 2);
    if (day < 1 || i >= text.size() || text[i] != '/') return false;
    ++i;
    const std::size_t yearStart = i;
    int year = ReadNumber(text, i, 4);
    if (year < 0) return false;
    if (i - yearStart <= 2) year += year < 30 ? 2000 : 1900;
    if (i < text.size()) {
        if (text[i] != ' ' && text[i] != 'T') return false;
        while (i < text.size() && (text[i] == ' ' || text[i] == 'T')) ++i;
        if (!ParseClock(text, i, h, mi, sec)) return false;
    }
    return EncodeDateTimeUs(year, month, day, h, mi, sec, 0, out);
}

// ---- Probes ----------------------------------------------------------------------------------

TProbe TProbe::Null(TStorageKind kind) {
    TProbe p;
    p.FKind = kind;
    return p;
}

TProbe TProbe::Like(TLikeMode mode, std::string_view text) {
    TProbe p;
    p.FKind = skText;
    p.FNull = false;
    p.FForm = pfText;
    p.FLike = mode;
    p.FText = FoldText(text);
    return p;
}

namespace {

// A number probe for a numeric column from normalized number text.
bool NumberProbe(TStorageKind kind, const String& number, TCell& cell, long double& approx, bool& exact) {
    char* end = nullptr;
    approx = std::strtold(number.c_str(), &end);
    if (end != number.c_str() + number.size() || std::isnan(approx)) return false;
    exact = false;
    cell = TCell{};
    cell.Null = false;
    if (kind == skDouble) {
        cell.D = std::strtod(number.c_str(), nullptr);
        exact = std::isfinite(cell.D);
        return true;
    }
    if (kind == skSingle) {
        cell.D = static_cast<double>(std::strtof(number.c_str(), nullptr));
        exact = std::isfinite(cell.D);
        return true;
    }
    TExactDecimal x;
    if (!ParseExactDecimal(number, x)) return true;  // too many digits: compared approximately
    if (kind == skCurrency) {
        exact = ExactToCurrency(x, cell.I);
        return true;
    }
    if (kind == skDecimal) {
        Rtl::TDecimal d;
        const int scale = x.Scale < 0 ? 0 : (x.Scale > 28 ? 28 : x.Scale);
        if (ExactToDecimal(x, scale, 29, d)) {
            cell.SetDecimal(d);
            exact = true;
        }
        return true;
    }
    // Integers: only whole numbers in the kind's range are cells.
    Rtl::TDecimal d;
    if (!ExactToDecimal(x, 0, 29, d) || d.Hi32 != 0) return true;
    Int64 lo;
    UInt64 hi;
    IntRange(kind, lo, hi);
    const bool neg = d.Sign != 0 && d.Lo64 != 0;
    if (IsUnsignedKind(kind)) {
        if (neg || d.Lo64 > hi) return true;
        cell.U = d.Lo64;
    } else {
        if (neg ? d.Lo64 > static_cast<UInt64>(-(lo + 1)) + 1 : d.Lo64 > hi) return true;
        cell.I = neg ? static_cast<Int64>(0 - d.Lo64) : static_cast<Int64>(d.Lo64);
    }
    exact = true;
    return true;
}

[[noreturn]] void ProbeError(const TColumnInfo& column, const String& value, const String& why) {
    throw EEngineError("The value " + value + " cannot be compared with column \"" + column.Name + "\" (" +
                           KindText(column) + "): " + why,
                       AdoErrorHResult(adErrDataConversion));
}

}  // namespace

TProbe TProbe::FromLiteral(const TColumnInfo& column, TStorageKind kind, TLiteral literal, std::string_view text) {
    return FromLiteral(column, kind, literal, text,
                       literal == ltString ? "'" + String(text) + "'"
                       : literal == ltHash ? "#" + String(text) + "#"
                                           : String(text));
}

TProbe TProbe::FromLiteral(const TColumnInfo& column, TStorageKind kind, TLiteral literal, std::string_view text,
                           const String& shown) {
    TProbe p;
    p.FKind = kind;
    p.FNull = false;
    switch (DomainOf(kind)) {
        case vdNumber: {
            if (literal == ltTrue || literal == ltFalse || literal == ltHash)
                ProbeError(column, shown, "the column holds numbers");
            String number;
            if (!NormalizeNumber(Rtl::Trim(text), number)) ProbeError(column, shown, "not a number");
            bool exact = false;
            if (!NumberProbe(kind, number, p.FCell, p.FNumber, exact)) ProbeError(column, shown, "not a number");
            p.FForm = exact ? pfCell : pfNumber;
            return p;
        }
        case vdBoolean: {
            bool b;
            if (literal == ltTrue || literal == ltFalse) {
                b = literal == ltTrue;
            } else if (literal == ltNumber) {
                String number;
                if (!NormalizeNumber(text, number)) ProbeError(column, shown, "not a number");
                b = std::strtold(number.c_str(), nullptr) != 0;
            } else if (!Rtl::TryStrToBool(Rtl::Trim(text), b)) {
                ProbeError(column, shown, "not True or False");
            }
            p.FForm = pfCell;
            p.FCell.Null = false;
            p.FCell.I = b ? 1 : 0;
            return p;
        }
        case vdDate: {
            double d;
            if (literal == ltTrue || literal == ltFalse || literal == ltNumber)
                ProbeError(column, shown, "dates are written between # signs");
            if (!ParseCriteriaDate(text, d)) ProbeError(column, shown, "not a date");
            p.FForm = pfCell;
            p.FCell.Null = false;
            p.FCell.D = d;
            return p;
        }
        case vdText:
            p.FForm = pfText;
            p.FText = literal == ltTrue ? "True" : literal == ltFalse ? "False" : String(text);
            return p;
        case vdGuid: {
            if ((literal != ltString && literal != ltHash) || !ParseGuidText(Rtl::Trim(text), p.FCell.Raw))
                ProbeError(column, shown, "not a GUID");
            p.FForm = pfCell;
            p.FCell.Null = false;
            return p;
        }
        case vdBytes: ProbeError(column, shown, "binary values cannot be compared");
    }
    return p;
}

TProbe TProbe::FromVariant(const TColumnInfo& column, TStorageKind kind, const Variant& value) {
    const Variant v = value.IsByRef() ? value.Deref() : value;
    if (v.IsNull() || v.IsEmpty()) return Null(kind);
    const String shown = DescribeValue(v);
    const Rtl::TVarType t = v.BaseType();
    const bool isText = t == Rtl::varString || t == Rtl::varOleStr;
    try {
        switch (DomainOf(kind)) {
            case vdNumber: {
                String text;
                if (isText) text = v.ToString();
                else if (t == Rtl::varDouble || t == Rtl::varSingle || t == Rtl::varDate)
                    text = DoubleToShortest(v.ToDouble());
                else if (t == Rtl::varCurrency || t == Rtl::varDecimal)
                    text = DecimalToText(v.ToDecimal());
                else if (t == Rtl::varUInt64)
                    text = std::to_string(v.ToUInt64());
                else if (t == Rtl::varBoolean)
                    text = v.ToBoolean() ? "-1" : "0";
                else if (!v.IsArray() && Rtl::VarIsNumeric(v))
                    text = std::to_string(v.ToInt64());
                else
                    ProbeError(column, shown, "not a number");
                return FromLiteral(column, kind, ltNumber, text, shown);
            }
            case vdBoolean: {
                TProbe p;
                p.FKind = kind;
                p.FNull = false;
                p.FForm = pfCell;
                p.FCell.Null = false;
                p.FCell.I = v.ToBoolean() ? 1 : 0;
                return p;
            }
            case vdDate: {
                TProbe p;
                p.FKind = kind;
                p.FNull = false;
                p.FForm = pfCell;
                p.FCell.Null = false;
                if (isText) {
                    if (!ParseCriteriaDate(v.ToString(), p.FCell.D)) ProbeError(column, shown, "not a date");
                } else {
                    p.FCell.D = v.ToDateTime().Value;
                }
                return p;
            }
            case vdText: {
                TProbe p;
                p.FKind = kind;
                p.FNull = false;
                p.FForm = pfText;
                p.FText = v.ToString();
                return p;
            }
            case vdGuid:
                if (!isText) ProbeError(column, shown, "not a GUID");
                return FromLiteral(column, kind, ltString, v.ToString(), shown);
            case vdBytes: {
                TProbe p;
                p.FKind = kind;
                p.FNull = false;
                p.FForm = pfBytes;
                const auto bytes = Rtl::VarArrayToBytes(v);
                p.FText.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                return p;
            }
        }
    } catch (const EEngineError&) {
        throw;
    } catch (const Rtl::Exception& e) {
        ProbeError(column, shown, e.Message());
    }
    return Null(kind);
}

int TProbe::Compare(const TCell& cell) const noexcept {
    switch (FForm) {
        case pfNull: return 1;
        case pfCell: return CompareCells(FKind, cell, FCell);
        case pfNumber: return Sign3(CellNumber(FKind, cell), FNumber);
        case pfText: return CollateText(cell.GetView(), FText);
        case pfBytes: return Sign3(cell.GetView(), std::string_view(FText));
    }
    return 0;
}

bool TProbe::MatchesLike(const TCell& cell) const noexcept {
    const std::string_view v = cell.GetView();
    String folded;
    try {
        folded = FoldText(v);
    } catch (...) {
        return false;
    }
    switch (FLike) {
        case lmWhole: return folded == FText;
        case lmPrefix: return folded.compare(0, FText.size(), FText) == 0 && folded.size() >= FText.size();
        case lmContains: return folded.find(FText) != String::npos;
    }
    return false;
}

bool TProbe::AsCell(TCell& out) const noexcept {
    if (FForm == pfCell) {
        out = FCell;
        return true;
    }
    if (FForm == pfText || FForm == pfBytes) {
        out = TCell{};
        out.Null = false;
        out.Data = FText.data();
        out.Size = FText.size();
        return true;
    }
    return false;
}

}  // namespace DataEngine
