// The drawing surface: clipping, the raised edge, the transparent blit, and
// the PNG encoder read back by an independent decoder (zlib's inflate over
// the chunks) and checked by pngcheck when it is installed.
#include "platform/draw/surface.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace draw {
namespace {

struct PixelCase {
    int x;
    int y;
    Argb colour;
};

void expectPixels(const Surface& surface, std::initializer_list<PixelCase> cases) {
    for (const PixelCase& c : cases) {
        EXPECT_EQ(surface.pixel(c.x, c.y), c.colour) << "at (" << c.x << "," << c.y << ")";
    }
}

TEST(Surface, OperationsClipToTheSurface) {
    Surface surface(4, 3);
    surface.fill({-5, -5, 50, 50}, black);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(surface.pixel(x, y), black);
    EXPECT_EQ(surface.pixel(4, 0), 0u);
    EXPECT_EQ(surface.pixel(-1, 0), 0u);
    surface.setPixel(10, 10, buttonFace);  // ignored, not a crash
    EXPECT_EQ(Surface(-3, 2).pixels().size(), 0u);
}

TEST(Surface, OutlineIsOnePixelInsideTheRectangle) {
    Surface surface(6, 5);
    surface.outline({1, 1, 5, 4}, black);
    expectPixels(surface, {{1, 1, black},
                           {4, 1, black},
                           {1, 3, black},
                           {4, 3, black},
                           {2, 2, 0},
                           {3, 2, 0},
                           {0, 0, 0},
                           {5, 4, 0},
                           {5, 1, 0},
                           {1, 4, 0}});
}

TEST(Surface, RaisedEdgeHasLightTopLeftDarkBottomRightAndAFilledMiddle) {
    Surface surface(8, 6);
    surface.raisedEdge({0, 0, 8, 6});
    expectPixels(surface, {
                              {0, 0, buttonLight},
                              {6, 0, buttonLight},
                              {0, 4, buttonLight},
                              {7, 0, buttonDarkShadow},  // top-right corner: dark side
                              {0, 5, buttonDarkShadow},  // bottom-left corner: dark side
                              {7, 5, buttonDarkShadow},
                              {1, 1, buttonHighlight},
                              {5, 1, buttonHighlight},
                              {6, 1, buttonShadow},
                              {1, 4, buttonShadow},
                              {6, 4, buttonShadow},
                              {2, 2, buttonFace},
                              {5, 3, buttonFace},
                          });
}

TEST(Surface, RaisedEdgeOfATinyRectangleStaysInside) {
    Surface surface(3, 3, opaque(0x123456));
    surface.raisedEdge({1, 1, 2, 2});
    expectPixels(surface, {{1, 1, buttonDarkShadow}, {0, 0, opaque(0x123456)}, {2, 2, opaque(0x123456)}});
    surface.raisedEdge({2, 2, 2, 2});  // empty: nothing
    EXPECT_EQ(surface.pixel(2, 2), opaque(0x123456));
}

TEST(Surface, BlitLeavesTheTransparentColourOut) {
    Surface source(2, 2, opaque(0xFF00FF));
    source.setPixel(1, 0, opaque(0x0000FF));
    source.setPixel(0, 1, opaque(0x00FF00));
    Surface target(4, 4, buttonFace);
    target.blitTransparent(source, 2, 2, source.pixel(0, 0));
    expectPixels(target, {{2, 2, buttonFace}, {3, 2, opaque(0x0000FF)}, {2, 3, opaque(0x00FF00)}, {3, 3, buttonFace}});
    target.blitTransparent(source, 3, 3, 0);  // partly outside: clipped
    EXPECT_EQ(target.pixel(3, 3), opaque(0xFF00FF));
}

std::uint32_t bigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

TEST(Png, DecodesBackToTheSamePixels) {
    Surface surface(5, 3, opaque(0x102030));
    surface.setPixel(4, 2, 0x80FF0000u);  // half-transparent red
    surface.setPixel(0, 1, 0);            // fully transparent
    const std::vector<std::uint8_t> png = encodePng(surface);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");

    std::vector<std::uint8_t> packed;
    std::vector<std::string> chunkTypes;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = bigEndian(&png[at]);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        chunkTypes.push_back(type);
        const uLong crc = crc32(crc32(0, Z_NULL, 0), &png[at + 4], length + 4);
        EXPECT_EQ(bigEndian(&png[at + 8 + length]), crc) << type;
        if (type == "IHDR") {
            EXPECT_EQ(bigEndian(&png[at + 8]), 5u);
            EXPECT_EQ(bigEndian(&png[at + 12]), 3u);
            EXPECT_EQ(png[at + 16], 8);  // bit depth
            EXPECT_EQ(png[at + 17], 6);  // RGBA
        }
        if (type == "IDAT") packed.insert(packed.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        at += 12 + length;
    }
    EXPECT_EQ(chunkTypes, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    std::vector<std::uint8_t> raw(3 * (1 + 5 * 4));
    uLongf rawSize = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &rawSize, packed.data(), packed.size()), Z_OK);
    ASSERT_EQ(rawSize, raw.size());
    for (int y = 0; y < 3; ++y) {
        const std::uint8_t* row = &raw[y * 21];
        EXPECT_EQ(row[0], 0);  // no filter
        for (int x = 0; x < 5; ++x) {
            const Argb want = surface.pixel(x, y);
            const std::uint8_t* p = row + 1 + 4 * x;
            const Argb got = (Argb{p[3]} << 24) | (Argb{p[0]} << 16) | (Argb{p[1]} << 8) | p[2];
            EXPECT_EQ(got, want) << x << "," << y;
        }
    }
}

TEST(Png, PngcheckAcceptsTheFile) {
    if (std::system("command -v pngcheck >/dev/null 2>&1") != 0) GTEST_SKIP() << "pngcheck is not installed";
    const std::string path =
        (std::filesystem::temp_directory_path() / ("surface-" + std::to_string(::getpid()) + ".png")).string();
    Surface surface(40, 30);
    surface.raisedEdge({0, 0, 40, 30});
    ASSERT_TRUE(writePng(surface, path));
    EXPECT_EQ(std::system(("pngcheck -q " + path + " >/dev/null").c_str()), 0);
    std::filesystem::remove(path);
}

TEST(Png, WriteFailsForAnUnwritablePath) { EXPECT_FALSE(writePng(Surface(1, 1), "/nonexistent-folder/x.png")); }

}  // namespace
}  // namespace draw
