// The SM-MX26Q driver: twenty-six 4-channel one-wire multiplexers, each switched by a
// tree of two relays, with relay counters in the card's FRAM. Everything else is the
// relay-driver core's.
//
// Multiplexer m (channels 10m + k, k 0-3) has its two relays on drive bits 2m and
// 2m + 1: channel k = 0 is the path with both released, k = 1 energises bit 2m, k = 2
// both bits and k = 3 bit 2m + 1. Drive bits 0-51 carry coils. Relay r of the counters
// (1-52) is drive bit r - 1; the FRAM holds counters 0-52.
//
// The tree connects one channel of a multiplexer at a time, so closing a channel opens
// the other three: two closed channels would drive the coils of a third one (1 and 3
// together are the pattern of 2).
#include <array>
#include <cstdint>

#include "cards/relay_driver.h"
#include "cards/relay_tables.h"
#include "cards/special_cards.h"
#include "hardware/card_relay_counters.h"

namespace {

constexpr int kMuxes = 26;
constexpr int kMuxChannels = 4;
constexpr int kChannels = kMuxes * kMuxChannels;  // 104
constexpr int32_t kLastCountedRelay = 52;

// 0-3, 10-13, ..., 250-253.
constexpr auto kChannelTable = GridChannels<1, kMuxes, kMuxChannels>(0, 0, 10);
static_assert(Ascending(kChannelTable));
static_assert(kChannelTable[4] == 10 && kChannelTable[103] == 253);

constexpr std::array<uint16_t, 2 * kChannels> MakeRelayMap() {
  std::array<uint16_t, 2 * kChannels> map{};
  for (int m = 0; m < kMuxes; ++m) {
    const auto low = static_cast<uint16_t>(2 * m);
    const auto high = static_cast<uint16_t>(2 * m + 1);
    const uint16_t rows[kMuxChannels][2] = {
        {kNoDriveBit, kNoDriveBit}, {low, kNoDriveBit}, {low, high}, {high, kNoDriveBit}};
    for (int k = 0; k < kMuxChannels; ++k) {
      map[2 * (kMuxChannels * m + k)] = rows[k][0];
      map[2 * (kMuxChannels * m + k) + 1] = rows[k][1];
    }
  }
  return map;
}
constexpr std::array<uint16_t, 2 * kChannels> kRelayMap = MakeRelayMap();
// Channel 11 (m 1, k 1) drives bit 2; channel 252 (m 25, k 2) bits 50 and 51.
static_assert(kRelayMap[2 * 5] == 2 && kRelayMap[2 * 5 + 1] == kNoDriveBit);
static_assert(kRelayMap[2 * 102] == 50 && kRelayMap[2 * 102 + 1] == 51);
static_assert(kRelayMap[2 * 103] == 51 && kRelayMap[2 * 100] == kNoDriveBit);

constexpr uint8_t kConfidenceMask[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F};

constexpr RelayCardDescriptor kDescriptor{
    .type_id = kSmMx26qTypeId,
    .description = "SM-MX26Q 26 4-CHANNEL ONE-WIRE MUXes",
    .channel_count = kChannels,
    .channel_table = kChannelTable.data(),
    .relay_map = kRelayMap.data(),
    .map_width = 2,
    .image_bytes = 13,
    .drive_bytes = 7,
    .confidence_mask = kConfidenceMask,
    .settle_time = 4000,
};

int32_t Mx26qSetPending(int slot, int32_t channel, int32_t close) {
  if (close != 0 && RelayChannelToIndex(slot, channel, 0) >= 0) {
    const int32_t first = channel - channel % 10;
    for (int32_t other = first; other < first + kMuxChannels; ++other) {
      if (other == channel) continue;
      const int32_t opened = RelaySetPending(slot, other, 0);
      if (opened < 0) return opened;
    }
  }
  return RelaySetPending(slot, channel, close);
}

constexpr CardOperations MakeOperations() {
  CardOperations operations = kRelayCardOperations;
  operations.SetPending = Mx26qSetPending;
  operations.GetRelayCount = ReadCardRelayCountUpTo<kLastCountedRelay>;
  operations.SetRelayCount = WriteCardRelayCountUpTo<kLastCountedRelay>;
  return operations;
}

}  // namespace

constinit const CardTemplate kSmMx26qTemplate = RelayCardTemplate(kDescriptor, MakeOperations());
