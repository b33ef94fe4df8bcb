// Text inside the bridge is 8-bit in the system ANSI code page; only what a
// person reads (the window, standard output) is converted, here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace taltrix::app {

QString toDisplay(std::string_view ansi);
std::string fromDisplay(const QString& text);
// ANSI text as UTF-8, for standard output and standard error.
std::string ansiToUtf8(std::string_view ansi);
// Line breaks as the other platform's controls show them (CR LF) to the
// line ends Qt's text widgets expect.
QString toDisplayLines(std::string_view ansi);

}  // namespace taltrix::app
