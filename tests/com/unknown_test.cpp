#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/com/Apartment.h"
#include "Platform/com/Unknown.h"

using namespace Com;

namespace {

struct IAnimal : IUnknown {
    COM_INTERFACE(IAnimal, IUnknown, "{8F0B61E0-1C4E-4C55-9A8B-6D2E0F4A1B01}")
    virtual int Legs() = 0;
};
struct IDog : IAnimal {
    COM_INTERFACE(IDog, IAnimal, "{8F0B61E0-1C4E-4C55-9A8B-6D2E0F4A1B02}")
    virtual const char* Bark() = 0;
};
struct IPet : IUnknown {
    COM_INTERFACE(IPet, IUnknown, "{8F0B61E0-1C4E-4C55-9A8B-6D2E0F4A1B03}")
    virtual const char* Name() = 0;
};
struct ITrained : IUnknown {
    COM_INTERFACE(ITrained, IUnknown, "{8F0B61E0-1C4E-4C55-9A8B-6D2E0F4A1B04}")
    virtual int Tricks() = 0;
};
struct IUnused : IUnknown {
    COM_INTERFACE(IUnused, IUnknown, "{8F0B61E0-1C4E-4C55-9A8B-6D2E0F4A1B05}")
};

// Counts live objects so tests can see exactly when the last reference frees one.
int LiveDogs = 0;

class TDog : public TImplements<TInterfacedObject, IDog, IPet> {
public:
    TDog() { ++LiveDogs; }
    ~TDog() override { --LiveDogs; }
    int Legs() override { return 4; }
    const char* Bark() override { return "Woof"; }
    const char* Name() override { return "Rex"; }
};

// A subclass adding an interface to the base class's table.
class TShowDog : public TImplements<TDog, ITrained> {
public:
    int Tricks() override { return 3; }
};

}  // namespace

TEST(Unknown, LastReleaseFreesTheObject) {
    ASSERT_EQ(LiveDogs, 0);
    {
        ComPtr<TDog> dog = MakeComObject<TDog>();
        EXPECT_EQ(dog->GetRefCount(), 1);
        ComPtr<IDog> a = dog;             // copy of another kind takes a reference
        ComPtr<IAnimal> b = a;            // upcast
        ComPtr<IPet> c = dog.As<IPet>();  // query takes one too
        EXPECT_EQ(dog->GetRefCount(), 4);
        b = nullptr;
        c.Reset();
        EXPECT_EQ(dog->GetRefCount(), 2);
        ComPtr<IDog> moved = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(dog->GetRefCount(), 2);
        dog.Reset();
        EXPECT_EQ(LiveDogs, 1);
        EXPECT_EQ(moved->Bark(), std::string("Woof"));
    }
    EXPECT_EQ(LiveDogs, 0);
}

TEST(Unknown, AssignmentReleasesTheOldReference) {
    ComPtr<IDog> first = MakeComObject<TDog>();
    ComPtr<IDog> second = MakeComObject<TDog>();
    ASSERT_EQ(LiveDogs, 2);
    first = second;  // the first dog's only reference goes
    EXPECT_EQ(LiveDogs, 1);
    first = first;  // self-assignment keeps the object
    first = std::move(first);
    EXPECT_EQ(LiveDogs, 1);
    EXPECT_TRUE(first == second);
    first = nullptr;
    second = nullptr;
    EXPECT_EQ(LiveDogs, 0);
    // Attach adopts, Detach gives up without releasing.
    IDog* raw = MakeComObject<TDog>().Detach();
    EXPECT_EQ(LiveDogs, 1);
    auto adopted = ComPtr<IDog>::Attach(raw);
    adopted.Reset();
    EXPECT_EQ(LiveDogs, 0);
}

TEST(Unknown, QueryInterfaceFollowsTheIdentityRules) {
    ComPtr<TShowDog> obj = MakeComObject<TShowDog>();
    const IID ids[] = {IID_IUnknown, IIDOf<IAnimal>(), IIDOf<IDog>(), IIDOf<IPet>(), IIDOf<ITrained>()};
    // The same IUnknown from every interface, and every interface from every other
    // (symmetric, transitive), each query answering a counted reference.
    void* identity = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_IUnknown, &identity), S_OK);
    for (const IID& from : ids) {
        void* p = nullptr;
        ASSERT_EQ(obj->QueryInterface(from, &p), S_OK) << GUIDToString(from);
        auto start = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(p));
        for (const IID& to : ids) {
            void* q = nullptr;
            ASSERT_EQ(start->QueryInterface(to, &q), S_OK);
            auto reached = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(q));
            void* unk = nullptr;
            ASSERT_EQ(reached->QueryInterface(IID_IUnknown, &unk), S_OK);
            EXPECT_EQ(unk, identity);
            static_cast<IUnknown*>(unk)->Release();
        }
        // Reflexive: asking an interface for itself answers the same pointer.
        void* self = nullptr;
        ASSERT_EQ(start->QueryInterface(from, &self), S_OK);
        EXPECT_EQ(self, p);
        static_cast<IUnknown*>(self)->Release();
    }
    static_cast<IUnknown*>(identity)->Release();
    EXPECT_EQ(obj->GetRefCount(), 1);
    // The interfaces are the real ones, base interfaces reached through the derived one.
    EXPECT_EQ(obj.As<IAnimal>()->Legs(), 4);
    EXPECT_EQ(obj.As<ITrained>()->Tricks(), 3);
    EXPECT_EQ(obj.As<IPet>()->Name(), std::string("Rex"));
    EXPECT_TRUE(IsSameObject(obj.As<IPet>(), obj.As<ITrained>()));
    EXPECT_FALSE(IsSameObject(obj.As<IPet>(), MakeComObject<TShowDog>().As<IPet>()));
}

