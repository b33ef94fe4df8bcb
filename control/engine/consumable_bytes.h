// Bytes that arrive at the back and are taken from the front, record by
// record. Taking moves nothing: the taken bytes are left behind, and are
// dropped only when new bytes need the room and at least as many were taken
// as are left. What moves then is the rest, most often the head of a record
// that has not all come yet, so the bytes moved never exceed those taken.
//
// Bytes that arrive while nothing is held may be lent instead: they are
// taken from where the caller has them, and only what is left of them when
// the caller needs its buffer back is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace morvane {

class ConsumableBytes {
public:
    const std::uint8_t* data() const { return lent_ ? lent_->data() : bytes_.data() + start_; }
    std::size_t size() const { return lent_ ? lent_->size() : bytes_.size() - start_; }
    bool empty() const { return size() == 0; }
    operator std::span<const std::uint8_t>() const { return {data(), size()}; }

    // What the held bytes take, taken ones included.
    std::size_t capacity() const { return bytes_.capacity(); }

    // Holds `more` where it lies when nothing else is held (and copies it
    // otherwise); the caller keeps it valid until keep(), append() or clear().
    void lend(std::span<const std::uint8_t> more) {
        if (empty() && !lent_)
            lent_ = more;
        else
            append(more);
    }
    // Copies what is left of lent bytes, so that their owner may change them.
    void keep() {
        if (!lent_) return;
        const std::span<const std::uint8_t> rest = *lent_;
        lent_.reset();
        append(rest);
    }
    void append(std::span<const std::uint8_t> more) {
        keep();
        if (start_ > 0 && start_ >= size() && bytes_.size() + more.size() > bytes_.capacity()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
        bytes_.insert(bytes_.end(), more.begin(), more.end());
    }
    // Takes the first `count` bytes (at most all of them).
    void consume(std::size_t count) {
        count = count < size() ? count : size();
        if (lent_) {
            *lent_ = lent_->subspan(count);
            return;
        }
        start_ += count;
        if (start_ == bytes_.size()) clear();
    }
    void clear() {
        lent_.reset();
        bytes_.clear();
        start_ = 0;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0;
    std::optional<std::span<const std::uint8_t>> lent_;
};

}  // namespace morvane
