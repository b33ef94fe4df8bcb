#include "bridge/links/open_connect_link.h"

#include <chrono>

#include "bridge/shot/open_connect_message.h"

namespace taltrix::links {

namespace {

// How a failed send is reported, as the TGC link reports its own.
constexpr std::string_view sendErrorPrefix = "Error : ";

std::int64_t unixSecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

OpenConnectLink::OpenConnectLink(LinkShell& shell, OpenConnectReceiver& receiver,
                                 std::function<OpenConnectEndpoint()> endpoint, std::function<bool()> monitorReady)
    : shell_(shell), receiver_(receiver), endpoint_(std::move(endpoint)), monitorReady_(std::move(monitorReady)) {
    resumeNumbering(std::nullopt);
    heartbeat_.setObjectName(QStringLiteral("Timer_OpenConnect_heartbeat"));
    heartbeat_.setInterval(openConnectHeartbeatInterval);
    QObject::connect(&heartbeat_, &QTimer::timeout, [this] { sendHeartbeat(); });
    sock_.onConnect = [this] { connected(); };
    sock_.onDataArrival = [this](std::int64_t) { dataArrival(); };
    sock_.onClose = [this] { closed(); };
    // Refused or lost: the next timer tick simply tries again.
    sock_.onError = [this](const WinsockError&) { closed(); };
}

void OpenConnectLink::fn_connect_to_OpenConnect() {
    sock_.Close();
    heartbeat_.stop();
    // A half reply from the previous connection is never completed.
    receiver_.reset();
    toldReady_.reset();
    const OpenConnectEndpoint endpoint = endpoint_();
    sock_.RemoteHost = endpoint.host;
    sock_.RemotePort = endpoint.port;
    sock_.Connect();
    const int stateNow = sock_.State();
    const bool open = stateNow == sckConnecting || stateNow == sckConnected;
    shell_.replaceTrayIcon(app::WindowIcon::ico2, open ? "Connected" : openConnectUnableTip);
}

void OpenConnectLink::checkConnection() {
    // A connection that works is left alone: the simulator takes one client.
    const int stateNow = sock_.State();
    if (stateNow != sckConnecting && stateNow != sckConnected) fn_connect_to_OpenConnect();
}

void OpenConnectLink::readinessChanged() {
    if (!isUp() || toldReady_ == monitorReady()) return;
    sendHeartbeat();
}

void OpenConnectLink::closeCleanly() {
    heartbeat_.stop();
    closing_ = true;
    sock_.CloseGracefully(openConnectCloseWait);
    closing_ = false;
    toldReady_.reset();
}

void OpenConnectLink::resumeNumbering(std::optional<std::int64_t> lastSent) {
    if (lastShotNumber_) return;
    shotNumber_ = firstShotNumber(lastSent, unixSecondsNow()) - 1;
}

void OpenConnectLink::sendShot(const ShotRecord& shot, const PreciseShot& precise) {
    shotNumber_ = nextShotNumber(shotNumber_);
    lastShotNumber_ = shotNumber_;
    lastMessage_ = openConnectShot(shot, precise, shotNumber_);
    lastDelivered_ = write(lastMessage_);
    if (*lastDelivered_) shell_.showStatus(openConnectDataSentText);
}

void OpenConnectLink::connected() {
    shell_.showStatus(openConnectConnectedText);
    sendHeartbeat();
    heartbeat_.start();
}

void OpenConnectLink::dataArrival() {
    const std::string text = sock_.GetData();
    // What arrives while we close is read only to be dropped.
    if (closing_ || text.empty()) return;
    receiver_.receive(text);
}

void OpenConnectLink::closed() {
    heartbeat_.stop();
    const bool wasConnected = toldReady_.has_value();
    toldReady_.reset();
    sock_.Close();
    if (wasConnected) shell_.showStatus(openConnectNotConnectedText);
}

void OpenConnectLink::sendHeartbeat() {
    if (!isUp()) return;
    const bool ready = monitorReady();
    if (write(openConnectHeartbeat(shotNumber_, ready))) toldReady_ = ready;
}

bool OpenConnectLink::write(const std::string& message) {
    WinsockError error;
    if (sock_.SendData(message, error)) return true;
    shell_.showStatus(std::string(sendErrorPrefix) + error.description);
    closed();
    return false;
}

}  // namespace taltrix::links
