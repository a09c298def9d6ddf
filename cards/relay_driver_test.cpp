// The relay-driver core on an SM-RD96 on the simulated chassis bus: pending images and
// their merges, drive writes, verification and confidence checks with their failure
// paths, reset and shutdown; the generic card from its downloaded tables; the chassis
// pseudo-card.
#include "cards/relay_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "hardware/hardware_test_support.h"
#include "scpi/error_codes.h"
#include "sim/card_models.h"

namespace {

constexpr int kSlot = 7;

// A card whose coils read back wrong for the next few readback reads of drive byte 0, as
// a relay still moving would.
class SlowCard : public sim::LocalBusTarget {
 public:
  explicit SlowCard(std::shared_ptr<sim::CardModel> card) : card_(std::move(card)) {}
  int ReadByte(uint32_t address, uint8_t* byte) override {
    const int result = card_->ReadByte(address, byte);
    if (address == kDriveRegister && wrong_reads > 0) {
      --wrong_reads;
      *byte ^= 0x01;
    }
    if (address == kDriveRegister) ++readback_reads;
    return result;
  }
  int WriteByte(uint32_t address, uint8_t byte) override { return card_->WriteByte(address, byte); }

  int wrong_reads = 0;
  int readback_reads = 0;

 private:
  std::shared_ptr<sim::CardModel> card_;
};

class RelayDriverTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    card_ = sim::MakeCardModel("SM-RD96");
    slow_ = std::make_shared<SlowCard>(card_);
    xbus_->Plug(kSlot, slow_);
    ASSERT_EQ(InstallCard(kSlot, 0x7A01), 0);
  }
  void TearDown() override {
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  std::vector<uint8_t> Current() const {
    const uint8_t* image = CurrentImage(kSlot);
    return std::vector<uint8_t>(image, image + 12);
  }
  void Commit() {
    ASSERT_GE(CardApplyPending(kSlot, 3), 0);
    ASSERT_EQ(CardWriteHardware(kSlot), 0);
  }

  std::shared_ptr<sim::CardModel> card_;
  std::shared_ptr<SlowCard> slow_;
};

TEST_F(RelayDriverTest, PendingChangesMergeByHow) {
  ASSERT_EQ(CardSetPending(kSlot, 100, 1), 0);
  EXPECT_EQ(GetPendingChange(kSlot), 1);
  EXPECT_EQ(CardApplyPending(kSlot, 1), 0);  // openings only: the closing stays out
  EXPECT_EQ(CardGetRelayState(kSlot, 100), 0);
  EXPECT_EQ(CardApplyPending(kSlot, 2), 1);  // closings only
  EXPECT_EQ(CardGetRelayState(kSlot, 100), 1);
  EXPECT_EQ(CardApplyPending(kSlot, 2), 0);  // nothing left to change

  ASSERT_EQ(CardSetPending(kSlot, 100, 0), 0);
  ASSERT_EQ(CardSetPending(kSlot, 1207, 1), 0);
  EXPECT_EQ(CardApplyPending(kSlot, 2), 1);  // takes 1207, keeps 100 closed
  EXPECT_EQ(CardGetRelayState(kSlot, 100), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 1207), 1);
  EXPECT_EQ(CardApplyPending(kSlot, 1), 1);  // now the opening of 100
  EXPECT_EQ(CardGetRelayState(kSlot, 100), 0);

  ASSERT_EQ(CardSetPending(kSlot, 500, 1), 0);
  for (int how : {0, 4, -1}) EXPECT_EQ(CardApplyPending(kSlot, how), 0) << how;
  EXPECT_EQ(CardGetRelayState(kSlot, 500), 0);
  EXPECT_EQ(CardApplyPending(kSlot, 3), 1);
  EXPECT_EQ(CardApplyPending(kSlot, 3), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 500), 1);
}

TEST_F(RelayDriverTest, PendingChangeIsMarkedOnlyWhenABitChanges) {
  ASSERT_EQ(CardSetPending(kSlot, 203, 0), 0);  // already open
  EXPECT_EQ(GetPendingChange(kSlot), 0);
  ASSERT_EQ(CardSetPending(kSlot, 203, 1), 0);
  EXPECT_EQ(GetPendingChange(kSlot), 1);
  ClearPendingChange(kSlot);
  ASSERT_EQ(CardSetPending(kSlot, 203, 5), 0);  // any nonzero closes: no change
  EXPECT_EQ(GetPendingChange(kSlot), 0);
}

