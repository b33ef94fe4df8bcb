#include "bridge/links/relay_message_joiner.h"

#include <gtest/gtest.h>

namespace taltrix::links {
namespace {

using Outcome = RelayMessageJoiner::Outcome;

TEST(RelayMessageJoiner, JoinsPartsUntilTheEndOfTheMessage) {
    RelayMessageJoiner joiner;
    EXPECT_EQ(joiner.add("{\"protocol\":\"HXP\", \"DA", false), Outcome::partial);
    EXPECT_EQ(joiner.add("", false), Outcome::partial);
    EXPECT_EQ(joiner.add("TA\":{\"playerClub\":\"I7\"}}", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "{\"protocol\":\"HXP\", \"DATA\":{\"playerClub\":\"I7\"}}");
    EXPECT_EQ(joiner.takeMessage(), "");

    // A message in one part, and an empty one, are whole at once.
    EXPECT_EQ(joiner.add("abc", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "abc");
    EXPECT_EQ(joiner.add("", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "");
}

TEST(RelayMessageJoiner, KeepsMessagesUpToTheBoundAndDropsLongerOnesWhole) {
    const std::size_t bound = RelayMessageJoiner::maxMessageLength;
    RelayMessageJoiner joiner;
    EXPECT_EQ(joiner.add(std::string(bound - 1, 'a'), false), Outcome::partial);
    EXPECT_EQ(joiner.add("b", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage().size(), bound);

    // One character too many: reported once, the rest passed over up to its
    // end, and the next message is read as usual.
    EXPECT_EQ(joiner.add(std::string(bound, 'a'), false), Outcome::partial);
    EXPECT_EQ(joiner.add("b", false), Outcome::tooLong);
    EXPECT_EQ(joiner.pendingLength(), 0u);
    EXPECT_EQ(joiner.add(std::string(bound, 'c'), false), Outcome::skipped);
    EXPECT_EQ(joiner.add("d", true), Outcome::skipped);
    EXPECT_EQ(joiner.add("{\"protocol\":\"HALVEX\"}", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "{\"protocol\":\"HALVEX\"}");

    // A too-long message that ends in the part that passed the bound leaves
    // nothing to skip.
    EXPECT_EQ(joiner.add(std::string(bound + 1, 'a'), true), Outcome::tooLong);
    EXPECT_EQ(joiner.add("next", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "next");
}

TEST(RelayMessageJoiner, ResetForgetsHalfMessagesAndADrop) {
    RelayMessageJoiner joiner;
    joiner.add("{\"protocol\":", false);
    joiner.reset();
    EXPECT_EQ(joiner.add("{\"protocol\":\"HXP\"}", true), Outcome::whole);
    EXPECT_EQ(joiner.takeMessage(), "{\"protocol\":\"HXP\"}");

    joiner.add(std::string(RelayMessageJoiner::maxMessageLength + 1, 'x'), false);
    joiner.reset();
    EXPECT_EQ(joiner.add("fresh", true), Outcome::whole);
}

}  // namespace
}  // namespace taltrix::links
