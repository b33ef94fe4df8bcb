#include "platform/security/certificate_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace platform::security {

namespace fs = std::filesystem;

namespace {

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return {};
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file may carry any number of PEM blocks; one without any is tried as a
// single DER certificate and then as a DER CRL.
void readFileInto(const fs::path& path, StoreContents& contents) {
    std::string bytes = readFile(path);
    if (bytes.empty()) return;
    if (bytes.find("-----BEGIN ") != std::string::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        if (!bio) return;
        STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr);
        if (infos == nullptr) {
            ERR_clear_error();
            return;
        }
        for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
            X509_INFO* info = sk_X509_INFO_value(infos, i);
            if (info->x509 != nullptr) {
                contents.certificates.emplace_back(info->x509);
                info->x509 = nullptr;
            }
            if (info->crl != nullptr) {
                contents.crls.emplace_back(info->crl);
                info->crl = nullptr;
            }
        }
        sk_X509_INFO_pop_free(infos, X509_INFO_free);
        ERR_clear_error();
        return;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* cursor = data;
    if (X509* cert = d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())); cert != nullptr) {
        contents.certificates.emplace_back(cert);
        return;
    }
    cursor = data;
    if (X509_CRL* crl = d2i_X509_CRL(nullptr, &cursor, static_cast<long>(bytes.size())); crl != nullptr) {
        contents.crls.emplace_back(crl);
    }
    ERR_clear_error();
}

void addStore(StoreLocation location, std::string_view name, TrustedRoots& roots, bool anchors) {
    StoreContents contents = readStore(location, name);
    for (auto& cert : contents.certificates) {
        if (anchors) {
            // A certificate already present (the same root in both stores) is
            // no error worth failing over.
            X509_STORE_add_cert(roots.store.get(), cert.get());
        } else {
            roots.intermediates.push_back(std::move(cert));
        }
    }
    for (auto& crl : contents.crls) {
        X509_STORE_add_crl(roots.store.get(), crl.get());
        roots.hasCrls = true;
    }
    ERR_clear_error();
}

}  // namespace

fs::path storeLocationFolder(StoreLocation location) {
    const char* variable = location == StoreLocation::User ? "TALTRIX_CERT_USER_DIR" : "TALTRIX_CERT_MACHINE_DIR";
    if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
    if (location == StoreLocation::Machine) return "/var/lib/taltrix/certs";
    return homeFolder() / ".config" / "taltrix" / "certs";
}

fs::path storeFolder(StoreLocation location, std::string_view storeName) {
    fs::path base = storeLocationFolder(location);
    fs::path exact = base / std::string(storeName);
    std::error_code ec;
    if (fs::is_directory(exact, ec)) return exact;
    for (const auto& entry : fs::directory_iterator(base, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() == storeName.size() &&
            strncasecmp(name.c_str(), std::string(storeName).c_str(), name.size()) == 0 && entry.is_directory(ec)) {
            return entry.path();
        }
    }
    return exact;
}

StoreContents readStore(StoreLocation location, std::string_view storeName) {
    StoreContents contents;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(storeFolder(location, storeName), ec)) {
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
    }
    // Name order, so that a store reads the same way on every run.
    std::sort(files.begin(), files.end());
    for (const auto& file : files) readFileInto(file, contents);
    return contents;
}

TrustedRoots loadTrustedRoots() {
    TrustedRoots roots;
    roots.store.reset(X509_STORE_new());
    if (!roots.store) return roots;
    // The system bundle (or what SSL_CERT_FILE / SSL_CERT_DIR point at).
    X509_STORE_set_default_paths(roots.store.get());
    for (StoreLocation location : {StoreLocation::User, StoreLocation::Machine}) {
        addStore(location, "Root", roots, true);
        addStore(location, "CA", roots, false);
    }
    ERR_clear_error();
    return roots;
}

}  // namespace platform::security
