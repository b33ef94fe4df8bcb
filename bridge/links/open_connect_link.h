// The TCP link to an Open Connect simulator (the Open Connect API v1, JSON
// over TCP): opened by the connection timer, one JSON object per shot out,
// heartbeats with the launch monitor's readiness at connect, on every change
// of it and every 10 s, and the simulator's replies in.
//
// The simulator takes one client at a time, and some must be reset by hand
// after an abrupt drop: the link never reconnects a working connection, and
// closes cleanly on shutdown and when the user picks another simulator.
#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/links/link_shell.h"
#include "bridge/links/winsock_client.h"
#include "bridge/shot/open_connect_receiver.h"
#include "bridge/shot/ports.h"

namespace taltrix::links {

inline constexpr int openConnectHeartbeatInterval = 10000;
// How long a clean close waits for the simulator to close its side.
inline constexpr int openConnectCloseWait = 1000;

inline constexpr std::string_view openConnectConnectedText = "Open Connect connected";
inline constexpr std::string_view openConnectNotConnectedText = "Open Connect not connected";
inline constexpr std::string_view openConnectDataSentText = "ES16 data sent to Open Connect ";
inline constexpr std::string_view openConnectUnableTip = "Unable to connect to Open Connect";

// Where the simulator listens: the OpenConnect_host and OpenConnect_port
// settings (defaults in bridge/app/settings.h).
struct OpenConnectEndpoint {
    std::string host;
    std::int32_t port = 0;
};

class OpenConnectLink final : public ShotOutlet {
public:
    // `endpoint` is asked at every connect, so that a changed setting counts
    // from the next one; `monitorReady` tells whether the launch monitor is
    // connected.
    OpenConnectLink(LinkShell& shell, OpenConnectReceiver& receiver, std::function<OpenConnectEndpoint()> endpoint,
                    std::function<bool()> monitorReady);
    OpenConnectLink(const OpenConnectLink&) = delete;
    OpenConnectLink& operator=(const OpenConnectLink&) = delete;

    void fn_connect_to_OpenConnect();
    // The connection timer in Open Connect mode: connects when down.
    void checkConnection();
    // The launch monitor came or went: the simulator hears of it when it
    // was last told otherwise.
    void readinessChanged();
    // Shutdown, and another simulator chosen: closed without a reset.
    void closeCleanly();

    // Routing sends a shot while the socket is connected.
    bool isUp() const override { return sock_.State() == sckConnected; }
    void sendShot(const ShotRecord& shot, const PreciseShot& precise) override;
    std::string_view lastMessage() const override { return lastMessage_; }
    std::optional<std::int32_t> lastShotNumber() const override { return lastShotNumber_; }
    std::optional<bool> lastSendDelivered() const override { return lastDelivered_; }

    int state() const { return sock_.State(); }
    std::int32_t shotNumber() const { return shotNumber_; }
    // The last number sent by an earlier run, as the history kept it: this
    // run numbers its shots above it. Counts only before the first shot.
    void resumeNumbering(std::optional<std::int64_t> lastSent);
    // Tests use this to see the periodic heartbeat without waiting 10 s.
    void setHeartbeatInterval(int ms) { heartbeat_.setInterval(ms); }

private:
    void connected();
    void dataArrival();
    void closed();
    void sendHeartbeat();
    bool write(const std::string& message);
    bool monitorReady() const { return monitorReady_ && monitorReady_(); }

    LinkShell& shell_;
    OpenConnectReceiver& receiver_;
    std::function<OpenConnectEndpoint()> endpoint_;
    std::function<bool()> monitorReady_;
    WinsockClient sock_;
    QTimer heartbeat_;
    // The number of the last shot sent; it goes on rising across connections
    // and, through the history, across runs.
    std::int32_t shotNumber_ = 0;
    std::optional<std::int32_t> lastShotNumber_;
    // The readiness the simulator was last told on this connection.
    std::optional<bool> toldReady_;
    std::string lastMessage_;
    std::optional<bool> lastDelivered_;
    bool closing_ = false;
};

}  // namespace taltrix::links
