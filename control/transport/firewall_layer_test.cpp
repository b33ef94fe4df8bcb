#include "control/transport/firewall_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/engine/test_stream.h"
#include "control/transport/auth_settings.h"
#include "control/transport/http_auth.h"
#include "control/websocket/recording_events.h"

namespace morvane {
namespace {

using namespace std::string_literals;

// The layer above: records what the firewall layer reports.
class UpperLayer final : public StreamListener {
public:
    std::vector<int> connects;
    std::string received;
    std::vector<int> closes;

    void streamConnected(int code) override { connects.push_back(code); }
    int streamReceived(std::span<const std::uint8_t> bytes, bool) override {
        received.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return 0;
    }
    void streamReadyToSend() override {}
    void streamClosed(int code, const std::string&) override { closes.push_back(code); }
};

struct Stack {
    Stack() {
        context.setEventSink(&events);
        layer.setListener(&upper);
        settings.systemSource = [] { return SystemProxy{}; };
    }
    ~Stack() { context.setEventSink(nullptr); }

    int connect(std::string_view host = "relay.example", int port = 443) {
        const int code = layer.connect(host, port);
        stream.play();
        return code;
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> found;
        for (const std::string& line : events.log) {
            if (line.starts_with("Status Firewall")) found.push_back(line.substr(7));
        }
        return found;
    }

