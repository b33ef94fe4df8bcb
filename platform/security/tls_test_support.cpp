#include "platform/security/tls_test_support.h"

#include <stdexcept>

namespace platform::security::testing {

const TestPki& TestPki::get() {
    static const TestPki pki = [] {
        TestPki made;
        made.ca = issue(caRequest({{"C", "DE"}, {"O", "Taltrix Test"}, {"CN", "Test Root"}}, 1));
        CertificateRequest rsa = leafRequest("localhost", "DNS:localhost,IP:127.0.0.1", 2);
        rsa.rsa = true;
        made.rsaLeaf = issue(rsa, &made.ca);
        made.ecLeaf = issue(leafRequest("localhost", "DNS:localhost,IP:127.0.0.1", 3), &made.ca);
        return made;
    }();
    return pki;
}

std::shared_ptr<TlsCredentials> acquireCredentials(const CredentialOptions& options) {
    std::shared_ptr<TlsCredentials> credentials;
    SecStatus status = TlsCredentials::acquire(options, credentials);
    if (status != SEC_E_OK) throw std::runtime_error("credentials refused: " + std::to_string(status));
    return credentials;
}

CredentialOptions credentialOptions(std::uint32_t protocols, std::vector<AlgId> algorithms, int minimumStrength,
                                    std::vector<std::string> alpn) {
    CredentialOptions options;
    options.enabledProtocols = protocols;
    options.algorithms = std::move(algorithms);
    options.minimumCipherStrength = minimumStrength;
    options.alpnProtocols = std::move(alpn);
    return options;
}

ServerOptions serverVersions(int minVersion, int maxVersion) {
    ServerOptions options;
    options.minVersion = minVersion;
    options.maxVersion = maxVersion;
    return options;
}

void Link::deliver(const std::vector<std::uint8_t>& bytes) {
    undelivered_.insert(undelivered_.end(), bytes.begin(), bytes.end());
    std::size_t count = std::min(chunk_, undelivered_.size());
    pending.insert(pending.end(), undelivered_.begin(), undelivered_.begin() + static_cast<long>(count));
    undelivered_.erase(undelivered_.begin(), undelivered_.begin() + static_cast<long>(count));
}

SecStatus Link::handshake(const std::string& target, std::size_t chunk) {
    chunk_ = chunk;
    TokenResult step = client.initialize(target, {});
    for (int round = 0; round < 100000; ++round) {
        handshakeStatuses.push_back(step.status);
        consume(step.consumed);
        if (!step.token.empty()) sendToServer(step.token);
        if (step.status != SEC_I_CONTINUE_NEEDED && step.status != SEC_E_INCOMPLETE_MESSAGE) break;
        // Like a socket read: whatever is in flight arrives, a chunk at a time.
        if (step.status == SEC_E_INCOMPLETE_MESSAGE) {
            if (undelivered_.empty()) break;
            deliver({});
        }
        step = client.initialize(target, pending);
    }
    chunk_ = SIZE_MAX;
    deliver({});
    return handshakeStatuses.back();
}

DecryptResult Link::decryptOnce(std::span<std::uint8_t> room) {
    DecryptResult result = client.decrypt(pending, room);
    consume(result.consumed);
    if (!result.token.empty()) sendToServer(result.token);
    return result;
}

SecStatus Link::decryptAll(std::string& plaintext) {
    SecStatus status = SEC_E_OK;
    while (!pending.empty()) {
        DecryptResult result = decryptOnce();
        plaintext.append(result.plaintext.begin(), result.plaintext.end());
        status = result.status;
        if (status != SEC_E_OK) break;
    }
    return status;
}

}  // namespace platform::security::testing
