// The control's transport: one SocketEngine per control instance.
//
// It carries the TCP endpoint and socket options, the receive line settings,
// timeouts and rate limit, the debug log and recording switches, and the
// settings of the two parts that ride on it: the firewall and proxy passage
// and the secure channel with its certificates. The layers above (HttpLayer,
// WebSocketLayer) extend it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/engine_common.h"

namespace morvane {

enum class IPv6Mode : std::int32_t { Off = 0, Only = 1, Prefer = 2 };

// Kinds of passage through a firewall or proxy. The public FirewallType values
// are 0 to 3; the others are chosen internally from the proxy settings.
namespace firewall_kind {
inline constexpr int none = 0;
inline constexpr int tunnel = 1;
inline constexpr int socks4 = 2;
inline constexpr int socks5 = 3;
inline constexpr int tunnelNtlm = 4;
inline constexpr int tunnelNegotiate = 5;
inline constexpr int tunnelDigest = 6;
}  // namespace firewall_kind

class SocketEngine : public EngineCommon {
public:
    explicit SocketEngine(const EngineEnvironment& environment = {});

    static std::span<const Setting<SocketEngine>> settings();

    // Fills an empty last-error text from the code alone, as a failure that
    // surfaces without a description needs it: the wait-step and memory texts,
    // or the socket error's own text.
    void describeError(int code);

    // Connection state.
    bool socketOpen() const { return socketHandle_ >= 0; }
    bool socketConnected() const { return socketOpen() && connected_; }
    int socketHandle() const { return socketHandle_; }

    // Endpoints. The setters refuse while a socket is open, as a live
    // connection cannot move.
    const std::string& remoteHost() const { return remoteHost_; }
    int setRemoteHost(std::string_view host);
    int remotePort() const { return remotePort_; }
    int setRemotePort(int port);
    const std::string& localHost() const { return localHost_; }
    void setLocalHost(std::string_view host) { localHost_ = host; }
    int localPort() const { return localPort_; }
    int setLocalPort(int port);

    // Reception.
    bool acceptData() const { return acceptData_; }
    void setAcceptData(bool accept) { acceptData_ = accept; }
    const std::string& endOfLine() const { return endOfLine_; }
    void setEndOfLine(std::string_view endOfLine) { endOfLine_ = endOfLine; }
    bool splitCrlf() const { return splitCrlf_; }
    int maxLineLength() const { return maxLineLength_; }
    int setMaxLineLength(std::int64_t length);

    // Timeouts. `timeout` is in seconds, or in milliseconds when
    // TimeoutInMilliseconds is set; 0 selects non-blocking operation.
    int timeout() const { return timeout_; }
    void setTimeout(int timeout) { timeout_ = timeout; }
    bool timeoutInMilliseconds() const { return timeoutInMilliseconds_; }
    std::int64_t timeoutMillis() const { return unitMillis(timeout_); }
    std::int64_t connectionTimeoutMillis() const { return unitMillis(connectionTimeout_); }
    bool absoluteTimeout() const { return absoluteTimeout_; }
    int selectWaitMillis() const { return selectWaitMillis_; }
    bool linger() const { return linger_; }
    int lingerTime() const { return lingerTime_; }

    bool useWindowsMessages() const { return useWindowsMessages_; }
    int setUseWindowsMessages(bool use);
    IPv6Mode useIPv6() const { return static_cast<IPv6Mode>(useIPv6_); }

    // Firewall and proxy passage.
    bool firewallAutoDetect() const { return firewallAutoDetect_; }
    void setFirewallAutoDetect(bool detect);
    int firewallType() const { return firewallType_; }
    void setFirewallType(int kind);
    const std::string& firewallHost() const { return firewallHost_; }
    void setFirewallHost(std::string_view host) { firewallHost_ = host; }
    int firewallPort() const { return firewallPort_; }
    void setFirewallPort(int port) { firewallPort_ = port; }
    const std::string& firewallUser() const { return firewallUser_; }
    void setFirewallUser(std::string_view user) { firewallUser_ = user; }
    const std::string& firewallPassword() const { return firewallPassword_; }
    void setFirewallPassword(std::string_view password) { firewallPassword_ = password; }

    const std::string& proxyServer() const { return proxyServer_; }
    void setProxyServer(std::string_view server) { proxyServer_ = server; }
    int proxyPort() const { return proxyPort_; }
    void setProxyPort(int port) { proxyPort_ = port; }
    const std::string& proxyUser() const { return proxyUser_; }
    void setProxyUser(std::string_view user) { proxyUser_ = user; }
    const std::string& proxyPassword() const { return proxyPassword_; }
    void setProxyPassword(std::string_view password) { proxyPassword_ = password; }
    int proxyAuthScheme() const { return proxyAuthScheme_; }
    void setProxyAuthScheme(int scheme) { proxyAuthScheme_ = scheme; }
    int proxySsl() const { return proxySsl_; }
    void setProxySsl(int mode) { proxySsl_ = mode; }
    bool proxyAutoDetect() const { return proxyAutoDetect_; }
    void setProxyAutoDetect(bool detect);

