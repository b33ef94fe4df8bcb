#include "control/transport/firewall_layer.h"

#include <utility>

#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"
#include "control/transport/name_resolution.h"

namespace morvane {
namespace {

constexpr std::string_view connectionCompleteText = "Firewall connection complete.";
constexpr std::string_view connectionFailedText = "Firewall connection failed.";
constexpr std::string_view hostDisconnectedText = "Firewall host disconnected.";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

FirewallLayer::FirewallLayer(EngineContext& context, ByteStream& below, ProxySettings& settings,
                             HttpAuthenticator* proxyAuth, UserAgent userAgent)
    : context_(context), below_(below), settings_(settings), proxyAuth_(proxyAuth), userAgent_(std::move(userAgent)) {
    below_.setListener(this);
}

FirewallLayer::~FirewallLayer() { below_.setListener(nullptr); }

void FirewallLayer::setScheme(std::string_view scheme, bool secure) {
    scheme_ = scheme;
    secure_ = secure;
}

const Passage& FirewallLayer::prepare(std::string_view host, int port) {
    const bool detect = settings_.firewallAutoDetect || settings_.proxyAutoDetect;
    SystemProxy system;
    if (detect) system = settings_.systemProxy();
    if (settings_.proxyAutoDetect) settings_.applySystemHttpProxy(system, scheme_, secure_);
    passage_ = planPassage(settings_, {scheme_, secure_, host, port}, detect ? &system : nullptr);
    settings_.passage = passage_;
    remoteHost_ = host;
    remotePort_ = port;
    prepared_ = true;
    return passage_;
}

int FirewallLayer::connect(std::string_view host, int port) {
    if (below_.isOpen()) return below_.connect(host, port);
    if (!prepared_) prepare(host, port);
    prepared_ = false;
    if (passage_.code != 0) return context_.fail(passage_.code, passage_.text);
    negotiator_.reset();
    negotiating_ = false;
    up_ = false;
    closing_ = Closing::none;
    outgoing_.clear();
    held_.clear();
    if (onFirewallRoad() && proxyAuth_) proxyAuth_->reset();
    // The socket finds the road's endpoint in the settings; the remote
    // endpoint stays what the connection is for.
    return below_.connect(remoteHost_, remotePort_);
}

bool FirewallLayer::isConnected() const {
    if (!onFirewallRoad()) return below_.isConnected();
    return up_ && below_.isConnected();
}

int FirewallLayer::send(std::span<const std::uint8_t> data, std::size_t* accepted) {
    if (onFirewallRoad() && !up_) {
        if (accepted) *accepted = 0;
        return context_.failSocket(errc::socketNotConnected);
    }
    return below_.send(data, accepted);
}

void FirewallLayer::setAcceptData(bool accept) {
    aboveAccepts_ = accept;
    // The negotiation reads the proxy's reply whatever the layers above want.
    if (negotiating_) return;
    below_.setAcceptData(accept);
    if (accept) deliverHeld();
}

bool FirewallLayer::acceptData() const { return negotiating_ ? aboveAccepts_ : below_.acceptData(); }

int FirewallLayer::close(int errorCode) {
    held_.clear();
    // The socket may finish the close later (a read handler is running); the
    // end it then reports is this one.
    if (negotiating_) {
        // The layer above gave up on a connection it was never told of.
        negotiating_ = false;
        negotiator_.reset();
        closing_ = Closing::quietly;
    } else if (closing_ == Closing::none) {
        closing_ = Closing::locally;
    }
    return below_.close(errorCode);
}

void FirewallLayer::streamConnected(int code) {
    if (!onFirewallRoad()) {
        if (listener_) listener_->streamConnected(code);
        return;
    }
    if (code != 0) {
        negotiating_ = false;
        context_.raiseConnectionStatus(connectionFailedText, code);
        if (listener_) listener_->streamConnected(code);
        return;
    }
    negotiating_ = true;
    context_.raiseConnectionStatus(connectionCompleteText, 0);
    // The proxy's reply is read whatever the layers above want of reception.
    below_.setAcceptData(true);
    startNegotiation();
}

void FirewallLayer::startNegotiation() {
    firewall::Target target;
    target.kind = passage_.kind;
    target.host = remoteHost_;
    target.port = remotePort_;
    target.user = passage_.user;
    target.password = passage_.password;
    target.proxyResolvesNames = passage_.proxyResolvesNames;
    if (userAgent_) target.userAgent = userAgent_();
    const bool socks = target.kind == firewall_kind::socks4 || target.kind == firewall_kind::socks5;
    const bool byName =
        passage_.proxyResolvesNames || (target.kind == firewall_kind::socks5 && remoteHost_.starts_with('*'));
    if (socks && !byName) {
        // SOCKS 4 and SOCKS 5 by address carry the remote host's IPv4
        // address, so the name is resolved here.
        HostAddress address;
        const int code = resolveHost(remoteHost_, {IPv6Mode::Off, true}, address);
        if (code != 0 || address.ipv4 == 0) {
            failNegotiation(code != 0 ? socketErrorDescription(code) : "The RemoteHost address is invalid (0.0.0.0).");
            return;
        }
        target.ipv4 = address.ipv4;
    }
    negotiator_.emplace(std::move(target), static_cast<firewall::ProxyCredentials*>(this));
    carryOn(negotiator_->start());
}

void FirewallLayer::carryOn(firewall::Progress progress) {
    outgoing_ += progress.send;
    if (!flush()) return;
    switch (progress.state) {
        case firewall::Progress::State::negotiating: return;
        case firewall::Progress::State::failed: failNegotiation(std::move(progress.text)); return;
        case firewall::Progress::State::complete: completeNegotiation(std::move(progress.rest)); return;
    }
}

bool FirewallLayer::flush() {
    while (!outgoing_.empty()) {
        std::size_t accepted = 0;
        const int code = below_.send(bytesOf(outgoing_), &accepted);
        outgoing_.erase(0, accepted);
        if (code == 0) continue;
        // The rest goes when the socket can take it again.
        if (code == errc::wouldBlock) return true;
        failNegotiation(context_.lastErrorText().empty() ? socketErrorDescription(code) : context_.lastErrorText());
        return false;
    }
    return true;
}

void FirewallLayer::failNegotiation(std::string text) {
    negotiating_ = false;
    negotiator_.reset();
    outgoing_.clear();
    context_.fail(firewall::kFailureCode, text);
    context_.raiseError(firewall::kFailureCode, text);
    closing_ = Closing::quietly;
    below_.close(0);
    // The close may have run an event handler that wrote its own error.
    context_.fail(firewall::kFailureCode, text);
    if (listener_) listener_->streamConnected(firewall::kFailureCode);
}

void FirewallLayer::completeNegotiation(std::string rest) {
    negotiating_ = false;
    negotiator_.reset();
    up_ = true;
    held_ = std::move(rest);
    below_.setAcceptData(aboveAccepts_);
    if (listener_) listener_->streamConnected(0);
    // What the server sent right behind the proxy's reply is the first data
    // of the connection.
    if (aboveAccepts_ && below_.isOpen()) deliverHeld();
}

void FirewallLayer::deliverHeld() {
    if (held_.empty() || !up_ || !listener_) return;
    const std::string bytes = std::move(held_);
    held_.clear();
    if (listener_->streamReceived(bytesOf(bytes), false) == errc::outOfMemory) below_.close(errc::outOfMemory);
}

int FirewallLayer::streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) {
    if (!onFirewallRoad()) return listener_ ? listener_->streamReceived(bytes, endOfLine) : 0;
    if (negotiating_ && negotiator_) {
        carryOn(negotiator_->feed({reinterpret_cast<const char*>(bytes.data()), bytes.size()}));
        return 0;
    }
    // After a failed negotiation nothing more is read.
    if (!up_ || !listener_) return 0;
    return listener_->streamReceived(bytes, endOfLine);
}

// Once the tunnel is up (or when there is none) received bytes are the
// layer above's, and so is the room they are received into.
bool FirewallLayer::passingThrough() const { return !onFirewallRoad() || (up_ && !(negotiating_ && negotiator_)); }
std::span<std::uint8_t> FirewallLayer::receiveRoom() { return roomAbove(listener_, passingThrough()); }
int FirewallLayer::receivedInPlace(std::size_t count) { return receivedInPlaceAbove(listener_, count); }
std::size_t FirewallLayer::bytesAwaited() { return awaitedAbove(listener_, passingThrough()); }

void FirewallLayer::streamReadyToSend() {
    if (onFirewallRoad() && negotiating_) {
        flush();
        return;
    }
    if (listener_) listener_->streamReadyToSend();
}

void FirewallLayer::streamClosed(int code, const std::string& description) {
    if (!onFirewallRoad()) {
        if (listener_) listener_->streamClosed(code, description);
        return;
    }
    const Closing closing = std::exchange(closing_, Closing::none);
    if (closing == Closing::quietly) return;
    if (closing == Closing::none) context_.raiseConnectionStatus(hostDisconnectedText, code);
    const bool wasNegotiating = negotiating_;
    const bool wasUp = up_;
    negotiating_ = false;
    negotiator_.reset();
    up_ = false;
    held_.clear();
    outgoing_.clear();
    if (wasNegotiating) {
        // The proxy went away before the passage stood.
        context_.fail(firewall::kFailureCode, hostDisconnectedText);
        context_.raiseError(firewall::kFailureCode, hostDisconnectedText);
        if (listener_) listener_->streamConnected(firewall::kFailureCode);
        return;
    }
    if (wasUp && listener_) listener_->streamClosed(code, description);
}

AuthAnswer FirewallLayer::answer(int scheme, std::optional<std::string_view> challenge) {
    if (proxyAuth_ == nullptr) return {firewall::kFailureCode, "Firewall error. No credentials for the proxy.", {}};
    if (challenge) proxyAuth_->takeChallenge(scheme, *challenge);
    const std::string uri = firewall::Negotiator::connectAuthority(remoteHost_, remotePort_);
    return proxyAuth_->build({.scheme = scheme,
                              .user = passage_.user,
                              .password = passage_.password,
                              .host = passage_.host,
                              .method = "CONNECT",
                              .uri = uri,
                              .tunnel = true});
}

}  // namespace morvane
