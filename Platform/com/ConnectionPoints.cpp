#include "Platform/com/ConnectionPoints.h"

#include <algorithm>
#include <climits>

namespace Com {

TConnectionPoint::TConnectionPoint(IUnknown* container, const IID& iid, int maxConnections)
    : TImplements(container), FIID(iid), FMaxConnections(maxConnections) {}

TConnectionPoint::~TConnectionPoint() = default;

HRESULT TConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = FIID;
    return S_OK;
}

HRESULT TConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = nullptr;
    return GetController()->QueryInterface(IIDOf<IConnectionPointContainer>(), reinterpret_cast<void**>(container));
}

HRESULT TConnectionPoint::Advise(IUnknown* sink, int* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    void* p = nullptr;
    if (Failed(sink->QueryInterface(FIID, &p)) || !p) return CONNECT_E_CANNOTCONNECT;
    auto events = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(p));
    std::lock_guard g(FLock);
    if (FMaxConnections > 0 && static_cast<int>(FConnections.size()) >= FMaxConnections)
        return CONNECT_E_ADVISELIMIT;  // events is released after the lock
    // Next cookie: positive, never one in use (the counter may wrap after 2^31 advises).
    int next = FLastCookie;
    do {
        next = next == INT_MAX ? 1 : next + 1;
    } while (std::any_of(FConnections.begin(), FConnections.end(),
                         [next](const TConnection& c) { return c.Cookie == next; }));
    FLastCookie = next;
    FConnections.push_back({next, std::move(events)});
    *cookie = next;
    return S_OK;
}

HRESULT TConnectionPoint::Unadvise(int cookie) {
    ComPtr<IUnknown> released;  // released after the lock: the sink may call back
    {
        std::lock_guard g(FLock);
        auto it = std::find_if(FConnections.begin(), FConnections.end(),
                               [cookie](const TConnection& c) { return c.Cookie == cookie; });
        if (cookie == 0 || it == FConnections.end()) return CONNECT_E_NOCONNECTION;
        released = std::move(it->Sink);
        FConnections.erase(it);
    }
    return S_OK;
}

HRESULT TConnectionPoint::EnumConnections(std::vector<TConnectData>& connections) {
    connections.clear();
    std::lock_guard g(FLock);
    for (const auto& c : FConnections) connections.push_back({c.Sink, c.Cookie});
    return S_OK;
}

int TConnectionPoint::GetConnectionCount() const {
    std::lock_guard g(FLock);
    return static_cast<int>(FConnections.size());
}

std::vector<ComPtr<IUnknown>> TConnectionPoint::Snapshot() const {
    std::vector<ComPtr<IUnknown>> r;
    std::lock_guard g(FLock);
    r.reserve(FConnections.size());
    for (const auto& c : FConnections) r.push_back(c.Sink);
    return r;
}

void TConnectionPoint::CheckInterface(const IID& iid) const {
    if (iid != FIID)
        throw EIntfCastError("Connection point for " + GUIDToString(FIID) + " cannot call sinks as " +
                             GUIDToString(iid));
}

TConnectionPoint* TConnectionPoints::CreateConnectionPoint(const IID& iid, int maxConnections) {
    if (GetConnectionPoint(iid))
        throw Rtl::EInvalidOperation("Connection point " + GUIDToString(iid) + " already exists");
    FPoints.push_back(std::make_unique<TConnectionPoint>(FContainer, iid, maxConnections));
    return FPoints.back().get();
}

TConnectionPoint* TConnectionPoints::GetConnectionPoint(const IID& iid) const noexcept {
    for (const auto& p : FPoints)
        if (p->GetIID() == iid) return p.get();
    return nullptr;
}

HRESULT TConnectionPoints::EnumConnectionPoints(std::vector<ComPtr<IConnectionPoint>>& points) {
    points.clear();
    for (const auto& p : FPoints) points.emplace_back(static_cast<IConnectionPoint*>(p.get()));
    return S_OK;
}

HRESULT TConnectionPoints::FindConnectionPoint(const IID& iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    TConnectionPoint* p = GetConnectionPoint(iid);
    if (!p) return CONNECT_E_NOCONNECTION;
    *point = p;
    p->AddRef();
    return S_OK;
}

namespace {

HRESULT FindPoint(IUnknown* source, const IID& iid, ComPtr<IConnectionPoint>& point) {
    if (!source) return E_POINTER;
    auto container = QueryInterface<IConnectionPointContainer>(source);
    if (!container) return E_NOINTERFACE;
    return container->FindConnectionPoint(iid, point.Put());
}

}  // namespace

HRESULT InterfaceConnect(IUnknown* source, const IID& iid, IUnknown* sink, int& connection) {
    connection = 0;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = FindPoint(source, iid, point);
    if (Failed(hr)) return hr;
    return point->Advise(sink, &connection);
}

HRESULT InterfaceDisconnect(IUnknown* source, const IID& iid, int& connection) {
    if (connection == 0) return S_FALSE;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = FindPoint(source, iid, point);
    if (Failed(hr)) return hr;
    hr = point->Unadvise(connection);
    if (Succeeded(hr)) connection = 0;
    return hr;
}

}  // namespace Com
