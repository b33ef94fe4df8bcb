#include "platform/security/test_pki.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <stdexcept>

namespace platform::security::testing {

namespace fs = std::filesystem;

namespace {

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

void addExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

EvpPkeyPtr makeKey(bool rsa) { return EvpPkeyPtr(rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256")); }

}  // namespace

CertificateRequest caRequest(std::vector<std::pair<std::string, std::string>> subject, long serial) {
    CertificateRequest request;
    request.subject = std::move(subject);
    request.ca = true;
    request.serial = serial;
    return request;
}

CertificateRequest leafRequest(const std::string& commonName, const std::string& altNames, long serial) {
    CertificateRequest request;
    request.subject = {{"CN", commonName}};
    request.altNames = altNames;
    request.serial = serial;
    return request;
}

std::vector<std::uint8_t> Issued::der() const {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(i2d_X509(cert.get(), nullptr)));
    unsigned char* cursor = bytes.data();
    i2d_X509(cert.get(), &cursor);
    return bytes;
}

Issued issue(const CertificateRequest& request, const Issued* issuer) {
    Issued made;
    made.key = makeKey(request.rsa);
    made.cert.reset(X509_new());
    check(made.key && made.cert, "allocation");
    X509* cert = made.cert.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), request.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), request.validFromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(cert), request.validToSeconds);
    X509_NAME* name = X509_get_subject_name(cert);
    for (const auto& [key, value] : request.subject) {
        check(X509_NAME_add_entry_by_txt(name, key.c_str(), MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0) == 1,
              "name entry");
    }
    X509* issuerCert = issuer != nullptr ? issuer->cert.get() : cert;
    EVP_PKEY* signingKey = issuer != nullptr ? issuer->key.get() : made.key.get();
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
    X509_set_pubkey(cert, made.key.get());

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuerCert, cert, nullptr, nullptr, 0);
    if (request.basicConstraints) {
        addExtension(cert, &ctx, NID_basic_constraints, request.ca ? "critical,CA:TRUE" : "CA:FALSE");
    }
    std::string keyUsage = request.keyUsage;
    if (keyUsage.empty() && request.ca) keyUsage = "keyCertSign,cRLSign";
    if (!keyUsage.empty()) addExtension(cert, &ctx, NID_key_usage, "critical," + keyUsage);
    if (!request.ca && !request.extendedUsage.empty()) {
        addExtension(cert, &ctx, NID_ext_key_usage, request.extendedUsage);
    }
    if (!request.altNames.empty()) addExtension(cert, &ctx, NID_subject_alt_name, request.altNames);
    addExtension(cert, &ctx, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) addExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always");
    check(X509_sign(cert, signingKey, EVP_sha256()) > 0, "signing");
    return made;
}

X509CrlPtr revocationList(const Issued& issuer, const std::vector<long>& serials) {
    X509CrlPtr crl(X509_CRL_new());
    check(crl != nullptr, "CRL");
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.cert.get()));
    ASN1_TIME* now = X509_gmtime_adj(nullptr, -60);
    ASN1_TIME* next = X509_gmtime_adj(nullptr, 7L * 86400);
    X509_CRL_set1_lastUpdate(crl.get(), now);
    X509_CRL_set1_nextUpdate(crl.get(), next);
    for (long serial : serials) {
        X509_REVOKED* revoked = X509_REVOKED_new();
        ASN1_INTEGER* number = ASN1_INTEGER_new();
        ASN1_INTEGER_set(number, serial);
        X509_REVOKED_set_serialNumber(revoked, number);
        X509_REVOKED_set_revocationDate(revoked, now);
        X509_CRL_add0_revoked(crl.get(), revoked);
        ASN1_INTEGER_free(number);
    }
    ASN1_TIME_free(now);
    ASN1_TIME_free(next);
    X509_CRL_sort(crl.get());
    check(X509_CRL_sign(crl.get(), issuer.key.get(), EVP_sha256()) > 0, "CRL signing");
    return crl;
}

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

std::unique_ptr<FILE, FileCloser> create(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    check(file != nullptr, "file");
    return file;
}

}  // namespace

void writePem(const fs::path& path, X509* cert) { PEM_write_X509(create(path).get(), cert); }
void writeDer(const fs::path& path, X509* cert) { i2d_X509_fp(create(path).get(), cert); }
void writeCrlPem(const fs::path& path, X509_CRL* crl) { PEM_write_X509_CRL(create(path).get(), crl); }
void writeKeyPem(const fs::path& path, EVP_PKEY* key) {
    PEM_write_PrivateKey(create(path).get(), key, nullptr, nullptr, 0, nullptr, nullptr);
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "taltrix-security-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

EnvOverride::EnvOverride(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name); old != nullptr) previous_ = old;
    setenv(name, value.c_str(), 1);
}

EnvOverride::~EnvOverride() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

}  // namespace platform::security::testing
