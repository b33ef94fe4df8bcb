#include "bridge/app/process_priority.h"

#include <sys/resource.h>

#include <cerrno>

namespace taltrix::app {

int niceForClass(std::uint32_t priorityClass) {
    switch (priorityClass) {
        case IDLE_PRIORITY_CLASS: return 19;
        case BELOW_NORMAL_PRIORITY_CLASS: return 10;
        case ABOVE_NORMAL_PRIORITY_CLASS: return -5;
        case HIGH_PRIORITY_CLASS: return -10;
        case REALTIME_PRIORITY_CLASS: return -20;
        default: return 0;
    }
}

std::uint32_t classForNice(int nice) {
    if (nice >= 15) {
        return IDLE_PRIORITY_CLASS;
    }
    if (nice >= 5) {
        return BELOW_NORMAL_PRIORITY_CLASS;
    }
    if (nice >= -2) {
        return NORMAL_PRIORITY_CLASS;
    }
    if (nice >= -7) {
        return ABOVE_NORMAL_PRIORITY_CLASS;
    }
    if (nice >= -15) {
        return HIGH_PRIORITY_CLASS;
    }
    return REALTIME_PRIORITY_CLASS;
}

std::uint32_t setProcessPriority(pid_t processId, std::uint32_t priorityClass) {
    const auto who = static_cast<id_t>(processId);
    // Failure (EACCES, EPERM) leaves the priority as it was, which is all the
    // caller wants to happen then.
    ::setpriority(PRIO_PROCESS, who, niceForClass(priorityClass));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, who);
    if (nice == -1 && errno != 0) {
        return 0;
    }
    return classForNice(nice);
}

}  // namespace taltrix::app
