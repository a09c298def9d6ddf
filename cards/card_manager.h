// Card management: the thirteen slot records, the scan and installation of the cards
// at start-up, their accessors, and the dispatchers through which every other part of
// the firmware reaches a card's operations. Three units serve it: EPROM identification
// (card_identification.cpp), the slot records and dispatchers (card_slots.cpp), and
// interrupts and events (card_events.cpp).
//
// Slots are 0 (the chassis pseudo-card) to 12. Functions that accept the chassis take
// 0..12; those that concern plug-in cards only take 1..12. A slot is installed once per
// process life and never returns to empty; its images and downloaded tables live until
// the process ends.
//
// Card state is shared by the command threads and the event monitor (card interrupts),
// so every dispatcher and every accessor of shared state holds CardStateLock(). The
// lock is recursive: operations may call dispatchers of their own slot again (a commit
// inside a card's own SetPending, for one).
#pragma once

#include <cstdint>
#include <mutex>

#include "cards/card_record.h"
#include "devices/card_registers.h"
#include "scpi/error_codes.h"

// The confidence error of a slot: the slots' codes run down one per slot from slot 1.
constexpr int32_t ConfidenceError(int slot) { return err::kConfidenceErrorSlot1 - (slot - 1); }
static_assert(ConfidenceError(1) == err::kConfidenceErrorSlot1 &&
              ConfidenceError(12) == err::kConfidenceErrorSlot12);


std::recursive_mutex& CardStateLock();

// ---- Start-up --------------------------------------------------------------------
// 0, or -1 for a slot outside 0..12 (with the illegal-slot line).
int32_t InstallCard(int slot, uint32_t type_id);
// Identifies and installs the cards of slots 1..12, then acknowledges and unmasks
// every interrupt, then runs the power-on restore. The first error met, or 0.
int32_t ScanCardSlots();
// The last step of the scan: the instrument reset in its power-on form (every card's
// Reset) and the power-on recalls of the stored relay state and lists. Those live in
// the layers above the cards, so the controller connects them; none by default.
using PowerOnRestore = int32_t (*)();
void SetPowerOnRestore(PowerOnRestore restore);
int32_t ReadCardTypeId(int slot, uint8_t id_byte, uint32_t* type_id);
int32_t DownloadCardParams(CardRecord* record, int slot);

// ---- Accessors -------------------------------------------------------------------
int IsCardPresent(int slot);
int32_t GetCardTypeId(int slot, uint32_t* type_id);
// Each buffer holds kCardTextSize bytes; all are emptied first.
int32_t GetCardIdentity(int slot, uint32_t* type_id, char* description, char* serial,
                        char* rev1, char* rev2, char* rev3);
int32_t GetSwitchingMode(int slot, uint32_t* mode);
int32_t SetSwitchingMode(int slot, uint32_t mode);
uint8_t* CurrentImage(int slot);
uint8_t* PendingImage(int slot);
uint8_t* DriveImage(int slot);
int32_t AllocateCardImages(int slot, int image_bytes, int drive_bytes);
int GetPendingChange(int slot);
void SetPendingChange(int slot);
void ClearPendingChange(int slot);
void ClearAllPendingChanges();
void SetTestInterruptStatus(int slot, uint8_t value);
int32_t GetTestInterruptStatus(int slot, uint8_t* value);
void ClearAllTestInterruptStatus();
int CardSupportsVerify(int slot);
// The record of a card slot (1..12), else null.
CardRecord* CardSlotRecord(int slot);

// ---- Operation dispatchers -------------------------------------------------------
int32_t CardReset(int slot);
int32_t CardChannelToIndex(int slot, int32_t channel, uint8_t channel_flag);
int32_t CardFirstChannel(int slot, uint8_t channel_flag);
int32_t CardNextChannel(int slot, int32_t channel, uint8_t channel_flag);
int32_t CardPrevChannel(int slot, int32_t channel, uint8_t channel_flag);
int32_t CardLastChannel(int slot, uint8_t channel_flag);
int32_t CardChannelCount(int slot, uint8_t channel_flag);
// These three answer 0 for a slot out of range, an absent card or a missing operation.
// IsValidChannel and DigitalOp answer 1 or 0. GetRelayState answers 1 closed, 0 open
// (also on a card without relay images) or passes the card's negative error up, so
// that a failed read is never taken for a closed relay.
int32_t CardIsValidChannel(int slot, int32_t channel);
int32_t CardGetRelayState(int slot, int32_t channel);
int32_t CardDigitalOp(int slot, int32_t port);
int32_t CardGetRelayCount(int slot, int32_t relay, uint32_t* count);
int32_t CardSetRelayCount(int slot, int32_t relay, uint32_t count);
// Passes the channel's stored verify mode (1 when none is stored).
int32_t CardVerifyChannel(int slot, int32_t channel);
int32_t CardSetPending(int slot, int32_t channel, int32_t close);
int32_t CardApplyPending(int slot, int32_t how);
int32_t CardRevertPending(int slot);
int32_t CardWriteHardware(int slot);
int32_t CardSettleTime(int slot);
int32_t CardConfidenceCheck(int slot);

// ---- Command hooks ---------------------------------------------------------------
// One entry of a channel walk: a card's channel and the entry's marker. In the
// module-naming form a nonzero marker ends the walk (the entry is not visited); in the
// channel form markers are ignored.
struct CardHookEntry {
  int32_t slot;
  int32_t channel;
  int32_t marker;
};
// Each walks the `count` entries in order and calls the card's ValidateHook,
// SegmentHook or ExecuteHook with (command id, slot, channel, context). -30002 for an
// entry whose slot has no card, -20036 for a card without the hook; the first nonzero
// result ends the walk and is returned, else 0.
int32_t CardValidateHooks(int32_t command_id, const CardHookEntry* entries, int count,
                          bool module_naming, CommandContext* context);
int32_t CardSegmentHooks(int32_t command_id, const CardHookEntry* entries, int count,
                         bool module_naming, CommandContext* context);
int32_t CardExecuteHooks(int32_t command_id, const CardHookEntry* entries, int count,
                         bool module_naming, CommandContext* context);
// The entry a hook is called for, while a walk runs on this thread; null otherwise.
const CardHookEntry* CurrentCardHookEntry();

// ---- Interrupts, events, shutdown ------------------------------------------------
// The pending interrupt bits of the card in `slot` (1..12): the inverted interrupt
// register masked with 0x40 (digital cards) or 0xC0 (the test card); 0 for other
// cards and when the read fails.
uint8_t CardInterruptStatus(int slot);
int32_t DispatchCardInterrupt(int slot, uint8_t status);
// Clears the changed-slot flags, flags `slot` and sends the relay-state-changed event.
int32_t PostRelayStateChanged(int slot);
void EmergencyShutdown();
bool EmergencyShutdownActive();
void ClearEmergencyShutdown();

// Empties every slot record and clears the process-wide card state, so that a test
// starts as a fresh process would.
void ResetCardsForTest();
// Lets `successes` more of installation's allocations succeed, then fails the next one
// (a negative count: none fails). Cleared by ResetCardsForTest.
void FailCardAllocationForTest(int successes);