    // Secure channel and certificates. Certificates and stores are kept as
    // the bytes the caller gave; their string and byte forms share them.
    bool sslEnabled() const { return sslEnabled_; }
    void setSslEnabled(bool enabled) { sslEnabled_ = enabled; }
    const std::string& sslAcceptServerCertEncoded() const { return sslAcceptServerCertEncoded_; }
    void setSslAcceptServerCertEncoded(std::string_view cert) { sslAcceptServerCertEncoded_ = cert; }
    const std::string& sslCertEncoded() const { return sslCertEncoded_; }
    void setSslCertEncoded(std::string_view cert) { sslCertEncoded_ = cert; }
    const std::string& sslCertStore() const { return sslCertStore_; }
    void setSslCertStore(std::string_view store) { sslCertStore_ = store; }
    const std::string& sslCertStorePassword() const { return sslCertStorePassword_; }
    void setSslCertStorePassword(std::string_view password) { sslCertStorePassword_ = password; }
    int sslCertStoreType() const { return sslCertStoreType_; }
    void setSslCertStoreType(int type) { sslCertStoreType_ = type; }
    const std::string& sslCertSubject() const { return sslCertSubject_; }
    void setSslCertSubject(std::string_view subject) { sslCertSubject_ = subject; }
    const std::string& sslServerCertEncoded() const { return sslServerCertEncoded_; }

protected:
    std::optional<int> configure(const ConfigText& request, std::string& result) override;

    std::int64_t unitMillis(std::int64_t value) const {
        return timeoutInMilliseconds_ ? value : value * 1000;
    }

    // Socket and endpoints.
    int socketHandle_ = -1;
    bool connecting_ = false;
    bool connected_ = false;
    std::string remoteHost_;
    std::int32_t remotePort_ = 0;
    std::string localHost_;
    std::int32_t localPort_ = 0;

    // Reception: the receive buffer's line settings and delivery switch.
    bool acceptData_ = true;
    std::string endOfLine_;
    bool splitCrlf_ = false;
    std::int32_t maxLineLength_ = 2048;
    std::int32_t maxReceiveDataTime_ = 0;

    // Waiting and timing.
    std::int32_t timeout_ = 60;
    bool timeoutInMilliseconds_ = false;
    bool absoluteTimeout_ = false;
    std::int32_t connectionTimeout_ = 0;
    std::int32_t selectWaitMillis_ = 20;
    std::int64_t maxTransferRate_ = 0;
    bool useWindowsMessages_ = true;
    bool ignoreExternalEvents_ = false;
    bool ignoreOtherWindowEvents_ = false;

    // Socket options.
    std::int32_t inBufferSize_;
    std::int32_t outBufferSize_;
    bool tcpNoDelay_ = false;
    bool tcpKeepAlive_ = false;
    std::int32_t keepAliveTime_ = 0;
    std::int32_t keepAliveInterval_ = 0;
    bool linger_ = true;
    std::int32_t lingerTime_ = 0;
    bool shareLocalPort_ = false;
    bool bindIPv6Address_ = true;
    std::int32_t useIPv6_ = static_cast<std::int32_t>(IPv6Mode::Off);
    bool useGetAddrInfo_ = true;
    std::int32_t qosTrafficType_ = 0;
    std::int32_t qosDscpValue_ = 0;

    // Session recording.
    std::string recordToFile_;
    bool recordToString_ = false;
    std::string recordedText_;

    // Firewall and proxy passage.
    std::int32_t firewallType_ = firewall_kind::none;
    std::string firewallHost_;
    std::int32_t firewallPort_ = 0;
    std::string firewallUser_;
    std::string firewallPassword_;
    bool firewallAutoDetect_ = false;
    std::string proxyExceptionsList_;
    std::string proxyServer_;
    std::int32_t proxyPort_ = 80;
    std::string proxyUser_;
    std::string proxyPassword_;
    std::int32_t proxyAuthScheme_ = 0;
    std::int32_t proxySsl_ = 0;
    bool proxyAutoDetect_ = false;

    // Secure channel.
    bool sslEnabled_ = false;
    std::string sslProvider_;
    std::int32_t sslCipherStrength_ = 40;
    std::string sslEnabledCipherSuites_;
    std::int32_t sslEnabledProtocols_ = 4032;
    bool sslEnableRenegotiation_ = true;
    bool reuseSslSession_ = false;
    bool useDefaultCredentials_ = false;
    bool parseSslServerCert_ = false;
    std::string alpnExtension_;
    bool gracefullyShutDownSsl_ = false;

    // Certificates.
    std::int32_t sslSecurityFlags_ = 0;
    bool sslIncludeCertChain_ = false;
    std::string sslAcceptServerCertEncoded_;
    std::string sslCertEncoded_;
    std::string sslCertStore_;
    std::string sslCertStorePassword_;
    std::int32_t sslCertStoreType_ = 0;
    std::string sslCertSubject_;
    std::string sslServerCertEncoded_;

    // HTTP authentication tokens.
    bool useSystemSspi_ = true;
    bool extendedProtection_;
    std::string kerberosSpn_;
};

}  // namespace morvane
