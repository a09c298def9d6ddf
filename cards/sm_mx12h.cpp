// The SM-MX12H driver: twelve 16-channel one-wire multiplexers plus two small relay
// groups, on the relay-driver core with its own channel-flag numbering, virtual
// channels, group rule and relay counters.
//
// The card's hardware, as the driver sees it:
//   - Multiplexer m (0-11) has eight relays, coils 8m + j (j 0-7, drive bytes 0-11), and
//     one tree relay, coil 96 + m, that connects the relays to the low half of the
//     multiplexer (channels 100m + 0..7) while released and to the high half
//     (100m + 8..15) while energised. So channel 100m + k energises relay k mod 8 and,
//     for k >= 8, the tree relay as well: its two relay-map entries.
//   - Channels 5000-5010 drive coils 108-118 and 6000-6003 coils 119-122, one coil each.
//     Coils 123-127 are not fitted.
//   - Channel indices 0-206 are these real channels, held in the relay images. Indices
//     207-314 are virtual channels without an image bit: 10000 + 100m + j names relay j
//     of multiplexer m whichever half the tree relay selects, and 10010 + 100m names the
//     tree relay itself.
//   - Relay numbers (the channel flag set, used by the relay counters): relay r (1-128)
//     is drive bit r - 1. The counters in the card's FRAM cover 0-128.
//
// Rules settled from that hardware:
//   - Closing a real channel of a multiplexer opens every channel of the other half:
//     the tree relay can select only one half, so what was closed there would otherwise
//     be switched onto the neighbouring channel of this half.
//   - Setting the tree relay (10010 + 100m) first commits what is pending on the card,
//     then moves each closed channel of the multiplexer into the selected half
//     (100m + k to 100m + (k XOR 8), the relay stays and only the tree relay moves); when
//     no channel of the multiplexer is closed, it drives the tree relay directly on the
//     card. Then it commits again. The group rule of WriteHardware keeps a directly
//     driven tree relay energised while its multiplexer has no channel closed.
//   - Relay j (10000 + 100m + j) acts on the channel of the half the tree relay selects
//     now, read back from the card.
#include <array>
#include <cstring>

#include "cards/card_manager.h"
#include "cards/relay_driver.h"
#include "cards/relay_tables.h"
#include "cards/special_cards.h"
#include "hardware/card_relay_counters.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"

namespace {

constexpr int kMuxes = 12;
constexpr int kMuxChannels = 16;
constexpr int kHalf = 8;                      // channels per half, relays per multiplexer
constexpr int kMuxChannelIndices = kMuxes * kMuxChannels;  // 192
constexpr int kRealChannels = 207;
constexpr int kVirtualPerMux = kHalf + 1;     // relays 0-7 and the tree relay
constexpr int kChannels = kRealChannels + kMuxes * kVirtualPerMux;  // 315
constexpr int kTreeRelay = 10;                // 10000 + 100m + 10
constexpr int kFirstTreeBit = kMuxes * kHalf;  // 96
constexpr int kFirst5000Bit = kFirstTreeBit + kMuxes;  // 108
constexpr int kFirst6000Bit = kFirst5000Bit + 11;      // 119
constexpr int kImageBytes = 26;
constexpr int kDriveBytes = 16;
constexpr int kRelayNumbers = 128;
constexpr int32_t kLastCountedRelay = 128;

constexpr int TreeBit(int mux) { return kFirstTreeBit + mux; }
constexpr int RelayBit(int mux, int relay) { return kHalf * mux + relay; }

// 100m + k, then 5000-5010 and 6000-6003, then per multiplexer 10000 + 100m + 0..7 and
// 10010 + 100m.
constexpr std::array<uint16_t, kChannels> MakeChannelTable() {
  std::array<uint16_t, kChannels> table{};
  int i = 0;
  for (int m = 0; m < kMuxes; ++m) {
    for (int k = 0; k < kMuxChannels; ++k) table[i++] = static_cast<uint16_t>(100 * m + k);
  }
  for (int j = 0; j <= 10; ++j) table[i++] = static_cast<uint16_t>(5000 + j);
  for (int j = 0; j <= 3; ++j) table[i++] = static_cast<uint16_t>(6000 + j);
  for (int m = 0; m < kMuxes; ++m) {
    for (int j = 0; j < kHalf; ++j) table[i++] = static_cast<uint16_t>(10000 + 100 * m + j);
    table[i++] = static_cast<uint16_t>(10000 + 100 * m + kTreeRelay);
  }
  return table;
}

// Two entries per channel index: the relay coil, and the tree relay for a high-half
// channel. Virtual channels drive nothing.
constexpr std::array<uint16_t, 2 * kChannels> MakeRelayMap() {
  std::array<uint16_t, 2 * kChannels> map{};
  for (auto& entry : map) entry = kNoDriveBit;
  for (int i = 0; i < kMuxChannelIndices; ++i) {
    const int m = i / kMuxChannels;
    const int k = i % kMuxChannels;
    map[2 * i] = static_cast<uint16_t>(RelayBit(m, k % kHalf));
    if (k >= kHalf) map[2 * i + 1] = static_cast<uint16_t>(TreeBit(m));
  }
  for (int j = 0; j <= 10; ++j) map[2 * (192 + j)] = static_cast<uint16_t>(kFirst5000Bit + j);
  for (int j = 0; j <= 3; ++j) map[2 * (203 + j)] = static_cast<uint16_t>(kFirst6000Bit + j);
  return map;
}

// Relay r is drive bit r - 1.
constexpr std::array<uint16_t, kRelayNumbers> MakeRelayNumbers() {
  std::array<uint16_t, kRelayNumbers> numbers{};
  for (int i = 0; i < kRelayNumbers; ++i) numbers[i] = static_cast<uint16_t>(i + 1);
  return numbers;
}

constexpr std::array<uint16_t, kChannels> kChannelTable = MakeChannelTable();
constexpr std::array<uint16_t, 2 * kChannels> kRelayMap = MakeRelayMap();
constexpr std::array<uint16_t, kRelayNumbers> kRelayNumberTable = MakeRelayNumbers();
// Coils 0-122 are fitted.
constexpr std::array<uint8_t, kDriveBytes> kConfidenceMask = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07};

