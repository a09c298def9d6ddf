// Every card of the simulated catalogue, found the way start-up finds it: the scan reads
// the card's ID byte and EPROM over the chassis bus, installs the template of its type
// (or the generic one with the tables the card's EPROM describes), and the card comes
// up identified, with its relays released.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <regex>
#include <string>

#include "cards/card_manager.h"
#include "hardware/hardware_test_support.h"
#include "scpi/error_codes.h"
#include "sim/card_models.h"

namespace {

constexpr int kSlot = 9;

class CardIdentification : public SimulatedHardwareTest,
                           public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    card_ = sim::MakeCardModel(GetParam());
    ASSERT_NE(card_, nullptr);
    xbus_->Plug(kSlot, card_);
    testing::internal::CaptureStdout();
    scan_result_ = ScanCardSlots();
    scan_output_ = testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  std::shared_ptr<sim::CardModel> card_;
  int32_t scan_result_ = -1;
  std::string scan_output_;
};

// The category a downloaded card's EPROM asks for, by what it names.
uint32_t DownloadedCategory(const std::string& model) {
  if (model == "GENERIC-FD") return kCardUnsupported;
  if (model == "GENERIC-OWN") return kCardDownloadedOwn;
  return kCardDownloaded;
}

TEST_P(CardIdentification, ScanInstallsTheCardOfItsTypeAndLeavesTheOtherSlotsEmpty) {
  ASSERT_EQ(scan_result_, 0);
  const uint32_t type_id = card_->traits().type_id;
  char line[48];
  std::snprintf(line, sizeof line, " Card in slot %d = 0x%x\n", kSlot, type_id);
  std::string expected_output = line;
  if (DownloadedCategory(GetParam()) == kCardDownloadedOwn) {
    // Its panel is its own, so the web control table has no row for it: only logged.
    char missing[96];
    std::snprintf(missing, sizeof missing, "Could not find the web controls for card id 0x%x\n",
                  type_id);
    expected_output += std::string("** ERROR: [_cards/webctrl_utils | InstallCardWebControl | N] ") +
                       missing;
  }
  EXPECT_EQ(std::regex_replace(scan_output_, std::regex("\\| [0-9]+\\]"), "| N]"),
            expected_output);
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    EXPECT_EQ(IsCardPresent(slot), slot == kSlot) << slot;
  }
  uint32_t installed = 0;
  ASSERT_EQ(GetCardTypeId(kSlot, &installed), 0);
  EXPECT_EQ(installed, type_id);

  const CardRecord* record = CardSlotRecord(kSlot);
  const CardTemplate* built_in = FindCardTemplate(type_id);
  const CardTemplate& expected = built_in != nullptr ? *built_in : GenericCardTemplate();
  EXPECT_EQ(record->operations.Init, expected.operations.Init);
  EXPECT_EQ(record->operations.ChannelToIndex, expected.operations.ChannelToIndex);
  EXPECT_EQ(record->operations.WriteHardware, expected.operations.WriteHardware);
  if (built_in != nullptr) {
    EXPECT_EQ(record->category, built_in->category);
  } else {
    EXPECT_EQ(record->category, DownloadedCategory(GetParam()));
  }
}

TEST_P(CardIdentification, IdentityNamesTheModelAndItsChannelsCanBeWalked) {
  ASSERT_EQ(scan_result_, 0);
  char description[kCardTextSize], serial[kCardTextSize], rev[3][kCardTextSize];
  uint32_t type_id = 0;
  ASSERT_EQ(GetCardIdentity(kSlot, &type_id, description, serial, rev[0], rev[1], rev[2]), 0);
  // The model name is the description's first word; the catalogue names a digital card
  // by its variant as well ("SM-DIO12-TTL" for "SM-DIO12 TTL ...").
  const std::string model = GetParam();
  const std::string first_word(description, std::strcspn(description, " "));
  if (model.rfind("GENERIC", 0) != 0) {
    EXPECT_EQ(model.rfind(first_word, 0), 0u) << description;
  }
  const int32_t count = CardChannelCount(kSlot, 0);
  ASSERT_GT(count, 0);
  int32_t channel = CardFirstChannel(kSlot, 0);
  for (int32_t i = 1; i < count; ++i) {
    const int32_t next = CardNextChannel(kSlot, channel, 0);
    ASSERT_GT(next, channel) << "channels ascend";
    channel = next;
  }
  EXPECT_EQ(channel, CardLastChannel(kSlot, 0));
  EXPECT_EQ(CardNextChannel(kSlot, channel, 0), err::kChannelNotValid);
}

TEST_P(CardIdentification, RelaysComeUpReleasedExceptTheAttenuatorsPads) {
  ASSERT_EQ(scan_result_, 0);
  const CardRecord* record = CardSlotRecord(kSlot);
  if (record->category == kCardDigital || record->category == kCardUnsupported) {
    GTEST_SKIP() << "no relays driven";
  }
  // The attenuator starts at its full attenuation: every pad inserted.
  const std::size_t expected_coils = GetParam() == "SM-AT56" ? 8 : 0;
  EXPECT_EQ(card_->EnergisedCoils().size(), expected_coils);
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CardIdentification,
                         ::testing::ValuesIn(sim::CardModelNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char c : info.param) name += std::isalnum(c) ? c : '_';
                           return name;
                         });

}  // namespace
