// Process priority classes of the other platform, on nice values.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace taltrix::app {

inline constexpr std::uint32_t IDLE_PRIORITY_CLASS = 0x40;
inline constexpr std::uint32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
inline constexpr std::uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr std::uint32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
inline constexpr std::uint32_t HIGH_PRIORITY_CLASS = 0x80;
inline constexpr std::uint32_t REALTIME_PRIORITY_CLASS = 0x100;

// The nice value a class stands for, and the class a nice value falls in.
int niceForClass(std::uint32_t priorityClass);
std::uint32_t classForNice(int nice);

// Sets the priority class of a process (0: this process) and returns the
// class it has afterwards, or 0 when it cannot be read. Raising the priority
// needs CAP_SYS_NICE or a fitting RLIMIT_NICE; when it is not allowed the
// priority stays as it was and nothing is reported.
std::uint32_t setProcessPriority(pid_t processId, std::uint32_t priorityClass);

}  // namespace taltrix::app
