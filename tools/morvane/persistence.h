// Saving the control to a file and loading it back, as a container does:
// through IPersistStreamInit into a binary stream file, or through
// IPersistPropertyBag into a text file of one Name=Value line per property.
#pragma once

#include <string>

#include "platform/com/dispatch.h"
#include "tools/morvane/late_bound.h"

namespace morvane::cli {

CallResult saveToStreamFile(IDispatch* control, const std::string& path);
CallResult loadFromStreamFile(IDispatch* control, const std::string& path);
CallResult saveToBagFile(IDispatch* control, const std::string& path);
CallResult loadFromBagFile(IDispatch* control, const std::string& path);

}  // namespace morvane::cli
