// The SM-MX12H driver on a simulated card: channel and relay numbering, the coils each
// channel energises, the half rules of its multiplexers, the tree relay kept by the
// group rule, the virtual channels, verification, confidence and the relay counters.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "cards/channel_attributes.h"
#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"

namespace {

constexpr int kSlot = 5;

// The card's hardware as its description gives it: multiplexer m has relays 8m..8m+7
// and its tree relay 96 + m; 5000-5010 are coils 108-118 and 6000-6003 coils 119-122.
std::set<int> CoilsOf(int32_t channel) {
  if (channel >= 6000) return {119 + (channel - 6000)};
  if (channel >= 5000) return {108 + (channel - 5000)};
  const int m = channel / 100;
  const int k = channel % 100;
  if (k < 8) return {8 * m + k};
  return {8 * m + k - 8, 96 + m};
}

class SmMx12hTest : public SpecialCardTest {
 protected:
  void SetUp() override {
    SpecialCardTest::SetUp();
    ASSERT_EQ(Install(kSlot, "SM-MX12H", kSmMx12hTemplate), 0);
  }
  std::set<int> Coils() {
    const std::vector<int> coils = Model(kSlot).EnergisedCoils();
    return {coils.begin(), coils.end()};
  }
  void Close(int32_t channel) {
    ASSERT_EQ(CardSetPending(kSlot, channel, 1), 0);
    ASSERT_EQ(Commit(kSlot), 0);
  }
  void Open(int32_t channel) {
    ASSERT_EQ(CardSetPending(kSlot, channel, 0), 0);
    ASSERT_EQ(Commit(kSlot), 0);
  }
  int32_t Verify(int32_t channel, int32_t mode) {
    return kSmMx12hTemplate.operations.VerifyChannel(kSlot, channel, mode);
  }
};

TEST_F(SmMx12hTest, ChannelsRunThroughMultiplexersGroupsAndVirtualRelays) {
  std::vector<int32_t> expected;
  for (int m = 0; m < 12; ++m) {
    for (int k = 0; k < 16; ++k) expected.push_back(100 * m + k);
  }
  for (int c = 5000; c <= 5010; ++c) expected.push_back(c);
  for (int c = 6000; c <= 6003; ++c) expected.push_back(c);
  for (int m = 0; m < 12; ++m) {
    for (int k = 0; k < 8; ++k) expected.push_back(10000 + 100 * m + k);
    expected.push_back(10010 + 100 * m);
  }
  EXPECT_EQ(Enumerate(kSlot, 0), expected);
  EXPECT_EQ(EnumerateBackwards(kSlot, 0), expected);
  EXPECT_EQ(CardChannelCount(kSlot, 0), 315);
  EXPECT_EQ(CardPrevChannel(kSlot, 0, 0), 0);
  EXPECT_EQ(CardNextChannel(kSlot, 11110, 0), err::kChannelNotValid);
  for (int32_t bad : {-1, 16, 99, 1116, 1200, 4999, 5011, 6004, 10008, 10009, 10011, 11111}) {
    EXPECT_EQ(CardChannelToIndex(kSlot, bad, 0), err::kChannelNotValid) << bad;
  }
  EXPECT_EQ(Description(kSlot), "SM-MX12H 12 16-CHANNEL ONE-WIRE MUXes");
  // Init gave every channel, virtual ones too, the card's delays and verify mode 2.
  EXPECT_EQ(GetChannelDelay(kSlot, 11110, 3), 4000);
  EXPECT_EQ(GetChannelVerifyMode(kSlot, 10305), 2);
  EXPECT_EQ(CardSettleTime(kSlot), 4000);
}

TEST_F(SmMx12hTest, ChannelFlagNumbersTheRelays) {
  std::vector<int32_t> expected;
  for (int r = 1; r <= 128; ++r) expected.push_back(r);
  EXPECT_EQ(Enumerate(kSlot, 1), expected);
  EXPECT_EQ(EnumerateBackwards(kSlot, 1), expected);
  EXPECT_EQ(CardChannelCount(kSlot, 1), 128);
  EXPECT_EQ(CardChannelToIndex(kSlot, 1, 1), 0);
  EXPECT_EQ(CardChannelToIndex(kSlot, 128, 1), 127);
  EXPECT_EQ(CardChannelToIndex(kSlot, 0, 1), err::kRelayNotValid);
  EXPECT_EQ(CardChannelToIndex(kSlot, 129, 1), err::kRelayNotValid);
  EXPECT_EQ(CardChannelToIndex(kSlot, 5000, 1), err::kRelayNotValid);
  EXPECT_EQ(CardPrevChannel(kSlot, 1, 1), 0);
  EXPECT_EQ(CardNextChannel(kSlot, 128, 1), err::kChannelNotValid);
  EXPECT_EQ(CardNextChannel(kSlot, 200, 1), err::kRelayNotValid);
}

TEST_F(SmMx12hTest, EachRealChannelAloneEnergisesItsRelayAndForTheHighHalfTheTree) {
  for (int32_t channel : Enumerate(kSlot, 0)) {
    if (channel >= 10000) break;
    // A fresh card each time, so no tree relay is left from the channel before.
    models_[kSlot] = sim::MakeCardModel("SM-MX12H");
    xbus_->Plug(kSlot, models_[kSlot]);
    ASSERT_EQ(CardReset(kSlot), 0);
    Close(channel);
    EXPECT_EQ(Coils(), CoilsOf(channel)) << channel;
    EXPECT_EQ(CardConfidenceCheck(kSlot), 0) << channel;
  }
}

TEST_F(SmMx12hTest, ClosingOneHalfOpensTheOtherHalfOfItsMultiplexer) {
  Close(102);
  Close(105);  // same half: both stay
  Close(1100);  // another multiplexer is left alone
  EXPECT_EQ(Coils(), (std::set<int>{10, 13, 88}));
  Close(110);
  EXPECT_EQ(CardGetRelayState(kSlot, 102), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 105), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 110), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 1100), 1);
  EXPECT_EQ(Coils(), (std::set<int>{10, 97, 88}));
  Close(103);
  EXPECT_EQ(CardGetRelayState(kSlot, 110), 0);
  EXPECT_EQ(Coils(), (std::set<int>{11, 88}));
}

