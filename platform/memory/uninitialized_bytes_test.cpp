#include "platform/memory/uninitialized_bytes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace platform::memory {
namespace {

bool same(const UninitializedBytes& bytes, const std::vector<std::uint8_t>& reference) {
    return bytes.size() == reference.size() && std::equal(bytes.begin(), bytes.end(), reference.begin());
}

// Random edits applied alike to the buffer and to a plain vector: after each,
// both hold the same bytes, whatever growing, shrinking or moving happened.
TEST(UninitializedBytes, KeepsItsBytesThroughEveryEditLikeAPlainVector) {
    std::mt19937 random(17);
    UninitializedBytes bytes;
    std::vector<std::uint8_t> reference;
    std::uint8_t next = 0;
    for (int step = 0; step < 3000; ++step) {
        const std::size_t count = random() % (random() % 8 == 0 ? 70000 : 300);
        switch (random() % 5) {
            case 0: {  // append
                std::vector<std::uint8_t> more(count);
                for (auto& b : more) b = next++;
                bytes.append(more);
                reference.insert(reference.end(), more.begin(), more.end());
                break;
            }
            case 1: {  // grow, then write the new room as a receive would
                const std::size_t old = bytes.size();
                bytes.resize(old + count);
                reference.resize(old + count);
                for (std::size_t i = old; i < old + count; ++i) bytes[i] = reference[i] = next++;
                break;
            }
            case 2:  // shrink
                bytes.resize(bytes.size() - std::min(count, bytes.size()));
                reference.resize(bytes.size());
                break;
            case 3: {  // copy, and move back
                UninitializedBytes copy = bytes;
                ASSERT_TRUE(same(copy, reference));
                bytes = UninitializedBytes();
                ASSERT_TRUE(bytes.empty());
                bytes = std::move(copy);
                break;
            }
            default:
                if (random() % 20 == 0) {
                    bytes.clear();
                    reference.clear();
                }
        }
        ASSERT_TRUE(same(bytes, reference)) << "step " << step;
    }
}

}  // namespace
}  // namespace platform::memory
