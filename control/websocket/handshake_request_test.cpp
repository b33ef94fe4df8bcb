#include "control/websocket/handshake_request.h"

#include <gtest/gtest.h>

#include "control/websocket/accept_key.h"
#include "control/websocket/test_random.h"

namespace morvane::websocket {
namespace {

constexpr std::string_view kKey = "AAECAwQFBgcICQoLDA0ODw==";  // bytes 0..15

Url urlOf(std::string_view text) {
    Url url;
    RedirectAllowance allowance;
    parseUrl(text, url, {}, allowance);
    return url;
}

TEST(HandshakeRequest, KeyFromTheRandomSourceIs24Base64Characters) {
    CountingRandom random;
    EXPECT_EQ(makeWebSocketKey(random), std::string(kKey));
    for (int i = 0; i < 20; ++i) {
        const auto key = makeWebSocketKey(systemRandom());
        ASSERT_TRUE(key);
        EXPECT_EQ(key->size(), 24u);
        EXPECT_TRUE(key->ends_with("=="));
    }
    random.fail = true;
    EXPECT_FALSE(makeWebSocketKey(random));
}

TEST(HandshakeRequest, MinimalRequestByteForByte) {
    RequestFields fields;
    fields.userAgent = "Morvane WebSocket Control";
    EXPECT_EQ(buildUpgradeRequest(urlOf("ws://example.com/chat"), fields, kKey),
              "GET /chat HTTP/1.1\r\n"
              "Host: example.com\r\n"
              "User-Agent: Morvane WebSocket Control\r\n"
              "Upgrade: websocket\r\n"
              "Connection: Upgrade\r\n"
              "Sec-WebSocket-Key: AAECAwQFBgcICQoLDA0ODw==\r\n"
              "Sec-WebSocket-Version: 13\r\n"
              "Origin: null\r\n"
              "\r\n");
}

TEST(HandshakeRequest, EveryHeaderInItsPlace) {
    RequestFields fields;
    fields.authorization = "Basic dTpw";
    fields.proxyAuthorization = "Basic cHg=";
    fields.accept = "*/*";
    fields.allowHttpCompression = true;
    fields.from = "me@example.com";
    fields.userAgent = "UA";
    fields.ifModifiedSince = "Sat, 1 Jan 2000 00:00:00 GMT";
    fields.referer = "http://r/";
    fields.pragma = "no-cache";
    fields.range = "0-99";
    fields.cookieList = "a=1; b=2";
    fields.keepAlive = false;
    fields.subProtocols = "chat, superchat";
    fields.origin = "http://o";
    fields.otherHeaders = "X-One: 1\r\nX-Two: 2\n\n";
    EXPECT_EQ(buildUpgradeRequest(urlOf("wss://h:8443"), fields, kKey),
              "GET / HTTP/1.1\r\n"
              "Host: h:8443\r\n"
              "Authorization: Basic dTpw\r\n"
              "Proxy-Authorization: Basic cHg=\r\n"
              "Accept: */*\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "From: me@example.com\r\n"
              "User-Agent: UA\r\n"
              "If-Modified-Since: Sat, 1 Jan 2000 00:00:00 GMT\r\n"
              "Referer: http://r/\r\n"
              "Pragma: no-cache\r\n"
              "Range: bytes=0-99\r\n"
              "Cookie: a=1; b=2\r\n"
              "Connection: close\r\n"
              "Upgrade: websocket\r\n"
              "Connection: Upgrade\r\n"
              "Sec-WebSocket-Key: AAECAwQFBgcICQoLDA0ODw==\r\n"
              "Sec-WebSocket-Version: 13\r\n"
              "Sec-WebSocket-Protocol: chat, superchat\r\n"
              "Origin: http://o\r\n"
              "X-One: 1\r\nX-Two: 2\r\n"
              "\r\n");
}

std::string firstLines(const std::string& request, int count) {
    std::size_t end = 0;
    for (int i = 0; i < count; ++i) end = request.find("\r\n", end) + 2;
    return request.substr(0, end);
}

TEST(HandshakeRequest, RequestLineAndHostFollowTheUrlAndTheSettings) {
    struct Case {
        std::string url;
        RequestFields fields;
        std::string expected;  // request line and the line after it
    };
    RequestFields absolute;
    absolute.absoluteUri = true;
    RequestFields proxy;
    proxy.viaHttpProxy = true;
    RequestFields ownHost;
    ownHost.otherHeaders = "Host: custom\r\n";
    RequestFields http10;
    http10.httpVersion = "1.0";
    http10.accept = "a";
    const Case cases[] = {
        {"wss://h:443/x", {}, "GET /x HTTP/1.1\r\nHost: h\r\n"},
        {"ws://h:443/x", {}, "GET /x HTTP/1.1\r\nHost: h:443\r\n"},
        {"ws://[::1]:9000/", {}, "GET / HTTP/1.1\r\nHost: [::1]:9000\r\n"},
        {"ws://[fe80::1%eth0]/", {}, "GET / HTTP/1.1\r\nHost: [fe80::1]\r\n"},
        {"ws://h/q?a=1", absolute, "GET ws://h/q?a=1 HTTP/1.1\r\nUpgrade: websocket\r\n"},
        {"ws://h:81/q", proxy, "GET ws://h:81/q HTTP/1.1\r\nHost: h:81\r\n"},
        {"ws://h/q", proxy, "GET ws://h/q HTTP/1.1\r\nHost: h\r\n"},
        {"ws://h/", ownHost, "GET / HTTP/1.1\r\nUpgrade: websocket\r\n"},
        {"ws://h/", http10, "GET / HTTP/1.0\r\nHost: h\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(firstLines(buildUpgradeRequest(urlOf(c.url), c.fields, kKey), 2), c.expected) << c.url;
    }
    const std::string request = buildUpgradeRequest(urlOf("ws://h/"), http10, kKey);
    EXPECT_NE(request.find("Accept: a\r\nConnection: Keep-Alive\r\nUpgrade: websocket\r\n"), std::string::npos);
}

TEST(HandshakeRequest, RawCookieTextWinsOverTheCookieList) {
    RequestFields fields;
    fields.httpCookies = "raw=1";
    fields.cookieList = "listed=2";
    const std::string request = buildUpgradeRequest(urlOf("ws://h/"), fields, kKey);
    EXPECT_NE(request.find("\r\nCookie: raw=1\r\n"), std::string::npos);
    EXPECT_EQ(request.find("listed"), std::string::npos);
}

TEST(HandshakeRequest, OtherHeadersLineEndsAreNormalised) {
    EXPECT_EQ(normalizeOtherHeaders("X: 1\n\n"), "X: 1\r\n");
    EXPECT_EQ(normalizeOtherHeaders("X: 1\r\n\r\n\r\n"), "X: 1\r\n");
    EXPECT_EQ(normalizeOtherHeaders("X: 1"), "X: 1\r\n");
    EXPECT_EQ(normalizeOtherHeaders("\r\n"), "");
    EXPECT_EQ(normalizeOtherHeaders(""), "");
}

// --- the accept value ---------------------------------------------------------

TEST(AcceptKey, KnownVectorsOfSha1AndTheProtocolsExample) {
    // The sample handshake of the WebSocket protocol.
    EXPECT_EQ(acceptValue("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(acceptDigest("dGhlIHNhbXBsZSBub25jZQ==").size(), 20u);
}

TEST(Base64, RoundTripsAndRejectsMalformedText) {
    struct Case {
        std::string plain, encoded;
    };
    const Case cases[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                          {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\0\xff\xfe", 3), "AP/+"}};
    for (const auto& c : cases) {
        EXPECT_EQ(base64Encode({reinterpret_cast<const std::uint8_t*>(c.plain.data()), c.plain.size()}), c.encoded);
        EXPECT_EQ(base64Decode(c.encoded), c.plain);
    }
    for (std::string_view bad : {"Zg=", "Zg=a", "Z===", "Zm9v!A==", "=AAA", "Zg==Zg=="}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
}

}  // namespace
}  // namespace morvane::websocket