static_assert(Ascending(kChannelTable));
static_assert(kChannelTable[15] == 15 && kChannelTable[16] == 100 && kChannelTable[191] == 1115);
static_assert(kChannelTable[192] == 5000 && kChannelTable[203] == 6000 &&
              kChannelTable[206] == 6003);
static_assert(kChannelTable[207] == 10000 && kChannelTable[215] == 10010 &&
              kChannelTable[314] == 11110);
static_assert(kRelayMap[2 * 9] == 1 && kRelayMap[2 * 9 + 1] == kFirstTreeBit);
static_assert(kRelayMap[2 * 191] == 95 && kRelayMap[2 * 191 + 1] == 107);
static_assert(kRelayMap[2 * 206] == 122 && kRelayMap[2 * 207] == kNoDriveBit);
static_assert((kImageBytes * 8) >= kRealChannels && kFirst6000Bit + 4 <= kDriveBytes * 8);

constexpr RelayCardDescriptor kDescriptor{
    .type_id = kSmMx12hTypeId,
    .description = "SM-MX12H 12 16-CHANNEL ONE-WIRE MUXes",
    .channel_count = kChannels,
    .channel_table = kChannelTable.data(),
    .relay_map = kRelayMap.data(),
    .map_width = 2,
    .image_bytes = kImageBytes,
    .drive_bytes = kDriveBytes,
    .confidence_mask = kConfidenceMask.data(),
    .settle_time = 4000,
};


// A virtual channel index: its multiplexer and relay (0-7, or kTreeRelay).
struct VirtualRelay {
  int mux;
  int relay;
};
VirtualRelay VirtualAt(int32_t index) {
  const int offset = index - kRealChannels;
  const int relay = offset % kVirtualPerMux;
  return {offset / kVirtualPerMux, relay < kHalf ? relay : kTreeRelay};
}

// The channel index on the card in `slot`, slot checked first.
int32_t IndexOnCard(int slot, int32_t channel) {
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (RelayDescriptor(slot) == nullptr) return err::kChannelNotValid;
  return RelayIndexOf(kDescriptor, channel);
}

// 1 when coil `bit` reads back energised (0), 0 when released, or the bus error.
int32_t CoilEnergised(int slot, int bit) {
  uint8_t byte = 0;
  const int read = ReadByteFromLocalBus(slot, kDriveRegister + 2 * (bit / 8), &byte);
  if (read != 0) return read;
  return ((byte >> (bit % 8)) & 1) == 0 ? 1 : 0;
}

bool Closed(const uint8_t* current, int32_t index) { return ImageBit(kDescriptor, current, index); }

