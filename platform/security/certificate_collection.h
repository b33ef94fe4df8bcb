// The certificate stores a client certificate is chosen from: the system
// stores of the user and of the machine (folders, see certificate_store.h),
// and stores built in memory from a PKCS#12 file, PEM keys, bare public keys,
// SSH keys, PKCS#7 bundles, PPK and XML keys. Each entry is a certificate and,
// where the store holds one, its private key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/openssl_handles.h"

namespace platform::security {

// The store types by the values the control's CertStoreTypes enumeration
// gives them.
enum class CertStoreType : std::int32_t {
    User = 0,
    Machine = 1,
    PfxFile = 2,
    PfxBlob = 3,
    JksFile = 4,
    JksBlob = 5,
    PemKeyFile = 6,
    PemKeyBlob = 7,
    PublicKeyFile = 8,
    PublicKeyBlob = 9,
    SshPublicKeyBlob = 10,
    P7bFile = 11,
    P7bBlob = 12,
    SshPublicKeyFile = 13,
    PpkFile = 14,
    PpkBlob = 15,
    XmlFile = 16,
    XmlBlob = 17,
};

struct CertificateEntry {
    X509Ptr certificate;
    EvpPkeyPtr privateKey;  // empty when the store has no key for it
};

struct CertificateCollection {
    std::vector<CertificateEntry> entries;
    CertStoreType type = CertStoreType::User;
};

// The result of opening a store: code 0 and the store, or the failure's code
// (271, or -1 for a type that is not accepted) and its text.
struct StoreOpenResult {
    int code = 0;
    std::string text;
    CertificateCollection store;
};

// `store` is the store name (system stores), the file name (file types, as
// bytes in the caller's code page: tried as given and then converted from the
// system code page to UTF-8) or the store's bytes (blob types). `password`
// opens PFX files (converted from the system code page) and encrypted keys.
//
// Failures, all with code 271 unless said otherwise:
// - any type not listed below, JKS included: -1 and "Unknown or unsupported
//   certificate store type.";
// - User, Machine: a store folder that does not exist (or a name that is not
//   one folder name): "The certificate store could not be opened (2).". The
//   folder is only read. Its files are taken in name order: certificates in
//   PEM or DER, each with its key when the same file or a file of the same
//   base name (client.crt, client.key) holds the key of its public key;
//   .pfx/.p12 files opened with no password and then with `password`;
//   unreadable files are passed over;
// - a file type whose file cannot be read: "The certificate file could not
//   be opened." (PFX, PEM key, P7B, PPK), "The public key file could not be
//   opened." (public key, SSH), "The xml key file could not be opened.";
// - PFX: "The certificate store could not be opened (<last error>)." with
//   86 (ERROR_INVALID_PASSWORD) when the MAC or a decryption fails with the
//   password, -2146885630 (CRYPT_E_BAD_ENCODE) for bytes that are no PKCS#12,
//   -2146893816 (NTE_BAD_ALGID) for an algorithm OpenSSL cannot use, and
//   -2146893819 (NTE_BAD_DATA) for a key derivation of more than a million
//   iterations, which is refused before it runs;
// - P7B: the same text with -2146885630 when the bytes are no PKCS#7 bundle;
// - PEM key, PPK: "The certificate could not be decoded" for a certificate
//   block that does not decode, "Failed to decode PEM file." when no private
//   key is found or it does not open with the password (a key that fits none
//   of the text's certificates opens the store with no key in it);
// - public key, SSH public key: "The certificate could not be decoded" as
//   above, "Failed to decode PEM file." when there is no key to read;
// - XML: "Could not read XML certificate." when the text has X509Data that
//   does not decode, "Could not import key" when it holds no usable key;
// - "Can't create provider for signing" when a bare key cannot be wrapped.
StoreOpenResult openCertificateStore(std::int32_t type, std::span<const std::uint8_t> store, std::string_view password);

// The client certificate for `subject` (UTF-8), in this order: unless the
// text starts with "*", the certificate whose subject is exactly the
// distinguished name the text spells ("CN=x, O=y", RDNs separated by ',' or
// ';', '+' within one RDN, values quoted with "" for a quote; attribute
// values compared exactly, their string types not); for "*" the first
// certificate (for PFX stores the first with a private key); the first whose
// formatted subject (formatX500Name, first 999 bytes) equals the text, case
// included; the first whose formatted subject contains the text, case
// ignored. nullopt when none does.
std::optional<std::size_t> selectCertificate(const CertificateCollection& store, std::string_view subject);

// A certificate that carries `key`, made only so that a bare key can sit in
// a store: subject and issuer "CN=pem_cert", valid from now for one day,
// signed with SHA-256 by an RSA key the process makes on first use. Empty
// when it cannot be made.
X509Ptr wrapPublicKey(EVP_PKEY* key);

// The private key that belongs to `certificate`, looked for among the keys
// of the user's and then the machine's personal ("MY") stores by its
// matching public key.
EvpPkeyPtr findPrivateKeyInSystemStores(X509* certificate);

}  // namespace platform::security
