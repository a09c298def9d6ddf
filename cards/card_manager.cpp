// Card management: the thirteen slot records and what reaches them. The start-up scan
// asks every slot for its card, reads the card's type id from its EPROM and installs
// the card from its template (or from the tables in its EPROM); afterwards every part
// of the firmware reaches a card through the accessors and dispatchers here, which
// check the slot, the card and the operation before calling the card.
//
// The records, and the memory installation gives them, live in this file. The record
// holds plain pointers (the drivers index the images directly); the memory behind them
// is owned by the slot's storage, which the test reset releases.
#include "cards/card_manager.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "cards/channel_attributes.h"
#include "cards/special_cards.h"
#include "core/diag_print.h"
#include "core/seam.h"
#include "hardware/event_log.h"
#include "hardware/fpga_utils.h"
#include "scpi/slot_notifications.h"

namespace {

Seam<int32_t()> g_power_on_restore;

constexpr char kSource[] = "_cards/card_mgr";

// EPROM reads: identification reads this much of the image, the download all of it.
constexpr int kIdentifyBytes = 512;
constexpr int kDownloadBytes = 1024;
constexpr uint8_t kLastIdByte = 3;
constexpr uint32_t kBlockOffsetDefault = 20;  // identification reads offset 0 as this

// The end of a parameter block: its last function descriptor.
constexpr uint32_t kBlockEnd =
    kEpromBlockDescriptors + kEpromDescriptorStride * (kEpromDescriptorCount - 1) + 2;

bool IsDigitalType(uint32_t type_id) {
  return type_id >= kSmDio12TtlTypeId && type_id <= kSmDio12HvocTypeId;
}
// Downloaded cards served by the generic web control although they bring data of
// their own.
bool IsGenericControlType(uint32_t type_id) { return type_id >= 0x7A30 && type_id <= 0x7A33; }

// The memory installation hands a slot's record.
struct SlotStorage {
  std::unique_ptr<uint8_t[]> pending_image;
  std::unique_ptr<uint8_t[]> current_image;
  std::unique_ptr<uint8_t[]> drive_image;
  std::unique_ptr<char[]> module_id_string;
  std::unique_ptr<uint16_t[]> channel_table;
  std::unique_ptr<uint16_t[]> bit_table;
  std::unique_ptr<uint8_t[]> confidence_mask;
};

CardRecord g_cards[kSlotCount];
SlotStorage g_storage[kSlotCount];
std::atomic<bool> g_emergency_shutdown{false};
thread_local const CardHookEntry* g_current_hook_entry = nullptr;

bool IsPresent(int slot) { return InSlotRange(slot) && g_cards[slot].present != 0; }

uint16_t Be16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }
uint32_t Be32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

bool IsEpromMagic(uint32_t value) {
  for (uint32_t magic : kEpromMagics) {
    if (value == magic) return true;
  }
  return false;
}

// True when `length` bytes at `offset` lie inside an image of `size` bytes; nothing
// to read always fits.
bool Fits(uint64_t offset, uint64_t length, int size) {
  return length == 0 || offset + length <= static_cast<uint64_t>(size);
}

// Allocations left before one fails, for the tests; negative: none fails.
std::atomic<int> g_allocations_before_failure{-1};

template <typename T>
std::unique_ptr<T[]> Allocate(size_t count) {
  int left = g_allocations_before_failure.load();
  while (left >= 0 && !g_allocations_before_failure.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

void CreateCardWebControl(int, uint32_t) {}

// Results of a dispatcher that cannot call the operation.
struct Refusals {
  int32_t out_of_range;
  int32_t absent;
  int32_t no_operation;
};
constexpr Refusals kResetRefusals{kSlotOutOfRange, kNoModule, -1};
constexpr Refusals kChannelRefusals{kSlotOutOfRange, kNoModule, kNotSupportedByCard};
constexpr Refusals kAnswerRefusals{0, 0, 0};
constexpr Refusals kPendingRefusals{kSlotOutOfRange, kNoModule, -1};
constexpr Refusals kCommitRefusals{kSlotOutOfRange, kNoModule, 0};

template <auto kOperation, typename... Args>
int32_t Dispatch(const Refusals& refusals, int slot, Args... args) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!InSlotRange(slot)) return refusals.out_of_range;
  const CardRecord& record = g_cards[slot];
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
    if (!IsPresent(entry.slot)) return kNoModule;
    const HookOperation hook = g_cards[entry.slot].operations.*kHook;
    if (hook == nullptr) return kNotSupportedByCard;
    g_current_hook_entry = &entry;
    result = hook(command_id, entry.slot, entry.channel, context);
    g_current_hook_entry = nullptr;
  }
  return result;
}

