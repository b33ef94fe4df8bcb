#include "control/websocket/cookies.h"

#include <gtest/gtest.h>

namespace morvane::websocket {
namespace {

TEST(SetCookie, FieldsFromTheHeaderValue) {
    struct Case {
        std::string header;
        Cookie expected;
    };
    const Case cases[] = {
        {"id=a3fWa", {"id", "a3fWa", "", "", "", false, false}},
        {"id=a3fWa; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Secure; HttpOnly",
         {"id", "a3fWa", "Wed, 21 Oct 2015 07:28:00 GMT", "", "", true, false}},
        {"s=1;domain=.example.com;PATH=/docs;secure", {"s", "1", "", ".example.com", "/docs", true, false}},
        {"eq=a=b; Path=/", {"eq", "a=b", "", "", "/", false, false}},
        {"novalue", {"novalue", "", "", "", "", false, false}},
        {"empty=; Max-Age=0", {"empty", "", "", "", "", false, false}},
    };
    for (const auto& c : cases) {
        const Cookie cookie = parseSetCookie(c.header);
        EXPECT_EQ(cookie.name, c.expected.name) << c.header;
        EXPECT_EQ(cookie.value, c.expected.value) << c.header;
        EXPECT_EQ(cookie.expiration, c.expected.expiration) << c.header;
        EXPECT_EQ(cookie.domain, c.expected.domain) << c.header;
        EXPECT_EQ(cookie.path, c.expected.path) << c.header;
        EXPECT_EQ(cookie.secure, c.expected.secure) << c.header;
        EXPECT_FALSE(cookie.added);
    }
}

TEST(CookieStore, RequestHeaderAndWhatSurvivesAHostChange) {
    CookieStore store;
    EXPECT_EQ(store.requestHeader(), "");
    store.add(parseSetCookie("a=1"));
    Cookie mine{"b", "2", "", "", "", false, true};
    store.add(mine);
    store.add(parseSetCookie("c=3; Secure"));
    EXPECT_EQ(store.requestHeader(), "a=1; b=2; c=3");
    store.keepOnlyAdded();
    EXPECT_EQ(store.requestHeader(), "b=2");
    EXPECT_EQ(store.size(), 1u);
}

}  // namespace
}  // namespace morvane::websocket
