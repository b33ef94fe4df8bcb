#include "control/websocket/random_source.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace morvane::websocket {
namespace {

class SystemRandom final : public RandomSource {
public:
    bool fill(std::span<std::uint8_t> bytes) override {
        while (!bytes.empty()) {
            if (used_ == pool_.size() && !refill()) return false;
            const std::size_t take = std::min(bytes.size(), pool_.size() - used_);
            std::memcpy(bytes.data(), pool_.data() + used_, take);
            // Bytes handed out are wiped so that the pool never holds a key twice.
            std::memset(pool_.data() + used_, 0, take);
            used_ += take;
            bytes = bytes.subspan(take);
        }
        return true;
    }

private:
    bool refill() {
        std::size_t got = 0;
        while (got < pool_.size()) {
            const ssize_t n = ::getrandom(pool_.data() + got, pool_.size() - got, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        used_ = 0;
        return true;
    }

    std::array<std::uint8_t, 256> pool_{};
    std::size_t used_ = pool_.size();
};

}  // namespace

RandomSource& systemRandom() {
    thread_local SystemRandom source;
    return source;
}

}  // namespace morvane::websocket
