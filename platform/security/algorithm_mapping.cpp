#include "platform/security/algorithm_mapping.h"

#include <openssl/obj_mac.h>

namespace platform::security {

AlgId cipherAlgId(const SSL_CIPHER* cipher) {
    switch (SSL_CIPHER_get_cipher_nid(cipher)) {
        case NID_aes_128_cbc:
        case NID_aes_128_gcm:
        case NID_aes_128_ccm:
        case NID_aes_128_cbc_hmac_sha1:
        case NID_aes_128_cbc_hmac_sha256: return CALG_AES_128;
        case NID_aes_256_cbc:
        case NID_aes_256_gcm:
        case NID_aes_256_ccm:
        case NID_aes_256_cbc_hmac_sha1:
        case NID_aes_256_cbc_hmac_sha256: return CALG_AES_256;
        case NID_des_ede3_cbc: return CALG_3DES;
        case NID_des_cbc: return CALG_DES;
        case NID_rc4:
        case NID_rc4_40: return CALG_RC4;
        case NID_rc2_cbc: return CALG_RC2;
        case NID_chacha20_poly1305: return CALG_TALTRIX_CHACHA20;
        default: return 0;
    }
}

AlgId hashAlgId(const SSL_CIPHER* cipher) {
    int nid = SSL_CIPHER_get_digest_nid(cipher);
    if (nid == NID_undef) {
        const EVP_MD* prf = SSL_CIPHER_get_handshake_digest(cipher);
        nid = prf != nullptr ? EVP_MD_get_type(prf) : NID_undef;
    }
    switch (nid) {
        case NID_md5: return CALG_MD5;
        case NID_sha1:
        case NID_md5_sha1:  // the PRF of TLS 1.0 and 1.1; SHA-1 is its stronger half
            return CALG_SHA1;
        case NID_sha256: return CALG_SHA_256;
        case NID_sha384: return CALG_SHA_384;
        case NID_sha512: return CALG_SHA_512;
        default: return 0;
    }
}

int hashBits(AlgId hash) {
    switch (hash) {
        case CALG_MD5: return 128;
        case CALG_SHA1: return 160;
        case CALG_SHA_256: return 256;
        case CALG_SHA_384: return 384;
        case CALG_SHA_512: return 512;
        default: return 0;
    }
}

namespace {

bool isFiniteFieldGroup(int group) {
    switch (group) {
        case NID_ffdhe2048:
        case NID_ffdhe3072:
        case NID_ffdhe4096:
        case NID_ffdhe6144:
        case NID_ffdhe8192: return true;
        default: return false;
    }
}

}  // namespace

AlgId keyExchangeAlgId(const SSL_CIPHER* cipher, int tls13Group) {
    switch (SSL_CIPHER_get_kx_nid(cipher)) {
        case NID_kx_rsa:
        case NID_kx_rsa_psk: return CALG_RSA_KEYX;
        case NID_kx_dhe:
        case NID_kx_dhe_psk: return CALG_DH_EPHEM;
        case NID_kx_ecdhe:
        case NID_kx_ecdhe_psk: return CALG_ECDH_EPHEM;
        case NID_kx_any: return isFiniteFieldGroup(tls13Group) ? CALG_DH_EPHEM : CALG_ECDH_EPHEM;
        default: return 0;
    }
}

AlgId signatureAlgId(const SSL_CIPHER* cipher) {
    switch (SSL_CIPHER_get_auth_nid(cipher)) {
        case NID_auth_rsa: return CALG_RSA_SIGN;
        case NID_auth_ecdsa: return CALG_ECDSA;
        case NID_auth_dss: return CALG_DSS_SIGN;
        default: return 0;
    }
}

std::uint32_t protocolBit(int version) {
    switch (version) {
        case SSL3_VERSION: return SP_PROT_SSL3_CLIENT;
        case TLS1_VERSION: return SP_PROT_TLS1_0_CLIENT;
        case TLS1_1_VERSION: return SP_PROT_TLS1_1_CLIENT;
        case TLS1_2_VERSION: return SP_PROT_TLS1_2_CLIENT;
        case TLS1_3_VERSION: return SP_PROT_TLS1_3_CLIENT;
        default: return 0;
    }
}

}  // namespace platform::security
