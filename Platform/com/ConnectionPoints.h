// Connection points: how an object that fires events finds its sinks.
//
// A source object implements IConnectionPointContainer; FindConnectionPoint(iid)
// gives the connection point for one event interface, Advise(sink) connects a sink
// (which must support that interface) and answers a cookie, Unadvise(cookie)
// disconnects it. Cookies are never 0, unique within their connection point and
// not reused while the point lives, so 0 always means "not connected".
//
// Sources use one implementation: a TConnectionPoints member created with the
// object's IUnknown, one CreateConnectionPoint per event interface, the two
// container methods forwarded to it, and Fire<ISink>(...) to call every sink:
//
//     class TSource : public Com::TImplements<Com::TInterfacedObject, ISource, Com::IConnectionPointContainer> {
//     public:
//         TSource() : FEvents(FPoints.CreateConnectionPoint(Com::IIDOf<ISourceEvents>())) {}
//         HRESULT EnumConnectionPoints(std::vector<Com::ComPtr<Com::IConnectionPoint>>& points) override {
//             return FPoints.EnumConnectionPoints(points);
//         }
//         HRESULT FindConnectionPoint(const Com::IID& iid, Com::IConnectionPoint** point) override {
//             return FPoints.FindConnectionPoint(iid, point);
//         }
//         void Changed() { FEvents->Fire<ISourceEvents>([&](ISourceEvents* s) { s->Changed(); }); }
//     private:
//         Com::TConnectionPoints FPoints{static_cast<Com::IConnectionPointContainer*>(this)};
//         Com::TConnectionPoint* FEvents;
//     };
//
// A connection point holds a counted reference to each sink; sinks refer back to
// their owner with a plain pointer. Holding a connection point keeps its
// container alive.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "Platform/com/Unknown.h"

namespace Com {

struct IConnectionPointContainer;

struct TConnectData {
    ComPtr<IUnknown> Sink;  // the sink's event interface
    int Cookie = 0;
};

struct IConnectionPoint : IUnknown {
    COM_INTERFACE(IConnectionPoint, IUnknown, "{B196B286-BAB4-101A-B69C-00AA00341D07}")
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    // E_POINTER for a null sink or cookie slot, CONNECT_E_CANNOTCONNECT when the sink
    // lacks the event interface, CONNECT_E_ADVISELIMIT when the point is full. The
    // cookie is 0 on failure.
    virtual HRESULT Advise(IUnknown* sink, int* cookie) = 0;
    // CONNECT_E_NOCONNECTION for a cookie that is not connected (0 included).
    virtual HRESULT Unadvise(int cookie) = 0;
    virtual HRESULT EnumConnections(std::vector<TConnectData>& connections) = 0;
};

struct IConnectionPointContainer : IUnknown {
    COM_INTERFACE(IConnectionPointContainer, IUnknown, "{B196B284-BAB4-101A-B69C-00AA00341D07}")
    virtual HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>& points) = 0;
    // CONNECT_E_NOCONNECTION when the object fires no such events.
    virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;
};

// The reusable connection point; owned by its container's TConnectionPoints.
class TConnectionPoint final : public TImplements<TContainedObject, IConnectionPoint> {
public:
    // maxConnections 0: unlimited.
    TConnectionPoint(IUnknown* container, const IID& iid, int maxConnections = 0);
    ~TConnectionPoint() override;

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, int* cookie) override;
    HRESULT Unadvise(int cookie) override;
    HRESULT EnumConnections(std::vector<TConnectData>& connections) override;

    const IID& GetIID() const noexcept { return FIID; }
    int GetConnectionCount() const;
    bool HasConnections() const { return GetConnectionCount() > 0; }

    // The connected sinks, in the order they were advised, as I (which must be the
    // point's event interface: EIntfCastError otherwise). A snapshot: sinks may
    // advise and unadvise while it is used.
    template <class I>
    std::vector<ComPtr<I>> GetSinks() const {
        CheckInterface(IIDOf<I>());
        std::vector<ComPtr<I>> r;
        for (auto& c : Snapshot()) r.emplace_back(static_cast<I*>(c.Get()));
        return r;
    }
    // Calls fn(I*) for every sink of the snapshot.
    template <class I, class F>
    void Fire(F&& fn) const {
        for (auto& s : GetSinks<I>()) fn(s.Get());
    }

private:
    struct TConnection {
        int Cookie;
        ComPtr<IUnknown> Sink;
    };
    std::vector<ComPtr<IUnknown>> Snapshot() const;
    void CheckInterface(const IID& iid) const;

    const IID FIID;
    const int FMaxConnections;
    mutable std::mutex FLock;
    std::vector<TConnection> FConnections;
    int FLastCookie = 0;
};

// The connection points of one container object.
class TConnectionPoints {
public:
    // container: the owning object's IUnknown (not counted).
    explicit TConnectionPoints(IUnknown* container) noexcept : FContainer(container) {}
    TConnectionPoints(const TConnectionPoints&) = delete;
    TConnectionPoints& operator=(const TConnectionPoints&) = delete;

    TConnectionPoint* CreateConnectionPoint(const IID& iid, int maxConnections = 0);
    TConnectionPoint* GetConnectionPoint(const IID& iid) const noexcept;
    HRESULT EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>& points);
    HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point);

private:
    IUnknown* FContainer;
    std::vector<std::unique_ptr<TConnectionPoint>> FPoints;
};

// Connects sink to source's connection point for iid and stores the cookie in
// connection (0 when the source has no such point or refuses the sink). Answers
// the failure's code; never raises.
HRESULT InterfaceConnect(IUnknown* source, const IID& iid, IUnknown* sink, int& connection);
// Disconnects the cookie and clears it when that succeeds; a cookie of 0 means
// "not connected" and does nothing.
HRESULT InterfaceDisconnect(IUnknown* source, const IID& iid, int& connection);

}  // namespace Com
