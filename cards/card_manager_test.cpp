// Tests of card management against the simulated chassis bus: the start-up scan and
// its treatment of empty, failing and corrupt slots, both EPROM layouts, installation
// from a template or from the card's own tables, the accessors' and dispatchers'
// refusals, the switching mode rules, the command hook walks, card interrupts with
// their event log entries, the relay-state-changed event and the emergency shutdown.
#include "cards/card_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cards/channel_attributes.h"
#include "devices/fpga_registers.h"
#include "hardware/event_log.h"
#include "hardware/hardware_test_support.h"
#include "platform/test_support.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"
#include "scpi/slot_notifications.h"
#include "sim/card_models.h"

namespace {

using testing::ElementsAre;
using testing::MatchesRegex;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr uint32_t kRd96TypeId = 0x7A01;
constexpr uint32_t kCt1TypeId = 0x7A12;
constexpr uint32_t kDio12TtlTypeId = 0x7A20;

int FixedClock(EventLogEntry* stamp) {
  *stamp = EventLogEntry{2026, 12, 7, 23, 30, 0, {}};
  return 0;
}

std::vector<std::string> LoggedEvents() {
  std::vector<std::string> events;
  for (int32_t n = 1; n <= GetEventCount(); ++n) {
    char reply[kEventReplySize];
    GetEvent(n, reply);
    events.emplace_back(reply);
  }
  return events;
}

// A relay card whose EPROM holds `block`.
std::shared_ptr<sim::CardModel> DownloadedCard(const sim::EpromBlock& block, uint8_t id_byte = 0) {
  sim::CardTraits traits;
  traits.model = "TEST";
  traits.type_id = block.type_id;
  traits.id_byte = id_byte;
  traits.eprom = sim::BuildEpromImage(block);
  traits.drive_bytes = 2;
  return std::make_shared<sim::CardModel>(traits);
}

sim::EpromBlock TestBlock(uint16_t type_id) {
  sim::EpromBlock block;
  block.module_id = "SM-XT3 THREE-CHANNEL TEST CARD";
  block.type_id = type_id;
  block.channel_count = 3;
  block.channel_table = {5, 7, 9};
  block.bit_table = {2, 0, 1};
  block.settle_time_us = 3500;
  block.confidence_mask = {0x07, 0x00};
  return block;
}

std::shared_ptr<sim::CardModel> CardWithEprom(std::vector<uint8_t> eprom, bool digital = false) {
  sim::CardTraits traits;
  traits.model = "TEST";
  traits.eprom = std::move(eprom);
  traits.digital = digital;
  traits.drive_bytes = 2;
  return std::make_shared<sim::CardModel>(traits);
}

// Every test starts from a fresh process' card state, with an empty event log in a
// fresh root and no broadcast hook.
class CardManagerTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    SetEventClock(FixedClock);
    ClearEventLog();
  }
  void TearDown() override {
    ResetCardsForTest();
    SetEventClock(nullptr);
    SetSlotNotificationBroadcast(nullptr);
    SetPowerOnRestore(nullptr);
    SimulatedHardwareTest::TearDown();
  }

  // A record of the test's own: present, without operations until the test gives some.
  CardOperations& TestRecord(int slot, uint32_t type_id = 0x7B00) {
    CardRecord* record = CardSlotRecord(slot);
    *record = CardRecord{};
    record->type_id = type_id;
    record->present = 1;
    return record->operations;
  }

  int32_t Scan() {
    CaptureStdout();
    const int32_t result = ScanCardSlots();
    scan_output_ = GetCapturedStdout();
    return result;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
  std::string scan_output_;
};

// ---- Scan and identification ---------------------------------------------------

TEST_F(CardManagerTest, ScanInstallsIdentifiedCardsAndSkipsEmptySlotsSilently) {
  xbus_->Plug(3, sim::MakeCardModel("SM-RD96"));
  sim::CardTraits unusable;
  unusable.model = "TEST";
  unusable.id_byte = 4;  // a card that says it has no usable record
  unusable.eprom = sim::BuildEpromImage(TestBlock(0x7B01));
  xbus_->Plug(5, std::make_shared<sim::CardModel>(unusable));

  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(scan_output_, " Card in slot 3 = 0x7a01\n");
  EXPECT_EQ(IsCardPresent(3), 1);
  uint32_t type_id = 1;
  EXPECT_EQ(GetCardTypeId(3, &type_id), 0);
  EXPECT_EQ(type_id, kRd96TypeId);
  for (int slot : {1, 2, 4, 5, 12}) {
    EXPECT_EQ(IsCardPresent(slot), 0) << slot;
    EXPECT_EQ(GetCardTypeId(slot, &type_id), 0);
    EXPECT_EQ(type_id, 0u);
  }
  EXPECT_EQ(LoggedEvents(), std::vector<std::string>{});
}