TEST_F(SmMx12hTest, GroupRuleKeepsTheTreeRelayWhileItsMultiplexerHasNothingClosed) {
  Close(8);
  EXPECT_EQ(Coils(), (std::set<int>{0, 96}));
  Open(8);
  EXPECT_EQ(Coils(), (std::set<int>{96}));  // the half stays selected
  EXPECT_EQ(CardGetRelayState(kSlot, 10010), 1);
  Close(5000);  // a write for another reason keeps it too
  EXPECT_EQ(Coils(), (std::set<int>{96, 108}));
  Close(3);  // a closed low-half channel releases it
  EXPECT_EQ(Coils(), (std::set<int>{3, 108}));
  EXPECT_EQ(CardGetRelayState(kSlot, 10010), 0);
}

TEST_F(SmMx12hTest, ResetOpensEveryChannelAndKeepsTheSelectedHalf) {
  Close(9);
  Close(5001);
  ASSERT_EQ(CardReset(kSlot), 0);
  EXPECT_EQ(Coils(), (std::set<int>{96}));
  EXPECT_EQ(CardGetRelayState(kSlot, 9), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 10010), 1);
}

TEST_F(SmMx12hTest, VirtualRelaysFollowEitherHalfAndActOnTheSelectedOne) {
  Close(204);
  EXPECT_EQ(CardGetRelayState(kSlot, 10204), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 10205), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 10210), 0);
  Open(204);
  Close(212);
  EXPECT_EQ(CardGetRelayState(kSlot, 10204), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 10210), 1);

  // The tree released: relay 5 of multiplexer 3 closes channel 305.
  Close(10305);
  EXPECT_EQ(CardGetRelayState(kSlot, 305), 1);
  EXPECT_EQ(Coils(), (std::set<int>{20, 98, 29}));
  Open(10305);
  EXPECT_EQ(CardGetRelayState(kSlot, 305), 0);
  // With the tree energised it closes 313.
  ASSERT_EQ(CardSetPending(kSlot, 10310, 1), 0);
  Close(10305);
  EXPECT_EQ(CardGetRelayState(kSlot, 313), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 305), 0);
  EXPECT_EQ(Coils(), (std::set<int>{20, 98, 29, 99}));
}

