// The Bluetooth side described for a support request: what adapters the
// stack offers, and, from a running bridge, the link to the launch monitor.
#pragma once

#include <string>

#include "platform/bluetooth/bluetooth.h"

namespace taltrix::links {

// One line per adapter the discovery object lists ("adapter 0: NAME ADDRESS"),
// or the line saying there is none.
std::string adapterReport(bluetooth::Discovery& discovery);

// The adapters of the stack `manager` reaches, without a running bridge.
std::string adapterReport(bluetooth::Manager& manager);

}  // namespace taltrix::links
