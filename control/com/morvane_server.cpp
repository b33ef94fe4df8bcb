// libmorvane.so: the in-process server of the Morvane class. It exports the
// four standard entry points, plus MorvaneSetAboutBoxHook (where AboutBox
// shows itself) and MorvaneTypeLibrary (MORVANELib as data, for hosts and
// tools that list members and enumeration values).
#include <new>

#include "control/com/morvane_about.h"
#include "control/com/morvane_control.h"
#include "control/com/morvane_registration.h"
#include "control/com/morvane_type_library.h"
#include "platform/com/server.h"

namespace {

HRESULT createMorvane(IUnknown* outer, REFIID iid, void** object) {
    try {
        return com::createObject<morvane::Morvane>(outer, iid, object);
    } catch (const std::bad_alloc&) {
        if (object) *object = nullptr;
        return E_OUTOFMEMORY;
    }
}

const com::ClassEntry classes[] = {{CLSID_Morvane, &createMorvane}};

// Nothing may be thrown across the exported entry points.
template <class Body>
HRESULT withoutExceptions(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return withoutExceptions([&] { return com::getClassObject(classes, clsid, iid, object); });
}

COM_EXPORT HRESULT DllCanUnloadNow() { return com::ServerModule::instance().canUnloadNow(); }

COM_EXPORT HRESULT DllRegisterServer() {
    return withoutExceptions([] { return morvane::registerServer(com::ServerModule::instance().path()); });
}

COM_EXPORT HRESULT DllUnregisterServer() {
    return withoutExceptions([] { return morvane::unregisterServer(); });
}

COM_EXPORT void MorvaneSetAboutBoxHook(morvane::AboutBoxHook hook) { morvane::setAboutBoxHook(hook); }

COM_EXPORT const com::TypeLibraryDescription* MorvaneTypeLibrary() { return &morvane::morvaneTypeLibrary(); }
