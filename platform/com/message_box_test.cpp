// The message-box service: a line on standard error until a GUI installs a
// box of its own, and back to the line when it is removed.
#include "platform/com/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace com {
namespace {

std::vector<std::string> shown;

void recordingService(const std::string& caption, const std::string& text) { shown.push_back(caption + "|" + text); }

TEST(MessageBox, StandardErrorUntilAServiceIsInstalled) {
    shown.clear();
    ::testing::internal::CaptureStderr();
    showMessageBox("About", "Version 1.0");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "About: Version 1.0\n");

    EXPECT_EQ(setMessageBoxService(&recordingService), nullptr);
    ::testing::internal::CaptureStderr();
    showMessageBox("About", "Version 1.0");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(shown, (std::vector<std::string>{"About|Version 1.0"}));

    EXPECT_EQ(setMessageBoxService(nullptr), &recordingService);
    ::testing::internal::CaptureStderr();
    showMessageBox("A", "B");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "A: B\n");
    EXPECT_EQ(shown.size(), 1u);
}

}  // namespace
}  // namespace com
