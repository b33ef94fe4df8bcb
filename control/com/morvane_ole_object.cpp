// IOleObject, as far as a container needs it to site the control: the client
// site (through which the ambient UserMode is read), the class and the
// miscellaneous status bits. Verbs, extents, monikers and advise sinks belong
// with the control's in-place activation and drawing, which it does not do
// yet; those entries answer E_NOTIMPL.
#include "control/com/morvane_control.h"

namespace morvane {
namespace {

// RECOMPOSEONRESIZE, CANTLINKINSIDE, INSIDEOUT, ACTIVATEWHENVISIBLE,
// INVISIBLEATRUNTIME and SETCLIENTSITEFIRST: a control seen only while its
// container is designed.
constexpr DWORD miscStatus = 0x20591;

}  // namespace

HRESULT Morvane::SetClientSite(IOleClientSite* site) {
    site_ = com::ComPtr<IOleClientSite>(site);
    return S_OK;
}

HRESULT Morvane::GetClientSite(IOleClientSite** site) { return site_.copyTo(site); }

HRESULT Morvane::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT Morvane::Close(DWORD) {
    // Lets go of the site, which usually holds this control in turn.
    site_.reset();
    return S_OK;
}

HRESULT Morvane::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT Morvane::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT Morvane::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::DoVerb(LONG, MSG*, IOleClientSite*, LONG, HWND, const RECT*) { return E_NOTIMPL; }

HRESULT Morvane::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs) *verbs = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::Update() { return S_OK; }

HRESULT Morvane::IsUpToDate() { return S_OK; }

HRESULT Morvane::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_Morvane;
    return S_OK;
}

HRESULT Morvane::GetUserType(DWORD, LPOLESTR* userType) {
    if (userType) *userType = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::SetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }

HRESULT Morvane::GetExtent(DWORD, SIZEL*) { return E_NOTIMPL; }

HRESULT Morvane::Advise(IAdviseSink*, DWORD* connection) {
    if (connection) *connection = 0;
    return E_NOTIMPL;
}

HRESULT Morvane::Unadvise(DWORD) { return E_NOTIMPL; }

HRESULT Morvane::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise) *advise = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = miscStatus;
    return S_OK;
}

HRESULT Morvane::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace morvane
