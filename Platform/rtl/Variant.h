// OleVariant: COM's variant with the framework's conversion rules.
//
// Layout: 16 bytes, the kind in the first two bytes and the payload in the last
// eight, so numbers, dates, booleans and currency never touch the heap. Strings
// (narrow varString and wide varOleStr) and arrays point to shared, reference-
// counted, copy-on-write payloads: copying a variant is cheap, and changing one
// copy never changes another (value semantics, as the framework's variants).
// varDecimal uses all 16 bytes like COM's DECIMAL. Interfaces are held counted.
// By-reference variants (varByRef | kind) point to storage owned elsewhere;
// they are used for by-reference arguments of late-bound calls.
#pragma once

#include <compare>
#include <initializer_list>
#include <vector>

#include "Platform/rtl/Currency.h"
#include "Platform/rtl/DateTime.h"
#include "Platform/rtl/Interfaces.h"
#include "Platform/rtl/SysUtils.h"

namespace Rtl {

using TVarType = Word;

enum : TVarType {
    varEmpty = 0x0000,
    varNull = 0x0001,
    varSmallint = 0x0002,
    varInteger = 0x0003,
    varSingle = 0x0004,
    varDouble = 0x0005,
    varCurrency = 0x0006,
    varDate = 0x0007,
    varOleStr = 0x0008,
    varDispatch = 0x0009,
    varError = 0x000A,
    varBoolean = 0x000B,
    varVariant = 0x000C,
    varUnknown = 0x000D,
    varDecimal = 0x000E,
    varShortInt = 0x0010,
    varByte = 0x0011,
    varWord = 0x0012,
    varLongWord = 0x0013,
    varInt64 = 0x0014,
    varUInt64 = 0x0015,
    varString = 0x0100,  // narrow (UTF-8) string, the framework's own kind
    varTypeMask = 0x0FFF,
    varArray = 0x2000,
    varByRef = 0x4000,
};

// COM's DECIMAL: a 96-bit unsigned integer, a power-of-ten scale (0..28) and a sign.
struct TDecimal {
    Word Reserved = 0;
    Byte Scale = 0;
    Byte Sign = 0;  // 0 or 0x80
    LongWord Hi32 = 0;
    UInt64 Lo64 = 0;
    bool operator==(const TDecimal&) const = default;
};
static_assert(sizeof(TDecimal) == 16);

String DecimalToStr(const TDecimal& d);
TDecimal StrToDecimal(std::string_view s);  // EConvertError when not a number or out of range
double DecimalToDouble(const TDecimal& d) noexcept;
TDecimal DoubleToDecimal(double v);           // EOverflow when out of range
bool DecimalToCurr(const TDecimal& d, Currency& c) noexcept;
TDecimal CurrToDecimal(Currency c) noexcept;
TDecimal Int64ToDecimal(Int64 v) noexcept;

struct TVarArrayBound {
    int ElementCount;
    int LowBound;
};

struct TVarArrayData;  // shared payload of an array variant (see Variant.cpp)

class Variant {
public:
    Variant() noexcept { Clear0(); }
    Variant(const Variant& o);
    Variant(Variant&& o) noexcept;
    Variant& operator=(const Variant& o);
    Variant& operator=(Variant&& o) noexcept;
    ~Variant();

    Variant(bool v) noexcept;                // varBoolean (stored as COM's -1/0)
    Variant(signed char v) noexcept;         // varShortInt
    Variant(unsigned char v) noexcept;       // varByte
    Variant(short v) noexcept;               // varSmallint
    Variant(unsigned short v) noexcept;      // varWord
    Variant(int v) noexcept;                 // varInteger
    Variant(unsigned v) noexcept;            // varLongWord
    Variant(long v) noexcept;                // varInt64
    Variant(unsigned long v) noexcept;       // varUInt64
    Variant(long long v) noexcept;           // varInt64
    Variant(unsigned long long v) noexcept;  // varUInt64
    Variant(float v) noexcept;               // varSingle
    Variant(double v) noexcept;              // varDouble
    Variant(Currency v) noexcept;            // varCurrency
    Variant(TDateTime v) noexcept;           // varDate
    Variant(const TDecimal& v) noexcept;     // varDecimal
    Variant(const char* v);                  // varString
    Variant(std::string_view v);             // varString
    Variant(const String& v);                // varString
    Variant(const char16_t* v);              // varOleStr
    Variant(std::u16string_view v);          // varOleStr
    Variant(const WideString& v);            // varOleStr
    Variant(std::nullptr_t) = delete;        // ambiguous: use Variant::Null() or Variant()

    static Variant Null() noexcept;
    static Variant Unassigned() noexcept { return Variant(); }
    static Variant Error(HRESULT code) noexcept;           // varError
    // Interface references; the variant takes its own reference (AddRef).
    static Variant FromUnknown(IUnknown* unk) noexcept;    // varUnknown
    static Variant FromDispatch(IUnknown* disp) noexcept;  // varDispatch; pass the IDispatch pointer
    // By-reference variants to storage owned by the caller: kind is the base kind
    // of *p (varSmallint for short*, varVariant for Variant*, ...). The storage per
    // kind: varBoolean short (-1/0, COM's VARIANT_BOOL), varOleStr WideString,
    // varString String, varUnknown/varDispatch an IUnknown* slot holding a counted
    // reference, varCurrency Currency, varDate TDateTime, varDecimal TDecimal,
    // varError HRESULT, array kinds the Variant holding the array; the others
    // their C++ integer or floating type. A null p gives an Empty variant.
    static Variant ByRef(TVarType kind, void* p) noexcept;
    static Variant ByRef(Variant* p) noexcept { return ByRef(varVariant, p); }

