// An OpenSSL server driven through memory BIOs, the peer of the in-memory
// handshake tests: bytes from the client go in, bytes for the client come
// out, and the test can look at what the server saw.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/openssl_handles.h"
#include "platform/security/test_pki.h"

namespace platform::security::testing {

struct ServerOptions {
    int minVersion = 0;
    int maxVersion = 0;
    std::string cipherList;         // TLS 1.2 and older; empty: OpenSSL's default
    std::string suites;             // TLS 1.3; empty: OpenSSL's default
    std::vector<std::string> alpn;  // protocols the server speaks, in its order
    bool requestClientCertificate = false;
};

// One server configuration (certificate, versions, session cache), shared by
// the connections made from it so that a second one can resume.
class ServerConfig {
public:
    ServerConfig(const Issued& leaf, const std::vector<const Issued*>& intermediates, ServerOptions options = {});
    SSL_CTX* context() const { return context_.get(); }
    const std::vector<unsigned char>& alpnWire() const { return alpnWire_; }

private:
    SslCtxPtr context_;
    std::vector<unsigned char> alpnWire_;
};

class MemoryTlsServer {
public:
    explicit MemoryTlsServer(const ServerConfig& config);

    // Takes the client's bytes, moves the handshake on or reads application
    // data into received(), and returns what the server has to send.
    std::vector<std::uint8_t> take(std::span<const std::uint8_t> fromClient);
    std::vector<std::uint8_t> send(std::string_view plaintext);
    std::vector<std::uint8_t> closeNotify();
    // A TLS 1.2 HelloRequest.
    std::vector<std::uint8_t> requestRenegotiation();

    bool handshakeDone() const { return SSL_is_init_finished(ssl_.get()) == 1; }
    bool failed() const { return failed_; }
    bool peerClosed() const { return peerClosed_; }
    const std::string& received() const { return received_; }
    std::string serverName() const;
    // Alerts read from the client, as (level << 8) | description.
    const std::vector<int>& alertsReceived() const { return alerts_; }
    // Handshakes the server went all the way through, renegotiations included.
    int handshakesCompleted() const { return handshakes_; }
    SSL* ssl() const { return ssl_.get(); }

private:
    static void onInfo(const SSL* ssl, int where, int value);
    std::vector<std::uint8_t> drain();

    SslPtr ssl_;
    BIO* input_ = nullptr;
    BIO* output_ = nullptr;
    std::string received_;
    std::vector<int> alerts_;
    int handshakes_ = 0;
    bool failed_ = false;
    bool peerClosed_ = false;
};

}  // namespace platform::security::testing
