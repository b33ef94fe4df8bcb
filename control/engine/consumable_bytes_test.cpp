#include "control/engine/consumable_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Reads of 64 KiB taken as records that straddle them, for long enough that
// a buffer that never dropped what it took, or moved more than it should,
// would show it: the bytes held stay right, and the memory held stays within
// a few reads' worth. Each read is appended, or lent and then kept before
// its buffer is written over with the next one.
TEST(ConsumableBytes, SteadyStreamKeepsItsFootprint) {
    constexpr std::size_t read = 65536;
    constexpr std::size_t record = 16413;
    for (const bool lend : {false, true}) {
        ConsumableBytes bytes;
        std::string model;
        std::string chunk(read, '\0');
        unsigned next = 0;
        for (int round = 0; round < 2000; ++round) {
            for (char& c : chunk) c = static_cast<char>('a' + next++ % 251);
            const std::span<const std::uint8_t> arrived(reinterpret_cast<const std::uint8_t*>(chunk.data()), read);
            if (lend)
                bytes.lend(arrived);
            else
                bytes.append(arrived);
            model += chunk;
            while (bytes.size() >= record) {
                ASSERT_EQ(std::memcmp(bytes.data(), model.data(), record), 0) << round;
                bytes.consume(record);
                model.erase(0, record);
            }
            bytes.keep();
            ASSERT_EQ(text(bytes), model) << round;
        }
        EXPECT_LE(bytes.capacity(), 4 * read) << lend;
    }
}

}  // namespace
}  // namespace morvane
