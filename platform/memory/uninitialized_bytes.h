// A byte buffer that grows without zeroing the new room first, for buffers
// that are written over at once (received payloads, decrypted records,
// masked frames). Zeroing a megabyte only to overwrite it costs a whole pass
// over it.
//
// It is its own small class rather than a std::vector with an allocator that
// skips the zeroing: with any allocator but the standard one, the standard
// library copies, inserts and relocates element by element, a byte at a
// time, instead of with memcpy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <utility>

namespace platform::memory {

class UninitializedBytes {
public:
    using value_type = std::uint8_t;
    using size_type = std::size_t;
    using iterator = std::uint8_t*;
    using const_iterator = const std::uint8_t*;

    UninitializedBytes() = default;
    UninitializedBytes(const UninitializedBytes& other) { append(other); }
    UninitializedBytes(UninitializedBytes&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    UninitializedBytes& operator=(const UninitializedBytes& other) {
        if (this != &other) {
            clear();
            append(other);
        }
        return *this;
    }
    UninitializedBytes& operator=(UninitializedBytes&& other) noexcept {
        UninitializedBytes taken(std::move(other));
        swap(taken);
        return *this;
    }
    ~UninitializedBytes() { std::free(data_); }

    void swap(UninitializedBytes& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    iterator begin() noexcept { return data_; }
    iterator end() noexcept { return data_ + size_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }
    std::uint8_t& operator[](std::size_t i) noexcept { return data_[i]; }
    const std::uint8_t& operator[](std::size_t i) const noexcept { return data_[i]; }

    void clear() noexcept { size_ = 0; }
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) reallocate(capacity);
    }
    // New bytes are left as memory had them: the caller writes them.
    void resize(std::size_t size) {
        if (size > capacity_) reallocate(std::max(size, capacity_ + capacity_ / 2));
        size_ = size;
    }
    void append(std::span<const std::uint8_t> bytes) {
        if (bytes.empty()) return;
        const std::size_t at = size_;
        resize(at + bytes.size());
        std::memcpy(data_ + at, bytes.data(), bytes.size());
    }

private:
    void reallocate(std::size_t capacity) {
        // realloc may move a large block by remapping it instead of copying.
        void* grown = std::realloc(data_, capacity);
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = capacity;
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace platform::memory
