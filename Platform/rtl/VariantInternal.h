// Payload layouts and helpers shared by the variant sources (Variant.cpp,
// VarArray.cpp, Decimal.cpp). Not part of the public interface; the COM layer
// may read TVarArrayData to present a variant array as a safe array.
#pragma once

#include <atomic>
#include <cstddef>

#include "Platform/rtl/Variant.h"

namespace Rtl {

// Shared payload of an array variant. Elements are stored with the first index
// varying fastest (COM's safe array order), each ElementSize bytes:
//   varSmallint short, varInteger int, varSingle float, varDouble double,
//   varCurrency Currency, varDate TDateTime, varOleStr WideString, varString String,
//   varDispatch/varUnknown IUnknown* (counted), varError HRESULT,
//   varBoolean short (-1 true, 0 false), varVariant Variant, varDecimal TDecimal,
//   varShortInt signed char, varByte unsigned char, varWord unsigned short,
//   varLongWord unsigned, varInt64 Int64, varUInt64 UInt64.
// The payload is copy-on-write: writers detach it first when it is shared. A
// locked payload is never shared (a copy of a locked array is a deep copy), so
// the pointer VarArrayLock hands out keeps pointing at the locker's elements.
struct TVarArrayData {
    std::atomic<int> RefCount{1};
    TVarType ElementType = varEmpty;
    int ElementSize = 0;
    int LockCount = 0;
    std::size_t ElementCount = 0;
    std::vector<TVarArrayBound> Bounds;  // first dimension first
    Byte* Data = nullptr;

    TVarArrayData() = default;
    TVarArrayData(const TVarArrayData&) = delete;
    TVarArrayData& operator=(const TVarArrayData&) = delete;
    ~TVarArrayData();

    // EVariantArrayCreateError for an invalid element kind or bounds.
    static TVarArrayData* Create(const std::vector<TVarArrayBound>& bounds, TVarType elementType);
    TVarArrayData* Clone() const;  // deep copy, reference count 1, unlocked
    void AddRef() noexcept { RefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() noexcept {
        if (RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    bool Shared() const noexcept { return RefCount.load(std::memory_order_acquire) > 1; }

    void* At(std::size_t i) const noexcept { return Data + i * static_cast<std::size_t>(ElementSize); }
    Variant Get(std::size_t i) const;
    // value must already have the element kind (varVariant arrays take any value).
    void Put(std::size_t i, const Variant& value);
    // Linear position of an index list; EVariantBadIndexError when outside the bounds.
    std::size_t Offset(const int* indices, std::size_t count) const;
};

// Private access to a variant's fields for the rtl's own sources.
struct VariantAccess {
    static void* Ptr(const Variant& v) noexcept { return v.FPtr; }
    // Replaces v's contents by an array payload (the variant takes the reference).
    static void AdoptArray(Variant& v, TVarArrayData* a) noexcept {
        v.Clear();
        v.FType = static_cast<TVarType>(varArray | a->ElementType);
        v.FPtr = a;
    }
    // The variant holding the array: v itself, or what a by-reference array variant refers to.
    static Variant* ArrayOwner(Variant& v);
    // v's array payload, detached from other variants first when shared.
    static TVarArrayData* UniqueArray(Variant& v);
    struct Conv;  // the conversions (Variant.cpp)
};

// Error helpers with the framework's messages.
[[noreturn]] void VarCastError(TVarType from, TVarType to);
[[noreturn]] void VarOverflowError(TVarType from, TVarType to);
[[noreturn]] void VarNotArrayError();

// Conversion to a base kind with the framework's rules (the core of VarAsType).
Variant VarConvert(const Variant& v, TVarType kind);

// Decimal helpers beyond the public ones.
bool DecimalIsZero(const TDecimal& d) noexcept;
bool DecimalIsNegative(const TDecimal& d) noexcept;  // false for zero
int DecimalCompare(const TDecimal& a, const TDecimal& b) noexcept;  // -1, 0, 1
// Rounds to an integer (ties to even); false when the result does not fit.
bool DecimalToInt64(const TDecimal& d, Int64& v) noexcept;
bool DecimalToUInt64(const TDecimal& d, UInt64& v) noexcept;
TDecimal UInt64ToDecimal(UInt64 v) noexcept;
// Text with FormatSettings().DecimalSeparator and an optional exponent; false
// when the text is not a number, outOfRange set when it is one but does not fit.
bool TryStrToDecimal(std::string_view s, TDecimal& d, bool& outOfRange) noexcept;

}  // namespace Rtl
