#include "control/engine/morvane_engine.h"

#include "control/engine/engine_errors.h"
#include "platform/security/auth_tokens.h"

namespace morvane {

MorvaneEngine::MorvaneEngine(const EngineEnvironment& environment)
    : context_(environment),
      auth_(environment),
      socket_(context_, proxy_),
      proxyAuth_(context_, auth_, "Proxy-Authorization", errc::proxyProtocol),
      firewall_(context_, socket_, proxy_, &proxyAuth_, [this] { return http_.userAgent(); }),
      channel_(context_, firewall_, tls_, [this] { return socket_.linger(); }),
      serverAuth_(context_, auth_, "Authorization", errc::httpProtocol),
      http_(context_, channel_, proxy_),
      webSocket_(context_, http_, [this] { return socket_.linger(); }) {
    // The secure channel runs for the secure scheme; the socket's own traffic
    // log would only show its records, so the channel logs what they carry.
    // The road is chosen before the connection starts: an HTTP proxy road
    // decides for itself whether TLS runs (with the proxy).
    http_.setChannelSwitch([this](bool secure) {
        firewall_.setScheme(http_.scheme(), secure);
        const bool channel = firewall_.prepare(http_.host(), http_.port()).secureChannel;
        channel_.setEnabled(channel);
        socket_.setLogsTraffic(!channel);
        return true;
    });
    http_.setAuthenticator(
        &serverAuth_, [this] { return platform::security::tlsServerEndPointBinding(channel_.serverCertificate()); });
    http_.setProxyAuthenticator(&proxyAuth_);
    context_.addSettingsTable(SettingsRank::Proxy, proxy_);
    context_.addSettingsTable(SettingsRank::SecureChannel, tls_);
    context_.addSettingsTable(SettingsRank::Authentication, auth_);
}

MorvaneEngine::~MorvaneEngine() {
    context_.removeSettings(&proxy_);
    context_.removeSettings(&tls_);
    context_.removeSettings(&auth_);
}

}  // namespace morvane
