// The relay-driver core: the card operations of every relay card, worked from the
// model's descriptor in the slot's record. Images hold one bit per channel index; the
// drive image is rebuilt from the current image on every write and written whole.
#include "cards/relay_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "hardware/delay.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"

namespace {


// Channel indices the images can hold (a downloaded card may name more channels than
// its images have bits).
int32_t ImageChannels(const RelayCardDescriptor& d) {
  const int32_t bits = d.image_bytes * 8;
  return d.channel_count < bits ? d.channel_count : bits;
}

void SetImageBit(uint8_t* image, int32_t index, bool on) {
  const uint8_t bit = static_cast<uint8_t>(1u << (index % 8));
  if (on) {
    image[index / 8] |= bit;
  } else {
    image[index / 8] &= static_cast<uint8_t>(~bit);
  }
}

// The index of `channel` on the card in `slot`, checking the slot first.
int32_t SlotIndex(int slot, int32_t channel, const RelayCardDescriptor** descriptor) {
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  *descriptor = RelayDescriptor(slot);
  if (*descriptor == nullptr) return err::kChannelNotValid;
  return RelayIndexOf(**descriptor, channel);
}

}  // namespace

void FillCardIdentity(const char* text, char* description, char* serial, char* rev1, char* rev2,
                      char* rev3) {
  std::snprintf(description, kCardTextSize, "%s", text);
  for (char* field : {serial, rev1, rev2, rev3}) std::snprintf(field, kCardTextSize, "N/A");
}

const RelayCardDescriptor* RelayDescriptor(int slot) {
  const CardRecord* record = CardSlotRecord(slot);
  return record != nullptr ? record->relay_descriptor : nullptr;
}

int32_t RelayChannelAt(const RelayCardDescriptor& d, int32_t index) {
  return d.channel_table != nullptr ? d.channel_table[index] : index;
}

int32_t RelayIndexOf(const RelayCardDescriptor& d, int32_t channel) {
  const int32_t n = d.channel_count;
  if (n <= 0) return err::kChannelNotValid;
  if (d.channel_table == nullptr) {
    return channel >= 0 && channel < n ? channel : err::kChannelNotValid;
  }
  // Tables ascend (a downloaded one that does not is refused), so the lookup halves:
  // a downloaded card may have 65535 channels, and a walk over them calls this per step.
  const uint16_t* begin = d.channel_table;
  const uint16_t* end = begin + n;
  const uint16_t* found = std::lower_bound(begin, end, channel);
  if (found == end || *found != channel) return err::kChannelNotValid;
  return static_cast<int32_t>(found - begin);
}

bool ImageBit(const RelayCardDescriptor& d, const uint8_t* image, int32_t index) {
  if (index < 0 || index >= d.image_bytes * 8) return false;
  return (image[index / 8] >> (index % 8)) & 1;
}

void SetDriveBits(const RelayCardDescriptor& d, int32_t index, uint8_t* drive) {
  for (int k = 0; k < d.map_width; ++k) {
    const uint32_t bit = d.relay_map != nullptr ? d.relay_map[index * d.map_width + k]
                                                : static_cast<uint32_t>(index);
    if (bit == kNoDriveBit || bit >= static_cast<uint32_t>(d.drive_bytes) * 8) continue;
    SetImageBit(drive, static_cast<int32_t>(bit), true);
    if (d.relay_map == nullptr) break;  // the identity map drives one bit
  }
}

int32_t BuildDriveImage(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  uint8_t* current = CurrentImage(slot);
  uint8_t* drive = DriveImage(slot);
  if (d == nullptr || current == nullptr || drive == nullptr) {
    return kNoRelayImages;
  }
  std::memset(drive, 0, static_cast<size_t>(d->drive_bytes));
  const int32_t n = ImageChannels(*d);
  for (int32_t i = 0; i < n; ++i) {
    if (ImageBit(*d, current, i)) SetDriveBits(*d, i, drive);
  }
  return 0;
}

int32_t WriteDriveImage(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  const uint8_t* drive = DriveImage(slot);
  if (d == nullptr || drive == nullptr) return kNoRelayImages;
  return WriteBytesToLocalBus(slot, kDriveRegister, drive, d->drive_bytes);
}

