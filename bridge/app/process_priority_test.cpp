#include "bridge/app/process_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace taltrix::app {
namespace {

TEST(ProcessPriority, EveryClassMapsToANiceValueAndBack) {
    for (const std::uint32_t c : {IDLE_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                  ABOVE_NORMAL_PRIORITY_CLASS, HIGH_PRIORITY_CLASS, REALTIME_PRIORITY_CLASS}) {
        EXPECT_EQ(classForNice(niceForClass(c)), c) << c;
    }
    EXPECT_EQ(niceForClass(0x12345), 0);
}

TEST(ProcessPriority, LoweringIsAllowedAndReportedAndRaisingFailsQuietlyOrSucceeds) {
    errno = 0;
    const int before = ::getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(errno, 0);
    // Lowering one's own priority is always allowed.
    EXPECT_EQ(setProcessPriority(0, IDLE_PRIORITY_CLASS), IDLE_PRIORITY_CLASS);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), 19);
    // Raising it back needs privileges this test may not have; either way the
    // answer is the class the process really has.
    const std::uint32_t after = setProcessPriority(0, HIGH_PRIORITY_CLASS);
    EXPECT_EQ(after, classForNice(::getpriority(PRIO_PROCESS, 0)));
    EXPECT_TRUE(after == HIGH_PRIORITY_CLASS || after == IDLE_PRIORITY_CLASS) << after;
    ::setpriority(PRIO_PROCESS, 0, before);
}

}  // namespace
}  // namespace taltrix::app
