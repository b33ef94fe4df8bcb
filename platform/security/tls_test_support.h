// A client context and an in-memory server wired together, with the loop a
// TLS channel runs around the provider: keep the pending input, drop what
// each call consumed, send every token.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/security/memory_tls_server.h"
#include "platform/security/tls_context.h"

namespace platform::security::testing {

// A CA and two leaves for localhost and 127.0.0.1 (RSA and EC), made once.
struct TestPki {
    Issued ca;
    Issued rsaLeaf;
    Issued ecLeaf;
    static const TestPki& get();
};

std::shared_ptr<TlsCredentials> acquireCredentials(const CredentialOptions& options);
CredentialOptions credentialOptions(std::uint32_t protocols, std::vector<AlgId> algorithms = {},
                                    int minimumStrength = 0, std::vector<std::string> alpn = {});
ServerOptions serverVersions(int minVersion, int maxVersion);

class Link {
public:
    Link(std::shared_ptr<TlsCredentials> credentials, const ServerConfig& config)
        : client(std::move(credentials)), server(config) {}

    // Runs the handshake loop; the server's bytes reach the client in pieces
    // of at most `chunk` bytes. Returns the last status.
    SecStatus handshake(const std::string& target, std::size_t chunk = SIZE_MAX);
    // Bytes from the server into the client's pending input.
    void deliver(const std::vector<std::uint8_t>& bytes);
    // One decrypt() call on the pending input (opening into `room` first);
    // any token goes to the server.
    DecryptResult decryptOnce(std::span<std::uint8_t> room = {});
    // decrypt() until the pending input is used up or something else than
    // SEC_E_OK comes back; the last status is returned.
    SecStatus decryptAll(std::string& plaintext);
    void sendToServer(const std::vector<std::uint8_t>& bytes) { serverReply(server.take(bytes)); }

    TlsContext client;
    MemoryTlsServer server;
    std::vector<std::uint8_t> pending;
    std::vector<SecStatus> handshakeStatuses;

private:
    void serverReply(const std::vector<std::uint8_t>& bytes) { deliver(bytes); }
    void consume(std::size_t count) { pending.erase(pending.begin(), pending.begin() + static_cast<long>(count)); }
    std::size_t chunk_ = SIZE_MAX;
    std::vector<std::uint8_t> undelivered_;
};

}  // namespace platform::security::testing
