// The OLE control interfaces between a container and an embedded control:
// in-place activation (windowless), drawing, advise sinks, verbs, quick
// activation and keyboard handling. Declared with the binary layout of the
// real interfaces; a device context is one of our drawing surfaces (see
// platform/draw/surface.h), passed as an opaque HDC.
#pragma once

#include "platform/com/client_site.h"

inline constexpr IID IID_IOleWindow = com::makeGuid("{00000114-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceObject = com::makeGuid("{00000113-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceActiveObject = com::makeGuid("{00000117-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceUIWindow = com::makeGuid("{00000115-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceFrame = com::makeGuid("{00000116-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceSite = com::makeGuid("{00000119-0000-0000-C000-000000000046}");
inline constexpr IID IID_IOleInPlaceObjectWindowless = com::makeGuid("{1C2056CC-5EF4-101B-8BC8-00AA003E3B29}");
inline constexpr IID IID_IViewObject = com::makeGuid("{0000010D-0000-0000-C000-000000000046}");
inline constexpr IID IID_IViewObject2 = com::makeGuid("{00000127-0000-0000-C000-000000000046}");
inline constexpr IID IID_IViewObjectEx = com::makeGuid("{3AF24292-0C96-11CE-A0CF-00AA00600AB8}");
inline constexpr IID IID_IOleControl = com::makeGuid("{B196B288-BAB4-101A-B69C-00AA00341D07}");
inline constexpr IID IID_IQuickActivate = com::makeGuid("{CF51ED10-62FE-11CF-BF86-00A0C9034836}");
inline constexpr IID IID_IAdviseSink = com::makeGuid("{0000010F-0000-0000-C000-000000000046}");
inline constexpr IID IID_IEnumOLEVERB = com::makeGuid("{00000104-0000-0000-C000-000000000046}");
inline constexpr IID IID_IEnumSTATDATA = com::makeGuid("{00000105-0000-0000-C000-000000000046}");

inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = hr32(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = hr32(0x80040004);
inline constexpr HRESULT OLE_S_USEREG = 0x00040000;
inline constexpr HRESULT DV_E_LINDEX = hr32(0x80040068);
inline constexpr HRESULT DV_E_DVASPECT = hr32(0x8004006B);
inline constexpr HRESULT OLEOBJ_E_NOVERBS = hr32(0x80040180);
inline constexpr HRESULT OLEOBJ_E_INVALIDVERB = hr32(0x80040181);
inline constexpr HRESULT OLEOBJ_S_INVALIDVERB = 0x00040180;
inline constexpr HRESULT INPLACE_E_NOTUNDOABLE = hr32(0x800401A0);
inline constexpr HRESULT VIEW_E_DRAW = hr32(0x80040140);

// Aspects, advise flags, verbs and the other constants of the contract.
inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;
inline constexpr DWORD DVASPECT_OPAQUE = 16;
inline constexpr DWORD DVASPECT_TRANSPARENT = 32;
inline constexpr DWORD ADVF_PRIMEFIRST = 2;
inline constexpr DWORD ADVF_ONLYONCE = 4;
inline constexpr LONG OLEIVERB_PRIMARY = 0;
inline constexpr LONG OLEIVERB_SHOW = -1;
inline constexpr LONG OLEIVERB_OPEN = -2;
inline constexpr LONG OLEIVERB_HIDE = -3;
inline constexpr LONG OLEIVERB_UIACTIVATE = -4;
inline constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;
inline constexpr LONG OLEIVERB_DISCARDUNDOSTATE = -6;
inline constexpr LONG OLEIVERB_PROPERTIES = -7;
inline constexpr DWORD OLEVERBATTRIB_NEVERDIRTIES = 1;
inline constexpr DWORD OLEVERBATTRIB_ONCONTAINERMENU = 2;
inline constexpr DWORD USERCLASSTYPE_FULL = 1;
inline constexpr DWORD USERCLASSTYPE_SHORT = 2;
inline constexpr DWORD USERCLASSTYPE_APPNAME = 3;
inline constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0;
inline constexpr DWORD OLECLOSE_NOSAVE = 1;
inline constexpr DWORD OLECLOSE_PROMPTSAVE = 2;
inline constexpr DWORD VIEWSTATUS_OPAQUE = 1;
inline constexpr DWORD VIEWSTATUS_SOLIDBKGND = 2;
inline constexpr DWORD HITRESULT_OUTSIDE = 0;
inline constexpr DWORD HITRESULT_HIT = 3;
inline constexpr DWORD DVEXTENT_CONTENT = 0;
inline constexpr DWORD DVEXTENT_INTEGRAL = 1;
inline constexpr DWORD QACONTAINER_USERMODE = 4;

struct HDC__;
using HDC = HDC__*;
using HMENU = void*;
using HOLEMENU = void*;
using HACCEL = void*;
using HPALETTE = void*;
using HRGN = void*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using CLIPFORMAT = WORD;
using OLE_COLOR = DWORD;
using RECTL = RECT;
using SIZE = SIZEL;
struct POINT {
    LONG x;
    LONG y;
};
using BORDERWIDTHS = RECT;
struct DVTARGETDEVICE;
struct STGMEDIUM;
struct LOGPALETTE;
struct IDropTarget;
struct IPropertyNotifySink;
struct IFont;
struct IOleUndoManager;
struct IBindHost;
struct IOleControlSite;
struct IServiceProvider;
struct OLEMENUGROUPWIDTHS;
struct IOleInPlaceUIWindow;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

struct OLEVERB {
    LONG lVerb;
    LPOLESTR lpszVerbName;
    DWORD fuFlags;
    DWORD grfAttribs;
};

struct STATDATA {
    FORMATETC formatetc;
    DWORD advf;
    IAdviseSink* pAdvSink;
    DWORD dwConnection;
};

struct OLEINPLACEFRAMEINFO {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
};

struct CONTROLINFO {
    ULONG cb;
    HACCEL hAccel;
    USHORT cAccel;
    DWORD dwFlags;
};

struct DVEXTENTINFO {
    ULONG cb;
    DWORD dwExtentMode;
    SIZEL sizelProposed;
};

struct QACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSink* pAdviseSink;
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags;
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IFont* pFont;
    IOleUndoManager* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    HPALETTE hpal;
    IBindHost* pBindHost;
    IOleControlSite* pOleControlSite;
    IServiceProvider* pServiceProvider;
};

struct QACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;
    DWORD dwPropNotifyCookie;
    DWORD dwPointerActivationPolicy;
};

struct IAdviseSink : IUnknown {
    static constexpr const IID& uuid = IID_IAdviseSink;
    virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual void OnViewChange(DWORD aspect, LONG index) = 0;
    virtual void OnRename(IMoniker* moniker) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;

protected:
    ~IAdviseSink() = default;
};

struct IEnumOLEVERB : IUnknown {
    static constexpr const IID& uuid = IID_IEnumOLEVERB;
    using Item = OLEVERB;
    virtual HRESULT Next(ULONG count, OLEVERB* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumOLEVERB** copy) = 0;

protected:
    ~IEnumOLEVERB() = default;
};

struct IEnumSTATDATA : IUnknown {
    static constexpr const IID& uuid = IID_IEnumSTATDATA;
    using Item = STATDATA;
    virtual HRESULT Next(ULONG count, STATDATA* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATDATA** copy) = 0;

protected:
    ~IEnumSTATDATA() = default;
};

struct IOleWindow : IUnknown {
    static constexpr const IID& uuid = IID_IOleWindow;
    virtual HRESULT GetWindow(HWND* window) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL enterMode) = 0;

protected:
    ~IOleWindow() = default;
};

struct IOleInPlaceObject : IOleWindow {
    static constexpr const IID& uuid = IID_IOleInPlaceObject;
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(const RECT* position, const RECT* clip) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;

protected:
    ~IOleInPlaceObject() = default;
};

struct IOleInPlaceObjectWindowless : IOleInPlaceObject {
    static constexpr const IID& uuid = IID_IOleInPlaceObjectWindowless;
    virtual HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
    virtual HRESULT GetDropTarget(IDropTarget** target) = 0;

protected:
    ~IOleInPlaceObjectWindowless() = default;
};

struct IOleInPlaceActiveObject : IOleWindow {
    static constexpr const IID& uuid = IID_IOleInPlaceActiveObject;
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
    virtual HRESULT ResizeBorder(const RECT* border, IOleInPlaceUIWindow* window, BOOL frameWindow) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;

protected:
    ~IOleInPlaceActiveObject() = default;
};

struct IOleInPlaceUIWindow : IOleWindow {
    static constexpr const IID& uuid = IID_IOleInPlaceUIWindow;
    virtual HRESULT GetBorder(RECT* border) = 0;
    virtual HRESULT RequestBorderSpace(const BORDERWIDTHS* widths) = 0;
    virtual HRESULT SetBorderSpace(const BORDERWIDTHS* widths) = 0;
    virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) = 0;

protected:
    ~IOleInPlaceUIWindow() = default;
};

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
    static constexpr const IID& uuid = IID_IOleInPlaceFrame;
    virtual HRESULT InsertMenus(HMENU shared, OLEMENUGROUPWIDTHS* widths) = 0;
    virtual HRESULT SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) = 0;
    virtual HRESULT RemoveMenus(HMENU shared) = 0;
    virtual HRESULT SetStatusText(LPCOLESTR text) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message, WORD id) = 0;

