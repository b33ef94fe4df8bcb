#include "bridge/links/tgc_link.h"

#include <charconv>

#include "bridge/shot/text_filters.h"

namespace taltrix::links {

TgcLink::TgcLink(LinkShell& shell, SimulatorState& state, TcpReceiver& receiver)
    : shell_(shell), state_(state), receiver_(receiver) {
    sock1_.onDataArrival = [this](std::int64_t) { dataArrival(); };
    sock1_.onClose = [this] { closed(); };
    sock1_.onError = [this](const WinsockError&) {
        // The details are not shown: the next timer tick simply tries again.
        state_.tgcConnected = false;
        closed();
    };
}

void TgcLink::setEndpoint(std::string host, std::int32_t port) {
    host_ = std::move(host);
    port_ = port;
}

void TgcLink::fn_connect_to_TGC() {
    sock1_.Close();
    // A half message from the previous connection is never completed.
    receiver_.reset();
    sock1_.RemoteHost = host_;
    sock1_.RemotePort = port_;
    sock1_.Connect();
    const int stateNow = sock1_.State();
    tgcSocketOpen_ = stateNow == sckConnecting || stateNow == sckConnected;
    shell_.replaceTrayIcon(app::WindowIcon::ico2, tgcSocketOpen_ ? "Connected" : "Unable to connect to TGC");
}

void TgcLink::fnSend(std::string_view str_to_send) {
    lastSendDelivered_ = false;
    if (!state_.tgcConnected) return;
    const std::string line = filterPrintable(str_to_send) + "\r\n";
    WinsockError error;
    lastSendDelivered_ = sock1_.SendData(line, error);
    if (!lastSendDelivered_) {
        shell_.showStatus("Error : " + error.description);
        closed();
        return;
    }
    shell_.showStatus(tgcDataSentText);
}

void TgcLink::dataArrival() {
    shell_.letEventsRun();
    const std::string text = sock1_.GetData();
    if (!text.empty()) receiver_.receive(text);
}

void TgcLink::closed() {
    state_.tgcConnected = false;
    sock1_.Close();
}

bool parseTgcEndpoint(std::string_view text, std::string& host, std::int32_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view hostText = text.substr(0, colon);
    if (hostText.size() >= 2 && hostText.front() == '[' && hostText.back() == ']') {
        hostText = hostText.substr(1, hostText.size() - 2);
    }
    const std::string_view portText = text.substr(colon + 1);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value < 1 || value > 65535) return false;
    host = std::string(hostText);
    port = value;
    return true;
}

}  // namespace taltrix::links
