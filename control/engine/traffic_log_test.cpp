#include "control/engine/traffic_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::tm sampleTime() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    return t;
}

TEST(TrafficLogTest, DebugLogBlockAsText) {
    EXPECT_EQ(formatDebugLogBlock(3, sampleTime(), TrafficDirection::Send, bytes("GET / HTTP/1.1\r\n"), 0),
              "[3][2024/03/07 09:05:03] ------SEND------(16 bytes)\r\nGET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(formatDebugLogBlock(12, sampleTime(), TrafficDirection::Receive, {}, 0),
              "[12][2024/03/07 09:05:03] ------RECEIVE------(0 bytes)\r\n\r\n");
}

TEST(TrafficLogTest, DebugLogBlockInHexBreaksAfterEvery32ndByte) {
    std::vector<std::uint8_t> data(33);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 8);
    std::string expected = "[1][2024/03/07 09:05:03] ------RECEIVE------(33 bytes)\r\n";
    for (std::size_t i = 0; i < 32; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", data[i]);
        expected += pair;
        expected += i == 31 ? "\r\n" : " ";
    }
    expected += "00 \r\n";  // 32 * 8 wraps to 0
    EXPECT_EQ(formatDebugLogBlock(1, sampleTime(), TrafficDirection::Receive, data, logDebugHex), expected);
}

TEST(TrafficLogTest, InformationLine) {
    EXPECT_EQ(formatDebugLogLine(4, sampleTime(), "URL: ws://h/"), "[4][2024/03/07 09:05:03] URL: ws://h/\r\n");
}

TEST(TrafficLogTest, RecordingScriptEscapes) {
    const std::string raw("a\\b$c\"d{e}f[g]h\r\n\x01\x7f\xff", 20);
    EXPECT_EQ(escapeRecordedBytes(bytes(raw)), "a\\\\b\\$c\\\"d\\{e\\}f\\[g\\]h\r\n\\001\\177\\377");
    EXPECT_EQ(escapeRecordedBytes(bytes(std::string_view("x\0y", 3))), "x\\000y");
    EXPECT_EQ(formatRecording(TrafficDirection::Receive, bytes("hi")), "\r\nsend -nonewline \"hi\"\r\n");
    EXPECT_EQ(formatRecording(TrafficDirection::Send, bytes("yo")), "\r\nexpect -exact \"yo\"\r\n");
}

}  // namespace
}  // namespace morvane
