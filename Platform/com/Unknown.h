// Interfaces, counted interface references and reference-counted objects.
//
// An interface is an abstract struct deriving (singly) from another interface and
// naming itself, its base and its IID once:
//
//     struct IGreeter : Com::IUnknown {
//         COM_INTERFACE(IGreeter, Com::IUnknown, "{6A0D1C8E-4E0B-4F7A-9A51-2B1F0C9E7D11}")
//         virtual Rtl::String Greet(const Rtl::String& who) = 0;
//     };
//
// Templates find the IID through IIDOf<I>(). An object implements interfaces by
// deriving from TImplements<TInterfacedObject, I1, I2, ...>; a subclass adds more
// with TImplements<TBaseClass, I3>. QueryInterface then answers every listed
// interface and each of its base interfaces, and IUnknown always with the same
// pointer (the first listed interface of the most derived class), which is what
// COM identity requires.
//
// ComPtr<I> holds one counted reference, like the framework's interface variables:
// assigning releases the old reference after taking the new one, a null pointer
// is a valid value, As<J>() queries and raises EIntfCastError when J is not
// supported, TryAs<J>() answers null instead. Objects are never deleted directly;
// the last Release frees them. Back references from a sink to its owner are plain
// uncounted pointers (the owner removes the sink before it goes away).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

#include "Platform/com/Errors.h"
#include "Platform/com/Guid.h"
#include "Platform/rtl/System.h"

namespace Com {

using Rtl::IUnknown;

constexpr IID IID_IUnknown = GUIDLiteral("{00000000-0000-0000-C000-000000000046}");

// Declares an interface's identity inside its body (see the top of this file).
#define COM_INTERFACE(Name, Base, Iid)                                                       \
public:                                                                                      \
    using TInterfaceSelf = Name;                                                             \
    using TInterfaceBase = Base;                                                             \
    static constexpr ::Rtl::GUID InterfaceIID = ::Com::GUIDLiteral(Iid);

template <class I>
struct TInterfaceTraits {
    static_assert(std::is_same_v<typename I::TInterfaceSelf, I>,
                  "the interface does not declare its own IID with COM_INTERFACE");
    using Base = typename I::TInterfaceBase;
    static constexpr GUID IID = I::InterfaceIID;
};

template <>
struct TInterfaceTraits<IUnknown> {
    using Base = void;
    static constexpr GUID IID = IID_IUnknown;
};

template <class I>
constexpr const GUID& IIDOf() noexcept {
    return TInterfaceTraits<I>::IID;
}

namespace Detail {
[[noreturn]] void NullInterfaceCall();
[[noreturn]] void InterfaceCastError(const GUID& iid, HRESULT hr);

// Matches iid against I and its base interfaces; answers the IUnknown of the
// matching interface pointer (stored in *obj) or null.
template <class I>
IUnknown* MatchInterfaceChain(I* p, const GUID& iid, void** obj) noexcept {
    if (iid == TInterfaceTraits<I>::IID) {
        *obj = p;
        return p;
    }
    using Base = typename TInterfaceTraits<I>::Base;
    if constexpr (!std::is_void_v<Base>)
        return MatchInterfaceChain<Base>(static_cast<Base*>(p), iid, obj);
    else
        return nullptr;
}
}  // namespace Detail

// ---- ComPtr ------------------------------------------------------------------------

template <class I>
class ComPtr {
public:
    using Interface = I;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference (AddRef), like assigning to an interface variable.
    ComPtr(I* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    ComPtr(const ComPtr& o) noexcept : ComPtr(o.FPtr) {}
    ComPtr(ComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
    template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
    ComPtr(const ComPtr<J>& o) noexcept : ComPtr(static_cast<I*>(o.Get())) {}
    template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
    ComPtr(ComPtr<J>&& o) noexcept : FPtr(static_cast<I*>(o.Detach())) {}
    ~ComPtr() {
        if (FPtr) FPtr->Release();
    }

    ComPtr& operator=(const ComPtr& o) noexcept { return Assign(o.FPtr); }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            I* old = std::exchange(FPtr, std::exchange(o.FPtr, nullptr));
            if (old) old->Release();
        }
        return *this;
    }
    ComPtr& operator=(I* p) noexcept { return Assign(p); }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }
    template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
    ComPtr& operator=(const ComPtr<J>& o) noexcept {
        return Assign(static_cast<I*>(o.Get()));
    }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(I* p) noexcept {
        ComPtr r;
        r.FPtr = p;
        return r;
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] I* Detach() noexcept { return std::exchange(FPtr, nullptr); }
    // Releases the reference; the pointer becomes null.
    void Reset() noexcept {
        if (I* old = std::exchange(FPtr, nullptr)) old->Release();
    }

