// The negotiation of a passage through a firewall or tunnelling proxy, with
// no I/O: the firewall layer hands in what the proxy sent and gets back what
// to send it, and in the end either the passage (with the bytes that came
// after the proxy's reply, which belong to the connection) or the failure.
//
// Kinds (firewall_kind): 1 an HTTP CONNECT tunnel with Basic credentials,
// 2 SOCKS 4, 3 SOCKS 5 (with the user name and password method), 4 and 5 a
// CONNECT tunnel that authenticates with NTLM or Negotiate in two rounds,
// 6 a CONNECT tunnel that answers a Digest challenge when one comes.
//
// Every reply is read within kMaxReplyBytes: a proxy that never finishes
// its reply fails the negotiation instead of filling memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/engine/engine_errors.h"
#include "control/transport/http_authenticator.h"

namespace morvane::firewall {

// Every failure of a passage is the engine's firewall failure.
inline constexpr int kFailureCode = errc::firewallFailure;
// The most any one reply (status line and header block; SOCKS replies are
// short by nature) may take, and the longest line in it.
inline constexpr std::size_t kMaxReplyBytes = 16384;
inline constexpr std::size_t kMaxLineBytes = 8192;

inline constexpr std::string_view kReplyTooLongText = "Firewall error. The proxy's reply is too long.";

// What the tunnel kinds ask of the proxy's HTTP authentication.
class ProxyCredentials {
public:
    // The Proxy-Authorization value for `scheme` (authscheme::ntlm,
    // negotiate or digest): NTLM and Negotiate give their first token without
    // a challenge; with one (the whole Proxy-Authenticate value) each scheme
    // gives its answer to it.
    virtual AuthAnswer answer(int scheme, std::optional<std::string_view> challenge) = 0;

protected:
    ~ProxyCredentials() = default;
};

struct Target {
    int kind = 0;
    // RemoteHost and RemotePort. A host that begins with "*" is a name the
    // SOCKS 5 proxy resolves (the "*" is not sent).
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    std::string userAgent;
    // The remote host's IPv4 address (network order) for the SOCKS kinds
    // when the proxy does not resolve the name.
    std::uint32_t ipv4 = 0;
    // The SOCKS proxy is sent the name as it stands (a detected socks5h or
    // socks4a proxy; SOCKS 4 then takes the socks4a form).
    bool proxyResolvesNames = false;
};

struct Progress {
    enum class State { negotiating, complete, failed };
    State state = State::negotiating;
    // Bytes for the proxy, to go out now.
    std::string send;
    // failed: the code (118) and the text.
    int code = 0;
    std::string text;
    // complete: what came after the proxy's reply.
    std::string rest;
};

class Negotiator {
public:
    // `credentials` is borrowed; the kinds 4 to 6 need one.
    Negotiator(Target target, ProxyCredentials* credentials);

    // The first message.
    Progress start();
    // Bytes from the proxy, in any pieces.
    Progress feed(std::string_view bytes);

    // The step within the kind (see Step); 0 before start and after the end.
    int step() const { return static_cast<int>(step_); }
    bool finished() const { return finished_; }

    // The "host:port" a CONNECT names: the "*" of a name for the proxy is
    // dropped and an IPv6 address is put in brackets.
    static std::string connectAuthority(std::string_view host, int port);

private:
    // The steps of the HTTP kinds and of SOCKS 5 share one numbering:
    // HTTP 1 status line, 2 header lines, 3 body, 4 status of the
    // authenticated request, 5 its header lines, 6 chunk size, 7 chunk
    // trailer; SOCKS 5 1 method reply, 2 subnegotiation reply, 3 connect
    // reply.
    enum class Step : int {
        none = 0,
        status = 1,
        headers = 2,
        body = 3,
        authStatus = 4,
        authHeaders = 5,
        chunkSize = 6,
        chunkTrailer = 7,
        methodReply = 1,
        subnegotiationReply = 2,
        connectReply = 3,
    };

    Progress fail(std::string text);
    Progress complete(std::string_view rest);

    Progress feedTunnel(std::string_view bytes);
    Progress feedSocks4(std::string_view bytes);
    Progress feedSocks5(std::string_view bytes);
    Progress feedHttp(std::string_view bytes);
    // One line of an HTTP kind's reply, without its end.
    Progress takeLine(std::string_view line, std::string& send);
    Progress afterChallengeBody(std::string& send);
    Progress socks5ConnectRequest(std::string& send);

    std::string connectRequest(std::string_view authorization) const;
    std::string userAgentLine() const;
    std::string_view schemeName() const;

    Target target_;
    ProxyCredentials* credentials_;
    Step step_ = Step::none;
    bool finished_ = false;

    // The reply read so far (kind 1 and SOCKS), or the line being read.
    std::string reply_;
    bool statusJudged_ = false;
    // The HTTP kinds' reply in progress.
    std::size_t replyBytes_ = 0;
    // The refusal's code and reason, for the failure when it cannot be
    // answered.
    std::string firstStatus_;
    std::uint64_t contentLength_ = 0;
    std::uint64_t skipRemaining_ = 0;
    bool chunked_ = false;
    // After the chunk's data, its line end.
    bool chunkData_ = false;
    std::optional<std::string> challenge_;
};

}  // namespace morvane::firewall
