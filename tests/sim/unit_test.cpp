#include <gtest/gtest.h>

#include "sim/unit.h"

namespace {

using sim::Bytes;

Bytes Feed(sim::Unit& unit, const Bytes& bytes) {
    return unit.Feed(bytes.data(), bytes.size());
}

TEST(SimulatedUnit, AnswersReadWithStoredValueAndChecksum) {
    sim::Unit unit;
    unit.Set({1, 101, 3}, 42);
    EXPECT_EQ(Feed(unit, {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x03, 0x55}),
              (Bytes{0xFF, 0x07, 0xF0, 0x65, 0x01, 0x03, 0x2A, 0x76}));
}

TEST(SimulatedUnit, WriteStoresValueAndIsAcknowledged) {
    sim::Unit unit;
    EXPECT_EQ(Feed(unit, {0xFF, 0x07, 0x01, 0x65, 0x3E, 0x01, 0x05, 0x4F}).size(), 8u);
    EXPECT_EQ(unit.Get({1, 101, 1}), 5);
}

TEST(SimulatedUnit, IgnoresMasterInitAndBadChecksumsAndResynchronises) {
    sim::Unit unit;
    unit.Set({1, 101, 1}, 7);
    // Noise, a master initialisation frame, a request with a wrong checksum,
    // then a good request split across two feeds.
    EXPECT_TRUE(
        Feed(unit, {0x00, 0x12, 0xFF, 0x08, 0xF1, 0xCB, 0x3E, 0x00, 0x01, 0x00, 0xFD}).empty());
    EXPECT_TRUE(Feed(unit, {0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x58}).empty());
    EXPECT_TRUE(Feed(unit, {0xFF, 0x06, 0x01}).empty());
    const Bytes reply = Feed(unit, {0x65, 0x3C, 0x01, 0x57});
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[6], 7);
    EXPECT_EQ(unit.Stats().masterInits, 1u);
    EXPECT_EQ(unit.Stats().badChecksums, 1u);
    EXPECT_EQ(unit.Stats().discardedBytes, 2u);
}

TEST(SimulatedUnit, FaultPlanCorruptsSilencesAndTruncatesChosenReplies) {
    sim::FaultPlan faults;
    faults.corruptValueEvery = 2;
    faults.silentEvery = 3;
    faults.truncateEvery = 5;
    sim::Unit unit(faults);
    const Bytes request{0xFF, 0x06, 0x01, 0x65, 0x3C, 0x01, 0x57};
    std::vector<std::size_t> sizes;
    std::vector<bool> checksumOk;
    for (int i = 0; i < 6; ++i) {
        Bytes reply = Feed(unit, request);
        sizes.push_back(reply.size());
        checksumOk.push_back(reply.size() == 8 && sim::Unit::Checksum(reply.data(), 7) == reply[7]);
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 8, 0, 8, 7, 0}));
    EXPECT_EQ(checksumOk, (std::vector<bool>{true, false, false, false, false, false}));
}

}  // namespace
