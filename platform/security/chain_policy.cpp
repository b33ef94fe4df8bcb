#include "platform/security/chain_policy.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "platform/security/algorithm_ids.h"
#include "platform/security/tls_context.h"

namespace platform::security {

namespace {

// The kinds of trouble the platform's policy tells apart, most serious first;
// the first one left after the ignore flags is the answer.
enum class Finding {
    Signature,
    BasicConstraints,
    Revoked,
    UntrustedRoot,
    Chaining,
    Critical,
    Time,
    Usage,
    Name,
    None,  // no verdict of its own (a CRL that is not there, say)
};

PolicyStatus codeOf(Finding finding) {
    switch (finding) {
        case Finding::Signature: return TRUST_E_CERT_SIGNATURE;
        case Finding::BasicConstraints: return TRUST_E_BASIC_CONSTRAINTS;
        case Finding::Revoked: return CRYPT_E_REVOKED;
        case Finding::UntrustedRoot: return CERT_E_UNTRUSTEDROOT;
        case Finding::Chaining: return CERT_E_CHAINING;
        case Finding::Critical: return CERT_E_CRITICAL;
        case Finding::Time: return CERT_E_EXPIRED;
        case Finding::Usage: return CERT_E_WRONG_USAGE;
        case Finding::Name: return CERT_E_CN_NO_MATCH;
        case Finding::None: break;
    }
    return kPolicyOk;
}

Finding classify(int error) {
    switch (error) {
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_CRL_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return Finding::Signature;
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        case X509_V_ERR_INVALID_NON_CA: return Finding::BasicConstraints;
        case X509_V_ERR_CERT_REVOKED: return Finding::Revoked;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED: return Finding::UntrustedRoot;
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
        case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION: return Finding::Critical;
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return Finding::Time;
        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE: return Finding::Usage;
        // Revocation is checked only against the CRLs the stores hold, as far as
        // they go: a certificate whose issuer has no CRL there, or whose CRL is
        // out of date, is not held against the server.
        case X509_V_ERR_UNABLE_TO_GET_CRL:
        case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
        case X509_V_ERR_CRL_NOT_YET_VALID:
        case X509_V_ERR_CRL_HAS_EXPIRED:
        case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
        case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
        case X509_V_ERR_DIFFERENT_CRL_SCOPE: return Finding::None;
        default:
            // A missing issuer (the chain stops before any root) and whatever
            // else keeps OpenSSL from building a chain: the platform calls all of
            // that a chain not correctly created.
            return Finding::Chaining;
    }
}

bool ignored(Finding finding, std::uint32_t flags) {
    switch (finding) {
        case Finding::Revoked: return (flags & SECURITY_FLAG_IGNORE_REVOCATION) != 0;
        // The unknown-CA flag covers a chain ending in an untrusted root and
        // one that never reaches a root, as the platform's flag does.
        case Finding::UntrustedRoot:
        case Finding::Chaining: return (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
        case Finding::Time: return (flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
        case Finding::Usage: return (flags & SECURITY_FLAG_IGNORE_WRONG_USAGE) != 0;
        case Finding::Name: return (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) != 0;
        default: return false;
    }
}

struct Collected {
    std::vector<Finding> findings;
    std::vector<std::string> texts;
};

// Keeps OpenSSL going past each problem so that every one is seen and the
// ignore flags can be applied afterwards.
int collectFinding(int ok, X509_STORE_CTX* ctx) {
    if (ok == 0) {
        auto* collected = static_cast<Collected*>(X509_STORE_CTX_get_app_data(ctx));
        int error = X509_STORE_CTX_get_error(ctx);
        collected->findings.push_back(classify(error));
        collected->texts.push_back(std::string(X509_verify_cert_error_string(error)) + " (depth " +
                                   std::to_string(X509_STORE_CTX_get_error_depth(ctx)) + ")");
    }
    return 1;
}

X509Ptr decode(const std::vector<std::uint8_t>& der) {
    const unsigned char* cursor = der.data();
    X509* cert = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    if (cert != nullptr && cursor != der.data() + der.size()) {
        X509_free(cert);
        return nullptr;
    }
    return X509Ptr(cert);
}

// Host names per subjectAltName (one leading wildcard label, whole labels
// only); the subject's CN counts only when the certificate has no
// subjectAltName at all, as on the platform.
bool nameMatches(X509* leaf, std::string_view serverName) {
    std::string name(serverName);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    bool hasAltNames = X509_get_ext_by_NID(leaf, NID_subject_alt_name, -1) >= 0;
    unsigned flags = X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS;
    if (hasAltNames) flags |= X509_CHECK_FLAG_NEVER_CHECK_SUBJECT;
    if (isIpAddressLiteral(name) && hasAltNames) return X509_check_ip_asc(leaf, name.c_str(), 0) == 1;
    return X509_check_host(leaf, name.data(), name.size(), flags, nullptr) == 1;
}

}  // namespace

ChainPolicyResult checkServerChain(std::span<const std::vector<std::uint8_t>> chain, std::string_view serverName,
                                   std::int32_t securityFlags, const TrustedRoots& roots) {
    ChainPolicyResult result;
    X509Ptr leaf = chain.empty() ? nullptr : decode(chain.front());
    if (!leaf || !roots.store) {
        ERR_clear_error();
        result.status = CRYPT_E_ASN1_BADTAG;
        return result;
    }
    X509StackPtr untrusted(sk_X509_new_null());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        // An undecodable certificate behind the leaf is left out; the chain is
        // then judged on what is left, which usually means it is broken.
        if (X509Ptr cert = decode(chain[i]); cert) sk_X509_push(untrusted.get(), cert.release());
    }
    for (const auto& cert : roots.intermediates) {
        X509_up_ref(cert.get());
        sk_X509_push(untrusted.get(), cert.get());
    }

    auto flags = static_cast<std::uint32_t>(securityFlags);
    Collected collected;
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), roots.store.get(), leaf.get(), untrusted.get()) != 1) {
        ERR_clear_error();
        result.status = CRYPT_E_ASN1_BADTAG;
        return result;
    }
    result.chainBuilt = true;
    X509_STORE_CTX_set_app_data(ctx.get(), &collected);
    X509_STORE_CTX_set_verify_cb(ctx.get(), collectFinding);
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    if (roots.hasCrls && (flags & SECURITY_FLAG_IGNORE_REVOCATION) == 0) {
        X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    }
    X509_verify_cert(ctx.get());
    ERR_clear_error();

    if ((flags & kSecurityFlagNoServerName) == 0 && !nameMatches(leaf.get(), serverName)) {
        collected.findings.push_back(Finding::Name);
        collected.texts.push_back("server name does not match the certificate");
    }
    result.findings = std::move(collected.texts);
    Finding worst = Finding::None;
    for (Finding finding : collected.findings) {
        if (finding != Finding::None && !ignored(finding, flags)) worst = std::min(worst, finding);
    }
    result.status = codeOf(worst);
    return result;
}

ChainPolicyResult checkServerChain(std::span<const std::vector<std::uint8_t>> chain, std::string_view serverName,
                                   std::int32_t securityFlags) {
    return checkServerChain(chain, serverName, securityFlags, loadTrustedRoots());
}

}  // namespace platform::security
