#include "platform/com/client_site.h"

#include <gtest/gtest.h>

namespace com {
namespace {

// A container's site; `ambient` < 0 means it has no ambient properties at all.
class Site final : public IOleClientSite, public com::UntypedDispatch {
 public:
  int ambient = 1;         // UserMode as an integer, or -1 for no IDispatch
  bool knowsUserMode = true;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      *object = static_cast<IOleClientSite*>(this);
      return S_OK;
    }
    if (riid == IID_IDispatch && ambient >= 0) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT SaveObject() override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
  HRESULT ShowObject() override { return S_OK; }
  HRESULT OnShowWindow(BOOL) override { return S_OK; }
  HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (member != DISPID_AMBIENT_USERMODE || !knowsUserMode || !(flags & DISPATCH_PROPERTYGET)) {
      return DISP_E_MEMBERNOTFOUND;
    }
    result->vt = VT_BOOL;
    result->boolVal = ambient ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

TEST(AmbientUserMode, DesignModeOnlyWhenTheContainerSaysSo) {
  Site site;
  EXPECT_TRUE(ambientUserMode(&site));
  site.ambient = 0;
  EXPECT_FALSE(ambientUserMode(&site));
  site.knowsUserMode = false;
  EXPECT_TRUE(ambientUserMode(&site));
  site.ambient = -1;
  EXPECT_TRUE(ambientUserMode(&site));
  EXPECT_TRUE(ambientUserMode(nullptr));
  Variant value;
  EXPECT_EQ(getAmbientProperty(&site, DISPID_AMBIENT_USERMODE, &value), E_NOINTERFACE);
}

}  // namespace
}  // namespace com
