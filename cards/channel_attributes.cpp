// The per-channel attribute store (see channel_attributes.h). A slot's records are
// made once, by walking the card's channels from its first through its next-channel
// answers, so that a driver's Init, which writes five attributes for each of up to
// 315 channels, walks the card once and then only searches.
//
// The store is used by the command threads and the start-up thread; it is guarded by
// the card state lock, which the setters and getters take themselves.
#include "cards/channel_attributes.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "cards/card_manager.h"
#include "scpi/error_codes.h"

namespace {

// More channels than any card numbers; a walk that gets this far is going round.
constexpr size_t kMostChannels = 65536;

struct SlotAttributes {
  bool made = false;
  std::vector<ChannelAttributes> records;  // ascending by channel
};

SlotAttributes g_slots[kSlotCount];


// The card's channels in its own order, one zero-filled record each. A card whose
// answers stop ascending ends the walk there, so the records stay searchable.
int32_t MakeSlotRecords(int slot, SlotAttributes* attributes) {
  std::vector<ChannelAttributes> records;
  try {
    for (int32_t channel = CardFirstChannel(slot, 0); channel >= 0;) {
      ChannelAttributes record;
      record.channel = channel;
      record.slot = slot;
      records.push_back(record);
      const int32_t next = CardNextChannel(slot, channel, 0);
      if (next <= channel || records.size() >= kMostChannels) break;
      channel = next;
    }
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  attributes->records = std::move(records);
  attributes->made = true;
  return 0;
}

ChannelAttributes* Search(SlotAttributes& attributes, int32_t channel) {
  auto& records = attributes.records;
  const auto found = std::lower_bound(
      records.begin(), records.end(), channel,
      [](const ChannelAttributes& record, int32_t wanted) { return record.channel < wanted; });
  return found != records.end() && found->channel == channel ? &*found : nullptr;
}

}  // namespace

int32_t MakeChannelAttributes(int slot, int32_t channel, ChannelAttributes** record) {
  if (!InSlotRange(slot)) return err::kParameterError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (CardChannelToIndex(slot, channel, 0) < 0) return err::kChannelNotValid;
  SlotAttributes& attributes = g_slots[slot];
  if (!attributes.made) {
    const int32_t made = MakeSlotRecords(slot, &attributes);
    if (made != 0) return made;
  }
  ChannelAttributes* found = Search(attributes, channel);
  if (found == nullptr) return err::kChannelNotValid;
  *record = found;
  return 0;
}

ChannelAttributes* FindChannelAttributes(int slot, int32_t channel) {
  if (!InSlotRange(slot)) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return Search(g_slots[slot], channel);
}

int32_t SetChannelDelay(int slot, int32_t channel, int which, double value) {
  if (which < 0 || which >= kChannelDelayValues) return err::kParameterError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  ChannelAttributes* record = nullptr;
  const int32_t result = MakeChannelAttributes(slot, channel, &record);
  if (result != 0) return result;
  record->delay[which] = value;
  return 0;
}

int32_t SetChannelVerifyMode(int slot, int32_t channel, int32_t mode) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  ChannelAttributes* record = nullptr;
  const int32_t result = MakeChannelAttributes(slot, channel, &record);
  if (result != 0) return result;
  record->verify_mode = mode;
  return 0;
}

double GetChannelDelay(int slot, int32_t channel, int which) {
  if (which < 0 || which >= kChannelDelayValues) return 0;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const ChannelAttributes* record = FindChannelAttributes(slot, channel);
  return record != nullptr ? record->delay[which] : 0;
}

int32_t GetChannelVerifyMode(int slot, int32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const ChannelAttributes* record = FindChannelAttributes(slot, channel);
  return record != nullptr ? record->verify_mode : kDefaultVerifyMode;
}

void ReleaseChannelAttributes() {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (SlotAttributes& attributes : g_slots) attributes = SlotAttributes{};
}
