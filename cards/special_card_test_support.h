// For the special card tests: a simulated card plugged into the chassis bus and its
// driver installed from the template as installation does (template copied into the
// slot record, then Init), with the card state fresh for every test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "hardware/hardware_test_support.h"
#include "sim/card_models.h"

class SpecialCardTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
  }
  void TearDown() override {
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  // Plugs a fresh `model` into `slot` and installs `card` there; Init's result.
  int32_t Install(int slot, const std::string& model, const CardTemplate& card) {
    models_[slot] = sim::MakeCardModel(model);
    xbus_->Plug(slot, models_[slot]);
    std::lock_guard<std::recursive_mutex> lock(CardStateLock());
    *CardSlotRecord(slot) = card;
    return card.operations.Init != nullptr ? card.operations.Init(slot) : 0;
  }
  sim::CardModel& Model(int slot) { return *models_[slot]; }

  // What the switching layer's commit does for one card.
  int32_t Commit(int slot) {
    const int32_t applied = CardApplyPending(slot, 3);
    if (applied < 0) return applied;
    ClearPendingChange(slot);
    return CardWriteHardware(slot);
  }

  // The card's description; its serial and revisions must read "N/A".
  static std::string Description(int slot) {
    char description[kCardTextSize];
    char texts[4][kCardTextSize];
    uint32_t type_id = 0;
    EXPECT_EQ(
        GetCardIdentity(slot, &type_id, description, texts[0], texts[1], texts[2], texts[3]), 0);
    for (const char* text : texts) EXPECT_STREQ(text, "N/A");
    return description;
  }

  // The card's channels from FirstChannel through NextChannel.
  static std::vector<int32_t> Enumerate(int slot, uint8_t channel_flag) {
    std::vector<int32_t> channels;
    for (int32_t channel = CardFirstChannel(slot, channel_flag); channel >= 0;
         channel = CardNextChannel(slot, channel, channel_flag)) {
      channels.push_back(channel);
    }
    return channels;
  }
  // The same walked back from LastChannel through PrevChannel, stopping at the first.
  static std::vector<int32_t> EnumerateBackwards(int slot, uint8_t channel_flag) {
    std::vector<int32_t> channels;
    const int32_t first = CardFirstChannel(slot, channel_flag);
    int32_t channel = CardLastChannel(slot, channel_flag);
    while (channel != first && channel >= 0) {
      channels.insert(channels.begin(), channel);
      channel = CardPrevChannel(slot, channel, channel_flag);
    }
    channels.insert(channels.begin(), channel);
    return channels;
  }

  std::shared_ptr<sim::CardModel> models_[kSlotCount];
};
