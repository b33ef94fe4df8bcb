#include "control/tls/tls_settings.h"

#include <string_view>

namespace morvane {
namespace {

constexpr std::string_view defaultSslProvider = "Microsoft Unified Security Protocol Provider";
constexpr std::string_view defaultCertStore = "MY";

}  // namespace

TlsSettings::TlsSettings() : sslProvider(defaultSslProvider), sslCertStore(defaultCertStore) {}

std::span<const Setting<TlsSettings>> TlsSettings::settings() {
    using T = TlsSettings;
    static const Setting<T> table[] = {
        {.name = "GracefullyShutDownSSL", .boolean = &T::gracefullyShutDownSsl},
        {.name = "SSLProvider", .text = &T::sslProvider},
        {.name = "SSLCipherStrength", .integer = &T::sslCipherStrength},
        {.name = "SSLEnabledCipherSuites", .text = &T::sslEnabledCipherSuites},
        {.name = "SSLAlgorithmList", .text = &T::sslEnabledCipherSuites},
        {.name = "SSLEnabledProtocols", .integer = &T::sslEnabledProtocols},
        {.name = "SSLEnableRenegotiation", .boolean = &T::sslEnableRenegotiation},
        {.name = "SSLSecurityFlags", .integer = &T::sslSecurityFlags},
        {.name = "SSLIncludeCertChain", .boolean = &T::sslIncludeCertChain},
        {.name = "ReuseSSLSession", .boolean = &T::reuseSslSession},
        {.name = "ParseSSLServerCert", .boolean = &T::parseSslServerCert},
        {.name = "ALPNExtension", .text = &T::alpnExtension},
        {.name = "UseDefaultCredentials", .boolean = &T::useDefaultCredentials},
    };
    return table;
}

}  // namespace morvane
