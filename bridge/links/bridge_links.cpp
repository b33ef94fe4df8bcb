#include "bridge/links/bridge_links.h"

#include <cstdio>

#include "bridge/links/app_core_shell.h"
#include "bridge/links/qt_device_list.h"

namespace taltrix::links {

BridgeLinks::BridgeLinks(app::AppCore& core, std::unique_ptr<LinkShell> shell,
                         std::unique_ptr<bluetooth::Manager> manager, LinkOptions options)
    : core_(core),
      shell_(std::move(shell)),
      manager_(std::move(manager)),
      options_(std::move(options)),
      pipeline_(state_, SimulatorOutlets{&tgc_, nullptr, &core.indicatorTx()}, &core.rawDataBox(),
                &core.indicatorRx()),
      clubCommand_(state_, core.statusDisplay(), &bluetooth_, &core.rawDataBox()),
      tcpReceiver_(state_, core.statusDisplay(), clubCommand_, [this] { return tgc_.tgcSocketOpen(); }),
      tgc_(*shell_, state_, tcpReceiver_),
      bluetooth_(*shell_, *manager_, [this](std::string_view chunk) { receiveFromDevice(chunk); },
                 [this] { tgc_.fn_connect_to_TGC(); }) {
    clubCommand_.setChippingDistanceSource([&core] { return core.settings().values().Chipping_mode_distance; });
}

BridgeLinks::~BridgeLinks() {
    bluetooth_.releaseObjects();
    tgc_.close();
}

void BridgeLinks::createDeviceObjects() { bluetooth_.createObjects(); }

void BridgeLinks::resetLinkState() {
    tgc_.lowerSocketOpen();
    state_.quitRequested = false;
    state_.tgcConnected = false;
    pipeline_.framer().reset();
}

void BridgeLinks::prepareLinks() { bluetooth_.openManager(); }

void BridgeLinks::setTgcEndpoint() { tgc_.setEndpoint(options_.tgcHost, options_.tgcPort); }

void BridgeLinks::checkTgcLink() {
    const int state = tgc_.state();
    if ((state != sckConnecting && state != sckConnected) || !tgc_.tgcSocketOpen()) tgc_.fn_connect_to_TGC();
}

void BridgeLinks::receiveFromDevice(std::string_view chunk) {
    // The choice can change between two shots; the shot goes where it is now.
    pipeline_.setSimulator(core_.settings().relayMode() ? Simulator::HalvexPlay : Simulator::TGC);
    pipeline_.receiveChunk(chunk);
}

std::string checkLinkOptions(const CommandLine& options) {
    LinkOptions linkOptions;
    if (options.tgc && !parseTgcEndpoint(*options.tgc, linkOptions.tgcHost, linkOptions.tgcPort)) {
        return "--tgc takes HOST:PORT, not \"" + *options.tgc + "\"";
    }
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
