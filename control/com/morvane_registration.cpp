#include "control/com/morvane_registration.h"

#include <filesystem>

#include "control/com/interface_description.h"
#include "control/include/morvane.h"
#include "platform/com/registry.h"

namespace morvane {
namespace {

// The toolbox bitmap is resource 101 of the module.
constexpr std::string_view toolboxBitmapSuffix = ", 101";
// The OLEMISC bits of GetMiscStatus, as registry text.
constexpr std::string_view miscStatusText = "132497";

}  // namespace

com::ClassRegistration classRegistration(const std::string& modulePath) {
    com::ClassRegistration r;
    r.clsid = CLSID_Morvane;
    r.description = std::string(classDescription);
    r.progId = kProgId;
    r.versionIndependentProgId = kVersionIndependentProgId;
    r.otherProgIds = {kLegacyProgId};
    r.threadingModel = "Apartment";
    r.typeLibrary = LIBID_MORVANELib;
    r.version = "1.0";
    r.flagKeys = {"Programmable", "Control", "Insertable"};
    r.extraValues = {
        {"ToolboxBitmap32", "", modulePath + std::string(toolboxBitmapSuffix)},
        {"MiscStatus", "", "0"},
        {"MiscStatus\\1", "", std::string(miscStatusText)},
    };
    return r;
}

com::TypeLibraryRegistration typeLibraryRegistration(const std::string& modulePath) {
    com::TypeLibraryRegistration r;
    r.libid = LIBID_MORVANELib;
    r.majorVersion = typeLibraryMajorVersion;
    r.minorVersion = typeLibraryMinorVersion;
    r.lcid = typeLibraryLocale;
    r.name = std::string(typeLibraryName);
    r.helpDirectory = std::filesystem::path(modulePath).parent_path().string();
    r.interfaces = {{IID_IMorvane, std::string(dispatchInterfaceName)},
                    {DIID__IMorvaneEvents, std::string(eventInterfaceName)}};
    return r;
}

HRESULT registerServer(const std::string& modulePath) {
    HRESULT hr = com::registerClass(classRegistration(modulePath), modulePath);
    if (FAILED(hr)) return hr;
    // The versioned ProgID names itself as the current version too, so every
    // one of the three ProgID keys carries the same three values.
    bool written = false;
    hr = com::registry::updateHive(com::registry::registrationScope(), [&](com::registry::Hive& hive) {
        written = hive.setString(std::string(kProgId) + "\\CurVer", "", kProgId);
        return written;
    });
    if (FAILED(hr)) return hr;
    if (!written) return SELFREG_E_CLASS;
    return com::registerTypeLibrary(typeLibraryRegistration(modulePath), modulePath);
}

HRESULT unregisterServer() {
    const HRESULT hr = com::unregisterTypeLibrary(typeLibraryRegistration({}));
    if (FAILED(hr)) return hr;
    return com::unregisterClass(classRegistration({}));
}

}  // namespace morvane
