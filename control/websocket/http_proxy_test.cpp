// The opening handshake through an HTTP proxy that takes the request itself:
// the connection is the proxy's, the request line names the whole URL, and
// Proxy-Authorization is built and answers the proxy's 407.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "control/transport/auth_settings.h"
#include "control/transport/http_auth.h"
#include "control/transport/http_authenticator.h"
#include "control/websocket/layer_stack.h"

namespace morvane {
namespace {

using testing::LayerStack;
using testing::requestHeader;
using testing::TestStream;

constexpr std::string_view upgrade = "UPGRADE";
constexpr std::string_view proxyRefusal =
    "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
    "Content-Length: 0\r\n\r\n";

struct ProxyStack : LayerStack {
    explicit ProxyStack(int scheme) {
        http.setProxyAuthenticator(&proxyAuth);
        proxy.proxyServer = "proxy.test";
        proxy.proxyPort = 3128;
        proxy.proxyUser = "ann";
        proxy.proxyPassword = "secret";
        proxy.proxyAuthScheme = scheme;
        // What the firewall layer leaves for a plain URL and a ProxyServer.
        Passage passage;
        passage.road = ProxyRoad::httpProxy;
        passage.host = "proxy.test";
        passage.port = 3128;
        proxy.passage = passage;
    }

    // The proxy answers each request head in turn; "UPGRADE" stands for the
    // server's 101. Every request is kept.
    void answer(std::deque<std::string> answers) {
        pending = std::move(answers);
        stream.setResponder([this](TestStream& peer, const std::string& written) {
            if (written.find("\r\n\r\n") == std::string::npos || pending.empty()) return;
            const std::string request = peer.takeWritten();
            requests.push_back(request);
            const std::string next = pending.front();
            pending.pop_front();
            peer.peerSends(next == upgrade ? testing::upgradeAnswer(request) : next);
        });
    }

    AuthSettings authSettings{EngineEnvironment{}};
    HttpAuthenticator proxyAuth{context, authSettings, "Proxy-Authorization", 157};
    std::deque<std::string> pending;
    std::vector<std::string> requests;
};

std::string digestAnswer() {
    const std::string ha1 = *auth::md5Hex("ann:r:secret");
    const std::string ha2 = *auth::md5Hex("GET:ws://peer.test:81/chat");
    return "Digest username=\"ann\", realm=\"r\", nonce=\"n\", uri=\"ws://peer.test:81/chat\", algorithm=\"md5\", "
           "response=\"" +
           *auth::md5Hex(ha1 + ":n:" + ha2) + "\"";
}

TEST(HttpProxyRoad, RequestsGoToTheProxyWithTheirCredentials) {
    struct Case {
        const char* what;
        int scheme;
        std::deque<std::string> answers;
        int code;
        std::vector<std::string> proxyAuthorizations;
    };
    const Case cases[] = {
        {"Basic, sent at once", authscheme::basic, {std::string(upgrade)}, 0, {"Basic YW5uOnNlY3JldA=="}},
        {"Digest, after the 407",
         authscheme::digest,
         {std::string(proxyRefusal), std::string(upgrade)},
         0,
         {"", digestAnswer()}},
        {"Digest refused twice",
         authscheme::digest,
         {std::string(proxyRefusal), std::string(proxyRefusal)},
         157,
         {"", digestAnswer()}},
        {"Basic is not retried", authscheme::basic, {std::string(proxyRefusal)}, 151, {"Basic YW5uOnNlY3JldA=="}},
    };
    for (const Case& c : cases) {
        ProxyStack stack(c.scheme);
        stack.answer(c.answers);
        EXPECT_EQ(stack.webSocket.connect("ws://peer.test:81/chat"), c.code) << c.what;
        EXPECT_EQ(stack.stream.host(), "proxy.test") << c.what;
        EXPECT_EQ(stack.stream.port(), 3128) << c.what;
        ASSERT_EQ(stack.requests.size(), c.proxyAuthorizations.size()) << c.what;
        for (std::size_t i = 0; i < stack.requests.size(); ++i) {
            const std::string& request = stack.requests[i];
            EXPECT_TRUE(request.starts_with("GET ws://peer.test:81/chat HTTP/1.1\r\nHost: peer.test:81\r\n"))
                << c.what << "\n"
                << request;
            EXPECT_EQ(requestHeader(request, "Proxy-Authorization"), c.proxyAuthorizations[i]) << c.what;
        }
        if (c.code != 0) {
            EXPECT_EQ(stack.context.lastErrorText(),
                      "Proxy error: HTTP protocol error. 407 Proxy Authentication Required.")
                << c.what;
        }
    }
}

}  // namespace
}  // namespace morvane
