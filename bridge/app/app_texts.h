// Texts that identify the program in captions, message boxes and logs.
#pragma once

#include <string_view>

namespace taltrix::app {

// Part of every window caption and of several messages.
inline constexpr std::string_view versionText = "- Version 2.37";
// The version text without its "- ", as message boxes start with it.
inline constexpr std::string_view shortVersionText = "Version 2.37";

// The application title: the default title of message boxes, and the name of
// the single-instance lock.
inline constexpr std::string_view applicationTitle = "TGC for Taltrix";
// Where run-time errors say they come from.
inline constexpr std::string_view projectName = "Taltrix";

}  // namespace taltrix::app
