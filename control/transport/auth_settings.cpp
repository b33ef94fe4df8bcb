#include "control/transport/auth_settings.h"

#include "control/engine/engine_context.h"

namespace morvane {
namespace {

bool hasExtendedProtection(const EngineEnvironment& environment) {
    return environment.systemMajorVersion > 6 ||
           (environment.systemMajorVersion == 6 && environment.systemMinorVersion >= 1);
}

}  // namespace

AuthSettings::AuthSettings(const EngineEnvironment& environment)
    : extendedProtection(hasExtendedProtection(environment)) {}

std::span<const Setting<AuthSettings>> AuthSettings::settings() {
    using A = AuthSettings;
    static const Setting<A> table[] = {
        {.name = "ExtendedProtection", .boolean = &A::extendedProtection},
        {.name = "KerberosSPN", .text = &A::kerberosSpn},
        {.name = "UseSystemSSPI", .boolean = &A::useSystemSspi},
    };
    return table;
}

}  // namespace morvane
