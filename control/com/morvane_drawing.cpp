#include "control/com/morvane_drawing.h"

#include <string_view>

namespace morvane {
namespace {

// The toolbox picture, one character per pixel. The background colour of
// the corner is the one a blit leaves out.
constexpr std::string_view plugRows[toolboxBitmapHeight] = {
    "................",  //
    ".....p....p.....",  // the two pins
    ".....p....p.....",  //
    ".....p....p.....",  //
    "...##########...",  // the body
    "...#oooooooo#...",  //
    "...#oooooooo#...",  //
    "...#oooooooo#...",  //
    "....#oooooo#....",  //
    ".....#oooo#.....",  //
    "......#oo#......",  //
    ".......##.......",  //
    ".......cc.......",  // the cable
    "........cc......",  //
    ".........ccc....",  //
};

draw::Argb plugColour(char code) {
    switch (code) {
        case 'p': return draw::opaque(0x808080);
        case '#': return draw::opaque(0x000000);
        case 'o': return draw::opaque(0x008080);
        case 'c': return draw::opaque(0x000080);
        default: return draw::opaque(0xFF00FF);
    }
}

}  // namespace

std::optional<draw::Surface> loadBitmapResource(int id) {
    if (id != toolboxBitmapId) return std::nullopt;
    draw::Surface bitmap(toolboxBitmapWidth, toolboxBitmapHeight);
    for (int y = 0; y < toolboxBitmapHeight; ++y) {
        for (int x = 0; x < toolboxBitmapWidth; ++x) bitmap.setPixel(x, y, plugColour(plugRows[y][x]));
    }
    return bitmap;
}

void drawDesignTime(draw::Surface& surface, const draw::Rect& bounds, const draw::Surface* bitmap) {
    surface.raisedEdge(bounds);
    surface.outline(bounds, draw::black);
    if (bitmap == nullptr || bitmap->width() == 0 || bitmap->height() == 0) return;
    surface.blitTransparent(*bitmap, bounds.left + toolboxBitmapLeft, bounds.top + toolboxBitmapTop,
                            bitmap->pixel(0, 0));
}

}  // namespace morvane
