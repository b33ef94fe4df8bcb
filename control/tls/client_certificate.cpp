#include "control/tls/client_certificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <optional>
#include <string_view>
#include <utility>

#include "control/engine/engine_errors.h"
#include "control/tls/hex_text.h"
#include "control/websocket/accept_key.h"
#include "platform/security/certificate_collection.h"
#include "platform/security/certificate_text.h"

namespace morvane {
namespace sec = platform::security;

namespace {

// CRYPT_E_NOT_FOUND as the platform's last error shows it.
constexpr std::string_view notFoundCode = "-2146885628";
constexpr std::string_view undecodableText = "The certificate could not be decoded";

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool isBase64Text(std::span<const std::uint8_t> bytes) {
    bool any = false;
    for (const std::uint8_t byte : bytes) {
        const bool blank = byte == '\r' || byte == '\n' || byte == ' ' || byte == '\t';
        const bool digit = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '+' || byte == '/' || byte == '=';
        if (!blank && !digit) return false;
        any = any || digit;
    }
    return any;
}

sec::X509Ptr decodeDer(std::span<const std::uint8_t> der) {
    const unsigned char* cursor = der.data();
    sec::X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    // Trailing bytes mean this was something else that happened to start
    // like a certificate.
    if (certificate && cursor != der.data() + der.size()) certificate.reset();
    return certificate;
}

sec::X509Ptr decodeCertificate(std::span<const std::uint8_t> encoded) {
    const std::string_view text(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    sec::X509Ptr certificate;
    if (text.find("-----BEGIN ") != std::string_view::npos) {
        sec::BioPtr bio(BIO_new_mem_buf(encoded.data(), static_cast<int>(encoded.size())));
        if (bio) certificate.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    } else if (isBase64Text(encoded)) {
        std::string compact;
        for (const char c : text) {
            if (c != '\r' && c != '\n' && c != ' ' && c != '\t') compact += c;
        }
        if (const std::optional<std::string> der = websocket::base64Decode(compact)) {
            certificate = decodeDer(bytesOf(*der));
        }
    } else {
        certificate = decodeDer(encoded);
    }
    ERR_clear_error();
    return certificate;
}

// The store's certificates that lead from the chosen one towards its root,
// nearest issuer first, for servers that know only the root.
std::vector<sec::X509Ptr> chainWithin(const sec::CertificateCollection& store, X509* leaf) {
    std::vector<sec::X509Ptr> chain;
    X509* current = leaf;
    while (chain.size() < store.entries.size()) {
        if (X509_check_issued(current, current) == X509_V_OK) break;  // self-signed: the end
        X509* issuer = nullptr;
        for (const sec::CertificateEntry& entry : store.entries) {
            X509* candidate = entry.certificate.get();
            if (candidate != current && X509_check_issued(candidate, current) == X509_V_OK) {
                issuer = candidate;
                break;
            }
        }
        if (issuer == nullptr) break;
        X509_up_ref(issuer);
        chain.emplace_back(issuer);
        current = issuer;
    }
    return chain;
}

}  // namespace

ClientCertificate::Outcome ClientCertificate::selectFromStore(TlsSettings& settings) {
    release();
    const sec::StoreOpenResult opened = sec::openCertificateStore(
        settings.sslCertStoreType, bytesOf(settings.sslCertStore), settings.sslCertStorePassword);
    if (opened.code != 0) return {opened.code, opened.text};

    const std::optional<std::size_t> found = sec::selectCertificate(opened.store, settings.sslCertSubject);
    if (!found) {
        return {errc::certificateNotFound, "The certificate could not be found (" + std::string(notFoundCode) + ")."};
    }
    const sec::CertificateEntry& entry = opened.store.entries[*found];
    auto identity = std::make_shared<sec::ClientIdentity>();
    X509_up_ref(entry.certificate.get());
    identity->certificate.reset(entry.certificate.get());
    if (entry.privateKey) {
        EVP_PKEY_up_ref(entry.privateKey.get());
        identity->privateKey.reset(entry.privateKey.get());
    }
    identity->chain = chainWithin(opened.store, entry.certificate.get());
    settings.sslCertSubject = sec::formatX500Name(X509_get_subject_name(entry.certificate.get()));
    identity_ = std::move(identity);
    fromStore_ = true;
    return {};
}

ClientCertificate::Outcome ClientCertificate::useEncoded(std::span<const std::uint8_t> encoded) {
    release();
    if (encoded.empty()) return {};
    sec::X509Ptr certificate = decodeCertificate(encoded);
    if (!certificate) return {errc::certificateStore, std::string(undecodableText)};
    auto identity = std::make_shared<sec::ClientIdentity>();
    identity->privateKey = sec::findPrivateKeyInSystemStores(certificate.get());
    identity->certificate = std::move(certificate);
    identity_ = std::move(identity);
    return {};
}

void ClientCertificate::release() {
    identity_.reset();
    fromStore_ = false;
}

std::string ClientCertificate::fingerprint() const {
    if (!identity_ || !identity_->certificate) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(identity_->certificate.get(), EVP_sha256(), digest, &length) != 1) return {};
    std::string text;
    for (unsigned int i = 0; i < length; ++i) text += tls::hexDigits(digest[i], 2);
    return text;
}

}  // namespace morvane
