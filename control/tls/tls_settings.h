// The settings of the secure channel and of the certificates it presents and
// checks. Certificates and stores are kept as the bytes the caller gave; their
// string and byte forms share them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "control/engine/setting.h"

namespace morvane {

struct TlsSettings {
    TlsSettings();

    static std::span<const Setting<TlsSettings>> settings();

    std::string sslProvider;
    std::int32_t sslCipherStrength = 40;
    std::string sslEnabledCipherSuites;
    std::int32_t sslEnabledProtocols = 4032;
    bool sslEnableRenegotiation = true;
    bool reuseSslSession = false;
    bool useDefaultCredentials = false;
    bool parseSslServerCert = false;
    std::string alpnExtension;
    bool gracefullyShutDownSsl = false;

    std::int32_t sslSecurityFlags = 0;
    bool sslIncludeCertChain = false;
    std::string sslAcceptServerCertEncoded;
    std::string sslCertEncoded;
    std::string sslCertStore;
    std::string sslCertStorePassword;
    std::int32_t sslCertStoreType = 0;
    std::string sslCertSubject;
    // The server's certificate of the last handshake.
    std::string sslServerCertEncoded;
};

}  // namespace morvane
