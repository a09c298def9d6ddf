// The slots of the card cage, as the firmware and the virtual chassis both number
// them: slot 0 is the chassis itself (its pseudo-card), slots 1..12 hold plug-in
// cards. Per-slot arrays have kSlotCount entries.
#pragma once

inline constexpr int kSlotCount = 13;
inline constexpr int kFirstCardSlot = 1;
inline constexpr int kLastCardSlot = 12;

// Any slot, the chassis included.
constexpr bool InSlotRange(int slot) { return slot >= 0 && slot < kSlotCount; }
// A plug-in card's slot.
constexpr bool IsCardSlot(int slot) { return slot >= kFirstCardSlot && slot <= kLastCardSlot; }