TEST_F(CardManagerTest, ScanAcknowledgesAndUnmasksEveryInterrupt) {
  ASSERT_EQ(WriteFPGAregister(0x401C, 0xFFFFFFFF), 0);
  fpga_->RaiseInterrupt(0x11);
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(fpga_->Peek(0x401C), 0u);
  EXPECT_EQ(fpga_->Pending(), 0u);
}

TEST_F(CardManagerTest, FailingIdReadSkipsTheSlotAndIsTheResultOnlyWhenFirst) {
  xbus_->Plug(4, sim::MakeCardModel("SM-RD48"));
  xbus_->SetSlotFailing(2, true);
  EXPECT_EQ(Scan(), err::kFpgaIoError);
  EXPECT_EQ(IsCardPresent(2), 0);
  EXPECT_EQ(IsCardPresent(4), 1);  // the scan went on

  ResetCardsForTest();
  xbus_->SetSlotFailing(2, false);
  xbus_->Plug(1, CardWithEprom(std::vector<uint8_t>(1024, 0)));  // corrupt, met first
  xbus_->SetSlotFailing(6, true);
  EXPECT_EQ(Scan(), err::kEpromCorrupt);
  EXPECT_EQ(IsCardPresent(1), 0);
  EXPECT_EQ(IsCardPresent(4), 1);
}

TEST_F(CardManagerTest, CorruptEpromIsRefusedAndTheCardNotInstalled) {
  std::vector<uint8_t> bad_image = sim::BuildEpromImage(TestBlock(0x7B01));
  bad_image[0] ^= 0x01;  // the image magic
  xbus_->Plug(7, CardWithEprom(bad_image));
  std::vector<uint8_t> bad_block = sim::BuildEpromImage(TestBlock(0x7B01));
  bad_block[sim::kEpromBlockOffset] ^= 0x10;  // the block magic
  xbus_->Plug(8, CardWithEprom(bad_block));

  uint32_t type_id = 0;
  EXPECT_EQ(ReadCardTypeId(7, 0, &type_id), err::kEpromCorrupt);
  EXPECT_EQ(ReadCardTypeId(8, 0, &type_id), err::kEpromCorrupt);
  EXPECT_EQ(Scan(), err::kEpromCorrupt);
  EXPECT_EQ(scan_output_, "");
  EXPECT_EQ(IsCardPresent(7), 0);
  EXPECT_EQ(IsCardPresent(8), 0);
}

TEST_F(CardManagerTest, IdentificationFollowsTheIdBytesBlockOffset) {
  // Block offsets pointing outside the 512 bytes read are corrupt, not read beyond.
  std::vector<uint8_t> image = sim::BuildEpromImage(TestBlock(0x7B02));
  image[4 + 4 * 2 + 2] = 0x01;  // block 2 at 0x120 (inside), its magic missing
  image[4 + 4 * 3 + 2] = 0x20;  // block 3 at 0x2020 (outside)
  xbus_->Plug(9, CardWithEprom(image));
  uint32_t type_id = 0;
  EXPECT_EQ(ReadCardTypeId(9, 0, &type_id), 0);
  EXPECT_EQ(type_id, 0x7B02u);
  EXPECT_EQ(ReadCardTypeId(9, 2, &type_id), err::kEpromCorrupt);
  EXPECT_EQ(ReadCardTypeId(9, 3, &type_id), err::kEpromCorrupt);
  EXPECT_EQ(ReadCardTypeId(9, 4, &type_id), err::kIllegalIdByte);
  EXPECT_EQ(ReadCardTypeId(13, 0, &type_id), err::kSlotOutOfRange);
}

TEST_F(CardManagerTest, BlockOffsetZeroIsTwentyInIdentificationButNotInTheDownload) {
  // The one block moved to offset 20, every block offset 0; the tables stay put.
  std::vector<uint8_t> image = sim::BuildEpromImage(TestBlock(0x7B03));
  std::memmove(image.data() + 20, image.data() + sim::kEpromBlockOffset, 170);
  std::memset(image.data() + 4, 0, 16);
  xbus_->Plug(2, CardWithEprom(image));

  uint32_t type_id = 0;
  EXPECT_EQ(ReadCardTypeId(2, 1, &type_id), 0);
  EXPECT_EQ(type_id, 0x7B03u);

  // The download reads the block at offset 0: there the type id and the channel
  // count fall on the moved block's module id text, past its end.
  CardRecord record{};
  record.type_id = type_id;
  EXPECT_EQ(DownloadCardParams(&record, 2), 0);
  EXPECT_EQ(record.module_id, 0);
  EXPECT_EQ(record.channel_count, 0);
  EXPECT_STREQ(record.module_id_string, "");
}

