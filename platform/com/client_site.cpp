#include "platform/com/client_site.h"

namespace com {

HRESULT getAmbientProperty(IOleClientSite* site, DISPID id, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    if (site == nullptr) return E_INVALIDARG;
    ComPtr<IDispatch> ambient;
    const HRESULT hr = site->QueryInterface(IID_IDispatch, ambient.putVoid());
    if (FAILED(hr) || !ambient) return FAILED(hr) ? hr : E_NOINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

bool ambientUserMode(IOleClientSite* site) {
    if (site == nullptr) return true;
    Variant value;
    if (FAILED(getAmbientProperty(site, DISPID_AMBIENT_USERMODE, &value))) return true;
    if (FAILED(value.changeType(VT_BOOL))) return true;
    return value.boolVal != VARIANT_FALSE;
}

}  // namespace com
