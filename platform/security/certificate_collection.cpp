#include "platform/security/certificate_collection.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <tuple>
#include <utility>

#include "platform/security/certificate_store.h"
#include "platform/security/certificate_text.h"
#include "platform/security/key_formats.h"
#include "platform/text/code_page.h"

namespace platform::security {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Codes and texts

constexpr int storeFailure = 271;
constexpr int unsupportedType = -1;

// Last-error values as the platform reports them.
constexpr std::uint32_t errorFileNotFound = 2;
constexpr std::uint32_t errorInvalidPassword = 86;
constexpr std::uint32_t badEncoding = 0x80092002;   // CRYPT_E_BAD_ENCODE
constexpr std::uint32_t badAlgorithm = 0x80090008;  // NTE_BAD_ALGID
constexpr std::uint32_t badData = 0x80090005;       // NTE_BAD_DATA

constexpr std::string_view unsupportedTypeText = "Unknown or unsupported certificate store type.";
constexpr std::string_view fileNotOpenedText = "The certificate file could not be opened.";
constexpr std::string_view publicKeyFileText = "The public key file could not be opened.";
constexpr std::string_view xmlFileText = "The xml key file could not be opened.";
constexpr std::string_view undecodableCertificateText = "The certificate could not be decoded";
constexpr std::string_view pemFailureText = "Failed to decode PEM file.";
constexpr std::string_view xmlCertificateText = "Could not read XML certificate.";
constexpr std::string_view keyImportText = "Could not import key";
constexpr std::string_view signingText = "Can't create provider for signing";

// Key derivations whose iteration count the input chooses are refused above
// this: exporters use a few thousand, and a hostile file must not be able to
// hold the caller for minutes.
constexpr long maxPbeIterations = 1000000;

StoreOpenResult failed(int code, std::string_view text) {
    ERR_clear_error();
    StoreOpenResult result;
    result.code = code;
    result.text = std::string(text);
    return result;
}

StoreOpenResult storeNotOpened(std::uint32_t lastError) {
    return failed(storeFailure, "The certificate store could not be opened (" +
                                    std::to_string(static_cast<std::int32_t>(lastError)) + ").");
}

StoreOpenResult opened(std::vector<CertificateEntry> entries) {
    ERR_clear_error();
    StoreOpenResult result;
    result.store.entries = std::move(entries);
    return result;
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

X509Ptr upRef(X509* cert) {
    X509_up_ref(cert);
    return X509Ptr(cert);
}

EvpPkeyPtr upRef(EVP_PKEY* key) {
    EVP_PKEY_up_ref(key);
    return EvpPkeyPtr(key);
}

bool keyFits(X509* cert, EVP_PKEY* key) {
    const EVP_PKEY* certKey = X509_get0_pubkey(cert);
    const bool fits = certKey != nullptr && key != nullptr && EVP_PKEY_eq(certKey, key) == 1;
    ERR_clear_error();
    return fits;
}

// A DER certificate that takes up the whole input; trailing bytes mean it was
// something else that merely starts like one.
X509Ptr decodeCertificate(std::span<const std::uint8_t> der, bool withTrust = false) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return {};
    const unsigned char* cursor = der.data();
    const long length = static_cast<long>(der.size());
    X509Ptr cert(withTrust ? d2i_X509_AUX(nullptr, &cursor, length) : d2i_X509(nullptr, &cursor, length));
    if (cert && cursor != der.data() + der.size()) cert.reset();
    return cert;
}

bool isCertificateLabel(std::string_view label) { return label == "CERTIFICATE" || label == "X509 CERTIFICATE"; }

// ---------------------------------------------------------------------------
// Files

std::optional<std::string> readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> content;
    struct stat info {};
    // A folder or a device is no certificate file, and reading a pipe or
    // /dev/zero would never end.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[16384];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            if (got == 0) {
                content = std::move(bytes);
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return content;
}

// The caller's file name is bytes in its code page. Tried as given first;
// when that names nothing, the same name converted from the system code page
// to UTF-8, the file system's encoding here.
std::optional<std::string> readNamedFile(std::span<const std::uint8_t> name) {
    const std::string given(asText(name));
    if (given.empty() || given.find('\0') != std::string::npos) return std::nullopt;
    if (std::optional<std::string> content = readWholeFile(given)) return content;
    const codepage::WideResult wide = codepage::multiByteToWide(codepage::CP_ACP, given);
    if (!wide.ok()) return std::nullopt;
    const std::string converted = codepage::utf16ToUtf8(wide.text);
    if (converted == given) return std::nullopt;
    return readWholeFile(converted);
}

// ---------------------------------------------------------------------------
// Base64, for PFX blobs handed over as text

bool isBase64Digit(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}

