#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "Platform/com/ConnectionPoints.h"

using namespace Com;

namespace {

// The event interface a source fires (vtable events answer result codes).
struct ISourceEvents : IUnknown {
    COM_INTERFACE(ISourceEvents, IUnknown, "{A4E8C7D2-5B19-4F3E-8C6A-1D2E3F405001}")
    virtual HRESULT Changed(int value) = 0;
};
struct IOtherEvents : IUnknown {
    COM_INTERFACE(IOtherEvents, IUnknown, "{A4E8C7D2-5B19-4F3E-8C6A-1D2E3F405002}")
    virtual HRESULT Closed() = 0;
};
struct ISource : IUnknown {
    COM_INTERFACE(ISource, IUnknown, "{A4E8C7D2-5B19-4F3E-8C6A-1D2E3F405003}")
    virtual void Change(int value) = 0;
};

int LiveObjects = 0;

class TSource : public TImplements<TInterfacedObject, ISource, IConnectionPointContainer> {
public:
    explicit TSource(int maxSinks = 0)
        : FChanged(FPoints.CreateConnectionPoint(IIDOf<ISourceEvents>(), maxSinks)),
          FClosed(FPoints.CreateConnectionPoint(IIDOf<IOtherEvents>())) {
        ++LiveObjects;
    }
    ~TSource() override { --LiveObjects; }
    HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>& points) override {
        return FPoints.EnumConnectionPoints(points);
    }
    HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) override {
        return FPoints.FindConnectionPoint(iid, point);
    }
    void Change(int value) override {
        FChanged->Fire<ISourceEvents>([&](ISourceEvents* s) { s->Changed(value); });
    }
    TConnectionPoint* ChangedPoint() const { return FChanged; }

private:
    TConnectionPoints FPoints{static_cast<IConnectionPointContainer*>(this)};
    TConnectionPoint* FChanged;
    TConnectionPoint* FClosed;
};

// What a component keeps: the values its sink forwarded.
struct TOwner {
    std::vector<int> Received;
    int Cookie = 0;
};

// A sink refers back to its owner with a plain pointer.
class TSink : public TImplements<TInterfacedObject, ISourceEvents> {
public:
    explicit TSink(TOwner* owner) : FOwner(owner) { ++LiveObjects; }
    ~TSink() override { --LiveObjects; }
    HRESULT Changed(int value) override {
        FOwner->Received.push_back(value);
        return S_OK;
    }

private:
    TOwner* FOwner;
};

ComPtr<IConnectionPoint> FindPoint(const ComPtr<ISource>& src, const IID& iid) {
    auto container = src.As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(iid, point.Put()), S_OK);
    return point;
}

}  // namespace

TEST(ConnectionPoints, FindByEventInterface) {
    ComPtr<ISource> src = MakeComObject<TSource>();
    auto container = src.As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IIDOf<ISource>(), point.Put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    point = FindPoint(src, IIDOf<ISourceEvents>());
    IID iid;
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IIDOf<ISourceEvents>());
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_TRUE(IsSameObject(back, src));
    std::vector<ComPtr<IConnectionPoint>> all;
    EXPECT_EQ(container->EnumConnectionPoints(all), S_OK);
    EXPECT_EQ(all.size(), 2u);
    // A connection point is an object of its own whose references keep the source alive.
    EXPECT_FALSE(point.TryAs<ISource>());
    container.Reset();
    back.Reset();
    all.clear();
    src.Reset();
    EXPECT_EQ(LiveObjects, 1);
    point.Reset();
    EXPECT_EQ(LiveObjects, 0);
}

