#include "control/engine/consumable_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace morvane {
namespace {

std::string text(const ConsumableBytes& bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// Appends and takes in record-like steps, across the point where taken
// bytes are dropped, and always holds what a plain string model holds.
TEST(ConsumableBytes, HoldsWhatWasAppendedAndNotYetTaken) {
    ConsumableBytes bytes;
    std::string model;
    unsigned next = 0;
    for (const std::size_t take : {0, 5, 16384, 100, 20000, 1, 70000, 3}) {
        std::string chunk(9000, '\0');
        for (char& c : chunk) c = static_cast<char>('a' + next++ % 26);
        for (int i = 0; i < 4; ++i) {
            bytes.append({reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()});
            model += chunk;
        }
        bytes.consume(take);
        model.erase(0, std::min(take, model.size()));
        ASSERT_EQ(bytes.size(), model.size()) << take;
        EXPECT_EQ(text(bytes), model) << take;
        EXPECT_EQ(std::span<const std::uint8_t>(bytes).size(), model.size());
    }
    bytes.consume(bytes.size() + 10);
    EXPECT_TRUE(bytes.empty());
    bytes.append({reinterpret_cast<const std::uint8_t*>("xy"), 2});
    EXPECT_EQ(text(bytes), "xy");
}

}  // namespace
}  // namespace morvane