bool isBase64Blob(std::span<const std::uint8_t> bytes) {
    bool any = false;
    for (const std::uint8_t byte : bytes) {
        if (byte == '\r' || byte == '\n' || byte == ' ' || byte == '\t') continue;
        if (!isBase64Digit(byte)) return false;
        any = true;
    }
    return any;
}

// ---------------------------------------------------------------------------
// PKCS#12

using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslFree<PKCS12_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslFree<PKCS8_PRIV_KEY_INFO_free>>;
using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, OpenSslFree<PBE2PARAM_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, OpenSslFree<PBKDF2PARAM_free>>;
using PbeParamPtr = std::unique_ptr<PBEPARAM, OpenSslFree<PBEPARAM_free>>;

void freeAuthSafes(STACK_OF(PKCS7) * stack) { sk_PKCS7_pop_free(stack, PKCS7_free); }
void freeSafeBags(STACK_OF(PKCS12_SAFEBAG) * stack) { sk_PKCS12_SAFEBAG_pop_free(stack, PKCS12_SAFEBAG_free); }
using AuthSafesPtr = std::unique_ptr<STACK_OF(PKCS7), OpenSslFree<freeAuthSafes>>;
using SafeBagsPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), OpenSslFree<freeSafeBags>>;

enum class ImportFailure { None, Encoding, Password, Algorithm, Cost };

std::uint32_t lastErrorOf(ImportFailure failure) {
    switch (failure) {
        case ImportFailure::Password: return errorInvalidPassword;
        case ImportFailure::Algorithm: return badAlgorithm;
        case ImportFailure::Cost: return badData;
        case ImportFailure::Encoding:
        case ImportFailure::None: break;
    }
    return badEncoding;
}

// A MAC or decryption that fails is a wrong password unless OpenSSL said it
// does not know the algorithm at all.
ImportFailure classifyCryptoFailure() {
    ImportFailure failure = ImportFailure::Password;
    for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error()) {
        if (ERR_SYSTEM_ERROR(error)) continue;
        const int reason = ERR_GET_REASON(error);
        const int library = ERR_GET_LIB(error);
        const bool unknown =
            reason == ERR_GET_REASON(ERR_R_UNSUPPORTED) ||
            (library == ERR_LIB_EVP &&
             (reason == EVP_R_UNKNOWN_CIPHER || reason == EVP_R_UNKNOWN_DIGEST ||
              reason == EVP_R_UNKNOWN_PBE_ALGORITHM || reason == EVP_R_UNSUPPORTED_ALGORITHM ||
              reason == EVP_R_UNSUPPORTED_CIPHER || reason == EVP_R_UNSUPPORTED_KEYLENGTH ||
              reason == EVP_R_UNSUPPORTED_KEY_DERIVATION_FUNCTION || reason == EVP_R_UNSUPPORTED_PRF)) ||
            (library == ERR_LIB_PKCS12 && reason == PKCS12_R_UNKNOWN_DIGEST_ALGORITHM);
        if (unknown) failure = ImportFailure::Algorithm;
    }
    return failure;
}

bool iterationsAcceptable(const ASN1_INTEGER* iterations) {
    if (iterations == nullptr) return true;  // DEFAULT 1
    const long count = ASN1_INTEGER_get(iterations);
    return count >= 0 && count <= maxPbeIterations;
}

// Looks at the cost of a password-based encryption before any of it runs.
ImportFailure checkPbe(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr || algorithm->parameter == nullptr) return ImportFailure::Encoding;
    if (OBJ_obj2nid(algorithm->algorithm) == NID_pbes2) {
        Pbe2ParamPtr pbe2(
            static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
        if (!pbe2 || pbe2->keyfunc == nullptr) return ImportFailure::Encoding;
        // PKCS#12 files carry PBKDF2; a derivation that picks its own memory
        // cost (scrypt) is not accepted from a file.
        if (OBJ_obj2nid(pbe2->keyfunc->algorithm) != NID_id_pbkdf2) return ImportFailure::Algorithm;
        if (pbe2->keyfunc->parameter == nullptr) return ImportFailure::Encoding;
        Pbkdf2ParamPtr kdf(static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
        if (!kdf) return ImportFailure::Encoding;
        return iterationsAcceptable(kdf->iter) ? ImportFailure::None : ImportFailure::Cost;
    }
    PbeParamPtr pbe(static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
    if (!pbe) return ImportFailure::Encoding;
    return iterationsAcceptable(pbe->iter) ? ImportFailure::None : ImportFailure::Cost;
}

struct Password {
    const char* data;  // nullptr: no password at all, which PKCS#12 tells apart from ""
    int length;
};

struct BagContents {
    struct Certificate {
        X509Ptr cert;
        std::string keyId;
    };
    struct Key {
        EvpPkeyPtr key;
        std::string keyId;
    };
    std::vector<Certificate> certificates;
    std::vector<Key> keys;
};

std::string localKeyId(const PKCS12_SAFEBAG* bag) {
    const ASN1_TYPE* attribute = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (attribute == nullptr || attribute->type != V_ASN1_OCTET_STRING) return {};
    const ASN1_OCTET_STRING* id = attribute->value.octet_string;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(id)),
                       static_cast<std::size_t>(ASN1_STRING_length(id)));
}