int32_t RelayNumberIndex(int32_t relay) {
  for (int i = 0; i < kRelayNumbers; ++i) {
    if (kRelayNumberTable[i] == relay) return i;
  }
  return err::kRelayNotValid;
}

int32_t Mx12hChannelToIndex(int slot, int32_t channel, uint8_t channel_flag) {
  if (channel_flag == 0) return RelayChannelToIndex(slot, channel, 0);
  return RelayNumberIndex(channel);
}

int32_t Mx12hFirstChannel(int slot, uint8_t channel_flag) {
  return channel_flag == 0 ? RelayFirstChannel(slot, 0) : kRelayNumberTable.front();
}

int32_t Mx12hLastChannel(int slot, uint8_t channel_flag) {
  return channel_flag == 0 ? RelayLastChannel(slot, 0) : kRelayNumberTable.back();
}

int32_t Mx12hChannelCount(int slot, uint8_t channel_flag) {
  return channel_flag == 0 ? RelayChannelCount(slot, 0) : kRelayNumbers;
}

int32_t Mx12hNextChannel(int slot, int32_t channel, uint8_t channel_flag) {
  if (channel_flag == 0) return RelayNextChannel(slot, channel, 0);
  const int32_t index = RelayNumberIndex(channel);
  if (index < 0) return index;
  return index + 1 < kRelayNumbers ? kRelayNumberTable[index + 1] : err::kChannelNotValid;
}

int32_t Mx12hPrevChannel(int slot, int32_t channel, uint8_t channel_flag) {
  if (channel_flag == 0) return RelayPrevChannel(slot, channel, 0);
  const int32_t index = RelayNumberIndex(channel);
  if (index <= 0) return index;  // the first relay has none before it: 0
  return kRelayNumberTable[index - 1];
}

int32_t Mx12hGetRelayState(int slot, int32_t channel) {
  const int32_t index = IndexOnCard(slot, channel);
  if (index < 0) return index;
  const uint8_t* current = CurrentImage(slot);
  if (current == nullptr) return kNoRelayImages;
  if (index < kRealChannels) return Closed(current, index) ? 1 : 0;
  const VirtualRelay v = VirtualAt(index);
  if (v.relay == kTreeRelay) return CoilEnergised(slot, TreeBit(v.mux));
  const int32_t low = kMuxChannels * v.mux + v.relay;
  return Closed(current, low) || Closed(current, low + kHalf) ? 1 : 0;
}

int32_t Mx12hVerifyChannel(int slot, int32_t channel, int32_t verify_mode) {
  const int32_t index = IndexOnCard(slot, channel);
  if (index < 0) return index;
  if (index < kRealChannels) return RelayVerifyChannel(slot, channel, verify_mode);
  if (verify_mode == 2) return 1;  // not verified: counts as agreeing
  const uint8_t* current = CurrentImage(slot);
  const uint8_t* drive = DriveImage(slot);
  if (current == nullptr || drive == nullptr) return kNoRelayImages;
  // A relay of a multiplexer is compared with its channels' states; the tree relay,
  // which has no channel state of its own, with what was last driven.
  const VirtualRelay v = VirtualAt(index);
  bool logical = false;
  int bit = 0;
  if (v.relay == kTreeRelay) {
    bit = TreeBit(v.mux);
    logical = (drive[bit / 8] >> (bit % 8)) & 1;
  } else {
    bit = RelayBit(v.mux, v.relay);
    const int32_t low = kMuxChannels * v.mux + v.relay;
    logical = Closed(current, low) || Closed(current, low + kHalf);
  }
  const int32_t energised = CoilEnergised(slot, bit);
  if (energised < 0) return energised;
  const bool hardware = verify_mode == 0 ? energised == 0 : energised == 1;
  return hardware == logical ? 1 : 0;
}

int32_t Mx12hWriteHardware(int slot) {
  const uint8_t* current = CurrentImage(slot);
  uint8_t* drive = DriveImage(slot);
  if (RelayDescriptor(slot) == nullptr || current == nullptr || drive == nullptr) {
    return kNoRelayImages;
  }
  std::memset(drive, 0, kDriveBytes);
  for (int32_t index = 0; index < kRealChannels; ++index) {
    if (Closed(current, index)) SetDriveBits(kDescriptor, index, drive);
  }
  // A multiplexer with nothing closed keeps its tree relay as the card holds it, so a
  // half selected directly on the card stays selected.
  for (int m = 0; m < kMuxes; ++m) {
    bool any_closed = false;
    for (int k = 0; k < kMuxChannels && !any_closed; ++k) {
      any_closed = Closed(current, kMuxChannels * m + k);
    }
    if (any_closed) continue;
    const int32_t energised = CoilEnergised(slot, TreeBit(m));
    if (energised < 0) return energised;
    if (energised == 1) drive[TreeBit(m) / 8] |= static_cast<uint8_t>(1u << (TreeBit(m) % 8));
  }
  return WriteDriveImage(slot);
}

