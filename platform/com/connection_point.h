// Connection points: how a component's events reach the sinks its hosts
// connect, and the generic implementation a component inherits.
//
//   class Widget final : public com::Object<DispatchImpl<IWidget>,
//                                           com::ConnectionPointContainerImpl> {
//     Widget() { addConnectionPoint(DIID_WidgetEvents); }
//     ...
//     com::fireEvent(*connectionPoint(DIID_WidgetEvents), 1, args);
//
// Sinks are kept in connection order; each Advise gets a new cookie (never 0).
#pragma once

#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "platform/com/dispatch.h"

inline constexpr IID IID_IConnectionPointContainer = com::makeGuid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnectionPoints = com::makeGuid("{B196B285-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IConnectionPoint = com::makeGuid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IEnumConnections = com::makeGuid("{B196B287-BAB4-101A-B69C-00AA00341D07}");

struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    static constexpr const IID& uuid = IID_IEnumConnections;
    virtual HRESULT Next(ULONG count, CONNECTDATA* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** copy) = 0;

protected:
    ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
    static constexpr const IID& uuid = IID_IConnectionPoint;
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
    static constexpr const IID& uuid = IID_IEnumConnectionPoints;
    virtual HRESULT Next(ULONG count, IConnectionPoint** items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;

protected:
    ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
    static constexpr const IID& uuid = IID_IConnectionPointContainer;
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

namespace com {

// One event interface's connections. Part of its container: it lives as long
// as the container and counts its references there.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer& container, const IID& events) : container_(container), iid_(events) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;
    ~ConnectionPoint() = default;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return container_.AddRef(); }
    ULONG Release() override { return container_.Release(); }
    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    // The sink must answer QueryInterface for the event interface (a dispatch
    // interface), else CONNECT_E_CANNOTCONNECT.
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(IEnumConnections** connections) override;

    const IID& eventInterface() const { return iid_; }
    bool empty() const { return cookies_.empty(); }
    std::size_t sinkCount() const { return cookies_.size(); }

private:
    friend std::size_t fireEvent(const ConnectionPoint& point, DISPID id, std::span<VARIANT> args);

    // The sinks, in connection order, each held by the point's one reference.
    // A list never changes: Advise and Unadvise make a new one. While an
    // event is being fired the list it is fired from is kept, with its
    // references, until the outermost firing ends; so an event reaches
    // exactly the sinks connected when it began, and firing one costs no
    // reference counting at all.
    using SinkList = std::vector<ComPtr<IDispatch>>;
    void replaceCallList(std::unique_ptr<const SinkList> fresh);
    void endFiring() const {
        if (--firing_ == 0 && !retired_.empty()) dropRetired();
    }
    void dropRetired() const;

    IConnectionPointContainer& container_;
    IID iid_;
    DWORD nextCookie_ = 1;
    // The cookie of each sink in the current list, in the same order.
    std::vector<DWORD> cookies_;
    std::unique_ptr<const SinkList> callList_;
    mutable int firing_ = 0;
    mutable std::vector<std::unique_ptr<const SinkList>> retired_;
};

class ConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // Null for an event interface this object does not source.
    ConnectionPoint* connectionPoint(REFIID events) const;

protected:
    ConnectionPointContainerImpl() = default;
    ~ConnectionPointContainerImpl() = default;
    // One per event interface the object sources, in the constructor.
    void addConnectionPoint(const IID& events);

private:
    std::vector<std::unique_ptr<ConnectionPoint>> points_;
};

// Fires event `id` at every sink of `point`, in connection order, through
// IDispatch::Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD) with
// each of `args` (declaration order, owned by the caller) passed by reference
// and in reverse order, as automation passes them. Afterwards `args` hold what
// the sinks left in them: read back [in, out] values, then clear them. A sink
// that fails or disconnects meanwhile does not stop the others. Returns the
// number of sinks called. The caller keeps the point's object alive while
// it fires.
std::size_t fireEvent(const ConnectionPoint& point, DISPID id, std::span<VARIANT> args);
inline std::size_t fireEvent(const ConnectionPoint& point, DISPID id, std::span<Variant> args) {
    return fireEvent(point, id, std::span<VARIANT>(static_cast<VARIANT*>(args.data()), args.size()));
}

}  // namespace com
