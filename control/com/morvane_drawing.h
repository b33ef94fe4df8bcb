// What the control looks like while its container is designed: a raised
// button face with a black outline and the toolbox picture (a mains plug) near
// its top-left corner. At run time the control draws nothing.
#pragma once

#include <optional>

#include "platform/draw/surface.h"

namespace morvane {

inline constexpr int toolboxBitmapId = 101;
inline constexpr int toolboxBitmapWidth = 16;
inline constexpr int toolboxBitmapHeight = 15;
// Where the picture sits from the top-left corner of the control.
inline constexpr int toolboxBitmapLeft = 6;
inline constexpr int toolboxBitmapTop = 7;

// The control's bitmap resources; nothing for an id it does not have.
std::optional<draw::Surface> loadBitmapResource(int id);

// Draws the design-time picture into `bounds`. Without `bitmap` (it could not
// be loaded) only the frame is drawn. The bitmap's top-left pixel's colour
// is its transparent colour.
void drawDesignTime(draw::Surface& surface, const draw::Rect& bounds, const draw::Surface* bitmap);

}  // namespace morvane
