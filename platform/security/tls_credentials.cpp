#include "platform/security/tls_credentials.h"

#include <openssl/err.h>

#include "platform/security/certificate_store.h"
#include "platform/security/cipher_selection.h"

namespace platform::security {

namespace {

int credentialsIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int targetIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// OpenSSL calls this for the session of a finished handshake and, in TLS
// 1.3, for every ticket that arrives afterwards. The cache takes its own
// reference, so OpenSSL keeps (and later drops) its one.
int storeNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* credentials = static_cast<TlsCredentials*>(SSL_get_ex_data(ssl, credentialsIndex()));
    auto* target = static_cast<const std::string*>(SSL_get_ex_data(ssl, targetIndex()));
    if (credentials != nullptr && target != nullptr) credentials->rememberSession(*target, session);
    return 0;
}

SecStatus fail(SecStatus status) {
    ERR_clear_error();
    return status;
}

// The certificate goes out whenever a server asks for one, with whatever of
// its chain the store had, so that a server that knows only the root can
// still build the path.
SecStatus useClientIdentity(SSL_CTX* ctx, const ClientIdentity& identity) {
    if (!identity.certificate || !identity.privateKey) return SEC_E_NO_CREDENTIALS;
    if (SSL_CTX_use_certificate(ctx, identity.certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, identity.privateKey.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        return SEC_E_UNKNOWN_CREDENTIALS;
    }
    for (const X509Ptr& link : identity.chain) {
        if (SSL_CTX_add1_chain_cert(ctx, link.get()) != 1) return SEC_E_UNKNOWN_CREDENTIALS;
    }
    return SEC_E_OK;
}

}  // namespace

std::vector<unsigned char> alpnWireList(const std::vector<std::string>& protocols) {
    std::vector<unsigned char> wire;
    for (const auto& protocol : protocols) {
        if (protocol.empty() || protocol.size() > 255) continue;
        wire.push_back(static_cast<unsigned char>(protocol.size()));
        wire.insert(wire.end(), protocol.begin(), protocol.end());
    }
    return wire;
}

SecStatus TlsCredentials::acquire(const CredentialOptions& options, std::shared_ptr<TlsCredentials>& credentials) {
    std::optional<ProtocolRange> range = protocolRange(options.enabledProtocols);
    if (!range) return SEC_E_ALGORITHM_MISMATCH;

    std::shared_ptr<TlsCredentials> made(new TlsCredentials(options));
    made->context_.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX* ctx = made->context_.get();
    if (ctx == nullptr) return fail(SEC_E_INTERNAL_ERROR);

    // The handshake never fails over the server's certificate: the channel
    // checks it itself once the handshake is through, and lets its user
    // overrule the verdict.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    // The roots still go in, so that OpenSSL's own verdict is there to read
    // in a debugger or log.
    TrustedRoots roots = loadTrustedRoots();
    if (roots.store) SSL_CTX_set_cert_store(ctx, roots.store.release());

    if (range->minVersion != 0) {
        // TLS 1.1 and older need MD5-SHA1 or SHA-1 signatures, which OpenSSL's
        // default security level refuses; a caller who enables them wants them.
        if (range->minVersion < TLS1_2_VERSION) SSL_CTX_set_security_level(ctx, 0);
        if (SSL_CTX_set_min_proto_version(ctx, range->minVersion) != 1 ||
            SSL_CTX_set_max_proto_version(ctx, range->maxVersion) != 1) {
            return fail(SEC_E_ALGORITHM_MISMATCH);
        }
        SSL_CTX_set_options(ctx, range->holeOptions);
    }

    CipherSelection ciphers = selectCiphers(options.algorithms, options.minimumCipherStrength);
    bool noTls12 = ciphers.tls12Ciphers && ciphers.tls12Ciphers->empty();
    bool noTls13 = ciphers.tls13Suites && ciphers.tls13Suites->empty();
    int maxVersion = range->maxVersion != 0 ? range->maxVersion : TLS1_3_VERSION;
    int minVersion = range->minVersion != 0 ? range->minVersion : TLS1_VERSION;
    bool tls13Allowed = maxVersion >= TLS1_3_VERSION && !noTls13;
    bool olderAllowed = minVersion < TLS1_3_VERSION && !noTls12;
    if (!tls13Allowed && !olderAllowed) return fail(SEC_E_ALGORITHM_MISMATCH);
    // OpenSSL refuses an empty cipher list; narrowing the versions says the
    // same thing.
    if (noTls12) {
        SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    } else if (ciphers.tls12Ciphers && SSL_CTX_set_cipher_list(ctx, ciphers.tls12Ciphers->c_str()) != 1) {
        return fail(SEC_E_ALGORITHM_MISMATCH);
    }
    if (noTls13) SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    if (ciphers.tls13Suites && SSL_CTX_set_ciphersuites(ctx, ciphers.tls13Suites->c_str()) != 1) {
        return fail(SEC_E_ALGORITHM_MISMATCH);
    }
    if (ciphers.groups && SSL_CTX_set1_groups_list(ctx, ciphers.groups->c_str()) != 1) {
        return fail(SEC_E_ALGORITHM_MISMATCH);
    }

    if (const ClientIdentity* identity = options.clientIdentity.get()) {
        if (const SecStatus status = useClientIdentity(ctx, *identity); status != SEC_E_OK) return fail(status);
    }

    std::vector<unsigned char> alpn = alpnWireList(options.alpnProtocols);
    // Note the inverted result: SSL_CTX_set_alpn_protos returns 0 on success.
    if (!alpn.empty() && SSL_CTX_set_alpn_protos(ctx, alpn.data(), static_cast<unsigned>(alpn.size())) != 0) {
        return fail(SEC_E_INTERNAL_ERROR);
    }

    // Sessions are kept here per target, not in OpenSSL's internal cache,
    // which would hand a session to whichever server asked.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, storeNewSession);

    credentials = std::move(made);
    return SEC_E_OK;
}

void TlsCredentials::rememberSession(const std::string& target, SSL_SESSION* session) {
    SSL_SESSION_up_ref(session);
    sessions_[target].reset(session);
}

void TlsCredentials::bindSessions(SSL* ssl, const std::string* target) {
    SSL_set_ex_data(ssl, credentialsIndex(), this);
    SSL_set_ex_data(ssl, targetIndex(), const_cast<std::string*>(target));
}

SSL_SESSION* TlsCredentials::sessionFor(const std::string& target) const {
    auto found = sessions_.find(target);
    if (found == sessions_.end() || !SSL_SESSION_is_resumable(found->second.get())) return nullptr;
    return found->second.get();
}

}  // namespace platform::security
