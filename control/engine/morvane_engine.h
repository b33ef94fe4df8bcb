// One control's engine: the transport stack and the settings beside it.
//
// The layers are composed bottom-up, each borrowing the one below it:
//   SocketEngine   (TCP; the event pump of every wait step)
//   FirewallLayer  (the connection's road: a firewall or proxy tunnel is
//                   negotiated here, so TLS runs end to end through it)
//   TlsChannel     (on for the secure scheme, a pass-through otherwise)
//   HttpLayer      (the opening handshake's GET transaction)
//   WebSocketLayer (framing, messages, the close handshake)
// The settings of features
// that belong to no single layer (proxy, TLS, authentication) live beside the
// stack, and the context routes Config to every table from the top down.
#pragma once

#include <string>
#include <string_view>

#include "control/engine/engine_context.h"
#include "control/tls/tls_channel.h"
#include "control/tls/tls_settings.h"
#include "control/transport/auth_settings.h"
#include "control/transport/firewall_layer.h"
#include "control/transport/http_authenticator.h"
#include "control/transport/proxy_settings.h"
#include "control/transport/socket_engine.h"
#include "control/websocket/http_layer.h"
#include "control/websocket/websocket_layer.h"

namespace morvane {

class MorvaneEngine {
public:
    explicit MorvaneEngine(const EngineEnvironment& environment = {});
    ~MorvaneEngine();
    MorvaneEngine(const MorvaneEngine&) = delete;
    MorvaneEngine& operator=(const MorvaneEngine&) = delete;

    EngineContext& context() { return context_; }
    const EngineContext& context() const { return context_; }
    Waiter& waiter() { return context_.waiter(); }
    const Waiter& waiter() const { return context_.waiter(); }

    ProxySettings& proxy() { return proxy_; }
    const ProxySettings& proxy() const { return proxy_; }
    TlsSettings& tls() { return tls_; }
    const TlsSettings& tls() const { return tls_; }
    AuthSettings& auth() { return auth_; }
    const AuthSettings& auth() const { return auth_; }

    SocketEngine& socket() { return socket_; }
    const SocketEngine& socket() const { return socket_; }
    FirewallLayer& firewall() { return firewall_; }
    const FirewallLayer& firewall() const { return firewall_; }
    TlsChannel& secureChannel() { return channel_; }
    const TlsChannel& secureChannel() const { return channel_; }
    HttpLayer& http() { return http_; }
    const HttpLayer& http() const { return http_; }
    WebSocketLayer& webSocket() { return webSocket_; }
    const WebSocketLayer& webSocket() const { return webSocket_; }

    // The context's conveniences, as the control surface uses them.
    int config(std::string_view configurationString, std::string& result) {
        return context_.config(configurationString, result);
    }
    int lastErrorCode() const { return context_.lastErrorCode(); }
    const std::string& lastErrorText() const { return context_.lastErrorText(); }
    void clearLastError() { context_.clearLastError(); }
    void setEventSink(EngineEvents* sink) { context_.setEventSink(sink); }
    int effectiveCodePage() const { return context_.effectiveCodePage(); }

private:
    EngineContext context_;
    ProxySettings proxy_;
    TlsSettings tls_;
    AuthSettings auth_;
    SocketEngine socket_;
    // The proxy's side of HTTP authentication: the tunnels' CONNECT requests.
    HttpAuthenticator proxyAuth_;
    FirewallLayer firewall_;
    TlsChannel channel_;
    HttpAuthenticator serverAuth_;
    HttpLayer http_;
    WebSocketLayer webSocket_;
};

}  // namespace morvane