int32_t ReadDriveReadback(int slot, uint8_t* readback) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr) return kNoRelayImages;
  return ReadBytesFromLocalBus(slot, kDriveRegister, readback, d->drive_bytes);
}

int32_t RelayInit(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr) return kNoRelayImages;
  const int32_t allocated = AllocateCardImages(slot, d->image_bytes, d->drive_bytes);
  for (int32_t i = 0; i < d->channel_count; ++i) {
    const int32_t channel = RelayChannelAt(*d, i);
    for (int which = 0; which < kChannelDelayValues; ++which) {
      SetChannelDelay(slot, channel, which, d->settle_time);
    }
    SetChannelVerifyMode(slot, channel, 2);
  }
  SetSwitchingMode(slot, 0);
  // The card's own write: a model with a rule of its own (kept tree relays) applies it.
  const int32_t written = CardWriteHardware(slot);
  return allocated < 0 ? allocated : written;
}

int32_t RelayReset(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr) return kNoRelayImages;
  for (int32_t i = 0; i < d->channel_count; ++i) {
    const int32_t channel = RelayChannelAt(*d, i);
    SetChannelDelay(slot, channel, 0, d->settle_time);
    SetChannelDelay(slot, channel, 1, d->settle_time);
  }
  SetSwitchingMode(slot, 0);
  uint8_t* pending = PendingImage(slot);
  uint8_t* current = CurrentImage(slot);
  if (pending != nullptr) std::memset(pending, 0, static_cast<size_t>(d->image_bytes));
  if (current != nullptr) std::memset(current, 0, static_cast<size_t>(d->image_bytes));
  const int32_t written = CardWriteHardware(slot);
  PostRelayStateChanged(slot);
  return written;
}

int32_t RelayGetIdentity(int slot, char* description, char* serial, char* rev1, char* rev2,
                         char* rev3) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  FillCardIdentity(d != nullptr && d->description != nullptr ? d->description : "", description,
                   serial, rev1, rev2, rev3);
  return 0;
}

int32_t RelayChannelToIndex(int slot, int32_t channel, uint8_t /*channel_flag*/) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  return d != nullptr ? RelayIndexOf(*d, channel) : err::kChannelNotValid;
}

int32_t RelayFirstChannel(int slot, uint8_t /*channel_flag*/) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr || d->channel_count <= 0) return err::kChannelNotValid;
  return RelayChannelAt(*d, 0);
}

int32_t RelayNextChannel(int slot, int32_t channel, uint8_t channel_flag) {
  const int32_t index = RelayChannelToIndex(slot, channel, channel_flag);
  if (index < 0) return index;
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (index + 1 >= d->channel_count) return err::kChannelNotValid;
  return RelayChannelAt(*d, index + 1);
}

int32_t RelayPrevChannel(int slot, int32_t channel, uint8_t channel_flag) {
  const int32_t index = RelayChannelToIndex(slot, channel, channel_flag);
  if (index <= 0) return index;  // the first channel has none before it: 0
  return RelayChannelAt(*RelayDescriptor(slot), index - 1);
}

int32_t RelayLastChannel(int slot, uint8_t /*channel_flag*/) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr || d->channel_count <= 0) return err::kChannelNotValid;
  return RelayChannelAt(*d, d->channel_count - 1);
}

int32_t RelayChannelCount(int slot, uint8_t /*channel_flag*/) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  return d != nullptr ? d->channel_count : 0;
}

int32_t RelayIsValidChannel(int slot, int32_t channel) {
  if (!IsCardSlot(slot)) return 0;
  return RelayChannelToIndex(slot, channel, 0) >= 0 ? 1 : 0;
}

int32_t RelayGetRelayState(int slot, int32_t channel) {
  const RelayCardDescriptor* d = nullptr;
  const int32_t index = SlotIndex(slot, channel, &d);
  if (index < 0) return index;
  const uint8_t* current = CurrentImage(slot);
  if (current == nullptr) return kNoRelayImages;
  return ImageBit(*d, current, index) ? 1 : 0;
}

