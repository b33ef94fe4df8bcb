// The bottom of the control's transport stack: one SocketEngine per control
// instance, owning one TCP socket.
//
// It resolves the remote host, connects without blocking, turns socket
// readiness into notifications on the owner's thread, buffers received bytes
// and hands them up (in lines when an end-of-line string is set), sends with
// back-pressure, writes the debug log and the session recording, and closes in
// an orderly or abortive way. It is the stack's event pump: the wait steps of
// blocking operations run its notifications.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/byte_stream.h"
#include "control/engine/engine_context.h"
#include "control/engine/traffic_log.h"
#include "control/transport/line_buffer.h"
#include "control/transport/name_resolution.h"
#include "control/transport/proxy_settings.h"
#include "platform/loop/event_loop.h"

namespace morvane {

class SocketEngine final : public ByteStream, private EventPump, private platform::loop::MessageTarget {
public:
    // The message number of socket notifications (WM_USER + 101), as the
    // engine's own readiness messages have always been numbered.
    static constexpr std::uint32_t socketMessage = platform::loop::kMsgUser + 101;

    // Borrows the context and the proxy settings (which decide where the
    // socket connects) for its lifetime.
    SocketEngine(EngineContext& context, const ProxySettings& proxy);
    ~SocketEngine() override;
    SocketEngine(const SocketEngine&) = delete;
    SocketEngine& operator=(const SocketEngine&) = delete;

    static std::span<const Setting<SocketEngine>> settings();

    // ByteStream.
    void setListener(StreamListener* listener) override { listener_ = listener; }
    // Sets RemoteHost and RemotePort, then connects as connect() does.
    int connect(std::string_view host, int port) override;
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) override;
    void setAcceptData(bool accept) override;
    bool acceptData() const override { return acceptData_; }
    // `errorCode` is the socket error that ends the connection (0 for an
    // orderly end); it is what the layer above hears.
    int close(int errorCode = 0) override { return disconnect(errorCode); }
    bool isOpen() const override { return socketOpen(); }
    bool isConnected() const override { return socketConnected(); }

    // Starts a non-blocking connect to RemoteHost:RemotePort; completion is
    // reported later through streamConnected.
    int connect();
    int disconnect(int errorCode = 0);

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
    const HostAddress& remoteAddress() const { return remoteAddress_; }
    const std::string& localHost() const { return localHost_; }
    int setLocalHost(std::string_view host);
    // While a socket is open, the port it is actually bound to.
    int localPort() const;
    int setLocalPort(int port);

    // Reception.
    const std::string& endOfLine() const { return receiveBuffer_.endOfLine(); }
    void setEndOfLine(std::string_view endOfLine);
    bool splitCrlf() const { return splitCrlf_; }
    int maxLineLength() const { return maxLineLength_; }
    int setMaxLineLength(std::int64_t length);

    // Whether sent and received bytes go to the debug log and the
    // recording; off while a secure channel above logs what they carry.
    void setLogsTraffic(bool on) { logsTraffic_ = on; }

    bool linger() const { return linger_; }
    int lingerTime() const { return lingerTime_; }
    bool useWindowsMessages() const { return useWindowsMessages_; }
    int setUseWindowsMessages(bool use);
    IPv6Mode useIPv6() const { return static_cast<IPv6Mode>(useIPv6_); }

private:
    // How the read handler stopped.
    enum class ReadEnd { WouldBlock, PeerClosed, Failed, Paused };
    // A close that arrived while the read handler ran, done when it returns.
    enum class PendingClose { None, Local, Peer };

    bool pumpEvents(std::chrono::milliseconds step) override;
    void onMessage(const platform::loop::Message& message) override;
    void handleNotification(std::uint32_t event, int error);
    void handleConnectNotification(int error);
    void handleCloseNotification(int error);
    void connectionComplete(int error);

    ReadEnd runReadHandler(bool draining);
    ReadEnd readSocket(bool draining, int& error);
    bool deliverReady();
    // A listener takes the stream as it comes: no line is being cut and
    // nothing waits in the receive buffer.
    bool nothingHeldBack() const {
        return listener_ != nullptr && receiveBuffer_.empty() && !receiveBuffer_.lineMode();
    }
    void waitForTheRest();
    void deliverRest(bool finalRest);
    void deliver(const LineBuffer::Piece& piece);
    // Raises the Error that a layer above's failure to store bytes calls for.
    void handedUp(int code);
    void peerClosed(int error);
    void requestRead();
    void postClose(int error);

    void selectTurn(std::chrono::milliseconds step);
    void applySocketOptions(int socket);
    void applyLinger(int socket) const;
    void stopNotifications();
    void releaseSocket();
    void logTraffic(TrafficDirection direction, std::span<const std::uint8_t> data);

    EngineContext& context_;
    const ProxySettings& proxy_;
    StreamListener* listener_ = nullptr;
    platform::loop::TargetId target_ = platform::loop::kNoTarget;

    // Socket and endpoints.
    int socketHandle_ = -1;
    bool connecting_ = false;
    bool connected_ = false;
    std::string remoteHost_;
    HostAddress remoteAddress_;
    std::int32_t remotePort_ = 0;
    std::string localHost_;
    HostAddress localAddress_;
    std::int32_t localPort_ = 0;

    // Reception: the receive buffer and its delivery switch.
    LineBuffer receiveBuffer_;
    bool acceptData_ = true;
    bool splitCrlf_ = false;
    std::int32_t maxLineLength_ = 2048;
    std::int32_t maxReceiveDataTime_ = 0;
    // The socket's receive low-water mark (SO_RCVLOWAT).
    std::size_t lowWater_ = 1;

    // Notifications.
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
    std::string recordingPath_;
    bool logsTraffic_ = true;

    // Flags of the connection in progress.
    bool reading_ = false;
    PendingClose pendingClose_ = PendingClose::None;
    int pendingCloseCode_ = 0;
    bool writable_ = false;
    bool readyToSend_ = false;

    // The select-loop emulation: events still wanted, a read the engine
    // asked of itself, and the last error the read handler met.
    std::uint32_t wantedEvents_ = 0;
    bool selfReadRequested_ = false;
    int lastReadError_ = 0;
};

}  // namespace morvane
