// IProvideClassInfo2: a host asks the control for its class's type info to
// find the event interface it should advise on, without reading the
// registry.
#include "control/com/morvane_control.h"
#include "control/com/morvane_type_library.h"

namespace morvane {

HRESULT Morvane::loadTypeLibrary(ITypeLib** library) { return loadMorvaneTypeLibrary(library); }

HRESULT Morvane::GetClassInfo(ITypeInfo** typeInfo) {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    com::ComPtr<ITypeLib> library;
    const HRESULT hr = loadMorvaneTypeLibrary(library.put());
    if (FAILED(hr)) return hr;
    return library->GetTypeInfoOfGuid(CLSID_Morvane, typeInfo);
}

HRESULT Morvane::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) return E_POINTER;
    *guid = GUID{};
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID__IMorvaneEvents;
    return S_OK;
}

}  // namespace morvane