TEST_F(CardManagerTest, DigitalCardsAreIdentifiedFromTheAlternateLayout) {
  xbus_->Plug(10, sim::MakeCardModel("SM-DIO12-TTL"));
  uint32_t type_id = 0;
  EXPECT_EQ(ReadCardTypeId(10, 0, &type_id), 0);
  EXPECT_EQ(type_id, kDio12TtlTypeId);

  std::vector<uint8_t> image = sim::BuildAlternateEpromImage(0x7A22);
  image[20] ^= 0x01;  // the second magic
  xbus_->Plug(11, CardWithEprom(image, true));
  EXPECT_EQ(ReadCardTypeId(11, 0, &type_id), err::kEpromCorrupt);

  xbus_->Plug(12, CardWithEprom(sim::BuildAlternateEpromImage(0x7A23), true));
  EXPECT_EQ(ReadCardTypeId(12, 0, &type_id), 0);
  EXPECT_EQ(type_id, 0x7A23u);
}

// ---- Installation --------------------------------------------------------------

TEST_F(CardManagerTest, InstallCardRefusesSlotsOutsideTheChassis) {
  CaptureStdout();
  EXPECT_EQ(InstallCard(13, kRd96TypeId), -1);
  EXPECT_EQ(InstallCard(-1, kRd96TypeId), -1);
  const std::string output = GetCapturedStdout();
  EXPECT_THAT(output, MatchesRegex("\\*\\* ERROR: \\[_cards/card_mgr \\| InstallCard \\| [0-9]+\\] "
                                   "Illegal slot parameter\n"
                                   "\\*\\* ERROR: \\[_cards/card_mgr \\| InstallCard \\| [0-9]+\\] "
                                   "Illegal slot parameter\n"));
}

TEST_F(CardManagerTest, InstallCardCopiesTheTemplateAndRunsInit) {
  xbus_->Plug(6, sim::MakeCardModel("SM-RD96"));
  CaptureStdout();
  EXPECT_EQ(InstallCard(0, kChassisTypeId), 0);
  EXPECT_EQ(InstallCard(6, kRd96TypeId), 0);
  EXPECT_EQ(GetCapturedStdout(), " Card in slot 0 = 0x7a00\n Card in slot 6 = 0x7a01\n");

  EXPECT_EQ(IsCardPresent(0), 1);
  const CardRecord* record = CardSlotRecord(6);
  EXPECT_EQ(record->category, kCardBuiltInRelay);
  EXPECT_EQ(record->operations.Init, FindCardTemplate(kRd96TypeId)->operations.Init);
  // Init made the images and gave each channel its verify mode.
  ASSERT_NE(CurrentImage(6), nullptr);
  EXPECT_NE(PendingImage(6), nullptr);
  EXPECT_NE(DriveImage(6), nullptr);
  EXPECT_EQ(GetChannelVerifyMode(6, 100), 2);
  EXPECT_EQ(CardChannelCount(6, 0), 96);
}

TEST_F(CardManagerTest, UnknownTypeInstallsTheGenericTemplateFromTheCardsTables) {
  xbus_->Plug(4, DownloadedCard(TestBlock(0x7B01)));
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(scan_output_, " Card in slot 4 = 0x7b01\n");

  const CardRecord* record = CardSlotRecord(4);
  EXPECT_EQ(record->present, 1);
  EXPECT_EQ(record->type_id, 0x7B01u);  // the real id, not the generic one
  EXPECT_EQ(record->operations.Init, GenericCardTemplate().operations.Init);
  EXPECT_EQ(record->category, kCardDownloaded);
  EXPECT_STREQ(record->module_id_string, "SM-XT3 THREE-CHANNEL TEST CARD");
  EXPECT_EQ(record->module_id, 0x7B01);
  ASSERT_EQ(record->channel_count, 3);
  EXPECT_THAT(std::vector<uint16_t>(record->channel_table, record->channel_table + 3),
              ElementsAre(5, 7, 9));
  EXPECT_THAT(std::vector<uint16_t>(record->bit_table, record->bit_table + 3),
              ElementsAre(2, 0, 1));
  EXPECT_EQ(record->settle_time, 3500u);
  ASSERT_EQ(record->mask_length, 2);
  EXPECT_THAT(std::vector<uint8_t>(record->confidence_mask, record->confidence_mask + 2),
              ElementsAre(0x07, 0x00));
  EXPECT_EQ(CardFirstChannel(4, 0), 5);
}

TEST_F(CardManagerTest, DownloadWithoutTablesNumbersChannelsAndBitsInOrder) {
  sim::EpromBlock block = TestBlock(0x7B04);
  block.channel_table.clear();
  block.bit_table.clear();
  xbus_->Plug(3, DownloadedCard(block));
  CardRecord record{};
  record.type_id = 0x7B04;
  ASSERT_EQ(DownloadCardParams(&record, 3), 0);
  EXPECT_THAT(std::vector<uint16_t>(record.channel_table, record.channel_table + 3),
              ElementsAre(0, 1, 2));
  EXPECT_THAT(std::vector<uint16_t>(record.bit_table, record.bit_table + 3), ElementsAre(0, 1, 2));
}