ImportFailure keyFromPkcs8(const PKCS8_PRIV_KEY_INFO* info, const PKCS12_SAFEBAG* bag, BagContents& out) {
    EvpPkeyPtr key(EVP_PKCS82PKEY(info));
    if (!key) return ImportFailure::Algorithm;
    out.keys.push_back({std::move(key), localKeyId(bag)});
    return ImportFailure::None;
}

ImportFailure walkBags(const STACK_OF(PKCS12_SAFEBAG) * bags, Password password, BagContents& out, int depth) {
    // Nested safe contents are legal but nobody nests deeply.
    if (depth > 3) return ImportFailure::Encoding;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        ImportFailure failure = ImportFailure::None;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_keyBag: {
                const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
                failure = info != nullptr ? keyFromPkcs8(info, bag, out) : ImportFailure::Encoding;
                break;
            }
            case NID_pkcs8ShroudedKeyBag: {
                const X509_SIG* sealed = PKCS12_SAFEBAG_get0_pkcs8(bag);
                if (sealed == nullptr) return ImportFailure::Encoding;
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(sealed, &algorithm, nullptr);
                if (const ImportFailure cost = checkPbe(algorithm); cost != ImportFailure::None) return cost;
                Pkcs8Ptr info(PKCS12_decrypt_skey(bag, password.data, password.length));
                if (!info) return classifyCryptoFailure();
                failure = keyFromPkcs8(info.get(), bag, out);
                break;
            }
            case NID_certBag: {
                // Only X.509 certificates; SDSI certificates have no use here.
                if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
                X509Ptr cert(PKCS12_SAFEBAG_get1_cert(bag));
                if (!cert) return ImportFailure::Encoding;
                out.certificates.push_back({std::move(cert), localKeyId(bag)});
                break;
            }
            case NID_safeContentsBag:
                failure = walkBags(PKCS12_SAFEBAG_get0_safes(bag), password, out, depth + 1);
                break;
            default: break;  // CRLs and secrets
        }
        if (failure != ImportFailure::None) return failure;
    }
    return ImportFailure::None;
}

ImportFailure importPkcs12(PKCS12* p12, Password password, BagContents& out) {
    if (PKCS12_mac_present(p12)) {
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, p12);
        if (!iterationsAcceptable(iterations)) return ImportFailure::Cost;
        if (PKCS12_verify_mac(p12, password.data, password.length) != 1) return classifyCryptoFailure();
    }
    AuthSafesPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) return ImportFailure::Encoding;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SafeBagsPtr bags;
        switch (OBJ_obj2nid(safe->type)) {
            case NID_pkcs7_data:
                bags.reset(PKCS12_unpack_p7data(safe));
                if (!bags) return ImportFailure::Encoding;
                break;
            case NID_pkcs7_encrypted: {
                if (safe->d.encrypted == nullptr || safe->d.encrypted->enc_data == nullptr) {
                    return ImportFailure::Encoding;
                }
                const ImportFailure cost = checkPbe(safe->d.encrypted->enc_data->algorithm);
                if (cost != ImportFailure::None) return cost;
                bags.reset(PKCS12_unpack_p7encdata(safe, password.data, password.length));
                if (!bags) return classifyCryptoFailure();
                break;
            }
            default:
                // Contents sealed to a public key: nothing we could open.
                return ImportFailure::Algorithm;
        }
        if (const ImportFailure failure = walkBags(bags.get(), password, out, 0); failure != ImportFailure::None) {
            return failure;
        }
    }
    return ImportFailure::None;
}

