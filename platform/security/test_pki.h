// Certificates, keys and CRLs made on the spot for the tests, with OpenSSL's
// C API, plus temporary folders and environment overrides to put them in
// certificate stores.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/security/openssl_handles.h"

namespace platform::security::testing {

struct CertificateRequest {
    // Name entries in encoded order, e.g. {{"C", "DE"}, {"O", "Test"}, {"CN", "localhost"}}.
    std::vector<std::pair<std::string, std::string>> subject;
    std::string altNames;  // "DNS:localhost,IP:127.0.0.1"; empty: no extension
    bool ca = false;
    bool basicConstraints = true;              // false leaves the extension out
    std::string extendedUsage = "serverAuth";  // empty: no extension
    std::string keyUsage;                      // empty: none (CAs get keyCertSign, cRLSign)
    long validFromSeconds = -3600;             // relative to now
    long validToSeconds = 30L * 86400;
    long serial = 1;
    bool rsa = false;  // RSA 2048 instead of EC P-256
};

// A CA with the given name, or a TLS server leaf for the given names.
CertificateRequest caRequest(std::vector<std::pair<std::string, std::string>> subject, long serial);
CertificateRequest leafRequest(const std::string& commonName, const std::string& altNames, long serial);

struct Issued {
    X509Ptr cert;
    EvpPkeyPtr key;
    std::vector<std::uint8_t> der() const;
};

// Signed by `issuer`, or by its own key when there is none.
Issued issue(const CertificateRequest& request, const Issued* issuer = nullptr);
// A CRL of `issuer` that revokes the given serial numbers.
X509CrlPtr revocationList(const Issued& issuer, const std::vector<long>& serials);

void writePem(const std::filesystem::path& path, X509* cert);
void writeDer(const std::filesystem::path& path, X509* cert);
void writeCrlPem(const std::filesystem::path& path, X509_CRL* crl);
void writeKeyPem(const std::filesystem::path& path, EVP_PKEY* key);

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value);
    ~EnvOverride();
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace platform::security::testing
