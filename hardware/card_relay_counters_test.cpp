// Card relay counters against a simulated relay card with an on-card FRAM.
#include "hardware/card_relay_counters.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "hardware/hardware_test_support.h"
#include "sim/card_models.h"

namespace {

class CardRelayCountersTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    card_ = sim::MakeCardModel("SM-MX12H");
    ASSERT_NE(card_, nullptr);
    xbus_->Plug(kSlot, card_);
  }

  static constexpr int kSlot = 4;
  std::shared_ptr<sim::CardModel> card_;
};

TEST_F(CardRelayCountersTest, CounterIsStoredLeastSignificantByteFirstAtFourTimesTheRelay) {
  ASSERT_EQ(WriteFRAMSlotRelayCounter(kSlot, 5, 0x01020304), 0);
  EXPECT_EQ(card_->RelayCounter(5), 0x01020304u);
  const std::vector<uint8_t> fram = card_->FramImage();
  ASSERT_GE(fram.size(), 24u);
  EXPECT_EQ(fram[20], 0x04);
  EXPECT_EQ(fram[21], 0x03);
  EXPECT_EQ(fram[22], 0x02);
  EXPECT_EQ(fram[23], 0x01);
  // Neighbours stay untouched.
  EXPECT_EQ(card_->RelayCounter(4), 0u);
  EXPECT_EQ(card_->RelayCounter(6), 0u);

  uint32_t count = 0;
  ASSERT_EQ(ReadFRAMSlotRelayCounter(kSlot, 5, &count), 0);
  EXPECT_EQ(count, 0x01020304u);
}

TEST_F(CardRelayCountersTest, CountersAboveTheFirstAddressPageRoundTrip) {
  // Relay 128 lives at address 512: the high address byte matters.
  ASSERT_EQ(WriteFRAMSlotRelayCounter(kSlot, 128, 0xFEDCBA98), 0);
  EXPECT_EQ(card_->RelayCounter(128), 0xFEDCBA98u);
  EXPECT_EQ(card_->RelayCounter(0), 0u);
}

TEST_F(CardRelayCountersTest, BusFailureAndBadArgumentsGiveMinusOne) {
  uint32_t count = 99;
  EXPECT_EQ(ReadFRAMSlotRelayCounter(0, 1, &count), -1);
  EXPECT_EQ(ReadFRAMSlotRelayCounter(13, 1, &count), -1);
  EXPECT_EQ(ReadFRAMSlotRelayCounter(kSlot, -1, &count), -1);
  EXPECT_EQ(ReadFRAMSlotRelayCounter(kSlot, 1, nullptr), -1);
  EXPECT_EQ(WriteFRAMSlotRelayCounter(kSlot, 16384, 1), -1);

  xbus_->SetSlotFailing(kSlot, true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadFRAMSlotRelayCounter(kSlot, 1, &count), -1);
  EXPECT_EQ(WriteFRAMSlotRelayCounter(kSlot, 1, 5), -1);
  std::fflush(stdout);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("ReadFRAMSlotRelayCounter"), std::string::npos);
  EXPECT_NE(printed.find("ReadFRAMBytes failed"), std::string::npos);
  EXPECT_NE(printed.find("WriteFRAMBytes failed"), std::string::npos);
  EXPECT_EQ(count, 99u);
  xbus_->SetSlotFailing(kSlot, false);
  EXPECT_EQ(card_->RelayCounter(1), 0u);
}

TEST_F(CardRelayCountersTest, DriverFormChecksSlotAndRelayWithTheEngineCodes) {
  uint32_t count = 0;
  EXPECT_EQ(ReadCardRelayCount(0, 1, 128, &count), -22202);
  EXPECT_EQ(WriteCardRelayCount(13, 1, 128, 1), -22202);
  EXPECT_EQ(ReadCardRelayCount(kSlot, 129, 128, &count), -22201);
  EXPECT_EQ(WriteCardRelayCount(kSlot, -1, 128, 1), -22201);
  EXPECT_EQ(ReadCardRelayCount(kSlot, 128, 128, &count), 0);
}

}  // namespace
