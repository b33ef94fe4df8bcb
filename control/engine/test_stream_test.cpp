// The test stream keeps the promises the layer tests build on: the script
// plays in order, one turn at a time, and each fault comes exactly where it
// was asked for.
#include "control/engine/test_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace morvane::testing {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class Recorder final : public StreamListener {
public:
    std::vector<std::string> log;
    void streamConnected(int code) override { log.push_back("connected " + std::to_string(code)); }
    int streamReceived(std::span<const std::uint8_t> data, bool) override {
        log.push_back("received " + std::string(reinterpret_cast<const char*>(data.data()), data.size()));
        return 0;
    }
    void streamReadyToSend() override { log.push_back("ready"); }
    void streamClosed(int code, const std::string&) override { log.push_back("closed " + std::to_string(code)); }
};

struct Fixture {
    EngineContext context;
    TestStream stream{context};
    Recorder recorder;
    Fixture() { stream.setListener(&recorder); }
};

TEST(TestStreamTest, PlaysTheScriptOneStepPerTurn) {
    Fixture f;
    f.stream.peerSends("ab").peerSends("c").peerCloses(10054);
    ASSERT_EQ(f.stream.connect("host", 7), 0);
    EXPECT_TRUE(f.stream.isOpen());
    EXPECT_FALSE(f.stream.isConnected());
    ASSERT_TRUE(f.context.waiter().waitStep());
    EXPECT_EQ(f.recorder.log, std::vector<std::string>{"connected 0"});
    f.stream.play();
    EXPECT_EQ(f.recorder.log, (std::vector<std::string>{"connected 0", "received ab", "received c", "closed 10054"}));
    EXPECT_EQ(f.stream.host(), "host");
    EXPECT_EQ(f.stream.port(), 7);
    EXPECT_FALSE(f.stream.isOpen());
}

TEST(TestStreamTest, OneBytePerReadAndHeldBackWhileDataIsNotAccepted) {
    Fixture f;
    f.stream.setOneBytePerRead(true);
    f.stream.peerSends("xyz");
    f.stream.connect("h", 1);
    f.stream.play(2);
    EXPECT_EQ(f.recorder.log, (std::vector<std::string>{"connected 0", "received x"}));
    f.stream.setAcceptData(false);
    f.stream.play();
    EXPECT_EQ(f.recorder.log.size(), 2u);
    f.stream.setAcceptData(true);
    f.stream.play();
    EXPECT_EQ(f.recorder.log, (std::vector<std::string>{"connected 0", "received x", "received y", "received z"}));
}

TEST(TestStreamTest, FaultsComeAtTheNthOperation) {
    {
        Fixture f;
        f.stream.failConnect(2, 10061);
        f.stream.connect("h", 1);
        f.stream.play(1);
        f.stream.close();
        f.stream.connect("h", 1);
        f.stream.play(1);
        EXPECT_EQ(f.recorder.log, (std::vector<std::string>{"connected 0", "closed 0", "connected 10061"}));
        EXPECT_FALSE(f.stream.isOpen());
        EXPECT_EQ(f.context.lastErrorCode(), 10061);
    }
    {
        Fixture f;
        f.stream.failSend(2, 10054);
        f.stream.connect("h", 1);
        f.stream.play(1);
        EXPECT_EQ(f.stream.send(bytes("one")), 0);
        EXPECT_EQ(f.stream.send(bytes("two")), 10054);
        EXPECT_EQ(f.stream.send(bytes("three")), 0);
        EXPECT_EQ(f.stream.written(), "onethree");
    }
    {
        Fixture f;
        f.stream.failReceive(2, 10054);
        f.stream.peerSends("a").peerSends("b").peerSends("c");
        f.stream.connect("h", 1);
        f.stream.play();
        EXPECT_EQ(f.recorder.log, (std::vector<std::string>{"connected 0", "received a", "closed 10054"}));
    }
}

TEST(TestStreamTest, BlockedSendsTakeNothingAndReportReadiness) {
    Fixture f;
    f.stream.connect("h", 1);
    f.stream.play(1);
    f.stream.blockSends(1);
    std::size_t accepted = 99;
    EXPECT_EQ(f.stream.send(bytes("late"), &accepted), 10035);
    EXPECT_EQ(accepted, 0u);
    EXPECT_EQ(f.stream.written(), "");
    ASSERT_TRUE(f.context.waiter().waitStep());
    EXPECT_EQ(f.recorder.log.back(), "ready");
    EXPECT_EQ(f.stream.send(bytes("late"), &accepted), 0);
    EXPECT_EQ(accepted, 4u);
    EXPECT_EQ(f.stream.takeWritten(), "late");
    EXPECT_EQ(f.stream.send(bytes("x")), 0);
    EXPECT_EQ(f.stream.written(), "x");
}

}  // namespace
}  // namespace morvane::testing