TEST_F(CardManagerTest, DownloadedCategoryFollowsOwnDataTypeAndDescriptors) {
  struct Case {
    uint16_t type_id;
    uint32_t own_code_data;
    uint16_t descriptor;
    uint32_t category;
  };
  const Case cases[] = {
      {0x7B05, 0, 0, kCardDownloaded},
      {0x7B05, 1, 0, kCardDownloadedOwn},
      {0x7A30, 1, 0, kCardDownloaded},  // these ids keep the generic control
      {0x7A33, 1, 0, kCardDownloaded},
      {0x7A34, 1, 0, kCardDownloadedOwn},
      {0x7B05, 0, 9, kCardUnsupported},
      {0x7A31, 1, 9, kCardUnsupported},
  };
  for (const Case& c : cases) {
    sim::EpromBlock block = TestBlock(c.type_id);
    block.own_code_data = c.own_code_data;
    block.function_descriptors[7] = c.descriptor;
    xbus_->Plug(5, DownloadedCard(block));
    CardRecord record{};
    record.type_id = c.type_id;
    EXPECT_EQ(DownloadCardParams(&record, 5), 0);
    EXPECT_EQ(record.category, c.category) << std::hex << c.type_id << " " << c.own_code_data;
  }
}

TEST_F(CardManagerTest, DownloadRefusesIdBytesAndOffsetsOutsideTheImage) {
  sim::CardTraits traits;
  traits.model = "TEST";
  traits.id_byte = 4;
  traits.eprom = sim::BuildEpromImage(TestBlock(0x7B06));
  xbus_->Plug(1, std::make_shared<sim::CardModel>(traits));
  CardRecord record{};
  EXPECT_EQ(DownloadCardParams(&record, 1), err::kIllegalIdByte);

  std::vector<uint8_t> image = sim::BuildEpromImage(TestBlock(0x7B06));
  image[sim::kEpromBlockOffset + 122 + 2] = 0x04;  // confidence mask at 0x4xx, past the end
  xbus_->Plug(2, CardWithEprom(image));
  EXPECT_EQ(DownloadCardParams(&record, 2), err::kEpromCorrupt);
  EXPECT_EQ(record.confidence_mask, nullptr);

  xbus_->SetSlotFailing(3, true);
  EXPECT_EQ(DownloadCardParams(&record, 3), err::kFpgaIoError);
}

// Nothing to read always fits: without a mask, its offset is never applied to the image,
// wherever it points (the clang sanitizers refuse even forming that address).
TEST_F(CardManagerTest, DownloadWithoutConfidenceMaskIgnoresItsOffset) {
  sim::EpromBlock block = TestBlock(0x7B07);
  block.confidence_mask.clear();
  std::vector<uint8_t> image = sim::BuildEpromImage(block);
  const uint8_t far_away[] = {0x45, 0x4C, 0x4F, 0x59};  // 0x454C4F59, far past the end
  std::memcpy(image.data() + sim::kEpromBlockOffset + 122, far_away, sizeof far_away);
  xbus_->Plug(4, CardWithEprom(image));
  CardRecord record{};
  record.type_id = 0x7B07;
  ASSERT_EQ(DownloadCardParams(&record, 4), 0);
  EXPECT_EQ(record.mask_length, 0);
  EXPECT_EQ(record.channel_count, 3);
}

// Channels are looked up by their number in an ascending table; numbers that fall back
// or repeat would make some channels unreachable and walks go round.
TEST_F(CardManagerTest, DownloadRefusesChannelTablesThatDoNotAscend) {
  for (const std::vector<uint16_t>& table :
       {std::vector<uint16_t>{5, 9, 7}, std::vector<uint16_t>{5, 5, 9}}) {
    sim::EpromBlock block = TestBlock(0x7B09);
    block.channel_table = table;
    xbus_->Plug(8, CardWithEprom(sim::BuildEpromImage(block)));
    CardRecord record{};
    record.type_id = 0x7B09;
    EXPECT_EQ(DownloadCardParams(&record, 8), err::kEpromCorrupt) << table[1];
    EXPECT_EQ(record.channel_table, nullptr);
  }
}

TEST_F(CardManagerTest, DownloadWarnsOfEachFailedAllocation) {
  xbus_->Plug(6, DownloadedCard(TestBlock(0x7B08)));
  const char* what[] = {"Module ID", "logical relay channels", "hw bit channels",
                        "confidence mask channels"};
  for (int successes = 0; successes < 4; ++successes) {
    FailCardAllocationForTest(successes);
    CardRecord record{};
    CaptureStdout();
    EXPECT_EQ(DownloadCardParams(&record, 6), err::kOutOfNamedMemory);
    EXPECT_THAT(GetCapturedStdout(),
                MatchesRegex(std::string("WARNING: \\[_cards/card_mgr \\| DownloadCardParams \\| "
                                         "[0-9]+\\] failed to malloc ") +
                             what[successes] + "\n"));
    EXPECT_EQ(record.channel_count, 0);  // nothing half made reaches the record
    EXPECT_EQ(record.channel_table, nullptr);
  }
  FailCardAllocationForTest(-1);
  CardRecord record{};
  EXPECT_EQ(DownloadCardParams(&record, 6), 0);

  FailCardAllocationForTest(2);
  EXPECT_EQ(AllocateCardImages(6, 4, 4), err::kOutOfNamedMemory);
  EXPECT_EQ(CurrentImage(6), nullptr);
}

