// The SM-AT56 driver: a 55.75 dB step attenuator addressed as channel 0. Eight pad
// relays (relay k inserts pad k) are held in image bits 0-7 and driven on drive bits
// 0-3 and 8-11; the driver keeps each slot's pad table for the attenuation command and
// validates the channel-delay command for the card.
#include <cstring>
#include <mutex>

#include "cards/card_manager.h"
#include "cards/relay_driver.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"

namespace {

constexpr int kImageBytes = 2;
constexpr int kDriveBytes = 2;
constexpr double kHeadroom = 0.1;              // dB added to a request against rounding
constexpr double kInitialAttenuation = 55.85;  // every pad inserted

// Relay k's drive bit.
constexpr int kPadDriveBit[kAttenuatorPads] = {0, 1, 2, 3, 8, 9, 10, 11};
constexpr double kPadAttenuation[kAttenuatorPads] = {0.25, 0.5, 1, 2, 4, 8, 16, 24};

constexpr uint8_t kConfidenceMask[kDriveBytes] = {0x0F, 0x0F};

constexpr RelayCardDescriptor kDescriptor{
    .type_id = kSmAt56TypeId,
    .description = "SM-AT56 56 dB Attenuator",
    .channel_count = 1,
    .channel_table = nullptr,
    .relay_map = nullptr,
    .image_bytes = kImageBytes,
    .drive_bytes = kDriveBytes,
    .confidence_mask = kConfidenceMask,
    .settle_time = 1000,
};

AttenuatorPadTable g_pad_tables[kSlotCount];


// 0 when `slot` holds an attenuator, else the refusal.
int32_t CheckAttenuator(int slot) {
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  uint32_t type_id = 0;
  if (!IsCardPresent(slot) || GetCardTypeId(slot, &type_id) != 0) return err::kNoModule;
  return type_id == kSmAt56TypeId ? 0 : err::kNotSupportedByChannel;  // not an attenuator
}

void DeselectPads(int slot) {
  for (auto& pad : g_pad_tables[slot].pads) pad.selected = 0;
}

int32_t At56WriteHardware(int slot) {
  const uint8_t* current = CurrentImage(slot);
  uint8_t* drive = DriveImage(slot);
  if (RelayDescriptor(slot) == nullptr || current == nullptr || drive == nullptr) {
    return kNoRelayImages;
  }
  std::memset(drive, 0, kDriveBytes);
  for (int k = 0; k < kAttenuatorPads; ++k) {
    if (((current[0] >> k) & 1) == 0) continue;
    drive[kPadDriveBit[k] / 8] |= static_cast<uint8_t>(1u << (kPadDriveBit[k] % 8));
  }
  return WriteDriveImage(slot);
}

int32_t At56Init(int slot) {
  const int32_t initialised = RelayInit(slot);
  AttenuatorPadTable& table = g_pad_tables[slot];
  table.type_id = kSmAt56TypeId;
  table.pad_count = kAttenuatorPads;
  table.total = 55.75;
  for (int k = 0; k < kAttenuatorPads; ++k) table.pads[k] = {kPadAttenuation[k], 0};
  table.polarity = 1;
  if (initialised != 0) return initialised;
  return SetAttenuation(slot, kInitialAttenuation);
}

// Reset and shutdown open every pad relay, so the pad table says no pad is inserted.
int32_t At56Reset(int slot) {
  DeselectPads(slot);
  return RelayReset(slot);
}

int32_t At56Shutdown(int slot) {
  DeselectPads(slot);
  return RelayShutdown(slot);
}

// The channel-delay command takes one value from 0 to 128 before its channel list; its
// query only the list.
int32_t At56ValidateHook(int32_t command_id, int /*slot*/, int32_t /*channel*/,
                         CommandContext* context) {
  if (context == nullptr) return err::kSystemError;
  if (command_id == kChannelDelayQueryId) return CheckParameterCount(context, 1, 1);
  if (command_id != kChannelDelayCommandId) return err::kCommandError;
  const int32_t counted = CheckParameterCount(context, 2, 2);
  if (counted != 0) return counted;
  double delay = 0;
  return ParseReal(context->parameters[0], 0, 128, &delay);
}

int32_t At56SegmentHook(int32_t /*command_id*/, int /*slot*/, int32_t /*channel*/,
                        CommandContext* /*context*/) {
  return 0;
}

constexpr CardOperations MakeOperations() {
  CardOperations operations = kRelayCardOperations;
  operations.Init = At56Init;
  operations.Reset = At56Reset;
  operations.ValidateHook = At56ValidateHook;
  operations.SegmentHook = At56SegmentHook;
  operations.WriteHardware = At56WriteHardware;
  operations.Shutdown = At56Shutdown;
  return operations;
}

}  // namespace

constinit const CardTemplate kSmAt56Template = RelayCardTemplate(kDescriptor, MakeOperations());

int32_t SetAttenuation(int slot, double decibels) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const int32_t checked = CheckAttenuator(slot);
  if (checked != 0) return checked;
  uint8_t* pending = PendingImage(slot);
  if (pending == nullptr) return kNoRelayImages;
  AttenuatorPadTable& table = g_pad_tables[slot];
  double remaining = decibels + kHeadroom;
  for (int k = static_cast<int>(table.pad_count) - 1; k >= 0; --k) {
    auto& pad = table.pads[k];
    pad.selected = pad.attenuation <= remaining ? 1 : 0;
    if (pad.selected) remaining -= pad.attenuation;
  }
  uint8_t relays = 0;
  for (int k = 0; k < static_cast<int>(table.pad_count); ++k) {
    const bool closed = (table.pads[k].selected != 0) == (table.polarity != 0);
    if (closed) relays |= static_cast<uint8_t>(1u << k);
  }
  pending[0] = relays;
  const int32_t applied = RelayApplyPending(slot, 3);
  if (applied < 0) return applied;
  return At56WriteHardware(slot);
}

int32_t GetAttenuation(int slot, double* decibels) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const int32_t checked = CheckAttenuator(slot);
  if (checked != 0) return checked;
  if (decibels == nullptr) return err::kSystemError;
  double sum = 0;
  const AttenuatorPadTable& table = g_pad_tables[slot];
  for (int k = 0; k < static_cast<int>(table.pad_count); ++k) {
    if (table.pads[k].selected) sum += table.pads[k].attenuation;
  }
  *decibels = sum;
  return 0;
}

const AttenuatorPadTable* AttenuatorPads(int slot) {
  return IsCardSlot(slot) ? &g_pad_tables[slot] : nullptr;
}
