// The relay-driver core: one set of card operations that serves every relay card,
// parameterised by a per-model descriptor (channel table, relay map, image and drive
// sizes, confidence mask, settle time).
//
// A card's channels are numbered by its channel table; a channel's index is its position
// in that table and its bit in the relay images (1 = closed). The relay map gives, per
// channel index, the drive bit(s) that energise its coil(s); drive byte j goes to
// local-bus address 1 + 2j, and reading that address returns the coils active low.
//
// Every core operation is public, so that a model that differs in one respect builds its
// operation table from kRelayCardOperations and replaces only that entry, and can call the
// core's helpers (drive image, readback) from its own operations.
#pragma once

#include <cstdint>

#include "cards/card_record.h"

// A relay map entry that drives no coil.
inline constexpr uint16_t kNoDriveBit = 0xFFFF;
// Drive byte j of a relay card sits at kDriveRegister + 2j.
inline constexpr uint32_t kDriveRegister = 0x1;

struct RelayCardDescriptor {
  uint32_t type_id = 0;
  // GetIdentity's description; its first word is the model name.
  const char* description = "";
  int32_t channel_count = 0;
  // channel_count channel numbers, in index order, strictly ascending. Null: channel i
  // is numbered i.
  const uint16_t* channel_table = nullptr;
  // map_width drive bits per channel index (kNoDriveBit: none), channel_count entries
  // of map_width each. Null: index i drives bit i.
  const uint16_t* relay_map = nullptr;
  int map_width = 1;
  int image_bytes = 0;  // pending and current image
  int drive_bytes = 0;  // drive image and readback
  // drive_bytes bytes: the bits that carry coils, compared by ConfidenceCheck. Null:
  // every bit.
  const uint8_t* confidence_mask = nullptr;
  // Microseconds: SettleTime, the wait at each confidence difference, and the default
  // of each channel's four delay values.
  int32_t settle_time = 0;
};

// ---- Core operations (slot first, as in the operation table) ----------------------
int32_t RelayInit(int slot);
int32_t RelayReset(int slot);
int32_t RelayGetIdentity(int slot, char* description, char* serial, char* rev1, char* rev2,
                         char* rev3);
int32_t RelayChannelToIndex(int slot, int32_t channel, uint8_t channel_flag);
int32_t RelayFirstChannel(int slot, uint8_t channel_flag);
int32_t RelayNextChannel(int slot, int32_t channel, uint8_t channel_flag);
int32_t RelayPrevChannel(int slot, int32_t channel, uint8_t channel_flag);
int32_t RelayLastChannel(int slot, uint8_t channel_flag);
int32_t RelayChannelCount(int slot, uint8_t channel_flag);
int32_t RelayIsValidChannel(int slot, int32_t channel);
int32_t RelayGetRelayState(int slot, int32_t channel);
int32_t RelayVerifyChannel(int slot, int32_t channel, int32_t verify_mode);
int32_t RelaySetPending(int slot, int32_t channel, int32_t close);
int32_t RelayApplyPending(int slot, int32_t how);
int32_t RelayRevertPending(int slot);
int32_t RelayWriteHardware(int slot);
int32_t RelaySettleTime(int slot);
int32_t RelayConfidenceCheck(int slot);
int32_t RelayInterrupt(int slot, uint8_t status);
int32_t RelayShutdown(int slot);

// The operation table of a standard relay card: operations 1-11, 14 and 18-25.
inline constexpr CardOperations kRelayCardOperations{
    .Init = RelayInit,
    .Reset = RelayReset,
    .GetIdentity = RelayGetIdentity,
    .ChannelToIndex = RelayChannelToIndex,
    .FirstChannel = RelayFirstChannel,
    .NextChannel = RelayNextChannel,
    .PrevChannel = RelayPrevChannel,
    .LastChannel = RelayLastChannel,
    .ChannelCount = RelayChannelCount,
    .IsValidChannel = RelayIsValidChannel,
    .GetRelayState = RelayGetRelayState,
    .GetRelayCount = nullptr,
    .SetRelayCount = nullptr,
    .VerifyChannel = RelayVerifyChannel,
    .ValidateHook = nullptr,
    .SegmentHook = nullptr,
    .ExecuteHook = nullptr,
    .SetPending = RelaySetPending,
    .ApplyPending = RelayApplyPending,
    .RevertPending = RelayRevertPending,
    .WriteHardware = RelayWriteHardware,
    .SettleTime = RelaySettleTime,
    .ConfidenceCheck = RelayConfidenceCheck,
    .Interrupt = RelayInterrupt,
    .Shutdown = RelayShutdown,
    .DigitalOp = nullptr,
};

// A built-in relay card's template: the model's type id and descriptor with the given
// operations.
constexpr CardTemplate RelayCardTemplate(const RelayCardDescriptor& descriptor,
                                         const CardOperations& operations = kRelayCardOperations) {
  CardTemplate card{};
  card.type_id = descriptor.type_id;
  card.present = 1;
  card.operations = operations;
  card.relay_descriptor = &descriptor;
  return card;
}

// ---- Helpers for drivers built on the core ----------------------------------------
// GetIdentity's answer of a card without serial number and revisions: `text` and four
// "N/A" (each buffer kCardTextSize bytes).
void FillCardIdentity(const char* text, char* description, char* serial, char* rev1, char* rev2,
                      char* rev3);
// The descriptor of the relay card in `slot` (1..12), else null.
const RelayCardDescriptor* RelayDescriptor(int slot);
// The channel number at `index` of the descriptor's table (no range check).
int32_t RelayChannelAt(const RelayCardDescriptor& descriptor, int32_t index);
// The index of `channel` in the descriptor's table, or err::kChannelNotValid.
int32_t RelayIndexOf(const RelayCardDescriptor& descriptor, int32_t channel);
// Whether `index`'s bit is set in an image of the descriptor's size.
bool ImageBit(const RelayCardDescriptor& descriptor, const uint8_t* image, int32_t index);
// Sets the drive bits of channel `index` in `drive` (bits past the drive bytes are
// skipped, as are kNoDriveBit entries).
void SetDriveBits(const RelayCardDescriptor& descriptor, int32_t index, uint8_t* drive);
// Clears the slot's drive image and sets the bits of every closed channel of the current
// image. 0, or kNoRelayImages.
int32_t BuildDriveImage(int slot);
// Writes the slot's drive image to the card: 0 or the first failed write's result.
int32_t WriteDriveImage(int slot);
// Reads the card's drive_bytes readback bytes (active low) into `readback`.
int32_t ReadDriveReadback(int slot, uint8_t* readback);