// Reads the type id from the alternate layout on port 0x301, after a failed primary read.
int32_t ReadAlternateTypeId(int slot, uint32_t* type_id) {
  uint8_t ignored = 0;
  ReadByteFromLocalBus(slot, kCardIdRegister, &ignored);
  WriteByteToLocalBus(slot, kCardIdRegister, 0);
  uint8_t image[kIdentifyBytes];
  const int result = ReadBytesFromLocalBusPort(slot, kCardAltEpromPort, image, kIdentifyBytes);
  if (result != 0) return result;
  if (!IsEpromMagic(Be32(image)) || !IsEpromMagic(Be32(image + kEpromAltSecondMagic))) {
    return kEpromCorrupt;
  }
  *type_id = Be16(image + kEpromAltTypeId);
  return 0;
}

// The downloaded tables of a parameter block, made before any of them reaches the record.
struct DownloadedTables {
  std::unique_ptr<char[]> module_id_string;
  std::unique_ptr<uint16_t[]> channel_table;
  std::unique_ptr<uint16_t[]> bit_table;
  std::unique_ptr<uint8_t[]> confidence_mask;
};

// Entry i of a table of `count` u16 at `offset` in the image, or i when the offset is 0.
// False when the table does not lie inside the image.
bool CopyChannelTable(const uint8_t* image, uint32_t offset, uint16_t count, uint16_t* table) {
  if (offset != 0 && !Fits(offset, 2ull * count, kDownloadBytes)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    table[i] = offset == 0 ? i : Be16(image + offset + 2u * i);
  }
  return true;
}

}  // namespace

std::recursive_mutex& CardStateLock() {
  static std::recursive_mutex lock;
  return lock;
}

// ---- Start-up --------------------------------------------------------------------

int32_t InstallCard(int slot, uint32_t type_id) {
  if (!InSlotRange(slot)) {
    diag_error_line(kSource, "InstallCard", __LINE__, "Illegal slot parameter\n");
    return -1;
  }
  std::printf(" Card in slot %d = 0x%x\n", slot, type_id);

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  CardRecord& record = g_cards[slot];
  g_storage[slot] = SlotStorage{};
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
  CreateCardWebControl(slot, control_id);
  return 0;
}

int32_t ScanCardSlots() {
  int32_t first_error = 0;
  const auto record_error = [&first_error](int32_t error) {
    if (first_error == 0) first_error = error;
  };
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    uint8_t id_byte = 0;
    const int read = ReadByteFromLocalBus(slot, kCardIdRegister, &id_byte);
    if (read != 0) {
      record_error(read);
      continue;
    }
    if (id_byte > kLastIdByte) continue;  // no usable card in this slot
    uint32_t type_id = 0;
    const int32_t identified = ReadCardTypeId(slot, id_byte, &type_id);
    if (identified < 0) {
      record_error(identified);
      continue;
    }
    InstallCard(slot, type_id);
  }
  AcknowledgeAllInterrupts();
  UnmaskAllInterrupts();
  if (PowerOnRestore restore = g_power_on_restore.function()) {
    const int32_t restored = restore();
    if (restored < 0) record_error(restored);
  }
  return first_error;
}

void SetPowerOnRestore(PowerOnRestore restore) { g_power_on_restore.Connect(restore); }

