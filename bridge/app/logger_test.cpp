#include "bridge/app/logger.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bridge/app/startup_log.h"
#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

TEST(Logger, LevelFilterAndTabAfterEachExtraValue) {
    TempFolder home;
    clsLogger log(home.path().string());
    log.setLogLevel(2);
    log.setMaxFileIterations(0);
    ASSERT_TRUE(log.BeginLogging());
    EXPECT_EQ(log.LogFile(), home.file("debug.log"));
    log.WriteLog(1, "A", 5, "x");
    log.WriteLog(2, "|B", 2.5, true);
    log.WriteLog(3, "|not written");
    log.WriteLog(0, "|C");
    EXPECT_FALSE(log.StopLogging());
    EXPECT_EQ(home.read("debug.log"), "A5\tx\t|B2.5\tTrue\t|C");
}

TEST(Logger, LogLevelOutsideAByteIsIgnored) {
    clsLogger log("/nowhere");
    log.setLogLevel(7);
    log.setLogLevel(256);
    log.setLogLevel(-1);
    EXPECT_EQ(log.LogLevel(), 7);
}

TEST(Logger, ReopeningAppendsAtTheEnd) {
    TempFolder home;
    home.write("debug.001", "old;");
    clsLogger log(home.path().string());
    log.setLogLevel(1);
    log.setMaxFileIterations(3);
    ASSERT_TRUE(log.BeginLogging());
    EXPECT_EQ(log.LogFile(), home.file("debug.001"));
    log.WriteLog(1, "new");
    log.StopLogging();
    EXPECT_EQ(home.read("debug.001"), "old;new");
}

TEST(Logger, RotatesThroughTheNumberedFilesAndBack) {
    TempFolder home;
    clsLogger log(home.path().string());
    log.setLogLevel(1);
    log.setMaxFileIterations(3);
    log.setMaxFileSize(12);
    ASSERT_TRUE(log.BeginLogging());
    // Each message is 6 bytes: two fit in a file.
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i) {
        log.WriteLog(1, "msg" + std::to_string(i) + "..");
        files.push_back(fs::path(log.LogFile()).filename().string());
    }
    log.StopLogging();
    // The first file is .001 and the iteration count starts at 0, so the
    // first rotation comes back to .001 once before moving on.
    EXPECT_EQ(files, (std::vector<std::string>{"debug.001", "debug.001", "debug.001", "debug.002", "debug.002",
                                               "debug.003", "debug.003", "debug.001"}));
    EXPECT_EQ(home.read("debug.002"), "msg3..msg4..");
    EXPECT_EQ(home.read("debug.003"), "msg5..msg6..");
    // A file the rotation comes back to is appended to, not emptied.
    EXPECT_EQ(home.read("debug.001"), "msg0..msg1..msg2..msg7..");
}

TEST(Logger, MaxFileSizeZeroNeverRotates) {
    TempFolder home;
    clsLogger log(home.path().string());
    log.setLogLevel(1);
    log.setMaxFileIterations(3);
    log.setMaxFileSize(0);
    ASSERT_TRUE(log.BeginLogging());
    for (int i = 0; i < 100; ++i) {
        log.WriteLog(1, "0123456789");
    }
    log.StopLogging();
    EXPECT_EQ(fs::file_size(home.file("debug.001")), 1000u);
    EXPECT_FALSE(fs::exists(home.file("debug.002")));
}

TEST(Logger, NoIterationsDeletesAndRestartsTheSameFile) {
    TempFolder home;
    clsLogger log(home.path().string());
    log.setLogLevel(1);
    log.setMaxFileIterations(0);
    log.setMaxFileSize(10);
    ASSERT_TRUE(log.BeginLogging());
    log.WriteLog(1, "first.");
    log.WriteLog(1, "second");
    log.WriteLog(1, "third.");
    log.StopLogging();
    EXPECT_EQ(log.LogFile(), home.file("debug.log"));
    EXPECT_EQ(home.read("debug.log"), "third.");
}

TEST(Logger, PathWithoutDotIsRotatedToItsFirstNumber) {
    TempFolder home;
    // A dot in a folder name is not the file's extension.
    fs::create_directory(home.path() / "logs.d");
    clsLogger log(home.path().string());
    log.setLogFile(home.file("logs.d/trace"));
    log.setLogLevel(1);
    log.setMaxFileIterations(3);
    ASSERT_TRUE(log.BeginLogging());
    EXPECT_EQ(log.LogFile(), home.file("logs.d/trace.001"));
}

TEST(Logger, OpenFailureReportsFalseAndWritesAreSkipped) {
    clsLogger log("/nonexistent-folder-for-taltrix");
    log.setLogLevel(1);
    log.setMaxFileIterations(3);
    EXPECT_FALSE(log.BeginLogging());
    EXPECT_FALSE(log.isOpen());
    log.WriteLog(1, "nowhere");  // must not crash
}

TEST(StartupLog, BannerAndClosingLine) {
    TempFolder home;
    StartupLog startup;
    startup.start(home.path().string(), "TGC");
    ASSERT_NE(startup.logger(), nullptr);
    EXPECT_EQ(startup.logger()->CurrentProcedure(), "TGC for Taltrix");
    EXPECT_EQ(startup.logger()->MaxFileSize(), 1200000);
    startup.stop();
    EXPECT_EQ(startup.logger(), nullptr);

    const std::string text = home.read("debug.001");
    const std::string banner =
        "Logging for TGC for Taltrix - Version 2.37\r\n" + std::string(65, '_') + "\r\nSTART logging at: ";
    ASSERT_EQ(text.rfind(banner, 0), 0u) << text;
    // "yyyy-mm-dd hh:mm:ss", two line breaks, then the closing line.
    const std::string rest = text.substr(banner.size());
    ASSERT_EQ(rest.size(), 19u + 4u + 17u + 19u + 2u) << rest;
    EXPECT_EQ(rest.substr(19, 4), "\r\n\r\n");
    EXPECT_EQ(rest.substr(23, 17), "STOP logging at: ");
    EXPECT_EQ(rest[4], '-');
    EXPECT_EQ(rest[13], ':');
}

TEST(StartupLog, DropsTheLoggerWhenTheFileCannotBeOpened) {
    StartupLog startup;
    startup.start("/nonexistent-folder-for-taltrix", "TGC");
    EXPECT_EQ(startup.logger(), nullptr);
    startup.stop();
}

}  // namespace
}  // namespace taltrix::app
