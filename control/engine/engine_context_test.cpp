#include "control/engine/engine_context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "control/engine/engine_events.h"

namespace morvane {
namespace {

using ::testing::InSequence;

class CodePageSink : public IgnoringEvents {
public:
    MOCK_METHOD(void, useCodePage, (int), (override));
};

std::string read(EngineContext& engine, std::string_view name) {
    std::string value;
    EXPECT_EQ(engine.config(name, value), 0) << name;
    return value;
}

TEST(EngineContextTest, CharsetModeFollowsTheSystemCodePage) {
    const std::pair<int, std::string_view> cases[] = {{1252, "0"}, {932, "1"}, {65001, "0"}};
    for (const auto& [codePage, expected] : cases) {
        EngineContext engine(EngineEnvironment{.ansiCodePage = codePage});
        EXPECT_EQ(read(engine, "CharsetMode"), expected) << codePage;
    }
}

TEST(EngineContextTest, UnknownNameFailsAndLeavesItsDescription) {
    EngineContext engine;
    for (std::string_view text : {"NoSuchSetting", "NoSuchSetting=1", "", "=1", "Code Page", "LastError=x"}) {
        std::string result = "stale";
        EXPECT_EQ(engine.config(text, result), -1) << text;
        EXPECT_EQ(result, "") << text;
        EXPECT_EQ(engine.lastErrorCode(), -1);
        EXPECT_EQ(engine.lastErrorText(), "Unknown config setting.");
    }
    EXPECT_EQ(read(engine, "LastError"), "Unknown config setting.");
    engine.clearLastError();
    EXPECT_EQ(read(engine, "lasterror"), "");
}

TEST(EngineContextTest, SinkLearnsTheCodePageWhenAttachedAndWhenItChanges) {
    EngineContext engine(EngineEnvironment{.ansiCodePage = 1250});
    CodePageSink sink;
    {
        InSequence order;
        EXPECT_CALL(sink, useCodePage(1250));
        EXPECT_CALL(sink, useCodePage(65001));
        EXPECT_CALL(sink, useCodePage(1250));
    }
    engine.setEventSink(&sink);
    std::string result;
    EXPECT_EQ(engine.config("CodePage=65001", result), 0);
    EXPECT_EQ(engine.config("codepage=0", result), 0);
    EXPECT_EQ(read(engine, "CodePage"), "0");
}

TEST(EngineContextTest, ZeroMemoryIsSharedByEveryInstance) {
    EngineContext first;
    EngineContext second;
    std::string result;
    ASSERT_EQ(first.config("ZeroMemory=yes", result), 0);
    EXPECT_EQ(read(second, "ZeroMemory"), "True");
    ASSERT_EQ(second.config("ZeroMemory=False", result), 0);
    EXPECT_EQ(read(first, "ZeroMemory"), "False");
}

}  // namespace
}  // namespace morvane