int32_t ReadCardTypeId(int slot, uint8_t id_byte, uint32_t* type_id) {
  if (!IsCardSlot(slot)) return kSlotOutOfRange;
  if (type_id == nullptr) return kCardSystemError;
  if (id_byte > kLastIdByte) return kIllegalIdByte;

  WriteByteToLocalBus(slot, kCardIdRegister, 0);
  uint8_t image[kIdentifyBytes];
  const int read = ReadBytesFromLocalBusPort(slot, kCardEpromPort, image, kIdentifyBytes);
  if (read != 0) return read;
  if (IsEpromMagic(Be32(image))) {
    uint32_t block = Be32(image + kEpromBlockTable + 4 * id_byte);
    if (block == 0) block = kBlockOffsetDefault;
    if (Fits(block, kEpromBlockTypeId + 2, kIdentifyBytes) && IsEpromMagic(Be32(image + block))) {
      *type_id = Be16(image + block + kEpromBlockTypeId);
      return 0;
    }
  }
  return ReadAlternateTypeId(slot, type_id);
}

int32_t DownloadCardParams(CardRecord* record, int slot) {
  if (record == nullptr) return kCardSystemError;
  if (!IsCardSlot(slot)) return kSlotOutOfRange;
  uint8_t id_byte = 0;
  int result = ReadByteFromLocalBus(slot, kCardIdRegister, &id_byte);
  if (result != 0) return result;
  if (id_byte > kLastIdByte) return kIllegalIdByte;

  WriteByteToLocalBus(slot, kCardIdRegister, 0);
  uint8_t image[kDownloadBytes];
  const uint32_t port = IsDigitalType(record->type_id) ? kCardAltEpromPort : kCardEpromPort;
  result = ReadBytesFromLocalBusPort(slot, port, image, kDownloadBytes);
  if (result != 0) return result;

  // Offsets come from the card; one that points outside the image is a corrupt EPROM,
  // never a read beyond the buffer.
  const uint32_t block = Be32(image + kEpromBlockTable + 4 * id_byte);
  if (!Fits(block, kBlockEnd, kDownloadBytes)) return kEpromCorrupt;
  const uint8_t* params = image + block;

  bool has_descriptors = false;
  for (int j = 0; j < kEpromDescriptorCount; ++j) {
    if (Be16(params + kEpromBlockDescriptors + kEpromDescriptorStride * j) != 0) has_descriptors = true;
  }
  if (has_descriptors) {
    record->category = kCardUnsupported;
  } else if (Be32(params + kEpromBlockOwnData) == 0 || IsGenericControlType(record->type_id)) {
    record->category = kCardDownloaded;
  } else {
    record->category = kCardDownloadedOwn;
  }

  const uint16_t channel_count = Be16(params + kEpromBlockChannelCount);
  const uint16_t mask_length = Be16(params + kEpromBlockMaskLength);
  DownloadedTables tables;
  tables.module_id_string = Allocate<char>(kModuleIdLength + 1);
  if (!tables.module_id_string) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__, "failed to malloc Module ID\n");
    return kCardOutOfMemory;
  }
  std::memcpy(tables.module_id_string.get(), params + kEpromBlockModuleId, kModuleIdLength);
  tables.module_id_string[kModuleIdLength] = '\0';

  tables.channel_table = Allocate<uint16_t>(channel_count);
  if (!tables.channel_table) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__,
                      "failed to malloc logical relay channels\n");
    return kCardOutOfMemory;
  }
  tables.bit_table = Allocate<uint16_t>(channel_count);
  if (!tables.bit_table) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__, "failed to malloc hw bit channels\n");
    return kCardOutOfMemory;
  }
  if (!CopyChannelTable(image, Be32(params + kEpromBlockChannelTable), channel_count,
                        tables.channel_table.get()) ||
      !CopyChannelTable(image, Be32(params + kEpromBlockBitTable), channel_count,
                        tables.bit_table.get())) {
    return kEpromCorrupt;
  }
  tables.confidence_mask = Allocate<uint8_t>(mask_length);
  if (!tables.confidence_mask) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__,
                      "failed to malloc confidence mask channels\n");
    return kCardOutOfMemory;
  }
  const uint32_t mask_offset = Be32(params + kEpromBlockMaskOffset);
  if (!Fits(mask_offset, mask_length, kDownloadBytes)) return kEpromCorrupt;
  std::memcpy(tables.confidence_mask.get(), image + mask_offset, mask_length);

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SlotStorage& storage = g_storage[slot];
  storage.module_id_string = std::move(tables.module_id_string);
  storage.channel_table = std::move(tables.channel_table);
  storage.bit_table = std::move(tables.bit_table);
  storage.confidence_mask = std::move(tables.confidence_mask);
  record->module_id_string = storage.module_id_string.get();
  record->module_id = Be16(params + kEpromBlockTypeId);
  record->channel_count = channel_count;
  record->mask_length = mask_length;
  record->channel_table = storage.channel_table.get();
  record->bit_table = storage.bit_table.get();
  record->settle_time = Be32(params + kEpromBlockSettleTime);
  record->confidence_mask = storage.confidence_mask.get();
  return 0;
}

