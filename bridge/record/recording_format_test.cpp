#include "bridge/record/recording_format.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/record/device_recorder.h"

namespace taltrix::record {
namespace {

std::string record(std::uint64_t microseconds, std::string_view piece) {
    std::string out;
    appendRecord(out, microseconds, piece);
    return out;
}

TEST(RecordingFormat, PiecesComeBackWithTheirTimesAndBytes) {
    const std::string data = headerLine("2025-12-08T09:14:03.120Z") + record(0, "ES16Prt001CS") +
                             record(1500, std::string("\0\r\n\xff", 4)) + record(1500, "End\r\n");
    const Recording read = readRecording(data);
    EXPECT_EQ(read.end, RecordingEnd::complete);
    EXPECT_EQ(read.version, 1);
    EXPECT_EQ(read.started, "2025-12-08T09:14:03.120Z");
    ASSERT_EQ(read.pieces.size(), 3u);
    EXPECT_EQ(read.pieces[1].microseconds, 1500u);
    EXPECT_EQ(read.pieces[1].bytes, std::string_view("\0\r\n\xff", 4));
    EXPECT_EQ(read.pieces[2].bytes, "End\r\n");
    EXPECT_EQ(read.readUpTo, data.size());
}

TEST(RecordingFormat, APieceOverTheLimitIsSplitAtTheSameTime) {
    const std::string big(maxPieceLength + 10, 'x');
    const Recording read = readRecording(headerLine("t") + record(7, big));
    ASSERT_EQ(read.pieces.size(), 2u);
    EXPECT_EQ(read.pieces[0].bytes.size(), maxPieceLength);
    EXPECT_EQ(read.pieces[1].bytes.size(), 10u);
    EXPECT_EQ(read.pieces[1].microseconds, 7u);
}

TEST(RecordingFormat, DamagedRecordingsKeepWhatCameBeforeTheDamage) {
    const std::string header = headerLine("t");
    const std::string good = record(5, "abc");
    std::string zeroLength = record(6, "x");
    zeroLength[8] = 0;
    std::string hugeLength = record(6, "x");
    hugeLength[10] = 0x7F;
    const struct {
        std::string data;
        RecordingEnd end;
        std::size_t pieces;
    } cases[] = {
        {"", RecordingEnd::notARecording, 0},
        {"TaltrixRecording\n", RecordingEnd::notARecording, 0},
        {"TaltrixRecordings 1 t\n", RecordingEnd::notARecording, 0},
        {"TaltrixRecording 1.5 t\n" + good, RecordingEnd::notARecording, 0},
        {"TaltrixRecording 1 " + std::string(300, 't') + "\n", RecordingEnd::notARecording, 0},
        {"TaltrixRecording 2 t\n" + good, RecordingEnd::newerVersion, 0},
        {header + good + good.substr(0, 11), RecordingEnd::cutShort, 1},
        {header + good + good.substr(0, 14), RecordingEnd::cutShort, 1},
        {header + good + zeroLength, RecordingEnd::badLength, 1},
        {header + good + hugeLength, RecordingEnd::badLength, 1},
        {header + good + record(4, "y"), RecordingEnd::backwards, 1},
    };
    for (const auto& c : cases) {
        const Recording read = readRecording(c.data);
        EXPECT_EQ(read.end, c.end) << describe(read.end) << " for " << c.data.substr(0, 40);
        EXPECT_EQ(read.pieces.size(), c.pieces) << c.data.substr(0, 40);
    }
}

TEST(DeviceRecorder, WritesOnlyWhenFlushedAndTimesNeverGoBack) {
    const auto path = std::filesystem::temp_directory_path() / ("taltrix-record-" + std::to_string(::getpid()));
    {
        DeviceRecorder recorder(path.string());
        ASSERT_TRUE(recorder.ok()) << recorder.error();
        recorder.arrived("ES16Prt001");
        recorder.arrived("");
        EXPECT_EQ(std::filesystem::file_size(path), headerLine(utcTimestampNow()).size());
        recorder.flush();
        recorder.arrived("...VER109End\r\n");
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::filesystem::remove(path);
    const std::string data = bytes.str();
    const Recording read = readRecording(data);
    EXPECT_EQ(read.end, RecordingEnd::complete);
    ASSERT_EQ(read.pieces.size(), 2u);
    EXPECT_EQ(read.pieces[0].bytes, "ES16Prt001");
    EXPECT_EQ(read.pieces[1].bytes, "...VER109End\r\n");
    EXPECT_LE(read.pieces[0].microseconds, read.pieces[1].microseconds);
}

TEST(DeviceRecorder, AFolderThatIsNotThereIsReported) {
    DeviceRecorder recorder("/nonexistent-folder/rec.bin");
    EXPECT_FALSE(recorder.ok());
    EXPECT_NE(recorder.error().find("/nonexistent-folder/rec.bin"), std::string::npos);
    recorder.arrived("x");  // ignored, no crash
}

}  // namespace
}  // namespace taltrix::record
