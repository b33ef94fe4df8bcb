#include "bridge/feed/feed_request.h"

#include <gtest/gtest.h>

namespace taltrix::feed {
namespace {

struct TargetCase {
    std::string_view target;
    int refusal;  // 0: read
    Route route = Route::status;
    int limit = 50;
    std::optional<std::string> since = std::nullopt;
    bool metric = false;
};

TEST(FeedRequestTest, TargetsAreReadOrRefused) {
    const TargetCase cases[] = {
        {"/api/status", 0, Route::status},
        {"/api/status?anything=at%20all", 0, Route::status},
        {"/api/shots", 0, Route::shots},
        {"/api/shots?limit=1", 0, Route::shots, 1},
        {"/api/shots?limit=1000&since=2025-12-08", 0, Route::shots, 1000, "2025-12-08"},
        {"/api/shots?since=2025-12-08T14%3A30&&cache=7", 0, Route::shots, 50, "2025-12-08T14:30"},
        {"/api/shots?since=2025+12", 0, Route::shots, 50, "2025 12"},
        {"/api/live", 0, Route::live},
        {"/overlay", 0, Route::overlay},
        {"/overlay?units=metric", 0, Route::overlay, 50, std::nullopt, true},
        {"/overlay?units=imperial", 0, Route::overlay},
        {"/overlay?limit=0", 0, Route::overlay},  // not a parameter of the overlay
        {"/", 404},
        {"/api/status/", 404},
        {"/API/STATUS", 404},
        {"/api/shots/../status", 404},
        {"", 400},
        {"http://127.0.0.1:5880/api/status", 400},
        {"/api/status#top", 400},
        {"/api/shots?limit=0", 400},
        {"/api/shots?limit=1001", 400},
        {"/api/shots?limit=-5", 400},
        {"/api/shots?limit=5x", 400},
        {"/api/shots?limit=", 400},
        {"/api/shots?limit=99999999999", 400},
        {"/api/shots?limit=5&limit=6", 400},
        {"/api/shots?since=", 400},
        {"/api/shots?since=a&since=b", 400},
        {"/api/shots?since=%2", 400},
        {"/api/shots?since=%zz", 400},
        {"/api/shots?%=1", 400},
        {"/overlay?units=kelvin", 400},
        {"/overlay?units=metric&units=metric", 400},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(std::string(c.target));
        const auto read = readTarget(c.target);
        if (c.refusal != 0) {
            ASSERT_TRUE(std::holds_alternative<Refusal>(read));
            EXPECT_EQ(std::get<Refusal>(read).status, c.refusal);
            EXPECT_FALSE(std::get<Refusal>(read).message.empty());
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<FeedTarget>(read)) << std::get<Refusal>(read).message;
        const FeedTarget& target = std::get<FeedTarget>(read);
        EXPECT_EQ(target.route, c.route);
        EXPECT_EQ(target.limit, c.limit);
        EXPECT_EQ(target.since, c.since);
        EXPECT_EQ(target.metric, c.metric);
    }
}

TEST(FeedRequestTest, OnlyTheFeedsOwnHostAndOriginAreItsOwn) {
    const struct {
        std::string_view host;
        std::uint16_t port;
        bool own;
    } hosts[] = {
        {"127.0.0.1:5880", 5880, true},   {"localhost:5880", 5880, true},   {"LocalHost:5880", 5880, true},
        {"[::1]:5880", 5880, true},       {"127.0.0.1", 80, true},          {"[::1]", 80, true},
        {"127.0.0.1", 5880, false},       {"127.0.0.1:5881", 5880, false},  {"127.0.0.1:", 5880, false},
        {"127.0.0.1:5880x", 5880, false}, {"evil.example:5880", 5880, false}, {"127.0.0.2:5880", 5880, false},
        {"localhost.evil:5880", 5880, false}, {"", 5880, false},        {":5880", 5880, false},
    };
    for (const auto& h : hosts) {
        EXPECT_EQ(isOwnHost(h.host, h.port), h.own) << h.host;
        EXPECT_EQ(isOwnOrigin("http://" + std::string(h.host), h.port), h.own) << h.host;
    }
    EXPECT_TRUE(isOwnOrigin("HTTP://127.0.0.1:5880", 5880));
    for (const std::string_view origin : {"https://127.0.0.1:5880", "null", "http://", "127.0.0.1:5880",
                                          "http://127.0.0.1:5880/", "file://"}) {
        EXPECT_FALSE(isOwnOrigin(origin, 5880)) << origin;
    }
}

}  // namespace
}  // namespace taltrix::feed
