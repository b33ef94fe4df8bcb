#include "control/websocket/redirect_policy.h"

#include <strings.h>

#include "control/websocket/url.h"

namespace morvane::websocket {

bool redirectVerdict(FollowRedirects policy, std::string_view currentScheme, std::string_view location) {
    if (policy == frAlways) return true;
    if (policy != frSameScheme) return false;
    std::string_view target = schemeOf(location);
    if (target.empty()) return true;  // relative: stays on the current scheme
    return target.size() == currentScheme.size() &&
           ::strncasecmp(target.data(), currentScheme.data(), target.size()) == 0;
}

}  // namespace morvane::websocket
