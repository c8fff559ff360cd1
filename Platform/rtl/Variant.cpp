// OleVariant: storage, copying, by-reference access, conversions and comparison.
// Arrays live in VarArray.cpp, decimal arithmetic in Decimal.cpp.
//
// Conversion rules (the framework's):
// - Empty converts to 0, '', False and the date 0; Null converts to nothing but
//   Null and Empty (VarToStr gives '' for Null) and raises EVariantTypeCastError.
// - Numbers convert among themselves with range checks (EVariantOverflowError);
//   floating values round to integers to nearest, ties to even. Booleans are
//   -1 and 0 as numbers and "True"/"False" as text.
// - Text converts to numbers as StrToInt64, then StrToFloat (the settings'
//   decimal separator), then "True"/"False"; to dates with StrToDateTime; to
//   booleans from "True"/"False" in any case or any number (non-zero is True).
// - Interfaces, errors and arrays convert only to their own kinds.
#include <cfloat>
#include <cmath>

#include "Platform/rtl/VariantInternal.h"

namespace Rtl {

namespace {

// Shared immutable text payloads; a null pointer stands for the empty string.
template <class S>
struct TVarText {
    std::atomic<int> Refs{1};
    S Text;
};
using TVarStr = TVarText<String>;
using TVarWStr = TVarText<WideString>;

template <class S>
const S& TextOf(void* p) noexcept {
    static const S empty;
    return p ? static_cast<TVarText<S>*>(p)->Text : empty;
}

template <class S>
void* NewText(S&& s) {
    if (s.empty()) return nullptr;
    return new TVarText<std::decay_t<S>>{{1}, std::forward<S>(s)};
}

template <class S>
void AddRefText(void* p) noexcept {
    if (p) static_cast<TVarText<S>*>(p)->Refs.fetch_add(1, std::memory_order_relaxed);
}

template <class S>
void ReleaseText(void* p) noexcept {
    auto* t = static_cast<TVarText<S>*>(p);
    if (t && t->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

constexpr int MaxRefDepth = 16;

bool IsIntegerKind(TVarType t) noexcept {
    switch (t) {
        case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
        case varLongWord: case varInt64: case varUInt64:
            return true;
        default:
            return false;
    }
}

bool IsFloatKind(TVarType t) noexcept { return t == varSingle || t == varDouble || t == varDate; }

bool IsNumberLike(TVarType t) noexcept {
    return IsIntegerKind(t) || IsFloatKind(t) || t == varCurrency || t == varDecimal || t == varBoolean;
}

bool IsTextKind(TVarType t) noexcept { return t == varString || t == varOleStr; }

bool IsInterfaceKind(TVarType t) noexcept { return t == varUnknown || t == varDispatch; }

const GUID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

double RoundHalfEven(double v) noexcept { return std::nearbyint(v); }  // default rounding mode

}  // namespace

// ---- Errors ---------------------------------------------------------------------------

void VarCastError(TVarType from, TVarType to) {
    throw EVariantTypeCastError(Format("Could not convert variant of type (%s) into type (%s)",
                                       {VarTypeAsText(from), VarTypeAsText(to)}));
}

void VarOverflowError(TVarType from, TVarType to) {
    throw EVariantOverflowError(Format("Variant overflow while converting variant of type (%s) into type (%s)",
                                       {VarTypeAsText(from), VarTypeAsText(to)}));
}

void VarNotArrayError() { throw EVariantInvalidArgError("Variant is not an array"); }

// ---- Construction and copying -----------------------------------------------------------

Variant::Variant(const Variant& o) {
    Clear0();
    CopyFrom(o);
}

Variant::Variant(Variant&& o) noexcept {
    FType = o.FType;
    FPad = o.FPad;
    FHi32 = o.FHi32;
    FU64 = o.FU64;
    o.Clear0();
    o.FHi32 = 0;
}

Variant& Variant::operator=(const Variant& o) {
    if (this != &o) {
        Variant tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}

Variant& Variant::operator=(Variant&& o) noexcept {
    if (this != &o) {
        Clear();
        FType = o.FType;
        FPad = o.FPad;
        FHi32 = o.FHi32;
        FU64 = o.FU64;
        o.Clear0();
        o.FHi32 = 0;
    }
    return *this;
}

Variant::~Variant() { Clear(); }

// Precondition: this is Empty.
void Variant::CopyFrom(const Variant& o) {
    if (!o.IsByRef()) {
        if (o.IsArray()) {
            auto* a = static_cast<TVarArrayData*>(o.FPtr);
            if (a->LockCount > 0) {
                a = a->Clone();  // never share a locked payload
            } else {
                a->AddRef();
            }
            FType = o.FType;
            FPtr = a;
            return;
        }
        switch (o.FType) {
            case varString: AddRefText<String>(o.FPtr); break;
            case varOleStr: AddRefText<WideString>(o.FPtr); break;
            case varUnknown:
            case varDispatch:
                if (o.FPtr) static_cast<IUnknown*>(o.FPtr)->AddRef();
                break;
            default: break;
        }
    }
    FType = o.FType;
    FPad = o.FPad;
    FHi32 = o.FHi32;
    FU64 = o.FU64;
}

void Variant::Clear() noexcept {
    if (!IsByRef()) {
        if (IsArray()) {
            static_cast<TVarArrayData*>(FPtr)->Release();
        } else {
            switch (FType) {
                case varString: ReleaseText<String>(FPtr); break;
                case varOleStr: ReleaseText<WideString>(FPtr); break;
                case varUnknown:
                case varDispatch:
                    if (FPtr) static_cast<IUnknown*>(FPtr)->Release();
                    break;
                default: break;
            }
        }
    }
    Clear0();
    FHi32 = 0;
}

Variant::Variant(bool v) noexcept { Clear0(); FType = varBoolean; FShort = v ? -1 : 0; }
Variant::Variant(signed char v) noexcept { Clear0(); FType = varShortInt; FI64 = v; }
Variant::Variant(unsigned char v) noexcept { Clear0(); FType = varByte; FU64 = v; }
Variant::Variant(short v) noexcept { Clear0(); FType = varSmallint; FI64 = v; }
Variant::Variant(unsigned short v) noexcept { Clear0(); FType = varWord; FU64 = v; }
Variant::Variant(int v) noexcept { Clear0(); FType = varInteger; FI64 = v; }
Variant::Variant(unsigned v) noexcept { Clear0(); FType = varLongWord; FU64 = v; }
Variant::Variant(long v) noexcept { Clear0(); FType = varInt64; FI64 = v; }
Variant::Variant(unsigned long v) noexcept { Clear0(); FType = varUInt64; FU64 = v; }
Variant::Variant(long long v) noexcept { Clear0(); FType = varInt64; FI64 = v; }
Variant::Variant(unsigned long long v) noexcept { Clear0(); FType = varUInt64; FU64 = v; }
Variant::Variant(float v) noexcept { Clear0(); FType = varSingle; FSingle = v; }
Variant::Variant(double v) noexcept { Clear0(); FType = varDouble; FDouble = v; }
Variant::Variant(Currency v) noexcept { Clear0(); FType = varCurrency; FI64 = v.Value; }
Variant::Variant(TDateTime v) noexcept { Clear0(); FType = varDate; FDouble = v.Value; }

Variant::Variant(const TDecimal& v) noexcept {
    // COM's layout: the kind overlays the decimal's reserved word.
    FType = varDecimal;
    FPad = static_cast<Word>(v.Scale | (v.Sign << 8));
    FHi32 = v.Hi32;
    FU64 = v.Lo64;
}

Variant::Variant(const char* v) : Variant(std::string_view(v ? v : "")) {}
Variant::Variant(std::string_view v) { Clear0(); FPtr = NewText(String(v)); FType = varString; }
Variant::Variant(const String& v) { Clear0(); FPtr = NewText(String(v)); FType = varString; }
Variant::Variant(const char16_t* v) : Variant(std::u16string_view(v ? v : u"")) {}
Variant::Variant(std::u16string_view v) { Clear0(); FPtr = NewText(WideString(v)); FType = varOleStr; }
Variant::Variant(const WideString& v) { Clear0(); FPtr = NewText(WideString(v)); FType = varOleStr; }

Variant Variant::Null() noexcept {
    Variant v;
    v.FType = varNull;
    return v;
}

Variant Variant::Error(HRESULT code) noexcept {
    Variant v;
    v.FType = varError;
    v.FInt = code;
    return v;
}

Variant Variant::FromUnknown(IUnknown* unk) noexcept {
    Variant v;
    if (unk) unk->AddRef();
    v.FType = varUnknown;
    v.FPtr = unk;
    return v;
}

Variant Variant::FromDispatch(IUnknown* disp) noexcept {
    Variant v;
    if (disp) disp->AddRef();
    v.FType = varDispatch;
    v.FPtr = disp;
    return v;
}

Variant Variant::ByRef(TVarType kind, void* p) noexcept {
    Variant v;
    if (!p) return v;  // nothing to refer to
    v.FType = static_cast<TVarType>((kind & (varTypeMask | varArray)) | varByRef);
    v.FPtr = p;
    return v;
}

IUnknown* Variant::GetInterface() const noexcept {
    const Variant* v = this;
    for (int depth = 0; depth < MaxRefDepth; ++depth) {
        switch (v->FType) {
            case varUnknown:
            case varDispatch: return static_cast<IUnknown*>(v->FPtr);
            case varByRef | varUnknown:
            case varByRef | varDispatch: return *static_cast<IUnknown**>(v->FPtr);
            case varByRef | varVariant: v = static_cast<const Variant*>(v->FPtr); break;
            default: return nullptr;
        }
    }
    return nullptr;
}

TVarArrayData* Variant::ArrayData() const noexcept {
    const Variant* v = this;
    for (int depth = 0; depth < MaxRefDepth && v->IsByRef(); ++depth) {
        if (!(v->FType & varArray) && (v->FType & varTypeMask) != varVariant) return nullptr;
        v = static_cast<const Variant*>(v->FPtr);
    }
    return v->IsArray() && !v->IsByRef() ? static_cast<TVarArrayData*>(v->FPtr) : nullptr;
}

// ---- By-reference access ------------------------------------------------------------------
// The referenced storage per kind: varSmallint short, varInteger int, varSingle
// float, varDouble double, varCurrency Currency, varDate TDateTime, varOleStr
// WideString, varString String, varDispatch/varUnknown IUnknown* (a counted slot),
// varError HRESULT, varBoolean short (-1/0), varVariant Variant, varDecimal
// TDecimal, varShortInt signed char, varByte unsigned char, varWord unsigned short,
// varLongWord unsigned, varInt64 Int64, varUInt64 UInt64; array kinds a Variant.

Variant Variant::Deref() const {
    const Variant* v = this;
    for (int depth = 0; v->IsByRef(); ++depth) {
        if (depth == MaxRefDepth) throw EVariantInvalidOpError("Circular variant reference");
        const void* p = v->FPtr;
        const TVarType k = v->FType & ~varByRef;
        if ((k & varArray) || k == varVariant) {
            v = static_cast<const Variant*>(p);
            continue;
        }
        switch (k) {
            case varEmpty: return Variant();
            case varNull: return Variant::Null();
            case varSmallint: return Variant(*static_cast<const short*>(p));
            case varInteger: return Variant(*static_cast<const int*>(p));
            case varSingle: return Variant(*static_cast<const float*>(p));
            case varDouble: return Variant(*static_cast<const double*>(p));
            case varCurrency: return Variant(*static_cast<const Currency*>(p));
            case varDate: return Variant(*static_cast<const TDateTime*>(p));
            case varOleStr: return Variant(*static_cast<const WideString*>(p));
            case varString: return Variant(*static_cast<const String*>(p));
            case varDispatch: return FromDispatch(*static_cast<IUnknown* const*>(p));
            case varUnknown: return FromUnknown(*static_cast<IUnknown* const*>(p));
            case varError: return Error(*static_cast<const HRESULT*>(p));
            case varBoolean: return Variant(*static_cast<const short*>(p) != 0);
            case varDecimal: return Variant(*static_cast<const TDecimal*>(p));
            case varShortInt: return Variant(*static_cast<const signed char*>(p));
            case varByte: return Variant(*static_cast<const unsigned char*>(p));
            case varWord: return Variant(*static_cast<const unsigned short*>(p));
            case varLongWord: return Variant(*static_cast<const unsigned*>(p));
            case varInt64: return Variant(*static_cast<const Int64*>(p));
            case varUInt64: return Variant(*static_cast<const UInt64*>(p));
            default: throw EVariantInvalidOpError("Invalid variant reference of type (" + VarTypeAsText(v->FType) + ")");
        }
    }
    return *v;
}

void Variant::AssignByRef(const Variant& value) {
    if (!IsByRef()) throw EVariantInvalidOpError("Invalid variant operation: the variant is not a reference");
    void* p = FPtr;
    const TVarType k = FType & ~varByRef;
    if (k & varArray) {
        Variant v = value.Deref();
        if (!v.IsArray()) VarCastError(v.VType(), k);
        *static_cast<Variant*>(p) = std::move(v);
        return;
    }
    if (k == varVariant) {
        Variant v = value.Deref();
        *static_cast<Variant*>(p) = std::move(v);
        return;
    }
    // Convert first: a failed conversion leaves the target untouched.
    const Variant c = VarConvert(value, k);
    switch (k) {
        case varSmallint: *static_cast<short*>(p) = c.FShort; break;
        case varInteger: *static_cast<int*>(p) = c.FInt; break;
        case varSingle: *static_cast<float*>(p) = c.FSingle; break;
        case varDouble: *static_cast<double*>(p) = c.FDouble; break;
        case varCurrency: static_cast<Currency*>(p)->Value = c.FI64; break;
        case varDate: static_cast<TDateTime*>(p)->Value = c.FDouble; break;
        case varOleStr: *static_cast<WideString*>(p) = c.ToWideString(); break;
        case varString: *static_cast<String*>(p) = c.ToString(); break;
        case varDispatch:
        case varUnknown: {
            IUnknown** slot = static_cast<IUnknown**>(p);
            IUnknown* n = c.GetInterface();
            if (n) n->AddRef();
            IUnknown* old = *slot;
            *slot = n;
            if (old) old->Release();
            break;
        }
        case varError: *static_cast<HRESULT*>(p) = c.FInt; break;
        case varBoolean: *static_cast<short*>(p) = c.FShort; break;
        case varDecimal: *static_cast<TDecimal*>(p) = c.ToDecimal(); break;
        case varShortInt: *static_cast<signed char*>(p) = static_cast<signed char>(c.FI64); break;
        case varByte: *static_cast<unsigned char*>(p) = static_cast<unsigned char>(c.FU64); break;
        case varWord: *static_cast<unsigned short*>(p) = static_cast<unsigned short>(c.FU64); break;
        case varLongWord: *static_cast<unsigned*>(p) = static_cast<unsigned>(c.FU64); break;
        case varInt64: *static_cast<Int64*>(p) = c.FI64; break;
        case varUInt64: *static_cast<UInt64*>(p) = c.FU64; break;
        default: VarCastError(value.VType(), FType);
    }
}

// ---- Conversions ---------------------------------------------------------------------------

struct VariantAccess::Conv {
    // Text payloads, for the conversions below.
    static const String& Str(const Variant& v) noexcept { return TextOf<String>(v.FPtr); }
    static const WideString& WStr(const Variant& v) noexcept { return TextOf<WideString>(v.FPtr); }
    static String AsUtf8(const Variant& v) {
        return v.FType == varString ? Str(v) : WideToUtf8(WStr(v));
    }
    static TDecimal Dec(const Variant& v) noexcept {
        TDecimal d;
        d.Scale = static_cast<Byte>(v.FPad & 0xFF);
        d.Sign = static_cast<Byte>(v.FPad >> 8);
        d.Hi32 = v.FHi32;
        d.Lo64 = v.FU64;
        return d;
    }

    static bool TextAsBoolean(std::string_view s, bool& b) noexcept {
        const String t = Trim(s);
        if (SameText(t, "True")) { b = true; return true; }
        if (SameText(t, "False")) { b = false; return true; }
        double d;
        if (TryStrToFloat(t, d)) { b = d != 0; return true; }
        return false;
    }

    // Signed integer in [lo, hi].
    static Int64 Integral(const Variant& v, TVarType target, Int64 lo, Int64 hi) {
        const TVarType from = v.FType;
        Int64 r = 0;
        switch (from) {
            case varEmpty: return 0;
            case varSmallint: case varInteger: case varShortInt: case varInt64: r = v.FI64; break;
            case varByte: case varWord: case varLongWord: r = static_cast<Int64>(v.FU64); break;
            case varUInt64:
                if (v.FU64 > static_cast<UInt64>(INT64_MAX)) VarOverflowError(from, target);
                r = static_cast<Int64>(v.FU64);
                break;
            case varBoolean: r = v.FShort ? -1 : 0; break;
            case varSingle: r = FromFloat(v.FSingle, from, target); break;
            case varDouble: case varDate: r = FromFloat(v.FDouble, from, target); break;
            case varCurrency: r = Currency::FromScaled(v.FI64).Round(); break;
            case varDecimal:
                if (!DecimalToInt64(Dec(v), r)) VarOverflowError(from, target);
                break;
            case varString: case varOleStr: r = FromText(AsUtf8(v), from, target); break;
            default: VarCastError(from, target);
        }
        if (r < lo || r > hi) VarOverflowError(from, target);
        return r;
    }

    static Int64 FromFloat(double d, TVarType from, TVarType target) {
        const double r = RoundHalfEven(d);
        if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) VarOverflowError(from, target);
        return static_cast<Int64>(r);
    }

    static Int64 FromText(const String& s, TVarType from, TVarType target) {
        Int64 i;
        if (TryStrToInt64(s, i)) return i;
        double d;
        if (TryStrToFloat(s, d)) return FromFloat(d, from, target);
        bool b;
        if (TextAsBoolean(s, b)) return b ? -1 : 0;
        VarCastError(from, target);
    }

    static UInt64 Unsigned(const Variant& v, TVarType target) {
        const TVarType from = v.FType;
        switch (from) {
            case varUInt64: return v.FU64;
            case varDecimal: {
                UInt64 r;
                if (!DecimalToUInt64(Dec(v), r)) VarOverflowError(from, target);
                return r;
            }
            case varSingle: case varDouble: case varDate: {
                const double r = RoundHalfEven(from == varSingle ? v.FSingle : v.FDouble);
                if (!(r >= 0 && r < 18446744073709551616.0)) VarOverflowError(from, target);
                return static_cast<UInt64>(r);
            }
            case varString: case varOleStr: {
                const String s = Trim(AsUtf8(v));
                // Values above the signed range are written out in decimal digits.
                if (!s.empty() && s.size() <= 20 && s.find_first_not_of("0123456789") == String::npos) {
                    unsigned __int128 x = 0;
                    for (char c : s) x = x * 10 + static_cast<unsigned>(c - '0');
                    if (x > UINT64_MAX) VarOverflowError(from, target);
                    return static_cast<UInt64>(x);
                }
                Int64 i;
                double d;
                if (!TryStrToInt64(s, i) && TryStrToFloat(s, d)) {
                    const double r = RoundHalfEven(d);
                    if (!(r >= 0 && r < 18446744073709551616.0)) VarOverflowError(from, target);
                    return static_cast<UInt64>(r);
                }
                break;
            }
            default: break;
        }
        const Int64 r = Integral(v, target, INT64_MIN, INT64_MAX);
        if (r < 0) VarOverflowError(from, target);
        return static_cast<UInt64>(r);
    }

    static double Float(const Variant& v, TVarType target) {
        const TVarType from = v.FType;
        switch (from) {
            case varEmpty: return 0;
            case varSmallint: case varInteger: case varShortInt: case varInt64:
                return static_cast<double>(v.FI64);
            case varByte: case varWord: case varLongWord: case varUInt64: return static_cast<double>(v.FU64);
            case varBoolean: return v.FShort ? -1 : 0;
            case varSingle: return v.FSingle;
            case varDouble: case varDate: return v.FDouble;
            case varCurrency: return Currency::FromScaled(v.FI64).ToDouble();
            case varDecimal: return DecimalToDouble(Dec(v));
            case varString: case varOleStr: {
                const String s = AsUtf8(v);
                double d;
                if (TryStrToFloat(s, d)) return d;
                bool b;
                if (TextAsBoolean(s, b)) return b ? -1 : 0;
                break;
            }
            default: break;
        }
        VarCastError(from, target);
    }

    static Currency Curr(const Variant& v) {
        const TVarType from = v.FType;
        constexpr Int64 maxWhole = INT64_MAX / Currency::Scale;
        switch (from) {
            case varCurrency: return Currency::FromScaled(v.FI64);
            case varDecimal: {
                Currency c;
                if (!DecimalToCurr(Dec(v), c)) VarOverflowError(from, varCurrency);
                return c;
            }
            case varSingle: case varDouble: case varDate: return FromDouble(Float(v, varCurrency), from);
            case varString: case varOleStr: {
                const String s = AsUtf8(v);
                Currency c;
                if (TryStrToCurr(s, c)) return c;
                double d;
                if (TryStrToFloat(s, d)) return FromDouble(d, from);
                bool b;
                if (TextAsBoolean(s, b)) return Currency::FromScaled(b ? -Currency::Scale : 0);
                VarCastError(from, varCurrency);
            }
            default: {
                const Int64 i = Integral(v, varCurrency, -maxWhole, maxWhole);
                return Currency::FromScaled(i * Currency::Scale);
            }
        }
    }

    static Currency FromDouble(double d, TVarType from) {
        const double scaled = d * Currency::Scale;
        if (!(scaled > -9223372036854775808.0 && scaled < 9223372036854775808.0))
            VarOverflowError(from, varCurrency);
        try {
            return Currency(d);
        } catch (const EOverflow&) {
            VarOverflowError(from, varCurrency);
        }
    }

    static TDateTime Date(const Variant& v) {
        const TVarType from = v.FType;
        if (from == varDate) return TDateTime(v.FDouble);
        if (from == varString || from == varOleStr) {
            TDateTime d;
            if (!TryStrToDateTime(AsUtf8(v), d)) VarCastError(from, varDate);
            return d;
        }
        const double d = Float(v, varDate);
        // The representable calendar: 1 January 0001 up to the end of 31 December 9999.
        if (!(d > MinDateTime - 1 && d < MaxDateTime + 1)) VarOverflowError(from, varDate);
        return TDateTime(d);
    }

    static TDecimal Decimal(const Variant& v) {
        const TVarType from = v.FType;
        switch (from) {
            case varEmpty: return TDecimal{};
            case varDecimal: return Dec(v);
            case varSmallint: case varInteger: case varShortInt: case varInt64: return Int64ToDecimal(v.FI64);
            case varByte: case varWord: case varLongWord: case varUInt64: return UInt64ToDecimal(v.FU64);
            case varBoolean: return Int64ToDecimal(v.FShort ? -1 : 0);
            case varCurrency: return CurrToDecimal(Currency::FromScaled(v.FI64));
            case varSingle: case varDouble: case varDate: {
                try {
                    return DoubleToDecimal(Float(v, varDecimal));
                } catch (const EOverflow&) {
                    VarOverflowError(from, varDecimal);
                }
            }
            case varString: case varOleStr: {
                const String s = AsUtf8(v);
                TDecimal d;
                bool outOfRange;
                if (TryStrToDecimal(s, d, outOfRange)) return d;
                if (outOfRange) VarOverflowError(from, varDecimal);
                double f;
                if (TryStrToFloat(s, f)) {
                    try {
                        return DoubleToDecimal(f);
                    } catch (const EOverflow&) {
                        VarOverflowError(from, varDecimal);
                    }
                }
                bool b;
                if (TextAsBoolean(s, b)) return Int64ToDecimal(b ? -1 : 0);
                break;
            }
            default: break;
        }
        VarCastError(from, varDecimal);
    }

    static bool Boolean(const Variant& v) {
        const TVarType from = v.FType;
        switch (from) {
            case varEmpty: return false;
            case varBoolean: return v.FShort != 0;
            case varSmallint: case varInteger: case varShortInt: case varInt64:
            case varByte: case varWord: case varLongWord: case varUInt64:
                return v.FU64 != 0;
            case varSingle: return v.FSingle != 0;
            case varDouble: case varDate: return v.FDouble != 0;
            case varCurrency: return v.FI64 != 0;
            case varDecimal: return !DecimalIsZero(Dec(v));
            case varString: case varOleStr: {
                bool b;
                if (TextAsBoolean(AsUtf8(v), b)) return b;
                break;
            }
            default: break;
        }
        VarCastError(from, varBoolean);
    }

    static String Text(const Variant& v) {
        const TVarType from = v.FType;
        switch (from) {
            case varEmpty: return String();
            case varString: return Str(v);
            case varOleStr: return WideToUtf8(WStr(v));
            case varSmallint: case varInteger: case varShortInt: case varInt64: return IntToStr(v.FI64);
            case varByte: case varWord: case varLongWord: case varUInt64: return UIntToStr(v.FU64);
            case varBoolean: return v.FShort ? "True" : "False";
            case varSingle: return FloatToStrF(v.FSingle, ffGeneral, 7, 0);
            case varDouble: return FloatToStr(v.FDouble);
            case varCurrency: return CurrToStr(Currency::FromScaled(v.FI64));
            case varDate: return DateTimeToStr(TDateTime(v.FDouble));
            case varDecimal: return DecimalToStr(Dec(v));
            default: VarCastError(from, varString);
        }
    }
};

bool Variant::ToBoolean() const {
    if (IsByRef()) return Deref().ToBoolean();
    return VariantAccess::Conv::Boolean(*this);
}

int Variant::ToInteger() const {
    if (IsByRef()) return Deref().ToInteger();
    return static_cast<int>(VariantAccess::Conv::Integral(*this, varInteger, INT32_MIN, INT32_MAX));
}

Int64 Variant::ToInt64() const {
    if (IsByRef()) return Deref().ToInt64();
    return VariantAccess::Conv::Integral(*this, varInt64, INT64_MIN, INT64_MAX);
}

UInt64 Variant::ToUInt64() const {
    if (IsByRef()) return Deref().ToUInt64();
    return VariantAccess::Conv::Unsigned(*this, varUInt64);
}

double Variant::ToDouble() const {
    if (IsByRef()) return Deref().ToDouble();
    return VariantAccess::Conv::Float(*this, varDouble);
}

Currency Variant::ToCurrency() const {
    if (IsByRef()) return Deref().ToCurrency();
    return VariantAccess::Conv::Curr(*this);
}

TDateTime Variant::ToDateTime() const {
    if (IsByRef()) return Deref().ToDateTime();
    return VariantAccess::Conv::Date(*this);
}

TDecimal Variant::ToDecimal() const {
    if (IsByRef()) return Deref().ToDecimal();
    return VariantAccess::Conv::Decimal(*this);
}

String Variant::ToString() const {
    if (IsByRef()) return Deref().ToString();
    return VariantAccess::Conv::Text(*this);
}

WideString Variant::ToWideString() const {
    if (IsByRef()) return Deref().ToWideString();
    if (FType == varOleStr) return VariantAccess::Conv::WStr(*this);
    return Utf8ToWide(VariantAccess::Conv::Text(*this));
}

HRESULT Variant::ToError() const {
    if (IsByRef()) return Deref().ToError();
    if (FType != varError) VarCastError(FType, varError);
    return FInt;
}

Variant VarConvert(const Variant& src, TVarType kind) {
    if (src.IsByRef()) return VarConvert(src.Deref(), kind);
    const TVarType from = src.VType();
    if (from == kind || kind == varVariant) return src;
    if (kind & (varArray | varByRef)) VarCastError(from, kind);
    if (src.IsArray() && kind != varEmpty && kind != varNull) VarCastError(from, kind);
    using C = VariantAccess::Conv;
    switch (kind) {
        case varEmpty: return Variant();
        case varNull: return Variant::Null();
        case varSmallint: return Variant(static_cast<short>(C::Integral(src, kind, INT16_MIN, INT16_MAX)));
        case varInteger: return Variant(static_cast<int>(C::Integral(src, kind, INT32_MIN, INT32_MAX)));
        case varShortInt: return Variant(static_cast<signed char>(C::Integral(src, kind, INT8_MIN, INT8_MAX)));
        case varByte: return Variant(static_cast<unsigned char>(C::Integral(src, kind, 0, UINT8_MAX)));
        case varWord: return Variant(static_cast<unsigned short>(C::Integral(src, kind, 0, UINT16_MAX)));
        case varLongWord: return Variant(static_cast<unsigned>(C::Integral(src, kind, 0, UINT32_MAX)));
        case varInt64: return Variant(static_cast<long long>(C::Integral(src, kind, INT64_MIN, INT64_MAX)));
        case varUInt64: return Variant(static_cast<unsigned long long>(C::Unsigned(src, kind)));
        case varSingle: {
            const double d = C::Float(src, kind);
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) VarOverflowError(from, kind);
            return Variant(static_cast<float>(d));
        }
        case varDouble: return Variant(C::Float(src, kind));
        case varCurrency: return Variant(C::Curr(src));
        case varDate: return Variant(C::Date(src));
        case varBoolean: return Variant(C::Boolean(src));
        case varDecimal: return Variant(C::Decimal(src));
        case varOleStr: return Variant(src.ToWideString());
        case varString: return Variant(src.ToString());
        case varUnknown:
            if (from == varEmpty || from == varDispatch) return Variant::FromUnknown(src.GetInterface());
            break;
        case varDispatch:
            if (from == varEmpty) return Variant::FromDispatch(nullptr);
            if (from == varUnknown) {
                IUnknown* unk = src.GetInterface();
                if (!unk) return Variant::FromDispatch(nullptr);
                void* disp = nullptr;
                if (unk->QueryInterface(IID_IDispatch, &disp) >= 0 && disp) {
                    Variant r = Variant::FromDispatch(static_cast<IUnknown*>(disp));
                    static_cast<IUnknown*>(disp)->Release();  // the variant holds its own reference
                    return r;
                }
            }
            break;
        default: break;
    }
    VarCastError(from, kind);
}

// ---- Free functions ---------------------------------------------------------------------------

namespace {

// The kind a variant has once references are followed (no copy, no throw).
TVarType EffectiveType(const Variant& v) noexcept {
    const Variant* p = &v;
    for (int depth = 0; depth < MaxRefDepth; ++depth) {
        const TVarType t = p->VType();
        if (!(t & varByRef)) return t;
        if ((t & varTypeMask) != varVariant || (t & varArray)) return t & ~varByRef;
        p = static_cast<const Variant*>(VariantAccess::Ptr(*p));
    }
    return varEmpty;
}

}  // namespace

bool VarIsClear(const Variant& v) noexcept {
    const TVarType t = EffectiveType(v);
    return t == varEmpty || (IsInterfaceKind(t) && v.GetInterface() == nullptr);
}

bool VarIsNumeric(const Variant& v) noexcept {
    const TVarType t = EffectiveType(v);
    return IsIntegerKind(t) || t == varBoolean || t == varSingle || t == varDouble || t == varCurrency ||
           t == varDecimal;
}

bool VarIsStr(const Variant& v) noexcept { return IsTextKind(EffectiveType(v)); }

String VarToStr(const Variant& v) {
    const Variant d = v.Deref();
    return d.IsNull() ? String() : d.ToString();
}

WideString VarToWideStr(const Variant& v) {
    const Variant d = v.Deref();
    return d.IsNull() ? WideString() : d.ToWideString();
}

String VarToStrDef(const Variant& v, std::string_view def) {
    const Variant d = v.Deref();
    return d.IsNull() ? String(def) : d.ToString();
}

Variant VarAsType(const Variant& v, TVarType kind) { return VarConvert(v, kind); }

String VarTypeAsText(TVarType kind) {
    static const char* const names[] = {"Empty",   "Null",    "Smallint", "Integer",  "Single", "Double",
                                        "Currency", "Date",   "OleStr",   "Dispatch", "Error",  "Boolean",
                                        "Variant", "Unknown", "Decimal",  "$000F",    "ShortInt", "Byte",
                                        "Word",    "LongWord", "Int64",   "UInt64"};
    const TVarType base = kind & varTypeMask;
    String r;
    if (base <= varUInt64)
        r = names[base];
    else if (base == varString)
        r = "String";
    else
        r = "$" + IntToHex(base, 4);
    if (kind & varArray) r = "Array " + r;
    if (kind & varByRef) r = "ByRef " + r;
    return r;
}

Variant Null() { return Variant::Null(); }
Variant Unassigned() { return Variant(); }

// ---- Comparison -------------------------------------------------------------------------------

namespace {

TVariantRelationship FromOrder(int c) noexcept { return c < 0 ? vrLessThan : c > 0 ? vrGreaterThan : vrEqual; }

template <class T>
int Order(const T& a, const T& b) noexcept { return a < b ? -1 : b < a ? 1 : 0; }

// Numbers, booleans, currency, decimals and dates against each other.
TVariantRelationship CompareNumbers(const Variant& a, const Variant& b) {
    const TVarType ta = a.VType(), tb = b.VType();
    if (ta == varBoolean && tb == varBoolean) return FromOrder(Order<int>(a.ToBoolean(), b.ToBoolean()));
    if (IsFloatKind(ta) || IsFloatKind(tb)) {
        auto asLong = [](const Variant& v) -> long double {
            switch (v.VType()) {
                case varInt64: return static_cast<long double>(v.ToInt64());
                case varUInt64: return static_cast<long double>(v.ToUInt64());
                case varCurrency: return static_cast<long double>(v.ToCurrency().Value) / Currency::Scale;
                default: return v.ToDouble();
            }
        };
        const long double x = asLong(a), y = asLong(b);
        if (std::isnan(x) || std::isnan(y)) return vrNotEqual;
        return FromOrder(Order(x, y));
    }
    if (ta == varDecimal || tb == varDecimal) return FromOrder(DecimalCompare(a.ToDecimal(), b.ToDecimal()));
    // Integers and currency, exactly, in ten-thousandths.
    auto scaled = [](const Variant& v) -> __int128 {
        switch (v.VType()) {
            case varCurrency: return v.ToCurrency().Value;
            case varUInt64: return static_cast<__int128>(v.ToUInt64()) * Currency::Scale;
            default: return static_cast<__int128>(v.ToInt64()) * Currency::Scale;
        }
    };
    return FromOrder(Order(scaled(a), scaled(b)));
}

// Text compared with another kind becomes a value of that kind's family.
Variant TextFor(const Variant& text, TVarType other) {
    if (other == varDate) return Variant(text.ToDateTime());
    if (other == varBoolean) return Variant(text.ToBoolean());
    const String s = text.ToString();
    Int64 i;
    if (TryStrToInt64(s, i)) return Variant(static_cast<long long>(i));
    return Variant(text.ToDouble());  // raises the cast error for text that is no number
}

// Two dereferenced values, neither Null nor Empty nor an array.
TVariantRelationship CompareValues(const Variant& a, const Variant& b) {
    const TVarType ta = a.VType(), tb = b.VType();
    if (IsTextKind(ta) && IsTextKind(tb)) {
        if (ta == varString && tb == varString)
            return FromOrder(CompareStr(TextOf<String>(VariantAccess::Ptr(a)), TextOf<String>(VariantAccess::Ptr(b))));
        // Code point order: UTF-8 bytes sort as code points, UTF-16 units do not.
        return FromOrder(CompareStr(a.ToString(), b.ToString()));
    }
    if (IsInterfaceKind(ta) || IsInterfaceKind(tb)) {
        if (IsInterfaceKind(ta) && IsInterfaceKind(tb) && a.GetInterface() == b.GetInterface()) return vrEqual;
        return vrNotEqual;
    }
    if (ta == varError || tb == varError) {
        if (ta == varError && tb == varError) return FromOrder(Order(a.ToError(), b.ToError()));
        return vrNotEqual;
    }
    if (IsTextKind(ta) && IsNumberLike(tb)) return CompareValues(TextFor(a, tb), b);
    if (IsTextKind(tb) && IsNumberLike(ta)) return CompareValues(a, TextFor(b, ta));
    if (IsNumberLike(ta) && IsNumberLike(tb)) return CompareNumbers(a, b);
    return vrNotEqual;
}

// Empty against a value: equal to the value's zero (0, '', False).
bool IsZeroOfItsKind(const Variant& v) {
    const TVarType t = v.VType();
    if (t == varEmpty) return true;
    if (IsTextKind(t)) return VariantAccess::Ptr(v) == nullptr;
    if (IsNumberLike(t)) return CompareNumbers(v, Variant(0)) == vrEqual;
    return false;
}

bool ArraysEqual(const Variant& a, const Variant& b) {
    const TVarArrayData* x = a.ArrayData();
    const TVarArrayData* y = b.ArrayData();
    if (!x || !y) return false;
    if (x == y) return true;
    if (x->Bounds.size() != y->Bounds.size()) return false;
    for (std::size_t d = 0; d < x->Bounds.size(); ++d)
        if (x->Bounds[d].ElementCount != y->Bounds[d].ElementCount || x->Bounds[d].LowBound != y->Bounds[d].LowBound)
            return false;
    for (std::size_t i = 0; i < x->ElementCount; ++i)
        if (!(x->Get(i) == y->Get(i))) return false;
    return true;
}

}  // namespace

bool operator==(const Variant& left, const Variant& right) {
    const Variant a = left.Deref(), b = right.Deref();
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    if (a.IsEmpty()) return IsZeroOfItsKind(b);
    if (b.IsEmpty()) return IsZeroOfItsKind(a);
    if (a.IsArray() || b.IsArray()) return a.IsArray() && b.IsArray() && ArraysEqual(a, b);
    return CompareValues(a, b) == vrEqual;
}

TVariantRelationship VarCompareValue(const Variant& left, const Variant& right) {
    const Variant a = left.Deref(), b = right.Deref();
    const bool aNone = a.IsNull() || a.IsEmpty(), bNone = b.IsNull() || b.IsEmpty();
    if (aNone && bNone) return a.VType() == b.VType() ? vrEqual : vrNotEqual;
    if (aNone) return vrLessThan;
    if (bNone) return vrGreaterThan;
    if (a.IsArray() || b.IsArray()) throw EVariantInvalidOpError("Invalid variant operation: arrays have no order");
    return CompareValues(a, b);
}

bool VarSameValue(const Variant& left, const Variant& right) {
    const Variant a = left.Deref(), b = right.Deref();
    if (a.IsEmpty() || b.IsEmpty()) return a.IsEmpty() && b.IsEmpty();
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    return a == b;
}

}  // namespace Rtl
