// Card management's slots: the installation of a card from its template (or from the
// tables in its EPROM) into its slot record (card_storage.h), the accessors, and the
// dispatchers through which every other part of the
// firmware reaches a card's operations, each checking the slot, the card and the
// operation before calling the card.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "cards/card_manager.h"
#include "cards/card_storage.h"
#include "cards/channel_attributes.h"
#include "cards/web_controls.h"
#include "core/diag_print.h"
#include "scpi/error_codes.h"

namespace {

constexpr char kSource[] = "_cards/card_mgr";

thread_local const CardHookEntry* g_current_hook_entry = nullptr;

// Results of a dispatcher that cannot call the operation.
struct Refusals {
  int32_t out_of_range;
  int32_t absent;
  int32_t no_operation;
};
constexpr Refusals kResetRefusals{err::kSlotOutOfRange, err::kNoModule, -1};
constexpr Refusals kChannelRefusals{err::kSlotOutOfRange, err::kNoModule, err::kNotSupportedByCard};
constexpr Refusals kAnswerRefusals{0, 0, 0};
constexpr Refusals kPendingRefusals{err::kSlotOutOfRange, err::kNoModule, -1};
constexpr Refusals kCommitRefusals{err::kSlotOutOfRange, err::kNoModule, 0};

template <auto kOperation, typename... Args>
int32_t Dispatch(const Refusals& refusals, int slot, Args... args) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!InSlotRange(slot)) return refusals.out_of_range;
  const CardRecord& record = SlotRecord(slot);
  if (record.present == 0) return refusals.absent;
  const auto operation = record.operations.*kOperation;
  if (operation == nullptr) return refusals.no_operation;
  return operation(slot, args...);
}

using HookOperation = int32_t (*)(int32_t, int, int32_t, CommandContext*);

template <HookOperation CardOperations::*kHook>
int32_t WalkHooks(int32_t command_id, const CardHookEntry* entries, int count, bool module_naming,
                  CommandContext* context) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  int32_t result = 0;
  for (int i = 0; i < count && result == 0; ++i) {
    const CardHookEntry& entry = entries[i];
    if (module_naming && entry.marker != 0) break;
    if (!IsPresent(entry.slot)) return err::kNoModule;
    const HookOperation hook = SlotRecord(entry.slot).operations.*kHook;
    if (hook == nullptr) return err::kNotSupportedByCard;
    g_current_hook_entry = &entry;
    result = hook(command_id, entry.slot, entry.channel, context);
    g_current_hook_entry = nullptr;
  }
  return result;
}

}  // namespace

// ---- Start-up --------------------------------------------------------------------

int32_t InstallCard(int slot, uint32_t type_id) {
  if (!InSlotRange(slot)) {
    diag_error_line(kSource, "InstallCard", __LINE__, "Illegal slot parameter\n");
    return -1;
  }
  std::printf(" Card in slot %d = 0x%x\n", slot, type_id);

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  CardRecord& record = SlotRecord(slot);
  SlotStorageOf(slot) = SlotStorage{};
  const CardTemplate* card_template = FindCardTemplate(type_id);
  if (card_template != nullptr) {
    record = *card_template;
  } else {
    record = GenericCardTemplate();
    record.type_id = type_id;
    DownloadCardParams(&record, slot);
  }
  record.present = 1;
  if (record.operations.Init != nullptr) record.operations.Init(slot);

  uint32_t control_id = record.type_id;
  if (record.category == kCardDownloaded) control_id = kGenericTypeId;
  if (record.category == kCardUnsupported) control_id = kUnsupportedTypeId;
  // A card without a web control stays installed: its missing row is only logged.
  InstallCardWebControl(control_id, slot);
  return 0;
}

// ---- Accessors -------------------------------------------------------------------

int IsCardPresent(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? 1 : 0;
}

int32_t GetCardTypeId(int slot, uint32_t* type_id) {
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  if (type_id == nullptr) return err::kSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  *type_id = IsPresent(slot) ? SlotRecord(slot).type_id : 0;
  return 0;
}

