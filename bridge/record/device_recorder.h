// taltrix --record FILE: keeps every piece the launch monitor sends, with
// its arrival time, in a recording (see recording_format.h).
//
// The shot must not wait for the disk: a piece is only copied into memory
// when it arrives, and written out once the bridge has handed it on.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace taltrix::record {

class DeviceRecorder {
public:
    using Clock = std::chrono::steady_clock;

    // Creates the file, or empties the one there, and writes the header.
    explicit DeviceRecorder(const std::string& path);
    ~DeviceRecorder();
    DeviceRecorder(const DeviceRecorder&) = delete;
    DeviceRecorder& operator=(const DeviceRecorder&) = delete;

    // False once the file could not be created or written; error() says why.
    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // A piece as it arrives: kept in memory with the time, nothing written.
    void arrived(std::string_view bytes);
    // Writes every piece kept so far.
    void flush();

    std::uint64_t piecesRecorded() const { return pieces_; }

private:
    void fail(std::string_view what);

    std::string path_;
    int fd_ = -1;
    Clock::time_point start_;
    std::string pending_;
    std::string error_;
    std::uint64_t pieces_ = 0;
};

// The time now in UTC as ISO 8601 with milliseconds, e.g. 2025-12-08T09:14:03.120Z.
std::string utcTimestampNow();

}  // namespace taltrix::record