// Applies everything pending on the card and drives it, leaving nothing pending. The
// switching layer's commit in small, for the tree relay's own moves.
int32_t CommitCard(int slot) {
  const int32_t applied = RelayApplyPending(slot, 3);
  const int32_t written = applied < 0 ? applied : Mx12hWriteHardware(slot);
  ClearPendingChange(slot);
  return written;
}

int32_t DriveTreeRelay(int slot, int mux, bool energise) {
  uint8_t* drive = DriveImage(slot);
  if (drive == nullptr) return kNoRelayImages;
  const int bit = TreeBit(mux);
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (energise) {
    drive[bit / 8] |= mask;
  } else {
    drive[bit / 8] &= static_cast<uint8_t>(~mask);
  }
  return WriteByteToLocalBus(slot, kDriveRegister + 2 * (bit / 8), drive[bit / 8]);
}

// Selects the high half of multiplexer `mux` (energise) or its low half.
int32_t SetTreeRelay(int slot, int mux, bool energise) {
  if (GetPendingChange(slot)) {
    const int32_t committed = CommitCard(slot);
    if (committed < 0) return committed;
  }
  const uint8_t* current = CurrentImage(slot);
  if (current == nullptr) return kNoRelayImages;
  bool any_closed = false;
  for (int k = 0; k < kMuxChannels; ++k) {
    if (!Closed(current, kMuxChannels * mux + k)) continue;
    any_closed = true;
    if ((k >= kHalf) == energise) continue;
    RelaySetPending(slot, 100 * mux + k, 0);
    RelaySetPending(slot, 100 * mux + (k ^ kHalf), 1);
  }
  if (!any_closed) {
    const int32_t driven = DriveTreeRelay(slot, mux, energise);
    if (driven < 0) return driven;
  }
  return CommitCard(slot);
}

int32_t Mx12hSetPending(int slot, int32_t channel, int32_t close) {
  const int32_t index = IndexOnCard(slot, channel);
  if (index < 0) return index;
  if (index < kMuxChannelIndices) {
    if (close != 0) {
      const int32_t mux_base = 100 * (channel / 100);
      const int other_half = channel % 100 < kHalf ? kHalf : 0;
      for (int k = 0; k < kHalf; ++k) {
        const int32_t opened = RelaySetPending(slot, mux_base + other_half + k, 0);
        if (opened < 0) return opened;
      }
    }
    return RelaySetPending(slot, channel, close);
  }
  if (index < kRealChannels) return RelaySetPending(slot, channel, close);
  const VirtualRelay v = VirtualAt(index);
  if (v.relay == kTreeRelay) return SetTreeRelay(slot, v.mux, close != 0);
  const int32_t high = CoilEnergised(slot, TreeBit(v.mux));
  if (high < 0) return high;
  return Mx12hSetPending(slot, 100 * v.mux + v.relay + (high == 1 ? kHalf : 0), close);
}

constexpr CardOperations MakeOperations() {
  CardOperations operations = kRelayCardOperations;
  operations.ChannelToIndex = Mx12hChannelToIndex;
  operations.FirstChannel = Mx12hFirstChannel;
  operations.NextChannel = Mx12hNextChannel;
  operations.PrevChannel = Mx12hPrevChannel;
  operations.LastChannel = Mx12hLastChannel;
  operations.ChannelCount = Mx12hChannelCount;
  operations.GetRelayState = Mx12hGetRelayState;
  operations.GetRelayCount = ReadCardRelayCountUpTo<kLastCountedRelay>;
  operations.SetRelayCount = WriteCardRelayCountUpTo<kLastCountedRelay>;
  operations.VerifyChannel = Mx12hVerifyChannel;
  operations.SetPending = Mx12hSetPending;
  operations.WriteHardware = Mx12hWriteHardware;
  return operations;
}

}  // namespace

constinit const CardTemplate kSmMx12hTemplate = RelayCardTemplate(kDescriptor, MakeOperations());
