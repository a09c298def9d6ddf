// Relay working lists (see relay_refs.h). Set membership goes through a hash set of
// (slot, channel) pairs, so each operation is linear in the lengths of its lists.
#include "switching/relay_refs.h"

#include <unordered_set>

#include "cards/card_manager.h"
#include "switching/interlocks.h"

namespace {

uint64_t Key(const RelayRef& ref) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(ref.slot)) << 32) |
         static_cast<uint32_t>(ref.channel);
}

// Appends the members of each ref's group on `side`, other than the ref itself.
void AppendPartners(const RelayRefs& refs, InterlockSide side, RelayRefs* out) {
  for (const RelayRef& ref : refs) {
    const InterlockGroup* group = InterlockGroupOf(side, ref.slot, ref.channel);
    if (group == nullptr) continue;
    for (const RelayRef& member : group->members) {
      if (!(member == ref)) out->push_back(member);
    }
  }
}

}  // namespace

RelayRefs ToRelayRefs(const std::vector<ChannelListElement>& list) {
  RelayRefs refs;
  refs.reserve(list.size());
  for (const ChannelListElement& element : list) {
    if (element.path != 0) break;
    refs.push_back({element.slot, element.channel});
  }
  return refs;
}

RelayRefs IncludeClosure(RelayRefs refs) {
  RelayRefs partners;
  AppendPartners(refs, InterlockSide::kInclude, &partners);
  refs.insert(refs.end(), partners.begin(), partners.end());
  return DedupeRefs(std::move(refs));
}

RelayRefs ExcludeSet(const RelayRefs& refs) {
  RelayRefs partners;
  AppendPartners(refs, InterlockSide::kExclude, &partners);
  return DedupeRefs(std::move(partners));
}

RelayRefs SubtractRefs(const RelayRefs& removal, RelayRefs source) {
  std::unordered_set<uint64_t> removed;
  removed.reserve(removal.size());
  for (const RelayRef& ref : removal) removed.insert(Key(ref));
  std::erase_if(source, [&](const RelayRef& ref) { return removed.count(Key(ref)) != 0; });
  return source;
}

RelayRefs DedupeRefs(RelayRefs refs) {
  std::unordered_set<uint64_t> seen;
  seen.reserve(refs.size());
  std::erase_if(refs, [&](const RelayRef& ref) { return !seen.insert(Key(ref)).second; });
  return refs;
}

RelayRefs ChannelRun(int slot, int32_t first, int32_t n) {
  RelayRefs refs;
  int32_t channel = first;
  for (int32_t i = 0; i < n && channel >= 0; ++i) {
    refs.push_back({slot, channel});
    channel = CardNextChannel(slot, channel, 0);
  }
  return refs;
}