TEST_F(RelayDriverTest, RevertPendingDropsWhatWasNotApplied) {
  ASSERT_EQ(CardSetPending(kSlot, 300, 1), 0);
  Commit();
  ASSERT_EQ(CardSetPending(kSlot, 300, 0), 0);
  ASSERT_EQ(CardSetPending(kSlot, 301, 1), 0);
  EXPECT_EQ(CardRevertPending(kSlot), 0);
  EXPECT_EQ(CardApplyPending(kSlot, 3), 0);
  EXPECT_EQ(CardGetRelayState(kSlot, 300), 1);
  EXPECT_EQ(CardGetRelayState(kSlot, 301), 0);
}

TEST_F(RelayDriverTest, WriteHardwareDrivesEveryClosedChannelAndNothingElse) {
  for (int32_t channel : {100, 107, 805, 1200}) ASSERT_EQ(CardSetPending(kSlot, channel, 1), 0);
  Commit();
  EXPECT_EQ(card_->EnergisedCoils(), (std::vector<int>{0, 7, 61, 88}));
  ASSERT_EQ(CardSetPending(kSlot, 107, 0), 0);
  Commit();
  EXPECT_EQ(card_->EnergisedCoils(), (std::vector<int>{0, 61, 88}));
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
}

TEST_F(RelayDriverTest, LocalBusFailuresArePassedUp) {
  ASSERT_EQ(CardSetPending(kSlot, 100, 1), 0);
  ASSERT_EQ(CardApplyPending(kSlot, 3), 1);
  xbus_->SetSlotFailing(kSlot, true);
  EXPECT_EQ(CardWriteHardware(kSlot), err::kFpgaIoError);
  EXPECT_EQ(CardConfidenceCheck(kSlot), err::kFpgaIoError);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 100, 1), err::kFpgaIoError);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 100, 2), 1);  // mode 2 reads nothing
}

TEST_F(RelayDriverTest, VerifyComparesReadbackWithTheCurrentImageByMode) {
  ASSERT_EQ(CardSetPending(kSlot, 402, 1), 0);
  Commit();
  EXPECT_EQ(RelayVerifyChannel(kSlot, 402, 1), 1);  // energised reads 0: closed
  EXPECT_EQ(RelayVerifyChannel(kSlot, 402, 0), 0);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 403, 1), 1);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 403, 0), 0);

  // Closed in the image but not on the card.
  ASSERT_EQ(CardSetPending(kSlot, 403, 1), 0);
  ASSERT_EQ(CardApplyPending(kSlot, 3), 1);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 403, 1), 0);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 403, 0), 1);
  const int reads = slow_->readback_reads;
  EXPECT_EQ(RelayVerifyChannel(kSlot, 403, 2), 1);
  EXPECT_EQ(slow_->readback_reads, reads);

  EXPECT_EQ(RelayVerifyChannel(0, 403, 1), err::kSlotOutOfRange);
  EXPECT_EQ(RelayVerifyChannel(13, 403, 2), err::kSlotOutOfRange);
  EXPECT_EQ(RelayVerifyChannel(kSlot, 408, 2), err::kChannelNotValid);
}

TEST_F(RelayDriverTest, ConfidenceMismatchThatClearsOnTheSecondReadPasses) {
  ASSERT_EQ(CardSetPending(kSlot, 100, 1), 0);
  Commit();
  const int reads = slow_->readback_reads;
  slow_->wrong_reads = 1;
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
  EXPECT_EQ(slow_->readback_reads, reads + 2);

  slow_->wrong_reads = 2;
  EXPECT_EQ(CardConfidenceCheck(kSlot), ConfidenceError(kSlot));
  EXPECT_EQ(ConfidenceError(kSlot), -20087);
}

