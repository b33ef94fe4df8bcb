// Bytes that arrive at the back and are taken from the front, record by
// record. Taking moves nothing: the taken bytes are left behind and dropped
// in one move once they are more than half of what is held, so a read of
// many records costs linear time rather than a move of the rest per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane {

class ConsumableBytes {
public:
    const std::uint8_t* data() const { return bytes_.data() + start_; }
    std::size_t size() const { return bytes_.size() - start_; }
    bool empty() const { return size() == 0; }
    operator std::span<const std::uint8_t>() const { return {data(), size()}; }

    void append(std::span<const std::uint8_t> more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }
    // Takes the first `count` bytes (at most all of them).
    void consume(std::size_t count) {
        start_ += count < size() ? count : size();
        if (start_ == bytes_.size()) {
            clear();
        } else if (start_ >= kCompactAt && start_ * 2 >= bytes_.size()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
    }
    void clear() {
        bytes_.clear();
        start_ = 0;
    }

private:
    static constexpr std::size_t kCompactAt = 16384;
    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0;
};

}  // namespace morvane
