// The bridge's persistent choices in "Settings.pgs", section "Software",
// and the two option buttons through which the user changes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/app/dialogs.h"

namespace taltrix::app {

// How the main window shows the simulator choice.
struct SimulatorChoice {
    bool relay = false;        // optHalvexPlay selected, else optTGC
    bool openConnect = false;  // optOpenConnect selected (relay is then false)
    std::string nameCaption;   // lblName
    bool nameItalic = false;
    std::string windowCaption;
};

// What the settings need of the window around them.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    // Selects the option button and sets the name label and caption. Selecting
    // the button this way does not run its click handler.
    virtual void applySimulatorChoice(const SimulatorChoice& choice) = 0;
    virtual void letEventsRun() = 0;
    virtual void resetPointer() = 0;
    virtual Dialogs& dialogs() = 0;
};

// The relay host when Settings.pgs names none (key HalvexPlay_host, read but
// never written back: the file of a first start holds the five keys above).
inline constexpr std::string_view relayDefaultHost = "relay.halvexplay.com";

// The Open Connect simulator's endpoint when Settings.pgs names none (keys
// OpenConnect_host and OpenConnect_port, read like HalvexPlay_host and
// never written back). A port that is no whole number from 1 to 65535
// counts as missing.
inline constexpr std::string_view openConnectDefaultHost = "127.0.0.1";
inline constexpr std::int32_t openConnectDefaultPort = 921;

struct SettingsValues {
    std::string HalvexPlay_key;
    std::string Sim_software;
    std::string BT_Connected_device;
    std::string Debug_mode;
    double Chipping_mode_distance = 0.0;
    std::string HalvexPlay_host{relayDefaultHost};  // the relay service's host
    std::string OpenConnect_host{openConnectDefaultHost};
    std::int32_t OpenConnect_port = openConnectDefaultPort;
};

class Settings {
public:
    static constexpr std::string_view fileName = "Settings.pgs";
    static constexpr std::string_view section = "Software";

    explicit Settings(SettingsHost& host) : host_(host) {}

    // Fixes the settings file for the life of the process.
    void setProgramFolder(std::string_view folder);
    const std::string& path() const { return path_; }

    // One value through the private-profile functions. Reading gives at most
    // 254 characters; a longer value comes back cut.
    std::string readValue(std::string_view sectionName, std::string_view key) const;
    // The profile write's result, or -1 (nothing written, the user told) when
    // the key or the value has 256 characters or more.
    int writeValue(std::string_view sectionName, std::string_view key, std::string_view value);

    void fn_load_constants();
    void optHalvexPlay_Click(bool selected);
    void optTGC_Click(bool selected);
    void optOpenConnect_Click(bool selected);

    const SettingsValues& values() const { return values_; }
    bool relayMode() const { return relayMode_; }
    // Sim_software is exactly "OpenConnect".
    bool openConnectMode() const { return openConnectMode_; }
    // Only the exact text "True" turns the debug layout and the trace on.
    bool debugMode() const { return values_.Debug_mode == "True"; }

private:
    struct RuntimeError {
        int number;
        std::string description;
    };

    std::string readOrDefault(std::string_view key, std::string_view fallback);
    void applyChoice();
    bool loadChippingDistance(RuntimeError& error);
    void showLoaderError(const RuntimeError& error);
    void loadOpenConnectEndpoint();

    SettingsHost& host_;
    std::string path_;
    SettingsValues values_;
    bool relayMode_ = false;
    bool openConnectMode_ = false;
};

}  // namespace taltrix::app
