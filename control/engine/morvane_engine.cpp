#include "control/engine/morvane_engine.h"

namespace morvane {

MorvaneEngine::MorvaneEngine(const EngineEnvironment& environment)
    : context_(environment),
      auth_(environment),
      socket_(context_, proxy_),
      http_(context_, socket_, proxy_),
      webSocket_(context_, http_, [this] { return socket_.linger(); }) {
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
