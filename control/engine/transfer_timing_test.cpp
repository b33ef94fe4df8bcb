#include "control/engine/transfer_timing.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(DeadlineTest, ZeroTimeoutMeansNoDeadline) {
    Deadline deadline;
    deadline.arm(1000, 0);
    EXPECT_FALSE(deadline.set());
    EXPECT_FALSE(deadline.passed(1'000'000'000));
    deadline.arm(1000, 60);
    EXPECT_FALSE(deadline.passed(1059));
    EXPECT_TRUE(deadline.passed(1060));
    // Re-arming after progress moves it on.
    deadline.arm(1050, 60);
    EXPECT_FALSE(deadline.passed(1100));
    deadline.clear();
    EXPECT_FALSE(deadline.passed(5000));
}

TEST(RateWindowTest, HoldsTheRateToTheLimit) {
    RateWindow window;
    EXPECT_TRUE(window.allows(1000, 0));
    window.recordSend(1000, 10'000);
    // 1000 bytes at once: above 1000 B/s until a second has passed.
    EXPECT_FALSE(window.allows(1000, 10'000));
    EXPECT_FALSE(window.allows(1000, 10'999));
    EXPECT_TRUE(window.allows(1000, 11'000));
    EXPECT_TRUE(window.allows(0, 10'000));  // no limit
    window.recordSend(500, 11'000);
    EXPECT_FALSE(window.allows(1000, 11'400));
    EXPECT_TRUE(window.allows(1000, 11'500));
}

TEST(RateWindowTest, AMinuteWithoutSendingStartsAFreshWindow) {
    RateWindow window;
    window.recordSend(1'000'000, 0);
    EXPECT_FALSE(window.allows(10, 60'000));
    EXPECT_TRUE(window.allows(10, 60'001));
    window.recordSend(5, 60'001);
    EXPECT_EQ(window.windowBytes(), 5);
}

TEST(RateWindowTest, AllowanceIsASecondsWorthAndAtLeastOneByte) {
    RateWindow window;
    EXPECT_EQ(window.allowance(0, 1 << 20), 1u << 20);
    EXPECT_EQ(window.allowance(1000, 1 << 20), 1000u);
    EXPECT_EQ(window.allowance(1000, 10), 10u);
    EXPECT_EQ(window.allowance(1, 10), 1u);
}

}  // namespace
}  // namespace morvane
