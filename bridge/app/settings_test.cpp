#include "bridge/app/settings.h"

#include <gtest/gtest.h>

#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

using testing::ScriptedDialogs;
using testing::TempFolder;

class Host final : public SettingsHost {
public:
    void applySimulatorChoice(const SimulatorChoice& c) override {
        choice = c;
        ++choices;
    }
    void letEventsRun() override { ++eventRuns; }
    void resetPointer() override { ++pointerResets; }
    Dialogs& dialogs() override { return boxes; }

    ScriptedDialogs boxes;
    SimulatorChoice choice;
    int choices = 0;
    int eventRuns = 0;
    int pointerResets = 0;
};

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() : settings(host) { settings.setProgramFolder(home.path().string()); }

    void store(const std::string& software) { home.write("Settings.pgs", "[Software]\r\n" + software); }
    std::string file() const { return home.read("Settings.pgs"); }

    TempFolder home;
    Host host;
    Settings settings;
};

TEST_F(SettingsTest, PathIsTheProgramFolderWithOneSlash) {
    settings.setProgramFolder("/opt/taltrix/");
    EXPECT_EQ(settings.path(), "/opt/taltrix/Settings.pgs");
    settings.setProgramFolder("/opt/taltrix");
    EXPECT_EQ(settings.path(), "/opt/taltrix/Settings.pgs");
}

TEST_F(SettingsTest, FirstStartWritesTheFiveDefaults) {
    settings.fn_load_constants();
    EXPECT_EQ(file(),
              "[Software]\r\n"
              "HalvexPlay_key=\r\n"
              "Sim_software=TGC\r\n"
              "BT_Connected_device=ES16\r\n"
              "Debug_mode=False\r\n"
              "Chipping_mode_distance=1000\r\n");
    const SettingsValues& v = settings.values();
    EXPECT_EQ(v.HalvexPlay_key, "");
    EXPECT_EQ(v.Sim_software, "TGC");
    EXPECT_EQ(v.BT_Connected_device, "ES16");
    EXPECT_EQ(v.Debug_mode, "False");
    EXPECT_EQ(v.Chipping_mode_distance, 1000.0);
    EXPECT_FALSE(settings.relayMode());
    EXPECT_FALSE(settings.debugMode());
    EXPECT_EQ(host.choice.nameCaption, "The Golf Club Simulator");
    EXPECT_FALSE(host.choice.nameItalic);
    EXPECT_EQ(host.choice.windowCaption, "TGC for Taltrix - Version 2.37");
    EXPECT_EQ(host.eventRuns, 1);
    EXPECT_TRUE(host.boxes.boxes.empty());
}

TEST_F(SettingsTest, RelayGameSelectedOnlyByItsExactName) {
    store("Sim_software=HalvexPlay\r\nHalvexPlay_key=abc\r\n");
    settings.fn_load_constants();
    EXPECT_TRUE(settings.relayMode());
    EXPECT_TRUE(host.choice.relay);
    EXPECT_EQ(host.choice.nameCaption, "HALVEX PLAY");
    EXPECT_TRUE(host.choice.nameItalic);
    EXPECT_EQ(host.choice.windowCaption, "HalvexPlay for Taltrix - Version 2.37");
    EXPECT_EQ(settings.values().HalvexPlay_key, "abc");

    for (const char* other : {"tgc", "halvexplay", "HALVEXPLAY", "Something"}) {
        store(std::string("Sim_software=") + other + "\r\n");
        settings.fn_load_constants();
        EXPECT_FALSE(settings.relayMode()) << other;
        EXPECT_EQ(settings.values().Sim_software, "TGC") << other;
        // Only a missing value is written back; a wrong one stays in the file.
        EXPECT_NE(file().find(std::string("Sim_software=") + other), std::string::npos) << other;
    }
}

TEST_F(SettingsTest, RelayHostComesFromTheFileAndIsNeverWrittenBack) {
    settings.fn_load_constants();
    EXPECT_EQ(settings.values().HalvexPlay_host, "relay.halvexplay.com");
    EXPECT_EQ(file().find("HalvexPlay_host"), std::string::npos);

    store("HalvexPlay_host=relay.test\r\n");
    settings.fn_load_constants();
    EXPECT_EQ(settings.values().HalvexPlay_host, "relay.test");
    store("HalvexPlay_host=None\r\n");
    settings.fn_load_constants();
    EXPECT_EQ(settings.values().HalvexPlay_host, "relay.halvexplay.com");
    EXPECT_NE(file().find("HalvexPlay_host=None"), std::string::npos);
}

TEST_F(SettingsTest, DebugModeIsOnlyTheExactTextTrue) {
    store("Debug_mode=true\r\n");
    settings.fn_load_constants();
    EXPECT_FALSE(settings.debugMode());
    store("Debug_mode=True\r\n");
    settings.fn_load_constants();
    EXPECT_TRUE(settings.debugMode());
}

