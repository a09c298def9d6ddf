// The SM-MX26Q driver on a simulated card: its channels, the tree coils each channel
// energises, and its relay counters.
#include <gtest/gtest.h>

#include <vector>

#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"

namespace {

constexpr int kSlot = 9;

class SmMx26qTest : public SpecialCardTest {
 protected:
  void SetUp() override {
    SpecialCardTest::SetUp();
    ASSERT_EQ(Install(kSlot, "SM-MX26Q", kSmMx26qTemplate), 0);
  }
};

TEST_F(SmMx26qTest, ChannelsAreFourPerMultiplexerInGroupsOfTen) {
  std::vector<int32_t> expected;
  for (int m = 0; m < 26; ++m) {
    for (int k = 0; k < 4; ++k) expected.push_back(10 * m + k);
  }
  EXPECT_EQ(Enumerate(kSlot, 0), expected);
  EXPECT_EQ(EnumerateBackwards(kSlot, 0), expected);
  EXPECT_EQ(CardChannelCount(kSlot, 0), 104);
  EXPECT_EQ(CardNextChannel(kSlot, 253, 0), err::kChannelNotValid);
  for (int32_t bad : {-1, 4, 9, 254, 260}) {
    EXPECT_EQ(CardChannelToIndex(kSlot, bad, 0), err::kChannelNotValid) << bad;
  }
  EXPECT_EQ(CardSettleTime(kSlot), 4000);
}

TEST_F(SmMx26qTest, EachChannelAloneDrivesItsTreeCoils) {
  for (int m = 0; m < 26; ++m) {
    // k = 0 is the path with both relays released.
    const std::vector<int> coils_of[4] = {{}, {2 * m}, {2 * m, 2 * m + 1}, {2 * m + 1}};
    for (int k = 0; k < 4; ++k) {
      const int32_t channel = 10 * m + k;
      ASSERT_EQ(CardSetPending(kSlot, channel, 1), 0);
      ASSERT_EQ(Commit(kSlot), 0);
      EXPECT_EQ(Model(kSlot).EnergisedCoils(), coils_of[k]) << channel;
      EXPECT_EQ(CardConfidenceCheck(kSlot), 0) << channel;
      ASSERT_EQ(CardSetPending(kSlot, channel, 0), 0);
      ASSERT_EQ(Commit(kSlot), 0);
    }
  }
  EXPECT_TRUE(Model(kSlot).EnergisedCoils().empty());
}

TEST_F(SmMx26qTest, ClosingAChannelOpensTheOthersOfItsMultiplexer) {
  for (int32_t channel : {11, 13, 21}) {
    ASSERT_EQ(CardSetPending(kSlot, channel, 1), 0);
    ASSERT_EQ(Commit(kSlot), 0);
  }
  // 13 replaced 11 (together they would read as 12); multiplexer 2 is left alone.
  EXPECT_EQ(CardGetRelayState(kSlot, 11), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 13), 1);
  EXPECT_EQ(Model(kSlot).EnergisedCoils(), (std::vector<int>{3, 4}));
  ASSERT_EQ(CardSetPending(kSlot, 10, 1), 0);
  ASSERT_EQ(Commit(kSlot), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 13), 0);
  EXPECT_EQ(Model(kSlot).EnergisedCoils(), (std::vector<int>{4}));
}

TEST_F(SmMx26qTest, RelayCountersCoverRelaysZeroToFiftyTwo) {
  ASSERT_EQ(CardSetRelayCount(kSlot, 52, 0x01020304), 0);
  EXPECT_EQ(Model(kSlot).RelayCounter(52), 0x01020304u);
  uint32_t count = 0;
  EXPECT_EQ(CardGetRelayCount(kSlot, 53, &count), err::kChannelNotValid);
}

}  // namespace
