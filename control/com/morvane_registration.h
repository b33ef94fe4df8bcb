// What DllRegisterServer writes and DllUnregisterServer removes: the three
// ProgIDs and the class key of Morvane, and MORVANELib with its two
// interfaces, in the machine's classes or (when per-user registration is in
// force) in the current user's.
#pragma once

#include <string>

#include "platform/com/server_registration.h"

namespace morvane {

inline constexpr std::string_view classDescription = "QuillonWS Morvane WebSocket Control";

com::ClassRegistration classRegistration(const std::string& modulePath);
com::TypeLibraryRegistration typeLibraryRegistration(const std::string& modulePath);

// The first failing registry HRESULT, else S_OK.
HRESULT registerServer(const std::string& modulePath);
HRESULT unregisterServer();

}  // namespace morvane
