// The one array of slot notification flags and its broadcast seam.
#include "scpi/slot_notifications.h"

#include <cstring>
#include <mutex>

#include "core/seam.h"

namespace {

std::mutex g_lock;
int32_t g_flags[kSlotCount];
Seam<void(const int32_t*)> g_broadcast;

bool InRange(int slot) { return slot >= 0 && slot < kSlotCount; }

// The broadcast runs outside the lock, on a copy: it writes to the event FIFOs.
void Broadcast(const int32_t* flags) {
  if (SlotNotificationBroadcast broadcast = g_broadcast.function()) broadcast(flags);
}

}  // namespace

void SetSlotNotificationBroadcast(SlotNotificationBroadcast broadcast) {
  g_broadcast.Connect(broadcast);
}

void ClearSlotNotifications() {
  std::lock_guard<std::mutex> hold(g_lock);
  std::memset(g_flags, 0, sizeof g_flags);
}

void FlagSlotNotification(int slot) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (InRange(slot)) g_flags[slot] = 1;
}

const int32_t* SlotNotifications() { return g_flags; }

void BroadcastFlaggedSlots() {
  int32_t flags[kSlotCount];
  bool any = false;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    std::memcpy(flags, g_flags, sizeof flags);
  }
  // Only slots 0 to 11 decide whether the notice goes out (event sockets cannot
  // register for slot 12's relay changes either); when it goes, all 13 flags travel.
  for (int slot = 0; slot < kSlotCount - 1; ++slot) any = any || flags[slot] != 0;
  if (any) Broadcast(flags);
}

void PostSlotNotification(int slot) {
  int32_t flags[kSlotCount];
  {
    std::lock_guard<std::mutex> hold(g_lock);
    std::memset(g_flags, 0, sizeof g_flags);
    if (InRange(slot)) g_flags[slot] = 1;
    std::memcpy(flags, g_flags, sizeof flags);
  }
  Broadcast(flags);
}
