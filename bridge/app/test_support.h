// Test doubles shared by the application-shell tests: a recording view,
// scripted dialogs, recording hooks and a temporary program folder.
#pragma once

#include <QCoreApplication>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/app/app_view.h"
#include "bridge/app/bridge_hooks.h"
#include "bridge/app/dialogs.h"

namespace taltrix::app::testing {

// QTimer needs an application object on the thread.
inline void ensureCoreApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "taltrix_app_test";
        static char* argv[] = {name, nullptr};
        // Never destroyed, so that it outlives every test's timers.
        static auto* app = new QCoreApplication(argc, argv);
        (void)app;
    }
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "taltrix.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }

private:
    std::filesystem::path path_;
};

struct ShownBox {
    std::string text;
    std::string title;
    BoxButtons buttons;
    BoxIcon icon;
};

class ScriptedDialogs final : public Dialogs {
public:
    BoxAnswer messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon icon) override {
        boxes.push_back({std::string(text), std::string(title), buttons, icon});
        if (answers.empty()) {
            return buttons == BoxButtons::ok ? BoxAnswer::ok : BoxAnswer::no;
        }
        const BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> inputBox(std::string_view prompt, std::string_view title,
                                        std::string_view prefilled) override {
        inputs.push_back({std::string(prompt), std::string(title), std::string(prefilled)});
        return entry;
    }

    struct Input {
        std::string prompt, title, prefilled;
    };
    std::vector<ShownBox> boxes;
    std::deque<BoxAnswer> answers;
    std::vector<Input> inputs;
    std::optional<std::string> entry;
};

class RecordingView : public AppView {
public:
    void setMessageLabel(std::string_view text) override {
        label = std::string(text);
        ++labelChanges;
    }
    void setTraceText(std::string_view text) override { trace = std::string(text); }
    void statusLine(std::string_view message) override { lines.emplace_back(message); }
    void setRawDataText(std::string_view text) override { rawData = std::string(text); }
    void showLight(Light, Rgb, bool) override { ++lightChanges; }
    void applySimulatorChoice(const SimulatorChoice& c) override {
        choice = c;
        calls.push_back("applySimulatorChoice");
    }
    bool hasWindow() const override { return window; }
    bool trayAvailable() const override { return tray; }
    void deleteTrayIcon() override {
        trayShown = false;
        calls.push_back("deleteTrayIcon");
    }
    void addTrayIcon(WindowIcon icon, std::string_view tip) override {
        trayShown = true;
        trayIcon = icon;
        trayTip = std::string(tip);
        calls.push_back("addTrayIcon");
    }
    void setWindowIcon(WindowIcon icon) override {
        windowIcon = icon;
        calls.push_back("setWindowIcon");
    }
    void applyStartLayout() override { calls.push_back("applyStartLayout"); }
    void applyDebugLayout(bool debug) override {
        debugLayout = debug;
        calls.push_back(debug ? "applyDebugLayout(true)" : "applyDebugLayout(false)");
    }
    void selectDefaultService() override { calls.push_back("selectDefaultService"); }
    bool isMaximized() const override { return maximized; }
    void showNormal() override { place(true, false, "showNormal"); }
    void minimizeAndHide() override { place(false, true, "minimizeAndHide"); }
    bool isMinimized() const override { return minimized; }
    void minimizeToTaskBar() override { place(true, true, "minimizeToTaskBar"); }
    TrayChange trayChange() override {
        if (tray == trayHost) return TrayChange::none;
        tray = trayHost;
        return tray ? TrayChange::appeared : TrayChange::vanished;
    }
    void setBusyPointer(bool busy) override { busyPointer = busy; }
    void letEventsRun() override { calls.push_back("letEventsRun"); }
    void endProgram() override {
        ended = true;
        calls.push_back("endProgram");
    }

    bool window = true;
    bool tray = true;
    bool maximized = false;
    bool minimized = false;
    bool trayHost = true;  // whether a tray host runs; trayChange() tells `tray` of it
    bool visible = false;
    bool trayShown = false;
    bool debugLayout = false;
    bool busyPointer = false;
    bool ended = false;
    int labelChanges = 0;
    int lightChanges = 0;
    WindowIcon trayIcon = WindowIcon::ico1;
    WindowIcon windowIcon = WindowIcon::ico1;
    std::string trayTip;
    std::string label;
    std::string trace;
    std::string rawData;
    std::vector<std::string> lines;
    std::vector<std::string> calls;
    SimulatorChoice choice;

private:
    void place(bool shown, bool minimised, const char* call) {
        visible = shown;
        minimized = minimised;
        calls.push_back(call);
    }
};

class RecordingHooks final : public BridgeHooks {
public:
    void createDeviceObjects() override { calls.push_back("createDeviceObjects"); }
    void resetLinkState() override { calls.push_back("resetLinkState"); }
    void prepareLinks() override { calls.push_back("prepareLinks"); }
    void setTgcEndpoint() override { calls.push_back("setTgcEndpoint"); }
    void discover() override { calls.push_back("discover"); }
    void connectDevice() override { calls.push_back("connectDevice"); }
    void tickDevice() override { calls.push_back("tickDevice"); }
    void disconnectDevice() override { calls.push_back("disconnectDevice"); }
    void querySignalStrength() override { calls.push_back("querySignalStrength"); }
    void sendCommand(std::string_view command) override { calls.push_back("sendCommand " + std::string(command)); }
    void checkTgcLink() override { calls.push_back("checkTgcLink"); }
    void checkRelayLink() override { calls.push_back("checkRelayLink"); }
    void checkOpenConnectLink() override { calls.push_back("checkOpenConnectLink"); }
    bool quitRequested() const override { return quit; }
    void closeSimulatorLinks() override { calls.push_back("closeSimulatorLinks"); }
    void releaseDeviceObjects() override { calls.push_back("releaseDeviceObjects"); }

    bool quit = false;
    std::vector<std::string> calls;
};

}  // namespace taltrix::app::testing
