// The TCP link to TGC on this machine: opened by the connection timer and
// after every launch-monitor connection, one text line per shot out, TGC's
// info messages in.
#pragma once

#include <string>
#include <string_view>

#include "bridge/links/link_shell.h"
#include "bridge/links/winsock_client.h"
#include "bridge/shot/ports.h"
#include "bridge/shot/simulator_receivers.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix::links {

inline constexpr std::string_view defaultTgcHost = "127.0.0.1";
inline constexpr std::int32_t defaultTgcPort = 3344;
inline constexpr std::string_view tgcDataSentText = "ES16 data sent to TGC ";

class TgcLink final : public SimulatorOutlet {
public:
    TgcLink(LinkShell& shell, SimulatorState& state, TcpReceiver& receiver);

    void setEndpoint(std::string host, std::int32_t port);

    void fn_connect_to_TGC();
    void fnSend(std::string_view str_to_send);
    // Shutdown: the socket closed without any event.
    void close() { sock1_.Close(); }

    bool tgcSocketOpen() const { return tgcSocketOpen_; }
    void lowerSocketOpen() { tgcSocketOpen_ = false; }
    int state() const { return sock1_.State(); }

    // Routing sends a shot while the socket is connected.
    bool isUp() const override { return sock1_.State() == sckConnected; }
    // TGC takes shots once it has said so (status 203).
    bool isReady() const override { return state_.tgcConnected; }
    void send(std::string_view message) override { fnSend(message); }
    std::optional<bool> lastSendDelivered() const override { return lastSendDelivered_; }

private:
    void dataArrival();
    void closed();

    LinkShell& shell_;
    SimulatorState& state_;
    TcpReceiver& receiver_;
    WinsockClient sock1_;
    std::string host_{defaultTgcHost};
    std::int32_t port_ = defaultTgcPort;
    bool tgcSocketOpen_ = false;
    bool lastSendDelivered_ = false;
};

// "HOST:PORT" as --tgc gives it; false when malformed.
bool parseTgcEndpoint(std::string_view text, std::string& host, std::int32_t& port);

}  // namespace taltrix::links
