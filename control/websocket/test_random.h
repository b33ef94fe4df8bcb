// A random source for tests: hands out a known byte sequence (0, 1, 2, ...
// from a chosen start) or fails on demand.
#pragma once

#include <cstdint>
#include <span>

#include "control/websocket/random_source.h"

namespace morvane::websocket {

class CountingRandom final : public RandomSource {
public:
    explicit CountingRandom(std::uint8_t start = 0) : next_(start) {}
    bool fill(std::span<std::uint8_t> bytes) override {
        if (fail) return false;
        for (auto& b : bytes) b = next_++;
        return true;
    }
    bool fail = false;

private:
    std::uint8_t next_;
};

}  // namespace morvane::websocket
