// Server authentication in the opening handshake, over the in-memory stream:
// what each scheme puts in the first request, how a 401 is answered once and
// a second one ends the Connect, how a Digest challenge carries over to later
// requests to the same server, and what the debug log says.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "control/transport/auth_settings.h"
#include "control/transport/http_auth.h"
#include "control/transport/http_authenticator.h"
#include "control/websocket/accept_key.h"
#include "control/websocket/layer_stack.h"

namespace morvane {
namespace {

using testing::LayerStack;
using testing::requestHeader;
using testing::TestStream;
using testing::upgradeAnswer;

constexpr std::string_view unauthorized = "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n";

std::string refusal(std::string_view challenge, std::string_view extra = {}) {
    return std::string(unauthorized) + "WWW-Authenticate: " + std::string(challenge) + "\r\n" + std::string(extra) +
           "\r\n";
}

// The layers with the authenticator wired as the engine wires it, and a
// server that answers each request as `respond` says.
struct AuthStack : LayerStack {
    AuthSettings settings{EngineEnvironment{}};
    HttpAuthenticator authenticator{context, settings, "Authorization", 151};
    std::vector<std::string> requests;

    AuthStack(int scheme, std::string_view user, std::string_view password) {
        http.setAuthenticator(&authenticator, {});
        http.setAuthScheme(scheme);
        http.setUser(user);
        http.setPassword(password);
    }

    void serve(std::function<std::string(int n, const std::string& request)> respond) {
        stream.setResponder([this, respond = std::move(respond)](TestStream& peer, const std::string& written) {
            if (written.find("\r\n\r\n") == std::string::npos) return;
            requests.push_back(peer.takeWritten());
            const std::string answer = respond(static_cast<int>(requests.size()), requests.back());
            if (answer.starts_with("HTTP/1.1 101")) peer.setResponder({});
            peer.peerSends(answer);
        });
    }

