// IOleObject: how a container sites the control, activates it, sizes it and
// listens to it. The control is windowless and has no document of its own,
// so activation is a state the site is told about, and the verbs are the
// standard activation verbs.
#include <array>

#include "control/com/morvane_about.h"
#include "control/com/morvane_control.h"
#include "platform/com/creation.h"

namespace morvane {
namespace {

// RECOMPOSEONRESIZE, CANTLINKINSIDE, INSIDEOUT, ACTIVATEWHENVISIBLE,
// INVISIBLEATRUNTIME and SETCLIENTSITEFIRST: a control seen only while its
// container is designed.
constexpr DWORD miscStatus = 0x20591;

OLECHAR* taskMemoryText(std::u16string_view text) {
    auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return nullptr;
    text.copy(copy, text.size());
    copy[text.size()] = 0;
    return copy;
}

std::shared_ptr<const std::vector<OLEVERB>> controlVerbs() {
    // Static text: the enumerator hands out copies.
    static std::u16string names[] = {u"&Activate", u"&Show", u"Activate &in place", u"Activate &user interface",
                                     u"&Hide"};
    static const auto verbs = std::make_shared<const std::vector<OLEVERB>>(std::vector<OLEVERB>{
        {OLEIVERB_PRIMARY, names[0].data(), 0, OLEVERBATTRIB_NEVERDIRTIES | OLEVERBATTRIB_ONCONTAINERMENU},
        {OLEIVERB_SHOW, names[1].data(), 0, OLEVERBATTRIB_NEVERDIRTIES},
        {OLEIVERB_INPLACEACTIVATE, names[2].data(), 0, OLEVERBATTRIB_NEVERDIRTIES},
        {OLEIVERB_UIACTIVATE, names[3].data(), 0, OLEVERBATTRIB_NEVERDIRTIES},
        {OLEIVERB_HIDE, names[4].data(), 0, OLEVERBATTRIB_NEVERDIRTIES},
    });
    return verbs;
}

}  // namespace

HRESULT Morvane::SetClientSite(IOleClientSite* site) {
    site_ = com::ComPtr<IOleClientSite>(site);
    // The new site may say otherwise about design mode, which is what decides
    // whether anything is drawn.
    notifyViewChange();
    return S_OK;
}

HRESULT Morvane::GetClientSite(IOleClientSite** site) { return site_.copyTo(site); }

HRESULT Morvane::SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) {
    if (containerApp == nullptr) return E_INVALIDARG;
    return guarded([&] {
        ole_.containerApp = containerApp;
        ole_.containerObject = containerObject ? std::u16string(containerObject) : std::u16string();
        return S_OK;
    });
}

HRESULT Morvane::Close(DWORD saveOption) {
    if (saveOption > OLECLOSE_PROMPTSAVE) return E_INVALIDARG;
    InPlaceDeactivate();
    ole_.advise.sendOnClose();
    // Lets go of the site, which usually holds this control in turn.
    site_.reset();
    return S_OK;
}

// Monikers name linked objects; a control inside a form is never linked to
// (CANTLINKINSIDE), so there is nothing to keep.
HRESULT Morvane::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT Morvane::GetMoniker(DWORD assign, DWORD whichMoniker, IMoniker** moniker) {
    if (moniker == nullptr) return E_POINTER;
    *moniker = nullptr;
    // The site knows the name of the document the control lives in.
    if (!site_) return E_UNEXPECTED;
    return site_->GetMoniker(assign, whichMoniker, moniker);
}

HRESULT Morvane::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT Morvane::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::DoVerb(LONG verb, MSG*, IOleClientSite* activeSite, LONG, HWND, const RECT* position) {
    IOleClientSite* site = activeSite ? activeSite : site_.get();
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE: {
            const HRESULT hr = activateInPlace(site, position, false);
            if (SUCCEEDED(hr) && verb == OLEIVERB_SHOW && site) site->ShowObject();
            return hr;
        }
        case OLEIVERB_UIACTIVATE: return activateInPlace(site, position, true);
        case OLEIVERB_HIDE: return InPlaceDeactivate();
        case OLEIVERB_DISCARDUNDOSTATE: return S_OK;
        default:
            // Opening in a window of its own and property pages are not
            // offered; any other negative verb is unknown.
            if (verb < 0) return E_NOTIMPL;
            // A positive verb the control does not list runs the primary one.
            const HRESULT hr = activateInPlace(site, position, false);
            return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT Morvane::activateInPlace(IOleClientSite* site, const RECT* position, bool userInterface) {
    com::ComPtr<IOleInPlaceSite> inPlace;
    if (site) site->QueryInterface(IID_IOleInPlaceSite, inPlace.putVoid());
    if (!ole_.inPlaceActive) {
        if (inPlace && inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
        if (inPlace) {
            const HRESULT hr = inPlace->OnInPlaceActivate();
            if (FAILED(hr)) return hr;
        }
        ole_.inPlaceActive = true;
    }
    if (position) ole_.position = *position;
    if (userInterface && !ole_.uiActive) {
        ole_.uiActive = true;
        if (inPlace) inPlace->OnUIActivate();
    }
    return S_OK;
}

HRESULT Morvane::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs == nullptr) return E_POINTER;
    *verbs = nullptr;
    return guarded([&] { return com::OleVerbEnumerator::create(controlVerbs(), controllingUnknown(), verbs); });
}

HRESULT Morvane::Update() { return S_OK; }

HRESULT Morvane::IsUpToDate() { return S_OK; }

HRESULT Morvane::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_Morvane;
    return S_OK;
}

HRESULT Morvane::GetUserType(DWORD form, LPOLESTR* userType) {
    if (userType == nullptr) return E_POINTER;
    *userType = nullptr;
    std::u16string_view text;
    switch (form) {
        case USERCLASSTYPE_FULL: text = u"QuillonWS Morvane WebSocket Control"; break;
        case USERCLASSTYPE_SHORT: text = u"Morvane"; break;
        case USERCLASSTYPE_APPNAME: text = u"QuillonWS"; break;
        default: return E_INVALIDARG;
    }
    *userType = taskMemoryText(text);
    return *userType ? S_OK : E_OUTOFMEMORY;
}

HRESULT Morvane::SetExtent(DWORD drawAspect, SIZEL* size) {
    if (drawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size == nullptr) return E_POINTER;
    if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    const bool changed = size->cx != ole_.extent.cx || size->cy != ole_.extent.cy;
    ole_.extent = *size;
    if (changed) notifyViewChange();
    return S_OK;
}

HRESULT Morvane::GetExtent(DWORD drawAspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (drawAspect != DVASPECT_CONTENT) {
        *size = {0, 0};
        return DV_E_DVASPECT;
    }
    *size = ole_.extent;
    return S_OK;
}

HRESULT Morvane::Advise(IAdviseSink* sink, DWORD* connection) {
    if (connection == nullptr) return E_POINTER;
    return guarded([&] { return ole_.advise.advise(sink, connection); });
}

HRESULT Morvane::Unadvise(DWORD connection) { return ole_.advise.unadvise(connection); }

HRESULT Morvane::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr) return E_POINTER;
    *advise = nullptr;
    return guarded([&] { return ole_.advise.enumerate(controllingUnknown(), advise); });
}

HRESULT Morvane::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    // The bits are registered for the content aspect only.
    *status = aspect == DVASPECT_CONTENT ? miscStatus : 0;
    return S_OK;
}

HRESULT Morvane::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace morvane
