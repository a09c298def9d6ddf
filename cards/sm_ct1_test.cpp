// The SM-CT1 test card on a simulated card: its channels and coils, and its interrupt,
// which is kept as the slot's test interrupt status and acknowledged on the card.
#include <gtest/gtest.h>

#include <vector>

#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"

namespace {

constexpr int kSlot = 11;

class SmCt1Test : public SpecialCardTest {
 protected:
  void SetUp() override {
    SpecialCardTest::SetUp();
    ASSERT_EQ(Install(kSlot, "SM-CT1", kSmCt1Template), 0);
  }
};

TEST_F(SmCt1Test, ChannelIndexDrivesTheCoilOfTheSameNumber) {
  std::vector<int32_t> expected;
  for (int c = 0; c <= 19; ++c) expected.push_back(c);
  for (int c = 100; c <= 110; ++c) expected.push_back(c);
  for (int c = 200; c <= 207; ++c) expected.push_back(c);
  for (int c = 300; c <= 307; ++c) expected.push_back(c);
  ASSERT_EQ(Enumerate(kSlot, 0), expected);
  EXPECT_EQ(EnumerateBackwards(kSlot, 0), expected);
  EXPECT_EQ(CardChannelToIndex(kSlot, 111, 0), err::kChannelNotValid);
  EXPECT_EQ(CardChannelToIndex(kSlot, 20, 0), err::kChannelNotValid);
  for (size_t index = 0; index < expected.size(); ++index) {
    ASSERT_EQ(CardSetPending(kSlot, expected[index], 1), 0);
    ASSERT_EQ(Commit(kSlot), 0);
    EXPECT_EQ(Model(kSlot).EnergisedCoils(), std::vector<int>{static_cast<int>(index)});
    ASSERT_EQ(CardSetPending(kSlot, expected[index], 0), 0);
    ASSERT_EQ(Commit(kSlot), 0);
  }
  EXPECT_EQ(CardSettleTime(kSlot), 2000);
}

TEST_F(SmCt1Test, InterruptIsKeptForItsSlotOnlyAndAcknowledged) {
  SetTestInterruptStatus(3, 0x55);
  ASSERT_TRUE(Model(kSlot).RaiseInterrupt(0x80));
  const uint8_t status = CardInterruptStatus(kSlot);
  EXPECT_EQ(status, 0x80);
  ASSERT_EQ(DispatchCardInterrupt(kSlot, status), 0);
  uint8_t kept = 0;
  ASSERT_EQ(GetTestInterruptStatus(kSlot, &kept), 0);
  EXPECT_EQ(kept, 0x80);
  ASSERT_EQ(GetTestInterruptStatus(3, &kept), 0);
  EXPECT_EQ(kept, 0);
  EXPECT_EQ(Model(kSlot).PendingInterrupt(), 0);
  EXPECT_EQ(CardInterruptStatus(kSlot), 0);
}

TEST_F(SmCt1Test, AcknowledgeClearsOnlyTheBitsHandled) {
  ASSERT_TRUE(Model(kSlot).RaiseInterrupt(0xC0));
  ASSERT_EQ(kSmCt1Template.operations.Interrupt(kSlot, 0x40), 0);
  EXPECT_EQ(Model(kSlot).PendingInterrupt(), 0x80);
}

TEST_F(SmCt1Test, BusFailureLeavesTheInterruptPending) {
  ASSERT_TRUE(Model(kSlot).RaiseInterrupt(0x40));
  xbus_->SetSlotFailing(kSlot, true);
  EXPECT_LT(kSmCt1Template.operations.Interrupt(kSlot, 0x40), 0);
  xbus_->SetSlotFailing(kSlot, false);
  EXPECT_EQ(Model(kSlot).PendingInterrupt(), 0x40);
}

}  // namespace