TEST_F(SettingsTest, ChippingDistanceRoundsHalvesToEvenAndClampsInMemoryOnly) {
    struct Case {
        const char* stored;
        double expected;
        const char* inFile;
    };
    const Case cases[] = {
        {"250", 250.0, "250"},    {"1500", 1000.0, "1500"},   {"abc", 1000.0, "1000"}, {"12.5", 12.0, "12.5"},
        {"13.5", 14.0, "13.5"},   {"999.5", 1000.0, "999.5"}, {"-7", -7.0, "-7"},      {"1e2", 100.0, "1e2"},
        {"None", 1000.0, "1000"}, {"0x10", 1000.0, "1000"},   {"inf", 1000.0, "1000"}, {"", 1000.0, "1000"},
    };
    for (const Case& c : cases) {
        store(std::string("Chipping_mode_distance=") + c.stored + "\r\n");
        settings.fn_load_constants();
        EXPECT_EQ(settings.values().Chipping_mode_distance, c.expected) << c.stored;
        EXPECT_NE(file().find(std::string("Chipping_mode_distance=") + c.inFile + "\r\n"), std::string::npos)
            << c.stored;
    }
    EXPECT_TRUE(host.boxes.boxes.empty());
}

TEST_F(SettingsTest, ChippingDistanceOutsideSixteenBitsStopsTheLoaderWithTheErrorBox) {
    store("Chipping_mode_distance=250\r\n");
    settings.fn_load_constants();
    store("BT_Connected_device=ES16-77\r\nChipping_mode_distance=40000\r\n");
    const int runsBefore = host.eventRuns;
    settings.fn_load_constants();

    ASSERT_EQ(host.boxes.boxes.size(), 1u);
    const testing::ShownBox& box = host.boxes.boxes[0];
    EXPECT_EQ(box.text,
              "Version 2.37 --> Error number: 6\r\n"
              "Function: fn_load_constants \r\n"
              "Source:Taltrix\r\n"
              "Description:Overflow");
    EXPECT_EQ(box.title, "");
    EXPECT_EQ(box.icon, BoxIcon::critical);
    EXPECT_EQ(box.buttons, BoxButtons::ok);
    EXPECT_EQ(host.pointerResets, 1);
    // Keys before the error are loaded; the distance keeps its old value and
    // the last step (letting events run) is skipped.
    EXPECT_EQ(settings.values().BT_Connected_device, "ES16-77");
    EXPECT_EQ(settings.values().Chipping_mode_distance, 250.0);
    EXPECT_EQ(host.eventRuns, runsBefore);

    store("Chipping_mode_distance=32767.5\r\n");
    settings.fn_load_constants();
    EXPECT_EQ(host.boxes.boxes.size(), 2u);
    store("Chipping_mode_distance=-32768\r\n");
    settings.fn_load_constants();
    EXPECT_EQ(settings.values().Chipping_mode_distance, -32768.0);
}

TEST_F(SettingsTest, NoneCountsAsMissingForEveryKey) {
    store("HalvexPlay_key=None\r\nSim_software=None\r\nBT_Connected_device=None\r\nDebug_mode=None\r\n");
    settings.fn_load_constants();
    EXPECT_EQ(file(),
              "[Software]\r\n"
              "HalvexPlay_key=\r\n"
              "Sim_software=TGC\r\n"
              "BT_Connected_device=ES16\r\n"
              "Debug_mode=False\r\n"
              "Chipping_mode_distance=1000\r\n");
}

TEST_F(SettingsTest, WritesUpTo255CharactersAndRefusesLongerWithTheMessage) {
    settings.fn_load_constants();
    const std::string before = file();
    EXPECT_EQ(settings.writeValue("Software", "HalvexPlay_key", std::string(256, 'k')), -1);
    EXPECT_EQ(settings.writeValue("Software", std::string(256, 'n'), "v"), -1);
    EXPECT_EQ(file(), before);
    ASSERT_EQ(host.boxes.boxes.size(), 2u);
    EXPECT_EQ(host.boxes.boxes[0].text, "Version 2.37 --> Can't write more than 255 characters for key or value.");
    EXPECT_EQ(host.boxes.boxes[0].title, "");
    EXPECT_EQ(host.boxes.boxes[0].buttons, BoxButtons::ok);
    EXPECT_EQ(host.boxes.boxes[0].icon, BoxIcon::none);

    const std::string v255(255, 'k');
    EXPECT_NE(settings.writeValue("Software", "HalvexPlay_key", v255), -1);
    EXPECT_NE(file().find("HalvexPlay_key=" + v255 + "\r\n"), std::string::npos);
    // The read buffer holds 254 characters; the key comes back cut.
    EXPECT_EQ(settings.readValue("Software", "HalvexPlay_key"), std::string(254, 'k'));
}

