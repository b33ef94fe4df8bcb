// clsLogger: a small file logger with a level filter and size-based rotation
// over a fixed number of numbered files (name.001, name.002, ...).
//
// Text is written as it is held, one byte per character in the ANSI code
// page; the logger adds no line ends, time stamps or separators of its own,
// except the tab after each extra value of WriteLog. No member reports an
// error to the user: a step that fails is skipped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace taltrix::app {

class clsLogger {
public:
    // programFolder: where BeginLogging puts the log when LogFile is empty.
    explicit clsLogger(std::string programFolder);
    ~clsLogger();
    clsLogger(const clsLogger&) = delete;
    clsLogger& operator=(const clsLogger&) = delete;

    // Writes text followed by each value and a tab, when level is at most
    // LogLevel.
    template <typename... Values>
    void WriteLog(std::uint8_t level, std::string_view text, const Values&... variables) {
        if (logLevel_ < level) {
            return;
        }
        std::string line(text);
        ((line += toText(variables), line += '\t'), ...);
        WriteToFile(line);
    }

    // Opens or creates LogFile and moves to its end; true when it is open.
    bool BeginLogging();
    // Flushes and closes the file. Always false, as it always was.
    bool StopLogging();

    const std::string& CurrentProcedure() const { return currentProcedure_; }
    void setCurrentProcedure(std::string value) { currentProcedure_ = std::move(value); }
    const std::string& LogFile() const { return logFile_; }
    void setLogFile(std::string value) { logFile_ = std::move(value); }
    std::int32_t LogLevel() const { return logLevel_; }
    // A value outside 0..255 leaves the level as it was.
    void setLogLevel(std::int32_t value);
    std::int32_t MaxFileSize() const { return maxFileSize_; }
    void setMaxFileSize(std::int32_t value) { maxFileSize_ = value; }
    std::int32_t MaxFileIterations() const { return maxFileIterations_; }
    void setMaxFileIterations(std::int32_t value) { maxFileIterations_ = value; }

    bool isOpen() const { return fd_ >= 0; }

private:
    static std::string toText(std::string_view v) { return std::string(v); }
    static std::string toText(const char* v) { return v != nullptr ? std::string(v) : std::string(); }
    static std::string toText(bool v) { return v ? "True" : "False"; }
    template <typename T>
    requires std::is_arithmetic_v<T>
    static std::string toText(T v) {
        if constexpr (std::is_floating_point_v<T>) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.15G", static_cast<double>(v));
            return buffer;
        } else {
            return std::to_string(v);
        }
    }

    bool WriteToFile(std::string_view text);
    std::int32_t CurrentIteration() const { return currentIteration_; }
    void setCurrentIteration(std::int32_t value) { currentIteration_ = value; }
    bool RotateLogFile();

    int fd_ = -1;
    std::string currentProcedure_;
    std::string logFile_;
    std::uint8_t logLevel_ = 0;
    std::int32_t maxFileSize_ = 0;
    std::int32_t maxFileIterations_ = 0;
    std::int32_t currentIteration_ = 0;
    std::string programFolder_;
};

}  // namespace taltrix::app
