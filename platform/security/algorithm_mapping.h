// Translation between OpenSSL's view of a cipher suite (NIDs of its parts)
// and the platform's algorithm identifiers. Used both ways: to read a
// caller's algorithm list into a cipher selection, and to describe the suite
// a connection ended up with.
#pragma once

#include <openssl/ssl.h>

#include "platform/security/algorithm_ids.h"

namespace platform::security {

// The bulk cipher of a suite; 0 when the platform has no identifier for it.
AlgId cipherAlgId(const SSL_CIPHER* cipher);
// The MAC hash, or for AEAD suites (no separate MAC) the hash of the PRF,
// which is what the platform reports for them.
AlgId hashAlgId(const SSL_CIPHER* cipher);
int hashBits(AlgId hash);
// The key exchange; TLS 1.3 suites do not fix one, so `tls13Group` (the
// negotiated group's NID, 0 when unknown) decides between ECDH and DH.
AlgId keyExchangeAlgId(const SSL_CIPHER* cipher, int tls13Group);
// The kind of server authentication; 0 for TLS 1.3 suites, which leave it
// to the certificate.
AlgId signatureAlgId(const SSL_CIPHER* cipher);

// Protocol bit (client side) of an OpenSSL protocol version; 0 if unknown.
std::uint32_t protocolBit(int version);

}  // namespace platform::security
