// The firewall layer: between the socket and the secure channel, it chooses
// each connection's road (straight, through a firewall or tunnelling proxy,
// or to an HTTP proxy) and, on the firewall road, negotiates the passage
// (CONNECT, SOCKS 4, SOCKS 5) once the socket is up, before it reports the
// connection upward. The TLS channel and the opening handshake then run end
// to end through the passage. On the other roads it passes everything
// through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/byte_stream.h"
#include "control/engine/engine_context.h"
#include "control/transport/firewall_negotiator.h"
#include "control/transport/http_authenticator.h"
#include "control/transport/proxy_passage.h"
#include "control/transport/proxy_settings.h"

namespace morvane {

class FirewallLayer final : public ByteStream, private StreamListener, private firewall::ProxyCredentials {
public:
    // The HTTP layer's User-Agent, sent with the CONNECT requests when set.
    using UserAgent = std::function<std::string()>;

    // Borrows the context, the stream below, the settings (the chosen road
    // is left in them, for the socket and the HTTP layer to read) and the
    // proxy's authenticator (may be null: the tunnels that authenticate with
    // NTLM, Negotiate or Digest then fail) for its lifetime.
    FirewallLayer(EngineContext& context, ByteStream& below, ProxySettings& settings, HttpAuthenticator* proxyAuth,
                  UserAgent userAgent);
    ~FirewallLayer() override;
    FirewallLayer(const FirewallLayer&) = delete;
    FirewallLayer& operator=(const FirewallLayer&) = delete;

    // The scheme of the connections to come and whether it is the secure one.
    void setScheme(std::string_view scheme, bool secure);
    // Chooses the road of the next connection, to the remote host:port,
    // reading the system's proxy settings when auto-detection is on. The next
    // connect takes this road and this remote endpoint, whatever endpoint it
    // is given (an HTTP proxy road's caller may name the proxy).
    const Passage& prepare(std::string_view host, int port);
    const Passage& passage() const { return passage_; }
    bool negotiating() const { return negotiating_; }
    // The step of the negotiation in progress (0 when none).
    int negotiationStep() const { return negotiator_ ? negotiator_->step() : 0; }

    // ByteStream.
    void setListener(StreamListener* listener) override { listener_ = listener; }
    // 153 (with its text) when the proxy settings name a scheme no tunnel
    // speaks; otherwise what the stream below says.
    int connect(std::string_view host, int port) override;
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) override;
    void setAcceptData(bool accept) override;
    bool acceptData() const override;
    int close(int errorCode = 0) override;
    bool isOpen() const override { return below_.isOpen(); }
    bool isConnected() const override;

private:
    // StreamListener: the stream below.
    void streamConnected(int code) override;
    int streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) override;
    std::span<std::uint8_t> receiveRoom() override;
    int receivedInPlace(std::size_t count) override;
    std::size_t bytesAwaited() override;
    void streamReadyToSend() override;
    void streamClosed(int code, const std::string& description) override;

    // ProxyCredentials: the proxy side's HTTP authentication.
    AuthAnswer answer(int scheme, std::optional<std::string_view> challenge) override;

    bool onFirewallRoad() const { return passage_.road == ProxyRoad::firewall; }
    bool passingThrough() const;
    void startNegotiation();
    void carryOn(firewall::Progress progress);
    // Sends what waits for the proxy; false after a failure.
    bool flush();
    void failNegotiation(std::string text);
    void completeNegotiation(std::string rest);
    void deliverHeld();

    EngineContext& context_;
    ByteStream& below_;
    ProxySettings& settings_;
    HttpAuthenticator* proxyAuth_;
    UserAgent userAgent_;
    StreamListener* listener_ = nullptr;

    std::string scheme_ = "ws";
    bool secure_ = false;
    bool prepared_ = false;
    Passage passage_;
    std::string remoteHost_;
    int remotePort_ = 0;

    std::optional<firewall::Negotiator> negotiator_;
    bool negotiating_ = false;
    // The layer above was told the connection is up.
    bool up_ = false;
    // A close asked for from this side, until the socket reports it: one
    // this layer made after a failed negotiation is heard by nobody above,
    // and neither is the proxy said to have disconnected.
    enum class Closing { none, quietly, locally };
    Closing closing_ = Closing::none;
    // What the layer above wants of reception, kept while the negotiation
    // needs every byte.
    bool aboveAccepts_ = true;
    std::string outgoing_;
    // Bytes after the proxy's reply, while the layer above takes none.
    std::string held_;
};

}  // namespace morvane
