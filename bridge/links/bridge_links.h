// Everything that connects the bridge to the world, attached to the window:
// the launch monitor over Bluetooth, TGC over TCP, the relay through the
// WebSocket control, an Open Connect simulator over TCP, and the shot road
// and simulator messages between them.
#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>

#include "bridge/app/app_core.h"
#include "bridge/app/bridge_hooks.h"
#include "bridge/command_line.h"
#include "bridge/links/bluetooth_link.h"
#include "bridge/links/link_shell.h"
#include "bridge/links/open_connect_link.h"
#include "bridge/links/relay_link.h"
#include "bridge/links/tgc_link.h"
#include "bridge/record/device_recorder.h"
#include "bridge/shot/club_command.h"
#include "bridge/shot/observed_outlet.h"
#include "bridge/shot/open_connect_receiver.h"
#include "bridge/shot/shot_pipeline.h"
#include "bridge/shot/simulator_receivers.h"
#include "bridge/shot/simulator_state.h"
#include "platform/bluetooth/bluetooth.h"

namespace taltrix::links {

struct LinkOptions {
    std::string tgcHost{defaultTgcHost};
    std::int32_t tgcPort = defaultTgcPort;
    // --relay-url: the whole relay URL instead of the one built from the
    // HalvexPlay_host setting.
    std::optional<std::string> relayUrl;
};

class BridgeLinks final : public app::BridgeHooks {
public:
    BridgeLinks(app::AppCore& core, std::unique_ptr<LinkShell> shell, std::unique_ptr<bluetooth::Manager> manager,
                LinkOptions options);
    ~BridgeLinks() override;

    void createDeviceObjects() override;
    void resetLinkState() override;
    void prepareLinks() override;
    void setTgcEndpoint() override;
    void discover() override { bluetooth_.btDiscover_Click(); }
    void connectDevice() override { bluetooth_.btConnect_Click(); }
    void tickDevice() override { bluetooth_.connectionTick(); }
    void disconnectDevice() override { bluetooth_.btDisconnect_Click(); }
    void querySignalStrength() override { bluetooth_.btGetRSSI_Click(); }
    void sendCommand(std::string_view command) override { bluetooth_.btSend_Click(command); }
    void checkTgcLink() override;
    void checkRelayLink() override;
    void checkOpenConnectLink() override { openConnect_.checkConnection(); }
    bool quitRequested() const override { return state_.quitRequested; }
    void closeSimulatorLinks() override;
    void releaseDeviceObjects() override { bluetooth_.releaseObjects(); }

    const SimulatorState& simulatorState() const { return state_; }
    // The simulator the settings choose now, and whether its link is up
    // (TGC: connected and ready for shots).
    Simulator chosenSimulator() const;
    bool simulatorConnected() const;
    bool deviceConnected() const { return bluetooth_.btConnected(); }

    // The shot history and --record: told of every framed shot, and given
    // every piece the device sends. Null for nobody.
    void setShotObserver(ShotObserver* observer);
    void setRecorder(record::DeviceRecorder* recorder) { recorder_ = recorder; }
    // The last Open Connect shot number an earlier run sent, as the history
    // kept it (nothing when none did): this run numbers above it.
    void resumeShotNumbers(std::optional<std::int64_t> lastSent) { openConnect_.resumeNumbering(lastSent); }
    // The Bluetooth side as a support request wants it: radios, the link's
    // state and the devices found.
    std::string bluetoothReport();

private:
    void receiveFromDevice(std::string_view chunk);
    void createRelayControl();
    std::string relayEndpoint() const;
    void runRelayCheck();
    // Another simulator is chosen: the Open Connect simulator, which takes
    // one client, is let go.
    void leaveOpenConnect();

    app::AppCore& core_;
    std::unique_ptr<LinkShell> shell_;
    std::unique_ptr<bluetooth::Manager> manager_;
    LinkOptions options_;
    SimulatorState state_;
    ShotPipeline pipeline_;
    ClubCommandSender clubCommand_;
    TcpReceiver tcpReceiver_;
    RelayReceiver relayReceiver_;
    TgcLink tgc_;
    RelayLink relay_;
    BluetoothLink bluetooth_;
    OpenConnectReceiver openConnectReceiver_;
    OpenConnectLink openConnect_;
    // Owns the relay check posted by a connection tick, so that a check
    // still pending when the links go is dropped with them.
    QObject relayCheckContext_;
    bool relayCheckPending_ = false;
    record::DeviceRecorder* recorder_ = nullptr;
    // When the chunk the pipeline is handling arrived, for the observed links.
    ObservedOutlet::Clock::time_point chunkArrived_;
    ObservedOutlet observedTgc_{Simulator::TGC, pipeline_.lastShot(), state_, chunkArrived_};
    ObservedOutlet observedRelay_{Simulator::HalvexPlay, pipeline_.lastShot(), state_, chunkArrived_};
    ObservedShotOutlet observedOpenConnect_{Simulator::OpenConnect, state_, chunkArrived_};
};

// Why the link options (--tgc, --bluetooth, --relay-url) cannot be used, or "".
std::string checkLinkOptions(const CommandLine& options);

// What main() hands the front end: builds the links from options that
// checkLinkOptions accepted.
std::unique_ptr<app::BridgeHooks> makeBridgeLinks(app::AppCore& core, const CommandLine& options);

}  // namespace taltrix::links