// ---- Accessors -----------------------------------------------------------------

TEST_F(CardManagerTest, AccessorsRefuseSlotsOutOfRangeAndAbsentCards) {
  uint32_t value = 7;
  EXPECT_EQ(IsCardPresent(13), 0);
  EXPECT_EQ(IsCardPresent(-1), 0);
  EXPECT_EQ(GetCardTypeId(13, &value), err::kSlotOutOfRange);
  EXPECT_EQ(GetSwitchingMode(13, &value), err::kSlotOutOfRange);
  EXPECT_EQ(GetSwitchingMode(3, nullptr), err::kSystemError);
  EXPECT_EQ(GetSwitchingMode(3, &value), err::kNoModule);
  EXPECT_EQ(SetSwitchingMode(13, 0), err::kSlotOutOfRange);
  EXPECT_EQ(SetSwitchingMode(3, 0), err::kNoModule);
  EXPECT_EQ(CurrentImage(3), nullptr);
  EXPECT_EQ(AllocateCardImages(0, 4, 4), err::kSlotOutOfRange);
  EXPECT_EQ(AllocateCardImages(13, 4, 4), err::kSlotOutOfRange);
  EXPECT_EQ(CardSlotRecord(0), nullptr);
  EXPECT_EQ(CardSlotRecord(13), nullptr);
  EXPECT_EQ(CardSupportsVerify(13), 0);

  uint8_t status = 0;
  EXPECT_EQ(GetTestInterruptStatus(0, &status), err::kSlotOutOfRange);
  SetTestInterruptStatus(4, 0x80);
  EXPECT_EQ(GetTestInterruptStatus(4, &status), 0);
  EXPECT_EQ(status, 0x80);
  ClearAllTestInterruptStatus();
  EXPECT_EQ(GetTestInterruptStatus(4, &status), 0);
  EXPECT_EQ(status, 0);
}

TEST_F(CardManagerTest, ImagesArePerSlotZeroFilledAndShownOnlyForPresentCards) {
  TestRecord(2);
  ASSERT_EQ(AllocateCardImages(2, 3, 5), 0);
  ASSERT_NE(CurrentImage(2), nullptr);
  EXPECT_NE(CurrentImage(2), PendingImage(2));
  for (uint8_t* image : {CurrentImage(2), PendingImage(2)}) {
    EXPECT_EQ(std::vector<uint8_t>(image, image + 3), std::vector<uint8_t>(3, 0));
  }
  EXPECT_EQ(std::vector<uint8_t>(DriveImage(2), DriveImage(2) + 5), std::vector<uint8_t>(5, 0));

  CardSlotRecord(2)->present = 0;
  EXPECT_EQ(CurrentImage(2), nullptr);
  EXPECT_EQ(DriveImage(2), nullptr);
}

TEST_F(CardManagerTest, PendingChangeIsSetAndClearedOnlyOnPresentCards) {
  TestRecord(5);
  SetPendingChange(5);
  SetPendingChange(6);
  EXPECT_EQ(GetPendingChange(5), 1);
  EXPECT_EQ(GetPendingChange(6), 0);
  ClearPendingChange(5);
  EXPECT_EQ(GetPendingChange(5), 0);
  SetPendingChange(5);
  ClearAllPendingChanges();
  EXPECT_EQ(GetPendingChange(5), 0);
  EXPECT_EQ(GetPendingChange(13), 0);
}

TEST_F(CardManagerTest, SwitchingModeRules) {
  TestRecord(1);
  EXPECT_EQ(SetSwitchingMode(1, 2), 0);
  uint32_t mode = 0;
  EXPECT_EQ(GetSwitchingMode(1, &mode), 0);
  EXPECT_EQ(mode, 2u);

  // A card without relay mode refuses every value.
  CardSlotRecord(1)->switching_mode = 4;
  for (uint32_t value : {0u, 1u, 2u, 4u}) EXPECT_EQ(SetSwitchingMode(1, value), err::kModeNotSupported);

  // A break-before-make-only card accepts only 0, and stays as it is.
  CardSlotRecord(1)->switching_mode = 3;
  EXPECT_EQ(SetSwitchingMode(1, 0), 0);
  EXPECT_EQ(SetSwitchingMode(1, 1), err::kModeNotSupported);
  EXPECT_EQ(SetSwitchingMode(1, 2), err::kModeNotSupported);
  EXPECT_EQ(GetSwitchingMode(1, &mode), 0);
  EXPECT_EQ(mode, 3u);

  // The mode-4 refusal comes before the absent-card one.
  CardSlotRecord(1)->present = 0;
  CardSlotRecord(1)->switching_mode = 4;
  EXPECT_EQ(SetSwitchingMode(1, 0), err::kModeNotSupported);
  CardSlotRecord(1)->switching_mode = 0;
  EXPECT_EQ(SetSwitchingMode(1, 0), err::kNoModule);
}

