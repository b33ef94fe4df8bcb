// The control's transport: one SocketEngine per control instance.
//
// It owns one TCP socket: it resolves the remote host, connects without
// blocking, turns socket readiness into notifications on the owner's thread,
// buffers received bytes and hands them up (in lines when an end-of-line
// string is set), sends with back-pressure, keeps the deadline of blocking
// operations and the send-rate limit, writes the debug log and the session
// recording, and closes in an orderly or abortive way.
//
// It also carries the settings of the two parts that ride on it: the firewall
// and proxy passage, which sits between TCP connect and the layers above, and
// the secure channel, which sits directly on the socket's bytes. The layers
// above (HttpLayer, WebSocketLayer) extend it and hear from it through the
// protected on... hooks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/engine_common.h"
#include "control/transport/line_buffer.h"
#include "control/transport/name_resolution.h"
#include "control/transport/traffic_log.h"
#include "control/transport/transfer_timing.h"
#include "platform/loop/event_loop.h"

namespace morvane {

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

class SocketEngine : public EngineCommon, private platform::loop::MessageTarget {
public:
    // The message number of socket notifications (WM_USER + 101), as the
    // engine's own readiness messages have always been numbered.
    static constexpr std::uint32_t socketMessage = platform::loop::kMsgUser + 101;

    explicit SocketEngine(const EngineEnvironment& environment = {});
    ~SocketEngine() override;

    static std::span<const Setting<SocketEngine>> settings();

    // Fills an empty last-error text from the code alone, as a failure that
    // surfaces without a description needs it: the wait-step and memory texts,
    // or the socket error's own text.
    void describeError(int code);

    // Connection state.
    bool socketOpen() const { return socketHandle_ >= 0; }
    bool socketConnected() const { return socketOpen() && connected_; }
    int socketHandle() const { return socketHandle_; }
    // The transport is up: socket connected, passage negotiated, channel
    // established. Cleared when a connect starts.
    bool transportEstablished() const { return transportEstablished_ && socketConnected(); }
    // The per-instance number that marks this engine's debug-log lines.
    int instanceNumber() const { return instanceNumber_; }

    // Operations. Each returns 0 or an error code and leaves the description
    // in the last-error text.

    // Starts a non-blocking connect to RemoteHost:RemotePort; completion is
    // reported later through onConnectionComplete.
    int connect();
    // Connect as the control's blocking operations use it: starts the
    // connect and runs wait steps until the transport is established or has
    // failed. ConnectionTimeout, when set, bounds this phase instead of
    // Timeout. A failed wait step closes the socket and returns 301.
    int connectAndWait();
    // Closes the connection. `errorCode` is the socket error that ends it (0
    // for an orderly end); it is what the layer above hears. Returns the
    // socket error of the close itself, if any.
    int disconnect(int errorCode = 0);

    // Hands bytes to the socket without waiting. `accepted` (optional) gets
    // how many went out. Returns 0 when all did, 10035 when only part (or
    // nothing) could be taken and the rest must wait for ReadyToSend, 10057
    // when not connected, or another socket error.
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr);
    // Sends the whole block, keeping the rate limit and running wait steps
    // while the socket cannot take more. 301 when a wait step fails.
    int sendBlocking(std::span<const std::uint8_t> data);

    // One turn of event processing (at most SelectWaitMillis long). False on
    // timeout ("Timeout."), interruption ("Interrupted."), or when the
    // thread's loop is ending; the description is left in the last error.
    bool waitStep();
    // The control's DoEvents: one wait step whose outcome is not reported.
    void doEvents();
    // Ends the blocking operation in progress at its next wait step; does
    // nothing when none is running.
    void interrupt();
    bool interrupted() const { return interrupted_; }
    bool insideDispatch() const;

    // The deadline of the blocking operation in progress: now + Timeout, or
    // none with Timeout 0.
    void armDeadline();

    // Marks a blocking operation for its lifetime: Interrupt applies while
    // one runs, and the outermost one arms the deadline when it starts.
    class BlockingOperation {
    public:
        explicit BlockingOperation(SocketEngine& engine);
        ~BlockingOperation();
        BlockingOperation(const BlockingOperation&) = delete;
        BlockingOperation& operator=(const BlockingOperation&) = delete;

