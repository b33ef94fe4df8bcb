#include "tools/morvane/draw_command.h"

#include <cerrno>
#include <cstring>

#include "platform/com/ole_control.h"
#include "platform/draw/surface.h"

namespace morvane::cli {
namespace {

// A site whose container is being designed: ambient UserMode False. It lives
// on the stack for the one drawing.
class DesignSite final : public IOleClientSite, public com::UntypedDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (member != DISPID_AMBIENT_USERMODE || !(flags & DISPATCH_PROPERTYGET) || result == nullptr) {
            return DISP_E_MEMBERNOTFOUND;
        }
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_FALSE;
        return S_OK;
    }
};

}  // namespace

HRESULT drawToPng(IDispatch* control, const std::string& path, int width, int height, std::string& problem) {
    com::ComPtr<IDispatch> holder(control);
    auto ole = holder.as<IOleObject>();
    auto view = holder.as<IViewObject>();
    if (!ole || !view) {
        problem = "the control has no IOleObject or IViewObject";
        return E_NOINTERFACE;
    }
    DesignSite site;
    HRESULT hr = ole->SetClientSite(&site);
    if (SUCCEEDED(hr)) {
        SIZEL extent{com::himetricFromPixels(width), com::himetricFromPixels(height)};
        hr = ole->SetExtent(DVASPECT_CONTENT, &extent);
    }
    draw::Surface surface(width, height);
    if (SUCCEEDED(hr)) {
        const RECTL bounds{0, 0, width, height};
        hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, draw::asHdc(surface), &bounds, nullptr,
                        nullptr, 0);
    }
    ole->SetClientSite(nullptr);
    if (FAILED(hr)) {
        problem = "IViewObject::Draw failed";
        return hr;
    }
    if (!draw::writePng(surface, path)) {
        problem = "cannot write " + path + ": " + std::strerror(errno);
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace morvane::cli