TEST_F(SmMx12hTest, TreeChannelMovesClosedChannelsBetweenHalvesAndCommits) {
  Close(402);
  Close(404);
  ASSERT_EQ(CardSetPending(kSlot, 10410, 1), 0);
  EXPECT_EQ(GetPendingChange(kSlot), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 402), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 410), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 412), 1);
  EXPECT_EQ(Coils(), (std::set<int>{34, 36, 100}));
  ASSERT_EQ(CardSetPending(kSlot, 10410, 0), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 402), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 410), 0);
  EXPECT_EQ(Coils(), (std::set<int>{34, 36}));
}

TEST_F(SmMx12hTest, TreeChannelOfAnEmptyMultiplexerDrivesTheTreeAfterCommittingWhatIsPending) {
  ASSERT_EQ(CardSetPending(kSlot, 5001, 1), 0);  // pending, not yet committed
  ASSERT_EQ(CardSetPending(kSlot, 10510, 1), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 5001), 1);
  EXPECT_EQ(GetPendingChange(kSlot), 0);
  EXPECT_EQ(Coils(), (std::set<int>{101, 109}));
  EXPECT_EQ(CardGetRelayState(kSlot, 10510), 1);
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);  // the drive image knows the tree relay
  ASSERT_EQ(CardSetPending(kSlot, 10510, 0), 0);
  EXPECT_EQ(Coils(), (std::set<int>{109}));
  EXPECT_EQ(CardGetRelayState(kSlot, 10510), 0);
}

TEST_F(SmMx12hTest, VerifyComparesRelaysAndTreeWithTheirReadback) {
  Close(702);
  Close(710);  // opens 702, selects the high half
  for (int32_t channel : {710, 10702, 10703, 10710}) {
    EXPECT_EQ(Verify(channel, 1), 1) << channel;
    EXPECT_EQ(Verify(channel, 2), 1) << channel;
  }
  // Mode 0 reads the coil sense inverted: the energised ones disagree.
  EXPECT_EQ(Verify(10702, 0), 0);
  EXPECT_EQ(Verify(10710, 0), 0);
  EXPECT_EQ(Verify(10703, 0), 0);  // released, logically open: inverted it reads closed
  // A relay that sticks energised no longer agrees once its channel opens.
  ASSERT_TRUE(Model(kSlot).StickRelay(58, true));
  Open(710);
  EXPECT_EQ(Verify(10702, 1), 0);
  EXPECT_EQ(Verify(10702, 2), 1);
  EXPECT_EQ(Verify(99, 1), err::kChannelNotValid);
}

TEST_F(SmMx12hTest, StuckRelayGivesTheSlotsConfidenceError) {
  Close(6003);
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
  ASSERT_TRUE(Model(kSlot).StickRelay(122, true));
  Open(6003);
  EXPECT_EQ(CardConfidenceCheck(kSlot), ConfidenceError(kSlot));
}

TEST_F(SmMx12hTest, RelayCountersCoverRelaysZeroTo128) {
  ASSERT_EQ(CardSetRelayCount(kSlot, 128, 0x01020304), 0);
  uint32_t count = 0;
  ASSERT_EQ(CardGetRelayCount(kSlot, 128, &count), 0);
  EXPECT_EQ(count, 0x01020304u);
  EXPECT_EQ(Model(kSlot).RelayCounter(128), 0x01020304u);
  EXPECT_EQ(CardGetRelayCount(kSlot, 129, &count), err::kChannelNotValid);
}

TEST_F(SmMx12hTest, BusFailureReachesTheCaller) {
  xbus_->SetSlotFailing(kSlot, true);
  EXPECT_LT(CardGetRelayState(kSlot, 10010), 0);
  EXPECT_LT(CardSetPending(kSlot, 10001, 1), 0);
  EXPECT_LT(CardSetPending(kSlot, 10010, 1), 0);
  EXPECT_LT(CardWriteHardware(kSlot), 0);
}

}  // namespace
