// What the tool says when the control cannot be created: which part of the
// installation is missing, and the command that supplies it.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace morvane::cli {

// The description for a failed creation of the control by `progId`.
std::string creationProblem(HRESULT hr, const std::string& progId);

// Where the control's library probably is: beside this program, or where the
// build put it; a placeholder when neither holds it.
std::string likelyLibraryPath();

}  // namespace morvane::cli
