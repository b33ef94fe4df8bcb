// Morvane, the WebSocket client control: the dual interface IMorvane over the
// engine, the connection point of _IMorvaneEvents, error information, and the
// site through which the container says whether it is being designed.
//
// Every property goes through one get and one put path that applies the
// rules of the property table in their order (design mode, access, range,
// index, conversion through the code page, engine, error); the typed vtable
// entries and IDispatch::Invoke both use them.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "control/com/errors.h"
#include "control/com/morvane_engine_hook.h"
#include "control/com/morvane_events.h"
#include "control/com/morvane_ole_state.h"
#include "control/com/morvane_persistence.h"
#include "control/engine/engine_errors.h"
#include "control/engine/morvane_engine.h"
#include "control/include/morvane.h"
#include "platform/com/bstr_text.h"
#include "platform/com/client_site.h"
#include "platform/com/connection_point.h"
#include "platform/com/error_info.h"
#include "platform/com/invoke.h"
#include "platform/com/server.h"

namespace morvane {

class Morvane final
    : public com::Object<com::DispatchImpl<IMorvane>, com::ConnectionPointContainerImpl, ISupportErrorInfo, IOleObject,
                         IMorvaneEngineHook, IViewObjectEx, IOleInPlaceObjectWindowless, IOleInPlaceActiveObject,
                         IOleControl, IQuickActivate, IProvideClassInfo2> {
public:
    Morvane();
    ~Morvane() override;

    // Properties (morvane_property_entries.cpp).
    HRESULT get_AcceptData(VARIANT_BOOL* value) override;
    HRESULT put_AcceptData(VARIANT_BOOL value) override;
    HRESULT get_Authorization(BSTR* value) override;
    HRESULT put_Authorization(BSTR value) override;
    HRESULT get_AuthScheme(AuthSchemes* value) override;
    HRESULT put_AuthScheme(AuthSchemes value) override;
    HRESULT get_BytesSent(LONG* value) override;
    HRESULT put_BytesSent(LONG value) override;
    HRESULT get_Connected(VARIANT_BOOL* value) override;
    HRESULT put_Connected(VARIANT_BOOL value) override;
    HRESULT get_CookieCount(SHORT* value) override;
    HRESULT put_CookieCount(SHORT value) override;
    HRESULT get_CookieDomain(SHORT cookieIndex, BSTR* value) override;
    HRESULT put_CookieDomain(SHORT cookieIndex, BSTR value) override;
    HRESULT get_CookieExpiration(SHORT cookieIndex, BSTR* value) override;
    HRESULT put_CookieExpiration(SHORT cookieIndex, BSTR value) override;
    HRESULT get_CookieName(SHORT cookieIndex, BSTR* value) override;
    HRESULT put_CookieName(SHORT cookieIndex, BSTR value) override;
    HRESULT get_CookiePath(SHORT cookieIndex, BSTR* value) override;
    HRESULT put_CookiePath(SHORT cookieIndex, BSTR value) override;
    HRESULT get_CookieSecure(SHORT cookieIndex, VARIANT_BOOL* value) override;
    HRESULT put_CookieSecure(SHORT cookieIndex, VARIANT_BOOL value) override;
    HRESULT get_CookieValue(SHORT cookieIndex, BSTR* value) override;
    HRESULT put_CookieValue(SHORT cookieIndex, BSTR value) override;
    HRESULT get_DataFormat(DataFormats* value) override;
    HRESULT put_DataFormat(DataFormats value) override;
    HRESULT get_DataToSend(BSTR* value) override;
    HRESULT put_DataToSend(BSTR value) override;
    HRESULT get_FirewallAutoDetect(VARIANT_BOOL* value) override;
    HRESULT put_FirewallAutoDetect(VARIANT_BOOL value) override;
    HRESULT get_FirewallType(FirewallTypes* value) override;
    HRESULT put_FirewallType(FirewallTypes value) override;
    HRESULT get_FirewallHost(BSTR* value) override;
    HRESULT put_FirewallHost(BSTR value) override;
    HRESULT get_FirewallPassword(BSTR* value) override;
    HRESULT put_FirewallPassword(BSTR value) override;
    HRESULT get_FirewallPort(LONG* value) override;
    HRESULT put_FirewallPort(LONG value) override;
    HRESULT get_FirewallUser(BSTR* value) override;
    HRESULT put_FirewallUser(BSTR value) override;
    HRESULT get_FollowRedirects(TFollowRedirects* value) override;
    HRESULT put_FollowRedirects(TFollowRedirects value) override;
    HRESULT get_LocalHost(BSTR* value) override;
    HRESULT put_LocalHost(BSTR value) override;
    HRESULT get_Origin(BSTR* value) override;
    HRESULT put_Origin(BSTR value) override;
    HRESULT get_OtherHeaders(BSTR* value) override;
    HRESULT put_OtherHeaders(BSTR value) override;
    HRESULT get_ParsedHeaderCount(SHORT* value) override;
    HRESULT put_ParsedHeaderCount(SHORT value) override;
    HRESULT get_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR* value) override;
    HRESULT put_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR value) override;
    HRESULT get_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR* value) override;
    HRESULT put_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR value) override;
    HRESULT get_Password(BSTR* value) override;
    HRESULT put_Password(BSTR value) override;
    HRESULT get_ProxyAuthScheme(AuthSchemes* value) override;
    HRESULT put_ProxyAuthScheme(AuthSchemes value) override;
    HRESULT get_ProxyAutoDetect(VARIANT_BOOL* value) override;
    HRESULT put_ProxyAutoDetect(VARIANT_BOOL value) override;
    HRESULT get_ProxyPassword(BSTR* value) override;
    HRESULT put_ProxyPassword(BSTR value) override;
    HRESULT get_ProxyPort(LONG* value) override;
    HRESULT put_ProxyPort(LONG value) override;
    HRESULT get_ProxyServer(BSTR* value) override;
    HRESULT put_ProxyServer(BSTR value) override;
    HRESULT get_ProxySSL(ProxySSLTypes* value) override;
    HRESULT put_ProxySSL(ProxySSLTypes value) override;
    HRESULT get_ProxyUser(BSTR* value) override;
    HRESULT put_ProxyUser(BSTR value) override;
    HRESULT get_SSLAcceptServerCertEncoded(BSTR* value) override;
    HRESULT put_SSLAcceptServerCertEncoded(BSTR value) override;
    HRESULT get_SSLCertEncoded(BSTR* value) override;
    HRESULT put_SSLCertEncoded(BSTR value) override;
    HRESULT get_SSLCertStore(BSTR* value) override;
    HRESULT put_SSLCertStore(BSTR value) override;
    HRESULT get_SSLCertStorePassword(BSTR* value) override;
    HRESULT put_SSLCertStorePassword(BSTR value) override;
    HRESULT get_SSLCertStoreType(CertStoreTypes* value) override;
    HRESULT put_SSLCertStoreType(CertStoreTypes value) override;
    HRESULT get_SSLCertSubject(BSTR* value) override;
    HRESULT put_SSLCertSubject(BSTR value) override;
    HRESULT get_SSLServerCertEncoded(BSTR* value) override;
    HRESULT put_SSLServerCertEncoded(BSTR value) override;
    HRESULT get_SubProtocols(BSTR* value) override;
    HRESULT put_SubProtocols(BSTR value) override;
    HRESULT get_Timeout(SHORT* value) override;
    HRESULT put_Timeout(SHORT value) override;
    HRESULT get_TransferredHeaders(BSTR* value) override;
    HRESULT put_TransferredHeaders(BSTR value) override;
    HRESULT get_User(BSTR* value) override;
    HRESULT put_User(BSTR value) override;
    HRESULT get_DataToSendB(VARIANT* value) override;
    HRESULT put_DataToSendB(VARIANT value) override;
    HRESULT get_SSLAcceptServerCertEncodedB(VARIANT* value) override;
    HRESULT put_SSLAcceptServerCertEncodedB(VARIANT value) override;
    HRESULT get_SSLCertEncodedB(VARIANT* value) override;
    HRESULT put_SSLCertEncodedB(VARIANT value) override;
    HRESULT get_SSLCertStoreB(VARIANT* value) override;
    HRESULT put_SSLCertStoreB(VARIANT value) override;
    HRESULT get_SSLServerCertEncodedB(VARIANT* value) override;
    HRESULT put_SSLServerCertEncodedB(VARIANT value) override;
    HRESULT get_DataInTextB(VARIANT* value) override;
    HRESULT put_DataInTextB(VARIANT value) override;
    HRESULT get_SSLServerAuthenticationCertEncodedB(VARIANT* value) override;
    HRESULT put_SSLServerAuthenticationCertEncodedB(VARIANT value) override;

    // Methods (morvane_methods.cpp).
    HRESULT AboutBox() override;
    HRESULT AddCookie(BSTR cookieName, BSTR cookieValue) override;
    HRESULT Config(BSTR configurationString, BSTR* result) override;
    HRESULT Connect(BSTR url) override;
    HRESULT Disconnect() override;
    HRESULT DoEvents() override;
    HRESULT Interrupt() override;
    HRESULT ResetHeaders() override;
    HRESULT Send(BSTR data) override;
    HRESULT SendFile(BSTR fileName) override;
    HRESULT SendText(BSTR text) override;
    HRESULT OnStartPage(IUnknown* piUnk) override;
    HRESULT OnEndPage() override;

    // ISupportErrorInfo.
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    // IOleObject (morvane_ole_object.cpp): siting, verbs, extents and the
    // container's advise sinks.
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
    HRESULT Close(DWORD saveOption) override;
    HRESULT SetMoniker(DWORD whichMoniker, IMoniker* moniker) override;
    HRESULT GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) override;
    HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT DoVerb(LONG verb, MSG* message, IOleClientSite* activeSite, LONG index, HWND parent,
                   const RECT* position) override;
    HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT Update() override;
    HRESULT IsUpToDate() override;
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(DWORD form, LPOLESTR* userType) override;
    HRESULT SetExtent(DWORD drawAspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD drawAspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT Unadvise(DWORD connection) override;
    HRESULT EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT SetColorScheme(LOGPALETTE* palette) override;

    // IViewObjectEx, IViewObject2, IViewObject (morvane_view.cpp).
    HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice, HDC drawDevice,
                 const RECTL* bounds, const RECTL* windowBounds, Continue proceed, ULONG_PTR proceedArgument) override;
    HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                        LOGPALETTE** colors) override;
    HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    HRESULT Unfreeze(DWORD freeze) override;
    HRESULT SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override;
    HRESULT GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override;
    HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, SIZEL* size) override;
    HRESULT GetRect(DWORD aspect, RECTL* rect) override;
    HRESULT GetViewStatus(DWORD* status) override;
    HRESULT QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG closeHint, DWORD* hitResult) override;
    HRESULT QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG closeHint,
                         DWORD* hitResult) override;
    HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                             DVEXTENTINFO* extentInfo, SIZEL* size) override;

    // IOleInPlaceObjectWindowless, IOleInPlaceObject, IOleWindow,
    // IOleInPlaceActiveObject, IOleControl, IQuickActivate (morvane_in_place.cpp).
    HRESULT GetWindow(HWND* window) override;
    HRESULT ContextSensitiveHelp(BOOL enterMode) override;
    HRESULT InPlaceDeactivate() override;
    HRESULT UIDeactivate() override;
    HRESULT SetObjectRects(const RECT* position, const RECT* clip) override;
    HRESULT ReactivateAndUndo() override;
    HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    HRESULT GetDropTarget(IDropTarget** target) override;
    HRESULT TranslateAccelerator(MSG* message) override;
    HRESULT OnFrameWindowActivate(BOOL activate) override;
    HRESULT OnDocWindowActivate(BOOL activate) override;
    HRESULT ResizeBorder(const RECT* border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
    HRESULT EnableModeless(BOOL enable) override;
    HRESULT GetControlInfo(CONTROLINFO* info) override;
    HRESULT OnMnemonic(MSG* message) override;
    HRESULT OnAmbientPropertyChange(DISPID id) override;
    HRESULT FreezeEvents(BOOL freeze) override;
    HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT SetContentExtent(SIZEL* size) override;
    HRESULT GetContentExtent(SIZEL* size) override;

    // IMorvaneEngineHook.
    EngineEvents& engineEvents() override { return *events_; }

    // IProvideClassInfo2 (morvane_class_info.cpp).
    HRESULT GetClassInfo(ITypeInfo** typeInfo) override;
    HRESULT GetGUID(DWORD kind, GUID* guid) override;

private:
    friend class MorvanePersistence;

    IUnknown* findInterface(REFIID iid) override;
    const com::InterfaceDescription& dispatchType() const override;
    HRESULT invokeMember(const com::MemberDescription& member, com::InvokeArguments& args) override;
    HRESULT loadTypeLibrary(ITypeLib** library) override;

    // The two paths every property takes (morvane_properties.cpp). `index`
    // is given for indexed properties; `value` of a put has the declared
    // automation type (any VARIANT for a byte array).
    HRESULT getProperty(DISPID dispid, std::optional<SHORT> index, VARIANT* out);
    HRESULT putProperty(DISPID dispid, std::optional<SHORT> index, const VARIANT& value);
    // The puts of DataToSend and DataToSendB, past the checks every put makes.
    HRESULT sendPayload(DISPID dispid, const VARIANT& value, DWORD help);

    // Typed ends of the two paths, for the vtable entries.
    HRESULT getBoolean(DISPID dispid, std::optional<SHORT> index, VARIANT_BOOL* value);
    HRESULT getInteger(DISPID dispid, SHORT* value);
    HRESULT getLong(DISPID dispid, LONG* value);
    template <class Enum>
    HRESULT getEnumeration(DISPID dispid, Enum* value);
    HRESULT getString(DISPID dispid, std::optional<SHORT> index, BSTR* value);
    HRESULT getBytes(DISPID dispid, VARIANT* value);
    HRESULT putBoolean(DISPID dispid, std::optional<SHORT> index, VARIANT_BOOL value);
    HRESULT putInteger(DISPID dispid, SHORT value);
    HRESULT putLong(DISPID dispid, LONG value);
    HRESULT putString(DISPID dispid, std::optional<SHORT> index, BSTR value);
    HRESULT putBytes(DISPID dispid, const VARIANT& value);

    // The method calls, as Invoke and the vtable share them.
    HRESULT callMethod(DISPID dispid, BSTR first = nullptr, BSTR second = nullptr);

    // Errors through the thread's error information (morvane_control.cpp).
    HRESULT raise(const AccessorError& error, DWORD helpContext);
    HRESULT raiseEngineCode(int code, DWORD helpContext);
    HRESULT raiseOutOfMemory();
    // Runs a member, turning an allocation failure into the control's
    // "Out of memory." instead of an exception crossing the interface.
    template <class Body>
    HRESULT guarded(Body&& body);

    // Design mode: the container's ambient UserMode is False.
    bool designMode() const;

    // Text between the caller's BSTRs and the engine's code page.
    std::string engineText(BSTR text, com::BstrExtent extent) const;
    BSTR callerText(std::string_view text) const;

    com::ModuleReference module_;
    MorvaneEngine engine_;
    std::optional<MorvaneEvents> events_;
    com::ComPtr<IOleClientSite> site_;
    MorvanePersistence persistence_{*this};

    // The embedding (morvane_ole_object.cpp, morvane_view.cpp, morvane_in_place.cpp).
    HRESULT activateInPlace(IOleClientSite* site, const RECT* position, bool userInterface);
    // Tells the view's sink that the picture changed.
    void notifyViewChange();
    OleState ole_;
};

}  // namespace morvane

namespace morvane {

template <class Body>
HRESULT Morvane::guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return raiseOutOfMemory();
    }
}

template <class Enum>
HRESULT Morvane::getEnumeration(DISPID dispid, Enum* value) {
    LONG number = 0;
    const HRESULT hr = getLong(dispid, value ? &number : nullptr);
    if (hr == S_OK && value) *value = static_cast<Enum>(number);
    return hr;
}

}  // namespace morvane
