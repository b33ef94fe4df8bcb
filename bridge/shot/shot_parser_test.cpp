#include "bridge/shot/shot_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/shot/launch_code.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

using testing::exampleShot;

ShotRecord parsed(std::string_view message) {
    ShotRecord record;
    record.club = "stale";
    record.ballSpeedMPH = 999;
    EXPECT_TRUE(ShotParser::parse(message, record));
    return record;
}

std::string withField(std::string_view tag, std::string_view value) {
    std::string message(exampleShot);
    const std::size_t at = message.find(tag);
    std::size_t end = at + tag.size();
    while (end < message.size() && (message[end] == '+' || message[end] == '-' || message[end] == '.' ||
                                    (message[end] >= '0' && message[end] <= '9')))
        ++end;
    message.replace(at + tag.size(), end - at - tag.size(), value);
    return message;
}

TEST(ShotParser, ReadsTheExampleShot) {
    const ShotRecord r = parsed(exampleShot);
    EXPECT_DOUBLE_EQ(r.clubSpeedMPH, 93.0);
    EXPECT_DOUBLE_EQ(r.clubSpeedKMH, 149.6);
    EXPECT_DOUBLE_EQ(r.ballSpeedMPH, 131.1);
    EXPECT_DOUBLE_EQ(r.ballSpeedKMH, 210.9);
    EXPECT_EQ(r.backSpin, 4217);
    EXPECT_EQ(r.ballAngle, 13);
    EXPECT_DOUBLE_EQ(r.smashFactor, 1.4);
    EXPECT_EQ(r.club, "5Ir");
    EXPECT_DOUBLE_EQ(r.spinAxis, -1.0);
    EXPECT_EQ(r.sideSpin, -94);
    EXPECT_DOUBLE_EQ(r.ballDirection, -4.8);
    EXPECT_DOUBLE_EQ(r.swingPath, 0.0);
    EXPECT_DOUBLE_EQ(r.clubFace, 0.0);
    EXPECT_DOUBLE_EQ(r.valueHT, 0.0);
    EXPECT_EQ(r.version, "109");
    EXPECT_EQ(r.launchCode, 4217 * launchCodeMultiplier * 13 + launchCodeOffset);
}

TEST(ShotParser, RoundsAndTruncatesAsTheDeviceExpects) {
    EXPECT_EQ(parsed(withField("LA", "17.3")).ballAngle, 17);
    EXPECT_EQ(parsed(withField("LA", "16.5")).ballAngle, 16);
    EXPECT_EQ(parsed(withField("LA", "17.5")).ballAngle, 18);
    // The spin axis keeps only its signed whole degrees.
    EXPECT_DOUBLE_EQ(parsed(withField("SPA", "+26.2")).spinAxis, 26.0);
    EXPECT_DOUBLE_EQ(parsed(withField("SPA", "-01.9")).spinAxis, -1.0);
    const ShotRecord r = parsed(withField("CFAC", "+12.34"));
    EXPECT_DOUBLE_EQ(r.clubFace, 12.3);
    EXPECT_DOUBLE_EQ(parsed(withField("HT", "12.345")).valueHT, 12.34);
}

TEST(ShotParser, SideSpinFollowsSpinAxisAndBackSpin) {
    EXPECT_EQ(parsed(withField("SPA", "+26.2")).sideSpin, 2436);  // 26 * 4217 / 45 = 2436.49
    EXPECT_EQ(parsed(withField("SP", "00000")).sideSpin, 0);
}

TEST(ShotParser, MissingFieldKeepsItsClearedValueAndTheRestIsRead) {
    std::string message(exampleShot);
    message.erase(message.find("CL5Ir"), 5);
    const ShotRecord r = parsed(message);
    EXPECT_EQ(r.club, "");
    EXPECT_DOUBLE_EQ(r.smashFactor, 0.0);  // its end (the club tag) is gone
    EXPECT_DOUBLE_EQ(r.spinAxis, -1.0);
    EXPECT_DOUBLE_EQ(r.ballSpeedMPH, 131.1);
    EXPECT_EQ(r.version, "109");
}

TEST(ShotParser, FieldWhoseNextTagComesFirstCannotBeLocated) {
    // Ball speed written before club speed: club speed ends before it starts.
    std::string message = "ES16Prt001BS131.1CS093.0CD000.0End";
    const ShotRecord r = parsed(message);
    EXPECT_DOUBLE_EQ(r.clubSpeedMPH, 0.0);
    EXPECT_DOUBLE_EQ(r.clubSpeedKMH, 0.0);
}

TEST(ShotParser, NeverRejectsAndClearsEverything) {
    const ShotRecord r = parsed("");
    EXPECT_EQ(r.club, "");
    EXPECT_DOUBLE_EQ(r.ballSpeedMPH, 0.0);
    EXPECT_EQ(r.launchCode, launchCodeOffset);  // 0 x 0 + offset
    const ShotRecord garbage = parsed("ES16PrtCSxxBS--End");
    EXPECT_DOUBLE_EQ(garbage.clubSpeedMPH, 0.0);
}

TEST(ShotParser, TagsThatOverlapAreReadAsThePiecesTheyLeave) {
    // "BVER": the value tag BV, and the version tag VER starting at its V.
    // The BV field is the single character "B", which holds no number.
    std::string message(exampleShot);
    message.replace(message.find("BV0.00VER"), 9, "BVER");
    const ShotRecord r = parsed(message);
    EXPECT_DOUBLE_EQ(r.valueBV, 0.0);
    EXPECT_EQ(r.version, "109");
    EXPECT_DOUBLE_EQ(parsed("ES16PrtSPASFSPA+1.0End").spinAxis, 0.0);  // SP and SPA share a start
}

TEST(ShotParser, LaunchCodeOverflowLeavesZero) {
    std::string message = withField("SP", "999999");
    message = message.substr(0, message.find("LA")) + "LA99" + message.substr(message.find("SP"));
    const ShotRecord r = parsed(message);
    EXPECT_EQ(r.backSpin, 999999);
    EXPECT_EQ(r.ballAngle, 99);
    EXPECT_EQ(r.launchCode, 0);
    EXPECT_EQ(computeLaunchCode(-5, 3), -5 * launchCodeMultiplier * 3 + launchCodeOffset);
}

TEST(ShotParser, OutOfRangeWholeNumberStaysCleared) {
    const ShotRecord r = parsed(withField("SP", "99999999999"));
    EXPECT_EQ(r.backSpin, 0);
    EXPECT_EQ(r.sideSpin, 0);
}

}  // namespace
}  // namespace taltrix
