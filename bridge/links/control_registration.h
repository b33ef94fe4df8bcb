// How Taltrix finds its WebSocket control.
//
// The control is created through the component registry by its ProgID
// ("QuillonWS.Morvane"), in the per-user hive ($TALTRIX_COM_USER_HIVE,
// default ~/.config/taltrix/com/classes.reg) or the machine-wide one
// ($TALTRIX_COM_MACHINE_HIVE, default /var/lib/taltrix/com/classes.reg).
// An installed Taltrix carries libmorvane.so in the folder of its executable,
// as a Windows program folder carries its controls. When the class is not
// registered at all, start-up registers that library for the current user,
// the way `comreg register --user libmorvane.so` does; an existing
// registration is never touched. A build tree keeps the library elsewhere
// and registers nothing by itself: `./run demo` and the tests register it
// with comreg into registries of their own.
#pragma once

#include <string>

namespace taltrix::links {

inline constexpr const char* bundledControlFile = "libmorvane.so";

// Registers `folder`/libmorvane.so for the current user when the control's
// class is not registered and the file is there. Returns what was done, for
// the status display, or "" when nothing was.
std::string registerBundledControl(const std::string& folder);

}  // namespace taltrix::links
