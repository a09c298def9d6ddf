// Relay working lists: the relays one switching operation touches, by slot and channel,
// with the set operations that widen them by the interlock groups. Lists are built for
// one operation and dropped at its end. They allocate; callers turn std::bad_alloc
// into "Out of memory".
#pragma once

#include <cstdint>
#include <vector>

#include "switching/channel_list.h"

struct RelayRef {
  int32_t slot;
  int32_t channel;
  bool operator==(const RelayRef&) const = default;
};
using RelayRefs = std::vector<RelayRef>;

// One ref per element, in order, up to the first path element.
RelayRefs ToRelayRefs(const std::vector<ChannelListElement>& list);
// The refs followed by every ref's include partners (other than itself), without
// duplicates: the relays that switch together with these.
RelayRefs IncludeClosure(RelayRefs refs);
// The exclude partners of every ref (other than itself), without duplicates; the refs
// themselves are not in it unless one is another's partner.
RelayRefs ExcludeSet(const RelayRefs& refs);
// `source` without every ref that `removal` holds.
RelayRefs SubtractRefs(const RelayRefs& removal, RelayRefs source);
// Each ref once, at its first place.
RelayRefs DedupeRefs(RelayRefs refs);
// (slot, first) and the channels after it in the card's numbering: n refs, or fewer
// when the card has no next channel.
RelayRefs ChannelRun(int slot, int32_t first, int32_t n);
