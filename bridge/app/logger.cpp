#include "bridge/app/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace taltrix::app {

namespace {

// Where the file name starts: dots in folder names (mktemp's "tmp.XXXX",
// "~/.local") are not the file's extension.
std::size_t fileNameStart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

std::size_t extensionDot(const std::string& path) { return path.find('.', fileNameStart(path)); }

bool sizeOnDisk(const std::string& path, off_t& size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    size = st.st_size;
    return true;
}

}  // namespace

clsLogger::clsLogger(std::string programFolder) : programFolder_(std::move(programFolder)) {}

clsLogger::~clsLogger() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void clsLogger::setLogLevel(std::int32_t value) {
    if (value >= 0 && value <= 255) {
        logLevel_ = static_cast<std::uint8_t>(value);
    }
}

bool clsLogger::BeginLogging() {
    if (logFile_.empty()) {
        logFile_ = programFolder_;
        if (logFile_.empty() || logFile_.back() != '/') {
            logFile_ += '/';
        }
        logFile_ += "debug";
        logFile_ += maxFileIterations_ != 0 ? ".001" : ".log";
    }
    if (extensionDot(logFile_) == std::string::npos) {
        if (maxFileIterations_ != 0) {
            RotateLogFile();
        } else {
            logFile_ += ".log";
        }
    }
    // A second BeginLogging without StopLogging would otherwise lose the
    // first descriptor.
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    off_t size = 0;
    const bool exists = sizeOnDisk(logFile_, size);
    const int flags = O_WRONLY | O_CLOEXEC | (exists ? 0 : O_CREAT | O_EXCL);
    fd_ = ::open(logFile_.c_str(), flags, 0666);
    if (fd_ < 0) {
        return false;
    }
    if (size != 0 && ::lseek(fd_, size, SEEK_SET) != size) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool clsLogger::StopLogging() {
    if (fd_ >= 0) {
        ::fsync(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    return false;
}

bool clsLogger::WriteToFile(std::string_view text) {
    off_t size = 0;
    sizeOnDisk(logFile_, size);
    if (maxFileSize_ >= 1 && size + static_cast<off_t>(text.size()) - 1 > maxFileSize_) {
        StopLogging();
        RotateLogFile();
        BeginLogging();
    }
    if (fd_ < 0) {
        return false;
    }
    while (!text.empty()) {
        const ssize_t n = ::write(fd_, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool clsLogger::RotateLogFile() {
    if (maxFileIterations_ >= 1 && CurrentIteration() != maxFileIterations_) {
        setCurrentIteration(CurrentIteration() + 1);
    } else if (maxFileIterations_ >= 1) {
        setCurrentIteration(1);
    } else {
        ::unlink(logFile_.c_str());
        return true;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%03d", CurrentIteration());
    const std::size_t dot = extensionDot(logFile_);
    if (dot == std::string::npos) {
        logFile_ += '.';
    } else {
        logFile_.resize(dot + 1);
    }
    logFile_ += number;
    return true;
}

}  // namespace taltrix::app
