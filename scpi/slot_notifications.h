// The slot notification flags: one flag per slot (0 the chassis, 1..12 the cards)
// saying that the slot's relay states changed. The engine clears them when a program
// message starts and broadcasts them when it ends; handlers and card drivers flag the
// slots they change, and a card that changes its relays on its own (reset, shutdown)
// posts its notice at once. The broadcast goes to whoever the controller connects
// (the event channel's relay-change notice); unconnected, nothing is sent.
//
// One array serves the engine and the cards. It is guarded by its own lock, because a
// card may post from the interrupt monitor while a command thread executes.
#pragma once

#include <cstdint>

#include "devices/slots.h"

using SlotNotificationBroadcast = void (*)(const int32_t* flags);
void SetSlotNotificationBroadcast(SlotNotificationBroadcast broadcast);

void ClearSlotNotifications();
// Flags one slot; a slot outside 0..12 is ignored.
void FlagSlotNotification(int slot);
// The flags as they stand (for the executing thread and for tests).
const int32_t* SlotNotifications();
// Hands all 13 flags to the broadcast when any of slots 0 .. 11 is flagged.
void BroadcastFlaggedSlots();
// Clears the flags, flags `slot` (when in 0..12) and hands all 13 flags to the
// broadcast at once, whatever they hold.
void PostSlotNotification(int slot);
