// One side's HTTP authentication (the server's Authorization, or the proxy's
// Proxy-Authorization): builds the header value before each request from the
// scheme, the credentials and what the last challenge left, and keeps that
// challenge between a 401 (407) and the retry. Basic and Digest are the
// control's own; NTLM and Negotiate tokens come from the platform's provider
// (GSSAPI) or, with UseSystemSSPI off, from the control's own NTLM.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/transport/auth_settings.h"
#include "control/transport/http_auth.h"

namespace platform::security {
class AuthClient;
}

namespace morvane {

class EngineContext;

// The AuthSchemes enumeration.
namespace authscheme {
inline constexpr int basic = 0;
inline constexpr int digest = 1;
inline constexpr int proprietary = 2;
inline constexpr int none = 3;
inline constexpr int ntlm = 4;
inline constexpr int negotiate = 5;
inline constexpr int oauth = 6;
}  // namespace authscheme

// "Basic", "Digest", "Proprietary", "None", "NTLM", "Negotiate", and
// "Automatic" for anything else.
std::string_view authSchemeName(int scheme);

// Digest, NTLM and Negotiate answer a challenge with a second request.
bool answersChallenges(int scheme);

inline constexpr int authTokenFailed = 880;

struct AuthRequest {
    int scheme = authscheme::basic;
    std::string_view user = {};
    std::string_view password = {};
    // The Authorization (ProxyAuthorization) property, sent as it is where
    // the scheme builds nothing.
    std::string_view preset = {};
    std::string_view host = {};
    std::string_view method = "GET";
    std::string_view uri = {};
    std::string_view body = {};
    // A proxy tunnel's CONNECT: its Digest answer has no algorithm field.
    bool tunnel = false;
    // On a secure connection: the TLS channel's bindings ("tls-server-end-
    // point:" and the certificate hash), empty when it has none to give.
    bool secure = false;
    std::span<const std::uint8_t> channelBindings = {};
};

struct AuthAnswer {
    int code = 0;  // 0, or the failure's code with its text
    std::string text;
    std::optional<std::string> value;  // the header value, when there is one
};

class HttpAuthenticator {
public:
    // `headerName` is "Authorization" or "Proxy-Authorization"; the failures
    // of the control's own NTLM are reported with `requestFailureCode` (the
    // HTTP layer's 151, the proxy's 157).
    HttpAuthenticator(EngineContext& context, const AuthSettings& settings, std::string_view headerName,
                      int requestFailureCode);
    ~HttpAuthenticator();
    HttpAuthenticator(const HttpAuthenticator&) = delete;
    HttpAuthenticator& operator=(const HttpAuthenticator&) = delete;

    // The header value for the next request. Logs the scheme and the value
    // when the debug log is on.
    AuthAnswer build(const AuthRequest& request);

    // One WWW-Authenticate (Proxy-Authenticate) value: kept when it is a
    // challenge of `scheme`. Returns whether it was.
    bool takeChallenge(int scheme, std::string_view headerValue);

    // Forgets an NTLM or Negotiate exchange half done. Those belong to the
    // connection they ran on, so every new transaction starts them over; a
    // Digest challenge stays, and later requests to the same server answer
    // it unasked, counting their nc on.
    void forgetExchange();
    // Forgets everything, the Digest challenge too: for another server.
    void reset();

    const auth::DigestState& digestState() const { return digest_; }

private:
    AuthAnswer buildToken(const AuthRequest& request);
    AuthAnswer systemToken(const AuthRequest& request, std::string_view package, std::span<const std::uint8_t> input);
    AuthAnswer ownNtlmToken(const AuthRequest& request, std::span<const std::uint8_t> input);
    void logText(std::string_view text) const;

    EngineContext& context_;
    const AuthSettings& settings_;
    std::string headerName_;
    int requestFailureCode_;
    auth::DigestState digest_;
    // The token after "NTLM " or "Negotiate " in the last challenge, base64.
    std::optional<std::string> challengeToken_;
    std::unique_ptr<platform::security::AuthClient> system_;
};

}  // namespace morvane