TEST_F(RelayDriverTest, ChannelAndSlotRefusals) {
  for (int32_t channel : {99, 108, 1208, 1300, 0, -100}) {
    EXPECT_EQ(RelayChannelToIndex(kSlot, channel, 0), err::kChannelNotValid) << channel;
  }
  EXPECT_EQ(RelayChannelToIndex(kSlot, 1207, 0), 95);
  EXPECT_EQ(RelayGetRelayState(0, 100), err::kSlotOutOfRange);
  EXPECT_EQ(RelayGetRelayState(13, 100), err::kSlotOutOfRange);
  EXPECT_EQ(RelayGetRelayState(kSlot, 108), err::kChannelNotValid);
  EXPECT_EQ(RelayIsValidChannel(0, 100), 0);
  EXPECT_EQ(RelayIsValidChannel(kSlot, 100), 1);
  EXPECT_EQ(RelayPrevChannel(kSlot, 100, 0), 0);
  EXPECT_EQ(RelayPrevChannel(kSlot, 200, 0), 107);
  EXPECT_EQ(RelayNextChannel(kSlot, 107, 0), 200);
  EXPECT_EQ(RelayNextChannel(kSlot, 1207, 0), err::kChannelNotValid);
}

TEST_F(RelayDriverTest, ACardWithoutImagesAnswers904) {
  // As a card whose image allocation failed in Init.
  const int slot = 9;
  *CardSlotRecord(slot) = *FindCardTemplate(0x7A01);
  EXPECT_EQ(RelayGetRelayState(slot, 100), kNoRelayImages);
  EXPECT_EQ(RelayWriteHardware(slot), kNoRelayImages);
  EXPECT_EQ(RelayConfidenceCheck(slot), kNoRelayImages);
  EXPECT_EQ(RelayVerifyChannel(slot, 100, 1), kNoRelayImages);
  EXPECT_EQ(RelayVerifyChannel(slot, 100, 2), 1);
  EXPECT_EQ(RelaySetPending(slot, 100, 1), kNoRelayImages);
  EXPECT_EQ(RelayApplyPending(slot, 3), kNoRelayImages);
  EXPECT_EQ(RelayShutdown(slot), 0);
}

TEST_F(RelayDriverTest, ResetOpensEverythingAndRestoresDelaysAndMode) {
  ASSERT_EQ(CardSetPending(kSlot, 600, 1), 0);
  Commit();
  ASSERT_EQ(CardSetPending(kSlot, 601, 1), 0);  // still pending
  ASSERT_EQ(SetChannelDelay(kSlot, 600, 0, 5.0), 0);
  ASSERT_EQ(SetChannelDelay(kSlot, 600, 3, 7.0), 0);
  ASSERT_EQ(SetSwitchingMode(kSlot, 1), 0);

  EXPECT_EQ(CardReset(kSlot), 0);
  EXPECT_TRUE(card_->EnergisedCoils().empty());
  EXPECT_EQ(Current(), std::vector<uint8_t>(12, 0));
  EXPECT_EQ(CardApplyPending(kSlot, 3), 0);  // the pending closing is gone too
  EXPECT_EQ(GetChannelDelay(kSlot, 600, 0), 1000.0);
  EXPECT_EQ(GetChannelDelay(kSlot, 600, 3), 7.0);  // only the first two are reset
  uint32_t mode = 9;
  ASSERT_EQ(GetSwitchingMode(kSlot, &mode), 0);
  EXPECT_EQ(mode, 0u);
}

TEST_F(RelayDriverTest, ShutdownClearsTheImagesWithoutWriting) {
  ASSERT_EQ(CardSetPending(kSlot, 700, 1), 0);
  Commit();
  EXPECT_EQ(RelayShutdown(kSlot), 0);
  EXPECT_EQ(Current(), std::vector<uint8_t>(12, 0));
  EXPECT_EQ(card_->EnergisedCoils(), std::vector<int>{48});
  EXPECT_EQ(CardWriteHardware(kSlot), 0);
  EXPECT_TRUE(card_->EnergisedCoils().empty());
}