protected:
    ~IOleInPlaceFrame() = default;
};

struct IOleInPlaceSite : IOleWindow {
    static constexpr const IID& uuid = IID_IOleInPlaceSite;
    virtual HRESULT CanInPlaceActivate() = 0;
    virtual HRESULT OnInPlaceActivate() = 0;
    virtual HRESULT OnUIActivate() = 0;
    virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                     RECT* clip, OLEINPLACEFRAMEINFO* frameInfo) = 0;
    virtual HRESULT Scroll(SIZE extent) = 0;
    virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
    virtual HRESULT OnInPlaceDeactivate() = 0;
    virtual HRESULT DiscardUndoState() = 0;
    virtual HRESULT DeactivateAndUndo() = 0;
    virtual HRESULT OnPosRectChange(const RECT* position) = 0;

protected:
    ~IOleInPlaceSite() = default;
};

struct IViewObject : IUnknown {
    static constexpr const IID& uuid = IID_IViewObject;
    using Continue = BOOL (*)(ULONG_PTR);
    virtual HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                         HDC drawDevice, const RECTL* bounds, const RECTL* windowBounds, Continue proceed,
                         ULONG_PTR proceedArgument) = 0;
    virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                                LOGPALETTE** colors) = 0;
    virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) = 0;
    virtual HRESULT Unfreeze(DWORD freeze) = 0;
    virtual HRESULT SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) = 0;
    virtual HRESULT GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) = 0;

