// The generic card (template 0xABCD): every card whose type has no built-in driver and
// whose relay tables come from its own EPROM. Its Init turns the downloaded tables of the
// slot's record into the slot's relay descriptor, and the relay-driver core does the rest:
// images and drive of the mask length, the downloaded channel and bit tables, the
// record's settle time as settle, confidence wait and channel delay. Tables missing
// after a failed download read as the core's defaults (channel i, bit i, full mask).
#include <cstdint>

#include "cards/card_manager.h"
#include "cards/relay_cards.h"
#include "cards/relay_driver.h"
#include "scpi/error_codes.h"

namespace {

// One descriptor per slot: each downloaded card brings its own tables.
RelayCardDescriptor generic_descriptors[kSlotCount];

int32_t GenericInit(int slot) {
  CardRecord* record = CardSlotRecord(slot);
  if (record == nullptr) return err::kSlotOutOfRange;
  RelayCardDescriptor& d = generic_descriptors[slot];
  d = RelayCardDescriptor{
      .type_id = record->type_id,
      .description = record->module_id_string != nullptr ? record->module_id_string : "",
      .channel_count = record->channel_count,
      .channel_table = record->channel_table,
      .relay_map = record->bit_table,
      .map_width = 1,
      .image_bytes = record->mask_length,
      .drive_bytes = record->mask_length,
      .confidence_mask = record->confidence_mask,
      .settle_time = static_cast<int32_t>(record->settle_time),
  };
  record->relay_descriptor = &d;
  return RelayInit(slot);
}

constexpr CardOperations kGenericOperations = [] {
  CardOperations operations = kRelayCardOperations;
  operations.Init = GenericInit;
  return operations;
}();

constexpr CardTemplate kGenericTemplate{
    .type_id = kGenericTypeId,
    .present = 1,
    .operations = kGenericOperations,
    .category = kCardDownloaded,
};

}  // namespace

const CardTemplate& GenericCardTemplate() { return kGenericTemplate; }
