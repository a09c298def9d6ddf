// Walks over a card's channels in its own order: from its first channel through its
// next-channel answers, as many as it says it has (so a card whose numbering goes round
// cannot hold the walk).
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
