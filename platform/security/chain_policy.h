// The SSL chain policy: whether a server's certificates make a chain to a
// trusted root that is fit for a TLS server of the given name, answered
// with the platform's policy result code.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/certificate_store.h"
#include "platform/security/security_status.h"

namespace platform::security {

struct ChainPolicyResult {
    // false when the leaf could not even be decoded: no chain was built and
    // `status` is CRYPT_E_ASN1_BADTAG.
    bool chainBuilt = false;
    PolicyStatus status = kPolicyOk;
    // OpenSSL's findings, every one of them (ignored ones too), for logs.
    std::vector<std::string> findings;
};

// `chain` is DER, leaf first, as the server sent it. `securityFlags` is the
// caller's SSLSecurityFlags: its SECURITY_FLAG_IGNORE_* bits drop the
// matching findings, and a negative value (top bit set) means no server
// name is passed, so the name is not checked but everything else is.
//
// When several things are wrong, one code is reported, in the order the
// platform's policy goes through them: bad signature, basic constraints,
// revocation, untrusted root or broken chain, unhandled critical extension,
// validity period, usage, and last the name.
ChainPolicyResult checkServerChain(std::span<const std::vector<std::uint8_t>> chain, std::string_view serverName,
                                   std::int32_t securityFlags);

// The same against roots the caller loaded (what the stores held at some
// moment); the call above loads them afresh each time.
ChainPolicyResult checkServerChain(std::span<const std::vector<std::uint8_t>> chain, std::string_view serverName,
                                   std::int32_t securityFlags, const TrustedRoots& roots);

}  // namespace platform::security
