#include "bridge/links/relay_link.h"

namespace taltrix::links {

namespace {

constexpr std::string_view connectedPrefix = "Connected: ";
constexpr std::string_view connectionFailedPrefix = "Connection Failed [";
constexpr std::string_view errorEventPrefix = "WSClient Error ";
// How a failed send is reported, as the other links report theirs.
constexpr std::string_view sendErrorPrefix = "Error : ";

}  // namespace

std::string relayUrl(std::string_view host) {
    return std::string(relayScheme) + "://" + std::string(host) + ":" + std::string(relayPort);
}

std::string certificateQuestion(const ServerCertificate& certificate) {
    return "Server provided the following certificate:\r\n\r\n    Issuer: " + certificate.issuer +
           "\r\n    Subject: " + certificate.subject +
           "\r\n\r\nThe following problems have been determined for this certificate: " + certificate.status +
           "\r\n\r\nWould you like to continue or cancel the connection?";
}

RelayLink::RelayLink(LinkShell& shell, app::Dialogs& dialogs, RelayReceiver& receiver, RelaySettings settings)
    : shell_(shell), dialogs_(dialogs), receiver_(receiver), settings_(std::move(settings)) {}

RelayLink::~RelayLink() {
    // Events the control fires while it goes must not reach a link half gone.
    if (control_) {
        control_->onConnected = nullptr;
        control_->onDataIn = nullptr;
        control_->onDisconnected = nullptr;
        control_->onError = nullptr;
        control_->onSSLServerAuthentication = nullptr;
    }
}

void RelayLink::attachControl(std::unique_ptr<WebSocketControl> control) {
    control_ = std::move(control);
    if (!control_) return;
    unavailable_.clear();
    control_->onConnected = [this](int code, std::string_view description) { connectedEvent(code, description); };
    control_->onDataIn = [this](int, std::string_view text, bool eom) { dataInEvent(text, eom); };
    control_->onDisconnected = [this](int, std::string_view) { disconnectedEvent(); };
    control_->onError = [this](int code, std::string_view description) { errorEvent(code, description); };
    control_->onSSLServerAuthentication = [this](const ServerCertificate& certificate, bool& accept) {
        certificateEvent(certificate, accept);
    };
}

void RelayLink::controlUnavailable(std::string reason) {
    control_.reset();
    unavailable_ = std::string(controlUnavailablePrefix) + reason;
}

void RelayLink::fn_connect_to_websocket() {
    if (!settings_.relayMode()) return;
    // A tick that comes while Connect waits finds it busy; the control would
    // refuse a second Connect anyway.
    if (connecting_ || closing_) return;
    if (!control_) {
        shell_.showStatus(unavailable_);
        return;
    }
    // A half message of the previous connection is never completed.
    joiner_.reset();

    ControlError error;
    connecting_ = true;
    const bool called = control_->Connect(settings_.url(), error);
    connecting_ = false;
    if (closing_) {
        // The bridge began to end while Connect waited.
        disconnect();
        return;
    }
    if (!called) {
        // Unreachable relay, refused handshake, declined certificate: the
        // next tick tries again.
        shell_.showStatus(relayNotEstablishedText);
        return;
    }
    shell_.showStatus(relayInitializeText);
    shell_.letEventsRun();
    if (!control_->Connected()) {
        shell_.showStatus(relayNotEstablishedText);
        return;
    }
    if (signIn()) shell_.showStatus(relayEstablishedText);
}

bool RelayLink::signIn() {
    // Nothing is waited for: the relay's answers arrive as DataIn.
    const std::string connectCommand = std::string(relayConnectPrefix) + settings_.key();
    for (const std::string_view command : {relayPasswordCommand, std::string_view(connectCommand)}) {
        ControlError error;
        if (!control_->setDataToSend(command, error)) {
            shell_.showStatus(std::string(sendErrorPrefix) + error.description);
            return false;
        }
    }
    return true;
}

void RelayLink::checkConnection() {
    if (control_ && control_->Connected()) return;
    shell_.showStatus(relayWrongStateText);
    fn_connect_to_websocket();
}

void RelayLink::shutdown() {
    closing_ = true;
    if (!control_) return;
    if (connecting_) {
        // Connect returns at once instead of at its timeout; the connection,
        // if it opened meanwhile, is closed when it has returned.
        control_->Interrupt();
        return;
    }
    disconnect();
}

void RelayLink::disconnect() {
    if (!control_ || !control_->Connected()) return;
    ControlError ignored;
    control_->setConnected(false, ignored);
}

bool RelayLink::isUp() const { return control_ && control_->Connected(); }

void RelayLink::send(std::string_view message) {
    ControlError error;
    lastSendDelivered_ = control_->setDataToSend(message, error);
    if (!lastSendDelivered_) shell_.showStatus(std::string(sendErrorPrefix) + error.description);
}

void RelayLink::connectedEvent(int statusCode, std::string_view description) {
    if (statusCode == 0) {
        shell_.showStatus(std::string(connectedPrefix) + std::string(description));
    } else {
        shell_.showStatus(std::string(connectionFailedPrefix) + std::to_string(statusCode) +
                          "]: " + std::string(description));
    }
}

void RelayLink::dataInEvent(std::string_view text, bool eom) {
    switch (joiner_.add(text, eom)) {
        case RelayMessageJoiner::Outcome::whole: received_.push_back(joiner_.takeMessage()); break;
        case RelayMessageJoiner::Outcome::tooLong: shell_.showStatus(relayTooLongText); break;
        case RelayMessageJoiner::Outcome::partial:
        case RelayMessageJoiner::Outcome::skipped: break;
    }
    if (delivering_) return;
    delivering_ = true;
    shell_.letEventsRun();
    while (!received_.empty()) {
        const std::string message = std::move(received_.front());
        received_.pop_front();
        receiver_.receive(message);
    }
    delivering_ = false;
}

void RelayLink::disconnectedEvent() {
    shell_.showStatus(relayNotConnectedText);
    joiner_.reset();
    ControlError ignored;
    control_->setConnected(false, ignored);
}

void RelayLink::errorEvent(int errorCode, std::string_view description) {
    shell_.showStatus(std::string(errorEventPrefix) + std::to_string(errorCode) + ": " + std::string(description));
}

void RelayLink::certificateEvent(const ServerCertificate& certificate, bool& accept) {
    if (accept) return;
    const app::BoxAnswer answer = dialogs_.messageBox(certificateQuestion(certificate), certificateTitle,
                                                      app::BoxButtons::yesNoCancel, app::BoxIcon::question);
    accept = answer == app::BoxAnswer::yes;
}

}  // namespace taltrix::links
