// An in-memory drawing surface: 32-bit ARGB pixels (0xAARRGGBB), row by row
// from the top. It stands in for a device context: a container hands one to
// a control's IViewObject::Draw as an HDC (asHdc/fromHdc), and the tools write
// it out as PNG. Every operation clips to the surface.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct HDC__;

namespace draw {

using Argb = std::uint32_t;

inline constexpr Argb opaque(std::uint32_t rgb) { return 0xFF000000u | (rgb & 0xFFFFFFu); }

// The system colours of a raised 3-D edge.
inline constexpr Argb buttonFace = opaque(0xF0F0F0);
inline constexpr Argb buttonLight = opaque(0xE3E3E3);
inline constexpr Argb buttonHighlight = opaque(0xFFFFFF);
inline constexpr Argb buttonShadow = opaque(0xA0A0A0);
inline constexpr Argb buttonDarkShadow = opaque(0x696969);
inline constexpr Argb black = opaque(0x000000);

// Half-open: [left, right) x [top, bottom).
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

class Surface {
public:
    // Starts fully transparent (all zero).
    Surface(int width, int height, Argb fill = 0);

    int width() const { return width_; }
    int height() const { return height_; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    // 0 outside the surface.
    Argb pixel(int x, int y) const;
    void setPixel(int x, int y, Argb colour);
    std::span<const Argb> pixels() const { return pixels_; }

    void fill(const Rect& area, Argb colour);
    // A one-pixel outline along the inside of `area`.
    void outline(const Rect& area, Argb colour);
    // A raised button edge two pixels wide (light outer and highlight inner
    // ring on the top and left, dark shadow outer and shadow inner ring on
    // the bottom and right; the bottom-left and top-right corners belong to
    // the dark side), with the middle filled with the face colour.
    void raisedEdge(const Rect& area);
    // Copies `source` with its top-left corner at (x, y), leaving the pixels
    // already here wherever the source has the colour `transparent`.
    void blitTransparent(const Surface& source, int x, int y, Argb transparent);

private:
    int width_;
    int height_;
    std::vector<Argb> pixels_;
};

// The surface as the opaque device-context handle the OLE interfaces pass.
inline HDC__* asHdc(Surface& surface) { return reinterpret_cast<HDC__*>(&surface); }
inline Surface* fromHdc(HDC__* hdc) { return reinterpret_cast<Surface*>(hdc); }

// PNG (8-bit RGBA, not interlaced) of the surface.
std::vector<std::uint8_t> encodePng(const Surface& surface);
// Writes encodePng() to `path`; false (with errno set) when it cannot.
bool writePng(const Surface& surface, const std::string& path);

}  // namespace draw
