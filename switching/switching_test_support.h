// For the switching tests: a simulated cage installed the way start-up installs it (the
// chassis in slot 0, then the card scan over the chassis bus), in a fresh chassis root,
// with every local-bus write of the cards recorded in order and every settle wait of
// the commit recorded instead of waited. Program messages run through the engine with
// the controller's command tree, as a server would send them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cards/card_manager.h"
#include "controller/command_tree_test_support.h"
#include "hardware/hardware_test_support.h"
#include "platform/test_support.h"
#include "scpi/error_report.h"
#include "scpi/fake_channel_test_support.h"
#include "scpi/scpi_engine.h"
#include "scpi/slot_notifications.h"
#include "sim/card_models.h"
#include "switching/channel_list.h"
#include "hardware/delay.h"
#include "switching/interlocks.h"
#include "switching/paths.h"
#include "switching/relay_operations.h"
#include "switching/relay_stores.h"

// One write on the local bus.
struct BusWrite {
  int slot;
  uint32_t address;
  uint8_t byte;
  bool operator==(const BusWrite&) const = default;
};

// What the test saw, in order: bus writes and settle waits share one sequence, so the
// order of switching and waiting can be checked.
struct SwitchingRecord {
  std::mutex mutex;
  std::vector<BusWrite> writes;
  std::vector<uint32_t> waits;
  // Index into writes at the time of each wait.
  std::vector<std::size_t> writes_before_wait;
};

inline SwitchingRecord& Record() {
  static SwitchingRecord record;
  return record;
}

// Plugs into a slot in front of a card model and records what the firmware writes.
class RecordingCard final : public sim::LocalBusTarget {
 public:
  RecordingCard(int slot, std::shared_ptr<sim::CardModel> card) : slot_(slot), card_(std::move(card)) {}
  int ReadByte(uint32_t address, uint8_t* byte) override { return card_->ReadByte(address, byte); }
  int WriteByte(uint32_t address, uint8_t byte) override {
    {
      std::lock_guard<std::mutex> lock(Record().mutex);
      Record().writes.push_back({slot_, address, byte});
    }
    return card_->WriteByte(address, byte);
  }

 private:
  int slot_;
  std::shared_ptr<sim::CardModel> card_;
};

class SimulatedCageTest : public SimulatedHardwareTest {
 protected:
  // The cage of most switching tests.
  static std::vector<std::pair<int, std::string>> DefaultCage() {
    return {{1, "SM-RD96"}, {2, "SM-MT816"}, {3, "SM-MX26Q"}, {4, "SM-MX12H"},
            {5, "SM-AT56"}, {6, "SM-DIO12-TTL"}, {8, "SM-SW20"}, {9, "SM-RD48"}};
  }

  void SetUp() override { SetUpCage(DefaultCage()); }

  void SetUpCage(const std::vector<std::pair<int, std::string>>& cage) {
    SimulatedHardwareTest::SetUp();
    ResetCardsForTest();
    ResetInterlocksForTest();
    ResetPathsForTest();
    ResetRelayStoresForTest();
    SetChannelListRelease(ReleaseChannelList);
    SetSettleWaitForTest(RecordWait);
    // The instrument reset's pulses of 100 ms pass at once.
    SetDelaySleepForTest([](uint32_t) {});
    for (const auto& [slot, model] : cage) {
      cards_[slot] = sim::MakeCardModel(model);
      ASSERT_NE(cards_[slot], nullptr) << model;
      xbus_->Plug(slot, std::make_shared<RecordingCard>(slot, cards_[slot]));
    }
    testing::internal::CaptureStdout();
    InstallCard(0, kChassisTypeId);
    const int32_t scanned = ScanCardSlots();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(scanned, 0);
    ClearRecord();
  }

  void TearDown() override {
    ConnectPathTable();
    ConnectModuleNames();
    SetSettleWaitForTest(nullptr);
    SetDelaySleepForTest(nullptr);
    ResetPathsForTest();
    ResetRelayStoresForTest();
    ResetInterlocksForTest();
    ResetCardsForTest();
    SimulatedHardwareTest::TearDown();
  }

  static void RecordWait(uint32_t microseconds) {
    std::lock_guard<std::mutex> lock(Record().mutex);
    Record().waits.push_back(microseconds);
    Record().writes_before_wait.push_back(Record().writes.size());
  }
  static void ClearRecord() {
    std::lock_guard<std::mutex> lock(Record().mutex);
    Record().writes.clear();
    Record().waits.clear();
    Record().writes_before_wait.clear();
  }

  // Sends one program message; returns its response ("" when none) and appends its
  // errors to errors_.
  std::string Send(const std::string& message) {
    const int before = channel_.response_count();
    channel_.Send(message.c_str());
    std::string response = channel_.response_count() != before ? channel_.TakeResponse() : "";
    while (channel_.error_count() > 0) errors_.push_back(channel_.PopError());
    return response;
  }
  // The errors since the last call, and empties them.
  std::vector<std::string> Errors() { return std::exchange(errors_, {}); }

  // Whether the card's coil for channel `channel` is energised, through the card's own
  // readback of the relay state.
  static int Closed(int slot, int32_t channel) { return CardGetRelayState(slot, channel); }

  // The slots whose drive registers were written, in order, one entry per write.
  static std::vector<int> WrittenSlots() {
    std::vector<int> slots;
    for (const BusWrite& write : Record().writes) slots.push_back(write.slot);
    return slots;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
  std::shared_ptr<sim::CardModel> cards_[kSlotCount];
  FakeChannel channel_;
  std::vector<std::string> errors_;
};

// The error queue entry a client reads for `code`.
inline std::string Entry(int32_t code) {
  char entry[kErrorEntrySize];
  FormatErrorEntry(code, nullptr, entry);
  return entry;
}

// "1(100) 1(101) | 2(5)": the close list, then the open list when it is not empty.
inline std::string Describe(const ChannelList& list) {
  std::string text;
  auto put = [&](const std::vector<ChannelListElement>& elements) {
    for (const ChannelListElement& element : elements) {
      if (!text.empty() && text.back() != ' ') text += ' ';
      char item[64];
      if (element.path != 0) {
        std::snprintf(item, sizeof item, "%s[%zu|%zu]", element.name.c_str(),
                      element.path_lists ? element.path_lists->close.size() : 0,
                      element.path_lists ? element.path_lists->open.size() : 0);
      } else {
        std::snprintf(item, sizeof item, "%d(%d)", element.slot, element.channel);
      }
      text += item;
    }
  };
  put(list.close);
  if (!list.open.empty()) {
    text += " |";
    put(list.open);
  }
  return text;
}
