// Relay operations and the commit (see relay_operations.h).
#include "switching/relay_operations.h"

#include <new>
#include <unordered_map>

#include "cards/card_manager.h"
#include "cards/special_cards.h"
#include "core/seam.h"
#include "devices/slots.h"
#include "hardware/delay.h"
#include "scpi/error_codes.h"
#include "scpi/slot_notifications.h"

namespace {

Seam<int32_t()> g_switch_completion;
Seam<void(uint32_t)> g_settle_wait;

void SettleFor(uint32_t microseconds) {
  SettleWait wait = g_settle_wait.function();
  if (wait != nullptr) {
    wait(microseconds);
  } else {
    DelayMicroseconds(microseconds);
  }
}

// What each card does in each of the commit's three steps: 0 nothing, else the
// ApplyPending mode (1 opens, 2 closes, 3 everything).
int32_t HowInStep(uint32_t mode, int step) {
  switch (mode) {
    case kRelayModeMbb:
      return step == 1 ? 2 : step == 2 ? 1 : 0;
    case kRelayModeImm:
      return step == 0 ? 3 : 0;
    default:  // BBM, BBM only
      return step == 1 ? 1 : step == 2 ? 2 : 0;
  }
}

// After a failure the marks that were not applied are dropped, so that a later
// command switches only what it asks for.
int32_t DropPendingChanges(int32_t code) {
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (IsCardPresent(slot) && GetPendingChange(slot)) CardRevertPending(slot);
  }
  ClearAllPendingChanges();
  return code;
}

bool IsOneWireMux(uint32_t type_id) {
  return type_id == kSmMx26qTypeId || type_id == kSmMx12hTypeId;
}

// SM-MX26Q: a later channel up to 1999 may not share its group of ten with an earlier,
// different channel: one channel per four-channel multiplexer.
bool Mx26qCompatible(const std::vector<int32_t>& channels) {
  struct Group {
    int32_t first;
    bool several;  // more than one distinct channel seen
  };
  std::unordered_map<int32_t, Group> groups;
  for (int32_t channel : channels) {
    auto found = groups.find(channel / 10);
    if (channel <= 1999 && found != groups.end() &&
        (found->second.several || found->second.first != channel)) {
      return false;
    }
    if (found == groups.end()) {
      groups.emplace(channel / 10, Group{channel, false});
    } else if (found->second.first != channel) {
      found->second.several = true;
    }
  }
  return true;
}

// SM-MX12H: within one multiplexer (hundreds up to 1999) the channels must all be in its
// low half (last two digits below 8) or all in its high half; and channels above 9999
// cannot be closed with channels up to 9999.
bool Mx12hCompatible(const std::vector<int32_t>& channels) {
  struct Halves {
    bool low;
    bool high;
  };
  std::unordered_map<int32_t, Halves> muxes;
  bool above = false;
  bool below = false;
  for (int32_t channel : channels) {
    const bool high_range = channel > 9999;
    if ((high_range && below) || (!high_range && above)) return false;
    (high_range ? above : below) = true;
    Halves& halves = muxes[channel / 100];
    const bool low_half = channel % 100 < 8;
    if (channel <= 1999 && (low_half ? halves.high : halves.low)) return false;
    (low_half ? halves.low : halves.high) = true;
  }
  return true;
}

}  // namespace

int32_t SetPendingList(const RelayRefs& refs, int32_t close) {
  for (const RelayRef& ref : refs) {
    const int32_t result = CardSetPending(ref.slot, ref.channel, close);
    if (result < 0) return result;
  }
  return 0;
}

int32_t CommitRelays() {
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (IsCardPresent(slot) && GetPendingChange(slot) && EmergencyShutdownActive()) {
      return DropPendingChanges(err::kExternalResetActive);
    }
  }
  for (int step = 0; step < 3; ++step) {
    int32_t longest = 0;
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      if (!IsCardPresent(slot) || !GetPendingChange(slot)) continue;
      uint32_t mode = kRelayModeBbm;
      if (GetSwitchingMode(slot, &mode) != 0) continue;
      const int32_t how = HowInStep(mode, step);
      if (how == 0) continue;
      const int32_t applied = CardApplyPending(slot, how);
      if (applied < 0) return DropPendingChanges(applied);
      if (applied == 0) continue;
      const int32_t written = CardWriteHardware(slot);
      if (written < 0) return DropPendingChanges(written);
      FlagSlotNotification(slot);
      const int32_t settle = CardSettleTime(slot);
      if (settle > longest) longest = settle;
    }
    if (longest > 0) SettleFor(static_cast<uint32_t>(longest));
  }
  return 0;
}