// Every certificate in the order of the file, each with the key that carries
// its public key, preferring one that names the same local key id.
std::vector<CertificateEntry> pairBagContents(BagContents& contents) {
    std::vector<CertificateEntry> entries;
    for (BagContents::Certificate& item : contents.certificates) {
        EVP_PKEY* chosen = nullptr;
        for (const BagContents::Key& key : contents.keys) {
            if (!keyFits(item.cert.get(), key.key.get())) continue;
            if (chosen == nullptr || (!item.keyId.empty() && key.keyId == item.keyId)) chosen = key.key.get();
            if (!item.keyId.empty() && key.keyId == item.keyId) break;
        }
        CertificateEntry entry;
        entry.certificate = std::move(item.cert);
        if (chosen != nullptr) entry.privateKey = upRef(chosen);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// RC2-40 and single DES, which older systems still export with, live in
// OpenSSL's legacy provider. Loaded once, with the default provider kept.
void loadLegacyProvider() {
    // Held for the life of the process; the first caller loads it.
    static OSSL_PROVIDER* const legacy = [] {
        OSSL_PROVIDER* provider = OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
        ERR_clear_error();
        return provider;
    }();
    static_cast<void>(legacy);
}

std::string pfxPassword(std::string_view password) {
    // PKCS#12 passwords are Unicode; the caller's are in its code page.
    const codepage::WideResult wide = codepage::multiByteToWide(codepage::CP_ACP, password);
    return wide.ok() ? codepage::utf16ToUtf8(wide.text) : std::string(password);
}

struct Pkcs12Result {
    ImportFailure failure = ImportFailure::Encoding;
    std::vector<CertificateEntry> entries;
};

// The platform imports once with the key marked exportable and once more
// with the key set of the machine; both only decide where the imported key
// is kept, which has no counterpart here (the key stays with its
// certificate in memory), so one import per password stands for both.
Pkcs12Result readPkcs12(std::span<const std::uint8_t> blob, std::string_view password) {
    Pkcs12Result result;
    std::optional<std::vector<std::uint8_t>> decoded;
    if (isBase64Blob(blob)) {
        decoded = decodeBase64Text({reinterpret_cast<const char*>(blob.data()), blob.size()});
        if (!decoded) return result;
        blob = *decoded;
    }
    if (blob.empty() || blob.size() > static_cast<std::size_t>(LONG_MAX)) return result;
    const unsigned char* cursor = blob.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(blob.size())));
    if (!p12) {
        ERR_clear_error();
        return result;
    }
    loadLegacyProvider();
    const std::string unicode = pfxPassword(password);
    std::vector<Password> tries{{unicode.c_str(), static_cast<int>(unicode.size())}};
    // An empty password has two spellings in PKCS#12 (an empty BMPString and
    // none at all), and exporters use either.
    if (unicode.empty()) tries.push_back({nullptr, 0});
    for (const Password& attempt : tries) {
        BagContents contents;
        result.failure = importPkcs12(p12.get(), attempt, contents);
        ERR_clear_error();
        if (result.failure == ImportFailure::None) {
            result.entries = pairBagContents(contents);
            return result;
        }
        if (result.failure != ImportFailure::Password) break;
    }
    return result;
}

StoreOpenResult openPfx(std::span<const std::uint8_t> blob, std::string_view password) {
    Pkcs12Result imported = readPkcs12(blob, password);
    if (imported.failure != ImportFailure::None) return storeNotOpened(lastErrorOf(imported.failure));
    return opened(std::move(imported.entries));
}

// ---------------------------------------------------------------------------
// Keys and certificates as text

enum class CertificateBlocks { Decoded, Undecodable };

CertificateBlocks pemCertificates(std::string_view text, std::vector<X509Ptr>& out) {
    for (const PemBlock& block : readPemBlocks(text)) {
        if (!isCertificateLabel(block.label)) continue;
        X509Ptr cert = decodeCertificate(block.body);
        if (!cert) return CertificateBlocks::Undecodable;
        out.push_back(std::move(cert));
    }
    return CertificateBlocks::Decoded;
}

CertificateEntry wrappedEntry(EVP_PKEY* key, bool keepPrivate) {
    CertificateEntry entry;
    entry.certificate = wrapPublicKey(key);
    if (entry.certificate && keepPrivate) entry.privateKey = upRef(key);
    return entry;
}

StoreOpenResult openPemKey(std::string_view text, std::string_view password) {
    std::vector<X509Ptr> certificates;
    if (pemCertificates(text, certificates) == CertificateBlocks::Undecodable) {
        return failed(storeFailure, undecodableCertificateText);
    }
    KeyResult found = findPrivateKey(text, password);
    if (found.status != KeyStatus::Found || !found.key) return failed(storeFailure, pemFailureText);
    std::vector<CertificateEntry> entries;
    if (certificates.empty()) {
        CertificateEntry entry = wrappedEntry(found.key.get(), true);
        if (!entry.certificate) return failed(storeFailure, signingText);
        entries.push_back(std::move(entry));
        return opened(std::move(entries));
    }
    // The key normally follows its certificate; with a chain in the file it
    // goes to whichever certificate carries its public key.
    bool placed = false;
    for (X509Ptr& cert : certificates) {
        CertificateEntry entry;
        if (!placed && keyFits(cert.get(), found.key.get())) {
            entry.privateKey = upRef(found.key.get());
            placed = true;
        }
        entry.certificate = std::move(cert);
        entries.push_back(std::move(entry));
    }
    return opened(std::move(entries));
}

