// The relay link inside the real window core, with the real control created
// through a registry of the test's own and the relay emulator as its peer:
// what the connection timer does with the relay when the user switches the
// simulator to TGC.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bridge/app/app_core.h"
#include "bridge/app/headless_front.h"
#include "bridge/app/test_support.h"
#include "bridge/links/bridge_links.h"
#include "platform/loop/qt_event_loop.h"
#include "platform/loop/thread_loop.h"

namespace taltrix::links {
namespace {

// The emulator's output, line by line.
class Relay {
public:
    Relay() { process_.start("/usr/bin/python3", {QString::fromUtf8(RELAY_EMULATOR), "--port", "0"}); }
    ~Relay() {
        process_.kill();
        process_.waitForFinished(5000);
    }

    // True when a line starting with `prefix` comes within `ms`, pumping the
    // bridge's events meanwhile; the lines before it are passed over.
    bool waitFor(const std::string& prefix, int ms, std::string* line = nullptr) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            while (process_.canReadLine()) {
                const std::string text = process_.readLine().trimmed().toStdString();
                seen.push_back(text);
                if (text.rfind(prefix, 0) == 0) {
                    if (line != nullptr) *line = text;
                    return true;
                }
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return false;
    }
    void tell(const std::string& command) { process_.write(QByteArray::fromStdString(command + "\n")); }

    std::vector<std::string> seen;

private:
    QProcess process_;
};

class RelaySwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TALTRIX_COM_USER_HIVE", registry.file("user.reg").c_str(), 1);
        ::setenv("TALTRIX_COM_MACHINE_HIVE", registry.file("machine.reg").c_str(), 1);
        const std::string command = std::string(COMREG_PROGRAM) + " register --user " + MORVANE_LIBRARY + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        platform::loop::installThreadLoop(std::make_unique<platform::loop::QtEventLoop>());
        home.write("Settings.pgs", "[Software]\r\nHalvexPlay_key=K9\r\nSim_software=HalvexPlay\r\n");
    }
    void TearDown() override { platform::loop::installThreadLoop(nullptr); }

    app::testing::TempFolder registry;
    app::testing::TempFolder home;
    std::FILE* statusLines = std::tmpfile();
};

TEST_F(RelaySwitchTest, AfterSwitchingToTgcTheRelayIsNeitherUsedNorReopened) {
    Relay relay;
    std::string listening;
    ASSERT_TRUE(relay.waitFor("listening", 10000, &listening));
    const std::string port = listening.substr(listening.rfind(' ') + 1);

    app::HeadlessView view(statusLines);
    app::testing::ScriptedDialogs dialogs;
    app::AppCore core(view, dialogs, home.path().string());
    CommandLine options;
    options.relayUrl = "ws://127.0.0.1:" + port;
    options.tgc = "127.0.0.1:9";  // nobody: TGC never answers here
    std::unique_ptr<app::BridgeHooks> links = makeBridgeLinks(core, options);
    ASSERT_NE(links, nullptr);
    core.setHooks(*links);
    core.load();

    core.connectionTick();
    ASSERT_TRUE(relay.waitFor("signin ok SIM-K9", 10000));

    core.optTgcClicked(true);
    ASSERT_FALSE(core.settings().relayMode());
    // Still connected, and left alone by the ticks.
    core.connectionTick();
    EXPECT_FALSE(relay.waitFor("disconnected", 1000));

    relay.tell("drop");
    ASSERT_TRUE(relay.waitFor("disconnected", 5000));
    for (int tick = 0; tick < 3; ++tick) core.connectionTick();
    EXPECT_FALSE(relay.waitFor("connected", 2000));

    core.terminate();
    core.unload();
    links.reset();
}

}  // namespace
}  // namespace taltrix::links

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
