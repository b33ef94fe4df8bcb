#include "bridge/record/device_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "bridge/record/recording_format.h"

namespace taltrix::record {

std::string utcTimestampNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return std::string(text, length) + "." + std::to_string(1000 + millis).substr(1) + "Z";
}

DeviceRecorder::DeviceRecorder(const std::string& path) : path_(path), start_(Clock::now()) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot create " + path + ": " + std::strerror(errno);
        return;
    }
    pending_ = headerLine(utcTimestampNow());
    flush();
}

DeviceRecorder::~DeviceRecorder() {
    flush();
    if (fd_ >= 0) ::close(fd_);
}

void DeviceRecorder::arrived(std::string_view bytes) {
    if (fd_ < 0 || bytes.empty()) return;
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
    appendRecord(pending_, static_cast<std::uint64_t>(since), bytes);
    ++pieces_;
}

void DeviceRecorder::flush() {
    std::size_t at = 0;
    while (fd_ >= 0 && at < pending_.size()) {
        const ssize_t written = ::write(fd_, pending_.data() + at, pending_.size() - at);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("cannot write to ");
            break;
        }
        at += static_cast<std::size_t>(written);
    }
    pending_.clear();
}

void DeviceRecorder::fail(std::string_view what) {
    error_ = std::string(what) + path_ + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace taltrix::record
