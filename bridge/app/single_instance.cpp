#include "bridge/app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace taltrix::app {

std::string SingleInstance::lockPathFor(std::string_view title) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && *runtime != '\0' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        return std::string(runtime) + "/" + std::string(title) + ".lock";
    }
    return "/tmp/" + std::string(title) + "-" + std::to_string(::getuid()) + ".lock";
}

SingleInstance::SingleInstance(std::string_view title) : path_(lockPathFor(title)) {}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstance::anotherInstanceRuns() {
    if (fd_ >= 0) {
        return false;
    }
    // O_NOFOLLOW: in a shared /tmp someone else could plant a link here.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held;
    }
    fd_ = fd;
    return false;
}

}  // namespace taltrix::app
