#include "bridge/app/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

TEST(Autostart, ExecArgumentsAreQuotedWhereTheyNeedIt) {
    const std::pair<std::string, std::string> rows[] = {
        {"/usr/bin/taltrix", "/usr/bin/taltrix"},
        {"--hidden", "--hidden"},
        {"/home/ann/Golf Bay", "\"/home/ann/Golf Bay\""},
        // As the file holds them: the quoting rule's backslashes escaped again.
        {"/opt/a\"b$c\\d`e", R"("/opt/a\\"b\\$c\\\\d\\`e")"},
        {"/opt/a\nb\tc", R"("/opt/a\nb\tc")"},
        {"/opt/100%", "\"/opt/100%%\""},
        {"", "\"\""},
    };
    for (const auto& [argument, exec] : rows) EXPECT_EQ(desktopExecArgument(argument), exec) << argument;
}

TEST(Autostart, OnWritesAnEntryThatStartsTaltrixHiddenAndOffRemovesIt) {
    testing::TempFolder home;
    const Autostart entry({"/usr/bin/taltrix", "--hidden", "--home", "/srv/Bay 1"}, home.file(".config"));
    EXPECT_EQ(entry.file(), home.file(".config/autostart/taltrix.desktop"));
    EXPECT_FALSE(entry.isOn());
    ASSERT_EQ(entry.set(true), "");
    EXPECT_TRUE(entry.isOn());
    const std::string text = home.read(".config/autostart/taltrix.desktop");
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nExec=/usr/bin/taltrix --hidden --home \"/srv/Bay 1\"\n"), std::string::npos);
    ASSERT_EQ(entry.set(true), "");  // again: the same entry
    ASSERT_EQ(entry.set(false), "");
    EXPECT_FALSE(entry.isOn());
    EXPECT_EQ(entry.set(false), "");  // off when already off is no error
    EXPECT_EQ(Autostart({"taltrix"}, "/cfg").file(), "/cfg/autostart/taltrix.desktop");
}

}  // namespace
}  // namespace taltrix::app
