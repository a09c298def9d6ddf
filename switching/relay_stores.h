// Three small stores around the relay cards, each with its file under
// "/mnt/nonv/config":
//   - verify masks: per relay, how its readback compares with its commanded state
//     (verify_masks/verify_mask_data, autorecall in verify_mask_autorecall);
//   - module names: names that channel lists and module lists accept for slots 1..12
//     (module_names/module_name_defs, autorecall in module_name_autorecall);
//   - saved relay states: the files behind *SAV and *RCL (states/state%d.txt), state 0
//     being the power-on state.
// A stored line carries the card type id of its slot, so that nothing stored for one
// card model is applied to another. Everything here runs under the engine's lock.
#pragma once

#include <cstdint>
#include <string>

#include "switching/channel_list.h"

// ---- Verify masks ------------------------------------------------------------------
inline constexpr int32_t kVerifyNormal = 0;
inline constexpr int32_t kVerifyInverted = 1;
inline constexpr int32_t kVerifyNone = 2;
inline constexpr int32_t kVerifyRestoredOnly = 3;

// Every channel element gets the mode; elements the store refuses are passed over.
void SetVerifyMasks(const ChannelList& list, int32_t mode);
// "1 1 -": each element's mask letter, separated by spaces.
std::string VerifyMaskText(const ChannelList& list);
// The relays of the list whose readback disagrees, as "slot : channel" items joined by
// ','; "OK" when all agree. A card's error ends it (returned).
int32_t VerifyRelays(const ChannelList& list, std::string* reply);
// The same over every relay of every card that verifies.
int32_t VerifyAllRelays(std::string* reply);
int32_t StoreVerifyMasks();   // 0 or -20096
int32_t RecallVerifyMasks();  // 0, -20094, or -20095 when a slot's card changed
int32_t SetVerifyMaskAutoRecall(bool on);  // 0 or -20094
bool VerifyMaskAutoRecall();
// At power-on: recall when the autorecall file says so (a missing file says no).
int32_t PowerOnVerifyMaskRecall();

// ---- Module names ------------------------------------------------------------------
inline constexpr std::size_t kModuleNameMax = 255;
// The slot (1..12) named `name` without regard to case, or -1.
int FindModuleName(const char* name);
// 0, -293 for a name another slot carries, -10237 for a name too long.
int32_t DefineModuleName(const char* name, int slot);
int32_t DeleteModuleName(const char* name);  // 0 or -292
void DeleteAllModuleNames();
// The names of slots 1..12 that have one, in slot order, joined by ','.
std::string ModuleNameCatalog();
const std::string& ModuleName(int slot);
int32_t StoreModuleNames();   // 0 or -20098
int32_t RecallModuleNames();  // 0 or -20097
int32_t SetModuleNameAutoRecall(bool on);  // 0 or -20097
bool ModuleNameAutoRecall();
int32_t PowerOnModuleNameRecall();
// Makes the names the channel lists' module-name lookup.
void ConnectModuleNames();

// ---- Saved relay states ------------------------------------------------------------
inline constexpr int32_t kLastStateNumber = 100;
// 0 or -20054 (a failed save leaves the earlier state of that number as it was).
int32_t SaveRelayState(int32_t number);
// Checks the whole file first (-20055 not saved, -20056 unreadable, -20057 another card
// model); only then marks every card and switches them all at once. 0 or the code.
int32_t RecallRelayState(int32_t number);

// A fresh process' stores: no names.
void ResetRelayStoresForTest();
