// The opening handshake against scripted raw servers: the request byte for
// byte, the checks of the 101, redirects with their policy, allowance and
// identical-URL rule, cookies, compressed bodies and the debug log.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "control/websocket/recording_events.h"
#include "control/websocket/scripted_peer.h"
#include "control/websocket/whole_engine.h"

namespace morvane {
namespace {

using testing::PeerConnection;
using testing::RecordingEvents;
using testing::ScriptedPeer;

class Engine : public testing::WholeEngine {
public:
    void offerProtocols(std::string_view protocols) { http().setSubProtocols(protocols); }
};

class HandshakeWireTest : public ::testing::Test {
protected:
    void SetUp() override { engine.setEventSink(&events); }
    RecordingEvents events;
    Engine engine;
};

std::string gzip(std::string_view text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, text.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST_F(HandshakeWireTest, RequestByteForByte) {
    ScriptedPeer server;
    std::string request;
    server.run([&](ScriptedPeer& peer) {
        auto connection = peer.accept();
        request = connection->acceptUpgrade();
        connection->echoClose();
    });
    engine.setOtherHeaders("X-Trace: 7\n\n");
    ASSERT_EQ(engine.connect(server.url("/chat?room=1")), 0) << engine.lastErrorText();
    ASSERT_EQ(engine.disconnect(), 0) << engine.lastErrorText();
    server.join();

    const std::string key = PeerConnection::keyOf(request);
    ASSERT_EQ(key.size(), 24u);
    EXPECT_TRUE(key.ends_with("=="));
    EXPECT_TRUE(std::regex_match(key, std::regex("[A-Za-z0-9+/]{22}==")));
    const std::string expected =
        "GET /chat?room=1 HTTP/1.1\r\n"
        "Host: 127.0.0.1:" +
        std::to_string(server.port()) +
        "\r\n"
        "User-Agent: QuillonWS Morvane 1.0\r\n"
        "Upgrade: websocket\r\n"
        "Connection: Upgrade\r\n"
        "Sec-WebSocket-Key: " +
        key +
        "\r\n"
        "Sec-WebSocket-Version: 13\r\n"
        "Origin: null\r\n"
        "X-Trace: 7\r\n"
        "\r\n";
    EXPECT_EQ(request, expected);
    // OtherHeaders keeps the line end it was sent with.
    EXPECT_EQ(engine.otherHeaders(), "X-Trace: 7\r\n");
    EXPECT_EQ(engine.setting("SentHeaders"), expected);
}

TEST_F(HandshakeWireTest, OriginProtocolsAndAnIPv6Host) {
    ScriptedPeer server(true);
    std::string request;
    server.run([&](ScriptedPeer& peer) {
        auto connection = peer.accept();
        request = connection->acceptUpgrade("Sec-WebSocket-Protocol: chat\r\n");
        connection->echoClose();
    });
    engine.set("UseIPv6=2");
    engine.setOrigin("http://app.example");
    engine.offerProtocols("SuperChat, CHAT");
    ASSERT_EQ(engine.connect("ws://[::1]:" + std::to_string(server.port()) + "/"), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Open);
    // The server's choice replaces the offer.
    EXPECT_EQ(engine.subProtocols(), "chat");
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    EXPECT_NE(request.find("\r\nHost: [::1]:" + std::to_string(server.port()) + "\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nSec-WebSocket-Protocol: SuperChat, CHAT\r\nOrigin: http://app.example\r\n\r\n"),
              std::string::npos)
        << request;
}

TEST_F(HandshakeWireTest, FailedChecksRaiseErrorAndClose1002) {
    struct Case {
        std::string_view name;
        std::string_view offered;
        std::string_view response;  // after the status line; {accept} stands for the right value
    };
    const Case cases[] = {
        {"wrong accept key", "",
         "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: dGhlIHNhbXBsZSBub25jZQ==\r\n"},
        {"protocol not offered", "",
         "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: {accept}\r\n"
         "Sec-WebSocket-Protocol: chat\r\n"},
        {"other protocol", "superchat",
         "Upgrade: websocket\r\nConnection: upgrade\r\nSec-WebSocket-Accept: {accept}\r\n"
         "Sec-WebSocket-Protocol: mqtt\r\n"},
        {"no upgrade header", "", "Connection: Upgrade\r\nSec-WebSocket-Accept: {accept}\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEvents sink;
        Engine client;
        client.setEventSink(&sink);
        client.offerProtocols(c.offered);
        ScriptedPeer server;
        std::optional<testing::ClientFrame> close;
        server.run([&](ScriptedPeer& peer) {
            auto connection = peer.accept();
            const auto request = connection->readRequest();
            if (!request) return;
            std::string response(c.response);
            if (const auto at = response.find("{accept}"); at != std::string::npos) {
                response.replace(at, 8, websocket::acceptValue(PeerConnection::keyOf(*request)));
            }
            connection->write("HTTP/1.1 101 Switching Protocols\r\n" + response + "\r\n");
            close = connection->echoClose();
            connection->waitForEnd();
        });
        ASSERT_EQ(client.connect(server.url()), 0) << client.lastErrorText();
        EXPECT_EQ(client.state(), WebSocketLayer::State::Closing);
        EXPECT_FALSE(client.connected());
        ASSERT_TRUE(testing::pumpUntil(client, [&] { return !client.socketOpen(); }));
        server.join();

        ASSERT_TRUE(close.has_value());
        EXPECT_TRUE(close->masked);
        EXPECT_EQ(close->payload, testing::closePayload(1002, "Protocol Error"));
        const std::vector<std::string> expected = {
            "Status Remote host connection complete. 0 OK",
            "Error 4003 Invalid handshake packet.",
            "Status Websocket connection broken. 1002 Protocol Error",
            // The reply reports the close record as it stood.
            "Status Websocket disconnected. 1000 Normal Closure",
            "Disconnected 1000 Normal Closure",
        };
        std::vector<std::string> seen;
        for (const auto& line : sink.log) {
            if (!line.starts_with("Header")) seen.push_back(line);
        }
        EXPECT_EQ(seen, expected);
        // A second Disconnect has nothing to do.
        EXPECT_EQ(client.disconnect(), 0);
    }
}

// Answers every request on one kept-alive connection with `respond(n, request)`,
// n counting from 1, until the connection ends or 101 is sent.
void serveRequests(ScriptedPeer& peer, std::vector<std::string>& requests,
                   const std::function<std::string(int, const std::string&)>& respond) {
    auto connection = peer.accept();
    for (int n = 1;; ++n) {
        const auto request = connection->readRequest();
        if (!request) return;
        requests.push_back(*request);
        const std::string response = respond(n, *request);
        connection->write(response);
        if (response.starts_with("HTTP/1.1 101")) {
            connection->echoClose();
            return;
        }
    }
}

std::string redirectTo(std::string_view location, std::string_view extra = {}) {
    return "HTTP/1.1 302 Found\r\nLocation: " + std::string(location) + "\r\n" + std::string(extra) +
           "Content-Length: 0\r\n\r\n";
}

std::string switching(const std::string& request) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           websocket::acceptValue(PeerConnection::keyOf(request)) + "\r\n\r\n";
}

std::string requestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

TEST_F(HandshakeWireTest, RedirectsWithinTheAllowanceAreFollowed) {
    ScriptedPeer server;
    std::vector<std::string> requests;
    server.run([&](ScriptedPeer& peer) {
        serveRequests(peer, requests, [](int n, const std::string& request) {
            if (n == 1) return redirectTo("/a/b?x=1");
            if (n == 2) return redirectTo("c");  // relative to /a/
            return switching(request);
        });
    });
    engine.set("FollowRedirects=0");  // Connect follows redirects whatever was set
    ASSERT_EQ(engine.connect(server.url("/start")), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Open);
    EXPECT_EQ(engine.followRedirects(), 1);
    EXPECT_EQ(engine.url(), server.url("/a/c"));
    EXPECT_EQ(engine.statusCode(), 101);
    EXPECT_TRUE(events.logged("Redirect /a/b?x=1 True"));
    EXPECT_TRUE(events.logged("Redirect c True"));
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requestLine(requests[0]), "GET /start HTTP/1.1");
    EXPECT_EQ(requestLine(requests[1]), "GET /a/b?x=1 HTTP/1.1");
    EXPECT_EQ(requestLine(requests[2]), "GET /a/c HTTP/1.1");
}

TEST_F(HandshakeWireTest, TheTwentyFirstRedirectFails) {
    // Each followed redirect runs ten wait steps; short ones keep this quick.
    engine.set("SelectWaitMillis=2");
    ScriptedPeer server;
    std::vector<std::string> requests;
    server.run([&](ScriptedPeer& peer) {
        serveRequests(peer, requests, [](int n, const std::string&) { return redirectTo("/r" + std::to_string(n)); });
    });
    EXPECT_EQ(engine.connect(server.url("/r0")), 310);
    EXPECT_EQ(engine.lastErrorText(), "There were too many redirects.");
    EXPECT_EQ(events.count("Redirect "), 20u);
    EXPECT_EQ(engine.action(), HttpLayer::Action::None);
    engine.socket().disconnect(0);
    server.join();
    EXPECT_EQ(requests.size(), 21u);

    // A new Connect starts with a new allowance.
    ScriptedPeer again;
    std::vector<std::string> moreRequests;
    again.run([&](ScriptedPeer& peer) {
        serveRequests(peer, moreRequests, [](int n, const std::string& request) {
            return n <= 20 ? redirectTo("/s" + std::to_string(n)) : switching(request);
        });
    });
    EXPECT_EQ(engine.connect(again.url("/s0")), 0) << engine.lastErrorText();
    ASSERT_EQ(engine.disconnect(), 0);
    again.join();
}

TEST_F(HandshakeWireTest, RedirectToTheSameUrl) {
    for (const bool allowIdentical : {false, true}) {
        SCOPED_TRACE(allowIdentical);
        RecordingEvents sink;
        Engine client;
        client.setEventSink(&sink);
        ScriptedPeer server;
        const std::string url = server.url("/same");
        std::vector<std::string> requests;
        server.run([&](ScriptedPeer& peer) {
            serveRequests(peer, requests, [&](int n, const std::string& request) {
                return n == 1 ? redirectTo(url) : switching(request);
            });
        });
        client.set(allowIdentical ? "AllowIdenticalRedirectURL=True" : "AllowIdenticalRedirectURL=False");
        const int code = client.connect(url);
        if (allowIdentical) {
            EXPECT_EQ(code, 0) << client.lastErrorText();
            EXPECT_EQ(client.disconnect(), 0);
        } else {
            EXPECT_EQ(code, 151);
            EXPECT_EQ(client.lastErrorText(), "Attempting to redirect to identical URL.  Aborting connection.");
            EXPECT_EQ(sink.count("Redirect "), 0u);
            client.socket().disconnect(0);
        }
        server.join();
        EXPECT_EQ(requests.size(), allowIdentical ? 2u : 1u);
    }
}

TEST_F(HandshakeWireTest, ARefusingRedirectHandlerStopsTheConnect) {
    ScriptedPeer server;
    std::vector<std::string> requests;
    server.run([&](ScriptedPeer& peer) {
        serveRequests(peer, requests, [](int, const std::string&) {
            return std::string("HTTP/1.1 307 Temporary Redirect\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n");
        });
    });
    events.onRedirect = [](const std::string&, bool) { return false; };
    EXPECT_EQ(engine.connect(server.url("/here")), 151);
    EXPECT_EQ(engine.lastErrorText(), "HTTP protocol error. 307 Temporary Redirect.");
    EXPECT_TRUE(events.logged("Redirect /elsewhere True"));
    // The Location has already become the URL.
    EXPECT_EQ(engine.url(), server.url("/elsewhere"));
    engine.socket().disconnect(0);
    server.join();
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(HandshakeWireTest, RedirectWithoutLocationAndOtherStatuses) {
    struct Case {
        std::string_view response;
        int code;
        std::string_view text;
        std::size_t requests = 1;
    };
    const Case cases[] = {
        {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", 151,
         "HTTP protocol error. Expected header 'redirectlocation' was not found."},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!", 151, "HTTP protocol error. 404 Not Found."},
        // Digest asks once more, with nothing to answer without a user, and
        // the second refusal ends the Connect.
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"x\", nonce=\"1\"\r\nContent-Length: 0\r\n\r\n",
         151, "HTTP protocol error. 401 Unauthorized.", 2},
        {"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n", 151,
         "Proxy error: HTTP protocol error. 407 Proxy Authentication Required."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.response);
        Engine client;
        client.setAuthScheme(1);
        ScriptedPeer server;
        std::vector<std::string> requests;
        server.run([&](ScriptedPeer& peer) {
            serveRequests(peer, requests, [&](int, const std::string&) { return std::string(c.response); });
        });
        EXPECT_EQ(client.connect(server.url()), c.code);
        EXPECT_EQ(client.lastErrorText(), c.text);
        client.socket().disconnect(0);
        server.join();
        EXPECT_EQ(requests.size(), c.requests);
        for (const std::string& request : requests) EXPECT_EQ(request.find("Authorization"), std::string::npos);
    }
}

TEST_F(HandshakeWireTest, CookiesHeadersAndARedirectToAnotherServer) {
    ScriptedPeer second;
    std::string secondRequest;
    second.run([&](ScriptedPeer& peer) {
        auto connection = peer.accept();
        secondRequest = connection->acceptUpgrade();
        connection->echoClose();
    });
    ScriptedPeer first;
    std::string firstRequest;
    const std::string target = second.url("/final");
    first.run([&](ScriptedPeer& peer) {
        auto connection = peer.accept();
        firstRequest = connection->readRequest().value_or("");
        // The server ends the connection after this response.
        connection->write(
            "HTTP/1.1 302 Found\r\n"
            "Set-Cookie: sid=abc123; Path=/; domain=127.0.0.1; Expires=Wed, 21 Oct 2037 07:28:00 GMT; "
            "Secure; HttpOnly\r\n"
            "Location: " +
            target +
            "\r\n"
            "Set-Cookie: lang=en\r\n"
            "Connection: close\r\n"
            "Content-Length: 0\r\n\r\n");
        connection->waitForEnd();
    });
    engine.addCookie("mine", "1");
    ASSERT_EQ(engine.connect(first.url("/login")), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.url(), target);
    EXPECT_EQ(engine.remotePort(), second.port());
    ASSERT_EQ(engine.disconnect(), 0);
    first.join();
    second.join();

    EXPECT_NE(firstRequest.find("\r\nCookie: mine=1\r\n"), std::string::npos) << firstRequest;
    EXPECT_NE(secondRequest.find("\r\nHost: 127.0.0.1:" + std::to_string(second.port()) + "\r\n"), std::string::npos);
    EXPECT_EQ(requestLine(secondRequest), "GET /final HTTP/1.1");
    // Cookies set on the way are sent on, after the caller's own.
    EXPECT_NE(secondRequest.find("\r\nCookie: mine=1; sid=abc123; lang=en\r\n"), std::string::npos) << secondRequest;

    const auto& cookies = engine.cookies();
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[1].name, "sid");
    EXPECT_EQ(cookies[1].value, "abc123");
    EXPECT_EQ(cookies[1].expiration, "Wed, 21 Oct 2037 07:28:00 GMT");
    EXPECT_EQ(cookies[1].domain, "127.0.0.1");
    EXPECT_EQ(cookies[1].path, "/");
    EXPECT_TRUE(cookies[1].secure);
    EXPECT_FALSE(cookies[1].addedByCaller);
    EXPECT_TRUE(cookies[0].addedByCaller);