int32_t GetCardIdentity(int slot, uint32_t* type_id, char* description, char* serial, char* rev1,
                        char* rev2, char* rev3) {
  if (type_id == nullptr || description == nullptr || serial == nullptr || rev1 == nullptr ||
      rev2 == nullptr || rev3 == nullptr) {
    return err::kSystemError;
  }
  *type_id = 0;
  for (char* text : {description, serial, rev1, rev2, rev3}) text[0] = '\0';
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const CardRecord& record = SlotRecord(slot);
  if (record.present == 0 || record.operations.GetIdentity == nullptr) return -1;
  *type_id = record.type_id;
  return record.operations.GetIdentity(slot, description, serial, rev1, rev2, rev3);
}

int32_t GetSwitchingMode(int slot, uint32_t* mode) {
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  if (mode == nullptr) return err::kSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsPresent(slot)) return err::kNoModule;
  *mode = SlotRecord(slot).switching_mode;
  return 0;
}

int32_t SetSwitchingMode(int slot, uint32_t mode) {
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  CardRecord& record = SlotRecord(slot);
  if (record.switching_mode == 4) return err::kModeNotSupported;  // the card has no relay mode
  if (record.present == 0) return err::kNoModule;
  if (record.switching_mode == 3) return mode == 0 ? 0 : err::kModeNotSupported;  // BBM only
  record.switching_mode = mode;
  return 0;
}

uint8_t* CurrentImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? SlotRecord(slot).current_image : nullptr;
}

uint8_t* PendingImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? SlotRecord(slot).pending_image : nullptr;
}

uint8_t* DriveImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? SlotRecord(slot).drive_image : nullptr;
}

int32_t AllocateCardImages(int slot, int image_bytes, int drive_bytes) {
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (image_bytes <= 0 || drive_bytes <= 0) return err::kSystemError;
  auto pending = Allocate<uint8_t>(static_cast<size_t>(image_bytes));
  auto current = Allocate<uint8_t>(static_cast<size_t>(image_bytes));
  auto drive = Allocate<uint8_t>(static_cast<size_t>(drive_bytes));
  if (!pending || !current || !drive) return err::kOutOfNamedMemory;

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SlotStorage& storage = SlotStorageOf(slot);
  storage.pending_image = std::move(pending);
  storage.current_image = std::move(current);
  storage.drive_image = std::move(drive);
  CardRecord& record = SlotRecord(slot);
  record.pending_image = storage.pending_image.get();
  record.current_image = storage.current_image.get();
  record.drive_image = storage.drive_image.get();
  return 0;
}

int GetPendingChange(int slot) {
  if (!IsCardSlot(slot)) return 0;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return SlotRecord(slot).pending_change;
}

void SetPendingChange(int slot) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (SlotRecord(slot).present != 0) SlotRecord(slot).pending_change = 1;
}

void ClearPendingChange(int slot) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (SlotRecord(slot).present != 0) SlotRecord(slot).pending_change = 0;
}

void ClearAllPendingChanges() {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) SlotRecord(slot).pending_change = 0;
}

void SetTestInterruptStatus(int slot, uint8_t value) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SlotRecord(slot).test_interrupt_status = value;
}

int32_t GetTestInterruptStatus(int slot, uint8_t* value) {
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (value == nullptr) return err::kSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  *value = SlotRecord(slot).test_interrupt_status;
  return 0;
}

void ClearAllTestInterruptStatus() {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    SlotRecord(slot).test_interrupt_status = 0;
  }
}

int CardSupportsVerify(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) && SlotRecord(slot).operations.VerifyChannel != nullptr ? 1 : 0;
}

CardRecord* CardSlotRecord(int slot) { return IsCardSlot(slot) ? &SlotRecord(slot) : nullptr; }

// ---- Operation dispatchers -------------------------------------------------------

int32_t CardReset(int slot) { return Dispatch<&CardOperations::Reset>(kResetRefusals, slot); }

int32_t CardChannelToIndex(int slot, int32_t channel, uint8_t channel_flag) {
  return Dispatch<&CardOperations::ChannelToIndex>(kChannelRefusals, slot, channel, channel_flag);
}

int32_t CardFirstChannel(int slot, uint8_t channel_flag) {
  return Dispatch<&CardOperations::FirstChannel>(kChannelRefusals, slot, channel_flag);
}

