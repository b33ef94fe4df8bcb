#include "bridge/shot/shot_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

using testing::exampleShot;

class ShotFramerTest : public ::testing::Test {
protected:
    std::vector<std::string> messages;
    testing::RecordingRawBox rawBox;
    testing::CountingIndicator receiveLight;
    ShotFramer framer{[this](std::string_view m) { messages.emplace_back(m); }, &rawBox, &receiveLight};

    void feed(std::initializer_list<std::string_view> chunks) {
        for (const auto chunk : chunks) framer.receiveChunk(chunk);
    }
};

TEST_F(ShotFramerTest, JoinsLinesAndDropsNoiseAroundAMessage) {
    feed(
        {"O\r\nK\r\nE\r\nS16Prt001CS076.0BS097.8CD000.0TD000.0LA17.3SP00100SF1.28CL7lrSPA+00.0DIR+00.0LDA00.0"
         "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER102End\r\nEtc\r\netera"});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("ES16Prt001CS076.0"));
    EXPECT_TRUE(
        messages[0].ends_with("CL7lrSPA+00.0DIR+00.0LDA00.0AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0"
                              "CFAC+00.0SPL00.0HT00.00BV0.00VER102End"));
    EXPECT_EQ(receiveLight.count, 1);
    EXPECT_EQ(framer.buffered(), "");  // "Etcetera" can never become a message
}

TEST_F(ShotFramerTest, MessageOverThreeChunksIsHandedOnOnceComplete) {
    const std::string_view m = exampleShot;
    framer.receiveChunk(m.substr(0, 40));
    framer.receiveChunk(m.substr(40, 80));
    EXPECT_TRUE(messages.empty());
    framer.receiveChunk(m.substr(120));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], exampleShot);
}

TEST_F(ShotFramerTest, EveryByteAsItsOwnChunk) {
    const std::string text = "\r\n" + std::string(exampleShot) + "\r\n" + std::string(exampleShot);
    for (const char c : text) framer.receiveChunk(std::string_view(&c, 1));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], exampleShot);
    EXPECT_EQ(messages[1], exampleShot);
}

TEST_F(ShotFramerTest, EndOfOneAndStartOfTheNextBothArrive) {
    const std::string_view m = exampleShot;
    const std::string second = std::string(m.substr(0, 50)) + "X" + std::string(m.substr(51));
    framer.receiveChunk(m.substr(0, 100));
    framer.receiveChunk(std::string(m.substr(100)) + "\r\n" + second.substr(0, 60));
    ASSERT_EQ(messages.size(), 1u);
    framer.receiveChunk(second.substr(60));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], exampleShot);
    EXPECT_EQ(messages[1], second);
}

TEST_F(ShotFramerTest, SeveralMessagesInOneChunkAreHandedOnInOrder) {
    std::string chunk;
    for (char tag : {'1', '2', '3'}) {
        std::string m(exampleShot);
        m[9] = tag;  // ES16Prt00<tag>
        chunk += m + "\r\n";
    }
    framer.receiveChunk(chunk);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0][9], '1');
    EXPECT_EQ(messages[2][9], '3');
    EXPECT_EQ(receiveLight.count, 3);
}

TEST_F(ShotFramerTest, StrayEndBeforeAMessageDoesNotCostTheMessage) {
    feed({"End of calibration\r\n", exampleShot});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], exampleShot);
}

TEST_F(ShotFramerTest, BrokenOffMessageGivesWayToTheNextWholeOne) {
    // The device restarted half-way through a message.
    feed({"ES16Prt001CS093.0BS13", exampleShot});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], exampleShot);
}

TEST_F(ShotFramerTest, StartOfPrefixSplitAcrossChunksIsKept) {
    const std::string_view m = exampleShot;
    feed({"noise ES1", m.substr(3)});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], exampleShot);
}

TEST_F(ShotFramerTest, UnterminatedMessageIsDroppedPastTheBound) {
    framer.receiveChunk("ES16Prt" + std::string(ShotFramer::maxBuffered - 7, '1'));
    EXPECT_EQ(framer.buffered().size(), ShotFramer::maxBuffered);
    framer.receiveChunk("2");
    EXPECT_EQ(framer.buffered(), "");
    framer.receiveChunk(exampleShot);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ShotFramerTest, NoiseWithoutAStartIsNotKept) {
    framer.receiveChunk(std::string(5000, 'x'));
    EXPECT_EQ(framer.buffered(), "");
}

TEST_F(ShotFramerTest, RawBoxShowsEachChunkAsReceived) {
    feed({"O\r\nK", "12 "});
    EXPECT_EQ(rawBox.text, "\r\nO\r\nK\r\n\r\n\r\n12 \r\n\r\n");
}

TEST(ShotFramer, HandlerMayFeedTheNextChunkFromInside) {
    // Data handlers let pending events run, so the next chunk can arrive
    // while a message is being handled.
    std::vector<std::string> messages;
    ShotFramer* self = nullptr;
    bool fedInside = false;
    ShotFramer framer([&](std::string_view m) {
        messages.emplace_back(m);
        if (!fedInside) {
            fedInside = true;
            self->receiveChunk(exampleShot);
        }
    });
    self = &framer;
    framer.receiveChunk(std::string(exampleShot) + std::string(exampleShot));
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(framer.buffered(), "");
}

}  // namespace
}  // namespace taltrix