TEST_F(SettingsTest, ChoosingTheRelayGameAsksForTheKeyThenReloads) {
    store("HalvexPlay_key=old\r\n");
    settings.fn_load_constants();
    host.boxes.entry = "NEWKEY";
    settings.optHalvexPlay_Click(true);
    ASSERT_EQ(host.boxes.inputs.size(), 1u);
    EXPECT_EQ(host.boxes.inputs[0].prompt, "Enter your valid HalvexPlay_key:");
    EXPECT_EQ(host.boxes.inputs[0].title, "Enter key");
    EXPECT_EQ(host.boxes.inputs[0].prefilled, "old");
    EXPECT_EQ(settings.values().HalvexPlay_key, "NEWKEY");
    EXPECT_EQ(settings.values().Sim_software, "HalvexPlay");
    EXPECT_TRUE(settings.relayMode());
    EXPECT_NE(file().find("Sim_software=HalvexPlay\r\n"), std::string::npos);
}

TEST_F(SettingsTest, CancelledOrEmptyKeyEntryKeepsTheOldKey) {
    store("HalvexPlay_key=old\r\n");
    settings.fn_load_constants();
    host.boxes.entry = std::nullopt;
    settings.optHalvexPlay_Click(true);
    EXPECT_EQ(settings.values().HalvexPlay_key, "old");
    host.boxes.entry = "";
    settings.optHalvexPlay_Click(true);
    EXPECT_EQ(settings.values().HalvexPlay_key, "old");
    EXPECT_TRUE(settings.relayMode());
}

TEST_F(SettingsTest, OptionClicksWriteTheChoiceAndReload) {
    settings.fn_load_constants();
    settings.optTGC_Click(false);
    EXPECT_TRUE(settings.relayMode());
    EXPECT_NE(file().find("Sim_software=HalvexPlay\r\n"), std::string::npos);
    settings.optTGC_Click(true);
    EXPECT_FALSE(settings.relayMode());
    settings.optHalvexPlay_Click(false);
    EXPECT_FALSE(settings.relayMode());
    EXPECT_NE(file().find("Sim_software=TGC\r\n"), std::string::npos);
    EXPECT_TRUE(host.boxes.inputs.empty());
}

TEST_F(SettingsTest, OpenConnectByItsExactNameWithAnEndpointNeverWrittenBack) {
    store("Sim_software=OpenConnect\r\n");
    settings.fn_load_constants();
    EXPECT_TRUE(settings.openConnectMode());
    EXPECT_FALSE(settings.relayMode());
    EXPECT_TRUE(host.choice.openConnect);
    EXPECT_EQ(host.choice.nameCaption, "Open Connect Simulator");
    EXPECT_EQ(host.choice.windowCaption, "OpenConnect for Taltrix - Version 2.37");
    EXPECT_EQ(settings.values().Sim_software, "OpenConnect");
    EXPECT_EQ(settings.values().OpenConnect_host, "127.0.0.1");
    EXPECT_EQ(settings.values().OpenConnect_port, 921);
    EXPECT_EQ(file(),
              "[Software]\r\nSim_software=OpenConnect\r\nHalvexPlay_key=\r\nBT_Connected_device=ES16\r\n"
              "Debug_mode=False\r\nChipping_mode_distance=1000\r\n");

    // A port that is no port is the default; the file keeps what it holds.
    // (Blanks around a value are the profile's to drop.)
    const std::pair<const char*, std::int32_t> ports[] = {{"9210", 9210}, {"65535", 65535}, {"0", 921},  {"65536", 921},
                                                          {" 80", 80},    {"8 0", 921},     {"92x", 921}};
    for (const auto& [stored, port] : ports) {
        store(std::string("Sim_software=openconnect\r\nOpenConnect_host=sim.lan\r\nOpenConnect_port=") + stored +
              "\r\n");
        settings.fn_load_constants();
        EXPECT_FALSE(settings.openConnectMode());  // the name is exact
        EXPECT_EQ(settings.values().OpenConnect_host, "sim.lan");
        EXPECT_EQ(settings.values().OpenConnect_port, port) << stored;
        EXPECT_NE(file().find(std::string("OpenConnect_port=") + stored + "\r\n"), std::string::npos);
    }

    settings.optOpenConnect_Click(true);
    EXPECT_TRUE(settings.openConnectMode());
    EXPECT_NE(file().find("Sim_software=OpenConnect\r\n"), std::string::npos);
    settings.optTGC_Click(true);
    EXPECT_FALSE(settings.openConnectMode());
}

}  // namespace
}  // namespace taltrix::app
