#include "control/transport/socket_engine.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "control/engine/engine_errors.h"
#include "control/transport/socket_errors.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

constexpr std::string_view remotePortLockedText =
    "You cannot change the RemotePort at this time. A connection is in progress.";
constexpr std::string_view remoteHostLockedText =
    "You cannot change the RemoteHost at this time. A connection is in progress.";
constexpr std::string_view localPortLockedText =
    "You cannot change the LocalPort at this time. A connection is in progress.";
constexpr std::string_view maxLineLengthLockedText =
    "You cannot change MaxLineLength at this time. A connection is in progress.";
constexpr std::string_view useWindowsMessagesLockedText =
    "UseWindowsMessages cannot be changed at this time. A connection is in progress.";

constexpr std::string_view defaultSslProvider = "Microsoft Unified Security Protocol Provider";
constexpr std::string_view defaultCertStore = "MY";

// The receive buffer never grows past 64 KiB; below one byte it could never
// hold a line and would deliver nothing forever.
constexpr std::int64_t largestLineLength = LineBuffer::largestCapacity;
constexpr std::int64_t smallestLineLength = 1;

// Debug-log lines carry the number of the engine that wrote them; numbers
// are handed out in creation order and never reused within a process.
std::atomic<int> nextInstanceNumber{1};

// The socket library this engine presents: started without error, version 2.2.
constexpr int winsockStatus = 0;
constexpr std::string_view winsockVersion = "2.2";

// QOSTrafficType takes these names for 0 to 5, or a number.
constexpr std::string_view qosTrafficTypeNames[] = {"BestEffort", "Background", "ExcellentEffort",
                                                    "AudioVideo", "Voice",      "Control"};

bool isModernSystem(const EngineEnvironment& environment) { return environment.systemMajorVersion >= 6; }

bool hasExtendedProtection(const EngineEnvironment& environment) {
    return environment.systemMajorVersion > 6 ||
           (environment.systemMajorVersion == 6 && environment.systemMinorVersion >= 1);
}

int defaultFirewallPort(int kind) {
    switch (kind) {
        case firewall_kind::tunnel:
        case firewall_kind::tunnelNtlm:
        case firewall_kind::tunnelNegotiate:
        case firewall_kind::tunnelDigest:
            return 80;
        case firewall_kind::socks4:
        case firewall_kind::socks5:
            return 1080;
        default:
            return 0;
    }
}

}  // namespace

SocketEngine::SocketEngine(const EngineEnvironment& environment)
    : EngineCommon(environment),
      inBufferSize_(isModernSystem(environment) ? 1048576 : 65536),
      outBufferSize_(isModernSystem(environment) ? 262144 : 65536),
      sslProvider_(defaultSslProvider),
      sslCertStore_(defaultCertStore),
      extendedProtection_(hasExtendedProtection(environment)),
      instanceNumber_(nextInstanceNumber.fetch_add(1)) {
    target_ = platform::loop::threadLoop().createTarget(*this);
}

SocketEngine::~SocketEngine() {
    // No events from here: the layers above are already gone.
    if (socketOpen()) {
        stopNotifications();
        if (!keepHandle_) ::close(socketHandle_);
        socketHandle_ = -1;
    }
    platform::loop::threadLoop().destroyTarget(target_);
}

