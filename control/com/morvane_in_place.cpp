// In-place activation without a window of its own, keyboard handling and
// quick activation. The control has no user interface to activate, no
// accelerators and no mnemonics; these entries keep the state a container
// expects to find and answer as a windowless control answers.
#include "control/com/morvane_control.h"

namespace morvane {

HRESULT Morvane::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = nullptr;
    return E_FAIL;
}

HRESULT Morvane::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT Morvane::InPlaceDeactivate() {
    if (!ole_.inPlaceActive) return S_OK;
    UIDeactivate();
    ole_.inPlaceActive = false;
    if (auto inPlace = site_.as<IOleInPlaceSite>()) inPlace->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT Morvane::UIDeactivate() {
    if (!ole_.uiActive) return S_OK;
    ole_.uiActive = false;
    if (auto inPlace = site_.as<IOleInPlaceSite>()) inPlace->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT Morvane::SetObjectRects(const RECT* position, const RECT* clip) {
    if (position == nullptr) return E_POINTER;
    ole_.position = *position;
    ole_.clip = clip ? *clip : *position;
    return S_OK;
}

HRESULT Morvane::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

HRESULT Morvane::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    // Not handled: the container does what it would do without the control.
    return S_FALSE;
}

HRESULT Morvane::GetDropTarget(IDropTarget** target) {
    if (target == nullptr) return E_POINTER;
    *target = nullptr;
    return E_NOTIMPL;
}

HRESULT Morvane::TranslateAccelerator(MSG*) { return S_FALSE; }

HRESULT Morvane::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT Morvane::OnDocWindowActivate(BOOL) { return S_OK; }

HRESULT Morvane::ResizeBorder(const RECT*, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

HRESULT Morvane::EnableModeless(BOOL) { return S_OK; }

HRESULT Morvane::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT Morvane::OnMnemonic(MSG*) {
    // Never called: GetControlInfo lists no mnemonics.
    return S_OK;
}

HRESULT Morvane::OnAmbientPropertyChange(DISPID id) {
    // UserMode is read from the site when needed; what changes is the
    // picture, which the container must redraw.
    if (id == DISPID_AMBIENT_USERMODE || id == DISPID_UNKNOWN) notifyViewChange();
    return S_OK;
}

HRESULT Morvane::FreezeEvents(BOOL freeze) {
    if (freeze) {
        ++ole_.eventFreezes;
    } else if (ole_.eventFreezes > 0) {
        --ole_.eventFreezes;
    }
    // Freezes nest: events flow again when the last one is thawed.
    events_->setFrozen(ole_.eventFreezes > 0);
    return S_OK;
}

HRESULT Morvane::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (container == nullptr || control == nullptr) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    SetClientSite(container->pClientSite);
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwEventCookie = 0;
    if (container->pUnkEventSink) {
        // A sink that does not implement the events is the container's
        // problem; quick activation goes on without it, as it would have
        // through the connection point.
        if (FAILED(connectionPoint(DIID__IMorvaneEvents)->Advise(container->pUnkEventSink, &control->dwEventCookie))) {
            control->dwEventCookie = 0;
        }
    }
    // No property-change notifications are sourced.
    control->dwPropNotifyCookie = 0;
    control->dwMiscStatus = 0;
    GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
    GetViewStatus(&control->dwViewStatus);
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

HRESULT Morvane::SetContentExtent(SIZEL* size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT Morvane::GetContentExtent(SIZEL* size) { return GetExtent(DVASPECT_CONTENT, size); }

}  // namespace morvane