StoreOpenResult openWrappedKey(KeyResult found) {
    if (found.status != KeyStatus::Found || !found.key) return failed(storeFailure, pemFailureText);
    std::vector<CertificateEntry> entries;
    entries.push_back(wrappedEntry(found.key.get(), false));
    if (!entries.front().certificate) return failed(storeFailure, signingText);
    return opened(std::move(entries));
}

StoreOpenResult openPublicKey(std::span<const std::uint8_t> bytes) {
    const std::string_view text = asText(bytes);
    std::vector<X509Ptr> certificates;
    if (pemCertificates(text, certificates) == CertificateBlocks::Undecodable) {
        return failed(storeFailure, undecodableCertificateText);
    }
    if (certificates.empty()) {
        if (X509Ptr der = decodeCertificate(bytes)) certificates.push_back(std::move(der));
    }
    ERR_clear_error();
    if (certificates.empty()) return openWrappedKey(readPublicKey(text));
    std::vector<CertificateEntry> entries;
    for (X509Ptr& cert : certificates) entries.push_back({std::move(cert), {}});
    return opened(std::move(entries));
}

using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<PKCS7_free>>;

StoreOpenResult openP7b(std::span<const std::uint8_t> bytes) {
    const std::string_view text = asText(bytes);
    std::optional<PemBlock> block = findPemBlock(text, "PKCS7");
    if (!block) block = findPemBlock(text, "PKCS #7 SIGNED DATA");
    std::span<const std::uint8_t> der = block ? std::span<const std::uint8_t>(block->body) : bytes;
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return storeNotOpened(badEncoding);
    const unsigned char* cursor = der.data();
    Pkcs7Ptr bundle(d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    if (!bundle || !PKCS7_type_is_signed(bundle.get()) || bundle->d.sign == nullptr) {
        return storeNotOpened(badEncoding);
    }
    std::vector<CertificateEntry> entries;
    STACK_OF(X509)* certs = bundle->d.sign->cert;
    for (int i = 0; certs != nullptr && i < sk_X509_num(certs); ++i) {
        entries.push_back({upRef(sk_X509_value(certs, i)), {}});
    }
    return opened(std::move(entries));
}

StoreOpenResult openXml(std::string_view text) {
    XmlResult read = readXmlKey(text);
    const bool certificateData =
        text.find("X509Data") != std::string_view::npos || text.find("X509Certificate") != std::string_view::npos;
    if (read.status != XmlStatus::Found) {
        return failed(storeFailure, certificateData ? xmlCertificateText : keyImportText);
    }
    std::vector<CertificateEntry> entries;
    if (!read.value.certificates.empty()) {
        for (X509Ptr& cert : read.value.certificates) {
            if (cert) entries.push_back({std::move(cert), {}});
        }
        return opened(std::move(entries));
    }
    if (!read.value.key) return failed(storeFailure, certificateData ? xmlCertificateText : keyImportText);
    entries.push_back(wrappedEntry(read.value.key.get(), read.value.isPrivate));
    if (!entries.front().certificate) return failed(storeFailure, signingText);
    return opened(std::move(entries));
}

// ---------------------------------------------------------------------------
// System stores

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// What one file of a store folder holds: its certificates (those of a PFX
// already with their keys) and the private keys it carries.
struct FolderFile {
    std::string stem;
    std::vector<CertificateEntry> entries;
    std::vector<EvpPkeyPtr> keys;
};

FolderFile readFolderFile(const fs::path& path, std::string_view password) {
    FolderFile file;
    file.stem = path.stem().string();
    const std::optional<std::string> content = readWholeFile(path.string());
    if (!content || content->empty()) return file;
    const std::string extension = lowerAscii(path.extension().string());
    if (extension == ".pfx" || extension == ".p12") {
        Pkcs12Result imported = readPkcs12(asBytes(*content), "");
        if (imported.failure == ImportFailure::Password && !password.empty()) {
            imported = readPkcs12(asBytes(*content), password);
        }
        for (CertificateEntry& entry : imported.entries) {
            if (entry.privateKey) file.keys.push_back(upRef(entry.privateKey.get()));
            file.entries.push_back(std::move(entry));
        }
        return file;
    }
    const std::string_view text = *content;
    if (text.find("-----BEGIN ") != std::string_view::npos || text.find("PuTTY-User-Key-File-") == 0) {
        // A broken block is passed over, as the store reader does for roots.
        for (const PemBlock& block : readPemBlocks(text)) {
            X509Ptr cert;
            if (isCertificateLabel(block.label)) {
                cert = decodeCertificate(block.body);
            } else if (block.label == "TRUSTED CERTIFICATE") {
                cert = decodeCertificate(block.body, true);
            }
            if (cert) file.entries.push_back({std::move(cert), {}});
        }
        KeyResult found = findPrivateKey(text, password);
        if (found.status == KeyStatus::Found && found.key) file.keys.push_back(std::move(found.key));
    } else if (X509Ptr cert = decodeCertificate(asBytes(text))) {
        file.entries.push_back({std::move(cert), {}});
    } else {
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        const unsigned char* cursor = data;
        EvpPkeyPtr key(d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(text.size())));
        if (key && cursor == data + text.size()) file.keys.push_back(std::move(key));
    }
    ERR_clear_error();
    return file;
}

