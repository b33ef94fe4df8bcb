// `taltrix --convert`: the shot pipeline as a filter, from launch-monitor
// text on standard input to simulator messages on standard output.
#pragma once

#include "bridge/command_line.h"

namespace taltrix {

int runConvert(const CommandLine& options);

}  // namespace taltrix
