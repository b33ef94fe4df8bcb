// Store bytes through the openers that take them from outside: PKCS#12,
// PEM keys, public keys, SSH keys, PKCS#7 bundles, PPK and XML, all with one
// fixed password; and subject texts through the selection over a small
// fixed store. The first byte chooses which. An opened store holds only
// certificates, and only keys that fit them; a failure holds nothing.
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/security/certificate_collection.h"

using namespace platform::security;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

constexpr std::int32_t blobTypes[] = {3, 7, 9, 10, 12, 15, 17};

const CertificateCollection& selectionStore() {
    static const CertificateCollection store = [] {
        CertificateCollection made;
        made.type = CertStoreType::PfxBlob;
        EvpPkeyPtr key(EVP_EC_gen("P-256"));
        made.entries.push_back({wrapPublicKey(key.get()), {}});
        made.entries.push_back({wrapPublicKey(key.get()), std::move(key)});
        X509_NAME* name = X509_get_subject_name(made.entries[0].certificate.get());
        X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Unit, \"A\""), -1,
                                   -1, -1);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Org"), -1, -1, 0);
        return made;
    }();
    return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Stores are small; larger inputs only slow the search down.
    if (size == 0 || size > 65536) return 0;
    const std::span<const std::uint8_t> payload(data + 1, size - 1);
    const std::size_t choice = data[0] % (std::size(blobTypes) + 1);
    if (choice == std::size(blobTypes)) {
        const std::string_view subject(reinterpret_cast<const char*>(payload.data()), payload.size());
        const CertificateCollection& store = selectionStore();
        const std::optional<std::size_t> found = selectCertificate(store, subject);
        check(!found || *found < store.entries.size());
        if (subject == "*") check(found == std::size_t{1});
        return 0;
    }
    const std::int32_t type = blobTypes[choice];
    const StoreOpenResult result = openCertificateStore(type, payload, "fuzz password");
    if (result.code != 0) {
        check(result.store.entries.empty() && !result.text.empty());
        check(result.code == 271);
        return 0;
    }
    check(result.store.type == static_cast<CertStoreType>(type));
    for (const CertificateEntry& entry : result.store.entries) {
        check(entry.certificate != nullptr);
        if (entry.privateKey) check(X509_check_private_key(entry.certificate.get(), entry.privateKey.get()) == 1);
    }
    const std::optional<std::size_t> any = selectCertificate(result.store, "*");
    check(!any || *any < result.store.entries.size());
    return 0;
}