    std::string authorization(std::size_t n) const { return requestHeader(requests.at(n), "Authorization"); }
};

// One field of a Digest answer, quoted or not.
std::string digestField(const std::string& value, const std::string& name) {
    std::smatch match;
    if (std::regex_search(value, match, std::regex("[ ,]" + name + "=(\"([^\"]*)\"|([^,]*))"))) {
        return match[2].matched ? match[2].str() : match[3].str();
    }
    return "<none>";
}

// The response an RFC 2617 server expects for this answer to a GET.
std::string expectedDigestResponse(const std::string& value, const std::string& password) {
    const auto field = [&](const char* name) { return digestField(value, name); };
    std::string ha1 = *auth::md5Hex(field("username") + ":" + field("realm") + ":" + password);
    if (field("algorithm") == "MD5-sess") ha1 = *auth::md5Hex(ha1 + ":" + field("nonce") + ":" + field("cnonce"));
    const std::string a2 = "GET:" + field("uri") + (field("qop") == "auth-int" ? ":" + *auth::md5Hex("") : "");
    return *auth::md5Hex(ha1 + ":" + field("nonce") + ":" + field("nc") + ":" + field("cnonce") + ":" + field("qop") +
                         ":" + *auth::md5Hex(a2));
}

std::string base64Of(const std::vector<std::uint8_t>& bytes) { return websocket::base64Encode(bytes); }

// An NTLM challenge message with no target name and a target information
// list that holds only its closing entry.
std::string ntlmChallenge(std::uint32_t type, std::uint32_t flags, std::string_view signature = "NTLMSSP") {
    std::vector<std::uint8_t> m(signature.begin(), signature.end());
    m.resize(8);
    const auto put = [&m](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) m.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(type, 4);
    put(0, 2), put(0, 2), put(48, 4);  // target name
    put(flags, 4);
    m.insert(m.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    m.resize(m.size() + 8);
    put(4, 2), put(4, 2), put(48, 4);  // target information: MsvAvEOL alone
    m.resize(52);
    return "NTLM " + base64Of(m);
}

constexpr std::uint32_t ntlmUsable = 0x1 | 0x200 | 0x800000;  // Unicode, NTLM, target information

// The NTLM message type inside an "NTLM " value, or 0.
int ntlmType(const std::string& value) {
    if (!value.starts_with("NTLM ")) return 0;
    const auto bytes = websocket::base64Decode(value.substr(5));
    return bytes && bytes->size() >= 12 && bytes->starts_with(std::string_view("NTLMSSP\0", 8))
               ? static_cast<unsigned char>((*bytes)[8])
               : 0;
}

TEST(HandshakeAuthTest, WhatTheFirstRequestCarries) {
    struct Case {
        int scheme;
        std::string_view user, password, preset;
        std::optional<std::string_view> sent;
    };
    const Case cases[] = {
        {authscheme::basic, "u", "", "", "Basic dTo="},
        {authscheme::basic, "", "p", "", "Basic OnA="},
        {authscheme::basic, "", "", "", std::nullopt},
        {authscheme::basic, "", "", "Basic given", "Basic given"},
        {authscheme::oauth, "ann", "pw", "Bearer tok.en", "Bearer tok.en"},
        {authscheme::proprietary, "ann", "pw", "Custom 1", "Custom 1"},
        {authscheme::oauth, "ann", "pw", "", std::nullopt},
        {authscheme::none, "ann", "pw", "", std::nullopt},
        // Digest has nothing to answer before the server's challenge.
        {authscheme::digest, "ann", "pw", "", std::nullopt},
        {authscheme::digest, "", "", "Digest given", "Digest given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.scheme) + " " + std::string(c.user) + ":" + std::string(c.password));
        AuthStack stack(c.scheme, c.user, c.password);
        stack.http.setAuthorization(c.preset);
        stack.serve([](int, const std::string& request) { return upgradeAnswer(request); });
        ASSERT_EQ(stack.webSocket.connect("ws://peer.test/"), 0) << stack.context.lastErrorText();
        ASSERT_EQ(stack.requests.size(), 1u);
        const bool hasHeader = stack.requests[0].find("\r\nAuthorization: ") != std::string::npos;
        EXPECT_EQ(hasHeader, c.sent.has_value()) << stack.requests[0];
        if (c.sent) {
            EXPECT_EQ(stack.authorization(0), *c.sent);
        }
    }
}

TEST(HandshakeAuthTest, DigestAnswersTheChallengeOnce) {
    struct Case {
        std::string_view challenge;
        std::string_view qop, algorithm;
    };
    const Case cases[] = {
        {"Digest realm=\"r\", nonce=\"n1\", qop=\"auth-int,auth\"", "auth-int", "md5"},
        {"Digest realm=\"r\", nonce=\"n1\", qop=\"auth,auth-int\"", "auth", "md5"},
        {"Digest realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=MD5-sess, opaque=\"op\"", "auth", "MD5-sess"},
        {"Digest realm=\"r\", nonce=\"n1\", algorithm=MD5", "<none>", "MD5"},
        // Two challenges, one this client cannot answer, in either order.
        {"Digest realm=\"r\", nonce=\"n0\", algorithm=SHA-256\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\", algorithm=MD5",
         "<none>", "MD5"},
        {"Digest realm=\"r\", nonce=\"n1\", algorithm=MD5\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n0\", algorithm=SHA-256",
         "<none>", "MD5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.challenge);
        AuthStack stack(authscheme::digest, "ann", "pw");
        stack.serve(
            [&](int n, const std::string& request) { return n == 1 ? refusal(c.challenge) : upgradeAnswer(request); });
        ASSERT_EQ(stack.webSocket.connect("ws://peer.test/chat?room=1"), 0) << stack.context.lastErrorText();
        ASSERT_EQ(stack.requests.size(), 2u);
        const std::string value = stack.authorization(1);
        EXPECT_TRUE(value.starts_with("Digest username=\"ann\", realm=\"r\", nonce=\"n1\", uri=\"/chat?room=1\", "))
            << value;
        EXPECT_EQ(digestField(value, "qop"), c.qop);
        EXPECT_EQ(digestField(value, "algorithm"), c.algorithm);
        if (c.qop != "<none>") {
            EXPECT_EQ(digestField(value, "nc"), "00000001");
            EXPECT_TRUE(std::regex_match(digestField(value, "cnonce"), std::regex("[0-9a-f]{8}"))) << value;
            EXPECT_EQ(digestField(value, "response"), expectedDigestResponse(value, "pw"));
        }
    }
}

TEST(HandshakeAuthTest, LaterRequestsToTheSameServerAnswerTheChallengeUnasked) {
    const std::string challenge = "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\"";
    struct Case {
        std::string_view name;
        // What the server says after it took the first answer.
        std::string_view then;
        bool connectAgain;
        std::string_view secondTarget;
        std::string_view secondNc;  // "" when nothing is sent
    };
    const Case cases[] = {
        {"a redirect on the same server", "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", false,
         "/next", "00000002"},
        {"the next Connect", "", true, "/", "00000002"},
        {"a redirect to another server",
         "HTTP/1.1 302 Found\r\nLocation: ws://other.test/\r\nContent-Length: 0\r\n\r\n", false, "/", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AuthStack stack(authscheme::digest, "ann", "pw");
        stack.serve([&](int n, const std::string& request) {
            if (n == 1) return refusal(challenge);
            if (n == 2 && !c.then.empty()) return std::string(c.then);
            return upgradeAnswer(request);
        });
        ASSERT_EQ(stack.webSocket.connect("ws://peer.test/"), 0) << stack.context.lastErrorText();
        if (c.connectAgain) {
            // The server drops the connection; the caller connects again.
            stack.stream.peerCloses();
            stack.stream.play();
            ASSERT_EQ(stack.webSocket.state(), WebSocketLayer::State::Closed);
            stack.serve([](int, const std::string& request) { return upgradeAnswer(request); });
            ASSERT_EQ(stack.webSocket.connect("ws://peer.test/"), 0) << stack.context.lastErrorText();
        }
        ASSERT_EQ(stack.requests.size(), 3u);
        EXPECT_EQ(digestField(stack.authorization(1), "nc"), "00000001");
        const std::string last = stack.authorization(2);
        if (c.secondNc.empty()) {
            EXPECT_EQ(last, "");
            continue;
        }
        EXPECT_EQ(digestField(last, "nonce"), "n1");
        EXPECT_EQ(digestField(last, "nc"), c.secondNc);
        EXPECT_EQ(digestField(last, "uri"), c.secondTarget);
        EXPECT_EQ(digestField(last, "cnonce"), digestField(stack.authorization(1), "cnonce"));
        EXPECT_EQ(digestField(last, "response"), expectedDigestResponse(last, "pw"));
    }
}

TEST(HandshakeAuthTest, ASecondRefusalEndsTheConnectAndTheNextOneMayRetryAgain) {
    AuthStack stack(authscheme::ntlm, "DOM\\ann", "pw");
    stack.settings.useSystemSspi = false;
    bool acceptSecondAnswer = false;
    stack.serve([&](int n, const std::string& request) {
        if (n % 2 == 1) return refusal(ntlmChallenge(2, ntlmUsable));
        return acceptSecondAnswer ? upgradeAnswer(request) : refusal("NTLM");
    });
    EXPECT_EQ(stack.webSocket.connect("ws://peer.test/"), 151);
    EXPECT_EQ(stack.context.lastErrorText(), "HTTP protocol error. 401 Unauthorized.");
    ASSERT_EQ(stack.requests.size(), 2u);

    // Connected=True takes no new URL, so only the refusal itself can have
    // put the retry counter back.
    acceptSecondAnswer = true;
    ASSERT_EQ(stack.webSocket.setConnected(true), 0) << stack.context.lastErrorText();
    ASSERT_EQ(stack.requests.size(), 4u);
    // Each Connect opens the exchange with a negotiate message and answers
    // the challenge with an authenticate message.
    for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(ntlmType(stack.authorization(n)), n % 2 == 0 ? 1 : 3) << n;
}

TEST(HandshakeAuthTest, AnUnusableNtlmChallengeFailsWithItsText) {
    struct Case {
        std::string challenge;
        std::string_view text;
    };
    const Case cases[] = {
        {ntlmChallenge(2, ntlmUsable, "NTLMSSX"), "invalid signature."},
        {ntlmChallenge(3, ntlmUsable), "invalid message type."},
        {ntlmChallenge(2, 0x200), "no charset negotiated."},
        {ntlmChallenge(2, 0x1), "no NTLM version negotiated."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AuthStack stack(authscheme::ntlm, "ann", "pw");
        stack.settings.useSystemSspi = false;
        stack.serve([&](int, const std::string&) { return refusal(c.challenge); });
        EXPECT_EQ(stack.webSocket.connect("ws://peer.test/"), 151);
        EXPECT_EQ(stack.context.lastErrorText(),
                  "Could not process server's NTLM authentication token: " + std::string(c.text));
        EXPECT_EQ(stack.requests.size(), 1u);
    }
}

TEST(HandshakeAuthTest, TheAnswerGoesOnANewConnectionWhenTheServerEndsTheOld) {
    for (const bool closes : {false, true}) {
        SCOPED_TRACE(closes);
        AuthStack stack(authscheme::digest, "ann", "pw");
        // The server announces its close; the end itself has not arrived
        // when the answer is ready.
        stack.serve([&](int n, const std::string& request) {
            return n == 1 ? refusal("Digest realm=\"r\", nonce=\"n1\"", closes ? "Connection: close\r\n" : "")
                          : upgradeAnswer(request);
        });
        ASSERT_EQ(stack.webSocket.connect("ws://peer.test/"), 0) << stack.context.lastErrorText();
        ASSERT_EQ(stack.requests.size(), 2u);
        EXPECT_EQ(stack.stream.connects(), closes ? 2 : 1);
        EXPECT_TRUE(stack.authorization(1).starts_with("Digest username=\"ann\""));
    }
}

TEST(HandshakeAuthTest, TheDebugLogNamesTheSchemeAndTheValueSent) {
    const auto log = std::filesystem::temp_directory_path() / ("morvane-auth-" + std::to_string(::getpid()) + ".log");
    struct Case {
        int scheme;
        std::string_view user;
        std::vector<std::string> lines;  // "AuthScheme" and "Authorization" lines, in order
    };
    const Case cases[] = {
        {authscheme::basic, "u", {"AuthScheme: Basic", "Authorization: Basic dTo="}},
        {authscheme::digest, "ann", {"AuthScheme: Digest", "Authorization: {second}"}},
        {authscheme::basic, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scheme);
        std::filesystem::remove(log);
        AuthStack stack(c.scheme, c.user, "");
        ASSERT_EQ(stack.set("LogDebugFile=" + log.string()), 0);
        stack.serve([](int n, const std::string& request) {
            return n == 1 && requestHeader(request, "Authorization").empty()
                       ? refusal("Digest realm=\"r\", nonce=\"1\"")
                       : upgradeAnswer(request);
        });
        EXPECT_EQ(stack.webSocket.connect("ws://peer.test/"), c.lines.empty() ? 151 : 0);
        std::ifstream file(log, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<std::string> seen;
        const std::regex line(R"(\] ((AuthScheme|Authorization): [^\r]*)\r\n)");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
            seen.push_back((*it)[1]);
        }
        std::vector<std::string> expected = c.lines;
        for (std::string& e : expected) {
            if (e.ends_with("{second}")) e = "Authorization: " + stack.authorization(1);
        }
        EXPECT_EQ(seen, expected) << text;
    }
    std::filesystem::remove(log);
}

}  // namespace
}  // namespace morvane
