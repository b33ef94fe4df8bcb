// SocketEngine: opening and closing the connection, and the notifications
// that move it between closed, connecting and connected.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"
#include "control/transport/socket_engine.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

using platform::loop::kSocketClose;
using platform::loop::kSocketConnect;
using platform::loop::kSocketRead;
using platform::loop::kSocketWrite;

constexpr std::uint32_t allNotifications = kSocketRead | kSocketWrite | kSocketConnect | kSocketClose;

constexpr std::string_view connectionCompleteText = "Remote host connection complete.";
constexpr std::string_view connectionFailedText = "Remote host connection failed.";
constexpr std::string_view remoteDisconnectedText = "Remote host disconnected.";
constexpr std::string_view invalidRemoteAddressText = "The RemoteHost address is invalid (0.0.0.0).";
constexpr std::string_view invalidFirewallAddressText = "The FirewallHost address is invalid (0.0.0.0).";
constexpr std::string_view zeroFirewallPortText = "The FirewallPort is invalid (0).";

// Keep-alive values that stand in for a zero setting when the other is set.
constexpr int defaultKeepAliveTimeMillis = 7200000;
constexpr int defaultKeepAliveIntervalMillis = 1000;

void setIntOption(int socket, int level, int name, int value) {
    ::setsockopt(socket, level, name, &value, sizeof value);
}

int readIntOption(int socket, int level, int name, int fallback) {
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(socket, level, name, &value, &length) == 0 ? value : fallback;
}

int lastSocketError() { return socketErrorFromErrno(errno); }

}  // namespace

int SocketEngine::connect(std::string_view host, int port) {
    if (socketOpen()) return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);
    // A name that does not resolve leaves no address; connecting reports
    // that as it reports every other unreachable host.
    setRemoteHost(host);
    remotePort_ = port;
    return connect();
}

int SocketEngine::connect() {
    if (socketOpen()) return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);

    pendingClose_ = PendingClose::None;
    pendingCloseCode_ = 0;
    receiveBuffer_.setCapacity(static_cast<std::size_t>(maxLineLength_));
    writable_ = false;
    readyToSend_ = false;
    context_.waiter().clearInterrupted();
    lastReadError_ = 0;
    selfReadRequested_ = false;

    // A firewall or tunnelling proxy, or an HTTP proxy, takes the socket to
    // its own endpoint; the firewall layer above chose the road for this
    // connection (bypass lists included) and negotiates the passage once the
    // socket is up. Without that layer the firewall settings decide alone.
    const Passage* passage = proxy_.passage ? &*proxy_.passage : nullptr;
    const bool viaFirewall =
        passage ? passage->road == ProxyRoad::firewall : proxy_.firewallType != firewall_kind::none;
    const bool viaProxy = passage && passage->road == ProxyRoad::httpProxy;
    HostAddress target = remoteAddress_;
    int port = remotePort_;
    if (viaFirewall || viaProxy) {
        resolveHost(passage ? passage->host : proxy_.firewallHost, {useIPv6(), useGetAddrInfo_}, target);
        port = passage ? passage->port : proxy_.firewallPort;
    }
    if (target.empty()) {
        return context_.fail(errc::invalidAddress, viaFirewall ? invalidFirewallAddressText : invalidRemoteAddressText);
    }
    if (port == 0) return context_.fail(errc::zeroPort, viaFirewall ? zeroFirewallPortText : errtext::zeroRemotePort);

    const int family = target.isIPv6() ? AF_INET6 : AF_INET;
    const int socket = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0) return context_.failSocket(lastSocketError());

    int bindResult = 0;
    if (family == AF_INET) {
        if (shareLocalPort_) setIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<std::uint16_t>(localPort_));
        local.sin_addr.s_addr = localAddress_.isIPv6() ? INADDR_ANY : localAddress_.ipv4;
        bindResult = ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    } else if (bindIPv6Address_) {
        sockaddr_in6 local{};
        if (localAddress_.isIPv6()) local = *localAddress_.ipv6;
        local.sin6_family = AF_INET6;
        local.sin6_port = htons(static_cast<std::uint16_t>(localPort_));
        bindResult = ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    }
    if (bindResult != 0) {
        const int code = lastSocketError();
        ::close(socket);
        return context_.failSocket(code);
    }

    applySocketOptions(socket);

    socketHandle_ = socket;
    lowWater_ = 1;  // a new socket's
    if (useWindowsMessages_) {
        platform::loop::threadLoop().watchSocket(socket, target_, socketMessage, allNotifications);
    } else {
        wantedEvents_ = allNotifications;
    }

    connecting_ = true;
    int result;
    if (family == AF_INET6) {
        sockaddr_in6 remote = *target.ipv6;
        remote.sin6_port = htons(static_cast<std::uint16_t>(port));
        result = ::connect(socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } else {
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        remote.sin_addr.s_addr = target.ipv4;
        result = ::connect(socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    }
    if (result != 0 && errno != EINPROGRESS) {
        const int code = lastSocketError();
        connecting_ = false;
        releaseSocket();
        return context_.failSocket(code);
    }
    return 0;
}

void SocketEngine::applySocketOptions(int socket) {
    if (tcpKeepAlive_) {
        setIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
        if (keepAliveTime_ != 0 || keepAliveInterval_ != 0) {
            const int time = keepAliveTime_ != 0 ? keepAliveTime_ : defaultKeepAliveTimeMillis;
            const int interval = keepAliveInterval_ != 0 ? keepAliveInterval_ : defaultKeepAliveIntervalMillis;
            // The system counts in whole seconds.
            setIntOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, std::max(1, time / 1000));
            setIntOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, std::max(1, interval / 1000));
        }
        tcpKeepAlive_ = readIntOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1) != 0;
    }
    applyLinger(socket);
    // The system reports twice the size it was given (the rest is its own
    // bookkeeping), so half of what it reports is the size in force.
    if (inBufferSize_ > 0) {
        setIntOption(socket, SOL_SOCKET, SO_RCVBUF, inBufferSize_);
        inBufferSize_ = readIntOption(socket, SOL_SOCKET, SO_RCVBUF, inBufferSize_ * 2) / 2;
    }
    if (outBufferSize_ > 0) {
        setIntOption(socket, SOL_SOCKET, SO_SNDBUF, outBufferSize_);
        outBufferSize_ = readIntOption(socket, SOL_SOCKET, SO_SNDBUF, outBufferSize_ * 2) / 2;
    }
    setIntOption(socket, SOL_SOCKET, SO_OOBINLINE, 1);
    if (tcpNoDelay_) setIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

