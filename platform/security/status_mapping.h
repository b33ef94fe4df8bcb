// Turns an OpenSSL failure into the status the platform's provider gives for
// the same trouble, so the channel's error texts and codes stay the ones its
// users know.
#pragma once

#include <string>

#include "platform/security/security_status.h"

namespace platform::security {

enum class SslPhase { Handshake, Decrypt, Encrypt };

struct SslFailure {
    SecStatus status = SEC_E_INTERNAL_ERROR;
    std::string text;  // OpenSSL's own words, for logs
};

// Reads (and empties) the thread's OpenSSL error queue after a call that
// ended with `sslError` (SSL_get_error).
//
// Mapping:
// - an alert from the peer: handshake_failure, protocol_version and
//   insufficient_security -> SEC_E_ALGORITHM_MISMATCH (nothing in common);
//   no_application_protocol -> SEC_E_APPLICATION_PROTOCOL_MISMATCH;
//   bad_record_mac, decryption_failed, decrypt_error -> SEC_E_DECRYPT_FAILURE;
//   certificate alerts and certificate_required -> SEC_E_CERT_UNKNOWN;
//   internal_error -> SEC_E_INTERNAL_ERROR; any other -> SEC_E_ILLEGAL_MESSAGE.
// - found by us: no common version, suite or group -> SEC_E_ALGORITHM_MISMATCH;
//   a record that fails its MAC or decryption -> SEC_E_DECRYPT_FAILURE; a
//   malformed or unexpected message, a record that is not TLS at all, or the
//   peer's close_notify in the middle of a handshake -> SEC_E_ILLEGAL_MESSAGE;
//   ALPN without a match -> SEC_E_APPLICATION_PROTOCOL_MISMATCH.
// - failures outside the TLS library (memory, crypto back end) ->
//   SEC_E_INTERNAL_ERROR.
// - anything else: SEC_E_ILLEGAL_MESSAGE in a handshake, SEC_E_DECRYPT_FAILURE
//   when reading records, and every failure to write one is
//   SEC_E_ENCRYPT_FAILURE.
SslFailure takeSslFailure(int sslError, SslPhase phase);

}  // namespace platform::security