// ---- Accessors -------------------------------------------------------------------

int IsCardPresent(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? 1 : 0;
}

int32_t GetCardTypeId(int slot, uint32_t* type_id) {
  if (!InSlotRange(slot)) return kSlotOutOfRange;
  if (type_id == nullptr) return kCardSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  *type_id = IsPresent(slot) ? g_cards[slot].type_id : 0;
  return 0;
}

int32_t GetCardIdentity(int slot, uint32_t* type_id, char* description, char* serial, char* rev1,
                        char* rev2, char* rev3) {
  if (type_id == nullptr || description == nullptr || serial == nullptr || rev1 == nullptr ||
      rev2 == nullptr || rev3 == nullptr) {
    return kCardSystemError;
  }
  *type_id = 0;
  for (char* text : {description, serial, rev1, rev2, rev3}) text[0] = '\0';
  if (!InSlotRange(slot)) return kSlotOutOfRange;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const CardRecord& record = g_cards[slot];
  if (record.present == 0 || record.operations.GetIdentity == nullptr) return -1;
  *type_id = record.type_id;
  return record.operations.GetIdentity(slot, description, serial, rev1, rev2, rev3);
}

int32_t GetSwitchingMode(int slot, uint32_t* mode) {
  if (!InSlotRange(slot)) return kSlotOutOfRange;
  if (mode == nullptr) return kCardSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsPresent(slot)) return kNoModule;
  *mode = g_cards[slot].switching_mode;
  return 0;
}

int32_t SetSwitchingMode(int slot, uint32_t mode) {
  if (!InSlotRange(slot)) return kSlotOutOfRange;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  CardRecord& record = g_cards[slot];
  if (record.switching_mode == 4) return kModeNotSupported;  // the card has no relay mode
  if (record.present == 0) return kNoModule;
  if (record.switching_mode == 3) return mode == 0 ? 0 : kModeNotSupported;  // BBM only
  record.switching_mode = mode;
  return 0;
}

uint8_t* CurrentImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? g_cards[slot].current_image : nullptr;
}

uint8_t* PendingImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? g_cards[slot].pending_image : nullptr;
}

uint8_t* DriveImage(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) ? g_cards[slot].drive_image : nullptr;
}

int32_t AllocateCardImages(int slot, int image_bytes, int drive_bytes) {
  if (!IsCardSlot(slot)) return kSlotOutOfRange;
  if (image_bytes <= 0 || drive_bytes <= 0) return kCardSystemError;
  auto pending = Allocate<uint8_t>(static_cast<size_t>(image_bytes));
  auto current = Allocate<uint8_t>(static_cast<size_t>(image_bytes));
  auto drive = Allocate<uint8_t>(static_cast<size_t>(drive_bytes));
  if (!pending || !current || !drive) return kCardOutOfMemory;

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SlotStorage& storage = g_storage[slot];
  storage.pending_image = std::move(pending);
  storage.current_image = std::move(current);
  storage.drive_image = std::move(drive);
  CardRecord& record = g_cards[slot];
  record.pending_image = storage.pending_image.get();
  record.current_image = storage.current_image.get();
  record.drive_image = storage.drive_image.get();
  return 0;
}