int32_t CardNextChannel(int slot, int32_t channel, uint8_t channel_flag) {
  return Dispatch<&CardOperations::NextChannel>(kChannelRefusals, slot, channel, channel_flag);
}

int32_t CardPrevChannel(int slot, int32_t channel, uint8_t channel_flag) {
  return Dispatch<&CardOperations::PrevChannel>(kChannelRefusals, slot, channel, channel_flag);
}

int32_t CardLastChannel(int slot, uint8_t channel_flag) {
  return Dispatch<&CardOperations::LastChannel>(kChannelRefusals, slot, channel_flag);
}

int32_t CardChannelCount(int slot, uint8_t channel_flag) {
  return Dispatch<&CardOperations::ChannelCount>(kChannelRefusals, slot, channel_flag);
}

int32_t CardIsValidChannel(int slot, int32_t channel) {
  return Dispatch<&CardOperations::IsValidChannel>(kAnswerRefusals, slot, channel) == 1 ? 1 : 0;
}

int32_t CardGetRelayState(int slot, int32_t channel) {
  const int32_t state = Dispatch<&CardOperations::GetRelayState>(kAnswerRefusals, slot, channel);
  if (state < 0) return state;
  return state == 1 ? 1 : 0;  // 904: a card without images has no closed relay
}

int32_t CardDigitalOp(int slot, int32_t port) {
  return Dispatch<&CardOperations::DigitalOp>(kAnswerRefusals, slot, port) == 1 ? 1 : 0;
}

int32_t CardGetRelayCount(int slot, int32_t relay, uint32_t* count) {
  return Dispatch<&CardOperations::GetRelayCount>(kChannelRefusals, slot, relay, count);
}

int32_t CardSetRelayCount(int slot, int32_t relay, uint32_t count) {
  return Dispatch<&CardOperations::SetRelayCount>(kChannelRefusals, slot, relay, count);
}

int32_t CardVerifyChannel(int slot, int32_t channel) {
  if (!InSlotRange(slot)) return err::kNoModule;
  return Dispatch<&CardOperations::VerifyChannel>(kChannelRefusals, slot, channel,
                                                  GetChannelVerifyMode(slot, channel));
}

int32_t CardSetPending(int slot, int32_t channel, int32_t close) {
  return Dispatch<&CardOperations::SetPending>(kPendingRefusals, slot, channel, close);
}

int32_t CardApplyPending(int slot, int32_t how) {
  return Dispatch<&CardOperations::ApplyPending>(kCommitRefusals, slot, how);
}

int32_t CardRevertPending(int slot) {
  return Dispatch<&CardOperations::RevertPending>(kCommitRefusals, slot);
}

int32_t CardWriteHardware(int slot) {
  return Dispatch<&CardOperations::WriteHardware>(kCommitRefusals, slot);
}

int32_t CardSettleTime(int slot) {
  return Dispatch<&CardOperations::SettleTime>(kCommitRefusals, slot);
}

int32_t CardConfidenceCheck(int slot) {
  return Dispatch<&CardOperations::ConfidenceCheck>(kCommitRefusals, slot);
}

// ---- Command hooks ---------------------------------------------------------------

int32_t CardValidateHooks(int32_t command_id, const CardHookEntry* entries, int count,
                          bool module_naming, CommandContext* context) {
  return WalkHooks<&CardOperations::ValidateHook>(command_id, entries, count, module_naming,
                                                  context);
}

int32_t CardSegmentHooks(int32_t command_id, const CardHookEntry* entries, int count,
                         bool module_naming, CommandContext* context) {
  return WalkHooks<&CardOperations::SegmentHook>(command_id, entries, count, module_naming,
                                                 context);
}

int32_t CardExecuteHooks(int32_t command_id, const CardHookEntry* entries, int count,
                         bool module_naming, CommandContext* context) {
  return WalkHooks<&CardOperations::ExecuteHook>(command_id, entries, count, module_naming,
                                                 context);
}

const CardHookEntry* CurrentCardHookEntry() { return g_current_hook_entry; }

void ResetCardsForTest() {
  FailCardAllocationForTest(-1);
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    SlotRecord(slot) = CardRecord{};
    SlotStorageOf(slot) = SlotStorage{};
  }
  ClearEmergencyShutdown();
  ReleaseChannelAttributes();
}
