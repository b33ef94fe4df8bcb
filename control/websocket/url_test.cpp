#include "control/websocket/url.h"

#include <gtest/gtest.h>

namespace morvane::websocket {
namespace {

struct Parsed {
    std::string scheme, host;
    bool ipv6;
    int port, defaultPort;
    std::string path, user, password;
};

void expectUrl(const Url& url, const Parsed& p, const std::string& label) {
    EXPECT_EQ(url.scheme, p.scheme) << label;
    EXPECT_EQ(url.host, p.host) << label;
    EXPECT_EQ(url.ipv6, p.ipv6) << label;
    EXPECT_EQ(url.port, p.port) << label;
    EXPECT_EQ(url.defaultPort, p.defaultPort) << label;
    EXPECT_EQ(url.path, p.path) << label;
    EXPECT_EQ(url.user, p.user) << label;
    EXPECT_EQ(url.password, p.password) << label;
}

TEST(UrlParse, ConnectUrls) {
    struct Case {
        std::string text;
        Parsed expected;
    };
    const Case cases[] = {
        {"ws://example.com/chat", {"ws", "example.com", false, 80, 80, "/chat", "", ""}},
        {"wss://example.com:8443", {"wss", "example.com", false, 8443, 443, "/", "", ""}},
        {"WSS://Example.com:443/", {"WSS", "Example.com", false, 443, 443, "/", "", ""}},
        {"ws://[::1]:9000/x", {"ws", "::1", true, 9000, 80, "/x", "", ""}},
        {"wss://[fe80::1%25eth0]/", {"wss", "fe80::1%25eth0", true, 443, 443, "/", "", ""}},
        {"ws://host?a=1", {"ws", "host", false, 80, 80, "/?a=1", "", ""}},
        {"ws://host/p?q=/x", {"ws", "host", false, 80, 80, "/p?q=/x", "", ""}},
        {"ws://user:pa:ss@host:81/", {"ws", "host", false, 81, 80, "/", "user", "pa:ss"}},
        {"ws://me@[::1]/", {"ws", "::1", true, 80, 80, "/", "me", ""}},
        {"http://h/", {"http", "h", false, 80, 80, "/", "", ""}},
        {"https://h/", {"https", "h", false, 443, 443, "/", "", ""}},
        {"127.0.0.1:9000/s", {"ws", "127.0.0.1", false, 9000, 80, "/s", "", ""}},
        // Ports that are not 1..65535 read as 0, which connecting refuses.
        {"ws://h:65536/", {"ws", "h", false, 0, 80, "/", "", ""}},
        {"ws://h:8x/", {"ws", "h", false, 0, 80, "/", "", ""}},
        {"ws://h:/", {"ws", "h", false, 80, 80, "/", "", ""}},
        {"ftp://h/", {"ftp", "h", false, 0, 0, "/", "", ""}},
        // No host is accepted here; the transaction refuses it.
        {"ws:///path", {"ws", "", false, 80, 80, "/path", "", ""}},
    };
    for (const auto& c : cases) {
        Url url;
        RedirectAllowance allowance;
        const UrlChange change = parseUrl(c.text, url, {}, allowance);
        EXPECT_EQ(change.code, 0) << c.text;
        expectUrl(url, c.expected, c.text);
        EXPECT_EQ(url.text, c.text);
        EXPECT_EQ(change.credentialsGiven, !c.expected.user.empty()) << c.text;
    }
}

TEST(UrlParse, EmptyUrlClearsAndRestoresTheDefaultPort) {
    Url url;
    RedirectAllowance allowance;
    parseUrl("wss://user:pw@h:9/p", url, {}, allowance);
    parseUrl("", url, {}, allowance);
    expectUrl(url, {"wss", "", false, 443, 443, "", "", ""}, "empty");
    EXPECT_TRUE(url.text.empty());
}

TEST(UrlParse, EndpointAndCookieFlagsFollowWhatChanged) {
    struct Case {
        std::string first, second;
        bool endpoint, hostOrPort;
    };
    const Case cases[] = {
        {"ws://h/a", "ws://h/b", false, false},    {"ws://h/a", "ws://H/b", false, false},
        {"ws://h/a", "wss://h:80/a", true, false}, {"ws://h/a", "ws://h:81/a", true, true},
        {"ws://h/a", "ws://g/a", true, true},
    };
    for (const auto& c : cases) {
        Url url;
        RedirectAllowance allowance;
        parseUrl(c.first, url, {}, allowance);
        const UrlChange change = parseUrl(c.second, url, {}, allowance);
        EXPECT_EQ(change.endpointChanged, c.endpoint) << c.second;
        EXPECT_EQ(change.hostOrPortChanged, c.hostOrPort) << c.second;
    }
}

// --- relative mode ------------------------------------------------------------

TEST(UrlRedirect, LocationsAreResolvedAgainstTheCurrentUrl) {
    struct Case {
        std::string location;
        std::string text;  // the absolute URL that results
        std::string path;
    };
    const Case cases[] = {
        {"/other?x=1", "ws://h:81/other?x=1", "/other?x=1"},
        {"next", "ws://h:81/dir/next", "/dir/next"},
        {"./next", "ws://h:81/dir/next", "/dir/next"},
        {"wss://g/z", "wss://g/z", "/z"},
        {"//g:82/z", "ws://g:82/z", "/z"},
    };
    for (const auto& c : cases) {
        Url url;
        RedirectAllowance allowance;
        parseUrl("ws://h:81/dir/page?q=a/b", url, {}, allowance);
        const UrlChange change = parseUrl(c.location, url, {.relative = true}, allowance);
        EXPECT_EQ(change.code, 0) << c.location;
        EXPECT_EQ(url.text, c.text) << c.location;
        EXPECT_EQ(url.path, c.path) << c.location;
        EXPECT_FALSE(change.hostOrPortChanged) << "cookies are kept across redirects";
    }
}

TEST(UrlRedirect, IdenticalTargetFailsUnlessAllowed) {
    Url url;
    RedirectAllowance allowance;
    parseUrl("ws://h/chat", url, {}, allowance);
    UrlChange change = parseUrl("ws://h/chat", url, {.relative = true}, allowance);
    EXPECT_EQ(change.code, 151);
    EXPECT_EQ(change.error, "Attempting to redirect to identical URL.  Aborting connection.");
    EXPECT_EQ(allowance.remaining(), 20) << "a refused target uses no redirect up";
    change = parseUrl("ws://h/chat", url, {.relative = true, .allowIdentical = true}, allowance);
    EXPECT_EQ(change.code, 0);
}

TEST(UrlRedirect, TheTwentyFirstRedirectFailsAndANewUrlResetsTheAllowance) {
    Url url;
    RedirectAllowance allowance;
    parseUrl("ws://h/0", url, {}, allowance);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_EQ(parseUrl("/" + std::to_string(i), url, {.relative = true}, allowance).code, 0) << i;
    }
    const UrlChange change = parseUrl("/21", url, {.relative = true}, allowance);
    EXPECT_EQ(change.code, 310);
    EXPECT_EQ(change.error, "There were too many redirects.");
    EXPECT_EQ(url.path, "/20") << "a failed parse leaves the URL as it was";
    parseUrl("ws://h/0", url, {.maxRedirectAttempts = 2}, allowance);
    EXPECT_EQ(allowance.remaining(), 2);
}

// --- encoding -------------------------------------------------------------------

TEST(UrlEncoding, PathAlwaysAndQueryOnRequest) {
    struct Case {
        std::string path;
        bool encodeQuery;
        std::string expected;
    };
    const Case cases[] = {
        {"/a b/ü", true, "/a%20b/%C3%BC"},
        {"/keep-._~!$&'()*+,;=:@/", true, "/keep-._~!$&'()*+,;=:@/"},
        {"/already%20done%zz", true, "/already%20done%25zz"},
        {"/p?q=a b&r=/?", true, "/p?q=a%20b&r=/?"},
        {"/p?q=a b", false, "/p?q=a b"},
        {"/frag#x", true, "/frag%23x"},
        {"/trailing%2", true, "/trailing%252"},
    };
    for (const auto& c : cases) EXPECT_EQ(encodeUrlPath(c.path, c.encodeQuery), c.expected) << c.path;
}

TEST(UrlEncoding, EncodeUrlAppliesWhileParsing) {
    Url url;
    RedirectAllowance allowance;
    parseUrl("ws://h/a b?c d", url, {.encodePath = true}, allowance);
    EXPECT_EQ(url.path, "/a%20b?c%20d");
    parseUrl("ws://h/a b?c d", url, {.encodePath = true, .encodeQuery = false}, allowance);
    EXPECT_EQ(url.path, "/a%20b?c d");
    parseUrl("ws://h/a b", url, {}, allowance);
    EXPECT_EQ(url.path, "/a b");
}

TEST(UrlHelpers, SchemeVerdictAndHostHeaderForm) {
    EXPECT_EQ(schemeOf("wss://h/"), "wss");
    EXPECT_EQ(schemeOf("/path://x"), "");
    EXPECT_EQ(schemeOf("relative"), "");
    EXPECT_TRUE(redirectVerdict(frAlways, "ws", "wss://x/"));
    EXPECT_FALSE(redirectVerdict(frSameScheme, "ws", "wss://x/"));
    EXPECT_TRUE(redirectVerdict(frSameScheme, "ws", "WS://x/"));
    EXPECT_TRUE(redirectVerdict(frSameScheme, "ws", "/relative"));
    EXPECT_FALSE(redirectVerdict(frNever, "ws", "ws://x/"));
    Url url;
    url.host = "fe80::1%eth0";
    url.ipv6 = true;
    EXPECT_EQ(hostForHeader(url), "[fe80::1]");
    EXPECT_TRUE(isRedirectStatus(302));
    EXPECT_FALSE(isRedirectStatus(304));
    EXPECT_FALSE(isRedirectStatus(305));
    EXPECT_TRUE(isRedirectStatus(307));
    EXPECT_FALSE(isRedirectStatus(400));
}

}  // namespace
}  // namespace morvane::websocket