int GetPendingChange(int slot) {
  if (!IsCardSlot(slot)) return 0;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return g_cards[slot].pending_change;
}

void SetPendingChange(int slot) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (g_cards[slot].present != 0) g_cards[slot].pending_change = 1;
}

void ClearPendingChange(int slot) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (g_cards[slot].present != 0) g_cards[slot].pending_change = 0;
}

void ClearAllPendingChanges() {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) g_cards[slot].pending_change = 0;
}

void SetTestInterruptStatus(int slot, uint8_t value) {
  if (!IsCardSlot(slot)) return;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  g_cards[slot].test_interrupt_status = value;
}

int32_t GetTestInterruptStatus(int slot, uint8_t* value) {
  if (!IsCardSlot(slot)) return kSlotOutOfRange;
  if (value == nullptr) return kCardSystemError;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  *value = g_cards[slot].test_interrupt_status;
  return 0;
}

void ClearAllTestInterruptStatus() {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    g_cards[slot].test_interrupt_status = 0;
  }
}

int CardSupportsVerify(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsPresent(slot) && g_cards[slot].operations.VerifyChannel != nullptr ? 1 : 0;
}

CardRecord* CardSlotRecord(int slot) { return IsCardSlot(slot) ? &g_cards[slot] : nullptr; }

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
  if (!InSlotRange(slot)) return kNoModule;
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

// ---- Interrupts, events, shutdown ------------------------------------------------

uint8_t CardInterruptStatus(int slot) {
  if (!IsCardSlot(slot)) return 0;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsPresent(slot)) return 0;
  const uint32_t type_id = g_cards[slot].type_id;
  uint8_t bits = 0;
  if (IsDigitalType(type_id)) bits = kDigitalInterruptBits;
  if (type_id == kSmCt1TypeId) bits = kTestCardInterruptBits;
  if (bits == 0) return 0;
  uint8_t status = 0;
  if (ReadByteFromLocalBus(slot, kCardInterruptRegister, &status) != 0) return 0;
  return static_cast<uint8_t>(~status & bits);  // the register is active low
}

int32_t DispatchCardInterrupt(int slot, uint8_t status) {
  if (!InSlotRange(slot)) return kSlotOutOfRange;
  bool present = false;
  bool handled = false;
  {
    std::lock_guard<std::recursive_mutex> lock(CardStateLock());
    const CardRecord& record = g_cards[slot];
    present = record.present != 0;
    if (present && record.operations.Interrupt != nullptr) {
      record.operations.Interrupt(slot, status);
      handled = true;
    }
  }
  // The log rewrites its file; that happens outside the card state lock.
  char text[kEventTextSize];
  if (!present) {
    std::snprintf(text, sizeof text,
                  "Interrupt received from card in slot %d, but no card was found in the slot",
                  slot);
    LogEvent(text);
    return kNoModule;
  }
  if (!handled) {
    std::snprintf(text, sizeof text,
                  "Interrupt received from card in slot %d, but card has no interrupt handler\n",
                  slot);
    LogEvent(text);
  }
  return 0;
}

int32_t PostRelayStateChanged(int slot) {
  PostSlotNotification(slot);
  return 0;
}

void EmergencyShutdown() {
  g_emergency_shutdown = true;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const CardRecord& record = g_cards[slot];
    if (record.present != 0 && record.operations.Shutdown != nullptr) {
      record.operations.Shutdown(slot);
    }
  }
}

bool EmergencyShutdownActive() { return g_emergency_shutdown; }

void ClearEmergencyShutdown() { g_emergency_shutdown = false; }

void FailCardAllocationForTest(int successes) { g_allocations_before_failure = successes; }

void ResetCardsForTest() {
  g_allocations_before_failure = -1;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    g_cards[slot] = CardRecord{};
    g_storage[slot] = SlotStorage{};
  }
  g_emergency_shutdown = false;
  ReleaseChannelAttributes();
}
