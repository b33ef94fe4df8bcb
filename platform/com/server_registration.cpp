#include "platform/com/server_registration.h"

#include <cstdio>

#include "platform/com/registry.h"

namespace com {

namespace {

// Interfaces described by a type library are marshalled by the automation
// marshaller; the entry is kept for the tools that read it.
constexpr const char* kAutomationProxyStub = "{00020424-0000-0000-C000-000000000046}";

std::string hexNumber(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string versionKey(const TypeLibraryRegistration& r) {
    return hexNumber(r.majorVersion) + "." + hexNumber(r.minorVersion);
}

std::vector<std::string> allProgIds(const ClassRegistration& r) {
    std::vector<std::string> names{r.progId};
    if (!r.versionIndependentProgId.empty()) names.push_back(r.versionIndependentProgId);
    names.insert(names.end(), r.otherProgIds.begin(), r.otherProgIds.end());
    return names;
}

}  // namespace

HRESULT registerClass(const ClassRegistration& r, const std::string& modulePath) {
    if (r.progId.empty()) return E_INVALIDARG;
    const std::string clsid = formatGuid(r.clsid);
    const std::string key = "CLSID\\" + clsid;
    bool valid = true;
    const HRESULT hr = registry::updateHive(registry::registrationScope(), [&](registry::Hive& hive) {
        bool ok = true;
        hive.deleteTree(key);
        ok &= hive.setString(key, "", r.description);
        ok &= hive.setString(key + "\\ProgID", "", r.progId);
        if (!r.versionIndependentProgId.empty()) {
            ok &= hive.setString(key + "\\VersionIndependentProgID", "", r.versionIndependentProgId);
        }
        ok &= hive.setString(key + "\\InprocServer32", "", modulePath);
        ok &= hive.setString(key + "\\InprocServer32", "ThreadingModel", r.threadingModel);
        if (r.typeLibrary) ok &= hive.setString(key + "\\TypeLib", "", formatGuid(*r.typeLibrary));
        if (!r.version.empty()) ok &= hive.setString(key + "\\Version", "", r.version);
        for (const auto& flag : r.flagKeys) ok &= hive.createKey(key + "\\" + flag);
        for (const auto& extra : r.extraValues) {
            ok &= hive.setString(extra.subkey.empty() ? key : key + "\\" + extra.subkey, extra.name, extra.value);
        }
        for (const auto& name : allProgIds(r)) {
            ok &= hive.setString(name, "", r.description);
            ok &= hive.setString(name + "\\CLSID", "", clsid);
            if (name != r.progId) ok &= hive.setString(name + "\\CurVer", "", r.progId);
        }
        valid = ok;
        return ok;
    });
    if (FAILED(hr)) return hr;
    return valid ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterClass(const ClassRegistration& r) {
    const std::string key = "CLSID\\" + formatGuid(r.clsid);
    return registry::updateHive(registry::registrationScope(), [&](registry::Hive& hive) {
        bool changed = hive.deleteTree(key);
        for (const auto& name : allProgIds(r)) {
            // Only ProgIDs that still name this class: another server may own them now.
            const auto owner = hive.queryString(name + "\\CLSID");
            if (owner && parseGuid(std::string_view(*owner)) == r.clsid) changed |= hive.deleteTree(name);
        }
        return changed;
    });
}

HRESULT registerTypeLibrary(const TypeLibraryRegistration& r, const std::string& path) {
    const std::string libid = formatGuid(r.libid);
    const std::string key = "TypeLib\\" + libid + "\\" + versionKey(r);
    bool valid = true;
    const HRESULT hr = registry::updateHive(registry::registrationScope(), [&](registry::Hive& hive) {
        bool ok = hive.setString(key, "", r.name);
        ok &= hive.setString(key + "\\" + hexNumber(r.lcid) + "\\linux64", "", path);
        ok &= hive.setString(key + "\\FLAGS", "", "0");
        ok &= hive.setString(key + "\\HELPDIR", "", r.helpDirectory);
        for (const auto& itf : r.interfaces) {
            const std::string ikey = "Interface\\" + formatGuid(itf.iid);
            ok &= hive.setString(ikey, "", itf.name);
            ok &= hive.setString(ikey + "\\ProxyStubClsid32", "", kAutomationProxyStub);
            ok &= hive.setString(ikey + "\\TypeLib", "", libid);
            ok &= hive.setString(ikey + "\\TypeLib", "Version", versionKey(r));
        }
        valid = ok;
        return ok;
    });
    if (FAILED(hr)) return hr;
    return valid ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT unregisterTypeLibrary(const TypeLibraryRegistration& r) {
    const std::string libid = formatGuid(r.libid);
    return registry::updateHive(registry::registrationScope(), [&](registry::Hive& hive) {
        bool changed = hive.deleteTree("TypeLib\\" + libid + "\\" + versionKey(r));
        if (hive.keyExists("TypeLib\\" + libid) && hive.enumKeys("TypeLib\\" + libid).empty()) {
            changed |= hive.deleteTree("TypeLib\\" + libid);
        }
        for (const auto& itf : r.interfaces) changed |= hive.deleteTree("Interface\\" + formatGuid(itf.iid));
        return changed;
    });
}

}  // namespace com
