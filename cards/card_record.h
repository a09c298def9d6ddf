// The per-slot card record and the card operation table.
//
// Every slot (0 the chassis, 1..12 the card slots) has one CardRecord. Installation
// copies a read-only CardTemplate of the card's type into the slot's record; the
// record then carries the card's relay images, its switching mode and, for cards whose
// tables come from their own EPROM, the downloaded tables. Other parts of the firmware
// never call an operation directly: they go through the dispatchers of
// cards/card_manager.h, which check the slot, the card and the operation first.
//
// A null operation means the card does not offer it. Results follow the engine's
// convention: negative is an error, 0 or positive is success (kNoRelayImages means the
// relay images are missing; 0/1 answers are results, not errors).
#pragma once

#include <cstdint>

#include "devices/card_registers.h"
#include "devices/slots.h"
#include "scpi/error_codes.h"

struct CommandContext;
struct RelayCardDescriptor;  // cards/relay_driver.h

// The answer of a relay operation on a card that has no relay images.
inline constexpr int32_t kNoRelayImages = err::kInternalError4;

inline constexpr int kCardTextSize = 128;   // each GetIdentity text buffer
inline constexpr int kModuleIdLength = kEpromModuleIdBytes;  // downloaded module id text, without its NUL

// Card type ids.
inline constexpr uint32_t kChassisTypeId = 0x7A00;
inline constexpr uint32_t kGenericTypeId = 0xABCD;
inline constexpr uint32_t kUnsupportedTypeId = 0xDCBA;  // web control of category 4 cards

enum CardCategory : uint32_t {
  kCardBuiltInRelay = 0,    // built-in relay driver
  kCardDigital = 1,         // digital I/O card
  kCardDownloaded = 2,      // downloaded, served by the generic web control
  kCardDownloadedOwn = 3,   // downloaded, with a web control of its own
  kCardUnsupported = 4,     // downloaded, names function descriptors this firmware lacks
};

// The card operations, in the order they stand in the record.
struct CardOperations {
  int32_t (*Init)(int slot);
  int32_t (*Reset)(int slot);
  // Each buffer holds kCardTextSize bytes. The first word of the description is the
  // model name.
  int32_t (*GetIdentity)(int slot, char* description, char* serial, char* rev1, char* rev2,
                         char* rev3);
  int32_t (*ChannelToIndex)(int slot, int32_t channel, uint8_t channel_flag);
  int32_t (*FirstChannel)(int slot, uint8_t channel_flag);
  int32_t (*NextChannel)(int slot, int32_t channel, uint8_t channel_flag);
  int32_t (*PrevChannel)(int slot, int32_t channel, uint8_t channel_flag);
  int32_t (*LastChannel)(int slot, uint8_t channel_flag);
  int32_t (*ChannelCount)(int slot, uint8_t channel_flag);
  int32_t (*IsValidChannel)(int slot, int32_t channel);
  int32_t (*GetRelayState)(int slot, int32_t channel);
  // Relay operation counters. The count travels apart from the result so that a
  // count past 2^31 is not mistaken for an error.
  int32_t (*GetRelayCount)(int slot, int32_t relay, uint32_t* count);
  int32_t (*SetRelayCount)(int slot, int32_t relay, uint32_t count);
  int32_t (*VerifyChannel)(int slot, int32_t channel, int32_t verify_mode);
  int32_t (*ValidateHook)(int32_t command_id, int slot, int32_t channel, CommandContext* context);
  int32_t (*SegmentHook)(int32_t command_id, int slot, int32_t channel, CommandContext* context);
  int32_t (*ExecuteHook)(int32_t command_id, int slot, int32_t channel, CommandContext* context);
  int32_t (*SetPending)(int slot, int32_t channel, int32_t close);
  int32_t (*ApplyPending)(int slot, int32_t how);  // 1 AND, 2 OR, 3 copy
  int32_t (*RevertPending)(int slot);
  int32_t (*WriteHardware)(int slot);
  int32_t (*SettleTime)(int slot);  // microseconds
  int32_t (*ConfidenceCheck)(int slot);
  int32_t (*Interrupt)(int slot, uint8_t status);
  int32_t (*Shutdown)(int slot);
  int32_t (*DigitalOp)(int slot, int32_t port);
};

struct CardRecord {
  uint32_t type_id = 0;
  uint8_t present = 0;
  uint8_t pending_change = 0;
  uint8_t* pending_image = nullptr;
  uint8_t* current_image = nullptr;
  uint8_t* drive_image = nullptr;
  uint32_t switching_mode = 0;
  CardOperations operations{};
  uint32_t category = kCardBuiltInRelay;
  // Downloaded cards only.
  char* module_id_string = nullptr;  // kModuleIdLength + 1 bytes
  uint16_t module_id = 0;
  uint16_t channel_count = 0;
  uint16_t mask_length = 0;
  uint16_t* channel_table = nullptr;
  uint16_t* bit_table = nullptr;
  uint32_t settle_time = 2000;  // microseconds
  uint8_t* confidence_mask = nullptr;
  uint8_t test_interrupt_status = 0;
  // Relay cards: the model's tables and constants, which the relay-driver core works
  // from (a built-in template points at its model's; the generic card's Init fills one
  // from the downloaded tables). Null for cards without relay images.
  const RelayCardDescriptor* relay_descriptor = nullptr;
};

// A card type's read-only record image: type id, present = 1, no images, mode 0, the
// operations, the category and settle time 2000.
using CardTemplate = CardRecord;

// The built-in templates (cards/card_templates.cpp). Null when `type_id` has none.
const CardTemplate* FindCardTemplate(uint32_t type_id);
// The template of every card installed from its own EPROM tables (type id 0xABCD).
const CardTemplate& GenericCardTemplate();