    TVarType VType() const noexcept { return FType; }
    TVarType BaseType() const noexcept { return FType & varTypeMask; }
    bool IsEmpty() const noexcept { return FType == varEmpty; }
    bool IsNull() const noexcept { return FType == varNull; }
    bool IsArray() const noexcept { return (FType & varArray) != 0; }
    bool IsByRef() const noexcept { return (FType & varByRef) != 0; }
    void Clear() noexcept;  // back to Empty

    // Conversions with the framework's rules; EVariantTypeCastError
    // "Could not convert variant of type (%s) into type (%s)" where none exists,
    // EVariantOverflowError when the value does not fit the target. A by-reference
    // variant converts the value it refers to.
    bool ToBoolean() const;
    int ToInteger() const;
    Int64 ToInt64() const;
    UInt64 ToUInt64() const;
    double ToDouble() const;
    Currency ToCurrency() const;
    TDateTime ToDateTime() const;
    TDecimal ToDecimal() const;
    String ToString() const;
    WideString ToWideString() const;
    HRESULT ToError() const;
    // The interface held (no reference taken); null for other kinds.
    IUnknown* GetInterface() const noexcept;

    explicit operator bool() const { return ToBoolean(); }
    explicit operator int() const { return ToInteger(); }
    explicit operator Int64() const { return ToInt64(); }
    explicit operator double() const { return ToDouble(); }
    explicit operator Currency() const { return ToCurrency(); }
    explicit operator TDateTime() const { return ToDateTime(); }
    explicit operator String() const { return ToString(); }
    explicit operator WideString() const { return ToWideString(); }

    // A by-reference variant dereferenced to a plain value (a copy); others unchanged.
    Variant Deref() const;
    // Writes through a by-reference variant, converting v to the referenced kind.
    void AssignByRef(const Variant& v);

    // Raw payload access for formats that need it (ftLargeint's "64-bit payload").
    UInt64 RawPayload() const noexcept { return FU64; }

    // Element access for one-dimensional arrays (and index lists for more);
    // EVariantBadIndexError outside the bounds.
    Variant GetElement(int index) const;
    void PutElement(int index, const Variant& v);
    Variant GetElement(std::initializer_list<int> indices) const;
    void PutElement(std::initializer_list<int> indices, const Variant& v);

    // Equality with the framework's Null rules: Null equals only Null, Empty
    // equals Empty, 0 and ''; numbers compare by value across kinds, strings
    // case-sensitively, a string against a number by converting the string.
    friend bool operator==(const Variant& a, const Variant& b);
    friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

    // Internal access for the array functions.
    TVarArrayData* ArrayData() const noexcept;

private:
    void Clear0() noexcept { FType = varEmpty; FPad = 0; FU64 = 0; }
    void CopyFrom(const Variant& o);
    friend struct VariantAccess;

    TVarType FType;
    // Decimal keeps its scale and sign here and its high 32 bits in the next four bytes.
    Word FPad;
    LongWord FHi32 = 0;
    union {
        UInt64 FU64;
        Int64 FI64;
        double FDouble;
        float FSingle;
        int FInt;
        short FShort;
        void* FPtr;
    };
};
static_assert(sizeof(Variant) == 16, "Variant keeps COM's 16-byte size");

using OleVariant = Variant;

// ---- Free functions in the framework's names ---------------------------------------

inline TVarType VarType(const Variant& v) noexcept { return v.VType(); }
inline bool VarIsNull(const Variant& v) noexcept { return v.IsNull(); }
inline bool VarIsEmpty(const Variant& v) noexcept { return v.IsEmpty(); }
bool VarIsClear(const Variant& v) noexcept;  // Empty, or an interface kind holding null
inline bool VarIsArray(const Variant& v) noexcept { return v.IsArray(); }
bool VarIsNumeric(const Variant& v) noexcept;
bool VarIsStr(const Variant& v) noexcept;
String VarToStr(const Variant& v);           // Null gives ""
WideString VarToWideStr(const Variant& v);   // Null gives u""
String VarToStrDef(const Variant& v, std::string_view def);
// Converts to the given kind (no array or by-reference kinds).
Variant VarAsType(const Variant& v, TVarType kind);
String VarTypeAsText(TVarType kind);         // "Integer", "OleStr", "String", "Array Variant" ...
Variant Null();
Variant Unassigned();

enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };
// Magnitude comparison; Null and Empty order before every other value.
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);
bool VarSameValue(const Variant& a, const Variant& b);

// Arrays. Bounds are inclusive, as the framework's VarArrayCreate([low, high], kind).
Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementKind);
Variant VarArrayCreate(const std::vector<TVarArrayBound>& bounds, TVarType elementKind);
Variant VarArrayOf(std::initializer_list<Variant> values);  // element kind varVariant, bounds 0..n-1
Variant VarArrayOf(const std::vector<Variant>& values);
int VarArrayDimCount(const Variant& v) noexcept;            // 0 for non-arrays
int VarArrayLowBound(const Variant& v, int dim);             // dim from 1; EVariantInvalidArgError...
int VarArrayHighBound(const Variant& v, int dim);
TVarType VarArrayElementType(const Variant& v) noexcept;
// Direct access to the element storage (byte arrays above all); the returned
// pointer stays valid until the variant is changed or destroyed.
void* VarArrayLock(Variant& v);
void VarArrayUnlock(Variant& v) noexcept;
const void* VarArrayData(const Variant& v);
int VarArrayElementSize(TVarType elementKind) noexcept;
// Byte arrays with lower bound 0, as used for binary values.
Variant BytesToVarArray(const void* data, std::size_t size);
std::vector<Byte> VarArrayToBytes(const Variant& v);  // EVariantTypeCastError when not a byte array

}  // namespace Rtl