// Downloaded cards; the first has channels with gaps, a scrambled bit table with one bit
// past its drive bytes, 3 drive bytes and a mask without bit 23.
class GenericCardTest : public SimulatedHardwareTest {
 protected:
  static constexpr int kGenericSlot = 2;
  static constexpr uint16_t kTypeId = 0x7C42;

  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
  }
  // Installs a downloaded card with `block`'s tables (module id and type id added).
  void Install(sim::EpromBlock block, int drive_bytes) {
    block.module_id = "XY-TEST6 SIX RELAYS";
    block.type_id = kTypeId;
    block.channel_count = static_cast<uint16_t>(block.channel_table.size());
    sim::CardTraits traits;
    traits.model = "XY-TEST6";
    traits.type_id = kTypeId;
    traits.eprom = sim::BuildEpromImage(block);
    traits.drive_bytes = drive_bytes;
    card_ = std::make_shared<sim::CardModel>(traits);
    xbus_->Plug(kGenericSlot, card_);
    ASSERT_EQ(InstallCard(kGenericSlot, kTypeId), 0);
  }
  void InstallSixRelays() {
    sim::EpromBlock block;
    block.channel_table = {1, 2, 5, 10, 11, 40};
    block.bit_table = {23, 0, 9, 16, 3, 200};
    block.settle_time_us = 3000;
    block.confidence_mask = {0xFF, 0xFF, 0x7F};
    Install(block, 3);
  }
  void TearDown() override {
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  std::shared_ptr<sim::CardModel> card_;
};

TEST_F(GenericCardTest, WorksFromTheDownloadedTables) {
  InstallSixRelays();
  uint32_t type_id = 0;
  char description[kCardTextSize], serial[kCardTextSize], rev1[kCardTextSize],
      rev2[kCardTextSize], rev3[kCardTextSize];
  ASSERT_EQ(GetCardIdentity(kGenericSlot, &type_id, description, serial, rev1, rev2, rev3), 0);
  EXPECT_EQ(type_id, kTypeId);
  EXPECT_EQ(std::string(description).rfind("XY-TEST6 SIX RELAYS", 0), 0u);
  EXPECT_STREQ(rev3, "N/A");

  EXPECT_EQ(CardChannelCount(kGenericSlot, 0), 6);
  EXPECT_EQ(CardFirstChannel(kGenericSlot, 0), 1);
  EXPECT_EQ(CardLastChannel(kGenericSlot, 0), 40);
  EXPECT_EQ(CardNextChannel(kGenericSlot, 5, 0), 10);
  EXPECT_EQ(CardPrevChannel(kGenericSlot, 1, 0), 0);
  for (int32_t channel : {0, 3, 12, 41}) {
    EXPECT_EQ(CardChannelToIndex(kGenericSlot, channel, 0), err::kChannelNotValid) << channel;
  }
  EXPECT_EQ(CardSettleTime(kGenericSlot), 3000);
  EXPECT_EQ(GetChannelDelay(kGenericSlot, 11, 2), 3000.0);
  EXPECT_EQ(GetChannelVerifyMode(kGenericSlot, 11), 2);

  const std::vector<std::vector<int>> coils = {{23}, {0}, {9}, {16}, {3}, {}};
  const int32_t channels[] = {1, 2, 5, 10, 11, 40};
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(CardSetPending(kGenericSlot, channels[i], 1), 0);
    ASSERT_EQ(CardApplyPending(kGenericSlot, 3), 1);
    ASSERT_EQ(CardWriteHardware(kGenericSlot), 0);
    EXPECT_EQ(card_->EnergisedCoils(), coils[static_cast<size_t>(i)]) << channels[i];
    ASSERT_EQ(CardSetPending(kGenericSlot, channels[i], 0), 0);
  }
}

TEST_F(GenericCardTest, ConfidenceCheckUsesTheDownloadedMask) {
  InstallSixRelays();
  // Bit 23 is outside the mask: its stuck coil goes unnoticed; bit 9 is not.
  ASSERT_TRUE(card_->StickRelay(23, true));
  ASSERT_EQ(CardSetPending(kGenericSlot, 1, 1), 0);
  ASSERT_EQ(CardApplyPending(kGenericSlot, 3), 1);
  ASSERT_EQ(CardWriteHardware(kGenericSlot), 0);
  EXPECT_EQ(CardConfidenceCheck(kGenericSlot), 0);
  ASSERT_TRUE(card_->StickRelay(9, true));
  ASSERT_EQ(CardSetPending(kGenericSlot, 5, 1), 0);
  ASSERT_EQ(CardApplyPending(kGenericSlot, 3), 1);
  ASSERT_EQ(CardWriteHardware(kGenericSlot), 0);
  EXPECT_EQ(CardConfidenceCheck(kGenericSlot), ConfidenceError(kGenericSlot));
}