TEST(ConnectionPoints, AdviseAndUnadviseCookies) {
    auto source = MakeComObject<TSource>();
    ComPtr<ISource> src = source;
    auto point = FindPoint(src, IIDOf<ISourceEvents>());
    TOwner a, b;
    {
        auto sinkA = MakeComObject<TSink>(&a);
        auto sinkB = MakeComObject<TSink>(&b);
        EXPECT_EQ(point->Advise(sinkA.As<IUnknown>().Get(), &a.Cookie), S_OK);
        EXPECT_EQ(point->Advise(sinkB.As<IUnknown>().Get(), &b.Cookie), S_OK);
    }
    EXPECT_NE(a.Cookie, 0);
    EXPECT_NE(b.Cookie, 0);
    EXPECT_NE(a.Cookie, b.Cookie);
    std::vector<TConnectData> connections;
    EXPECT_EQ(point->EnumConnections(connections), S_OK);
    EXPECT_EQ(connections.size(), 2u);
    connections.clear();

    src->Change(1);
    EXPECT_EQ(a.Received, std::vector<int>{1});
    EXPECT_EQ(b.Received, std::vector<int>{1});

    // Unadvise stops the sink and frees it (the point held the only reference).
    EXPECT_EQ(point->Unadvise(a.Cookie), S_OK);
    EXPECT_EQ(LiveObjects, 2);  // the source and sink b
    src->Change(2);
    EXPECT_EQ(a.Received, std::vector<int>{1});
    EXPECT_EQ(b.Received, (std::vector<int>{1, 2}));

    // A cookie is good once; 0 and unknown cookies are no connection.
    EXPECT_EQ(point->Unadvise(a.Cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(-5), CONNECT_E_NOCONNECTION);
    // Cookies are not reused while the point lives.
    std::set<int> cookies{a.Cookie, b.Cookie};
    for (int i = 0; i < 20; ++i) {
        TOwner c;
        auto sink = MakeComObject<TSink>(&c);
        ASSERT_EQ(point->Advise(sink.As<IUnknown>().Get(), &c.Cookie), S_OK);
        EXPECT_TRUE(cookies.insert(c.Cookie).second);
        ASSERT_EQ(point->Unadvise(c.Cookie), S_OK);
    }
    EXPECT_EQ(source->ChangedPoint()->GetConnectionCount(), 1);
    // Freeing the source frees the sinks still connected.
    point.Reset();
    src.Reset();
    source.Reset();
    EXPECT_EQ(LiveObjects, 0);
}

TEST(ConnectionPoints, RefusedSinks) {
    ComPtr<ISource> src = MakeComObject<TSource>(1);
    auto point = FindPoint(src, IIDOf<ISourceEvents>());
    TOwner owner;
    auto sink = MakeComObject<TSink>(&owner);
    int cookie = 77;
    // A sink without the event interface, a null sink, a null cookie slot.
    EXPECT_EQ(point->Advise(src.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(point->Advise(sink.As<IUnknown>().Get(), nullptr), E_POINTER);
    // The point takes one sink only.
    EXPECT_EQ(point->Advise(sink.As<IUnknown>().Get(), &cookie), S_OK);
    int second = 5;
    EXPECT_EQ(point->Advise(sink.As<IUnknown>().Get(), &second), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(sink->GetRefCount(), 2);  // the refused advise kept no reference
}

TEST(ConnectionPoints, InterfaceConnectHelpers) {
    ComPtr<ISource> src = MakeComObject<TSource>();
    TOwner owner;
    auto sink = MakeComObject<TSink>(&owner);
    IUnknown* sinkUnk = sink.As<IUnknown>().Get();
    // Disconnecting "not connected" does nothing.
    EXPECT_EQ(InterfaceDisconnect(src.Get(), IIDOf<ISourceEvents>(), owner.Cookie), S_FALSE);
    EXPECT_EQ(InterfaceConnect(src.Get(), IIDOf<ISourceEvents>(), sinkUnk, owner.Cookie), S_OK);
    EXPECT_NE(owner.Cookie, 0);
    src->Change(5);
    EXPECT_EQ(owner.Received, std::vector<int>{5});
    EXPECT_EQ(InterfaceDisconnect(src.Get(), IIDOf<ISourceEvents>(), owner.Cookie), S_OK);
    EXPECT_EQ(owner.Cookie, 0);
    src->Change(6);
    EXPECT_EQ(owner.Received, std::vector<int>{5});
    // No such connection point, no container, no source: the cookie stays 0.
    int cookie = 3;
    EXPECT_EQ(InterfaceConnect(src.Get(), IIDOf<ISource>(), sinkUnk, cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cookie, 0);
    EXPECT_EQ(InterfaceConnect(sinkUnk, IIDOf<ISourceEvents>(), sinkUnk, cookie), E_NOINTERFACE);
    EXPECT_EQ(cookie, 0);
    EXPECT_EQ(InterfaceConnect(nullptr, IIDOf<ISourceEvents>(), sinkUnk, cookie), E_POINTER);
    // A failed disconnect keeps the cookie.
    cookie = 12345;
    EXPECT_EQ(InterfaceDisconnect(src.Get(), IIDOf<ISourceEvents>(), cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cookie, 12345);
}

namespace {

// A sink that disconnects itself from inside the event.
class TOneShotSink : public TImplements<TInterfacedObject, ISourceEvents> {
public:
    TOneShotSink(IConnectionPoint* point, TOwner* owner) : FPoint(point), FOwner(owner) {}
    HRESULT Changed(int value) override {
        FOwner->Received.push_back(value);
        return FPoint->Unadvise(FOwner->Cookie);
    }

private:
    IConnectionPoint* FPoint;
    TOwner* FOwner;
};

}  // namespace

TEST(ConnectionPoints, SinksMayUnadviseWhileEventsFire) {
    ComPtr<ISource> src = MakeComObject<TSource>();
    auto point = FindPoint(src, IIDOf<ISourceEvents>());
    TOwner once, always;
    auto a = MakeComObject<TOneShotSink>(point.Get(), &once);
    auto b = MakeComObject<TSink>(&always);
    ASSERT_EQ(point->Advise(a.As<IUnknown>().Get(), &once.Cookie), S_OK);
    ASSERT_EQ(point->Advise(b.As<IUnknown>().Get(), &always.Cookie), S_OK);
    a.Reset();  // the point holds the only reference while it fires
    src->Change(1);
    src->Change(2);
    EXPECT_EQ(once.Received, std::vector<int>{1});
    EXPECT_EQ(always.Received, (std::vector<int>{1, 2}));
}

TEST(ConnectionPoints, FiringAsTheWrongInterfaceIsRefused) {
    auto source = MakeComObject<TSource>();
    EXPECT_THROW(source->ChangedPoint()->Fire<IOtherEvents>([](IOtherEvents* s) { s->Closed(); }), EIntfCastError);
}
