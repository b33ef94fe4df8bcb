#include "platform/security/status_mapping.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace platform::security {

namespace {

SecStatus fromAlert(int alert) {
    switch (alert) {
        case SSL_AD_HANDSHAKE_FAILURE:
        case SSL_AD_PROTOCOL_VERSION:
        case SSL_AD_INSUFFICIENT_SECURITY: return SEC_E_ALGORITHM_MISMATCH;
        case SSL_AD_NO_APPLICATION_PROTOCOL: return SEC_E_APPLICATION_PROTOCOL_MISMATCH;
        case SSL_AD_BAD_RECORD_MAC:
        case SSL_AD_DECRYPTION_FAILED:
        case SSL_AD_DECRYPT_ERROR: return SEC_E_DECRYPT_FAILURE;
        case SSL_AD_BAD_CERTIFICATE:
        case SSL_AD_UNSUPPORTED_CERTIFICATE:
        case SSL_AD_CERTIFICATE_REVOKED:
        case SSL_AD_CERTIFICATE_EXPIRED:
        case SSL_AD_CERTIFICATE_UNKNOWN:
        case SSL_AD_UNKNOWN_CA:
        case SSL_AD_CERTIFICATE_REQUIRED: return SEC_E_CERT_UNKNOWN;
        case SSL_AD_INTERNAL_ERROR: return SEC_E_INTERNAL_ERROR;
        default: return SEC_E_ILLEGAL_MESSAGE;
    }
}

SecStatus fromReason(int reason, SslPhase phase) {
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
        return fromAlert(reason - SSL_AD_REASON_OFFSET);
    }
    switch (reason) {
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_UNSUPPORTED_SSL_VERSION:
        case SSL_R_WRONG_SSL_VERSION:
        case SSL_R_VERSION_TOO_LOW:
        case SSL_R_VERSION_TOO_HIGH:
        case SSL_R_NO_CIPHERS_AVAILABLE:
        case SSL_R_NO_SHARED_CIPHER:
        case SSL_R_WRONG_CIPHER_RETURNED:
        case SSL_R_NO_SUITABLE_KEY_SHARE:
        case SSL_R_NO_SHARED_GROUPS:
        case SSL_R_WRONG_CURVE:
        case SSL_R_DH_KEY_TOO_SMALL:
        case SSL_R_UNSAFE_LEGACY_RENEGOTIATION_DISABLED: return SEC_E_ALGORITHM_MISMATCH;
        case SSL_R_NO_APPLICATION_PROTOCOL: return SEC_E_APPLICATION_PROTOCOL_MISMATCH;
        case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
        case SSL_R_DECRYPTION_FAILED: return SEC_E_DECRYPT_FAILURE;
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_UNEXPECTED_MESSAGE:
        case SSL_R_UNEXPECTED_RECORD:
        case SSL_R_RECORD_LENGTH_MISMATCH:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
        case SSL_R_LENGTH_MISMATCH:
        case SSL_R_BAD_PACKET:
        case SSL_R_BAD_LENGTH:
        case SSL_R_HTTP_REQUEST:
        case SSL_R_HTTPS_PROXY_REQUEST: return SEC_E_ILLEGAL_MESSAGE;
        default: return phase == SslPhase::Handshake ? SEC_E_ILLEGAL_MESSAGE : SEC_E_DECRYPT_FAILURE;
    }
}

}  // namespace

SslFailure takeSslFailure(int sslError, SslPhase phase) {
    SslFailure failure;
    // The first entry is where things went wrong; later ones are the callers
    // that passed it on.
    unsigned long first = ERR_get_error();
    if (first != 0) {
        char text[256];
        ERR_error_string_n(first, text, sizeof text);
        failure.text = text;
    }
    ERR_clear_error();
    if (phase == SslPhase::Encrypt) {
        failure.status = SEC_E_ENCRYPT_FAILURE;
        return failure;
    }
    if (sslError == SSL_ERROR_ZERO_RETURN) {
        failure.status = SEC_E_ILLEGAL_MESSAGE;
        if (failure.text.empty()) failure.text = "close_notify during the handshake";
        return failure;
    }
    if (first == 0) {
        failure.status = SEC_E_INTERNAL_ERROR;
        if (failure.text.empty()) failure.text = "OpenSSL failed without saying why";
        return failure;
    }
    if (ERR_GET_LIB(first) != ERR_LIB_SSL) {
        failure.status = SEC_E_INTERNAL_ERROR;
        return failure;
    }
    failure.status = fromReason(ERR_GET_REASON(first), phase);
    return failure;
}

}  // namespace platform::security
