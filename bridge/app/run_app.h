// The bridge's front ends: the window with its tray icon, or the headless
// front end (--headless). main() hands over here for everything but
// --convert, --help and --version.
#pragma once

#include <functional>
#include <memory>

#include "bridge/app/app_core.h"
#include "bridge/app/bridge_hooks.h"
#include "bridge/command_line.h"

namespace taltrix::app {

// Builds the links once the core exists; given nothing, the bridge runs
// without links. The hooks live until the front end has shut down.
using LinksFactory = std::function<std::unique_ptr<BridgeHooks>(AppCore& core, const CommandLine& options)>;

// The message a second start shows before it ends.
inline constexpr std::string_view alreadyStartedTitle = "TGC for Taltrix";
inline constexpr std::string_view alreadyStartedText =
    "TGC for Taltrix already started.\r\nThe application resides in system tray.";

// Exit status of a second start.
inline constexpr int exitAlreadyRunning = 1;

int runApplication(const CommandLine& options, int& argc, char** argv, const LinksFactory& makeLinks = {});

}  // namespace taltrix::app