protected:
    ~IViewObject() = default;
};

struct IViewObject2 : IViewObject {
    static constexpr const IID& uuid = IID_IViewObject2;
    virtual HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, SIZEL* size) = 0;

protected:
    ~IViewObject2() = default;
};

struct IViewObjectEx : IViewObject2 {
    static constexpr const IID& uuid = IID_IViewObjectEx;
    virtual HRESULT GetRect(DWORD aspect, RECTL* rect) = 0;
    virtual HRESULT GetViewStatus(DWORD* status) = 0;
    virtual HRESULT QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG closeHint,
                                  DWORD* hitResult) = 0;
    virtual HRESULT QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG closeHint,
                                 DWORD* hitResult) = 0;
    virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                                     DVEXTENTINFO* extentInfo, SIZEL* size) = 0;

protected:
    ~IViewObjectEx() = default;
};

struct IOleControl : IUnknown {
    static constexpr const IID& uuid = IID_IOleControl;
    virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
    virtual HRESULT OnMnemonic(MSG* message) = 0;
    virtual HRESULT OnAmbientPropertyChange(DISPID id) = 0;
    virtual HRESULT FreezeEvents(BOOL freeze) = 0;

protected:
    ~IOleControl() = default;
};

struct IQuickActivate : IUnknown {
    static constexpr const IID& uuid = IID_IQuickActivate;
    virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
    virtual HRESULT SetContentExtent(SIZEL* size) = 0;
    virtual HRESULT GetContentExtent(SIZEL* size) = 0;

protected:
    ~IQuickActivate() = default;
};

namespace com {

// Extents cross these interfaces in HIMETRIC (0.01 mm); screens are taken
// to have 96 pixels per inch.
inline constexpr LONG himetricFromPixels(LONG pixels) { return (pixels * 2540 + 48) / 96; }
inline constexpr LONG pixelsFromHimetric(LONG himetric) { return (himetric * 96 + 1270) / 2540; }

}  // namespace com

namespace com {

// Disables the container's modeless dialogs for its lifetime, for a control
// that shows a modal box of its own: through the in-place frame the site
// names (IOleInPlaceSite::GetWindowContext). A site without one is left alone.
class ModelessDialogsDisabled {
public:
    explicit ModelessDialogsDisabled(IOleClientSite* site);
    ModelessDialogsDisabled(const ModelessDialogsDisabled&) = delete;
    ModelessDialogsDisabled& operator=(const ModelessDialogsDisabled&) = delete;
    ~ModelessDialogsDisabled();

private:
    ComPtr<IOleInPlaceFrame> frame_;
};

}  // namespace com
