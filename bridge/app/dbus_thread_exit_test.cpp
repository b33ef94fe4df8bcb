#include "bridge/app/dbus_thread_exit.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace taltrix::app {
namespace {

// A thread of the given name that runs until told to end.
class NamedThread {
public:
    explicit NamedThread(const char* name)
        : thread_([this, name] {
              pthread_setname_np(pthread_self(), name);
              std::unique_lock lock(mutex_);
              named_ = true;
              changed_.notify_all();
              changed_.wait(lock, [this] { return stop_; });
          }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return named_; });
    }
    ~NamedThread() { end(); }

    void end() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool named_ = false;
    bool stop_ = false;
    std::thread thread_;
};

TEST(DbusThreadExit, SeesOnlyTheDbusThreadAndOnlyWhileItRuns) {
    EXPECT_FALSE(dbusThreadRuns());
    {
        // Names that merely resemble it do not count.
        NamedThread shorter("QDBusConnectio");
        NamedThread other("QThread");
        EXPECT_FALSE(dbusThreadRuns());
    }
    NamedThread dbus("QDBusConnection");
    EXPECT_TRUE(dbusThreadRuns());
    dbus.end();
    EXPECT_FALSE(dbusThreadRuns());
}

}  // namespace
}  // namespace taltrix::app