    EngineContext context;
    testing::RecordingEvents events;
    testing::TestStream stream{context};
    ProxySettings settings;
    AuthSettings authSettings{EngineEnvironment{}};
    HttpAuthenticator proxyAuth{context, authSettings, "Proxy-Authorization", 157};
    std::string userAgent;
    FirewallLayer layer{context, stream, settings, &proxyAuth, [this] { return userAgent; }};
    UpperLayer upper;
};

TEST(FirewallLayerTest, BytesBehindTheProxysReplyAreTheConnectionsFirst) {
    struct Case {
        int kind;
        std::string reply;
    };
    const Case cases[] = {
        {firewall_kind::tunnel, "HTTP/1.1 200 Connection established\r\n\r\n"},
        {firewall_kind::socks4, "\x00\x5A\x00\x00\x00\x00\x00\x00"s},
        {firewall_kind::socks5, "\x05\x00\x05\x00\x00\x01\x7F\x00\x00\x01\x01\xBB"s},
        {firewall_kind::tunnelDigest, "HTTP/1.0 200 OK\r\n\r\n"},
    };
    for (const Case& c : cases) {
        Stack stack;
        stack.settings.firewallHost = "127.0.0.1";
        stack.settings.setFirewallType(c.kind);
        stack.stream.peerSends(c.reply + "SERVER HELLO");
        ASSERT_EQ(stack.connect("127.0.0.1", 443), 0);
        EXPECT_EQ(stack.upper.connects, std::vector<int>{0}) << c.kind;
        EXPECT_EQ(stack.upper.received, "SERVER HELLO") << c.kind;
        EXPECT_TRUE(stack.layer.isConnected());
        EXPECT_EQ(stack.statuses(), std::vector<std::string>{"Firewall connection complete. 0 OK"});
        // Once the passage stands, bytes pass straight up.
        stack.stream.peerSends("more");
        stack.stream.play();
        EXPECT_EQ(stack.upper.received, "SERVER HELLOmore") << c.kind;
    }
}

TEST(FirewallLayerTest, RefusedTunnelFailsWith118AndClosesTheSocket) {
    Stack stack;
    stack.settings.firewallHost = "proxy";
    stack.settings.setFirewallType(firewall_kind::tunnel);
    stack.settings.firewallUser = "u";
    stack.userAgent = "Agent/2";
    stack.stream.peerSends("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n");
    stack.stream.setOneBytePerRead(true);
    ASSERT_EQ(stack.connect(), 0);
    EXPECT_EQ(stack.stream.written(),
              "CONNECT relay.example:443 HTTP/1.0\r\nProxy-Authorization: Basic dTo=\r\nUser-Agent: Agent/2\r\n\r\n");
    EXPECT_EQ(stack.upper.connects, std::vector<int>{118});
    EXPECT_EQ(stack.context.lastErrorCode(), 118);
    EXPECT_EQ(stack.context.lastErrorText(), "Firewall error. HTTP/1.1 407 Proxy Authentication Required.");
    EXPECT_TRUE(stack.events.logged("Error 118 Firewall error. HTTP/1.1 407 Proxy Authentication Required."));
    EXPECT_FALSE(stack.stream.isOpen());
    EXPECT_TRUE(stack.upper.closes.empty());
    // The layer's own close is no disconnection by the proxy.
    EXPECT_EQ(stack.statuses(), std::vector<std::string>{"Firewall connection complete. 0 OK"});
}

TEST(FirewallLayerTest, ConnectionStatusTexts) {
    struct Case {
        const char* what;
        bool refuseConnect;
        std::string reply;
        bool peerCloses;
        std::vector<std::string> statuses;
        std::vector<int> connects;
        std::vector<int> closes;
    };
    const Case cases[] = {
        {"socket connect fails",
         true,
         "",
         false,
         {"Firewall connection failed. 10061 [10061] Connection refused"},
         {10061},
         {}},
        {"proxy drops the socket while negotiating",
         false,
         "\x05"s,
         true,
         {"Firewall connection complete. 0 OK", "Firewall host disconnected. 0 OK"},
         {118},
         {}},
        {"proxy drops an established passage",
         false,
         "\x05\x00\x05\x00\x00\x01\x7F\x00\x00\x01\x01\xBB"s,
         true,
         {"Firewall connection complete. 0 OK", "Firewall host disconnected. 0 OK"},
         {0},
         {0}},
    };
    for (const Case& c : cases) {
        Stack stack;
        stack.settings.firewallHost = "proxy";
        stack.settings.setFirewallType(firewall_kind::socks5);
        if (c.refuseConnect) stack.stream.failConnect(1, 10061);
        if (!c.reply.empty()) stack.stream.peerSends(c.reply);
        if (c.peerCloses) stack.stream.peerCloses();
        ASSERT_EQ(stack.connect("*relay.example"), 0) << c.what;
        EXPECT_EQ(stack.statuses(), c.statuses) << c.what;
        EXPECT_EQ(stack.upper.connects, c.connects) << c.what;
        EXPECT_EQ(stack.upper.closes, c.closes) << c.what;
        if (c.connects.front() == 118) {
            EXPECT_EQ(stack.context.lastErrorText(), "Firewall host disconnected.");
        }
    }
}

TEST(FirewallLayerTest, UnknownProxySchemeIsRefusedAtConnect) {
    Stack stack;
    stack.settings.proxyServer = "proxy";
    stack.settings.proxyAuthScheme = 2;
    stack.layer.setScheme("wss", true);
    EXPECT_EQ(stack.connect(), 153);
    EXPECT_EQ(stack.context.lastErrorText(), "Unknown proxy authentication scheme.");
    EXPECT_EQ(stack.stream.connects(), 0);
}

TEST(FirewallLayerTest, OtherRoadsPassThrough) {
    struct Case {
        const char* what;
        std::string exceptions;
        bool secure;
        ProxyRoad road;
    };
    const Case cases[] = {
        {"plain URL through the HTTP proxy", "", false, ProxyRoad::httpProxy},
        {"bypassed host", "*.example", true, ProxyRoad::direct},
    };
    for (const Case& c : cases) {
        Stack stack;
        stack.settings.proxyServer = "proxy";
        stack.settings.proxyExceptionsList = c.exceptions;
        stack.layer.setScheme(c.secure ? "wss" : "ws", c.secure);
        stack.stream.peerSends("HTTP/1.1 101 Switching Protocols\r\n\r\n");
        ASSERT_EQ(stack.connect(), 0) << c.what;
        ASSERT_TRUE(stack.settings.passage) << c.what;
        EXPECT_EQ(stack.settings.passage->road, c.road) << c.what;
        EXPECT_EQ(stack.upper.connects, std::vector<int>{0}) << c.what;
        EXPECT_EQ(stack.upper.received, "HTTP/1.1 101 Switching Protocols\r\n\r\n") << c.what;
        EXPECT_TRUE(stack.statuses().empty()) << c.what;
        EXPECT_EQ(stack.stream.host(), "relay.example") << c.what;
    }
}

TEST(FirewallLayerTest, HeldBytesWaitForTheLayerAbove) {
    Stack stack;
    stack.settings.firewallHost = "proxy";
    stack.settings.setFirewallType(firewall_kind::tunnel);
    // The layer above does not take data while the passage is negotiated;
    // the negotiation reads the proxy's reply all the same.
    stack.layer.setAcceptData(false);
    stack.stream.peerSends("HTTP/1.0 200 OK\r\n\r\nEARLY");
    ASSERT_EQ(stack.connect(), 0);
    EXPECT_EQ(stack.upper.connects, std::vector<int>{0});
    EXPECT_EQ(stack.upper.received, "");
    EXPECT_FALSE(stack.stream.acceptData());
    stack.layer.setAcceptData(true);
    EXPECT_EQ(stack.upper.received, "EARLY");
}

TEST(FirewallLayerTest, SendsWaitForThePassage) {
    Stack stack;
    stack.settings.firewallHost = "proxy";
    stack.settings.setFirewallType(firewall_kind::tunnel);
    stack.layer.connect("relay.example", 443);
    stack.stream.play(1);
    const std::string data = "GET";
    EXPECT_EQ(stack.layer.send({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}), 10057);
    EXPECT_TRUE(stack.layer.negotiating());
    EXPECT_EQ(stack.layer.negotiationStep(), 1);
}

TEST(FirewallLayerTest, DigestTunnelAnswersTheProxysChallenge) {
    Stack stack;
    stack.settings.proxyServer = "proxy";
    stack.settings.proxyPort = 3128;
    stack.settings.proxyUser = "ann";
    stack.settings.proxyPassword = "secret";
    stack.settings.proxyAuthScheme = 1;
    stack.layer.setScheme("wss", true);
    stack.stream.peerSends(
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Digest realm=\"r\", nonce=\"n0\"\r\n"
        "Content-Length: 4\r\n\r\nbody");
    stack.stream.peerSends("HTTP/1.1 200 Connection established\r\n\r\n");
    ASSERT_EQ(stack.connect("relay.example", 8443), 0);
    EXPECT_EQ(stack.settings.passage->kind, firewall_kind::tunnelDigest);
    EXPECT_EQ(stack.upper.connects, std::vector<int>{0});
    const std::string ha1 = *auth::md5Hex("ann:r:secret");
    const std::string ha2 = *auth::md5Hex("CONNECT:relay.example:8443");
    const std::string response = *auth::md5Hex(ha1 + ":n0:" + ha2);
    const std::string head =
        "CONNECT relay.example:8443 HTTP/1.0\r\nHost: relay.example:8443\r\nContent-Length: "
        "0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache";
    EXPECT_EQ(stack.stream.written(), head + "\r\n\r\n" + head +
                                          "\r\nProxy-Authorization: Digest username=\"ann\", realm=\"r\", "
                                          "nonce=\"n0\", uri=\"relay.example:8443\", response=\"" +
                                          response + "\"\r\n\r\n");
}

TEST(FirewallLayerTest, ProxyAutoDetectTakesTheSystemsProxyForTheScheme) {
    Stack stack;
    stack.settings.systemSource = [] {
        SystemProxy system;
        system.found = true;
        system.proxyEnable = 1;
        system.proxyServer = "http=plain:3128;https=secure:3129";
        system.proxyOverride = "<local>";
        return system;
    };
    stack.settings.setProxyAutoDetect(true);
    stack.layer.setScheme("wss", true);
    const Passage secure = stack.layer.prepare("relay.example", 443);
    EXPECT_EQ(secure.road, ProxyRoad::firewall);
    EXPECT_EQ(secure.kind, firewall_kind::tunnel);
    EXPECT_EQ(secure.host, "secure");
    EXPECT_EQ(secure.port, 3129);
    stack.layer.setScheme("ws", false);
    const Passage plain = stack.layer.prepare("relay.example", 80);
    EXPECT_EQ(plain.road, ProxyRoad::httpProxy);
    EXPECT_EQ(plain.host, "plain");
    EXPECT_EQ(stack.layer.prepare("intranet", 80).road, ProxyRoad::direct);
}

}  // namespace
}  // namespace morvane
