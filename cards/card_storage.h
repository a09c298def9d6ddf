// The slot records and the memory behind them, shared by the units of card management
// (identification, slots and dispatchers, interrupts and events); nothing outside card
// management includes this header. The record holds plain pointers (the drivers index
// the images directly); the memory behind them is owned by the slot's storage, which
// the test reset releases. Callers hold CardStateLock() while they touch either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "cards/card_record.h"
#include "cards/special_cards.h"

struct SlotStorage {
  std::unique_ptr<uint8_t[]> pending_image;
  std::unique_ptr<uint8_t[]> current_image;
  std::unique_ptr<uint8_t[]> drive_image;
  std::unique_ptr<char[]> module_id_string;
  std::unique_ptr<uint16_t[]> channel_table;
  std::unique_ptr<uint16_t[]> bit_table;
  std::unique_ptr<uint8_t[]> confidence_mask;
};

// The record and the storage of a slot in 0..12 (the caller checks the range).
CardRecord& SlotRecord(int slot);
SlotStorage& SlotStorageOf(int slot);
// A slot in 0..12 whose card is installed.
bool IsPresent(int slot);

// False when the test seam says this allocation fails (FailCardAllocationForTest).
bool AllocationAllowed();

// A zero-filled array for the slot records, or null when memory (or the test seam)
// refuses it.
template <typename T>
std::unique_ptr<T[]> Allocate(std::size_t count) {
  if (!AllocationAllowed()) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

// Type ids of the card families card management treats apart.
inline bool IsDigitalType(uint32_t type_id) {
  return type_id >= kSmDio12TtlTypeId && type_id <= kSmDio12HvocTypeId;
}