    // Every header line raises Header as it arrives; a Set-Cookie line raises
    // SetCookie right after its Header, and Redirect comes once all are in.
    std::vector<std::string> handshake;
    for (const auto& line : events.log) {
        if (line.starts_with("Header") || line.starts_with("SetCookie") || line.starts_with("Redirect")) {
            handshake.push_back(line);
        }
        if (line.starts_with("Redirect")) break;
    }
    const std::vector<std::string> expected = {
        "Header Set-Cookie: sid=abc123; Path=/; domain=127.0.0.1; Expires=Wed, 21 Oct 2037 07:28:00 GMT; Secure; "
        "HttpOnly",
        "SetCookie sid|abc123|Wed, 21 Oct 2037 07:28:00 GMT|127.0.0.1|/|secure",
        "Header Location: " + target,
        "Header Set-Cookie: lang=en",
        "SetCookie lang|en||||",
        "Header Connection: close",
        "Header Content-Length: 0",
        "Redirect " + target + " True",
    };
    EXPECT_EQ(handshake, expected);
    // The response record is the last one's: the 101 of the second server.
    EXPECT_EQ(engine.statusLine(), "HTTP/1.1 101 Switching Protocols");
    EXPECT_EQ(engine.parsedHeaders().size(), 3u);
}

TEST_F(HandshakeWireTest, ACompressedBodyIsInflatedOnlyWhenAllowed) {
    const std::string body = "<html>upgrade refused: wrong path</html>";
    for (const bool allow : {true, false}) {
        SCOPED_TRACE(allow);
        RecordingEvents sink;
        Engine client;
        client.setEventSink(&sink);
        client.set(allow ? "AllowHTTPCompression=True" : "AllowHTTPCompression=False");
        ScriptedPeer server;
        std::vector<std::string> requests;
        const std::string packed = gzip(body);
        server.run([&](ScriptedPeer& peer) {
            serveRequests(peer, requests, [&](int, const std::string&) {
                return "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(packed.size()) +
                       "\r\n\r\n" + packed;
            });
        });
        // A success status that is not 101 ends the Connect without an error.
        EXPECT_EQ(client.connect(server.url()), 0) << client.lastErrorText();
        EXPECT_EQ(client.state(), WebSocketLayer::State::Closed);
        EXPECT_TRUE(sink.logged("Status Websocket connection broken. 200 OK"));
        EXPECT_EQ(client.setting("TransferredData"), allow ? body : packed);
        client.socket().disconnect(0);
        server.join();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].find("\r\nAccept-Encoding: gzip, deflate\r\n") != std::string::npos, allow);
    }
}

