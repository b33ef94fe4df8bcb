// The container side a control sees: its client site, the IOleObject through
// which a container hands that site over, and the ambient properties the
// container answers through the site's IDispatch (the one that matters here is
// UserMode: False while the container's document is being designed).
#pragma once

#include "platform/com/dispatch.h"

inline constexpr IID IID_IOleClientSite = com::makeGuid("{00000118-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleObject = com::makeGuid("{00000112-0000-0000-C000-000000000046}");

// Interfaces and structures the OLE methods below only pass along.
struct IMoniker;
struct IOleContainer;
struct IDataObject;
struct IEnumOLEVERB;
struct IAdviseSink;
struct IEnumSTATDATA;
struct MSG;
struct LOGPALETTE;
using HWND = void*;
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct SIZEL {
    LONG cx;
    LONG cy;
};

struct IOleClientSite : IUnknown {
    static constexpr const IID& uuid = IID_IOleClientSite;
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) = 0;
    virtual HRESULT GetContainer(IOleContainer** container) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(BOOL show) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;

protected:
    ~IOleClientSite() = default;
};

struct IOleObject : IUnknown {
    static constexpr const IID& uuid = IID_IOleObject;
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
    virtual HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) = 0;
    virtual HRESULT Close(DWORD saveOption) = 0;
    virtual HRESULT SetMoniker(DWORD whichMoniker, IMoniker* moniker) = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) = 0;
    virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
    virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
    virtual HRESULT DoVerb(LONG verb, MSG* message, IOleClientSite* activeSite, LONG index, HWND parent,
                           const RECT* position) = 0;
    virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
    virtual HRESULT GetUserType(DWORD form, LPOLESTR* userType) = 0;
    virtual HRESULT SetExtent(DWORD drawAspect, SIZEL* size) = 0;
    virtual HRESULT GetExtent(DWORD drawAspect, SIZEL* size) = 0;
    virtual HRESULT Advise(IAdviseSink* sink, DWORD* connection) = 0;
    virtual HRESULT Unadvise(DWORD connection) = 0;
    virtual HRESULT EnumAdvise(IEnumSTATDATA** advise) = 0;
    virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
    virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

protected:
    ~IOleObject() = default;
};

namespace com {

// Reads ambient property `id` from the container through the site's IDispatch.
HRESULT getAmbientProperty(IOleClientSite* site, DISPID id, VARIANT* value);

// False only when the container says it is in design mode. No site, a site
// without ambient properties, or one that does not know UserMode: run mode.
bool ambientUserMode(IOleClientSite* site);

}  // namespace com
