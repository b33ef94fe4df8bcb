#include "platform/com/connection_point.h"

#include <algorithm>
#include <array>

#include "platform/com/object.h"

namespace com {

namespace {

class ConnectionEnumerator final : public Object<IEnumConnections> {
public:
    explicit ConnectionEnumerator(std::vector<std::pair<DWORD, ComPtr<IUnknown>>> items) : items_(std::move(items)) {}

    HRESULT Next(ULONG count, CONNECTDATA* out, ULONG* fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG n = 0;
        for (; n < count && position_ < items_.size(); ++n, ++position_) {
            items_[position_].second.copyTo(&out[n].pUnk);
            out[n].dwCookie = items_[position_].first;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const std::size_t left = items_.size() - position_;
        position_ += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumConnections** copy) override {
        auto* clone = new (std::nothrow) ConnectionEnumerator(items_);
        if (clone == nullptr) return E_OUTOFMEMORY;
        clone->position_ = position_;
        return clone->innerUnknown()->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(copy));
    }

private:
    IUnknown* findInterface(REFIID iid) override {
        return iid == IID_IEnumConnections ? static_cast<IEnumConnections*>(this) : nullptr;
    }
    std::vector<std::pair<DWORD, ComPtr<IUnknown>>> items_;
    std::size_t position_ = 0;
};

class PointEnumerator final : public Object<IEnumConnectionPoints> {
public:
    // Keeps the container alive while enumerating its points.
    PointEnumerator(IConnectionPointContainer* owner, std::vector<IConnectionPoint*> points)
        : owner_(owner), points_(std::move(points)) {}

    HRESULT Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG n = 0;
        for (; n < count && position_ < points_.size(); ++n, ++position_) {
            out[n] = points_[position_];
            out[n]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const std::size_t left = points_.size() - position_;
        position_ += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumConnectionPoints** copy) override {
        auto* clone = new (std::nothrow) PointEnumerator(owner_.get(), points_);
        if (clone == nullptr) return E_OUTOFMEMORY;
        clone->position_ = position_;
        return clone->innerUnknown()->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(copy));
    }

private:
    IUnknown* findInterface(REFIID iid) override {
        return iid == IID_IEnumConnectionPoints ? static_cast<IEnumConnectionPoints*>(this) : nullptr;
    }
    ComPtr<IConnectionPointContainer> owner_;
    std::vector<IConnectionPoint*> points_;
    std::size_t position_ = 0;
};

template <class Interface, class Enumerator>
HRESULT handOut(Enumerator* created, Interface** out) {
    if (created == nullptr) return E_OUTOFMEMORY;
    return created->innerUnknown()->QueryInterface(Interface::uuid, reinterpret_cast<void**>(out));
}

}  // namespace

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    *container = &container_;
    container_.AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie) *cookie = 0;
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(iid_, events.putVoid())) || !events) return CONNECT_E_CANNOTCONNECT;
    if (nextCookie_ == 0) return CONNECT_E_ADVISELIMIT;  // all cookies used up
    auto fresh = std::make_unique<SinkList>();
    fresh->reserve(cookies_.size() + 1);
    if (callList_) *fresh = *callList_;
    fresh->push_back(std::move(events));
    cookies_.push_back(nextCookie_);
    *cookie = nextCookie_++;
    replaceCallList(std::move(fresh));
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    const auto it = std::find(cookies_.begin(), cookies_.end(), cookie);
    if (it == cookies_.end()) return CONNECT_E_NOCONNECTION;
    const auto index = static_cast<std::size_t>(it - cookies_.begin());
    std::unique_ptr<SinkList> fresh;
    if (cookies_.size() > 1) {
        fresh = std::make_unique<SinkList>(*callList_);
        fresh->erase(fresh->begin() + static_cast<std::ptrdiff_t>(index));
    }
    cookies_.erase(it);
    replaceCallList(std::move(fresh));
    return S_OK;
}

void ConnectionPoint::replaceCallList(std::unique_ptr<const SinkList> fresh) {
    std::unique_ptr<const SinkList> old = std::exchange(callList_, std::move(fresh));
    // An event may be on its way through the old list.
    if (firing_ > 0 && old) retired_.push_back(std::move(old));
    // Otherwise a sink's last reference may go with it here, once our state
    // is whole: its Release may call back into us.
}

void ConnectionPoint::dropRetired() const {
    const auto dropped = std::move(retired_);
    retired_.clear();
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    *connections = nullptr;
    std::vector<std::pair<DWORD, ComPtr<IUnknown>>> items;
    for (std::size_t i = 0; i < cookies_.size(); ++i) {
        items.emplace_back(cookies_[i], ComPtr<IUnknown>((*callList_)[i].get()));
    }
    return handOut(new (std::nothrow) ConnectionEnumerator(std::move(items)), connections);
}

void ConnectionPointContainerImpl::addConnectionPoint(const IID& events) {
    points_.push_back(std::make_unique<ConnectionPoint>(*this, events));
}

ConnectionPoint* ConnectionPointContainerImpl::connectionPoint(REFIID events) const {
    for (const auto& point : points_) {
        if (point->eventInterface() == events) return point.get();
    }
    return nullptr;
}

HRESULT ConnectionPointContainerImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = connectionPoint(riid);
    if (*point == nullptr) return CONNECT_E_NOCONNECTION;
    (*point)->AddRef();
    return S_OK;
}

HRESULT ConnectionPointContainerImpl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    *points = nullptr;
    std::vector<IConnectionPoint*> list;
    for (const auto& point : points_) list.push_back(point.get());
    return handOut(new (std::nothrow) PointEnumerator(this, std::move(list)), points);
}

std::size_t fireEvent(const ConnectionPoint& point, DISPID id, std::span<VARIANT> args) {
    const ConnectionPoint::SinkList* sinks = point.callList_.get();
    if (sinks == nullptr) return 0;
    // Events can come a million a second: the usual few arguments are kept
    // on the stack, more go to the heap.
    constexpr std::size_t inlineCount = 8;
    std::array<VARIANTARG, inlineCount> fewReferences;
    std::vector<VARIANTARG> manyReferences;
    std::span<VARIANTARG> references(fewReferences.data(), args.size());
    if (args.size() > inlineCount) {
        manyReferences.resize(args.size());
        references = manyReferences;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        VARIANTARG& ref = references[args.size() - 1 - i];
        ref.wReserved1 = ref.wReserved2 = ref.wReserved3 = 0;
        ref.brecord = {};
        ref.vt = static_cast<VARTYPE>(VT_BYREF | args[i].vt);
        ref.byref = &args[i].llVal;  // every value member starts here
    }
    struct Firing {
        const ConnectionPoint& point;
        explicit Firing(const ConnectionPoint& p) : point(p) { ++point.firing_; }
        ~Firing() { point.endFiring(); }
        Firing(const Firing&) = delete;
        Firing& operator=(const Firing&) = delete;
    } firing(point);
    for (const auto& sink : *sinks) {
        DISPPARAMS params{references.data(), nullptr, static_cast<UINT>(references.size()), 0};
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    return sinks->size();
}

}  // namespace com
