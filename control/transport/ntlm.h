// The control's own NTLM client, with no I/O: the negotiate message to open
// an exchange, the reading of the server's challenge message, and the
// authenticate message that answers it. The caller moves the bytes (base64
// in "NTLM" headers) and keeps the challenge between the two steps.
//
// The answers are always NTLMv2 (with the LMv2 response beside them). A
// challenge without target information is answered with NTLMv2 over an empty
// target list rather than with NTLMv1: v1 needs DES, which OpenSSL 3 keeps
// in its legacy provider, and its responses are weak enough that a server
// that still insists on them is better refused than served.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/websocket/random_source.h"

namespace morvane::auth {

using NtlmBytes = std::vector<std::uint8_t>;

// Negotiate flags, as the three messages carry them.
namespace ntlmflag {
inline constexpr std::uint32_t kUnicode = 0x00000001;
inline constexpr std::uint32_t kOem = 0x00000002;
inline constexpr std::uint32_t kRequestTarget = 0x00000004;
inline constexpr std::uint32_t kNtlm = 0x00000200;
inline constexpr std::uint32_t kAlwaysSign = 0x00008000;
inline constexpr std::uint32_t kExtendedSessionSecurity = 0x00080000;
inline constexpr std::uint32_t kTargetInfo = 0x00800000;
inline constexpr std::uint32_t kVersion = 0x02000000;
inline constexpr std::uint32_t k128 = 0x20000000;
inline constexpr std::uint32_t k56 = 0x80000000;
}  // namespace ntlmflag

// What the negotiate message asks for: either character set (the server
// picks, Unicode when it can), the server's name back, NTLM with extended
// session security, target information (without it there is no NTLMv2
// blob to bind a channel into), and the strong key sizes. Always-sign is
// asked for because servers that sign nothing still expect it of modern
// clients. No version field and no domain or workstation: this client does
// not claim to be any particular system, and HTTP servers need neither.
inline constexpr std::uint32_t kNtlmNegotiateFlags =
    ntlmflag::kUnicode | ntlmflag::kOem | ntlmflag::kRequestTarget | ntlmflag::kNtlm | ntlmflag::kAlwaysSign |
    ntlmflag::kExtendedSessionSecurity | ntlmflag::kTargetInfo | ntlmflag::k128 | ntlmflag::k56;

// Target information entries this client reads or writes.
namespace ntlmav {
inline constexpr std::uint16_t kEol = 0;
inline constexpr std::uint16_t kTimestamp = 7;
inline constexpr std::uint16_t kChannelBindings = 10;
}  // namespace ntlmav

inline constexpr std::string_view kNtlmInvalidSignatureText =
    "Could not process server's NTLM authentication token: invalid signature.";
inline constexpr std::string_view kNtlmInvalidMessageTypeText =
    "Could not process server's NTLM authentication token: invalid message type.";
inline constexpr std::string_view kNtlmNoCharsetText =
    "Could not process server's NTLM authentication token: no charset negotiated.";
inline constexpr std::string_view kNtlmNoVersionText =
    "Could not process server's NTLM authentication token: no NTLM version negotiated.";
// A challenge whose header is cut short or whose fields point outside it.
inline constexpr std::string_view kNtlmMalformedText =
    "Could not process server's NTLM authentication token: malformed message.";

inline constexpr std::string_view kNtlmOutOfMemoryText = "out of memory.";
inline constexpr std::string_view kNtlmHmacText = "HmacMd5 error.";
inline constexpr std::string_view kNtlmChannelBindingText = "error creating channelbinding.";
inline constexpr std::string_view kNtlmLmResponseText = "error creating LM response.";
inline constexpr std::string_view kNtlmBlobText = "error creating blob.";
inline constexpr std::string_view kNtlmNtResponseText = "error creating NT challenge response.";

// The 40-byte negotiate message (type 1) with kNtlmNegotiateFlags.
NtlmBytes ntlmNegotiateMessage();

// A challenge message (type 2) as far as this client uses it.
struct NtlmChallenge {
    std::uint32_t flags = 0;
    std::array<std::uint8_t, 8> serverChallenge{};
    // True when the answer is written in UTF-16LE, false for the OEM code page.
    bool unicode = true;
    // The entries of the target information without the closing MsvAvEOL;
    // present only when the server set the target-information flag.
    std::optional<NtlmBytes> targetInfo;
    // The server's clock from its MsvAvTimestamp entry, when it sent one.
    std::optional<std::uint64_t> timestamp;
};

struct NtlmChallengeResult {
    std::optional<NtlmChallenge> challenge;
    // One of the kNtlm...Text texts when `challenge` is empty.
    std::string error;
};

// Reads a challenge message. Checked in this order: the signature, the
// message type, a character set, an NTLM version; then every field's offset
// and length against the message, and the target information's entries.
NtlmChallengeResult parseNtlmChallenge(std::span<const std::uint8_t> message);

// Who answers. Texts are UTF-16; the caller converts from its code page.
struct NtlmCredentials {
    std::u16string_view user;
    std::u16string_view domain;
    std::u16string_view password;
    std::u16string_view workstation = {};
};

struct NtlmAuthenticateOptions {
    // Chosen by the caller only in tests; otherwise 8 bytes from `random`.
    std::optional<std::array<std::uint8_t, 8>> clientChallenge;
    // 100-nanosecond ticks since 1601 (a FILETIME). Unset: the server's
    // MsvAvTimestamp when it sent one, else the current time.
    std::optional<std::uint64_t> timestamp;
    // The application data of the channel bindings (for TLS,
    // "tls-server-end-point:" followed by the certificate hash). When set,
    // the answer carries an MsvAvChannelBindings entry made from it.
    std::optional<std::span<const std::uint8_t>> channelBindingData;
    // Null: the system's generator.
    websocket::RandomSource* random = nullptr;
};

struct NtlmMessageResult {
    NtlmBytes message;
    // Empty on success, else one of the building failures above.
    std::string error;
    bool ok() const { return error.empty(); }
};

// The authenticate message (type 3) answering `challenge`: NTLMv2 and LMv2
// responses keyed by NTOWFv2. When the server sent a timestamp, the LM
// response is 24 zero bytes instead, as a client is to do then: an LMv2
// response carries no time and could be replayed. No MIC is sent.
// Failures: the crypto library refusing HMAC-MD5 for the key, the NT or the
// LM response ("HmacMd5 error.", "error creating NT challenge response.",
// "error creating LM response.") or MD5 for the bindings ("error creating
// channelbinding."); "error creating blob." when no random bytes can be had
// for the client nonce, when a name cannot be written in the OEM code page,
// or when the blob or a name is too long for its 16-bit length field;
// "out of memory.".
NtlmMessageResult ntlmAuthenticateMessage(const NtlmChallenge& challenge, const NtlmCredentials& credentials,
                                          const NtlmAuthenticateOptions& options = {});

// The pieces, for tests and for anyone checking a response by hand.
using NtlmHash = std::array<std::uint8_t, 16>;
NtlmHash md4(std::span<const std::uint8_t> data);
// HMAC-MD5 keyed with MD4(UTF-16LE(password)) over UTF-16LE(uppercase(user)
// + domain); nullopt when the crypto library refuses the HMAC.
std::optional<NtlmHash> ntowfV2(std::u16string_view password, std::u16string_view user, std::u16string_view domain);
// MD5 of the channel-bindings structure with no addresses and `data` as its
// application data; nullopt when the crypto library has no MD5.
std::optional<NtlmHash> ntlmChannelBindingHash(std::span<const std::uint8_t> data);
// The user name as NTOWFv2 hashes it. Upper-cases the letters of the Latin,
// Greek and Cyrillic blocks one unit at a time; other units stay as they are.
std::u16string ntlmUpperCase(std::u16string_view text);

}  // namespace morvane::auth
