// Interlock groups: include groups (relays that close and open together) and exclude
// groups (relays of which at most one may be closed). Each relay belongs to at most one
// group of each side; its record in the channel attribute store points at the group.
// A group keeps its members in the order they were named and always has two or more.
//
// The groups are stored in, and recalled from, one list file per side:
//   "/mnt/nonv/config/include_list/include_list.lst" (exclude: exclude_list/exclude_list.lst)
// thirteen lines "SLOT %d: %d" (slot, card type id or 0), then one line per group such
// as "(@4(1),4(2),4(3))", or the single line "NONE". A settings file beside it holds
// "AUTORECALL=%d"; when 1, the list comes back at power-on. A recall onto a slot whose
// card type differs from the stored one is refused.
//
// Everything here runs under the engine's execution lock (or at start-up, before the
// command threads); the attribute records are reached under the card state lock.
#pragma once

#include <cstdint>
#include <string>

#include "switching/channel_list.h"
#include "switching/relay_refs.h"

enum class InterlockSide { kInclude = 0, kExclude = 1 };

struct InterlockGroup {
  RelayRefs members;
};

// The group of (slot, channel) on `side`, or null.
const InterlockGroup* InterlockGroupOf(InterlockSide side, int slot, int32_t channel);

// Makes one group of the list's channels (close list, in order). -20004 / -20005 when
// one of them is already in a group of the side (nothing changes), -225 when memory
// runs out, or the attribute store's refusal.
int32_t MakeInterlockGroup(InterlockSide side, const ChannelList& list);
// Takes a relay out of its group; a group left with one member is dissolved.
void RemoveFromInterlockGroup(InterlockSide side, int slot, int32_t channel);
// Dissolves every group of the side.
void DeleteAllInterlockGroups(InterlockSide side);
// The groups that hold a relay of `list` (each once, in the order the list meets
// them), or every group (in slot and channel order) when `list` is null: as
// "(@1(1),1(2)),(@2(5),2(6))". -223 when the text would pass 10,230 characters (the
// text then ends with the group that passed it).
int32_t ListInterlockGroups(InterlockSide side, const ChannelList* list, std::string* text);

// Writes the side's list file. 0 or -20050 / -20053.
int32_t StoreInterlockList(InterlockSide side);
// Dissolves the side's groups, then rebuilds them from its list file (a missing file
// leaves none). 0, or -20048 / -20051 (-225 when memory runs out); the reasons go to
// the event log.
int32_t RecallInterlockList(InterlockSide side);
// Sets the autorecall flag and writes the settings file. 0 or -20050 / -20053.
int32_t SetInterlockAutoRecall(InterlockSide side, bool on);
bool InterlockAutoRecall(InterlockSide side);
// At power-on: the exclude side, then the include side; each reads its settings file
// and, when autorecall is set, recalls its list. The first failure, or 0.
int32_t PowerOnInterlockRecall();

// Dissolves every group and clears both flags, as a fresh process has them.
void ResetInterlocksForTest();

// The files of a side, for tests and tools.
const char* InterlockListFile(InterlockSide side);
const char* InterlockSettingsFile(InterlockSide side);
