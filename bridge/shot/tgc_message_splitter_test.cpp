#include "bridge/shot/tgc_message_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taltrix {
namespace {

using Texts = std::vector<std::string>;

TEST(TgcMessageSplitter, CutsAtBalancedBraces) {
    TgcMessageSplitter splitter;
    EXPECT_EQ(splitter.feed(R"({"a":{"b":"1"}}{"c":"2"})"
                            "\r\n"),
              (Texts{R"({"a":{"b":"1"}})", R"({"c":"2"})"}));
    EXPECT_EQ(splitter.pending(), "");
}

TEST(TgcMessageSplitter, KeepsAnUnfinishedTailForTheNextRead) {
    TgcMessageSplitter splitter;
    EXPECT_EQ(splitter.feed(R"({"a":"1"}{"b":)"), (Texts{R"({"a":"1"})"}));
    EXPECT_EQ(splitter.feed(R"("2"})"), (Texts{R"({"b":"2"})"}));
    const std::string message = R"(#json {"protocol":"HXSDK", "INFO":{"status":"203"}})";
    Texts got;
    for (const char c : message) {
        for (auto& t : splitter.feed(std::string(1, c))) got.push_back(t);
    }
    EXPECT_EQ(got, (Texts{message}));
}

TEST(TgcMessageSplitter, BracesInsideQuotesDoNotCount) {
    TgcMessageSplitter splitter;
    EXPECT_EQ(splitter.feed(R"({"message":"a } b \" { c"})"), (Texts{R"({"message":"a } b \" { c"})"}));
}

TEST(TgcMessageSplitter, StrayTextIsReadOnItsOwn) {
    TgcMessageSplitter splitter;
    EXPECT_EQ(splitter.feed(R"(garbage{"a":"1"})"), (Texts{"garbage", R"({"a":"1"})"}));
    EXPECT_EQ(splitter.feed("plain text"), (Texts{"plain text"}));
    EXPECT_EQ(splitter.feed("\r\n"), Texts{});
}

TEST(TgcMessageSplitter, OverlongTailIsHandedOnNotKept) {
    TgcMessageSplitter splitter;
    const std::string open = "{\"a\":\"" + std::string(TgcMessageSplitter::maxPending, 'x');
    const Texts got = splitter.feed(open);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], open);
    EXPECT_EQ(splitter.pending(), "");
    EXPECT_EQ(splitter.feed(R"({"b":"2"})"), (Texts{R"({"b":"2"})"}));
}

}  // namespace
}  // namespace taltrix
