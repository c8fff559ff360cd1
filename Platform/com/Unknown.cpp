#include "Platform/com/Unknown.h"

#include "Platform/com/Apartment.h"

namespace Com {

namespace Detail {

void NullInterfaceCall() { throw EOleSysError("Interface method called through a null reference", E_POINTER); }

void InterfaceCastError(const GUID& iid, HRESULT hr) {
    String msg = "Interface not supported: " + GUIDToString(iid);
    if (hr != E_NOINTERFACE && Failed(hr)) msg += " (" + HResultMessage(hr) + ")";
    throw EIntfCastError(msg);
}

}  // namespace Detail

bool IsSameObject(IUnknown* a, IUnknown* b) noexcept {
    if (a == b) return true;
    if (!a || !b) return false;
    ComPtr<IUnknown> ua = QueryInterface<IUnknown>(a);
    ComPtr<IUnknown> ub = QueryInterface<IUnknown>(b);
    return ua && ua == ub;
}

namespace {
HRESULT AnswerInterface(IUnknown* unk, void** obj) noexcept {
    if (!unk) {
        *obj = nullptr;
        return E_NOINTERFACE;
    }
    unk->AddRef();
    return S_OK;
}
}  // namespace

RTL_CLASS_IMPL(TInterfacedObject, Rtl::TObject)
RTL_CLASS_IMPL(TContainedObject, Rtl::TObject)

TInterfacedObject::TInterfacedObject()
    : FOwnerThread(std::this_thread::get_id()), FApartment(CurrentApartment()) {}

TInterfacedObject::~TInterfacedObject() = default;

bool TInterfacedObject::PostToOwner(std::function<void()> work) const {
    return FApartment && FApartment->Post(std::move(work));
}

std::uint32_t TInterfacedObject::InternalAddRef() noexcept {
    return static_cast<std::uint32_t>(FRefCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

std::uint32_t TInterfacedObject::InternalRelease() noexcept {
    const std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) {
        // A destructor that hands `this` around (AddRef/Release pairs) must not
        // reach zero a second time.
        FRefCount.store(1, std::memory_order_relaxed);
        delete this;
    }
    return static_cast<std::uint32_t>(n);
}

HRESULT TInterfacedObject::InternalQueryInterface(const GUID& iid, void** obj) noexcept {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    return AnswerInterface(GetInterface(iid, obj), obj);
}

HRESULT TContainedObject::InternalQueryInterface(const GUID& iid, void** obj) noexcept {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    return AnswerInterface(GetInterface(iid, obj), obj);
}

}  // namespace Com
