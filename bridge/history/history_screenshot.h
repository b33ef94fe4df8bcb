// The History window for `./run screenshot`: made-up shots in a history of
// its own, drawn to a PNG file without a display.
#pragma once

#include <QString>

namespace taltrix::history {

bool renderHistoryWindow(const QString& file);

}  // namespace taltrix::history
