#include "control/transport/socket_engine.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "control/engine/ascii.h"
#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"
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

// The receive buffer never grows past 64 KiB; below one byte it could never
// hold a line and would deliver nothing forever.
constexpr std::int64_t largestLineLength = LineBuffer::largestCapacity;
constexpr std::int64_t smallestLineLength = 1;

// The socket library this engine presents: started without error, version 2.2.
constexpr int winsockStatus = 0;
constexpr std::string_view winsockVersion = "2.2";

// QOSTrafficType takes these names for 0 to 5, or a number.
constexpr std::string_view qosTrafficTypeNames[] = {"BestEffort", "Background", "ExcellentEffort",
                                                    "AudioVideo", "Voice",      "Control"};

bool isModernSystem(const EngineEnvironment& environment) { return environment.systemMajorVersion >= 6; }

}  // namespace

SocketEngine::SocketEngine(EngineContext& context, const ProxySettings& proxy)
    : context_(context),
      proxy_(proxy),
      inBufferSize_(isModernSystem(context.environment()) ? 1048576 : 65536),
      outBufferSize_(isModernSystem(context.environment()) ? 262144 : 65536) {
    target_ = platform::loop::threadLoop().createTarget(*this);
    context_.addSettingsTable(SettingsRank::Socket, *this);
    context_.waiter().setPump(this);
}

SocketEngine::~SocketEngine() {
    // No events from here: the layers above are already gone.
    releaseSocket();
    if (context_.waiter().pump() == this) context_.waiter().setPump(nullptr);
    context_.removeSettings(this);
    platform::loop::threadLoop().destroyTarget(target_);
}

std::span<const Setting<SocketEngine>> SocketEngine::settings() {
    using E = SocketEngine;
    using A = SettingAccess;
    static const Setting<E> table[] = {
        {.name = "WinsockStatus", .access = A::ReadOnly, .read = [](E&) { return std::to_string(winsockStatus); }},
        {.name = "IgnoreExternalEvents", .boolean = &E::ignoreExternalEvents_},
        {.name = "IgnoreOtherWindowEvents", .boolean = &E::ignoreOtherWindowEvents_},
        {.name = "WinsockVersion", .access = A::ReadOnly, .read = [](E&) { return std::string(winsockVersion); }},
        {.name = "QOSTrafficType",
         .integer = &E::qosTrafficType_,
         .write =
             [](E& e, std::string_view v) {
                 for (std::size_t i = 0; i < std::size(qosTrafficTypeNames); ++i) {
                     if (equalsNoCase(v, qosTrafficTypeNames[i])) {
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
         .read =
             [](E& e) {
                 return e.useIPv6() == IPv6Mode::Prefer ? std::string("2")
                                                        : std::string(configBooleanText(e.useIPv6() == IPv6Mode::Only));
             },
         .write =
             [](E& e, std::string_view v) {
                 const IPv6Mode mode = v == "2" ? IPv6Mode::Prefer : configBoolean(v) ? IPv6Mode::Only : IPv6Mode::Off;
                 e.useIPv6_ = static_cast<std::int32_t>(mode);
                 return 0;
             }},
        {.name = "UseGetAddrInfo", .boolean = &E::useGetAddrInfo_},
        {.name = "ShareLocalPort", .boolean = &E::shareLocalPort_},
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
        {.name = "InBufferSize", .integer = &E::inBufferSize_},
        {.name = "OutBufferSize", .integer = &E::outBufferSize_},
        {.name = "TcpNoDelay", .boolean = &E::tcpNoDelay_},
        {.name = "TCPKeepAlive", .boolean = &E::tcpKeepAlive_},
        {.name = "KeepAliveTime", .integer = &E::keepAliveTime_},
        {.name = "KeepAliveInterval", .integer = &E::keepAliveInterval_},
        {.name = "MaxReceiveDataTime", .integer = &E::maxReceiveDataTime_},
        {.name = "Linger", .boolean = &E::linger_},
        {.name = "LingerTime", .integer = &E::lingerTime_},
        {.name = "BindIPv6Address", .boolean = &E::bindIPv6Address_},
        {.name = "RecordToFile", .text = &E::recordToFile_},
        // Switched with "on" and read back as what it recorded.
        {.name = "RecordToString",
         .text = &E::recordedText_,
         .write =
             [](E& e, std::string_view v) {
                 e.recordToString_ = equalsNoCase(v, "on");
                 return 0;
             }},
        {.name = "RemoteHostName", .access = A::ReadOnly, .text = &E::remoteHost_},
    };
    return table;
}

int SocketEngine::setRemoteHost(std::string_view host) {
    // Behind a firewall the name travels to the proxy, so it may still change.
    if (socketOpen() && proxy_.firewallKindInForce() == firewall_kind::none) {
        return context_.fail(errc::remoteHostLocked, remoteHostLockedText);
    }
    remoteHost_ = host;
    remoteAddress_ = {};
    // The firewall or the proxy resolves the name at the far side.
    if (proxy_.farSideResolves()) return 0;
    const int code = resolveHost(host, {useIPv6(), useGetAddrInfo_}, remoteAddress_);
    return code == 0 ? 0 : context_.failSocket(code);
}

int SocketEngine::setLocalHost(std::string_view host) {
    localHost_ = host;
    const int code = resolveHost(host, {useIPv6(), useGetAddrInfo_}, localAddress_);
    return code == 0 ? 0 : context_.failSocket(code);
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
    if (socketOpen()) return context_.fail(errc::remotePortLocked, remotePortLockedText);
    remotePort_ = port;
    return 0;
}

int SocketEngine::setLocalPort(int port) {
    if (socketOpen()) return context_.fail(errc::localPortLocked, localPortLockedText);
    localPort_ = port;
    return 0;
}

int SocketEngine::setMaxLineLength(std::int64_t length) {
    if (socketOpen()) return context_.fail(errc::maxLineLengthLocked, maxLineLengthLockedText);
    maxLineLength_ = static_cast<std::int32_t>(std::clamp(length, smallestLineLength, largestLineLength));
    return 0;
}

int SocketEngine::setUseWindowsMessages(bool use) {
    if (socketOpen()) return context_.fail(errc::useWindowsMessagesLocked, useWindowsMessagesLockedText);
    useWindowsMessages_ = use;
    return 0;
}

}  // namespace morvane