int32_t FillIdentity(int, char* description, char* serial, char* rev1, char* rev2, char* rev3) {
  std::strcpy(description, "SM-T1 TEST CARD");
  for (char* text : {serial, rev1, rev2, rev3}) std::strcpy(text, "N/A");
  return 0;
}

TEST_F(CardManagerTest, IdentityEmptiesEveryOutputBeforeAsking) {
  char texts[5][kCardTextSize];
  uint32_t type_id = 0;
  const auto ask = [&](int slot) {
    for (auto& text : texts) std::strcpy(text, "stale");
    type_id = 99;
    return GetCardIdentity(slot, &type_id, texts[0], texts[1], texts[2], texts[3], texts[4]);
  };
  EXPECT_EQ(ask(13), err::kSlotOutOfRange);
  EXPECT_EQ(ask(3), -1);  // absent
  for (auto& text : texts) EXPECT_STREQ(text, "");
  EXPECT_EQ(type_id, 0u);

  TestRecord(3);
  EXPECT_EQ(ask(3), -1);  // no operation
  EXPECT_STREQ(texts[0], "");

  TestRecord(3, 0x7B07).GetIdentity = FillIdentity;
  EXPECT_EQ(ask(3), 0);
  EXPECT_EQ(type_id, 0x7B07u);
  EXPECT_STREQ(texts[0], "SM-T1 TEST CARD");
  EXPECT_STREQ(texts[4], "N/A");
}

// ---- Dispatchers ---------------------------------------------------------------

struct DispatcherRow {
  const char* name;
  std::function<int32_t(int slot)> call;
  int32_t out_of_range;
  int32_t absent;
  int32_t no_operation;
};

TEST_F(CardManagerTest, DispatchersRefuseOutOfRangeAbsentAndMissingOperations) {
  uint32_t count = 0;
  const DispatcherRow rows[] = {
      {"Reset", [](int s) { return CardReset(s); }, -22202, -30002, -1},
      {"ChannelToIndex", [](int s) { return CardChannelToIndex(s, 1, 0); }, -22202, -30002, -20036},
      {"NextChannel", [](int s) { return CardNextChannel(s, 1, 0); }, -22202, -30002, -20036},
      {"PrevChannel", [](int s) { return CardPrevChannel(s, 1, 0); }, -22202, -30002, -20036},
      {"FirstChannel", [](int s) { return CardFirstChannel(s, 0); }, -22202, -30002, -20036},
      {"LastChannel", [](int s) { return CardLastChannel(s, 0); }, -22202, -30002, -20036},
      {"ChannelCount", [](int s) { return CardChannelCount(s, 0); }, -22202, -30002, -20036},
      {"IsValidChannel", [](int s) { return CardIsValidChannel(s, 1); }, 0, 0, 0},
      {"GetRelayState", [](int s) { return CardGetRelayState(s, 1); }, 0, 0, 0},
      {"DigitalOp", [](int s) { return CardDigitalOp(s, 1); }, 0, 0, 0},
      {"GetRelayCount", [&count](int s) { return CardGetRelayCount(s, 1, &count); }, -22202,
       -30002, -20036},
      {"SetRelayCount", [](int s) { return CardSetRelayCount(s, 1, 5); }, -22202, -30002, -20036},
      {"VerifyChannel", [](int s) { return CardVerifyChannel(s, 1); }, -30002, -30002, -20036},
      {"SetPending", [](int s) { return CardSetPending(s, 1, 1); }, -22202, -30002, -1},
      {"ApplyPending", [](int s) { return CardApplyPending(s, 3); }, -22202, -30002, 0},
      {"RevertPending", [](int s) { return CardRevertPending(s); }, -22202, -30002, 0},
      {"WriteHardware", [](int s) { return CardWriteHardware(s); }, -22202, -30002, 0},
      {"SettleTime", [](int s) { return CardSettleTime(s); }, -22202, -30002, 0},
      {"ConfidenceCheck", [](int s) { return CardConfidenceCheck(s); }, -22202, -30002, 0},
  };
  TestRecord(4);
  for (const DispatcherRow& row : rows) {
    EXPECT_EQ(row.call(13), row.out_of_range) << row.name;
    EXPECT_EQ(row.call(-1), row.out_of_range) << row.name;
    EXPECT_EQ(row.call(5), row.absent) << row.name;
    EXPECT_EQ(row.call(4), row.no_operation) << row.name;
  }
}

// What the recording operations below were called with.
struct Calls {
  int slot = -1;
  int32_t channel = -1;
  int32_t value = -1;
  int count = 0;
};
Calls g_calls;
int32_t g_answer = 0;

