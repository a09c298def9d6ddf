// Tests of the per-channel attribute store over a card of the test's own with unevenly
// numbered channels: defaults without records, zero-filled records once a slot is
// written, the setters' refusals, every channel finding its own record, and one walk
// of the card's channels however many attributes are written.
#include "cards/channel_attributes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "cards/card_manager.h"
#include "scpi/error_codes.h"

namespace {

// The test card's channels, ascending as a card numbers them.
constexpr int32_t kChannels[] = {0, 3, 8, 20, 41, 1000, 1207};
constexpr int kChannelCount = static_cast<int>(std::size(kChannels));
int g_first_calls = 0;
int g_next_calls = 0;

int Index(int32_t channel) {
  const auto found = std::find(std::begin(kChannels), std::end(kChannels), channel);
  return found == std::end(kChannels) ? -1 : static_cast<int>(found - std::begin(kChannels));
}

int32_t ChannelToIndex(int, int32_t channel, uint8_t) {
  const int index = Index(channel);
  return index < 0 ? err::kChannelNotValid : index;
}
int32_t FirstChannel(int, uint8_t) {
  ++g_first_calls;
  return kChannels[0];
}
int32_t NextChannel(int, int32_t channel, uint8_t) {
  ++g_next_calls;
  const int index = Index(channel);
  return index < 0 || index + 1 >= kChannelCount ? err::kChannelNotValid : kChannels[index + 1];
}

// A card that answers its first channel again and again.
int32_t SameChannel(int, int32_t, uint8_t) { return 3; }
int32_t AnyChannel(int, int32_t, uint8_t) { return 0; }
int32_t FirstIsThree(int, uint8_t) { return 3; }

class ChannelAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCardsForTest();
    g_first_calls = 0;
    g_next_calls = 0;
  }
  void TearDown() override { ResetCardsForTest(); }

  void InstallTestCard(int slot) {
    CardRecord* record = CardSlotRecord(slot);
    *record = CardRecord{};
    record->present = 1;
    record->operations.ChannelToIndex = ChannelToIndex;
    record->operations.FirstChannel = FirstChannel;
    record->operations.NextChannel = NextChannel;
  }
};

TEST_F(ChannelAttributesTest, ChannelsWithoutRecordsReadTheDefaults) {
  InstallTestCard(4);
  EXPECT_EQ(GetChannelVerifyMode(4, 8), kDefaultVerifyMode);
  EXPECT_EQ(GetChannelDelay(4, 8, 0), 0.0);
  EXPECT_EQ(GetChannelVerifyMode(13, 8), kDefaultVerifyMode);
  EXPECT_EQ(GetChannelVerifyMode(-1, 8), kDefaultVerifyMode);
  EXPECT_EQ(GetChannelDelay(4, 8, 4), 0.0);
  EXPECT_EQ(FindChannelAttributes(4, 8), nullptr);
  EXPECT_EQ(g_first_calls, 0);  // reading makes nothing

  // The first write makes every record of the slot, zero-filled.
  ASSERT_EQ(SetChannelDelay(4, 20, 2, 7.5), 0);
  EXPECT_EQ(GetChannelDelay(4, 20, 2), 7.5);
  EXPECT_EQ(GetChannelVerifyMode(4, 20), 0);
  EXPECT_EQ(GetChannelVerifyMode(4, 41), 0);
  const ChannelAttributes* record = FindChannelAttributes(4, 1207);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->channel, 1207);
  EXPECT_EQ(record->slot, 4);
  EXPECT_EQ(GetChannelVerifyMode(5, 20), kDefaultVerifyMode);  // other slots untouched

  ReleaseChannelAttributes();
  EXPECT_EQ(GetChannelDelay(4, 20, 2), 0.0);
  EXPECT_EQ(GetChannelVerifyMode(4, 20), kDefaultVerifyMode);
}

TEST_F(ChannelAttributesTest, SettersRefuseBadSlotsChannelsAndDelayNumbers) {
  InstallTestCard(2);
  EXPECT_EQ(SetChannelVerifyMode(13, 3, 2), err::kParameterError);
  EXPECT_EQ(SetChannelVerifyMode(-1, 3, 2), err::kParameterError);
  EXPECT_EQ(SetChannelDelay(2, 3, 4, 1.0), err::kParameterError);
  EXPECT_EQ(SetChannelDelay(2, 3, -1, 1.0), err::kParameterError);
  EXPECT_EQ(SetChannelVerifyMode(2, 4, 2), err::kChannelNotValid);
  EXPECT_EQ(SetChannelDelay(2, 1208, 0, 1.0), err::kChannelNotValid);
  EXPECT_EQ(SetChannelVerifyMode(3, 3, 2), err::kChannelNotValid);  // no card in slot 3
  EXPECT_EQ(g_first_calls, 0);
}

TEST_F(ChannelAttributesTest, EveryChannelFindsItsOwnRecordAfterOneWalk) {
  InstallTestCard(7);
  for (int32_t channel : kChannels) {
    for (int which = 0; which < kChannelDelayValues; ++which) {
      ASSERT_EQ(SetChannelDelay(7, channel, which, channel * 10.0 + which), 0);
    }
    ASSERT_EQ(SetChannelVerifyMode(7, channel, channel % 3), 0);
  }
  EXPECT_EQ(g_first_calls, 1);
  EXPECT_EQ(g_next_calls, kChannelCount);

  for (int32_t channel : kChannels) {
    for (int which = 0; which < kChannelDelayValues; ++which) {
      EXPECT_EQ(GetChannelDelay(7, channel, which), channel * 10.0 + which) << channel;
    }
    EXPECT_EQ(GetChannelVerifyMode(7, channel), channel % 3) << channel;
  }
  EXPECT_EQ(GetChannelVerifyMode(7, 9), kDefaultVerifyMode);  // between two channels
}

TEST_F(ChannelAttributesTest, WalkThatStopsAscendingEndsThere) {
  CardRecord* record = CardSlotRecord(9);
  *record = CardRecord{};
  record->present = 1;
  record->operations.ChannelToIndex = AnyChannel;
  record->operations.FirstChannel = FirstIsThree;
  record->operations.NextChannel = SameChannel;
  EXPECT_EQ(SetChannelVerifyMode(9, 3, 2), 0);
  EXPECT_EQ(GetChannelVerifyMode(9, 3), 2);
  // A channel the card accepts but never listed has no record to write.
  EXPECT_EQ(SetChannelVerifyMode(9, 5, 2), err::kChannelNotValid);
}

}  // namespace
