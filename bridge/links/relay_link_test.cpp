#include "bridge/links/relay_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bridge/app/test_support.h"
#include "bridge/shot/club_command.h"
#include "tests/support/link_fakes.h"
#include "tests/support/shot_fakes.h"

namespace taltrix::links {
namespace {

using app::BoxAnswer;

// WSClient1 with a script: every member call is recorded, and Connect does
// what the test says (by default the connection opens).
class ScriptedControl final : public WebSocketControl {
public:
    bool connected = false;
    bool failSends = false;
    std::vector<std::string> calls;
    std::function<bool(ControlError&)> whileConnecting;

    bool Connect(std::string_view url, ControlError& error) override {
        calls.push_back("Connect " + std::string(url));
        if (whileConnecting) return whileConnecting(error);
        connected = true;
        return true;
    }
    bool Connected() override { return connected; }
    bool setConnected(bool value, ControlError&) override {
        calls.push_back(value ? "Connected=True" : "Connected=False");
        connected = value;
        return true;
    }
    bool setDataToSend(std::string_view text, ControlError& error) override {
        if (failSends) {
            error = {0x800A4E21, "Socket is not connected."};
            return false;
        }
        calls.push_back("DataToSend " + std::string(text));
        return true;
    }
    void Interrupt() override { calls.emplace_back("Interrupt"); }
};

class Shell final : public testing::QuietShell {
public:
    std::function<void()> duringEvents;  // what runs when pending events are let run

    void letEventsRun() override {
        if (auto run = std::exchange(duringEvents, nullptr)) run();
    }
    std::string preselectedDevice() const override { return "ES16"; }

    std::size_t count(std::string_view text) const { return std::count(shown.begin(), shown.end(), text); }
};

class RelayLinkTest : public ::testing::Test {
protected:
    RelayLinkTest() {
        auto owned = std::make_unique<ScriptedControl>();
        control = owned.get();
        link.attachControl(std::move(owned));
    }

