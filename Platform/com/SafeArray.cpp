#include "Platform/com/SafeArray.h"

#include "Platform/rtl/VariantInternal.h"

namespace Com {

using Rtl::TVarArrayData;
using Rtl::Variant;

namespace {

const TVarArrayData& Payload(const Variant& v) {
    const TVarArrayData* a = v.ArrayData();
    if (!a) throw Rtl::EVariantInvalidArgError("Variant is not an array");
    return *a;
}

}  // namespace

TSafeArray::TSafeArray(const Variant& v) {
    Payload(v);
    // A variant copy shares the payload (the runtime library copies a locked one).
    FArray = v.IsByRef() ? v.Deref() : v;
}

TSafeArray TSafeArray::Create(TVarType elementKind, const std::vector<TSafeArrayBound>& bounds) {
    TSafeArray r;
    r.FArray = Rtl::VarArrayCreate(bounds, elementKind);
    return r;
}

TSafeArray TSafeArray::CreateVector(TVarType elementKind, int lowBound, int count) {
    return Create(elementKind, {{count, lowBound}});
}

TSafeArray TSafeArray::FromBytes(const void* data, std::size_t size) {
    TSafeArray r;
    r.FArray = Rtl::BytesToVarArray(data, size);
    return r;
}

int TSafeArray::GetDim() const noexcept { return Rtl::VarArrayDimCount(FArray); }

int TSafeArray::GetLBound(int dim) const { return Rtl::VarArrayLowBound(FArray, dim); }

int TSafeArray::GetUBound(int dim) const { return Rtl::VarArrayHighBound(FArray, dim); }

int TSafeArray::GetElementCount(int dim) const { return GetUBound(dim) - GetLBound(dim) + 1; }

std::size_t TSafeArray::GetTotalCount() const noexcept {
    const TVarArrayData* a = FArray.ArrayData();
    return a ? a->ElementCount : 0;
}

TVarType TSafeArray::GetVarType() const noexcept { return Rtl::VarArrayElementType(FArray); }

int TSafeArray::GetElemSize() const noexcept {
    const TVarArrayData* a = FArray.ArrayData();
    return a ? a->ElementSize : 0;
}

Variant TSafeArray::GetElement(std::span<const int> indices) const {
    const TVarArrayData& a = Payload(FArray);
    return a.Get(a.Offset(indices.data(), indices.size()));
}

void TSafeArray::PutElement(std::span<const int> indices, const Variant& v) {
    const TVarArrayData& shared = Payload(FArray);
    const std::size_t offset = shared.Offset(indices.data(), indices.size());
    const Variant value = Rtl::VarConvert(v, shared.ElementType);
    Rtl::VariantAccess::UniqueArray(FArray)->Put(offset, value);
}

void* TSafeArray::AccessData() {
    Payload(FArray);
    return Rtl::VarArrayLock(FArray);
}

void TSafeArray::UnaccessData() noexcept { Rtl::VarArrayUnlock(FArray); }

const void* TSafeArray::GetData() const { return Payload(FArray).Data; }

std::vector<Rtl::Byte> TSafeArray::ToBytes() const { return Rtl::VarArrayToBytes(FArray); }

}  // namespace Com
