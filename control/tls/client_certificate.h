// The certificate the control shows a server that asks for one. It is chosen
// from a store by subject (SSLCertStoreType, SSLCertStore,
// SSLCertStorePassword, SSLCertSubject) or given whole (SSLCertEncoded), and
// held until the next choice or the end of the control.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "control/tls/tls_settings.h"
#include "platform/security/tls_credentials.h"

namespace morvane {

class ClientCertificate {
public:
    struct Outcome {
        int code = 0;  // 0, or the failure's code
        std::string text;
    };

    // Opens the store the settings name and looks for the subject. Found:
    // the certificate is held and `settings.sslCertSubject` becomes its full
    // subject. Otherwise nothing is held: 271 or -1 with the store's text
    // when the store does not open, 272 with "The certificate could not be
    // found (...)." when no certificate matches.
    Outcome selectFromStore(TlsSettings& settings);

    // Decodes a certificate given as PEM, as base64 text or as DER bytes and
    // holds it, with its private key when one of the user's or the machine's
    // personal stores has the key that matches it. Empty bytes let go of the
    // certificate.
    Outcome useEncoded(std::span<const std::uint8_t> encoded);

    void release();

    // What the next connection shows, or nothing.
    std::shared_ptr<const platform::security::ClientIdentity> identity() const { return identity_; }
    // Whether the certificate came from a store search, which each new
    // connection runs again.
    bool fromStore() const { return fromStore_; }
    // The SHA-256 fingerprint of the held certificate in hexadecimal, or an
    // empty text: what tells two credentials apart.
    std::string fingerprint() const;

private:
    std::shared_ptr<const platform::security::ClientIdentity> identity_;
    bool fromStore_ = false;
};

}  // namespace morvane
