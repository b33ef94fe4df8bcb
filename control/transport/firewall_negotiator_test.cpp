#include "control/transport/firewall_negotiator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/transport/proxy_settings.h"

namespace morvane::firewall {
namespace {

using State = Progress::State;
using namespace std::string_literals;

// 10.1.2.3 in network order.
constexpr std::uint32_t someAddress = 0x0302010A;

// Stands in for the proxy side's HTTP authentication: the first token is
// "<Scheme> first", the answer to a challenge "<Scheme> answer"; every
// challenge it is asked about is kept.
class FakeCredentials final : public ProxyCredentials {
public:
    std::vector<std::string> asked;
    std::string failure;

    AuthAnswer answer(int scheme, std::optional<std::string_view> challenge) override {
        asked.push_back(challenge ? std::string(*challenge) : "(none)");
        if (!failure.empty()) return {880, failure, {}};
        const std::string name = scheme == authscheme::ntlm        ? "NTLM"
                                 : scheme == authscheme::negotiate ? "Negotiate"
                                                                   : "Digest";
        if (scheme == authscheme::digest && !challenge) return {};
        return {0, {}, name + (challenge ? " answer" : " first")};
    }
};

struct Outcome {
    std::string sent;
    Progress last;
};

// Runs a negotiation: the first message, then each of the proxy's pieces
// (one byte at a time when asked) until it ends.
Outcome negotiate(const Target& target, const std::vector<std::string>& replies, bool oneByte = false,
                  ProxyCredentials* credentials = nullptr) {
    FakeCredentials fallback;
    Negotiator negotiator(target, credentials ? credentials : &fallback);
    Outcome outcome;
    outcome.last = negotiator.start();
    outcome.sent = outcome.last.send;
    for (const std::string& reply : replies) {
        for (std::size_t at = 0; at < reply.size() && outcome.last.state == State::negotiating;) {
            const std::size_t length = oneByte ? 1 : reply.size() - at;
            outcome.last = negotiator.feed(std::string_view(reply).substr(at, length));
            outcome.sent += outcome.last.send;
            at += length;
        }
    }
    return outcome;
}

Target target(int kind, std::string user = {}, std::string password = {}, std::string agent = {}) {
    Target t;
    t.kind = kind;
    t.host = "h.example";
    t.port = 443;
    t.user = std::move(user);
    t.password = std::move(password);
    t.userAgent = std::move(agent);
    t.ipv4 = someAddress;
    return t;
}

TEST(FirewallNegotiator, FirstMessageOfEachKind) {
    struct Case {
        const char* what;
        Target target;
        std::string bytes;
    };
    Target ipv6 = target(firewall_kind::tunnel);
    ipv6.host = "::1";
    Target byName = target(firewall_kind::tunnel);
    byName.host = "*relay.example";
    Target resolving4 = target(firewall_kind::socks4, "joe");
    resolving4.proxyResolvesNames = true;
    const Case cases[] = {
        {"CONNECT without credentials", target(firewall_kind::tunnel), "CONNECT h.example:443 HTTP/1.0\r\n\r\n"},
        {"CONNECT, a user with no password", target(firewall_kind::tunnel, "a"),
         "CONNECT h.example:443 HTTP/1.0\r\nProxy-Authorization: Basic YTo=\r\n\r\n"},
        {"CONNECT with Basic and agent", target(firewall_kind::tunnel, "u", "p", "UA/1"),
         "CONNECT h.example:443 HTTP/1.0\r\nProxy-Authorization: Basic dTpw\r\nUser-Agent: UA/1\r\n\r\n"},
        {"CONNECT, agent only", target(firewall_kind::tunnel, "", "", "UA/1"),
         "CONNECT h.example:443 HTTP/1.0\r\nUser-Agent: UA/1\r\n\r\n"},
        {"CONNECT to an IPv6 address", ipv6, "CONNECT [::1]:443 HTTP/1.0\r\n\r\n"},
        {"CONNECT to a name for the proxy", byName, "CONNECT relay.example:443 HTTP/1.0\r\n\r\n"},
        {"SOCKS 4", target(firewall_kind::socks4, "joe"), "\x04\x01\x01\xBB\x0A\x01\x02\x03joe\0"s},
        {"SOCKS 4 without a user", target(firewall_kind::socks4), "\x04\x01\x01\xBB\x0A\x01\x02\x03\0"s},
        {"SOCKS 4 to a proxy that resolves names", resolving4, "\x04\x01\x01\xBB\0\0\0\x01joe\0h.example\0"s},
        {"SOCKS 5 without credentials", target(firewall_kind::socks5), "\x05\x01\x00"s},
        {"SOCKS 5 with a user only", target(firewall_kind::socks5, "u"), "\x05\x01\x00"s},
        {"SOCKS 5 with user and password", target(firewall_kind::socks5, "u", "p"), "\x05\x02\x00\x02"s},
        {"Digest tunnel", target(firewall_kind::tunnelDigest, "u", "p", "UA/1"),
         "CONNECT h.example:443 HTTP/1.0\r\nHost: h.example:443\r\nContent-Length: 0\r\nProxy-Connection: "
         "Keep-Alive\r\nPragma: no-cache\r\nUser-Agent: UA/1\r\n\r\n"},
        {"NTLM tunnel", target(firewall_kind::tunnelNtlm, "u", "p"),
         "CONNECT h.example:443 HTTP/1.0\r\nProxy-Authorization: NTLM first\r\nProxy-Connection: Keep-Alive\r\n\r\n"},
        {"Negotiate tunnel with agent", target(firewall_kind::tunnelNegotiate, "", "", "UA/1"),
         "CONNECT h.example:443 HTTP/1.0\r\nProxy-Authorization: Negotiate first\r\nProxy-Connection: "
         "Keep-Alive\r\nUser-Agent: UA/1\r\n\r\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = negotiate(c.target, {});
        EXPECT_EQ(outcome.last.state, State::negotiating) << c.what;
        EXPECT_EQ(outcome.sent, c.bytes) << c.what;
    }
}

TEST(FirewallNegotiator, Socks4Replies) {
    struct Case {
        int code;
        State state;
        std::string text;
    };
    const Case cases[] = {
        {90, State::complete, ""},
        {91, State::failed, "firewall request rejected or failed"},
        {92, State::failed, "firewall request rejected because identd is not available"},
        {93, State::failed, "firewall request rejected because identd reports different user"},
        {94, State::failed, "unknown firewall error: 94"},
        {0, State::failed, "unknown firewall error: 0"},
        {255, State::failed, "unknown firewall error: 255"},
    };
    for (const bool oneByte : {false, true}) {
        for (const Case& c : cases) {
            const std::string reply = "\0"s + static_cast<char>(c.code) + "\x01\xBB\x0A\x01\x02\x03" + "server";
            const Outcome outcome = negotiate(target(firewall_kind::socks4), {reply}, oneByte);
            EXPECT_EQ(outcome.last.state, c.state) << c.code;
            EXPECT_EQ(outcome.last.text, c.text) << c.code;
            if (c.state == State::failed) {
                EXPECT_EQ(outcome.last.code, 118);
            }
            // Bytes past the eight of the reply belong to the connection
            // (fed a byte at a time, none come with the reply's end).
            if (c.state == State::complete) {
                EXPECT_EQ(outcome.last.rest, oneByte ? "" : "server");
            }
        }
    }
}

TEST(FirewallNegotiator, Socks5MethodAndSubnegotiation) {
    const std::string connectByAddress = "\x05\x01\x00\x01\x0A\x01\x02\x03\x01\xBB"s;
    struct Case {
        const char* what;
        Target target;
        std::vector<std::string> replies;
        State state;
        std::string text;
        std::string sentAfterGreeting;
    };
    const Case cases[] = {
        {"no authentication", target(firewall_kind::socks5), {"\x05\x00"s}, State::negotiating, "", connectByAddress},
        {"user and password accepted",
         target(firewall_kind::socks5, "user", "pw"),
         {"\x05\x02"s, "\x01\x00"s},
         State::negotiating,
         "",
         "\x01\x04user\x02pw"s + connectByAddress},
        {"user and password refused",
         target(firewall_kind::socks5, "user", "pw"),
         {"\x05\x02"s, "\x01\x01"s},
         State::failed,
         "firewall authentication failed: 1",
         "\x01\x04user\x02pw"s},
        {"no acceptable method",
         target(firewall_kind::socks5),
         {"\x05\xFF"s},
         State::failed,
         "no acceptable firewall authentication methods",
         ""},
        {"a method never offered",
         target(firewall_kind::socks5),
         {"\x05\x01"s},
         State::failed,
         "unknown firewall authentication method",
         ""},
    };
    for (const Case& c : cases) {
        const Outcome outcome = negotiate(c.target, c.replies, true);
        EXPECT_EQ(outcome.last.state, c.state) << c.what;
        EXPECT_EQ(outcome.last.text, c.text) << c.what;
        const std::size_t greeting = c.target.user.empty() ? 3 : 4;
        EXPECT_EQ(outcome.sent.substr(greeting), c.sentAfterGreeting) << c.what;
    }
}

TEST(FirewallNegotiator, Socks5ConnectRequestNamesTheHostForTheProxy) {
    Target byName = target(firewall_kind::socks5);
    byName.host = "*relay.example";
    byName.port = 8080;
    EXPECT_EQ(negotiate(byName, {"\x05\x00"s}).sent, "\x05\x01\x00\x05\x01\x00\x03\x0Drelay.example\x1F\x90"s);

    // A detected socks5h proxy resolves every name it is sent.
    Target resolving = target(firewall_kind::socks5);
    resolving.proxyResolvesNames = true;
    EXPECT_EQ(negotiate(resolving, {"\x05\x00"s}).sent, "\x05\x01\x00\x05\x01\x00\x03\x09h.example\x01\xBB"s);

    Target tooLong = target(firewall_kind::socks5);
    tooLong.host = "*" + std::string(256, 'a');
    EXPECT_EQ(negotiate(tooLong, {"\x05\x00"s}).last.state, State::failed);
}

TEST(FirewallNegotiator, Socks5ConnectReplies) {
    const char* texts[] = {"",
                           "general SOCKS server failure",
                           "connection not allowed by ruleset",
                           "network unreachable",
                           "host unreachable",
                           "connection refused",
                           "TTL expired",
                           "command not supported",
                           "address type not supported"};
    for (int code = 1; code <= 10; ++code) {
        const std::string reply = "\x05"s + static_cast<char>(code) + "\x00\x01\x00\x00\x00\x00\x00\x00"s;
        const Outcome outcome = negotiate(target(firewall_kind::socks5), {"\x05\x00"s, reply}, true);
        EXPECT_EQ(outcome.last.state, State::failed) << code;
        EXPECT_EQ(outcome.last.code, 118);
        EXPECT_EQ(outcome.last.text, code <= 8 ? texts[code] : "unknown firewall error: " + std::to_string(code));
    }
    // Success: the bound address's type gives the reply's length, and what
    // follows it is the server's.
    struct Success {
        std::string reply;
    };
    const Success successes[] = {
        {"\x05\x00\x00\x01\x7F\x00\x00\x01\x1F\x90"s},
        {"\x05\x00\x00\x03\x04host\x1F\x90"s},
        {"\x05\x00\x00\x04"s + std::string(16, '\x01') + "\x1F\x90"s},
    };
    for (const bool oneByte : {false, true}) {
        for (const Success& s : successes) {
            const Outcome outcome = negotiate(target(firewall_kind::socks5), {"\x05\x00"s, s.reply + "HELLO"}, oneByte);
            EXPECT_EQ(outcome.last.state, State::complete);
            EXPECT_EQ(outcome.last.rest, oneByte ? "" : "HELLO");
        }
    }
}

TEST(FirewallNegotiator, ConnectTunnelReplies) {
    struct Case {
        std::string reply;
        State state;
        std::string textOrRest;
    };
    const Case cases[] = {
        {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n", State::failed,
         "Firewall error. HTTP/1.1 407 Proxy Authentication Required."},
        {"HTTP/1.0 403 Forbidden.\r\n\r\n", State::failed, "Firewall error. HTTP/1.0 403 Forbidden."},
        {"HTTP/1.0 502 Bad Gateway\n\n", State::failed, "Firewall error. HTTP/1.0 502 Bad Gateway."},
        {"SSH-2.0-OpenSSH\r\n", State::failed, "Firewall error. SSH-2.0-OpenSSH."},
        {"HTTP/1.0 200 Connection established\r\nProxy-agent: t\r\n\r\n\x16\x03\x03", State::complete, "\x16\x03\x03"},
        {"HTTP/1.1   200 OK\r\n\r\n", State::complete, ""},
        {"HTTP/1.0 200 OK\n\nrest\r\n\r\n", State::complete, "rest\r\n\r\n"},
        {"HTTP/1.0 201 Created\r\nA: b\r\n\r\nrest", State::complete, "rest"},
    };
    for (const bool oneByte : {false, true}) {
        for (const Case& c : cases) {
            const Outcome outcome = negotiate(target(firewall_kind::tunnel), {c.reply}, oneByte);
            EXPECT_EQ(outcome.last.state, c.state) << c.reply;
            const std::string expected = oneByte && c.state == State::complete ? "" : c.textOrRest;
            EXPECT_EQ(c.state == State::failed ? outcome.last.text : outcome.last.rest, expected) << c.reply;
        }
    }
}

TEST(FirewallNegotiator, AuthenticatingTunnels) {
    const std::string proxyRefusal = "HTTP/1.1 407 Proxy Authentication Required\r\n";
    struct Case {
        const char* what;
        int kind;
        std::vector<std::string> replies;
        State state;
        std::string textOrRest;
        // The challenge the credentials were asked to answer; empty when the
        // negotiation never got that far.
        std::string challenge;
    };
    const Case cases[] = {
        {"NTLM, passage at once",
         firewall_kind::tunnelNtlm,
         {"HTTP/1.1 200 OK\r\nVia: p\r\n\r\nrest"},
         State::complete,
         "rest",
         ""},
        {"NTLM, two rounds with a body",
         firewall_kind::tunnelNtlm,
         {proxyRefusal + "Proxy-Authenticate: Basic realm=\"x\"\r\nproxy-authenticate: NTLM TlRMTVNTUAAC\r\n"
                         "Content-Length: 5\r\n\r\nabcde",
          "HTTP/1.1 200 Connection established\r\n\r\nDATA"},
         State::complete,
         "DATA",
         "NTLM TlRMTVNTUAAC"},
        {"Negotiate, two rounds with a chunked body",
         firewall_kind::tunnelNegotiate,
         {proxyRefusal + "Proxy-Authenticate: Negotiate oRQw\r\nTransfer-Encoding: chunked\r\n\r\n"
                         "5;ext=1\r\nhello\r\nA\r\n0123456789\r\n0\r\nTrailer: t\r\n\r\n",
          "HTTP/1.0 204 No Content\r\n\r\n"},
         State::complete,
         "",
         "Negotiate oRQw"},
        {"NTLM, 401 from the proxy",
         firewall_kind::tunnelNtlm,
         {"HTTP/1.1 401 Unauthorized\r\nProxy-Authenticate: NTLM abc\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n"},
         State::complete,
         "",
         "NTLM abc"},
        {"NTLM, refused outright",
         firewall_kind::tunnelNtlm,
         {"HTTP/1.1 403 Forbidden\r\n\r\n"},
         State::failed,
         "Firewall error while attempting NTLM authentication. Expected 401 or 407 but got: 403 Forbidden",
         ""},
        {"NTLM, refused after the answer",
         firewall_kind::tunnelNtlm,
         {proxyRefusal + "Proxy-Authenticate: NTLM abc\r\n\r\n", proxyRefusal + "\r\n"},
         State::failed,
         "Firewall error after NTLM authentication. Expected a status code beginning with 2 but got: 407 Proxy "
         "Authentication Required",
         "NTLM abc"},
        {"Negotiate uses the NTLM texts",
         firewall_kind::tunnelNegotiate,
         {"HTTP/1.1 500 Oops\r\n\r\n"},
         State::failed,
         "Firewall error while attempting NTLM authentication. Expected 401 or 407 but got: 500 Oops",
         ""},
        {"Digest, passage at once",
         firewall_kind::tunnelDigest,
         {"HTTP/1.0 200 Connection established\r\n\r\nX"},
         State::complete,
         "X",
         ""},
        {"Digest, answered",
         firewall_kind::tunnelDigest,
         {proxyRefusal + "Proxy-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\nContent-Length: 3\r\n\r\nabc",
          "HTTP/1.0 200 Connection established\r\n\r\n"},
         State::complete,
         "",
         "Digest realm=\"r\", nonce=\"n\""},
        {"Digest, the answer must get 200",
         firewall_kind::tunnelDigest,
         {proxyRefusal + "Proxy-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n", "HTTP/1.0 201 Created\r\n\r\n"},
         State::failed,
         "Firewall error after digest authentication. Expected a status code beginning with 2 but got: 201 Created",
         "Digest realm=\"r\", nonce=\"n\""},
        {"Digest, refused outright",
         firewall_kind::tunnelDigest,
         {"HTTP/1.0 502 Bad Gateway\r\n\r\n"},
         State::failed,
         "Firewall error while attempting digest authentication. Expected 401 or 407 but got: 502 Bad Gateway",
         ""},
    };
    for (const bool oneByte : {false, true}) {
        for (const Case& c : cases) {
            FakeCredentials credentials;
            const Outcome outcome = negotiate(target(c.kind, "u", "p"), c.replies, oneByte, &credentials);
            EXPECT_EQ(outcome.last.state, c.state) << c.what;
            if (c.state == State::failed) {
                EXPECT_EQ(outcome.last.text, c.textOrRest) << c.what;
                EXPECT_EQ(outcome.last.code, 118) << c.what;
            } else {
                EXPECT_EQ(outcome.last.rest, oneByte ? "" : c.textOrRest) << c.what;
            }
            const std::size_t rounds = c.challenge.empty() ? 1 : 2;
            const std::size_t firstTokens = c.kind == firewall_kind::tunnelDigest ? 0 : 1;
            ASSERT_EQ(credentials.asked.size(), rounds - 1 + firstTokens) << c.what;
            if (!c.challenge.empty()) {
                EXPECT_EQ(credentials.asked.back(), c.challenge) << c.what;
                // The answer goes out as a second CONNECT.
                const std::string second =
                    c.kind == firewall_kind::tunnelDigest
                        ? "Pragma: no-cache\r\nProxy-Authorization: Digest answer\r\n\r\n"
                        : "Proxy-Authorization: " + c.challenge.substr(0, c.challenge.find(' ')) +
                              " answer\r\nProxy-Connection: Keep-Alive\r\n\r\n";
                EXPECT_TRUE(outcome.sent.ends_with(second)) << c.what << "\n" << outcome.sent;
            }
        }
    }
}

TEST(FirewallNegotiator, DigestRefusalWithoutAChallengeCannotBeAnswered) {
    FakeCredentials credentials;
    const Outcome outcome =
        negotiate(target(firewall_kind::tunnelDigest, "u", "p"),
                  {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"r\"\r\n\r\n"},
                  false, &credentials);
    EXPECT_EQ(outcome.last.state, State::failed);
    EXPECT_EQ(outcome.last.text,
              "Firewall error after digest authentication. Expected a status code beginning with 2 but got: 407 Proxy "
              "Authentication Required");
    EXPECT_EQ(credentials.asked, std::vector<std::string>{"(none)"});
}

TEST(FirewallNegotiator, TokenThatCannotBeMadeFailsTheNegotiation) {
    FakeCredentials credentials;
    credentials.failure = "Could not acquire security credentials (-2146893042): No credentials";
    const Outcome outcome = negotiate(target(firewall_kind::tunnelNtlm), {}, false, &credentials);
    EXPECT_EQ(outcome.last.state, State::failed);
    EXPECT_EQ(outcome.last.code, 118);
    EXPECT_EQ(outcome.last.text, credentials.failure);
    EXPECT_TRUE(outcome.sent.empty());
}

TEST(FirewallNegotiator, ARepliesThatNeverEndsIsCutOff) {
    struct Case {
        int kind;
        std::string prefix;
        std::string filler;
    };
    const Case cases[] = {
        {firewall_kind::tunnel, "HTTP/1.1 200 OK\r\n", "X-Pad: 0123456789\r\n"},
        {firewall_kind::tunnel, "", "HTTP/1.1 200 OK"},
        {firewall_kind::tunnelNtlm, "HTTP/1.1 407 Proxy Authentication Required\r\n", "X-Pad: 0123456789\r\n"},
        {firewall_kind::tunnelDigest, "", "HTTP/1.1 200 OK"},
    };
    for (const Case& c : cases) {
        std::string flood = c.prefix;
        while (flood.size() < 2 * kMaxReplyBytes) flood += c.filler;
        const Outcome outcome = negotiate(target(c.kind, "u", "p"), {flood});
        EXPECT_EQ(outcome.last.state, State::failed) << c.kind << " " << c.filler;
        EXPECT_EQ(outcome.last.text, kReplyTooLongText);
    }
    // A long body is skipped, not kept, however long it says it is.
    FakeCredentials credentials;
    const Outcome skipped = negotiate(
        target(firewall_kind::tunnelNtlm),
        {"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'b'),
         "HTTP/1.1 200 OK\r\n\r\n"},
        false, &credentials);
    EXPECT_EQ(skipped.last.state, State::complete);
}

}  // namespace
}  // namespace morvane::firewall
