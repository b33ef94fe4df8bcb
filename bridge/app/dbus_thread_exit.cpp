#include "bridge/app/dbus_thread_exit.h"

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace taltrix::app {

namespace {

// Qt names a thread after its class, cut to the 15 characters a thread name
// holds: QDBusConnectionManager becomes this.
constexpr std::string_view dbusThreadName = "QDBusConnection";

// Once Qt has stopped it, the thread ends within microseconds; the bound only
// keeps a thread that never ends from holding up the exit.
constexpr auto longestWait = std::chrono::seconds(2);
constexpr auto pollInterval = std::chrono::milliseconds(1);

std::string threadName(const char* taskId) {
    const std::string path = std::string("/proc/self/task/") + taskId + "/comm";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return {};  // the thread has just gone
    char name[64] = {};
    const bool read = std::fgets(name, sizeof name, file) != nullptr;
    std::fclose(file);
    if (!read) return {};
    std::string text(name);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void awaitDbusThread() {
    const auto deadline = std::chrono::steady_clock::now() + longestWait;
    while (dbusThreadRuns() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(pollInterval);
    }
}

}  // namespace

bool dbusThreadRuns() {
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        if (threadName(entry->d_name) == dbusThreadName) {
            found = true;
            break;
        }
    }
    ::closedir(tasks);
    return found;
}

void awaitDbusThreadAtExit() {
    static std::once_flag installed;
    std::call_once(installed, [] { std::atexit(awaitDbusThread); });
}

}  // namespace taltrix::app
