// What a diagnostics bundle tells of the machine: the versions of Taltrix
// and of what it runs on, and how the WebSocket control is registered.
#pragma once

#include <string>

namespace taltrix::support {

// Taltrix, Qt (built with and running), OpenSSL, SQLite, libzip, the
// operating system and the ANSI code page, one "name: value" line each.
std::string versionsReport();

// The registry hives, the control's ProgIDs with their class, library and
// whether the library is there, and its type library.
std::string controlRegistrationReport();

}  // namespace taltrix::support
