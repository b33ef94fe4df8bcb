#include "platform/security/connection_info.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/security/algorithm_mapping.h"

namespace platform::security {

namespace {

std::vector<std::uint8_t> derOf(X509* cert) {
    std::vector<std::uint8_t> der;
    int length = i2d_X509(cert, nullptr);
    if (length <= 0) return der;
    der.resize(static_cast<std::size_t>(length));
    unsigned char* cursor = der.data();
    i2d_X509(cert, &cursor);
    return der;
}

int exchangeBits(const SSL* ssl, AlgId exchange) {
    if (exchange == CALG_RSA_KEYX) {
        X509* leaf = SSL_get0_peer_certificate(ssl);
        EVP_PKEY* key = leaf != nullptr ? X509_get0_pubkey(leaf) : nullptr;
        return key != nullptr ? EVP_PKEY_get_bits(key) : 0;
    }
    EVP_PKEY* ephemeral = nullptr;
    // The macro wants a non-const SSL; it only reads.
    if (SSL_get_peer_tmp_key(const_cast<SSL*>(ssl), &ephemeral) != 1 || ephemeral == nullptr) return 0;
    int bits = EVP_PKEY_get_bits(ephemeral);
    EVP_PKEY_free(ephemeral);
    return bits;
}

}  // namespace

ConnectionInfo describeConnection(const SSL* ssl) {
    ConnectionInfo info;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
    info.protocol = protocolBit(SSL_version(ssl));
    if (cipher != nullptr) {
        info.cipher = cipherAlgId(cipher);
        info.cipherStrength = SSL_CIPHER_get_bits(cipher, nullptr);
        info.hash = hashAlgId(cipher);
        info.hashStrength = hashBits(info.hash);
        int group = SSL_version(ssl) >= TLS1_3_VERSION ? SSL_get_negotiated_group(const_cast<SSL*>(ssl)) : 0;
        info.exchange = keyExchangeAlgId(cipher, group);
        info.exchangeStrength = exchangeBits(ssl, info.exchange);
        info.cipherSuite = SSL_CIPHER_get_protocol_id(cipher);
        if (const char* name = SSL_CIPHER_standard_name(cipher); name != nullptr) info.cipherSuiteName = name;
    }
    const unsigned char* alpn = nullptr;
    unsigned alpnLength = 0;
    SSL_get0_alpn_selected(ssl, &alpn, &alpnLength);
    if (alpn != nullptr) info.alpn.assign(reinterpret_cast<const char*>(alpn), alpnLength);
    info.sessionReused = SSL_session_reused(ssl) == 1;

    if (STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl); chain != nullptr) {
        for (int i = 0; i < sk_X509_num(chain); ++i) info.serverChain.push_back(derOf(sk_X509_value(chain, i)));
    } else if (X509* leaf = SSL_get0_peer_certificate(ssl); leaf != nullptr) {
        info.serverChain.push_back(derOf(leaf));
    }
    return info;
}

std::size_t recordTrailerBound(const SSL* ssl) {
    // Largest IV, MAC and CBC padding of any suite; used when the suite's own
    // figures cannot be had.
    constexpr std::size_t kAnySuite = 16 + EVP_MAX_MD_SIZE + 16;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
    if (cipher == nullptr) return kAnySuite;
    // TLS 1.3: the inner content type and a 16-byte tag; we never pad.
    if (SSL_version(ssl) >= TLS1_3_VERSION) return 1 + 16;
    const EVP_CIPHER* evp = EVP_get_cipherbynid(SSL_CIPHER_get_cipher_nid(cipher));
    if (evp == nullptr) return kAnySuite;
    std::size_t block = static_cast<std::size_t>(EVP_CIPHER_get_block_size(evp));
    switch (EVP_CIPHER_get_mode(evp)) {
        case EVP_CIPH_GCM_MODE:
        case EVP_CIPH_CCM_MODE: return 8 + 16;  // explicit nonce and tag
        case EVP_CIPH_CBC_MODE: {
            const EVP_MD* md = SSL_CIPHER_get_digest_nid(cipher) != NID_undef
                                   ? EVP_get_digestbynid(SSL_CIPHER_get_digest_nid(cipher))
                                   : nullptr;
            std::size_t mac = md != nullptr ? static_cast<std::size_t>(EVP_MD_get_size(md)) : EVP_MAX_MD_SIZE;
            std::size_t explicitIv = SSL_version(ssl) >= TLS1_1_VERSION ? block : 0;
            // OpenSSL pads to the next block: 1 to `block` bytes.
            return explicitIv + mac + block;
        }
        default:
            // Stream ciphers (ChaCha20-Poly1305's tag, RC4's MAC).
            return EVP_CIPHER_get_flags(evp) & EVP_CIPH_FLAG_AEAD_CIPHER ? 16 : EVP_MAX_MD_SIZE;
    }
}

}  // namespace platform::security
