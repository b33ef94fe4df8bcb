// The WebSocket link to the Halvex Play relay service, through the window's
// control WSClient1: opened and signed in by the connection timer, one text
// message per shot out, the relay's messages in.
//
// Endpoint: "WSS://" + host + ":5555", the host being the HalvexPlay_host
// setting (default relayDefaultHost, see bridge/app/settings.h); --relay-url
// replaces the whole URL.
//
// The certificate question (a server certificate the control does not trust)
// is a Yes/No/Cancel message box; only Yes accepts the certificate. Without a
// window nobody can be asked: the headless front end answers No, unless
// --answer (or TALTRIX_ANSWER) presets another answer.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/app/dialogs.h"
#include "bridge/links/link_shell.h"
#include "bridge/links/relay_message_joiner.h"
#include "bridge/links/websocket_control.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_receivers.h"

namespace taltrix::links {

inline constexpr std::string_view relayScheme = "WSS";
inline constexpr std::string_view relayPort = "5555";
inline constexpr std::string_view relayPasswordCommand = "/password simHoldaVK731";
inline constexpr std::string_view relayConnectPrefix = "/connect SIM-";

inline constexpr std::string_view relayInitializeText = "Initialize HalvexPlay connection.";
inline constexpr std::string_view relayEstablishedText = "HalvexPlay connection established.";
inline constexpr std::string_view relayNotEstablishedText = "HalvexPlay connection could not be established.";
inline constexpr std::string_view relayNotConnectedText = "Not Connected to HalvexPlay";
inline constexpr std::string_view relayWrongStateText =
    "Timer_check_Connection: Wrong WebSocket state: Closed  GoTo fn_connect_to_websocket.";
inline constexpr std::string_view certificateTitle = "Server Certificate Verification Failure";
inline constexpr std::string_view relayTooLongText = "HalvexPlay message longer than 65536 characters discarded.";
inline constexpr std::string_view controlUnavailablePrefix = "WSClient1 is not available: ";

// The relay URL for a host: scheme, "://", host, ":" and port.
std::string relayUrl(std::string_view host);

// The certificate question's text.
std::string certificateQuestion(const ServerCertificate& certificate);

// What the link reads of the settings, each time it needs it.
struct RelaySettings {
    std::function<bool()> relayMode;   // Sim_software is HalvexPlay
    std::function<std::string()> key;  // HalvexPlay_key
    std::function<std::string()> url;  // the endpoint
};

class RelayLink final : public SimulatorOutlet {
public:
    RelayLink(LinkShell& shell, app::Dialogs& dialogs, RelayReceiver& receiver, RelaySettings settings);
    ~RelayLink() override;
    RelayLink(const RelayLink&) = delete;
    RelayLink& operator=(const RelayLink&) = delete;

    // WSClient1, created at window load; its events are handled from now on.
    void attachControl(std::unique_ptr<WebSocketControl> control);
    // The control could not be created: every connect attempt in relay mode
    // says why instead.
    void controlUnavailable(std::string reason);

    void fn_connect_to_websocket();
    // The connection timer's check in relay mode.
    void checkConnection();
    // Terminate path and query-unload.
    void shutdown();

    // Routing sends a shot while the control reports itself connected.
    bool isUp() const override;
    void send(std::string_view message) override;
    std::optional<bool> lastSendDelivered() const override { return lastSendDelivered_; }

private:
    void connectedEvent(int statusCode, std::string_view description);
    void dataInEvent(std::string_view text, bool eom);
    void disconnectedEvent();
    void errorEvent(int errorCode, std::string_view description);
    void certificateEvent(const ServerCertificate& certificate, bool& accept);
    bool signIn();
    void disconnect();

    LinkShell& shell_;
    app::Dialogs& dialogs_;
    RelayReceiver& receiver_;
    RelaySettings settings_;
    std::unique_ptr<WebSocketControl> control_;
    std::string unavailable_;
    RelayMessageJoiner joiner_;
    // Whole messages waiting for the outermost DataIn handler, so that
    // messages completed inside a nested handler keep their order.
    std::deque<std::string> received_;
    bool delivering_ = false;
    // Connect is running: a timer tick inside its wait does not connect again.
    bool connecting_ = false;
    bool closing_ = false;
    bool lastSendDelivered_ = false;
};

}  // namespace taltrix::links
