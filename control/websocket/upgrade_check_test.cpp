#include "control/websocket/upgrade_check.h"

#include <gtest/gtest.h>

namespace morvane::websocket {
namespace {

constexpr std::string_view kKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr std::string_view kAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

std::vector<HttpHeader> goodHeaders() {
    return {{"upgrade", "WebSocket"},
            {"CONNECTION", "keep-alive, Upgrade"},
            {"Sec-WebSocket-Accept", std::string(kAccept)}};
}

TEST(UpgradeCheck, EachRequiredHeaderMustBeRight) {
    std::string none;
    EXPECT_TRUE(checkUpgradeResponse(goodHeaders(), kKey, none));
    struct Case {
        std::size_t index;
        std::string value;
    };
    const Case broken[] = {
        {0, "h2c"},
        {0, ""},
        {1, "close"},
        {2, "s3pPLMBiTxaQ9kYGzzhZRbK+xOA="},
        {2, "not base64"},
        {2, ""},
        {2, "s3pPLMBiTxaQ9kYGzzhZRbK+"},  // a prefix of the right digest
    };
    for (const auto& c : broken) {
        auto headers = goodHeaders();
        headers[c.index].value = c.value;
        EXPECT_FALSE(checkUpgradeResponse(headers, kKey, none)) << c.index << " " << c.value;
    }
    EXPECT_FALSE(checkUpgradeResponse(goodHeaders(), "another key", none));
}

TEST(UpgradeCheck, SubprotocolRules) {
    struct Case {
        std::string offered;
        std::string serverValue;  // empty: header absent
        bool passes;
        std::string offeredAfter;
    };
    const Case cases[] = {
        {"", "", true, ""},
        {"Chat, SuperChat", "", true, "Chat, SuperChat"},
        {"Chat, SuperChat", "superchat", true, "superchat"},
        {"chat", "Chat", true, "Chat"},
        {"", "chat", false, ""},
        {"Chat, SuperChat", "mqtt", false, "chat, superchat"},  // lower-cased in place for the test
    };
    for (const auto& c : cases) {
        auto headers = goodHeaders();
        if (!c.serverValue.empty()) headers.push_back({"Sec-WebSocket-Protocol", c.serverValue});
        std::string offered = c.offered;
        EXPECT_EQ(checkUpgradeResponse(headers, kKey, offered), c.passes) << c.offered << " / " << c.serverValue;
        EXPECT_EQ(offered, c.offeredAfter);
    }
}

TEST(StatusJudging, VerdictsCodesAndTexts) {
    struct Case {
        int status;
        std::string reason;
        StatusContext context;
        StatusAction action;
        int code;
        std::string text;
    };
    const StatusContext plain{};
    const StatusContext never{.followRedirects = frNever, .hasLocation = true};
    const StatusContext located{.hasLocation = true};
    const Case cases[] = {
        {101, "Switching Protocols", plain, StatusAction::kSuccess, 0, ""},
        {200, "OK", plain, StatusAction::kSuccess, 0, ""},
        {299, "", plain, StatusAction::kSuccess, 0, ""},
        {404, "Not Found", plain, StatusAction::kFail, 151, "HTTP protocol error. 404 Not Found."},
        {500, "Oops.", plain, StatusAction::kFail, 151, "HTTP protocol error. 500 Oops."},
        {407, "Proxy Authentication Required", plain, StatusAction::kFail, 151,
         "Proxy error: HTTP protocol error. 407 Proxy Authentication Required."},
        {401, "Unauthorized", plain, StatusAction::kFail, 151, "HTTP protocol error. 401 Unauthorized."},
        {302, "Found", located, StatusAction::kRedirect, 151, "HTTP protocol error. 302 Found."},
        {307, "Temporary Redirect", located, StatusAction::kRedirect, 151,
         "HTTP protocol error. 307 Temporary Redirect."},
        {302, "Found", plain, StatusAction::kFail, 151,
         "HTTP protocol error. Expected header 'redirectlocation' was not found."},
        {302, "Found", never, StatusAction::kFail, 151, "HTTP protocol error. 302 Found."},
        {304, "Not Modified", located, StatusAction::kFail, 151, "HTTP protocol error. 304 Not Modified."},
        {305, "Use Proxy", located, StatusAction::kFail, 151, "HTTP protocol error. 305 Use Proxy."},
    };
    for (const auto& c : cases) {
        AuthRetries retries;
        const StatusVerdict verdict = judgeStatus(c.status, c.reason, c.context, retries);
        EXPECT_EQ(verdict.action, c.action) << c.status;
        if (c.action != StatusAction::kSuccess) {
            EXPECT_EQ(verdict.code, c.code) << c.status;
            EXPECT_EQ(verdict.text, c.text) << c.status;
        }
    }
}

TEST(StatusJudging, ChallengesAreAnsweredOnceThenFail) {
    AuthRetries retries;
    const StatusContext context{.answersChallenges = true, .answersProxyChallenges = true};
    EXPECT_EQ(judgeStatus(401, "Unauthorized", context, retries).action, StatusAction::kRetryWithAuth);
    const StatusVerdict second = judgeStatus(401, "Unauthorized", context, retries);
    EXPECT_EQ(second.action, StatusAction::kFail);
    EXPECT_EQ(second.code, 151);
    EXPECT_EQ(retries.server, 0) << "the counter is reset when it fails";
    EXPECT_EQ(judgeStatus(407, "Proxy Authentication Required", context, retries).action,
              StatusAction::kRetryWithProxyAuth);
    const StatusVerdict proxy = judgeStatus(407, "Proxy Authentication Required", context, retries);
    EXPECT_EQ(proxy.code, 157);
    EXPECT_EQ(proxy.text, "Proxy error: HTTP protocol error. 407 Proxy Authentication Required.");
}

}  // namespace
}  // namespace morvane::websocket