TEST_F(HandshakeWireTest, TheTransactionWritesItsLinesToTheDebugLog) {
    const auto log =
        std::filesystem::temp_directory_path() / ("morvane-handshake-" + std::to_string(::getpid()) + ".log");
    std::filesystem::remove(log);
    ScriptedPeer server;
    std::string request;
    server.run([&](ScriptedPeer& peer) {
        auto connection = peer.accept();
        request = connection->acceptUpgrade();
        connection->echoClose();
    });
    engine.set("LogDebugFile=" + log.string());
    const std::string url = server.url("/log");
    ASSERT_EQ(engine.connect(url), 0) << engine.lastErrorText();
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    std::ifstream file(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::filesystem::remove(log);
    const std::string stamp =
        "\\[" + std::to_string(engine.instanceNumber()) + "\\]\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ";
    const std::string quotedUrl = std::regex_replace(url, std::regex(R"([.?/])"), R"(\$&)");
    const std::regex lines(stamp + "URL: " + quotedUrl + "\r\n" + stamp + "HTTP Method: GET\r\n" + stamp +
                           "HTTP Version: 1\\.1\r\n" + stamp + "Sending Request: GET \\(HTTP 1\\.1\\) to " + quotedUrl +
                           "\r\n" + stamp + "RequestHeaders: GET /log HTTP/1\\.1\r\n");
    EXPECT_TRUE(std::regex_search(text, lines)) << text;
    // The request and the response travel as traffic blocks of their own.
    EXPECT_TRUE(std::regex_search(
        text, std::regex(stamp + "------SEND------\\(" + std::to_string(request.size()) + " bytes\\)\r\nGET /log")))
        << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(stamp + "------RECEIVE------\\(\\d+ bytes\\)\r\nHTTP/1\\.1 101")))
        << text;

    // With a proxy server set, the request line names it, its user and the
    // length of its password. The lines come before the URL is judged.
    Engine viaProxy;
    viaProxy.set("LogDebugFile=" + log.string());
    viaProxy.set("ProxyServer=proxy.example");
    viaProxy.set("ProxyPort=3128");
    viaProxy.set("ProxyUser=ann");
    viaProxy.set("ProxyPassword=secret");
    viaProxy.set("ProxyAuthScheme=4");
    EXPECT_EQ(viaProxy.connect("ws:///nohost"), 152);
    std::ifstream proxyFile(log, std::ios::binary);
    const std::string proxyText((std::istreambuf_iterator<char>(proxyFile)), std::istreambuf_iterator<char>());
    std::filesystem::remove(log);
    EXPECT_NE(proxyText.find("] Sending Request: GET (HTTP 1.1) to ws:///nohost via proxy server "
                             "'proxy.example:3128' with credentials 'ann\\6' (NTLM)\r\n"),
              std::string::npos)
        << proxyText;
}

}  // namespace
}  // namespace morvane
