#include "platform/draw/surface.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace draw {

Surface::Surface(int width, int height, Argb fill)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), fill) {}

Argb Surface::pixel(int x, int y) const {
    return contains(x, y) ? pixels_[static_cast<std::size_t>(y) * width_ + x] : 0;
}

void Surface::setPixel(int x, int y, Argb colour) {
    if (contains(x, y)) pixels_[static_cast<std::size_t>(y) * width_ + x] = colour;
}

void Surface::fill(const Rect& area, Argb colour) {
    const int left = std::max(area.left, 0);
    const int right = std::min(area.right, width_);
    for (int y = std::max(area.top, 0); y < std::min(area.bottom, height_); ++y) {
        for (int x = left; x < right; ++x) pixels_[static_cast<std::size_t>(y) * width_ + x] = colour;
    }
}

void Surface::outline(const Rect& area, Argb colour) {
    if (area.empty()) return;
    fill({area.left, area.top, area.right, area.top + 1}, colour);
    fill({area.left, area.bottom - 1, area.right, area.bottom}, colour);
    fill({area.left, area.top, area.left + 1, area.bottom}, colour);
    fill({area.right - 1, area.top, area.right, area.bottom}, colour);
}

void Surface::raisedEdge(const Rect& area) {
    if (area.empty()) return;
    Rect ring = area;
    const Argb lightSide[] = {buttonLight, buttonHighlight};
    const Argb darkSide[] = {buttonDarkShadow, buttonShadow};
    for (int i = 0; i < 2 && !ring.empty(); ++i) {
        // The light side stops one short of the far corners, which the dark
        // side then draws.
        fill({ring.left, ring.top, ring.right - 1, ring.top + 1}, lightSide[i]);
        fill({ring.left, ring.top, ring.left + 1, ring.bottom - 1}, lightSide[i]);
        fill({ring.left, ring.bottom - 1, ring.right, ring.bottom}, darkSide[i]);
        fill({ring.right - 1, ring.top, ring.right, ring.bottom}, darkSide[i]);
        ring = {ring.left + 1, ring.top + 1, ring.right - 1, ring.bottom - 1};
    }
    fill(ring, buttonFace);
}

void Surface::blitTransparent(const Surface& source, int x, int y, Argb transparent) {
    for (int row = 0; row < source.height(); ++row) {
        for (int column = 0; column < source.width(); ++column) {
            const Argb colour = source.pixel(column, row);
            if (colour != transparent) setPixel(x + column, y + row, colour);
        }
    }
}

namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, const char type[4], const std::vector<std::uint8_t>& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + start, static_cast<uInt>(out.size() - start));
    putBigEndian(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::vector<std::uint8_t> encodePng(const Surface& surface) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putBigEndian(header, static_cast<std::uint32_t>(surface.width()));
    putBigEndian(header, static_cast<std::uint32_t>(surface.height()));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
    putChunk(out, "IHDR", header);

    // Every row starts with filter type 0 (none).
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(surface.height()) * (1 + 4 * static_cast<std::size_t>(surface.width())));
    for (int y = 0; y < surface.height(); ++y) {
        raw.push_back(0);
        for (int x = 0; x < surface.width(); ++x) {
            const Argb colour = surface.pixel(x, y);
            raw.insert(raw.end(), {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                                   static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 24)});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
        throw std::bad_alloc();
    }
    packed.resize(packedSize);
    putChunk(out, "IDAT", packed);
    putChunk(out, "IEND", {});
    return out;
}

bool writePng(const Surface& surface, const std::string& path) {
    const std::vector<std::uint8_t> bytes = encodePng(surface);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace draw