    I* Get() const noexcept { return FPtr; }
    // Calling through a null reference raises EOleSysError (E_POINTER).
    I* operator->() const {
        if (!FPtr) Detail::NullInterfaceCall();
        return FPtr;
    }
    I& operator*() const { return *operator->(); }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    // Out parameters: releases the current reference and answers the slot.
    I** Put() noexcept {
        Reset();
        return &FPtr;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // Queries for J; HRESULT of the query, out is null on failure.
    template <class J>
    HRESULT QueryInterface(ComPtr<J>& out) const noexcept {
        out.Reset();
        if (!FPtr) return E_POINTER;
        return FPtr->QueryInterface(IIDOf<J>(), out.PutVoid());
    }
    // Queries for J: null for a null reference, EIntfCastError when J is not supported.
    template <class J>
    ComPtr<J> As() const {
        ComPtr<J> r;
        if (!FPtr) return r;
        const HRESULT hr = FPtr->QueryInterface(IIDOf<J>(), r.PutVoid());
        if (Failed(hr) || !r) Detail::InterfaceCastError(IIDOf<J>(), hr);
        return r;
    }
    // Queries for J: null when the reference is null or J is not supported.
    template <class J>
    ComPtr<J> TryAs() const noexcept {
        ComPtr<J> r;
        if (FPtr) FPtr->QueryInterface(IIDOf<J>(), r.PutVoid());
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.FPtr == b.FPtr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }
    friend bool operator==(const ComPtr& a, const I* b) noexcept { return a.FPtr == b; }

private:
    ComPtr& Assign(I* p) noexcept {
        if (p) p->AddRef();
        I* old = std::exchange(FPtr, p);
        if (old) old->Release();
        return *this;
    }

    I* FPtr = nullptr;
};

// True when both references reach the same object (COM identity: equal IUnknown).
bool IsSameObject(IUnknown* a, IUnknown* b) noexcept;
template <class I, class J>
bool IsSameObject(const ComPtr<I>& a, const ComPtr<J>& b) noexcept {
    return IsSameObject(static_cast<IUnknown*>(a.Get()), static_cast<IUnknown*>(b.Get()));
}

// Queries p for I; null when p is null or I is not supported.
template <class I>
ComPtr<I> QueryInterface(IUnknown* p) noexcept {
    ComPtr<I> r;
    if (p) p->QueryInterface(IIDOf<I>(), r.PutVoid());
    return r;
}

// ---- Objects -------------------------------------------------------------------------

class TApartment;

// A reference-counted object. The count starts at 0; the first ComPtr takes it to
// 1 and the last Release frees the object. Create objects with MakeComObject,
// which calls AfterConstruction once a reference is held: hand out `this` there,
// never from a constructor. The object remembers the thread (and apartment) that
// created it, so that work finished elsewhere can be posted back to that thread.
class TInterfacedObject : public Rtl::TObject {
    RTL_CLASS(TInterfacedObject, Rtl::TObject)
public:
    TInterfacedObject();
    ~TInterfacedObject() override;

    int GetRefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }
    std::thread::id GetOwnerThreadId() const noexcept { return FOwnerThread; }
    // The apartment of the creating thread; null when that thread had none.
    const std::shared_ptr<TApartment>& GetOwnerApartment() const noexcept { return FApartment; }
    // Queues work for the creating thread; false when that apartment is gone.
    bool PostToOwner(std::function<void()> work) const;
    bool IsOwnerThread() const noexcept { return std::this_thread::get_id() == FOwnerThread; }

    virtual void AfterConstruction() {}

protected:
    std::uint32_t InternalAddRef() noexcept;
    std::uint32_t InternalRelease() noexcept;
    HRESULT InternalQueryInterface(const GUID& iid, void** obj) noexcept;
    // The interface table: the IUnknown of the interface for iid (its pointer in
    // *obj), or null. TImplements overrides it.
    virtual IUnknown* GetInterface(const GUID& iid, void** obj) noexcept { return nullptr; }

private:
    std::atomic<std::int32_t> FRefCount{0};
    std::thread::id FOwnerThread;
    std::shared_ptr<TApartment> FApartment;
};

// An object whose lifetime belongs to a controlling object (a connection point
// inside its container): AddRef and Release go to the controller, QueryInterface
// answers the contained object's own interfaces. The controller owns and deletes
// it; it is never released to zero itself.
class TContainedObject : public Rtl::TObject {
    RTL_CLASS(TContainedObject, Rtl::TObject)
public:
    explicit TContainedObject(IUnknown* controller) noexcept : FController(controller) {}
    IUnknown* GetController() const noexcept { return FController; }

protected:
    std::uint32_t InternalAddRef() noexcept { return FController->AddRef(); }
    std::uint32_t InternalRelease() noexcept { return FController->Release(); }
    HRESULT InternalQueryInterface(const GUID& iid, void** obj) noexcept;
    virtual IUnknown* GetInterface(const GUID& iid, void** obj) noexcept { return nullptr; }

private:
    IUnknown* FController;  // uncounted: the controller owns this object
};

// Implements IUnknown for Base (TInterfacedObject, TContainedObject or a class
// derived from them) plus the interfaces Is...; list only interfaces Base does not
// already implement.
template <class Base, class... Is>
class TImplements : public Base, public Is... {
public:
    using Base::Base;

    HRESULT QueryInterface(const GUID& iid, void** obj) override { return this->InternalQueryInterface(iid, obj); }
    std::uint32_t AddRef() override { return this->InternalAddRef(); }
    std::uint32_t Release() override { return this->InternalRelease(); }

protected:
    IUnknown* GetInterface(const GUID& iid, void** obj) noexcept override {
        IUnknown* unk = nullptr;
        ((unk = unk ? unk : Detail::MatchInterfaceChain<Is>(static_cast<Is*>(this), iid, obj)), ...);
        return unk ? unk : Base::GetInterface(iid, obj);
    }
};

// Creates a reference-counted object and answers its first reference.
template <class T, class... A>
ComPtr<T> MakeComObject(A&&... args) {
    ComPtr<T> r(new T(std::forward<A>(args)...));
    r.Get()->AfterConstruction();
    return r;
}

}  // namespace Com
