// Certificate stores as folders. The store named S of the user or of the
// machine is the subfolder S of that location's folder; it holds PEM or DER
// files with certificates and, where revocation lists are kept, CRLs.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/security/openssl_handles.h"

namespace platform::security {

enum class StoreLocation { User, Machine };

// The folder of a location: TALTRIX_CERT_USER_DIR (default
// ~/.config/taltrix/certs) or TALTRIX_CERT_MACHINE_DIR (default
// /var/lib/taltrix/certs), read each time so tests can move it.
std::filesystem::path storeLocationFolder(StoreLocation location);

// The folder of one store. Store names are not case-sensitive on the
// platform ("Root" and "ROOT" are one store), so an exact match is taken
// first and otherwise the first subfolder that differs only in case.
std::filesystem::path storeFolder(StoreLocation location, std::string_view storeName);

struct StoreContents {
    std::vector<X509Ptr> certificates;
    std::vector<X509CrlPtr> crls;
};

// Everything readable in the store's files; a missing store is an empty
// one, and files that hold neither certificates nor CRLs (keys, notes) are
// passed over.
StoreContents readStore(StoreLocation location, std::string_view storeName);

// What a server certificate is checked against: the system CA bundle and the
// Root stores of user and machine as trust anchors, the CA stores' and
// the Root stores' CRLs, and the CA stores' certificates as intermediates
// the server may have left out.
struct TrustedRoots {
    X509StorePtr store;
    std::vector<X509Ptr> intermediates;
    bool hasCrls = false;
};

TrustedRoots loadTrustedRoots();

}  // namespace platform::security
