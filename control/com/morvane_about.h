// The about box. There is no task-modal message box to show here, so the
// caption and the build go to a hook the host may install (the library
// exports MorvaneSetAboutBoxHook for it); without one they are written to
// standard error as one line.
#pragma once

#include <string_view>

namespace morvane {

inline constexpr std::string_view aboutCaption = "QuillonWS Morvane WebSocket Control";
inline constexpr std::string_view aboutText = "Version 1.0, build 1 - WebSocket client control (MORVANELib 1.0)";

// `caption` and `text` are zero-terminated and live only for the call.
using AboutBoxHook = void (*)(const char* caption, const char* text);

// Null puts the standard-error line back. Process-wide.
void setAboutBoxHook(AboutBoxHook hook);
void showAboutBox();

}  // namespace morvane
