#include "bridge/links/bridge_links.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "bridge/links/app_core_shell.h"
#include "bridge/links/control_registration.h"
#include "bridge/links/morvane_client.h"
#include "bridge/links/qt_device_list.h"

namespace taltrix::links {

BridgeLinks::BridgeLinks(app::AppCore& core, std::unique_ptr<LinkShell> shell,
                         std::unique_ptr<bluetooth::Manager> manager, LinkOptions options)
    : core_(core),
      shell_(std::move(shell)),
      manager_(std::move(manager)),
      options_(std::move(options)),
      pipeline_(state_, SimulatorOutlets{nullptr, nullptr, &core.indicatorTx(), nullptr, &core.statusDisplay()},
                &core.rawDataBox(), &core.indicatorRx()),
      clubCommand_(state_, core.statusDisplay(), &bluetooth_, &core.rawDataBox()),
      tcpReceiver_(state_, core.statusDisplay(), clubCommand_, [this] { return tgc_.tgcSocketOpen(); }),
      relayReceiver_(state_, core.statusDisplay(), clubCommand_),
      tgc_(*shell_, state_, tcpReceiver_),
      relay_(*shell_, core.dialogBoxes(), relayReceiver_,
             RelaySettings{[&core] { return core.settings().relayMode(); },
                           [&core] { return core.settings().values().HalvexPlay_key; },
                           [this] { return relayEndpoint(); }}),
      bluetooth_(
          *shell_, *manager_, [this](std::string_view chunk) { receiveFromDevice(chunk); },
          [this] {
              // A shot the dropped connection cut off is never completed:
              // the first "End" of the new one (its chatter has some) would
              // close it into a shot of made-up values.
              pipeline_.framer().reset();
              tgc_.fn_connect_to_TGC();
              openConnect_.readinessChanged();
          }),
      openConnectReceiver_(state_, core.statusDisplay(), clubCommand_),
      openConnect_(
          *shell_, openConnectReceiver_,
          [&core] {
              const app::SettingsValues& values = core.settings().values();
              return OpenConnectEndpoint{values.OpenConnect_host, values.OpenConnect_port};
          },
          [this] { return bluetooth_.btConnected(); }) {
    // The links exist only now.
    pipeline_.setOutlets(SimulatorOutlets{&tgc_, &relay_, &core.indicatorTx(), &openConnect_, &core.statusDisplay()});
    clubCommand_.setChippingDistanceSource([&core] { return core.settings().values().Chipping_mode_distance; });
    bluetooth_.setOnDisconnected([this] { openConnect_.readinessChanged(); });
}

BridgeLinks::~BridgeLinks() {
    bluetooth_.releaseObjects();
    tgc_.close();
    relay_.shutdown();
    openConnect_.closeCleanly();
}

void BridgeLinks::createDeviceObjects() { bluetooth_.createObjects(); }

void BridgeLinks::resetLinkState() {
    tgc_.lowerSocketOpen();
    state_.quitRequested = false;
    state_.tgcConnected = false;
    pipeline_.framer().reset();
}

void BridgeLinks::prepareLinks() {
    createRelayControl();
    bluetooth_.openManager();
}

void BridgeLinks::createRelayControl() {
    const std::string registration = registerBundledControl(QCoreApplication::applicationDirPath().toStdString());
    if (!registration.empty()) shell_->showStatus(registration);
    std::string problem;
    std::unique_ptr<MorvaneClient> control = MorvaneClient::create(problem);
    if (control) {
        relay_.attachControl(std::move(control));
        return;
    }
    // The bridge goes on without the relay: TGC does not need the control.
    relay_.controlUnavailable(problem);
    shell_->showStatus(std::string(controlUnavailablePrefix) + problem);
}

std::string BridgeLinks::relayEndpoint() const {
    if (options_.relayUrl) return *options_.relayUrl;
    return relayUrl(core_.settings().values().HalvexPlay_host);
}

void BridgeLinks::checkRelayLink() {
    leaveOpenConnect();
    // The check runs right after the tick rather than inside it: Qt does not
    // fire a timer again while its own tick is being handled, so a Connect
    // waiting inside the tick would stop the connection timer (and with it
    // the launch monitor's reconnection) until it gave up. Run outside, the
    // timer goes on ticking while Connect waits.
    if (relayCheckPending_) return;
    relayCheckPending_ = true;
    QTimer::singleShot(0, &relayCheckContext_, [this] { runRelayCheck(); });
}

void BridgeLinks::runRelayCheck() {
    relayCheckPending_ = false;
    // The choice may have changed since the tick.
    if (core_.settings().relayMode()) relay_.checkConnection();
}

void BridgeLinks::closeSimulatorLinks() {
    tgc_.close();
    relay_.shutdown();
    openConnect_.closeCleanly();
}

void BridgeLinks::leaveOpenConnect() {
    if (openConnect_.state() != sckClosed) openConnect_.closeCleanly();
}

void BridgeLinks::setTgcEndpoint() { tgc_.setEndpoint(options_.tgcHost, options_.tgcPort); }

void BridgeLinks::checkTgcLink() {
    leaveOpenConnect();
    const int state = tgc_.state();
    if ((state != sckConnecting && state != sckConnected) || !tgc_.tgcSocketOpen()) tgc_.fn_connect_to_TGC();
}

void BridgeLinks::receiveFromDevice(std::string_view chunk) {
    // Kept in memory in arrival order even if sending lets another chunk in.
    if (recorder_ != nullptr) recorder_->arrived(chunk);
    chunkArrived_ = ObservedOutlet::Clock::now();
    // The choice can change between two shots; the shot goes where it is now.
    pipeline_.setSimulator(chosenSimulator());
    pipeline_.receiveChunk(chunk);
    // To the disk only once the shot is on its way.
    if (recorder_ != nullptr) recorder_->flush();
}

Simulator BridgeLinks::chosenSimulator() const {
    const app::Settings& settings = core_.settings();
    return settings.relayMode()         ? Simulator::HalvexPlay
           : settings.openConnectMode() ? Simulator::OpenConnect
                                        : Simulator::TGC;
}

bool BridgeLinks::simulatorConnected() const {
    switch (chosenSimulator()) {
        case Simulator::HalvexPlay:
            return relay_.isUp();
        case Simulator::OpenConnect:
            return openConnect_.isUp();
        case Simulator::TGC:
            break;
    }
    return tgc_.isUp() && state_.tgcConnected;
}

std::string BridgeLinks::bluetoothReport() { return bluetooth_.report(); }

void BridgeLinks::setShotObserver(ShotObserver* observer) {
    // Every other outlet stays as it is.
    SimulatorOutlets outlets = pipeline_.outlets();
    outlets.tgc = observer != nullptr ? observedTgc_.observe(&tgc_, observer) : &tgc_;
    outlets.relay = observer != nullptr ? observedRelay_.observe(&relay_, observer) : &relay_;
    outlets.openConnect = observer != nullptr ? observedOpenConnect_.observe(&openConnect_, observer) : &openConnect_;
    pipeline_.setOutlets(outlets);
}

std::string checkLinkOptions(const CommandLine& options) {
    LinkOptions linkOptions;
    if (options.tgc && !parseTgcEndpoint(*options.tgc, linkOptions.tgcHost, linkOptions.tgcPort)) {
        return "--tgc takes HOST:PORT, not \"" + *options.tgc + "\"";
    }
    if (options.relayUrl && options.relayUrl->empty()) return "--relay-url takes a URL";
    std::string error;
    if (options.bluetooth && !bluetooth::createManager(options.bluetooth, error)) return error;
    return {};
}

std::unique_ptr<app::BridgeHooks> makeBridgeLinks(app::AppCore& core, const CommandLine& options) {
    LinkOptions linkOptions;
    if (options.tgc && !parseTgcEndpoint(*options.tgc, linkOptions.tgcHost, linkOptions.tgcPort)) {
        std::fprintf(stderr, "taltrix: --tgc takes HOST:PORT, not \"%s\"\n", options.tgc->c_str());
        return nullptr;
    }
    linkOptions.relayUrl = options.relayUrl;
    std::string error;
    std::unique_ptr<bluetooth::Manager> manager = bluetooth::createManager(options.bluetooth, error);
    if (!manager) {
        std::fprintf(stderr, "taltrix: %s\n", error.c_str());
        return nullptr;
    }

    std::unique_ptr<DeviceListView> deviceList;
    if (QTreeWidget* list = findWindowDeviceList()) deviceList = std::make_unique<QtDeviceList>(*list);
    auto shell = std::make_unique<AppCoreShell>(core, std::move(deviceList));
    return std::make_unique<BridgeLinks>(core, std::move(shell), std::move(manager), std::move(linkOptions));
}

}  // namespace taltrix::links