// A store name is one folder name: nothing that would lead elsewhere.
bool usableStoreName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::vector<FolderFile>> readStoreFolder(StoreLocation location, std::string_view name,
                                                       std::string_view password) {
    if (!usableStoreName(name)) return std::nullopt;
    const fs::path folder = storeFolder(location, name);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return std::nullopt;
    std::vector<fs::path> paths;
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        if (item.is_regular_file(ec)) paths.push_back(item.path());
    }
    // Name order, so that "*" and the other searches find the same entry on
    // every run.
    std::sort(paths.begin(), paths.end());
    std::vector<FolderFile> files;
    files.reserve(paths.size());
    for (const fs::path& path : paths) files.push_back(readFolderFile(path, password));
    return files;
}

EVP_PKEY* keyAmong(const std::vector<EvpPkeyPtr>& keys, X509* cert) {
    for (const EvpPkeyPtr& key : keys) {
        if (keyFits(cert, key.get())) return key.get();
    }
    return nullptr;
}

// A certificate's key is in the same file or in a file of the same base
// name (client.crt beside client.key); it is taken only when it carries the
// certificate's public key.
StoreOpenResult openSystemStore(StoreLocation location, std::string_view name, std::string_view password) {
    std::optional<std::vector<FolderFile>> files = readStoreFolder(location, name, password);
    if (!files) return storeNotOpened(errorFileNotFound);
    std::vector<CertificateEntry> entries;
    for (FolderFile& file : *files) {
        for (CertificateEntry& entry : file.entries) {
            if (!entry.privateKey) {
                EVP_PKEY* key = keyAmong(file.keys, entry.certificate.get());
                for (const FolderFile& other : *files) {
                    if (key != nullptr) break;
                    if (&other != &file && other.stem == file.stem) key = keyAmong(other.keys, entry.certificate.get());
                }
                if (key != nullptr) entry.privateKey = upRef(key);
            }
            entries.push_back(std::move(entry));
        }
    }
    return opened(std::move(entries));
}

// ---------------------------------------------------------------------------
// Distinguished names as the platform reads them from text

struct NameAttribute {
    std::string oid;
    std::string value;
    bool operator<(const NameAttribute& other) const { return std::tie(oid, value) < std::tie(other.oid, other.value); }
    bool operator==(const NameAttribute& other) const = default;
};
using Rdn = std::vector<NameAttribute>;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowerAscii(std::string(a)) == lowerAscii(std::string(b));
}