std::span<const Setting<SocketEngine>> SocketEngine::settings() {
    using E = SocketEngine;
    using A = SettingAccess;
    static const Setting<E> table[] = {
        {.name = "SelectWaitMillis", .integer = &E::selectWaitMillis_},
        {.name = "AbsoluteTimeout", .boolean = &E::absoluteTimeout_},
        // Keeping the number and changing only its unit is what callers rely on:
        // Timeout 60 becomes 60 ms.
        {.name = "TimeoutInMilliseconds", .boolean = &E::timeoutInMilliseconds_},
        {.name = "WinsockStatus",
         .access = A::ReadOnly,
         .read = [](E&) { return std::to_string(winsockStatus); }},
        {.name = "IgnoreExternalEvents", .boolean = &E::ignoreExternalEvents_},
        {.name = "IgnoreOtherWindowEvents", .boolean = &E::ignoreOtherWindowEvents_},
        {.name = "WinsockVersion", .access = A::ReadOnly, .read = [](E&) { return std::string(winsockVersion); }},
        {.name = "QOSTrafficType",
         .integer = &E::qosTrafficType_,
         .write = [](E& e, std::string_view v) {
             for (std::size_t i = 0; i < std::size(qosTrafficTypeNames); ++i) {
                 if (sameConfigName(v, qosTrafficTypeNames[i])) {
                     e.qosTrafficType_ = static_cast<std::int32_t>(i);
                     return 0;
                 }
             }
             e.qosTrafficType_ = configInteger32(v);
             return 0;
         }},
        {.name = "QOSDSCPValue", .integer = &E::qosDscpValue_},
        {.name = "UseWindowsMessages",
         .boolean = &E::useWindowsMessages_,
         .write = [](E& e, std::string_view v) { return e.setUseWindowsMessages(configBoolean(v)); }},
        {.name = "UseIPv6",
         .read = [](E& e) {
             return e.useIPv6() == IPv6Mode::Prefer ? std::string("2")
                                                    : std::string(configBooleanText(e.useIPv6() == IPv6Mode::Only));
         },
         .write = [](E& e, std::string_view v) {
             const IPv6Mode mode = v == "2" ? IPv6Mode::Prefer : configBoolean(v) ? IPv6Mode::Only : IPv6Mode::Off;
             e.useIPv6_ = static_cast<std::int32_t>(mode);
             return 0;
         }},
        {.name = "UseGetAddrInfo", .boolean = &E::useGetAddrInfo_},
        {.name = "ShareLocalPort", .boolean = &E::shareLocalPort_},
        {.name = "MaxTransferRate", .integer64 = &E::maxTransferRate_},
        {.name = "SplitCRLF", .boolean = &E::splitCrlf_},
        {.name = "MaxLineLength",
         .integer = &E::maxLineLength_,
         .write = [](E& e, std::string_view v) { return e.setMaxLineLength(configInteger(v)); }},
        {.name = "SocketHandle", .access = A::ReadOnly, .read = [](E& e) { return std::to_string(e.socketHandle_); }},
        {.name = "LocalHost",
         .text = &E::localHost_,
         .write = [](E& e, std::string_view v) { return e.setLocalHost(v); }},
        {.name = "LocalPort",
         .read = [](E& e) { return std::to_string(e.localPort()); },
         .write = [](E& e, std::string_view v) { return e.setLocalPort(configInteger32(v)); }},
        {.name = "FirewallAutoDetect",
         .boolean = &E::firewallAutoDetect_,
         .write = [](E& e, std::string_view v) {
             e.setFirewallAutoDetect(configBoolean(v));
             return 0;
         }},
        {.name = "FirewallHost", .text = &E::firewallHost_},
        {.name = "FirewallPort", .integer = &E::firewallPort_},
        {.name = "FirewallType",
         .integer = &E::firewallType_,
         .write = [](E& e, std::string_view v) {
             e.setFirewallType(configInteger32(v));
             return 0;
         }},
        {.name = "FirewallUser", .text = &E::firewallUser_},
        {.name = "FirewallPassword", .text = &E::firewallPassword_},
        {.name = "ProxyExceptionsList", .text = &E::proxyExceptionsList_},
        // Taken for the callers that still send it; it has no effect.
        {.name = "FirewallData", .access = A::WriteOnly, .write = [](E&, std::string_view) { return 0; }},
        {.name = "InBufferSize", .integer = &E::inBufferSize_},
        {.name = "OutBufferSize", .integer = &E::outBufferSize_},
        {.name = "TcpNoDelay", .boolean = &E::tcpNoDelay_},
        {.name = "TCPKeepAlive", .boolean = &E::tcpKeepAlive_},
        {.name = "KeepAliveTime", .integer = &E::keepAliveTime_},
        {.name = "KeepAliveInterval", .integer = &E::keepAliveInterval_},
        {.name = "MaxReceiveDataTime", .integer = &E::maxReceiveDataTime_},
        {.name = "Linger", .boolean = &E::linger_},
        {.name = "LingerTime", .integer = &E::lingerTime_},
        {.name = "GracefullyShutDownSSL", .boolean = &E::gracefullyShutDownSsl_},
        {.name = "BindIPv6Address", .boolean = &E::bindIPv6Address_},
        {.name = "ConnectionTimeout", .integer = &E::connectionTimeout_},
        {.name = "SSLProvider", .text = &E::sslProvider_},
        {.name = "SSLCipherStrength", .integer = &E::sslCipherStrength_},
        {.name = "SSLEnabledCipherSuites", .text = &E::sslEnabledCipherSuites_},
        {.name = "SSLAlgorithmList", .text = &E::sslEnabledCipherSuites_},
        {.name = "SSLEnabledProtocols", .integer = &E::sslEnabledProtocols_},
        {.name = "SSLEnableRenegotiation", .boolean = &E::sslEnableRenegotiation_},
        {.name = "SSLSecurityFlags", .integer = &E::sslSecurityFlags_},
        {.name = "SSLIncludeCertChain", .boolean = &E::sslIncludeCertChain_},
        {.name = "ReuseSSLSession", .boolean = &E::reuseSslSession_},
        {.name = "ParseSSLServerCert", .boolean = &E::parseSslServerCert_},
        {.name = "ALPNExtension", .text = &E::alpnExtension_},
        {.name = "UseDefaultCredentials", .boolean = &E::useDefaultCredentials_},
        {.name = "ExtendedProtection", .boolean = &E::extendedProtection_},
        {.name = "KerberosSPN", .text = &E::kerberosSpn_},
        {.name = "UseSystemSSPI", .boolean = &E::useSystemSspi_},
        {.name = "RecordToFile", .text = &E::recordToFile_},
        // Switched with "on" and read back as what it recorded.
        {.name = "RecordToString",
         .text = &E::recordedText_,
         .write = [](E& e, std::string_view v) {
             e.recordToString_ = sameConfigName(v, "on");
             return 0;
         }},
        {.name = "RemoteHostName", .access = A::ReadOnly, .text = &E::remoteHost_},
    };
    return table;
}

