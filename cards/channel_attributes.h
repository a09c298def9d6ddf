// The per-channel attribute store: for each slot, one record per channel of its card,
// in the card's channel order, found by binary search on the channel number. A slot's
// records are made (zero-filled) on the first write of any attribute of that slot. The
// card drivers store each channel's four delay values and its verify mode here; the
// switching layer keeps its own per-relay facts in the same records.
#pragma once

#include <cstdint>

// A group of interlocked relays; the switching layer owns and defines them.
struct InterlockGroup;

inline constexpr int kChannelDelayValues = 4;
inline constexpr int32_t kDefaultVerifyMode = 1;

// One channel's record. A made record is zero-filled (verify mode 0 included); the
// switching layer adds its own per-relay fields here.
struct ChannelAttributes {
  int32_t channel = 0;
  int32_t slot = 0;
  double delay[kChannelDelayValues] = {};
  int32_t verify_mode = 0;
  // The include and exclude groups the relay belongs to, or null.
  InterlockGroup* include_partners = nullptr;
  InterlockGroup* exclude_partners = nullptr;
};

// The record of a channel, for a setter: makes the slot's records when missing. 0 and
// the record, or the setters' errors. Call with CardStateLock() held for as long as the
// record is used.
int32_t MakeChannelAttributes(int slot, int32_t channel, ChannelAttributes** record);
// The record of a channel, for a getter: null when the slot has no records or the
// channel none. The same locking rule.
ChannelAttributes* FindChannelAttributes(int slot, int32_t channel);

// Setters: 0, -220 for a slot outside 0..12, -22201 for a channel the card refuses,
// -225 when the slot's records cannot be made. `which` is 0..3 (else -220).
int32_t SetChannelDelay(int slot, int32_t channel, int which, double value);
int32_t SetChannelVerifyMode(int slot, int32_t channel, int32_t mode);
// Getters: the stored value, or the default (delay 0, verify mode 1) when the slot or
// the channel has no record.
double GetChannelDelay(int slot, int32_t channel, int which);
int32_t GetChannelVerifyMode(int slot, int32_t channel);
// Releases every slot's records.
void ReleaseChannelAttributes();