int32_t RecordChannelFlag(int slot, int32_t channel, uint8_t flag) {
  g_calls = {slot, channel, flag, g_calls.count + 1};
  return g_answer;
}
int32_t RecordVerify(int slot, int32_t channel, int32_t mode) {
  g_calls = {slot, channel, mode, g_calls.count + 1};
  return g_answer;
}
int32_t Answer(int, int32_t) { return g_answer; }
int32_t CountIs(int slot, int32_t relay, uint32_t* count) {
  g_calls = {slot, relay, 0, g_calls.count + 1};
  *count = 0xFFFFFFF0u;  // past 2^31, still no error
  return 0;
}

TEST_F(CardManagerTest, DispatchersPassTheirArgumentsAndResultsThrough) {
  CardOperations& operations = TestRecord(9);
  operations.ChannelToIndex = RecordChannelFlag;
  operations.IsValidChannel = Answer;
  operations.GetRelayState = Answer;
  operations.GetRelayCount = CountIs;
  operations.VerifyChannel = RecordVerify;
  operations.DigitalOp = Answer;
  g_calls = {};
  g_answer = 41;
  EXPECT_EQ(CardChannelToIndex(9, 1203, 1), 41);
  EXPECT_EQ(g_calls.slot, 9);
  EXPECT_EQ(g_calls.channel, 1203);
  EXPECT_EQ(g_calls.value, 1);

  uint32_t count = 0;
  EXPECT_EQ(CardGetRelayCount(9, 17, &count), 0);
  EXPECT_EQ(count, 0xFFFFFFF0u);
  EXPECT_EQ(g_calls.channel, 17);

  // The verify mode travels from the attribute store: 1 without a record.
  g_answer = 1;
  EXPECT_EQ(CardVerifyChannel(9, 12), 1);
  EXPECT_EQ(g_calls.value, kDefaultVerifyMode);

  // Answers: 1 and 0 as they are; an error stays an error, never a closed relay.
  struct {
    int32_t card;
    int32_t relay_state;
    int32_t valid;
  } answers[] = {{1, 1, 1}, {0, 0, 0}, {kNoRelayImages, 0, 0}, {-22201, -22201, 0}, {257, 0, 0}};
  for (const auto& a : answers) {
    g_answer = a.card;
    EXPECT_EQ(CardGetRelayState(9, 3), a.relay_state) << a.card;
    EXPECT_EQ(CardIsValidChannel(9, 3), a.valid) << a.card;
    EXPECT_EQ(CardDigitalOp(9, 3), a.valid) << a.card;
  }
}

// ---- Command hooks -------------------------------------------------------------

std::vector<std::string> g_hook_calls;

int32_t RecordingHook(int32_t command_id, int slot, int32_t channel, CommandContext*) {
  const CardHookEntry* entry = CurrentCardHookEntry();
  g_hook_calls.push_back(std::to_string(command_id) + ":" + std::to_string(slot) + "(" +
                         std::to_string(channel) + ")" +
                         (entry != nullptr && entry->channel == channel ? "" : " not current"));
  return channel == 99 ? -222 : 0;
}

TEST_F(CardManagerTest, HookWalksCallEachEntryAndStopAtTheFirstNonzeroResult) {
  TestRecord(2).ValidateHook = RecordingHook;
  CardSlotRecord(2)->operations.SegmentHook = RecordingHook;
  TestRecord(3).ValidateHook = RecordingHook;
  const CardHookEntry entries[] = {{2, 0, 0}, {3, 5, 1}, {2, 99, 0}, {3, 6, 0}};

  g_hook_calls.clear();
  EXPECT_EQ(CardValidateHooks(7, entries, 4, false, nullptr), -222);
  EXPECT_THAT(g_hook_calls, ElementsAre("7:2(0)", "7:3(5)", "7:2(99)"));
  EXPECT_EQ(CurrentCardHookEntry(), nullptr);

  // In the module-naming form the marked entry ends the walk.
  g_hook_calls.clear();
  EXPECT_EQ(CardValidateHooks(8, entries, 4, true, nullptr), 0);
  EXPECT_THAT(g_hook_calls, ElementsAre("8:2(0)"));

  // A card without the hook, and a slot without a card.
  g_hook_calls.clear();
  EXPECT_EQ(CardSegmentHooks(1, entries, 4, false, nullptr), err::kNotSupportedByCard);
  EXPECT_THAT(g_hook_calls, ElementsAre("1:2(0)"));
  const CardHookEntry absent[] = {{2, 0, 0}, {6, 0, 0}};
  EXPECT_EQ(CardSegmentHooks(1, absent, 2, false, nullptr), err::kNoModule);
  EXPECT_EQ(CardExecuteHooks(1, entries, 4, false, nullptr), err::kNotSupportedByCard);
  EXPECT_EQ(CardExecuteHooks(1, entries, 0, false, nullptr), 0);
}