    void dataIn(std::string_view text, bool eom = true) { control->onDataIn(1, text, eom); }

    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    RelayReceiver receiver{state, status, clubCommand};
    Shell shell;
    app::testing::ScriptedDialogs dialogs;
    bool relayMode = true;
    std::string key = "K123";
    RelayLink link{
        shell, dialogs, receiver,
        RelaySettings{[this] { return relayMode; }, [this] { return key; }, [] { return relayUrl("relay.example"); }}};
    ScriptedControl* control = nullptr;
};

TEST_F(RelayLinkTest, SignsInAfterEveryConnectThatOpens) {
    key = "";
    link.fn_connect_to_websocket();
    EXPECT_EQ(control->calls,
              (std::vector<std::string>{"Connect WSS://relay.example:5555", "DataToSend /password simHoldaVK731",
                                        "DataToSend /connect SIM-"}));
    EXPECT_EQ(shell.shown,
              (std::vector<std::string>{"Initialize HalvexPlay connection.", "HalvexPlay connection established."}));
    EXPECT_TRUE(link.isUp());
    // Connected: the timer's check leaves it alone.
    link.checkConnection();
    EXPECT_EQ(control->calls.size(), 3u);
}

TEST_F(RelayLinkTest, AFailedConnectIsReportedAndSignsNothingIn) {
    control->whileConnecting = [](ControlError& error) {
        error = {0x800A7166, "Connection refused."};
        return false;
    };
    link.checkConnection();
    EXPECT_EQ(shell.shown, (std::vector<std::string>{std::string(relayWrongStateText),
                                                     "HalvexPlay connection could not be established."}));
    // Connect returned without error, but the connection is not open.
    control->whileConnecting = [](ControlError&) { return true; };
    shell.shown.clear();
    link.fn_connect_to_websocket();
    EXPECT_EQ(shell.shown, (std::vector<std::string>{"Initialize HalvexPlay connection.",
                                                     "HalvexPlay connection could not be established."}));
    EXPECT_EQ(std::count_if(control->calls.begin(), control->calls.end(),
                            [](const std::string& c) { return c.starts_with("DataToSend"); }),
              0);

    relayMode = false;
    control->calls.clear();
    link.fn_connect_to_websocket();
    EXPECT_TRUE(control->calls.empty());
}

TEST_F(RelayLinkTest, ATickInsideABlockingConnectDoesNotConnectAgain) {
    control->whileConnecting = [this](ControlError&) {
        link.checkConnection();  // the connection timer, running in Connect's wait
        control->connected = true;
        return true;
    };
    link.checkConnection();
    EXPECT_EQ(std::count(control->calls.begin(), control->calls.end(), "Connect WSS://relay.example:5555"), 1);
    EXPECT_EQ(shell.count(relayWrongStateText), 2u);
    EXPECT_EQ(shell.count(relayEstablishedText), 1u);
}

TEST_F(RelayLinkTest, EndingDuringAConnectInterruptsItAndClosesWhatOpened) {
    control->whileConnecting = [this](ControlError&) {
        link.shutdown();
        control->connected = true;  // the handshake finished all the same
        return true;
    };
    link.fn_connect_to_websocket();
    EXPECT_EQ(control->calls,
              (std::vector<std::string>{"Connect WSS://relay.example:5555", "Interrupt", "Connected=False"}));
    EXPECT_TRUE(shell.shown.empty());
    // Nothing connects any more.
    link.checkConnection();
    EXPECT_EQ(control->calls.size(), 3u);
}

TEST_F(RelayLinkTest, AFragmentedMessageIsInterpretedOnce) {
    const std::string message =
        "{\"protocol\":\"HXP\", \"DATA\":{\"status\":\"200\", \"gameName\":\"Hole 1\", \"playerClub\":\"I7\"}}";
    dataIn(message.substr(0, 20), false);
    dataIn(message.substr(20, 25), false);
    EXPECT_TRUE(device.written.empty());
    dataIn(message.substr(45), true);
    EXPECT_EQ(state.currentClub, "I7");
    EXPECT_EQ(state.gameName, "Hole 1");
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000"}));
    EXPECT_EQ(status.latest, "HalvexPlay data reveived.\r\n" + message);
    EXPECT_EQ(std::count(status.shown.begin(), status.shown.end(), std::string(relayInvalidDataText)), 0);
}

TEST_F(RelayLinkTest, MessagesCompletedInsideAHandlerKeepTheirOrder) {
    // While the first message's handler lets events run, the second arrives.
    shell.duringEvents = [this] { dataIn("{\"protocol\":\"HYInfo\", \"INFO\":{\"club\":\"I7\"}}"); };
    dataIn("{\"protocol\":\"HYInfo\", \"INFO\":{\"club\":\"DR\"}}");
    EXPECT_EQ(state.currentClub, "I7");
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUBDrvLOFT000", "CLUB7IrLOFT000"}));
}

TEST_F(RelayLinkTest, ATooLongMessageIsReportedAndNotInterpreted) {
    dataIn(std::string(RelayMessageJoiner::maxMessageLength + 1, '{'), false);
    dataIn("}", true);
    EXPECT_EQ(shell.count(relayTooLongText), 1u);
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(status.shown.empty());
}

TEST_F(RelayLinkTest, EventsShowTheirTexts) {
    link.fn_connect_to_websocket();
    shell.shown.clear();
    control->onConnected(0, "OK");
    control->onConnected(1006, "Gone");
    control->onError(4003, "Invalid handshake packet.");
    control->onDisconnected(1000, "");
    EXPECT_EQ(shell.shown, (std::vector<std::string>{"Connected: OK", "Connection Failed [1006]: Gone",
                                                     "WSClient Error 4003: Invalid handshake packet.",
                                                     "Not Connected to HalvexPlay"}));
    EXPECT_EQ(control->calls.back(), "Connected=False");
    EXPECT_FALSE(link.isUp());
}

TEST_F(RelayLinkTest, OnlyYesAcceptsACertificateTheControlDoesNotTrust) {
    const ServerCertificate certificate{"MIIB", "CN=relay", "CN=Some CA", "unknown issuer"};
    bool accept = true;
    control->onSSLServerAuthentication(certificate, accept);
    EXPECT_TRUE(accept);
    EXPECT_TRUE(dialogs.boxes.empty());

    for (const auto& [answer, accepted] :
         {std::pair{BoxAnswer::yes, true}, std::pair{BoxAnswer::no, false}, std::pair{BoxAnswer::cancel, false}}) {
        dialogs.answers.push_back(answer);
        accept = false;
        control->onSSLServerAuthentication(certificate, accept);
        EXPECT_EQ(accept, accepted);
    }
    ASSERT_EQ(dialogs.boxes.size(), 3u);
    EXPECT_EQ(dialogs.boxes[0].title, "Server Certificate Verification Failure");
    EXPECT_EQ(dialogs.boxes[0].buttons, app::BoxButtons::yesNoCancel);
    EXPECT_EQ(dialogs.boxes[0].text,
              "Server provided the following certificate:\r\n\r\n    Issuer: CN=Some CA\r\n    Subject: CN=relay"
              "\r\n\r\nThe following problems have been determined for this certificate: unknown issuer"
              "\r\n\r\nWould you like to continue or cancel the connection?");
}

TEST_F(RelayLinkTest, ShotsGoOutWhileConnectedAndFailedSendsAreReported) {
    EXPECT_FALSE(link.isUp());
    link.fn_connect_to_websocket();
    ASSERT_TRUE(link.isUp());
    link.send("/launch {}");
    EXPECT_EQ(control->calls.back(), "DataToSend /launch {}");
    control->failSends = true;
    link.send("/launch {}");
    EXPECT_EQ(shell.shown.back(), "Error : Socket is not connected.");
}

TEST(RelayLinkWithoutControl, SaysWhyOnEveryAttemptAndIsNeverUp) {
    SimulatorState state;
    testing::RecordingStatus status;
    ClubCommandSender clubCommand{state, status};
    RelayReceiver receiver{state, status, clubCommand};
    Shell shell;
    app::testing::ScriptedDialogs dialogs;
    RelayLink link{shell, dialogs, receiver,
                   RelaySettings{[] { return true; }, [] { return std::string(); }, [] { return relayUrl("h"); }}};
    link.controlUnavailable("the Morvane control (QuillonWS.Morvane) is not registered.");
    link.checkConnection();
    EXPECT_EQ(shell.shown,
              (std::vector<std::string>{
                  std::string(relayWrongStateText),
                  "WSClient1 is not available: the Morvane control (QuillonWS.Morvane) is not registered."}));
    EXPECT_FALSE(link.isUp());
    link.shutdown();
}

}  // namespace
}  // namespace taltrix::links
