// The platform's message box. A process with a GUI installs the service that
// shows one (the Qt application does at start-up); without it the message is
// written to standard error as one line. Process-wide, because the runtime is
// one shared library for the host and every component it loads.
#pragma once

#include <string>

namespace com {

// `caption` and `text` are UTF-8 and live only for the call. The box is
// task-modal: the call returns when the user has closed it.
using MessageBoxService = void (*)(const std::string& caption, const std::string& text);

// Null puts the standard-error line back. Returns the service it replaces.
MessageBoxService setMessageBoxService(MessageBoxService service);
void showMessageBox(const std::string& caption, const std::string& text);

}  // namespace com