void SocketEngine::applyLinger(int socket) const {
    // Linger with no time: close returns at once and the system finishes
    // sending. Linger with a time: close waits that long. No linger: reset.
    ::linger option{};
    option.l_onoff = !linger_ || lingerTime_ > 0 ? 1 : 0;
    option.l_linger = linger_ ? lingerTime_ : 0;
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

void SocketEngine::stopNotifications() {
    if (socketOpen()) platform::loop::threadLoop().forgetSocket(socketHandle_);
    wantedEvents_ = 0;
    selfReadRequested_ = false;
}

void SocketEngine::releaseSocket() {
    if (!socketOpen()) return;
    stopNotifications();
    ::close(socketHandle_);
    socketHandle_ = -1;
    connected_ = false;
    connecting_ = false;
}

void SocketEngine::onMessage(const platform::loop::Message& message) {
    if (message.id != socketMessage || !socketOpen()) return;
    if (static_cast<int>(message.wParam) != socketHandle_) return;
    handleNotification(platform::loop::socketEventOf(message.lParam),
                       socketErrorFromErrno(platform::loop::socketErrorOf(message.lParam)));
}

void SocketEngine::handleNotification(std::uint32_t event, int error) {
    switch (event) {
        case kSocketRead:
            if (!acceptData_ || reading_) return;
            runReadHandler(false);
            return;
        case kSocketWrite:
            writable_ = true;
            readyToSend_ = true;
            if (listener_) listener_->streamReadyToSend();
            return;
        case kSocketConnect: handleConnectNotification(error); return;
        case kSocketClose: handleCloseNotification(error); return;
        default: return;
    }
}

void SocketEngine::handleConnectNotification(int error) {
    if (!connecting_) return;
    connecting_ = false;
    if (error == 0) {
        connected_ = true;
        setIntOption(socketHandle_, SOL_SOCKET, SO_OOBINLINE, 1);
        recordingPath_ = recordToFile_;
        connectionComplete(0);
        return;
    }
    releaseSocket();
    connectionComplete(error);
}

void SocketEngine::handleCloseNotification(int error) {
    if (connecting_) {
        runReadHandler(false);
        return;
    }
    peerClosed(error);
}

void SocketEngine::connectionComplete(int error) {
    // The layers above take it from here: a tunnel negotiates its passage, a
    // secure channel its handshake, before they report completion upward.
    context_.raiseConnectionStatus(error == 0 ? connectionCompleteText : connectionFailedText, error);
    if (error != 0) context_.failSocket(error);
    if (listener_) listener_->streamConnected(error);
}

void SocketEngine::peerClosed(int error) {
    if (!socketOpen()) return;
    if (reading_) {
        pendingClose_ = PendingClose::Peer;
        pendingCloseCode_ = error;
        return;
    }
    // While reception is paused, an orderly end waits behind the bytes that
    // came before it: the read handler meets it once reception resumes.
    if (!acceptData_ && error == 0) return;
    context_.raiseConnectionStatus(remoteDisconnectedText, error);
    disconnect(error);
}

int SocketEngine::disconnect(int errorCode) {
    if (!socketOpen()) return 0;
    stopNotifications();
    if (reading_) {
        pendingClose_ = PendingClose::Local;
        pendingCloseCode_ = errorCode;
        return 0;
    }
    if (acceptData_ && connected_) runReadHandler(true);
    pendingClose_ = PendingClose::None;

    const bool wasConnected = connected_;
    connected_ = false;
    connecting_ = false;
    int closeError = 0;
    applyLinger(socketHandle_);
    if (::close(socketHandle_) != 0) closeError = lastSocketError();
    socketHandle_ = -1;
    if (wasConnected) {
        recordingPath_.clear();
        if (listener_) {
            listener_->streamClosed(errorCode, errorCode == 0 ? std::string() : socketErrorDescription(errorCode));
        }
    }
    return closeError;
}

}  // namespace morvane
