// Relay operations: closing and opening relays by channel list, widened by the
// interlock groups, and the commit that drives every changed card in the order its
// relay mode demands.
//
// Relays are first marked on each card's pending image; CommitRelays then runs three
// steps over the cards whose pending image changed: immediate cards apply everything;
// break-before-make cards apply their opens, then their closes; make-before-break cards
// their closes, then their opens. Each step writes a changed card once and waits once,
// for the longest settle time among the cards it wrote.
#pragma once

#include <cstdint>

#include "switching/channel_list.h"
#include "switching/relay_refs.h"

// Relay modes, the card record's switching mode.
enum RelayMode : uint32_t {
  kRelayModeBbm = 0,
  kRelayModeMbb = 1,
  kRelayModeImm = 2,
  kRelayModeBbmOnly = 3,  // the card allows break-before-make only
  kRelayModeNone = 4,     // the card has no relay mode
};

// Marks each ref pending open (close 0) or closed (1); the first card refusal ends it.
int32_t SetPendingList(const RelayRefs& refs, int32_t close);
// Drives every card with pending changes (see above) and flags each written slot for
// the relay-change notice. -30008 when the emergency shutdown is active and a card has
// changes; a card's failure is returned, what was written before it stays switched,
// and every mark not yet applied is dropped (the pending images return to the current
// ones), so that the next command does not switch them unasked.
int32_t CommitRelays();

// CLOSe: the close list's relays and their include partners close, their exclude
// partners and the named paths' open channels open (a relay on both sides ends open).
int32_t CloseChannels(const ChannelList& list);
// OPEN: the list's relays and their include partners open.
int32_t OpenChannels(const ChannelList& list);
// OPEN:ALL: every relay of every card with relays opens.
int32_t OpenAllChannels();

// 1 when the path exists, every close channel of it is closed and every open channel
// open; else 0.
int PathClosedState(const char* name);

// 0 when the close list may be closed by one command on the one-wire multiplexers
// (SM-MX26Q: one channel per group of ten; SM-MX12H: one half of a multiplexer, and
// no mixing of its two channel ranges), else -22254.
int32_t CheckCloseCompatibility(const ChannelList& list);

// Run after every relay command and scan step: the scanning work pulses the trigger
// output there when it is enabled. Unconnected, nothing happens and the result is 0.
using SwitchCompletionTrigger = int32_t (*)();
void SetSwitchCompletionTrigger(SwitchCompletionTrigger trigger);
int32_t RunSwitchCompletionTrigger();

// The settle wait of the commit (DelayMicroseconds unless a test records the waits;
// null restores it).
using SettleWait = void (*)(uint32_t microseconds);
void SetSettleWaitForTest(SettleWait wait);
