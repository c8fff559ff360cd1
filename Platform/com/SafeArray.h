// Safe arrays: the COM view of the runtime library's variant arrays.
//
// A TSafeArray is a handle on the same payload a variant array holds (elements
// stored with the first index varying fastest, as COM lays out a SAFEARRAY), so
// converting either way copies no elements: TSafeArray(v) shares v's array,
// AsVariant() hands it back. Like variants, the handle has value semantics: a
// write through a handle whose payload is shared with a variant detaches it first
// (copy on write), so the variant keeps its elements.
//
// Indices are given first dimension first (GetElement({field, row}) for the
// two-dimensional arrays of GetRows), dimensions are numbered from 1, bounds are
// inclusive. An index outside the bounds raises EVariantBadIndexError and changes
// nothing.
#pragma once

#include <initializer_list>
#include <span>
#include <vector>

#include "Platform/com/Errors.h"
#include "Platform/rtl/Variant.h"

namespace Com {

using Rtl::TVarType;
using TSafeArrayBound = Rtl::TVarArrayBound;  // {ElementCount, LowBound}

class TSafeArray {
public:
    TSafeArray() = default;
    // Shares v's array (a by-reference array variant is followed);
    // EVariantInvalidArgError when v holds no array.
    explicit TSafeArray(const Rtl::Variant& v);
    // EVariantArrayCreateError for an unsupported element kind or invalid bounds.
    static TSafeArray Create(TVarType elementKind, const std::vector<TSafeArrayBound>& bounds);
    static TSafeArray CreateVector(TVarType elementKind, int lowBound, int count);
    // A byte vector with lower bound 0 holding a copy of the bytes.
    static TSafeArray FromBytes(const void* data, std::size_t size);

    bool IsNull() const noexcept { return !FArray.IsArray(); }
    int GetDim() const noexcept;
    int GetLBound(int dim) const;
    int GetUBound(int dim) const;
    int GetElementCount(int dim) const;
    std::size_t GetTotalCount() const noexcept;
    TVarType GetVarType() const noexcept;   // the element kind (varVariant, varByte ...)
    int GetElemSize() const noexcept;

    Rtl::Variant GetElement(std::span<const int> indices) const;
    Rtl::Variant GetElement(std::initializer_list<int> indices) const {
        return GetElement(std::span<const int>(indices.begin(), indices.size()));
    }
    // Converts v to the element kind (EVariantTypeCastError when it does not
    // convert); a failure changes nothing.
    void PutElement(std::span<const int> indices, const Rtl::Variant& v);
    void PutElement(std::initializer_list<int> indices, const Rtl::Variant& v) {
        PutElement(std::span<const int>(indices.begin(), indices.size()), v);
    }

    // Direct access to the element storage (the layout of the element kind, first
    // index fastest): AccessData makes the payload this handle's own and keeps it
    // from being shared until UnaccessData.
    void* AccessData();
    void UnaccessData() noexcept;
    const void* GetData() const;
    std::vector<Rtl::Byte> ToBytes() const;  // EVariantTypeCastError unless a byte vector

    const Rtl::Variant& AsVariant() const& noexcept { return FArray; }
    Rtl::Variant AsVariant() && noexcept { return std::move(FArray); }

private:
    Rtl::Variant FArray;  // varArray | element kind, or Empty
};

}  // namespace Com
