// The registry entries of an in-process server, written the way a server's
// DllRegisterServer writes them: into the machine hive, or into the user's
// when per-user registration is on (com::registry::setPerUserRegistration).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"

namespace com {

struct ExtraValue {
    std::string subkey;  // below the class key; "" for the class key itself
    std::string name;    // "" for the default value
    std::string value;
};

struct ClassRegistration {
    CLSID clsid{};
    std::string description;
    std::string progId;                    // versioned, e.g. "Vendor.Widget.1"
    std::string versionIndependentProgId;  // e.g. "Vendor.Widget"
    // Further names for the class; like the version-independent one, each
    // points at the class and names `progId` as its current version.
    std::vector<std::string> otherProgIds;
    std::string threadingModel = "Apartment";
    std::optional<GUID> typeLibrary;
    std::string version;  // e.g. "1.0"
    // Empty subkeys of the class key ("Programmable", "Control", ...).
    std::vector<std::string> flagKeys;
    std::vector<ExtraValue> extraValues;
};

// Writes, under the classes root of the registration scope:
//   CLSID\{clsid} = description, with ProgID, VersionIndependentProgID,
//     InprocServer32 = modulePath (ThreadingModel), TypeLib, Version, the flag
//     keys and extra values (the class key is removed first and rewritten);
//   every ProgID = description, with CLSID and CurVer = progId (the versioned
//     ProgID itself has no CurVer).
// REGDB_E_WRITEREGDB when the hive cannot be written (registry::lastError()
// says why), E_INVALIDARG for a registration without ProgID.
HRESULT registerClass(const ClassRegistration& registration, const std::string& modulePath);
// Removes the class key and the ProgID keys. Absent keys are no error.
HRESULT unregisterClass(const ClassRegistration& registration);

struct TypeLibraryRegistration {
    GUID libid{};
    WORD majorVersion = 1;
    WORD minorVersion = 0;
    LCID lcid = 0;
    std::string name;
    std::string helpDirectory;
    struct Interface {
        IID iid;
        std::string name;
    };
    std::vector<Interface> interfaces;
};

// TypeLib\{libid}\<major.minor> = name, with <lcid>\linux64 = path, FLAGS and
// HELPDIR; and Interface\{iid} = name with ProxyStubClsid32 and TypeLib for
// every interface. Versions are hexadecimal, as on Windows.
HRESULT registerTypeLibrary(const TypeLibraryRegistration& registration, const std::string& path);
HRESULT unregisterTypeLibrary(const TypeLibraryRegistration& registration);

}  // namespace com