int32_t RelayVerifyChannel(int slot, int32_t channel, int32_t verify_mode) {
  const RelayCardDescriptor* d = nullptr;
  const int32_t index = SlotIndex(slot, channel, &d);
  if (index < 0) return index;
  if (verify_mode == 2) return 1;  // not verified: counts as agreeing
  const uint8_t* current = CurrentImage(slot);
  if (current == nullptr) return kNoRelayImages;
  std::vector<uint8_t> readback(static_cast<size_t>(d->drive_bytes));
  const int32_t read = ReadDriveReadback(slot, readback.data());
  if (read < 0) return read;
  const uint32_t bit = d->relay_map != nullptr ? d->relay_map[index * d->map_width]
                                               : static_cast<uint32_t>(index);
  // A channel without a coil of its own has nothing to read back.
  if (bit == kNoDriveBit || bit >= static_cast<uint32_t>(d->drive_bytes) * 8) return 1;
  const bool low = ((readback[bit / 8] >> (bit % 8)) & 1) == 0;
  const bool hardware = verify_mode == 0 ? !low : low;
  return hardware == ImageBit(*d, current, index) ? 1 : 0;
}

int32_t RelaySetPending(int slot, int32_t channel, int32_t close) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  if (d == nullptr) return err::kChannelNotValid;
  const int32_t index = RelayIndexOf(*d, channel);
  if (index < 0) return index;
  if (index >= ImageChannels(*d)) return err::kChannelNotValid;
  uint8_t* pending = PendingImage(slot);
  if (pending == nullptr) return kNoRelayImages;
  const uint8_t before = pending[index / 8];
  SetImageBit(pending, index, close != 0);
  if (pending[index / 8] != before) SetPendingChange(slot);
  return 0;
}

int32_t RelayApplyPending(int slot, int32_t how) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  uint8_t* pending = PendingImage(slot);
  uint8_t* current = CurrentImage(slot);
  if (d == nullptr || pending == nullptr || current == nullptr) {
    return kNoRelayImages;
  }
  int32_t changed = 0;
  for (int j = 0; j < d->image_bytes; ++j) {
    uint8_t merged = current[j];
    switch (how) {
      case 1: merged = current[j] & pending[j]; break;  // openings only
      case 2: merged = current[j] | pending[j]; break;  // closings only
      case 3: merged = pending[j]; break;
      default: break;
    }
    if (merged != current[j]) changed = 1;
    current[j] = merged;
  }
  return changed;
}

int32_t RelayRevertPending(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  uint8_t* pending = PendingImage(slot);
  const uint8_t* current = CurrentImage(slot);
  if (d == nullptr || pending == nullptr || current == nullptr) {
    return kNoRelayImages;
  }
  std::memcpy(pending, current, static_cast<size_t>(d->image_bytes));
  return 0;
}

int32_t RelayWriteHardware(int slot) {
  const int32_t built = BuildDriveImage(slot);
  if (built != 0) return built;
  return WriteDriveImage(slot);
}

int32_t RelaySettleTime(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  return d != nullptr ? d->settle_time : 0;
}

int32_t RelayConfidenceCheck(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  const uint8_t* drive = DriveImage(slot);
  if (d == nullptr || drive == nullptr) return kNoRelayImages;
  std::vector<uint8_t> readback(static_cast<size_t>(d->drive_bytes));
  // A relay still moving may differ on the first read: wait and read once more.
  for (int pass = 0; pass < 2; ++pass) {
    const int32_t read = ReadDriveReadback(slot, readback.data());
    if (read < 0) return read;
    bool differs = false;
    for (int j = 0; j < d->drive_bytes; ++j) {
      const uint8_t mask = d->confidence_mask != nullptr ? d->confidence_mask[j] : 0xFF;
      if ((static_cast<uint8_t>(~readback[j]) & mask) == (drive[j] & mask)) continue;
      if (pass == 1) return ConfidenceError(slot);
      differs = true;
      DelayMicroseconds(static_cast<uint32_t>(d->settle_time));
    }
    if (!differs) return 0;
  }
  return 0;
}

int32_t RelayInterrupt(int /*slot*/, uint8_t /*status*/) { return 0; }

int32_t RelayShutdown(int slot) {
  const RelayCardDescriptor* d = RelayDescriptor(slot);
  uint8_t* pending = PendingImage(slot);
  uint8_t* current = CurrentImage(slot);
  if (d != nullptr && pending != nullptr && current != nullptr) {
    std::memset(pending, 0, static_cast<size_t>(d->image_bytes));
    std::memset(current, 0, static_cast<size_t>(d->image_bytes));
  }
  PostRelayStateChanged(slot);
  return 0;
}
