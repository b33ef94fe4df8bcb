// One bridge per user session: a lock named after the application title.
//
// The lock is an flock(2) on "<title>.lock" in $XDG_RUNTIME_DIR (the user's
// private runtime folder), or on "<title>-<uid>.lock" in /tmp when that is
// not set. The kernel drops the lock when the process ends, however it ends,
// so a crash never leaves a stale lock behind.
#pragma once

#include <string>
#include <string_view>

namespace taltrix::app {

class SingleInstance {
public:
    explicit SingleInstance(std::string_view title);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance holds the lock. Otherwise the lock is held
    // for the life of this object. When the lock file cannot be opened at
    // all the check cannot be made, and the answer is false.
    bool anotherInstanceRuns();

    const std::string& lockPath() const { return path_; }
    static std::string lockPathFor(std::string_view title);

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace taltrix::app
