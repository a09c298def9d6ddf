// The SM-CT1 driver: the chassis test card. Its 47 relays are a plain relay card on the
// relay-driver core (channel index i drives bit i; bits 0-46 carry coils); what sets it
// apart is its interrupt, which the diagnostic commands read back as the slot's test
// interrupt status.
#include <array>
#include <cstdint>

#include "cards/card_manager.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"
#include "cards/special_cards.h"
#include "hardware/fpga_utils.h"

namespace {

constexpr int kChannels = 47;

// 0-19, 100-110, 200-207, 300-307.
constexpr std::array<uint16_t, kChannels> MakeChannelTable() {
  std::array<uint16_t, kChannels> table{};
  struct Run {
    int first;
    int count;
  };
  constexpr Run kRuns[] = {{0, 20}, {100, 11}, {200, 8}, {300, 8}};
  int i = 0;
  for (const Run& run : kRuns) {
    for (int c = 0; c < run.count; ++c) table[i++] = static_cast<uint16_t>(run.first + c);
  }
  return table;
}
constexpr std::array<uint16_t, kChannels> kChannelTable = MakeChannelTable();
static_assert(Ascending(kChannelTable));
static_assert(kChannelTable[19] == 19 && kChannelTable[20] == 100 && kChannelTable[30] == 110 &&
              kChannelTable[31] == 200 && kChannelTable[39] == 300 && kChannelTable[46] == 307);

constexpr uint8_t kConfidenceMask[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};

constexpr RelayCardDescriptor kDescriptor{
    .type_id = kSmCt1TypeId,
    .description = "SM-CT1 4410X CHASSIS TEST MODULE",
    .channel_count = kChannels,
    .channel_table = kChannelTable.data(),
    .relay_map = nullptr,
    .image_bytes = 6,
    .drive_bytes = 6,
    .confidence_mask = kConfidenceMask,
    .settle_time = 2000,
};

// Keeps the status as this slot's test interrupt status (only the interrupting slot
// holds one) and acknowledges it on the card: a 1 written back clears the pending bit.
int32_t Ct1Interrupt(int slot, uint8_t status) {
  ClearAllTestInterruptStatus();
  SetTestInterruptStatus(slot, status);
  uint8_t pending = 0;
  const int read = ReadByteFromLocalBus(slot, kCardInterruptRegister, &pending);
  if (read != 0) return read;
  return WriteByteToLocalBus(slot, kCardInterruptRegister, pending | status);
}

constexpr CardOperations MakeOperations() {
  CardOperations operations = kRelayCardOperations;
  operations.Interrupt = Ct1Interrupt;
  return operations;
}

}  // namespace

constinit const CardTemplate kSmCt1Template = RelayCardTemplate(kDescriptor, MakeOperations());
