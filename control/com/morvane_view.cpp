// IViewObjectEx: the control draws itself into the container's surface while
// the container is designed, and is invisible (draws, covers and hits
// nothing) at run time.
#include "control/com/morvane_control.h"
#include "control/com/morvane_drawing.h"

namespace morvane {
namespace {

bool inside(const RECT& area, LONG x, LONG y) {
    return x >= area.left && x < area.right && y >= area.top && y < area.bottom;
}

bool overlaps(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

HRESULT Morvane::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC drawDevice, const RECTL* bounds,
                      const RECTL*, Continue, ULONG_PTR) {
    // The whole picture is opaque: asked for its transparent part alone, there
    // is nothing to draw.
    if (aspect == DVASPECT_TRANSPARENT) return S_OK;
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
    if (index != -1) return DV_E_LINDEX;
    if (drawDevice == nullptr || bounds == nullptr) return E_INVALIDARG;
    if (!designMode()) return S_OK;
    return guarded([&] {
        const std::optional<draw::Surface> bitmap = loadBitmapResource(toolboxBitmapId);
        drawDesignTime(*draw::fromHdc(drawDevice), {bounds->left, bounds->top, bounds->right, bounds->bottom},
                       bitmap ? &*bitmap : nullptr);
        return S_OK;
    });
}

HRESULT Morvane::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors == nullptr) return E_POINTER;
    // The system colours need no palette.
    *colors = nullptr;
    return S_FALSE;
}

HRESULT Morvane::Freeze(DWORD aspect, LONG, void*, DWORD* freeze) {
    if (freeze == nullptr) return E_POINTER;
    *freeze = 0;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    // The picture depends only on the design mode and the extent, so a frozen
    // view needs no copy of its own; the cookie only has to match Unfreeze.
    ole_.viewFrozen = true;
    *freeze = ++ole_.viewFreezes;
    return S_OK;
}

HRESULT Morvane::Unfreeze(DWORD freeze) {
    if (!ole_.viewFrozen || freeze != ole_.viewFreezes) return OLE_E_NOCONNECTION;
    ole_.viewFrozen = false;
    return S_OK;
}

HRESULT Morvane::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) {
    ole_.viewSink = com::ComPtr<IAdviseSink>(sink);
    ole_.viewAspects = aspects;
    ole_.viewAdvf = advf;
    if (sink && (advf & ADVF_PRIMEFIRST)) notifyViewChange();
    return S_OK;
}

HRESULT Morvane::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) {
    if (aspects) *aspects = ole_.viewAspects;
    if (advf) *advf = ole_.viewAdvf;
    if (sink) ole_.viewSink.copyTo(sink);
    return S_OK;
}

void Morvane::notifyViewChange() {
    if (!ole_.viewSink || !(ole_.viewAspects & DVASPECT_CONTENT)) return;
    // Kept alive through the call, which may well change the sink.
    com::ComPtr<IAdviseSink> sink = ole_.viewSink;
    if (ole_.viewAdvf & ADVF_ONLYONCE) {
        ole_.viewSink.reset();
        ole_.viewAspects = 0;
        ole_.viewAdvf = 0;
    }
    sink->OnViewChange(DVASPECT_CONTENT, -1);
}

HRESULT Morvane::GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE*, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (index != -1) return DV_E_LINDEX;
    return GetExtent(aspect, size);
}

HRESULT Morvane::GetRect(DWORD aspect, RECTL* rect) {
    if (rect == nullptr) return E_POINTER;
    *rect = {0, 0, 0, 0};
    const bool opaqueAsked = aspect == DVASPECT_OPAQUE;
    if (aspect != DVASPECT_CONTENT && !opaqueAsked) return DV_E_DVASPECT;
    // At run time there is nothing opaque to cover the container with.
    if (opaqueAsked && !designMode()) return DV_E_DVASPECT;
    *rect = {0, 0, ole_.extent.cx, ole_.extent.cy};
    return S_OK;
}

HRESULT Morvane::GetViewStatus(DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = designMode() ? VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND : 0;
    return S_OK;
}

HRESULT Morvane::QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG, DWORD* hitResult) {
    if (hitResult == nullptr || bounds == nullptr) return E_POINTER;
    *hitResult = HITRESULT_OUTSIDE;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (designMode() && inside(*bounds, location.x, location.y)) *hitResult = HITRESULT_HIT;
    return S_OK;
}

HRESULT Morvane::QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location, LONG, DWORD* hitResult) {
    if (hitResult == nullptr || bounds == nullptr || location == nullptr) return E_POINTER;
    *hitResult = HITRESULT_OUTSIDE;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (designMode() && overlaps(*bounds, *location)) *hitResult = HITRESULT_HIT;
    return S_OK;
}

HRESULT Morvane::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* extentInfo, SIZEL* size) {
    if (extentInfo == nullptr || size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    switch (extentInfo->dwExtentMode) {
        // The picture is as big as the frame around the toolbox bitmap.
        case DVEXTENT_CONTENT: *size = defaultExtent; return S_OK;
        // Any size draws whole: the proposal stands.
        case DVEXTENT_INTEGRAL: *size = extentInfo->sizelProposed; return S_OK;
        default: return E_INVALIDARG;
    }
}

}  // namespace morvane
