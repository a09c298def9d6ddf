// What the stored lists ask of the installed cards: a walk over a card's channels in
// its own order (from its first channel through its next-channel answers, as many as
// it says it has, so that a card whose numbering goes round cannot hold the walk), and
// the type id a stored line is checked against.
#pragma once

#include <cstdint>

#include "cards/card_manager.h"

template <typename Visit>
void ForEachCardChannel(int slot, Visit visit) {
  const int32_t count = CardChannelCount(slot, 0);
  int32_t channel = CardFirstChannel(slot, 0);
  for (int32_t i = 0; i < count && channel >= 0; ++i) {
    visit(channel);
    channel = CardNextChannel(slot, channel, 0);
  }
}

// The type id of the card in `slot`, 0 for an empty slot; false when it cannot be read.
inline bool InstalledTypeId(int slot, uint32_t* type_id) {
  *type_id = 0;
  return !IsCardPresent(slot) || GetCardTypeId(slot, type_id) == 0;
}