std::optional<int> SocketEngine::configure(const ConfigText& request, std::string& result) {
    if (auto code = applySetting(settings(), *this, request, result)) return code;
    return EngineCommon::configure(request, result);
}

void SocketEngine::describeError(int code) {
    if (!lastErrorText_.empty()) return;
    if (code == errc::interrupted) lastErrorText_ = errtext::interrupted;
    else if (code == errc::outOfMemory) lastErrorText_ = errtext::outOfMemory;
    else if (isSocketErrorCode(code)) lastErrorText_ = socketErrorDescription(code);
}

int SocketEngine::setRemoteHost(std::string_view host) {
    // Behind a firewall the name travels to the proxy, so it may still change.
    if (socketOpen() && firewallType_ == firewall_kind::none) {
        return fail(errc::remoteHostLocked, remoteHostLockedText);
    }
    remoteHost_ = host;
    remoteAddress_ = {};
    // The firewall or the proxy resolves the name at the far side.
    if (firewallType_ != firewall_kind::none) return 0;
    const int code = resolveHost(host, {useIPv6(), useGetAddrInfo_}, remoteAddress_);
    return code == 0 ? 0 : failSocket(code);
}

int SocketEngine::setLocalHost(std::string_view host) {
    localHost_ = host;
    const int code = resolveHost(host, {useIPv6(), useGetAddrInfo_}, localAddress_);
    return code == 0 ? 0 : failSocket(code);
}

int SocketEngine::localPort() const {
    if (!socketOpen()) return localPort_;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(socketHandle_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return localPort_;
    if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

int SocketEngine::setRemotePort(int port) {
    if (socketOpen()) return fail(errc::remotePortLocked, remotePortLockedText);
    remotePort_ = port;
    return 0;
}

int SocketEngine::setLocalPort(int port) {
    if (socketOpen()) return fail(errc::localPortLocked, localPortLockedText);
    localPort_ = port;
    return 0;
}

int SocketEngine::setMaxLineLength(std::int64_t length) {
    if (socketOpen()) return fail(errc::maxLineLengthLocked, maxLineLengthLockedText);
    maxLineLength_ = static_cast<std::int32_t>(std::clamp(length, smallestLineLength, largestLineLength));
    return 0;
}

int SocketEngine::setUseWindowsMessages(bool use) {
    if (socketOpen()) return fail(errc::useWindowsMessagesLocked, useWindowsMessagesLockedText);
    useWindowsMessages_ = use;
    return 0;
}

void SocketEngine::setFirewallType(int kind) {
    firewallType_ = kind;
    if (kind == firewall_kind::none) firewallPort_ = 0;
    else if (firewallPort_ == 0) firewallPort_ = defaultFirewallPort(kind);
}

void SocketEngine::setFirewallAutoDetect(bool detect) {
    // Either way the previous firewall endpoint no longer applies.
    firewallAutoDetect_ = detect;
    firewallHost_.clear();
    firewallPort_ = 0;
}

void SocketEngine::setProxyAutoDetect(bool detect) {
    proxyAutoDetect_ = detect;
    firewallHost_.clear();
    firewallPort_ = 0;
}

}  // namespace morvane
