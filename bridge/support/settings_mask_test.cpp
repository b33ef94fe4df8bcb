#include "bridge/support/settings_mask.h"

#include <gtest/gtest.h>

#include "bridge/support/support_commands.h"

namespace taltrix::support {
namespace {

TEST(SettingsMask, TheKeyIsMaskedAndNothingElseChanges) {
    const struct {
        std::string settings, masked, key;
    } cases[] = {
        {"[Software]\r\nHalvexPlay_key=AB12CD\r\nSim_software=TGC\r\n",
         "[Software]\r\nHalvexPlay_key=********\r\nSim_software=TGC\r\n", "AB12CD"},
        {"[Software]\nhalvexplay_KEY = secret key\n", "[Software]\nhalvexplay_KEY =********\n", "secret key"},
        {"[Software]\r\nHalvexPlay_key=\r\n", "[Software]\r\nHalvexPlay_key=\r\n", ""},
        {"HalvexPlay_keys=x\nMy_HalvexPlay_key=y", "HalvexPlay_keys=x\nMy_HalvexPlay_key=y", ""},
        {"HalvexPlay_key=last", "HalvexPlay_key=********", "last"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(maskSettings(c.settings), c.masked) << c.settings;
        EXPECT_EQ(relayKey(c.settings), c.key) << c.settings;
    }
}

TEST(SettingsMask, TheKeyIsMaskedWhereverItsTextAppears) {
    EXPECT_EQ(maskSecret("/connect SIM-AB12CD and AB12CD", "AB12CD"), "/connect SIM-******** and ********");
    // Too short to tell from ordinary text.
    EXPECT_EQ(maskSecret("TGC connected", "TGC"), "TGC connected");
}

TEST(SupportCommands, SinceTakesADayOrAMomentOfLocalTime) {
    ASSERT_TRUE(parseSince("2025-12-08"));
    EXPECT_EQ(*parseSince("2025-12-08T10:30") - *parseSince("2025-12-08"), (10 * 60 + 30) * 60 * 1000);
    EXPECT_EQ(*parseSince("2025-12-08T10:30:15") - *parseSince("2025-12-08T10:30"), 15000);
    for (const char* bad : {"", "yesterday", "2025-13-01", "2025-12-08 10:30", "08.12.2025"}) {
        EXPECT_FALSE(parseSince(bad)) << bad;
    }
}

}  // namespace
}  // namespace taltrix::support
