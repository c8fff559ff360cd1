// Variant arrays: creation with inclusive bounds in one or more dimensions,
// element access with index checks, locking for direct access, byte arrays.
#include <cstring>
#include <new>

#include "Platform/rtl/VariantInternal.h"

namespace Rtl {

namespace {

constexpr std::size_t MaxDims = 64;
// Upper limit of one array's element storage; larger requests are refused
// instead of exhausting memory.
constexpr std::size_t MaxArrayBytes = std::size_t{1} << 40;

bool IsValidElementType(TVarType t) noexcept {
    switch (t) {
        case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency: case varDate:
        case varOleStr: case varDispatch: case varError: case varBoolean: case varVariant: case varUnknown:
        case varDecimal: case varShortInt: case varByte: case varWord: case varLongWord: case varInt64:
        case varUInt64: case varString:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void CreateError(const String& reason) {
    throw EVariantArrayCreateError("Error creating variant or safe array: " + reason);
}

[[noreturn]] void BoundsError(int index) {
    throw EVariantBadIndexError(Format("Variant or safe array index out of bounds (%d)", {index}));
}

// Constructs the elements of a fresh, zeroed block (only the class-typed kinds need it).
void ConstructElements(TVarType t, Byte* data, std::size_t n) {
    switch (t) {
        case varVariant: for (std::size_t i = 0; i < n; ++i) new (data + i * sizeof(Variant)) Variant(); break;
        case varOleStr: for (std::size_t i = 0; i < n; ++i) new (data + i * sizeof(WideString)) WideString(); break;
        case varString: for (std::size_t i = 0; i < n; ++i) new (data + i * sizeof(String)) String(); break;
        default: break;  // plain values and null interface slots are zero bytes
    }
}

void DestroyElements(TVarType t, Byte* data, std::size_t n) noexcept {
    switch (t) {
        case varVariant:
            for (std::size_t i = 0; i < n; ++i) reinterpret_cast<Variant*>(data + i * sizeof(Variant))->~Variant();
            break;
        case varOleStr:
            for (std::size_t i = 0; i < n; ++i) std::destroy_at(reinterpret_cast<WideString*>(data) + i);
            break;
        case varString:
            for (std::size_t i = 0; i < n; ++i) std::destroy_at(reinterpret_cast<String*>(data) + i);
            break;
        case varUnknown:
        case varDispatch:
            for (std::size_t i = 0; i < n; ++i)
                if (IUnknown* u = reinterpret_cast<IUnknown**>(data)[i]) u->Release();
            break;
        default: break;
    }
}

Byte* Allocate(std::size_t bytes) {
    // At least one block, so that the data pointer is never null.
    auto* p = static_cast<Byte*>(::operator new(bytes ? bytes : 16));
    std::memset(p, 0, bytes ? bytes : 16);
    return p;
}

}  // namespace

int VarArrayElementSize(TVarType kind) noexcept {
    switch (kind) {
        case varShortInt: case varByte: return 1;
        case varSmallint: case varWord: case varBoolean: return 2;
        case varInteger: case varLongWord: case varSingle: case varError: return 4;
        case varDouble: case varCurrency: case varDate: case varInt64: case varUInt64: return 8;
        case varDispatch: case varUnknown: return sizeof(IUnknown*);
        case varOleStr: return sizeof(WideString);
        case varString: return sizeof(String);
        case varVariant: return sizeof(Variant);
        case varDecimal: return sizeof(TDecimal);
        default: return 0;
    }
}

// ---- Payload -------------------------------------------------------------------------------

TVarArrayData::~TVarArrayData() {
    if (Data) {
        DestroyElements(ElementType, Data, ElementCount);
        ::operator delete(Data);
    }
}

TVarArrayData* TVarArrayData::Create(const std::vector<TVarArrayBound>& bounds, TVarType elementType) {
    if (!IsValidElementType(elementType))
        CreateError("elements of type (" + VarTypeAsText(elementType) + ") are not supported");
    if (bounds.empty() || bounds.size() > MaxDims)
        CreateError(Format("%d dimensions given, 1 to %d allowed", {static_cast<int>(bounds.size()),
                                                                    static_cast<int>(MaxDims)}));
    const std::size_t size = static_cast<std::size_t>(VarArrayElementSize(elementType));
    std::size_t count = 1;
    for (const auto& b : bounds) {
        if (b.ElementCount < 0)
            CreateError(Format("negative element count %d", {b.ElementCount}));
        if (static_cast<Int64>(b.LowBound) + b.ElementCount - 1 > INT32_MAX)
            CreateError(Format("high bound beyond %d", {INT32_MAX}));
        if (b.ElementCount != 0 && count > MaxArrayBytes / size / static_cast<std::size_t>(b.ElementCount))
            CreateError("too many elements");
        count *= static_cast<std::size_t>(b.ElementCount);
    }
    auto* a = new TVarArrayData;
    a->ElementType = elementType;
    a->ElementSize = static_cast<int>(size);
    a->Bounds = bounds;
    try {
        a->Data = Allocate(count * size);
    } catch (const std::bad_alloc&) {
        delete a;
        CreateError(Format("out of memory for %u elements", {static_cast<UInt64>(count)}));
    }
    a->ElementCount = count;
    ConstructElements(elementType, a->Data, count);
    return a;
}

TVarArrayData* TVarArrayData::Clone() const {
    auto* a = new TVarArrayData;
    a->ElementType = ElementType;
    a->ElementSize = ElementSize;
    a->Bounds = Bounds;
    const std::size_t bytes = ElementCount * static_cast<std::size_t>(ElementSize);
    try {
        a->Data = Allocate(bytes);
        switch (ElementType) {
            case varVariant:
                for (; a->ElementCount < ElementCount; ++a->ElementCount)
                    new (a->At(a->ElementCount)) Variant(*static_cast<const Variant*>(At(a->ElementCount)));
                break;
            case varOleStr:
                for (; a->ElementCount < ElementCount; ++a->ElementCount)
                    new (a->At(a->ElementCount)) WideString(*static_cast<const WideString*>(At(a->ElementCount)));
                break;
            case varString:
                for (; a->ElementCount < ElementCount; ++a->ElementCount)
                    new (a->At(a->ElementCount)) String(*static_cast<const String*>(At(a->ElementCount)));
                break;
            case varUnknown:
            case varDispatch:
                std::memcpy(a->Data, Data, bytes);
                a->ElementCount = ElementCount;
                for (std::size_t i = 0; i < ElementCount; ++i)
                    if (IUnknown* u = static_cast<IUnknown**>(static_cast<void*>(a->Data))[i]) u->AddRef();
                break;
            default:
                std::memcpy(a->Data, Data, bytes);
                a->ElementCount = ElementCount;
                break;
        }
    } catch (...) {
        delete a;  // destroys the elements constructed so far
        throw;
    }
    return a;
}

std::size_t TVarArrayData::Offset(const int* indices, std::size_t count) const {
    if (count != Bounds.size())
        throw EVariantBadIndexError(Format("Variant or safe array index out of bounds: %d indices for %d dimensions",
                                           {static_cast<int>(count), static_cast<int>(Bounds.size())}));
    std::size_t offset = 0, stride = 1;
    for (std::size_t d = 0; d < count; ++d) {
        const Int64 rel = static_cast<Int64>(indices[d]) - Bounds[d].LowBound;
        if (rel < 0 || rel >= Bounds[d].ElementCount) BoundsError(indices[d]);
        offset += static_cast<std::size_t>(rel) * stride;
        stride *= static_cast<std::size_t>(Bounds[d].ElementCount);
    }
    return offset;
}

Variant TVarArrayData::Get(std::size_t i) const {
    const void* p = At(i);
    switch (ElementType) {
        case varSmallint: return Variant(*static_cast<const short*>(p));
        case varInteger: return Variant(*static_cast<const int*>(p));
        case varSingle: return Variant(*static_cast<const float*>(p));
        case varDouble: return Variant(*static_cast<const double*>(p));
        case varCurrency: return Variant(*static_cast<const Currency*>(p));
        case varDate: return Variant(*static_cast<const TDateTime*>(p));
        case varOleStr: return Variant(*static_cast<const WideString*>(p));
        case varString: return Variant(*static_cast<const String*>(p));
        case varDispatch: return Variant::FromDispatch(*static_cast<IUnknown* const*>(p));
        case varUnknown: return Variant::FromUnknown(*static_cast<IUnknown* const*>(p));
        case varError: return Variant::Error(*static_cast<const HRESULT*>(p));
        case varBoolean: return Variant(*static_cast<const short*>(p) != 0);
        case varVariant: return *static_cast<const Variant*>(p);
        case varDecimal: return Variant(*static_cast<const TDecimal*>(p));
        case varShortInt: return Variant(*static_cast<const signed char*>(p));
        case varByte: return Variant(*static_cast<const unsigned char*>(p));
        case varWord: return Variant(*static_cast<const unsigned short*>(p));
        case varLongWord: return Variant(*static_cast<const unsigned*>(p));
        case varInt64: return Variant(static_cast<long long>(*static_cast<const Int64*>(p)));
        case varUInt64: return Variant(static_cast<unsigned long long>(*static_cast<const UInt64*>(p)));
        default: return Variant();
    }
}

void TVarArrayData::Put(std::size_t i, const Variant& value) {
    void* p = At(i);
    switch (ElementType) {
        case varSmallint: *static_cast<short*>(p) = static_cast<short>(value.ToInteger()); break;
        case varInteger: *static_cast<int*>(p) = value.ToInteger(); break;
        case varSingle: *static_cast<float*>(p) = static_cast<float>(value.ToDouble()); break;
        case varDouble: *static_cast<double*>(p) = value.ToDouble(); break;
        case varCurrency: *static_cast<Currency*>(p) = value.ToCurrency(); break;
        case varDate: *static_cast<TDateTime*>(p) = value.ToDateTime(); break;
        case varOleStr: *static_cast<WideString*>(p) = value.ToWideString(); break;
        case varString: *static_cast<String*>(p) = value.ToString(); break;
        case varDispatch:
        case varUnknown: {
            IUnknown** slot = static_cast<IUnknown**>(p);
            IUnknown* n = value.GetInterface();
            if (n) n->AddRef();
            IUnknown* old = *slot;
            *slot = n;
            if (old) old->Release();
            break;
        }
        case varError: *static_cast<HRESULT*>(p) = value.ToError(); break;
        case varBoolean: *static_cast<short*>(p) = value.ToBoolean() ? -1 : 0; break;
        case varVariant: *static_cast<Variant*>(p) = value; break;
        case varDecimal: *static_cast<TDecimal*>(p) = value.ToDecimal(); break;
        case varShortInt: *static_cast<signed char*>(p) = static_cast<signed char>(value.ToInteger()); break;
        case varByte: *static_cast<unsigned char*>(p) = static_cast<unsigned char>(value.ToInteger()); break;
        case varWord: *static_cast<unsigned short*>(p) = static_cast<unsigned short>(value.ToInteger()); break;
        case varLongWord: *static_cast<unsigned*>(p) = static_cast<unsigned>(value.ToUInt64()); break;
        case varInt64: *static_cast<Int64*>(p) = value.ToInt64(); break;
        case varUInt64: *static_cast<UInt64*>(p) = value.ToUInt64(); break;
        default: break;
    }
}

// ---- Access from variants ------------------------------------------------------------------

Variant* VariantAccess::ArrayOwner(Variant& v) {
    Variant* p = &v;
    for (int depth = 0; depth < 16; ++depth) {
        if (!p->IsByRef()) {
            if (!p->IsArray()) VarNotArrayError();
            return p;
        }
        const TVarType k = p->VType() & ~varByRef;
        if (!(k & varArray) && k != varVariant) VarNotArrayError();
        p = static_cast<Variant*>(p->FPtr);
    }
    VarNotArrayError();
}

TVarArrayData* VariantAccess::UniqueArray(Variant& v) {
    Variant* owner = ArrayOwner(v);
    auto* a = static_cast<TVarArrayData*>(owner->FPtr);
    if (a->Shared()) {
        TVarArrayData* copy = a->Clone();
        owner->FPtr = copy;
        a->Release();
        a = copy;
    }
    return a;
}

Variant Variant::GetElement(int index) const { return GetElement({index}); }

void Variant::PutElement(int index, const Variant& v) { PutElement({index}, v); }

Variant Variant::GetElement(std::initializer_list<int> indices) const {
    const TVarArrayData* a = ArrayData();
    if (!a) VarNotArrayError();
    return a->Get(a->Offset(indices.begin(), indices.size()));
}

void Variant::PutElement(std::initializer_list<int> indices, const Variant& v) {
    const TVarArrayData* shared = ArrayData();
    if (!shared) VarNotArrayError();
    // Check and convert before touching the array: a failure changes nothing.
    const std::size_t offset = shared->Offset(indices.begin(), indices.size());
    const Variant value = VarConvert(v, shared->ElementType);  // varVariant keeps v, dereferenced
    VariantAccess::UniqueArray(*this)->Put(offset, value);
}

// ---- Free functions -----------------------------------------------------------------------------

Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementKind) {
    if (bounds.size() == 0 || bounds.size() % 2 != 0)
        CreateError(Format("bounds come in pairs of low and high, %d values given", {static_cast<int>(bounds.size())}));
    std::vector<TVarArrayBound> b;
    for (auto it = bounds.begin(); it != bounds.end(); it += 2) {
        const Int64 count = static_cast<Int64>(it[1]) - it[0] + 1;
        if (count < 0) CreateError(Format("high bound %d is below low bound %d", {it[1], it[0]}));
        if (count > INT32_MAX) CreateError(Format("bounds %d..%d hold too many elements", {it[0], it[1]}));
        b.push_back({static_cast<int>(count), it[0]});
    }
    return VarArrayCreate(b, elementKind);
}

Variant VarArrayCreate(const std::vector<TVarArrayBound>& bounds, TVarType elementKind) {
    Variant v;
    VariantAccess::AdoptArray(v, TVarArrayData::Create(bounds, elementKind));
    return v;
}

Variant VarArrayOf(const std::vector<Variant>& values) {
    if (values.size() > static_cast<std::size_t>(INT32_MAX)) CreateError("too many elements");
    Variant v;
    TVarArrayData* a = TVarArrayData::Create({{static_cast<int>(values.size()), 0}}, varVariant);
    VariantAccess::AdoptArray(v, a);
    for (std::size_t i = 0; i < values.size(); ++i) a->Put(i, values[i].Deref());
    return v;
}

Variant VarArrayOf(std::initializer_list<Variant> values) { return VarArrayOf(std::vector<Variant>(values)); }

int VarArrayDimCount(const Variant& v) noexcept {
    const TVarArrayData* a = v.ArrayData();
    return a ? static_cast<int>(a->Bounds.size()) : 0;
}

namespace {
const TVarArrayBound& DimBound(const Variant& v, int dim) {
    const TVarArrayData* a = v.ArrayData();
    if (!a) VarNotArrayError();
    if (dim < 1 || static_cast<std::size_t>(dim) > a->Bounds.size())
        throw EVariantBadIndexError(Format("Variant or safe array index out of bounds: dimension %d of %d",
                                           {dim, static_cast<int>(a->Bounds.size())}));
    return a->Bounds[static_cast<std::size_t>(dim - 1)];
}
}  // namespace

int VarArrayLowBound(const Variant& v, int dim) { return DimBound(v, dim).LowBound; }

int VarArrayHighBound(const Variant& v, int dim) {
    const TVarArrayBound& b = DimBound(v, dim);
    return b.LowBound + b.ElementCount - 1;
}

TVarType VarArrayElementType(const Variant& v) noexcept {
    const TVarArrayData* a = v.ArrayData();
    return a ? a->ElementType : static_cast<TVarType>(varEmpty);
}

void* VarArrayLock(Variant& v) {
    TVarArrayData* a = VariantAccess::UniqueArray(v);
    ++a->LockCount;
    return a->Data;
}

void VarArrayUnlock(Variant& v) noexcept {
    TVarArrayData* a = v.ArrayData();
    if (a && a->LockCount > 0) --a->LockCount;
}

const void* VarArrayData(const Variant& v) {
    const TVarArrayData* a = v.ArrayData();
    if (!a) VarNotArrayError();
    return a->Data;
}

Variant BytesToVarArray(const void* data, std::size_t size) {
    if (size > static_cast<std::size_t>(INT32_MAX))
        CreateError(Format("%u bytes do not fit a byte array", {static_cast<UInt64>(size)}));
    Variant v = VarArrayCreate({{static_cast<int>(size), 0}}, varByte);
    if (size) std::memcpy(v.ArrayData()->Data, data, size);
    return v;
}

std::vector<Byte> VarArrayToBytes(const Variant& v) {
    const TVarArrayData* a = v.ArrayData();
    if (!a || a->ElementType != varByte || a->Bounds.size() != 1)
        VarCastError(v.Deref().VType(), varArray | varByte);
    return std::vector<Byte>(a->Data, a->Data + a->ElementCount);
}

}  // namespace Rtl
