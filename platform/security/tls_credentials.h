// The outbound credential of a TLS client: what it may negotiate (protocol
// bits, algorithm list, minimum strength, ALPN) and the sessions of earlier
// connections made with it. The same credential handed to a new context
// offers to resume the last session with that target.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/security/algorithm_ids.h"
#include "platform/security/openssl_handles.h"
#include "platform/security/security_status.h"

namespace platform::security {

// The certificate a client shows when the server asks for one, with its
// private key and the certificates that lead from it towards a root.
struct ClientIdentity {
    X509Ptr certificate;
    EvpPkeyPtr privateKey;
    std::vector<X509Ptr> chain;
};

struct CredentialOptions {
    // Protocol bits; without any version bit OpenSSL's own choice stands.
    std::uint32_t enabledProtocols = 0;
    // Suites below this many key bits are left out.
    int minimumCipherStrength = 0;
    // CryptoAPI identifiers; empty leaves the suites to OpenSSL.
    std::vector<AlgId> algorithms;
    // Protocol identifiers to offer through ALPN, in order of preference;
    // empty ones and ones longer than 255 bytes are dropped.
    std::vector<std::string> alpnProtocols;
    // The client certificate, when one was chosen; it must carry its key.
    std::shared_ptr<const ClientIdentity> clientIdentity;
};

class TlsCredentials {
public:
    // SEC_E_OK and the credential, or SEC_E_ALGORITHM_MISMATCH when the
    // options leave no version or no suite to offer, SEC_E_NO_CREDENTIALS when
    // the client certificate has no private key, SEC_E_UNKNOWN_CREDENTIALS
    // when OpenSSL will not use it (a key that does not match, or one too weak
    // for the security level), SEC_E_INTERNAL_ERROR when OpenSSL cannot set up.
    static SecStatus acquire(const CredentialOptions& options, std::shared_ptr<TlsCredentials>& credentials);

    TlsCredentials(const TlsCredentials&) = delete;
    TlsCredentials& operator=(const TlsCredentials&) = delete;

    const CredentialOptions& options() const { return options_; }
    SSL_CTX* sslContext() const { return context_.get(); }

    // Session cache, one entry per target: a context stores the session its
    // handshake made (and TLS 1.3 tickets that arrive later) and a new context
    // for the same target offers it.
    void rememberSession(const std::string& target, SSL_SESSION* session);
    SSL_SESSION* sessionFor(const std::string& target) const;
    // Ties a connection to this cache: sessions OpenSSL makes for `ssl` are
    // stored under `*target`, which must live as long as `ssl`.
    void bindSessions(SSL* ssl, const std::string* target);

private:
    explicit TlsCredentials(CredentialOptions options) : options_(std::move(options)) {}

    CredentialOptions options_;
    SslCtxPtr context_;
    std::map<std::string, SslSessionPtr> sessions_;
};

// The ALPN list in its wire form: a length byte before each identifier.
std::vector<unsigned char> alpnWireList(const std::vector<std::string>& protocols);

}  // namespace platform::security
