// The settings of the platform's authentication tokens (NTLM, Negotiate),
// shared by the HTTP layer's server authentication and the proxy's.
#pragma once

#include <span>
#include <string>

#include "control/engine/setting.h"

namespace morvane {

struct EngineEnvironment;

struct AuthSettings {
    explicit AuthSettings(const EngineEnvironment& environment);

    static std::span<const Setting<AuthSettings>> settings();

    bool useSystemSspi = true;
    // Channel bindings on secure connections; on by default where the
    // system has them.
    bool extendedProtection;
    std::string kerberosSpn;
};

}  // namespace morvane