TEST_F(GenericCardTest, ChannelsPastItsImagesAreRefused) {
  // Ten channels but a one-byte mask: the images hold channels 0..7 only.
  sim::EpromBlock block;
  block.channel_table = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  block.settle_time_us = 100;
  block.confidence_mask = {0xFF};
  Install(block, 1);
  EXPECT_EQ(CardChannelCount(kGenericSlot, 0), 10);
  EXPECT_EQ(CardSetPending(kGenericSlot, 7, 1), 0);
  EXPECT_EQ(CardSetPending(kGenericSlot, 8, 1), err::kChannelNotValid);
  EXPECT_EQ(CardGetRelayState(kGenericSlot, 9), 0);
  ASSERT_EQ(CardApplyPending(kGenericSlot, 3), 1);
  ASSERT_EQ(CardWriteHardware(kGenericSlot), 0);
  EXPECT_EQ(card_->EnergisedCoils(), std::vector<int>{7});
}

// The largest card an EPROM can describe: 65535 channels numbered in order. Every one is
// found by its number, in its place, and the walk from the first reaches the last.
TEST_F(GenericCardTest, EveryChannelOfTheLargestDownloadedCardIsFound) {
  sim::EpromBlock block;
  block.module_id = "XY-WIDE";
  block.type_id = kTypeId;
  block.channel_count = 65535;  // channel and bit tables empty: channel i, bit i
  block.settle_time_us = 100;
  block.confidence_mask = {0xFF};
  sim::CardTraits traits;
  traits.model = "XY-WIDE";
  traits.type_id = kTypeId;
  traits.eprom = sim::BuildEpromImage(block);
  traits.drive_bytes = 1;
  xbus_->Plug(kGenericSlot, std::make_shared<sim::CardModel>(traits));
  ASSERT_EQ(InstallCard(kGenericSlot, kTypeId), 0);

  ASSERT_EQ(CardChannelCount(kGenericSlot, 0), 65535);
  EXPECT_EQ(CardLastChannel(kGenericSlot, 0), 65534);
  int32_t channel = CardFirstChannel(kGenericSlot, 0);
  int32_t walked = 1;
  for (int32_t next; (next = CardNextChannel(kGenericSlot, channel, 0)) >= 0; channel = next) {
    ASSERT_EQ(next, channel + 1);
    ++walked;
  }
  EXPECT_EQ(walked, 65535);
  EXPECT_EQ(channel, 65534);
  EXPECT_EQ(CardChannelToIndex(kGenericSlot, 40000, 0), 40000);
  EXPECT_EQ(CardPrevChannel(kGenericSlot, 65534, 0), 65533);
  EXPECT_EQ(CardChannelToIndex(kGenericSlot, 65535, 0), err::kChannelNotValid);
  EXPECT_EQ(CardChannelToIndex(kGenericSlot, -1, 0), err::kChannelNotValid);
  // Delays are kept per channel, for the last as for the first.
  EXPECT_EQ(GetChannelDelay(kGenericSlot, 65534, 2), 100.0);
}

TEST(ChassisCard, OffersStubsOnly) {
  const CardTemplate* chassis = FindCardTemplate(kChassisTypeId);
  ASSERT_NE(chassis, nullptr);
  const CardOperations& ops = chassis->operations;
  char description[kCardTextSize], serial[kCardTextSize], rev1[kCardTextSize],
      rev2[kCardTextSize], rev3[kCardTextSize];
  ASSERT_EQ(ops.GetIdentity(0, description, serial, rev1, rev2, rev3), 0);
  EXPECT_STREQ(description, "4410X SWITCH SYSTEM");
  for (const char* text : {serial, rev1, rev2, rev3}) EXPECT_STREQ(text, "N/A");
  EXPECT_EQ(ops.Init(0), 0);
  EXPECT_EQ(ops.Reset(0), 0);
  EXPECT_EQ(ops.Interrupt(0, 0xC0), 0);
  EXPECT_EQ(ops.ValidateHook(1, 0, 0, nullptr), 0);
  EXPECT_EQ(ops.ChannelToIndex(0, 0, 0), -1);
  EXPECT_EQ(ops.FirstChannel(0, 0), -1);
  EXPECT_EQ(ops.NextChannel(0, 0, 0), -1);
  EXPECT_EQ(ops.ChannelCount(0, 0), -1);
  EXPECT_EQ(ops.IsValidChannel(0, 0), 0);
  EXPECT_EQ(chassis->relay_descriptor, nullptr);
  EXPECT_EQ(ops.SetPending, nullptr);
}

}  // namespace
