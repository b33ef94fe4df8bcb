// How Taltrix finds its WebSocket control.
//
// The control is created through the component registry by its ProgID
// ("QuillonWS.Morvane"), in the per-user hive ($TALTRIX_COM_USER_HIVE,
// default ~/.config/taltrix/com/classes.reg) or the machine-wide one
// ($TALTRIX_COM_MACHINE_HIVE, default /var/lib/taltrix/com/classes.reg).
// A Taltrix from the Debian package finds the control registered for the
// machine by the package. Any other copy carries libmorvane.so with it: in
// the folder of its executable (a portable copy, as a Windows program folder
// carries its controls), or in the private library folder of an installed
// prefix (lib/taltrix beside bin). When the class is not registered at all,
// start-up registers that library for the current user, the way `comreg
// register --user libmorvane.so` does; an existing registration is never
// touched. A build tree keeps the library elsewhere and registers nothing by
// itself: `./run demo` and the tests register it with comreg into
// registries of their own.
#pragma once

#include <string>

namespace taltrix::links {

inline constexpr const char* bundledControlFile = "libmorvane.so";

// The libmorvane.so that goes with the executable in `executableFolder`, or "".
std::string bundledControlLibrary(const std::string& executableFolder);

// Registers that library for the current user when the control's class is
// not registered and the file is there. Returns what was done, for the
// status display, or "" when nothing was.
std::string registerBundledControl(const std::string& executableFolder);

}  // namespace taltrix::links
