// The standard relay cards' tables, checked against each card's rule written out again
// here, and driven through the installed card on the simulated chassis bus: channel
// enumeration, channel refusals, one coil per closed channel, confidence masks, delays.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "cards/relay_driver.h"
#include "hardware/hardware_test_support.h"
#include "scpi/error_codes.h"
#include "sim/card_models.h"

namespace {

constexpr int kSlot = 4;

struct ModelRule {
  std::string model;
  uint32_t type_id;
  std::string description;
  int image_bytes;
  int drive_bytes;
  int32_t delay;
  std::vector<int32_t> channels;  // in index order
  std::vector<int> bits;          // drive bit of each channel index
};

std::vector<int32_t> Grid(int modules, int rows, int columns, int first, int module_step,
                          int row_step) {
  std::vector<int32_t> channels;
  for (int m = 0; m < modules; ++m) {
    for (int x = 0; x < rows; ++x) {
      for (int y = 0; y < columns; ++y) channels.push_back(first + module_step * m + row_step * x + y);
    }
  }
  return channels;
}

std::vector<int32_t> Range(int32_t first, int32_t count) {
  std::vector<int32_t> channels;
  for (int32_t c = first; c < first + count; ++c) channels.push_back(c);
  return channels;
}

std::vector<int> Identity(size_t n) {
  std::vector<int> bits;
  for (size_t i = 0; i < n; ++i) bits.push_back(static_cast<int>(i));
  return bits;
}

// Groups of four placed in the order the free four-bit groups are visited.
std::vector<int> GroupsAt(size_t n, const std::vector<int>& group_order) {
  std::vector<int> bits;
  for (size_t i = 0; i < n; ++i) bits.push_back(group_order[i / 4] + static_cast<int>(i % 4));
  return bits;
}

// Nibble by nibble across the nine 16-bit words: 0, 16, ..., 128, 4, 20, ...
std::vector<int> WordColumnOrder() {
  std::vector<int> order;
  for (int nibble = 0; nibble < 4; ++nibble) {
    for (int word = 0; word < 9; ++word) order.push_back(16 * word + 4 * nibble);
  }
  return order;
}

// Per 32-bit block, nibble by nibble, low word then high word: 0, 16, 4, 20, ...
std::vector<int> BlockInterleavedOrder() {
  std::vector<int> order;
  for (int block = 0; block < 4; ++block) {
    for (int nibble = 0; nibble < 4; ++nibble) {
      for (int word = 0; word < 2; ++word) order.push_back(32 * block + 16 * word + 4 * nibble);
    }
  }
  return order;
}

std::vector<int> Sc64Bits() {
  std::vector<int> bits = {73, 72, 71};
  for (int b = 63; b >= 3; --b) bits.push_back(b);      // the rest of the scan relays
  for (int b = 64; b <= 70; ++b) bits.push_back(b);     // bank relays 100..700
  for (int b = 74; b <= 77; ++b) bits.push_back(b);     // 1000..1003
  return bits;
}

std::vector<int32_t> Sc64Channels() {
  std::vector<int32_t> channels = Grid(1, 8, 8, 0, 0, 10);
  for (int b = 1; b <= 7; ++b) channels.push_back(100 * b);
  for (int c = 1000; c <= 1003; ++c) channels.push_back(c);
  return channels;
}

std::vector<ModelRule> Rules() {
  const auto rd96 = Grid(1, 12, 8, 100, 0, 100);
  const auto rd48 = Grid(1, 6, 8, 100, 0, 100);
  const auto mt816 = Grid(1, 16, 8, 0, 0, 100);
  const auto hf1 = Grid(1, 10, 4, 0, 0, 10);
  const auto mt436 = Grid(1, 36, 4, 0, 0, 100);
  const auto mt9q = Grid(9, 4, 4, 0, 1000, 100);
  const auto mt3w = Grid(3, 4, 12, 0, 10000, 100);
  const auto mt2w = Grid(2, 16, 4, 0, 10000, 100);
  const auto mt2e = Grid(2, 8, 8, 0, 10000, 100);
  const auto mt12 = Grid(1, 12, 12, 0, 0, 100);
  return {
      {"SM-RD96", 0x7A01, "SM-RD96 96-CHANNEL RELAY DRIVER", 12, 12, 1000, rd96, Identity(96)},
      {"SM-RD48", 0x7A02, "SM-RD48 48-CHANNEL RELAY DRIVER", 6, 6, 1000, rd48, Identity(48)},
      {"SM-MX52", 0x7A03, "SM-MX52 52-CHANNEL SPDT 2A MUX", 7, 7, 500, Range(0, 52), Identity(52)},
      {"SM-SW80", 0x7A04, "SM-SW80 80-CHANNEL SPST 2A SWITCH MODULE", 10, 10, 2000, Range(0, 80),
       Identity(80)},
      {"SM-SW20", 0x7A05, "SM-SW20 20-CHANNEL SPST 10A SWITCH MODULE", 3, 3, 10000, Range(0, 20),
       Identity(20)},
      {"SM-SC64", 0x7A06, "SM-SC64 64-CHANNEL TWO-WIRE SCANNER/MUX", 10, 10, 4000, Sc64Channels(),
       Sc64Bits()},
      {"SM-MT816", 0x7A07, "SM-MT816 8X16 MATRIX MODULE", 18, 18, 2000, mt816,
       GroupsAt(128, BlockInterleavedOrder())},
      {"SM-HF1", 0x7A08, "SM-HF1 HIGH FREQUENCY SWITCH MODULE", 5, 5, 5000, hf1, Identity(40)},
      {"SM-MT436", 0x7A09, "SM-MT436 4X36 MATRIX MODULE", 18, 18, 2000, mt436, Identity(144)},
      {"SM-MT9Q", 0x7A0B, "SM-MT9Q 9-4X4 MATRIX MODULE", 18, 18, 2000, mt9q, Identity(144)},
      {"SM-MT3W", 0x7A0C, "SM-MT3W 3-4X12 MATRIX MODULE", 18, 18, 2000, mt3w,
       GroupsAt(144, WordColumnOrder())},
      {"SM-MT2W", 0x7A0D, "SM-MT2W 2-4X16 MATRIX MODULE", 18, 18, 2000, mt2w, Identity(128)},
      {"SM-MT2E", 0x7A0E, "SM-MT2E 2-8X8 MATRIX MODULE", 18, 18, 2000, mt2e,
       GroupsAt(128, WordColumnOrder())},
      {"SM-MT12", 0x7A0F, "SM-MT12 12X12 MATRIX MODULE", 18, 18, 2000, mt12,
       GroupsAt(144, WordColumnOrder())},
      {"SM-RF5", 0x7A11, "SM-RF5 5-CHANNEL SPDT RF MUX", 1, 1, 500, Range(0, 5), Identity(5)},
      {"SM-RF4D", 0x7A14, "SM-RF4D DUAL 1x4 RF SWITCHING MODULE", 2, 2, 10000,
       {0, 1, 2, 3, 10, 11, 12, 13}, {0, 1, 2, 3, 8, 9, 10, 11}},
      {"SM-RF6D", 0x7A15, "SM-RF6D DUAL 1x6 RF SWITCHING MODULE", 2, 2, 10000, Range(0, 12),
       {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13}},
  };
}

class StandardCardTest : public SimulatedHardwareTest,
                         public ::testing::WithParamInterface<ModelRule> {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    card_ = sim::MakeCardModel(GetParam().model);
    ASSERT_NE(card_, nullptr);
    xbus_->Plug(kSlot, card_);
    ASSERT_EQ(InstallCard(kSlot, GetParam().type_id), 0);
  }
  void TearDown() override {
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  // Closes (or opens) one channel and commits it to the card.
  void Switch(int32_t channel, int32_t close) {
    ASSERT_EQ(CardSetPending(kSlot, channel, close), 0) << channel;
    ASSERT_EQ(CardApplyPending(kSlot, 3), 1) << channel;
    ASSERT_EQ(CardWriteHardware(kSlot), 0) << channel;
  }

  std::shared_ptr<sim::CardModel> card_;
};

TEST_P(StandardCardTest, TablesAreInjectiveFitTheDriveAndMatchTheMask) {
  const ModelRule& rule = GetParam();
  ASSERT_EQ(rule.channels.size(), rule.bits.size());
  EXPECT_EQ(std::set<int>(rule.bits.begin(), rule.bits.end()).size(), rule.bits.size());
  EXPECT_EQ(std::set<int32_t>(rule.channels.begin(), rule.channels.end()).size(),
            rule.channels.size());
  EXPECT_LE(static_cast<int>(rule.channels.size()), rule.image_bytes * 8);
  std::vector<uint8_t> coils(static_cast<size_t>(rule.drive_bytes), 0);
  for (int bit : rule.bits) {
    ASSERT_LT(bit, rule.drive_bytes * 8);
    coils[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(1u << (bit % 8));
  }

  const CardTemplate* card = FindCardTemplate(rule.type_id);
  ASSERT_NE(card, nullptr);
  const RelayCardDescriptor* d = card->relay_descriptor;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(card->type_id, rule.type_id);
  EXPECT_EQ(d->type_id, rule.type_id);
  EXPECT_EQ(d->image_bytes, rule.image_bytes);
  EXPECT_EQ(d->drive_bytes, rule.drive_bytes);
  ASSERT_NE(d->confidence_mask, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(d->confidence_mask, d->confidence_mask + d->drive_bytes), coils);
}

TEST_P(StandardCardTest, EnumeratesItsChannelsBothWays) {
  const std::vector<int32_t>& channels = GetParam().channels;
  const int32_t n = static_cast<int32_t>(channels.size());
  EXPECT_EQ(CardChannelCount(kSlot, 0), n);
  EXPECT_EQ(CardFirstChannel(kSlot, 0), channels.front());
  EXPECT_EQ(CardLastChannel(kSlot, 0), channels.back());

  std::vector<int32_t> forward = {CardFirstChannel(kSlot, 0)};
  for (int32_t next = CardNextChannel(kSlot, forward.back(), 0); next >= 0 && forward.size() <= channels.size();
       next = CardNextChannel(kSlot, forward.back(), 0)) {
    forward.push_back(next);
  }
  EXPECT_EQ(forward, channels);
  EXPECT_EQ(CardNextChannel(kSlot, channels.back(), 0), err::kChannelNotValid);

  std::vector<int32_t> backward = {CardLastChannel(kSlot, 0)};
  for (int32_t prev = CardPrevChannel(kSlot, backward.back(), 0); prev > 0;
       prev = CardPrevChannel(kSlot, backward.back(), 0)) {
    backward.push_back(prev);
  }
  if (channels.front() == 0) backward.push_back(0);  // a first channel 0 reads like the end
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, channels);
  EXPECT_EQ(CardPrevChannel(kSlot, channels.front(), 0), 0);

  for (int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(CardChannelToIndex(kSlot, channels[static_cast<size_t>(i)], 0), i);
  }
}

TEST_P(StandardCardTest, RefusesChannelsOutsideItsTable) {
  const std::vector<int32_t>& channels = GetParam().channels;
  const std::set<int32_t> known(channels.begin(), channels.end());
  std::vector<int32_t> refused = {-1, channels.front() - 1, channels.back() + 1, 65535, 65536 + channels.front()};
  // The numbers in the gaps of the table.
  for (int32_t c = channels.front(); c <= channels.back(); ++c) {
    if (known.count(c) == 0) refused.push_back(c);
  }
  for (int32_t channel : refused) {
    if (known.count(channel) != 0) continue;
    EXPECT_EQ(CardChannelToIndex(kSlot, channel, 0), err::kChannelNotValid) << channel;
    EXPECT_EQ(CardIsValidChannel(kSlot, channel), 0) << channel;
    EXPECT_EQ(CardNextChannel(kSlot, channel, 0), err::kChannelNotValid) << channel;
    EXPECT_EQ(CardPrevChannel(kSlot, channel, 0), err::kChannelNotValid) << channel;
    EXPECT_EQ(CardSetPending(kSlot, channel, 1), err::kChannelNotValid) << channel;
    EXPECT_EQ(RelayGetRelayState(kSlot, channel), err::kChannelNotValid) << channel;
  }
  EXPECT_EQ(GetPendingChange(kSlot), 0);
}

TEST_P(StandardCardTest, EachChannelAloneEnergisesItsMappedCoil) {
  const ModelRule& rule = GetParam();
  EXPECT_TRUE(card_->EnergisedCoils().empty());
  for (size_t i = 0; i < rule.channels.size(); ++i) {
    const int32_t channel = rule.channels[i];
    Switch(channel, 1);
    EXPECT_EQ(card_->EnergisedCoils(), std::vector<int>{rule.bits[i]}) << channel;
    EXPECT_EQ(CardGetRelayState(kSlot, channel), 1) << channel;
    EXPECT_EQ(CardVerifyChannel(kSlot, channel), 1) << channel;  // stored mode 2
    EXPECT_EQ(RelayVerifyChannel(kSlot, channel, 1), 1) << channel;
    EXPECT_EQ(CardConfidenceCheck(kSlot), 0) << channel;
    Switch(channel, 0);
    EXPECT_TRUE(card_->EnergisedCoils().empty()) << channel;
  }
}

TEST_P(StandardCardTest, AStuckRelayFailsTheConfidenceCheck) {
  const ModelRule& rule = GetParam();
  const size_t last = rule.channels.size() - 1;
  ASSERT_TRUE(card_->StickRelay(rule.bits[last], true));
  Switch(rule.channels[last], 1);
  EXPECT_EQ(CardConfidenceCheck(kSlot), ConfidenceError(kSlot));
  EXPECT_EQ(RelayVerifyChannel(kSlot, rule.channels[last], 1), 0);
  EXPECT_EQ(RelayVerifyChannel(kSlot, rule.channels[last], 0), 1);
}

TEST_P(StandardCardTest, InitGivesIdentityDelaysVerifyModeAndSettleTime) {
  const ModelRule& rule = GetParam();
  uint32_t type_id = 0;
  char description[kCardTextSize], serial[kCardTextSize], rev1[kCardTextSize],
      rev2[kCardTextSize], rev3[kCardTextSize];
  ASSERT_EQ(GetCardIdentity(kSlot, &type_id, description, serial, rev1, rev2, rev3), 0);
  EXPECT_EQ(type_id, rule.type_id);
  EXPECT_EQ(std::string(description), rule.description);
  EXPECT_EQ(std::string(description).substr(0, rule.model.size()), rule.model);
  for (const char* text : {serial, rev1, rev2, rev3}) EXPECT_STREQ(text, "N/A");

  EXPECT_EQ(CardSettleTime(kSlot), rule.delay);
  for (int32_t channel : {rule.channels.front(), rule.channels.back()}) {
    for (int which = 0; which < kChannelDelayValues; ++which) {
      EXPECT_EQ(GetChannelDelay(kSlot, channel, which), rule.delay);
    }
    EXPECT_EQ(GetChannelVerifyMode(kSlot, channel), 2);
  }
  uint32_t mode = 9;
  ASSERT_EQ(GetSwitchingMode(kSlot, &mode), 0);
  EXPECT_EQ(mode, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cards, StandardCardTest, ::testing::ValuesIn(Rules()),
                         [](const ::testing::TestParamInfo<ModelRule>& info) {
                           std::string name = info.param.model.substr(3);
                           return name;
                         });

TEST(CardTemplateTable, FindsEveryBuiltInTypeAndNothingElse) {
  for (const ModelRule& rule : Rules()) {
    const CardTemplate* card = FindCardTemplate(rule.type_id);
    ASSERT_NE(card, nullptr) << rule.model;
    EXPECT_EQ(card->present, 1);
    EXPECT_EQ(card->category, kCardBuiltInRelay);
    EXPECT_EQ(card->settle_time, 2000u);
    EXPECT_EQ(card->pending_image, nullptr);
  }
  // The chassis and the cards with drivers of their own.
  for (uint32_t type_id : {0x7A00u, 0x7A0Au, 0x7A10u, 0x7A12u, 0x7A13u, 0x7A20u, 0x7A21u, 0x7A22u,
                           0x7A23u}) {
    const CardTemplate* card = FindCardTemplate(type_id);
    ASSERT_NE(card, nullptr) << std::hex << type_id;
    EXPECT_EQ(card->type_id, type_id);
    EXPECT_EQ(card->present, 1);
  }
  for (uint32_t unknown : {0u, 0x7A16u, 0x7B01u, kGenericTypeId, 0xFFFFFFFFu}) {
    EXPECT_EQ(FindCardTemplate(unknown), nullptr) << std::hex << unknown;
  }
  EXPECT_EQ(GenericCardTemplate().type_id, kGenericTypeId);
  EXPECT_EQ(GenericCardTemplate().present, 1);
}

}  // namespace
