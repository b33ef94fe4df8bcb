// What the window calls on the links (launch monitor, TGC, relay) and on the
// shot pipeline's shared state. The links implement it; until they are
// attached the window runs with NoLinks, which has nothing to connect.
#pragma once

#include <string_view>

namespace taltrix::app {

class BridgeHooks {
public:
    virtual ~BridgeHooks() = default;

    // Window load, in start-up order.
    // 1. Create the Bluetooth manager, client and discovery objects.
    virtual void createDeviceObjects() = 0;
    // 2. Lower tgcSocketOpen, quitRequested and tgcConnected; empty the
    //    shot framer's receive buffer.
    virtual void resetLinkState() = 0;
    // 3. Relay endpoint; open the Bluetooth manager; the service UUIDs.
    virtual void prepareLinks() = 0;
    // 5. The TGC endpoint (after the settings are loaded).
    virtual void setTgcEndpoint() = 0;

    // Button handlers: btDiscover (also run once by start-up), btConnect,
    // btDisconnect, btGetRSSI and btSend with the text of edCommand.
    virtual void discover() = 0;
    virtual void connectDevice() = 0;
    // Every connection-timer tick while no discovery runs: btConnect, or a
    // new discovery while there was no radio or nothing in the list.
    virtual void tickDevice() = 0;
    virtual void disconnectDevice() = 0;
    virtual void querySignalStrength() = 0;
    virtual void sendCommand(std::string_view command) = 0;

    // Connection-timer tick, after the device: the simulator link of the
    // chosen mode, re-opened when it is down.
    virtual void checkTgcLink() = 0;
    virtual void checkRelayLink() = 0;
    virtual void checkOpenConnectLink() = 0;

    // The relay's quit command, acted on at the next Timer_TX tick.
    virtual bool quitRequested() const = 0;

    // Terminate path and query-unload: close sock1, disconnect WSClient1 and
    // close the Open Connect link cleanly.
    virtual void closeSimulatorLinks() = 0;
    // Window unload: disconnect and release the Bluetooth objects.
    virtual void releaseDeviceObjects() = 0;
};

// The bridge without links: every hook does nothing.
class NoLinks final : public BridgeHooks {
public:
    void createDeviceObjects() override {}
    void resetLinkState() override {}
    void prepareLinks() override {}
    void setTgcEndpoint() override {}
    void discover() override {}
    void connectDevice() override {}
    void tickDevice() override {}
    void disconnectDevice() override {}
    void querySignalStrength() override {}
    void sendCommand(std::string_view) override {}
    void checkTgcLink() override {}
    void checkRelayLink() override {}
    void checkOpenConnectLink() override {}
    bool quitRequested() const override { return false; }
    void closeSimulatorLinks() override {}
    void releaseDeviceObjects() override {}
};

}  // namespace taltrix::app
