// The History window's two charts, drawn with Qt Charts: ball speed against
// launch angle, and back spin against ball speed, one colour per club.
#pragma once

#include <QColor>
#include <string>
#include <vector>

#include "bridge/history/shot_entry.h"

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace taltrix::history {

// The colour of the club at `index` in the order the window lists clubs.
QColor clubColour(std::size_t index);

// `clubs` gives the series and their order; a shot of a club not in it is
// left out.
QChart* launchChart(const std::vector<ShotEntry>& entries, const std::vector<std::string>& clubs);
QChart* spinChart(const std::vector<ShotEntry>& entries, const std::vector<std::string>& clubs);

}  // namespace taltrix::history