std::optional<std::string> attributeOid(std::string_view key) {
    static constexpr std::pair<std::string_view, std::string_view> names[] = {
        {"CN", "2.5.4.3"},
        {"SN", "2.5.4.4"},
        {"SERIALNUMBER", "2.5.4.5"},
        {"C", "2.5.4.6"},
        {"L", "2.5.4.7"},
        {"S", "2.5.4.8"},
        {"ST", "2.5.4.8"},
        {"STREET", "2.5.4.9"},
        {"O", "2.5.4.10"},
        {"OU", "2.5.4.11"},
        {"T", "2.5.4.12"},
        {"Title", "2.5.4.12"},
        {"Description", "2.5.4.13"},
        {"PostalCode", "2.5.4.17"},
        {"POBox", "2.5.4.18"},
        {"Phone", "2.5.4.20"},
        {"X21Address", "2.5.4.24"},
        {"G", "2.5.4.42"},
        {"GivenName", "2.5.4.42"},
        {"I", "2.5.4.43"},
        {"Initials", "2.5.4.43"},
        {"dnQualifier", "2.5.4.46"},
        {"E", "1.2.840.113549.1.9.1"},
        {"Email", "1.2.840.113549.1.9.1"},
        {"emailAddress", "1.2.840.113549.1.9.1"},
        {"DC", "0.9.2342.19200300.100.1.25"},
    };
    for (const auto& [name, oid] : names) {
        if (equalsIgnoringCase(key, name)) return std::string(oid);
    }
    if (key.size() > 4 && equalsIgnoringCase(key.substr(0, 4), "OID.")) key.remove_prefix(4);
    // A dotted number of at least two arcs.
    if (key.empty() || key.front() == '.' || key.back() == '.' || key.find("..") != std::string_view::npos ||
        key.find('.') == std::string_view::npos) {
        return std::nullopt;
    }
    for (const char c : key) {
        if (c != '.' && (c < '0' || c > '9')) return std::nullopt;
    }
    return std::string(key);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// "CN=a, O=b; OU=c+L=d": RDNs separated by ',' or ';', attributes of one RDN
// joined by '+', values quoted with "" standing for one quote.
std::optional<std::vector<Rdn>> parseDistinguishedName(std::string_view text) {
    std::vector<Rdn> name;
    Rdn current;
    std::size_t at = 0;
    for (;;) {
        const std::size_t equals = text.find('=', at);
        if (equals == std::string_view::npos) return std::nullopt;
        const std::string_view key = trimBlanks(text.substr(at, equals - at));
        if (key.find_first_of(",;+\"") != std::string_view::npos) return std::nullopt;
        std::optional<std::string> oid = attributeOid(key);
        if (!oid) return std::nullopt;
        at = equals + 1;
        while (at < text.size() && isBlank(text[at])) ++at;
        std::string value;
        if (at < text.size() && text[at] == '"') {
            ++at;
            for (;;) {
                if (at >= text.size()) return std::nullopt;
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        value += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += text[at++];
            }
            while (at < text.size() && isBlank(text[at])) ++at;
            if (at < text.size() && text.find_first_of(",;+", at) != at) return std::nullopt;
        } else {
            const std::size_t end = std::min(text.find_first_of(",;+", at), text.size());
            const std::string_view raw = trimBlanks(text.substr(at, end - at));
            if (raw.find('"') != std::string_view::npos) return std::nullopt;
            value = std::string(raw);
            at = end;
        }
        current.push_back({std::move(*oid), std::move(value)});
        if (at >= text.size()) break;
        const char separator = text[at++];
        if (separator != '+') {
            name.push_back(std::move(current));
            current.clear();
        }
    }
    name.push_back(std::move(current));
    for (Rdn& rdn : name) std::sort(rdn.begin(), rdn.end());
    return name;
}

// The certificate's name in the same shape. The string type a value was
// encoded with (Printable, UTF8, BMP, ...) is not part of the comparison:
// the text carries none.
std::optional<std::vector<Rdn>> nameAttributes(const X509_NAME* name) {
    std::vector<Rdn> rdns;
    int lastSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        char oid[128];
        const int oidLength = OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        if (oidLength <= 0 || oidLength >= static_cast<int>(sizeof oid)) return std::nullopt;
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        if (length < 0) return std::nullopt;
        std::string value(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
        OPENSSL_free(utf8);
        const int set = X509_NAME_ENTRY_set(entry);
        if (rdns.empty() || set != lastSet) rdns.emplace_back();
        lastSet = set;
        rdns.back().push_back({oid, std::move(value)});
    }
    for (Rdn& rdn : rdns) std::sort(rdn.begin(), rdn.end());
    return rdns;
}

// Simple case folding for the letters of the Latin, Greek and Cyrillic
// alphabets; enough for names people type into a search.
char16_t foldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c < 0xC0) return c;
    if (c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return static_cast<char16_t>(c + 1);
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    return c;
}

std::u16string folded(std::string_view utf8) {
    std::u16string text = codepage::utf8ToUtf16(utf8);
    for (char16_t& c : text) c = foldCase(c);
    return text;
}

constexpr std::size_t maxSubjectText = 999;

}  // namespace

// ---------------------------------------------------------------------------

StoreOpenResult openCertificateStore(std::int32_t type, std::span<const std::uint8_t> store,
                                     std::string_view password) {
    const auto readFileOr = [&](std::string_view missingText, auto&& open) {
        const std::optional<std::string> content = readNamedFile(store);
        if (!content) return failed(storeFailure, missingText);
        return open(asBytes(*content));
    };
    const auto pemKey = [&](std::span<const std::uint8_t> bytes) { return openPemKey(asText(bytes), password); };
    const auto pfx = [&](std::span<const std::uint8_t> bytes) { return openPfx(bytes, password); };
    const auto ssh = [](std::span<const std::uint8_t> bytes) { return openWrappedKey(readSshPublicKey(bytes)); };
    const auto xml = [](std::span<const std::uint8_t> bytes) { return openXml(asText(bytes)); };

    StoreOpenResult result;
    switch (static_cast<CertStoreType>(type)) {
        case CertStoreType::User: result = openSystemStore(StoreLocation::User, asText(store), password); break;
        case CertStoreType::Machine: result = openSystemStore(StoreLocation::Machine, asText(store), password); break;
        case CertStoreType::PfxFile: result = readFileOr(fileNotOpenedText, pfx); break;
        case CertStoreType::PfxBlob: result = pfx(store); break;
        case CertStoreType::PemKeyFile:
        case CertStoreType::PpkFile: result = readFileOr(fileNotOpenedText, pemKey); break;
        case CertStoreType::PemKeyBlob:
        case CertStoreType::PpkBlob: result = pemKey(store); break;
        case CertStoreType::PublicKeyFile: result = readFileOr(publicKeyFileText, openPublicKey); break;
        case CertStoreType::PublicKeyBlob: result = openPublicKey(store); break;
        case CertStoreType::SshPublicKeyFile: result = readFileOr(publicKeyFileText, ssh); break;
        case CertStoreType::SshPublicKeyBlob: result = ssh(store); break;
        case CertStoreType::P7bFile: result = readFileOr(fileNotOpenedText, openP7b); break;
        case CertStoreType::P7bBlob: result = openP7b(store); break;
        case CertStoreType::XmlFile: result = readFileOr(xmlFileText, xml); break;
        case CertStoreType::XmlBlob: result = xml(store); break;
        case CertStoreType::JksFile:
        case CertStoreType::JksBlob:
        default: return failed(unsupportedType, unsupportedTypeText);
    }
    result.store.type = static_cast<CertStoreType>(type);
    return result;
}

