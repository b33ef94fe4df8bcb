// What a credential may negotiate: the protocol versions of the caller's
// protocol bits and the cipher suites its algorithm list and minimum strength
// leave, in the terms OpenSSL takes them.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/security/algorithm_ids.h"

namespace platform::security {

struct ProtocolRange {
    int minVersion = 0;  // 0: OpenSSL's own bound
    int maxVersion = 0;
    // SSL_OP_NO_* for versions inside the range the mask leaves out; OpenSSL
    // only takes a range, the platform takes any set.
    std::uint64_t holeOptions = 0;
};

// nullopt when the mask names no version OpenSSL can speak (PCT1 and SSL 2.0
// alone, for example). A mask without any version bit leaves the choice to
// OpenSSL, as an empty mask leaves it to the platform's provider.
std::optional<ProtocolRange> protocolRange(std::uint32_t enabledProtocols);

struct CipherSelection {
    // Cipher list for TLS 1.2 and older, suites for TLS 1.3; nullopt keeps
    // OpenSSL's default for that family, an empty string leaves none of it.
    std::optional<std::string> tls12Ciphers;
    std::optional<std::string> tls13Suites;
    // Key-exchange groups when the list names only one kind of ephemeral key
    // exchange; TLS 1.3 suites do not carry it, the groups do.
    std::optional<std::string> groups;
};

// Picks the suites that match the algorithm list and reach the minimum
// strength. Each kind of algorithm (bulk cipher, hash, key exchange,
// signature) restricts only when the list names at least one of that kind;
// identifiers of no kind here (master-secret ones, say) are skipped.
CipherSelection selectCiphers(std::span<const AlgId> algorithms, int minimumStrength);

}  // namespace platform::security
