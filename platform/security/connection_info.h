// What a finished handshake agreed on, in the platform's identifiers, plus
// what the channel needs beyond them: the ALPN choice, the suite number and
// the server's certificates.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/security/algorithm_ids.h"

namespace platform::security {

struct ConnectionInfo {
    std::uint32_t protocol = 0;  // client bit of the version, e.g. 0x800 for TLS 1.2
    AlgId cipher = 0;            // 0 when the platform has no identifier for it
    int cipherStrength = 0;      // key bits
    AlgId hash = 0;              // MAC hash, or the PRF hash of an AEAD suite
    int hashStrength = 0;
    AlgId exchange = 0;
    // Bits of the server's RSA key (RSA key exchange) or of its ephemeral key
    // as OpenSSL counts them: 256 for P-256, 253 for X25519, 2048 for ffdhe2048.
    int exchangeStrength = 0;
    std::uint16_t cipherSuite = 0;  // the IANA number
    std::string cipherSuiteName;    // its IANA name
    std::string alpn;               // empty when none was agreed
    bool sessionReused = false;
    // DER, leaf first, as the server sent them. A resumed session carries no
    // certificate message; then only the leaf remembered with the session.
    std::vector<std::vector<std::uint8_t>> serverChain;
};

ConnectionInfo describeConnection(const SSL* ssl);

// Record overhead of the connection's suite behind the 5-byte header: an
// upper bound on what a record adds to its plaintext after the header.
std::size_t recordTrailerBound(const SSL* ssl);

}  // namespace platform::security
