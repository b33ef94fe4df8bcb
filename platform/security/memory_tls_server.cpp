#include "platform/security/memory_tls_server.h"

#include <openssl/err.h>

#include <stdexcept>

namespace platform::security::testing {

namespace {

int selectAlpn(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* offered,
               unsigned offeredLength, void* arg) {
    const auto* ours = static_cast<const std::vector<unsigned char>*>(arg);
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, ours->data(), static_cast<unsigned>(ours->size()), offered,
                              offeredLength) != OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

}  // namespace

ServerConfig::ServerConfig(const Issued& leaf, const std::vector<const Issued*>& intermediates, ServerOptions options)
    : context_(SSL_CTX_new(TLS_server_method())) {
    SSL_CTX* ctx = context_.get();
    if (ctx == nullptr || SSL_CTX_use_certificate(ctx, leaf.cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, leaf.key.get()) != 1) {
        throw std::runtime_error("test server: certificate");
    }
    for (const Issued* intermediate : intermediates) {
        SSL_CTX_add1_chain_cert(ctx, intermediate->cert.get());
    }
    // Old versions and weak suites are in some tests on purpose.
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_dh_auto(ctx, 1);
    if (options.minVersion != 0) SSL_CTX_set_min_proto_version(ctx, options.minVersion);
    if (options.maxVersion != 0) SSL_CTX_set_max_proto_version(ctx, options.maxVersion);
    if (!options.cipherList.empty() && SSL_CTX_set_cipher_list(ctx, options.cipherList.c_str()) != 1) {
        throw std::runtime_error("test server: cipher list " + options.cipherList);
    }
    if (!options.suites.empty() && SSL_CTX_set_ciphersuites(ctx, options.suites.c_str()) != 1) {
        throw std::runtime_error("test server: suites " + options.suites);
    }
    for (const auto& protocol : options.alpn) {
        alpnWire_.push_back(static_cast<unsigned char>(protocol.size()));
        alpnWire_.insert(alpnWire_.end(), protocol.begin(), protocol.end());
    }
    if (!alpnWire_.empty()) SSL_CTX_set_alpn_select_cb(ctx, selectAlpn, &alpnWire_);
    if (options.requestClientCertificate) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
    }
    SSL_CTX_set_session_id_context(ctx, reinterpret_cast<const unsigned char*>("test"), 4);
}

MemoryTlsServer::MemoryTlsServer(const ServerConfig& config) : ssl_(SSL_new(config.context())) {
    input_ = BIO_new(BIO_s_mem());
    output_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(input_, -1);
    SSL_set_bio(ssl_.get(), input_, output_);
    SSL_set_accept_state(ssl_.get());
    SSL_set_app_data(ssl_.get(), this);
    SSL_set_info_callback(ssl_.get(), onInfo);
}

void MemoryTlsServer::onInfo(const SSL* ssl, int where, int value) {
    auto* self = static_cast<MemoryTlsServer*>(SSL_get_app_data(ssl));
    if ((where & SSL_CB_READ_ALERT) != 0) self->alerts_.push_back(value);
    if ((where & SSL_CB_HANDSHAKE_DONE) != 0) ++self->handshakes_;
}

std::vector<std::uint8_t> MemoryTlsServer::drain() {
    std::vector<std::uint8_t> bytes(BIO_ctrl_pending(output_));
    if (!bytes.empty()) BIO_read(output_, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> MemoryTlsServer::take(std::span<const std::uint8_t> fromClient) {
    if (!fromClient.empty()) BIO_write(input_, fromClient.data(), static_cast<int>(fromClient.size()));
    if (!failed_) {
        if (!handshakeDone()) {
            int done = SSL_do_handshake(ssl_.get());
            if (done != 1 && SSL_get_error(ssl_.get(), done) != SSL_ERROR_WANT_READ) failed_ = true;
        }
        while (!failed_ && !peerClosed_ && handshakeDone()) {
            char buffer[4096];
            int got = SSL_read(ssl_.get(), buffer, sizeof buffer);
            if (got > 0) {
                received_.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            int error = SSL_get_error(ssl_.get(), got);
            if (error == SSL_ERROR_ZERO_RETURN) peerClosed_ = true;
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_ZERO_RETURN) failed_ = true;
            break;
        }
    }
    ERR_clear_error();
    return drain();
}

std::vector<std::uint8_t> MemoryTlsServer::send(std::string_view plaintext) {
    SSL_write(ssl_.get(), plaintext.data(), static_cast<int>(plaintext.size()));
    return drain();
}

std::vector<std::uint8_t> MemoryTlsServer::closeNotify() {
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
    return drain();
}

std::vector<std::uint8_t> MemoryTlsServer::requestRenegotiation() {
    SSL_renegotiate(ssl_.get());
    SSL_do_handshake(ssl_.get());
    ERR_clear_error();
    return drain();
}

std::string MemoryTlsServer::serverName() const {
    const char* name = SSL_get_servername(ssl_.get(), TLSEXT_NAMETYPE_host_name);
    return name != nullptr ? name : "";
}

}  // namespace platform::security::testing