TEST(Unknown, UnsupportedInterfaces) {
    ComPtr<IDog> dog = MakeComObject<TDog>();
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(dog->QueryInterface(IIDOf<IUnused>(), &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(dog->QueryInterface(IIDOf<IDog>(), nullptr), E_POINTER);
    EXPECT_FALSE(dog.TryAs<ITrained>());
    ComPtr<IUnused> out;
    EXPECT_EQ(dog.QueryInterface(out), E_NOINTERFACE);
    try {
        dog.As<IUnused>();
        FAIL();
    } catch (const EIntfCastError& e) {
        EXPECT_NE(e.Message().find(GUIDToString(IIDOf<IUnused>())), std::string::npos) << e.Message();
    }
    EXPECT_EQ(static_cast<TDog*>(dog.Get())->GetRefCount(), 1);  // failed queries leave no reference behind
    // A null reference is a value: queries answer null, calls raise.
    ComPtr<IDog> none;
    EXPECT_FALSE(none.As<IPet>());
    EXPECT_FALSE(none.TryAs<IPet>());
    try {
        none->Bark();
        FAIL();
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), E_POINTER);
    }
}

namespace {

// Hands `this` around while it is built and while it is destroyed.
struct TSelfReferencing : TImplements<TInterfacedObject, IPet> {
    ComPtr<IPet>* Keeper;
    explicit TSelfReferencing(ComPtr<IPet>* keeper) : Keeper(keeper) {}
    void AfterConstruction() override {
        // Taking and dropping a reference here must not free the new object.
        ComPtr<IPet> temp(this);
        temp.Reset();
        *Keeper = this;
    }
    ~TSelfReferencing() override {
        ComPtr<IPet> temp(this);  // must not free the object a second time
        ++LiveDogs;
    }
    const char* Name() override { return "self"; }
};

}  // namespace

TEST(Unknown, ConstructionAndDestructionMayHandOutThis) {
    LiveDogs = 0;
    ComPtr<IPet> kept;
    {
        auto obj = MakeComObject<TSelfReferencing>(&kept);
        EXPECT_EQ(obj->GetRefCount(), 2);
    }
    EXPECT_EQ(kept->Name(), std::string("self"));
    kept.Reset();
    EXPECT_EQ(LiveDogs, 1);  // the destructor ran once (AddressSanitizer checks the rest)
    LiveDogs = 0;
}

TEST(Unknown, CountsStayExactAcrossThreads) {
    ComPtr<IDog> dog = MakeComObject<TDog>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([dog] {
            for (int i = 0; i < 20000; ++i) {
                ComPtr<IAnimal> a = dog;
                ComPtr<IPet> p = a.As<IPet>();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(static_cast<TDog*>(dog.Get())->GetRefCount(), 1);
    dog.Reset();
    EXPECT_EQ(LiveDogs, 0);
}

TEST(Unknown, ObjectsRememberTheirCreatingThread) {
    ComPtr<TDog> mine = MakeComObject<TDog>();
    EXPECT_EQ(mine->GetOwnerThreadId(), std::this_thread::get_id());
    EXPECT_TRUE(mine->IsOwnerThread());
    ComPtr<TDog> theirs;
    std::thread::id workerId;
    std::thread([&] {
        CoInitialize();
        workerId = std::this_thread::get_id();
        theirs = MakeComObject<TDog>();
        CoUninitialize();
    }).join();
    EXPECT_EQ(theirs->GetOwnerThreadId(), workerId);
    EXPECT_FALSE(theirs->IsOwnerThread());
}

namespace {

struct TContainer;
// A part whose references count on its container.
struct TPart : TImplements<TContainedObject, ITrained> {
    using TImplements::TImplements;
    int Tricks() override { return 7; }
};
struct TContainer : TImplements<TInterfacedObject, IPet> {
    TPart Part{static_cast<IPet*>(this)};
    TContainer() { ++LiveDogs; }
    ~TContainer() override { --LiveDogs; }
    const char* Name() override { return "container"; }
};

}  // namespace

TEST(Unknown, ContainedObjectsKeepTheirContainerAlive) {
    LiveDogs = 0;
    ComPtr<ITrained> part;
    {
        auto c = MakeComObject<TContainer>();
        part = &c->Part;
        EXPECT_EQ(c->GetRefCount(), 2);
        EXPECT_FALSE(part.TryAs<IPet>());  // the part has interfaces of its own
    }
    EXPECT_EQ(LiveDogs, 1);
    EXPECT_EQ(part->Tricks(), 7);
    part.Reset();
    EXPECT_EQ(LiveDogs, 0);
}
