// The about box: the product and its build in the platform's task-modal
// message box (com::showMessageBox: Qt's where the process has a GUI, else a
// line on standard error). A host may still take it over with a hook of its
// own (the library exports MorvaneSetAboutBoxHook for it).
#pragma once

#include <string_view>

namespace morvane {

inline constexpr std::string_view aboutCaption = "QuillonWS Morvane WebSocket Control";
inline constexpr std::string_view aboutText = "Version 1.0, build 1 - WebSocket client control (MORVANELib 1.0)";

// `caption` and `text` are zero-terminated and live only for the call.
using AboutBoxHook = void (*)(const char* caption, const char* text);

// Null puts the platform's message box back. Process-wide.
void setAboutBoxHook(AboutBoxHook hook);
void showAboutBox();

}  // namespace morvane
