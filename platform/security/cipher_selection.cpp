#include "platform/security/cipher_selection.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/security/algorithm_mapping.h"
#include "platform/security/openssl_handles.h"

namespace platform::security {

namespace {

struct VersionBits {
    std::uint32_t mask;
    int version;
    std::uint64_t disable;
};

// Oldest first. PCT1 and SSL 2.0 are absent: OpenSSL no longer has them.
constexpr std::array<VersionBits, 5> kVersions{{
    {SP_PROT_SSL3, SSL3_VERSION, SSL_OP_NO_SSLv3},
    {SP_PROT_TLS1_0, TLS1_VERSION, SSL_OP_NO_TLSv1},
    {SP_PROT_TLS1_1, TLS1_1_VERSION, SSL_OP_NO_TLSv1_1},
    {SP_PROT_TLS1_2, TLS1_2_VERSION, SSL_OP_NO_TLSv1_2},
    {SP_PROT_TLS1_3, TLS1_3_VERSION, SSL_OP_NO_TLSv1_3},
}};

constexpr std::uint32_t kAllVersionBits =
    SP_PROT_PCT1 | SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1 | SP_PROT_TLS1_2 | SP_PROT_TLS1_3;

enum class Kind { Cipher, Hash, KeyExchange, Signature, Other };

Kind kindOf(AlgId id) {
    switch (id) {
        case CALG_DES:
        case CALG_RC2:
        case CALG_3DES:
        case CALG_3DES_112:
        case CALG_AES_128:
        case CALG_AES_192:
        case CALG_AES_256:
        case CALG_AES:
        case CALG_RC4: return Kind::Cipher;
        case CALG_MD5:
        case CALG_SHA1:
        case CALG_SHA_256:
        case CALG_SHA_384:
        case CALG_SHA_512: return Kind::Hash;
        case CALG_RSA_KEYX:
        case CALG_DH_EPHEM:
        case CALG_ECDH:
        case CALG_ECDH_EPHEM: return Kind::KeyExchange;
        case CALG_RSA_SIGN:
        case CALG_DSS_SIGN:
        case CALG_ECDSA: return Kind::Signature;
        default: return Kind::Other;
    }
}

struct Wanted {
    std::vector<AlgId> ids[4];
    bool restricts(Kind kind) const { return !ids[static_cast<int>(kind)].empty(); }
    bool has(Kind kind, AlgId id) const {
        const auto& list = ids[static_cast<int>(kind)];
        return std::find(list.begin(), list.end(), id) != list.end();
    }
};

bool cipherMatches(const Wanted& wanted, const SSL_CIPHER* cipher) {
    if (!wanted.restricts(Kind::Cipher)) return true;
    AlgId id = cipherAlgId(cipher);
    if (id == 0) return false;
    if (wanted.has(Kind::Cipher, id)) return true;
    // CALG_AES stands for AES of any key size; CALG_3DES_112 is two-key
    // triple DES, which TLS never used, so it admits the three-key suites.
    if ((id == CALG_AES_128 || id == CALG_AES_256) && wanted.has(Kind::Cipher, CALG_AES)) return true;
    return id == CALG_3DES && wanted.has(Kind::Cipher, CALG_3DES_112);
}

bool keyExchangeMatches(const Wanted& wanted, const SSL_CIPHER* cipher) {
    if (!wanted.restricts(Kind::KeyExchange)) return true;
    if (SSL_CIPHER_get_kx_nid(cipher) == NID_kx_any) {
        // TLS 1.3: every suite runs an ephemeral exchange, the groups say which.
        return wanted.has(Kind::KeyExchange, CALG_ECDH_EPHEM) || wanted.has(Kind::KeyExchange, CALG_ECDH) ||
               wanted.has(Kind::KeyExchange, CALG_DH_EPHEM);
    }
    AlgId id = keyExchangeAlgId(cipher, 0);
    if (id == CALG_ECDH_EPHEM && wanted.has(Kind::KeyExchange, CALG_ECDH)) return true;
    return id != 0 && wanted.has(Kind::KeyExchange, id);
}

bool suiteMatches(const Wanted& wanted, const SSL_CIPHER* cipher, int minimumStrength) {
    if (SSL_CIPHER_get_bits(cipher, nullptr) < minimumStrength) return false;
    if (!cipherMatches(wanted, cipher)) return false;
    if (wanted.restricts(Kind::Hash) && !wanted.has(Kind::Hash, hashAlgId(cipher))) return false;
    if (!keyExchangeMatches(wanted, cipher)) return false;
    if (wanted.restricts(Kind::Signature) && SSL_CIPHER_get_auth_nid(cipher) != NID_auth_any &&
        !wanted.has(Kind::Signature, signatureAlgId(cipher))) {
        return false;
    }
    return true;
}

void append(std::string& list, const char* name) {
    if (!list.empty()) list += ':';
    list += name;
}

// Every suite this OpenSSL can offer a server-authenticated client, weak
// ones included, so that a list naming 3DES finds its suites.
constexpr const char* kEveryCipher = "ALL:COMPLEMENTOFALL:!eNULL:!aNULL:!PSK:!SRP:@SECLEVEL=0";
constexpr const char* kEverySuite =
    "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256:"
    "TLS_AES_128_CCM_SHA256";

}  // namespace

std::optional<ProtocolRange> protocolRange(std::uint32_t enabledProtocols) {
    ProtocolRange range;
    if ((enabledProtocols & kAllVersionBits) == 0) return range;
    for (const auto& v : kVersions) {
        if ((enabledProtocols & v.mask) == 0) continue;
        if (range.minVersion == 0) range.minVersion = v.version;
        range.maxVersion = v.version;
    }
    if (range.minVersion == 0) return std::nullopt;
    for (const auto& v : kVersions) {
        if (v.version > range.minVersion && v.version < range.maxVersion && (enabledProtocols & v.mask) == 0) {
            range.holeOptions |= v.disable;
        }
    }
    return range;
}

CipherSelection selectCiphers(std::span<const AlgId> algorithms, int minimumStrength) {
    CipherSelection selection;
    Wanted wanted;
    for (AlgId id : algorithms) {
        Kind kind = kindOf(id);
        if (kind != Kind::Other) wanted.ids[static_cast<int>(kind)].push_back(id);
    }
    bool anyRestriction = false;
    for (const auto& ids : wanted.ids) anyRestriction = anyRestriction || !ids.empty();

    SslCtxPtr probe(SSL_CTX_new(TLS_client_method()));
    if (!probe) return selection;
    // Without a list the defaults stand; a minimum strength only trims them.
    const char* candidates = anyRestriction ? kEveryCipher : "DEFAULT";
    if (SSL_CTX_set_cipher_list(probe.get(), candidates) != 1 ||
        SSL_CTX_set_ciphersuites(probe.get(), anyRestriction ? kEverySuite : TLS_DEFAULT_CIPHERSUITES) != 1) {
        return selection;
    }
    std::string tls12;
    std::string tls13;
    bool trimmed12 = false;
    bool trimmed13 = false;
    STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(probe.get());
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
        const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(ciphers, i);
        // Only TLS 1.3 suites leave the key exchange open.
        bool isTls13 = SSL_CIPHER_get_kx_nid(cipher) == NID_kx_any;
        bool keep = suiteMatches(wanted, cipher, minimumStrength);
        if (isTls13) {
            if (keep) append(tls13, SSL_CIPHER_get_name(cipher));
            trimmed13 = trimmed13 || !keep;
        } else {
            if (keep) append(tls12, SSL_CIPHER_get_name(cipher));
            trimmed12 = trimmed12 || !keep;
        }
    }
    if (anyRestriction || trimmed12) selection.tls12Ciphers = tls12;
    if (anyRestriction || trimmed13) selection.tls13Suites = tls13;

    bool ecdh = wanted.has(Kind::KeyExchange, CALG_ECDH_EPHEM) || wanted.has(Kind::KeyExchange, CALG_ECDH);
    bool dh = wanted.has(Kind::KeyExchange, CALG_DH_EPHEM);
    if (ecdh && !dh) selection.groups = "X25519:P-256:P-384:P-521";
    if (dh && !ecdh) selection.groups = "ffdhe2048:ffdhe3072:ffdhe4096";
    return selection;
}

}  // namespace platform::security
