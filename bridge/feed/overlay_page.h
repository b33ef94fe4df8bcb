// The page /overlay serves: the last shot, large, over a transparent
// background, for a streaming program's browser source. Everything it needs
// is in the page; it follows /api/live and reconnects by itself.
#pragma once

#include <string>

namespace taltrix::feed {

// metric: speeds in km/h rather than mph.
std::string overlayPage(bool metric);

}  // namespace taltrix::feed