// ---- Interrupts, events, shutdown ----------------------------------------------

TEST_F(CardManagerTest, InterruptStatusIsTheInvertedRegisterUnderTheCardsBits) {
  sim::CardTraits traits;
  traits.model = "TEST";
  traits.drive_bytes = 6;
  traits.interrupt_bits = 0xC0;
  auto card = std::make_shared<sim::CardModel>(traits);
  xbus_->Plug(6, card);
  ASSERT_TRUE(card->RaiseInterrupt(0xC0));

  EXPECT_EQ(CardInterruptStatus(6), 0);  // no card installed
  TestRecord(6, kCt1TypeId);
  EXPECT_EQ(CardInterruptStatus(6), 0xC0);
  TestRecord(6, kDio12TtlTypeId);
  EXPECT_EQ(CardInterruptStatus(6), 0x40);
  TestRecord(6, kRd96TypeId);
  EXPECT_EQ(CardInterruptStatus(6), 0);  // only the test and digital cards interrupt

  TestRecord(6, kCt1TypeId);
  xbus_->SetSlotFailing(6, true);
  EXPECT_EQ(CardInterruptStatus(6), 0);
  EXPECT_EQ(CardInterruptStatus(0), 0);
  EXPECT_EQ(CardInterruptStatus(13), 0);
}

int32_t RecordInterrupt(int slot, uint8_t status) {
  g_calls = {slot, status, 0, g_calls.count + 1};
  return -5;
}

TEST_F(CardManagerTest, InterruptDispatchLogsCardsThatCannotTakeIt) {
  EXPECT_EQ(DispatchCardInterrupt(13, 0x40), err::kSlotOutOfRange);
  EXPECT_EQ(DispatchCardInterrupt(7, 0x40), err::kNoModule);
  TestRecord(8);
  EXPECT_EQ(DispatchCardInterrupt(8, 0x40), 0);
  EXPECT_EQ(LoggedEvents(),
            (std::vector<std::string>{
                "1,Interrupt received from card in slot 7, but no card was found in the slot",
                "2,Interrupt received from card in slot 8, but card has no interrupt handler"}));

  g_calls = {};
  TestRecord(8).Interrupt = RecordInterrupt;
  EXPECT_EQ(DispatchCardInterrupt(8, 0x80), 0);
  EXPECT_EQ(g_calls.count, 1);
  EXPECT_EQ(g_calls.slot, 8);
  EXPECT_EQ(g_calls.channel, 0x80);
  EXPECT_EQ(GetEventCount(), 2);
}

std::vector<std::vector<int32_t>> g_broadcasts;

TEST_F(CardManagerTest, RelayStateChangedHandsFlagsWithOnlyItsSlotSet) {
  EXPECT_EQ(PostRelayStateChanged(3), 0);  // no hook: nothing to hand over
  g_broadcasts.clear();
  SetSlotNotificationBroadcast([](const int32_t* flags) {
    g_broadcasts.emplace_back(flags, flags + kSlotCount);
  });
  EXPECT_EQ(PostRelayStateChanged(5), 0);
  EXPECT_EQ(PostRelayStateChanged(12), 0);
  ASSERT_EQ(g_broadcasts.size(), 2u);
  std::vector<int32_t> expected(kSlotCount, 0);
  expected[5] = 1;
  EXPECT_EQ(g_broadcasts[0], expected);
  expected[5] = 0;
  expected[12] = 1;
  EXPECT_EQ(g_broadcasts[1], expected);
}

std::vector<int> g_shutdowns;

int32_t RecordShutdown(int slot) {
  g_shutdowns.push_back(slot);
  return 0;
}

TEST_F(CardManagerTest, EmergencyShutdownSetsTheFlagAndShutsEveryCardDown) {
  TestRecord(1).Shutdown = RecordShutdown;
  TestRecord(2);  // no Shutdown operation
  TestRecord(11).Shutdown = RecordShutdown;
  CardSlotRecord(12)->operations.Shutdown = RecordShutdown;  // not present
  g_shutdowns.clear();
  EXPECT_FALSE(EmergencyShutdownActive());
  EmergencyShutdown();
  EXPECT_TRUE(EmergencyShutdownActive());
  EXPECT_THAT(g_shutdowns, ElementsAre(1, 11));
  ClearEmergencyShutdown();
  EXPECT_FALSE(EmergencyShutdownActive());
}

TEST_F(CardManagerTest, PowerOnRestoreRunsAfterTheScanAndItsErrorCountsWhenFirst) {
  static int restores = 0;
  restores = 0;
  SetPowerOnRestore([] {
    ++restores;
    return -20054;
  });
  EXPECT_EQ(Scan(), -20054);
  EXPECT_EQ(restores, 1);

  xbus_->SetSlotFailing(3, true);
  EXPECT_EQ(Scan(), err::kFpgaIoError);
  EXPECT_EQ(restores, 2);
}

}  // namespace
