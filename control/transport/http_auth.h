// The Basic and Digest answers to an HTTP challenge, with no I/O: the HTTP
// layer (server side) and the proxy tunnel (proxy side) hand in the header
// texts they received and the request they are about to send, and get back
// the value of Authorization or Proxy-Authorization. Each side keeps its own
// DigestState.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/websocket/random_source.h"

namespace morvane::auth {

inline constexpr std::string_view kBasicPrefix = "Basic ";
inline constexpr std::string_view kDigestPrefix = "Digest ";
inline constexpr std::string_view kDefaultAlgorithm = "md5";
inline constexpr std::string_view kUnknownQopText = "Digest authentication error: unknown qop value.";

// The text after a scheme name and one blank ("Digest realm=..." gives
// "realm=..."), the scheme matched without regard to case; nullopt when the
// value names another scheme. A bare scheme name gives an empty text.
std::optional<std::string_view> afterScheme(std::string_view headerValue, std::string_view scheme);

// "Basic " + base64 of user ":" password. Nothing when neither a user nor a
// password is set; an empty one of the two still counts as set when the
// other is not empty.
std::optional<std::string> basicAuthorization(std::string_view user, std::string_view password);

// What one challenge left behind, kept between the 401 (407) and the retry.
struct DigestState {
    std::string realm;
    // The qop this client uses: "auth", "auth-int", or empty when the server
    // offered neither (then the answer has no qop, nc or cnonce).
    std::string qop;
    std::string algorithm = std::string(kDefaultAlgorithm);
    std::string nonce;
    // Returned unchanged when the challenge had one, even an empty one.
    std::optional<std::string> opaque;
    // Eight lower-case hexadecimal digits, set only when a qop is chosen.
    std::string clientNonce;
    // The nc of the last answer; each answer with a qop counts one up.
    std::uint32_t counter = 0;
};

// The qop to use from the server's offered list: "auth" when the list holds
// "auth,", else "auth-int" when it holds that, else "auth" when it holds
// that, else empty. This favours plain auth when the server lists it first
// and auth-int when the server lists that first.
std::string chooseQop(std::string_view offered);

// Reads the parameters of a Digest challenge (the text after "Digest ") into
// `state`, which starts again from nothing: algorithm "md5", counter 0, no
// opaque. Names are REALM, QOP, ALGORITHM, NONCE and OPAQUE in any case;
// other names are skipped. When a qop is chosen, the client nonce comes from
// `random`; if that fails the state is left empty (so no answer is sent)
// and the result is websocket::kRandomUnavailable. Otherwise 0.
int takeDigestChallenge(std::string_view parameters, DigestState& state, websocket::RandomSource& random);

// The request a Digest answer is made for.
struct DigestRequest {
    std::string_view user = {};
    std::string_view password = {};
    std::string_view method = {};  // "GET" for the upgrade, "CONNECT" for a tunnel
    std::string_view uri = {};
    // Hashed into the answer only under qop auth-int.
    std::string_view body = {};
    // The proxy's answer leaves out the algorithm field.
    bool toProxy = false;
};

struct DigestAnswer {
    // 0, or the failure's code (151 for an unknown qop) with its text.
    int code = 0;
    std::string text;
    // Nothing before a challenge with a nonce, or without a user.
    std::optional<std::string> value;
};

// The Digest header value for `request` under the stored challenge. With a
// qop, the counter moves on by one for every answer built.
DigestAnswer digestAuthorization(DigestState& state, const DigestRequest& request);

// Lower-case hexadecimal MD5 of `data`; nullopt only when the crypto
// library has no MD5 to offer.
std::optional<std::string> md5Hex(std::string_view data);

}  // namespace morvane::auth