std::optional<std::size_t> selectCertificate(const CertificateCollection& store, std::string_view subject) {
    const std::vector<CertificateEntry>& entries = store.entries;
    if (!subject.starts_with('*')) {
        if (const std::optional<std::vector<Rdn>> wanted = parseDistinguishedName(subject)) {
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (!entries[i].certificate) continue;
                if (nameAttributes(X509_get_subject_name(entries[i].certificate.get())) == wanted) return i;
            }
        }
    }
    std::vector<std::string> subjects(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].certificate) subjects[i] = formatX500Name(X509_get_subject_name(entries[i].certificate.get()));
    }
    const bool pfx = store.type == CertStoreType::PfxFile || store.type == CertStoreType::PfxBlob;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].certificate) continue;
        if (subject == "*") {
            if (!pfx || entries[i].privateKey) return i;
        } else if (std::string_view(subjects[i]).substr(0, maxSubjectText) == subject) {
            return i;
        }
    }
    const std::u16string needle = folded(subject);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].certificate && folded(subjects[i]).find(needle) != std::u16string::npos) return i;
    }
    return std::nullopt;
}

namespace {

// Made once per process, on first use. Any key of this kind would do: the
// certificates it signs only give a bare key a place in a store.
EVP_PKEY* wrappingKey() {
    static std::mutex mutex;
    static EVP_PKEY* key = nullptr;  // kept for the life of the process
    const std::lock_guard<std::mutex> lock(mutex);
    if (key == nullptr) key = EVP_RSA_gen(2048);
    return key;
}

}  // namespace

X509Ptr wrapPublicKey(EVP_PKEY* key) {
    if (key == nullptr) return {};
    EVP_PKEY* signer = wrappingKey();
    X509Ptr cert(X509_new());
    if (signer == nullptr || !cert) return {};
    unsigned char random[8];
    if (RAND_bytes(random, sizeof random) != 1) return {};
    random[0] &= 0x7F;  // a positive serial
    random[0] |= 0x01;  // and never zero
    using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
    BignumPtr serial(BN_bin2bn(random, sizeof random, nullptr));
    using NamePtr = std::unique_ptr<X509_NAME, OpenSslFree<X509_NAME_free>>;
    NamePtr name(X509_NAME_new());
    // SHA-256 rather than the SHA-1 such certificates were once signed with:
    // at Debian's default security level OpenSSL refuses a SHA-1 signed
    // certificate as a client credential.
    const bool made = serial && name && X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
                      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr &&
                      X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                                 reinterpret_cast<const unsigned char*>("pem_cert"), -1, -1, 0) == 1 &&
                      X509_set_subject_name(cert.get(), name.get()) == 1 &&
                      X509_set_issuer_name(cert.get(), name.get()) == 1 &&
                      X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr &&
                      X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24L * 60 * 60) != nullptr &&
                      X509_set_pubkey(cert.get(), key) == 1 && X509_sign(cert.get(), signer, EVP_sha256()) > 0;
    ERR_clear_error();
    if (!made) return {};
    return cert;
}

EvpPkeyPtr findPrivateKeyInSystemStores(X509* certificate) {
    if (certificate == nullptr) return {};
    for (const StoreLocation location : {StoreLocation::User, StoreLocation::Machine}) {
        const std::optional<std::vector<FolderFile>> files = readStoreFolder(location, "MY", "");
        if (!files) continue;
        for (const FolderFile& file : *files) {
            if (EVP_PKEY* key = keyAmong(file.keys, certificate)) return upRef(key);
        }
    }
    return {};
}

}  // namespace platform::security
