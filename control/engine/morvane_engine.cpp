#include "control/engine/morvane_engine.h"

namespace morvane {

MorvaneEngine::MorvaneEngine(const EngineEnvironment& environment)
    : context_(environment),
      auth_(environment),
      socket_(context_, proxy_),
      channel_(context_, socket_, tls_, [this] { return socket_.linger(); }),
      http_(context_, channel_, proxy_),
      webSocket_(context_, http_, [this] { return socket_.linger(); }) {
    // The secure channel runs for the secure scheme; the socket's own traffic
    // log would only show its records, so the channel logs what they carry.
    http_.setChannelSwitch([this](bool secure) {
        channel_.setEnabled(secure);
        socket_.setLogsTraffic(!secure);
        return true;
    });
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
