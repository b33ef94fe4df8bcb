#include "control/websocket/frame_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "control/websocket/test_random.h"

namespace morvane::websocket {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// What a frame buffer holds, to compare.
Bytes written(const FrameBuffer& out) { return Bytes(out.begin(), out.end()); }

// --- golden frames -----------------------------------------------------------

TEST(FrameWriter, TenByteTextIsOneMaskedFrameByteForByte) {
    CountingRandom random(0x10);  // key 10 11 12 13
    FrameBuffer out;
    ASSERT_EQ(appendMessage(out, kOpText, bytesOf("0123456789"), 131072, random), 0);
    const Bytes expected = {0x81,       0x8A,       0x10,       0x11,       0x12,       0x13,
                            '0' ^ 0x10, '1' ^ 0x11, '2' ^ 0x12, '3' ^ 0x13, '4' ^ 0x10, '5' ^ 0x11,
                            '6' ^ 0x12, '7' ^ 0x13, '8' ^ 0x10, '9' ^ 0x11};
    EXPECT_EQ(written(out), expected);
}

TEST(FrameWriter, LengthFormsSwitchAt126And65536) {
    struct Case {
        std::size_t length;
        Bytes header;  // the bytes before the key
    };
    const Case cases[] = {
        {0, {0x82, 0x80}},
        {125, {0x82, 0x80 | 125}},
        {126, {0x82, 0xFE, 0x00, 0x7E}},
        {65535, {0x82, 0xFE, 0xFF, 0xFF}},
        {65536, {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        CountingRandom random;
        FrameBuffer out;
        ASSERT_EQ(appendMessage(out, kOpBinary, Bytes(c.length, 0xAB), 0, random), 0);
        ASSERT_EQ(out.size(), c.header.size() + 4 + c.length) << c.length;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + c.header.size()), c.header) << c.length;
        EXPECT_EQ(frameHeaderSize(c.length, true), c.header.size() + 4);
    }
}

TEST(FrameWriter, FragmentSizeSplitsIntoContinuationFramesWithOwnKeys) {
    CountingRandom random(0x40);
    FrameBuffer out;
    ASSERT_EQ(appendMessage(out, kOpText, bytesOf("abcdefghij"), 4, random), 0);
    // 4 + 4 + 2 payload bytes: opcodes 1, 0, 0; FIN on the last; keys 40.., 44.., 48..
    const Bytes expected = {
        0x01, 0x84, 0x40, 0x41, 0x42, 0x43, 'a' ^ 0x40, 'b' ^ 0x41, 'c' ^ 0x42, 'd' ^ 0x43,
        0x00, 0x84, 0x44, 0x45, 0x46, 0x47, 'e' ^ 0x44, 'f' ^ 0x45, 'g' ^ 0x46, 'h' ^ 0x47,
        0x80, 0x82, 0x48, 0x49, 0x4A, 0x4B, 'i' ^ 0x48, 'j' ^ 0x49,
    };
    EXPECT_EQ(written(out), expected);
}

TEST(FrameWriter, FragmentSizeBelowOneOrAtLeastThePayloadMeansOneFrame) {
    for (std::int64_t fragment : {-5, 0, 10, 11, 1 << 20}) {
        CountingRandom random;
        FrameBuffer out;
        ASSERT_EQ(appendMessage(out, kOpBinary, bytesOf("0123456789"), fragment, random), 0);
        EXPECT_EQ(out.size(), 2u + 4 + 10) << fragment;
        EXPECT_EQ(out[0], 0x82) << fragment;
    }
}

TEST(FrameWriter, EmptyPayloadIsOneEmptyMaskedFrame) {
    CountingRandom random(7);
    FrameBuffer out;
    ASSERT_EQ(appendMessage(out, kOpPing, {}, 4, random), 0);
    EXPECT_EQ(written(out), (Bytes{0x89, 0x80, 7, 8, 9, 10}));
}

TEST(FrameWriter, RandomFailureGives4101AndWritesNothing) {
    CountingRandom random;
    random.fail = true;
    FrameBuffer out;
    out.append(Bytes{1, 2, 3});
    EXPECT_EQ(appendMessage(out, kOpText, bytesOf("x"), 0, random), kRandomUnavailable);
    EXPECT_EQ(written(out), (Bytes{1, 2, 3}));
}

TEST(FrameWriter, UnmaskedFrameWithReservedBitsAppendsToExistingBytes) {
    FrameBuffer out;
    out.append(Bytes{0xEE});
    FrameHeader header;
    header.fin = false;
    header.rsv1 = header.rsv3 = true;
    header.opcode = kOpBinary;
    header.masked = false;
    appendFrame(out, header, bytesOf("hi"));
    EXPECT_EQ(written(out), (Bytes{0xEE, 0x52, 0x02, 'h', 'i'}));
}

// --- masking -----------------------------------------------------------------

TEST(Masking, BlockwiseMaskAgreesWithTheBytewiseDefinitionAtEveryPhaseAndLength) {
    const MaskKey key = {0x37, 0xFA, 0x21, 0x3D};
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < 40; ++length) lengths.push_back(length);
    // Around whole blocks, and several blocks with a tail.
    for (const std::size_t length : {63, 64, 65, 127, 128, 129, 200, 1000}) lengths.push_back(length);
    for (const std::size_t length : lengths) {
        for (std::size_t phase = 0; phase < 4; ++phase) {
            Bytes data(length);
            for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
            Bytes expected = data;
            for (std::size_t i = 0; i < length; ++i) expected[i] ^= key[(i + phase) % 4];
            Bytes copied(length + 1, 0xEE);
            copyMasked(copied.data(), data, key, phase);
            EXPECT_EQ(copied.back(), 0xEE) << "wrote past the end at " << length;
            copied.pop_back();
            EXPECT_EQ(copied, expected) << length << "/" << phase;
            applyMask(data, key, phase);
            EXPECT_EQ(data, expected) << length << "/" << phase;
        }
    }
}

TEST(Masking, CallersPayloadIsNotTouched) {
    CountingRandom random(1);
    const Bytes payload = bytesOf("unchanged");
    FrameBuffer out;
    appendMessage(out, kOpText, payload, 0, random);
    EXPECT_EQ(payload, bytesOf("unchanged"));
}

}  // namespace
}  // namespace morvane::websocket
