// The thirteen slot records, the memory behind them and the lock that guards both
// (see card_storage.h): the bottom of card management, which calls nothing above it.
#include "cards/card_storage.h"

#include <atomic>
#include <mutex>

#include "cards/card_manager.h"

namespace {

CardRecord g_cards[kSlotCount];
SlotStorage g_storage[kSlotCount];

// Allocations left before one fails, for the tests; negative: none fails.
std::atomic<int> g_allocations_before_failure{-1};

}  // namespace

CardRecord& SlotRecord(int slot) { return g_cards[slot]; }

SlotStorage& SlotStorageOf(int slot) { return g_storage[slot]; }

bool IsPresent(int slot) { return InSlotRange(slot) && g_cards[slot].present != 0; }

bool AllocationAllowed() {
  int left = g_allocations_before_failure.load();
  while (left >= 0 && !g_allocations_before_failure.compare_exchange_weak(left, left - 1)) {
  }
  return left != 0;
}

void FailCardAllocationForTest(int successes) { g_allocations_before_failure = successes; }

std::recursive_mutex& CardStateLock() {
  static std::recursive_mutex lock;
  return lock;
}