int32_t CloseChannels(const ChannelList& list) {
  if (EmergencyShutdownActive()) return err::kEmergencyShutdownActive;
  int32_t opened = 0;
  int32_t closed = 0;
  try {
    const RelayRefs close_set = IncludeClosure(ToRelayRefs(list.close));
    RelayRefs to_open = IncludeClosure(ToRelayRefs(list.open));
    const RelayRefs excluded = ExcludeSet(close_set);
    to_open.insert(to_open.end(), excluded.begin(), excluded.end());
    to_open = DedupeRefs(std::move(to_open));
    const RelayRefs to_close = SubtractRefs(to_open, close_set);
    opened = SetPendingList(to_open, 0);
    closed = SetPendingList(to_close, 1);
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  if (opened < 0) return DropPendingChanges(opened);
  if (closed < 0) return DropPendingChanges(closed);
  const int32_t committed = CommitRelays();
  if (committed < 0) return committed;
  return RunSwitchCompletionTrigger();
}

int32_t OpenChannels(const ChannelList& list) {
  if (EmergencyShutdownActive()) return err::kEmergencyShutdownActive;
  try {
    const int32_t opened = SetPendingList(IncludeClosure(ToRelayRefs(list.close)), 0);
    if (opened < 0) return DropPendingChanges(opened);
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  const int32_t committed = CommitRelays();
  if (committed < 0) return committed;
  return RunSwitchCompletionTrigger();
}

int32_t OpenAllChannels() {
  int32_t first_failure = 0;
  try {
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      if (!IsCardPresent(slot)) continue;
      const int32_t count = CardChannelCount(slot, 0);
      if (count <= 0) continue;
      const int32_t first = CardFirstChannel(slot, 0);
      if (CardIsValidChannel(slot, first) != 1) continue;  // digital cards
      const int32_t opened = SetPendingList(ChannelRun(slot, first, count), 0);
      if (opened < 0 && first_failure == 0) first_failure = opened;
    }
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  const int32_t committed = CommitRelays();
  const int32_t triggered = RunSwitchCompletionTrigger();
  if (first_failure < 0) return first_failure;
  if (committed < 0) return committed;
  return triggered;
}

int PathClosedState(const char* name) {
  const ChannelList* path = LookupPath(name);
  if (path == nullptr) return 0;
  for (const ChannelListElement& element : path->close) {
    if (CardGetRelayState(element.slot, element.channel) <= 0) return 0;
  }
  for (const ChannelListElement& element : path->open) {
    if (CardGetRelayState(element.slot, element.channel) != 0) return 0;
  }
  return 1;
}

int32_t CheckCloseCompatibility(const ChannelList& list) {
  try {
    std::vector<int32_t> channels[kSlotCount];
    for (const ChannelListElement& element : list.close) {
      if (element.path == 0 && element.slot >= 0 && element.slot < kSlotCount) {
        channels[element.slot].push_back(element.channel);
      }
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (channels[slot].empty()) continue;
      uint32_t type_id = 0;
      if (GetCardTypeId(slot, &type_id) != 0) return err::kIncompatibleMatrixRelays;
      if (!IsOneWireMux(type_id)) continue;
      const bool compatible = type_id == kSmMx26qTypeId ? Mx26qCompatible(channels[slot])
                                                        : Mx12hCompatible(channels[slot]);
      if (!compatible) return err::kIncompatibleMatrixRelays;
    }
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  return 0;
}

void SetSwitchCompletionTrigger(SwitchCompletionTrigger trigger) {
  g_switch_completion.Connect(trigger);
}

int32_t RunSwitchCompletionTrigger() {
  SwitchCompletionTrigger trigger = g_switch_completion.function();
  return trigger != nullptr ? trigger() : 0;
}

void SetSettleWaitForTest(SettleWait wait) { g_settle_wait.Connect(wait); }