    private:
        SocketEngine& engine_;
    };

    // Appends an information line to the debug log, when one is kept.
    void logDebugText(std::string_view text);

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
    // False holds received bytes back in the socket; True resumes delivery
    // and, while connected, delivers what arrived meanwhile.
    bool acceptData() const { return acceptData_; }
    void setAcceptData(bool accept);
    const std::string& endOfLine() const { return receiveBuffer_.endOfLine(); }
    void setEndOfLine(std::string_view endOfLine);
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

    // What the engine tells the layer above. The defaults do nothing beyond
    // raising ReadyToSend; the layers override what they take part in.

    // The transport connection is complete (0) or has failed (a code).
    virtual void onConnectionComplete(int code);
    // Received bytes: a line without its terminator (endOfLine true), or
    // bytes as they came. Returning 200 reports that the layer could not
    // store them.
    virtual int onDataReceived(std::span<const std::uint8_t> data, bool endOfLine);
    // The socket can take data again.
    virtual void onReadyToSend();
    // An established connection ended; `code` is the socket error, 0 for an
    // orderly end.
    virtual void onDisconnected(int code, const std::string& description);
    // Runs after every close, also when no socket was open.
    virtual void onAfterClose();
    // A blocking send handed its whole block to the socket.
    virtual void onSendProgress(std::size_t bytes);

    void raiseConnectionStatus(std::string_view text, int code);
    void raiseError(int code, std::string_view description);
    // fail() with the socket error's own text.
    int failSocket(int code);

    std::int64_t unitMillis(std::int64_t value) const {
        return timeoutInMilliseconds_ ? value : value * 1000;
    }

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

private:
    // How the read handler stopped.
    enum class ReadEnd { WouldBlock, PeerClosed, Failed, Paused };
    // A close that arrived while the read handler ran, done when it returns.
    enum class PendingClose { None, Local, Peer };

    void onMessage(const platform::loop::Message& message) override;
    void handleNotification(std::uint32_t event, int error);
    void handleConnectNotification(int error);
    void handleCloseNotification(int error);

    // The road from TCP connect to "connected" up above. The firewall
    // passage negotiates between the first two steps when a firewall kind is
    // set; the secure channel runs its handshake between the last two for a
    // secure connection.
    void socketConnected(int error);
    void transportConnected(int error);
    void connectionComplete(int code);

    ReadEnd runReadHandler(bool draining);
    ReadEnd readSocket(bool draining, int& error);
    bool deliverReady();
    void deliverRest(bool finalRest);
    void deliver(const LineBuffer::Piece& piece);
    void peerClosed(int error);
    void requestRead();
    void postClose(int error);

    void selectTurn(std::chrono::milliseconds step);
    bool interruptStep();
    void applySocketOptions(int socket);
    void applyLinger(int socket) const;
    void stopNotifications();
    void releaseSocket();
    void logTraffic(TrafficDirection direction, std::span<const std::uint8_t> data);

    platform::loop::TargetId target_ = platform::loop::kNoTarget;
    int instanceNumber_;

    // Flags of the connection in progress.
    bool reading_ = false;
    PendingClose pendingClose_ = PendingClose::None;
    int pendingCloseCode_ = 0;
    bool writable_ = false;
    bool readyToSend_ = false;
    bool interruptRequested_ = false;
    bool interrupted_ = false;
    bool keepHandle_ = false;
    bool transportEstablished_ = false;
    bool connectFinished_ = false;
    int connectResult_ = 0;
    int blockingDepth_ = 0;

    // The select-loop emulation: events still wanted, a read the engine
    // asked of itself, and the last error the read handler met.
    std::uint32_t wantedEvents_ = 0;
    bool selfReadRequested_ = false;
    int lastReadError_ = 0;

    Deadline deadline_;
    RateWindow rateWindow_;
    std::string recordingPath_;
};

}  // namespace morvane
