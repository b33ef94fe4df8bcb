// Byte vectors that grow without zeroing the new room first, for buffers
// that are written over at once (decrypted records, masked frames). Zeroing
// a megabyte only to overwrite it costs a whole pass over it.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace platform::memory {

template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    // Value-initialisation (what resize() asks for) becomes default-
    // initialisation, which for bytes does nothing.
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

using UninitializedBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

}  // namespace platform::memory
