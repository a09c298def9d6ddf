// Card identification: the start-up scan of slots 1..12, each card's type id read
// from its EPROM (primary layout, then the alternate one), and the download of a
// card's own tables from its EPROM when no built-in template serves its type.
// Multi-byte EPROM values are big-endian and read byte by byte; every offset a card
// supplies is checked against the bytes read, so a corrupt image is refused, never
// read beyond.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "cards/card_manager.h"
#include "cards/card_storage.h"
#include "core/diag_print.h"
#include "core/seam.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"

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

// Downloaded cards served by the generic web control although they bring data of
// their own.
bool IsGenericControlType(uint32_t type_id) { return type_id >= 0x7A30 && type_id <= 0x7A33; }

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

// Reads the type id from the alternate layout on port 0x301, after a failed primary read.
int32_t ReadAlternateTypeId(int slot, uint32_t* type_id) {
  uint8_t ignored = 0;
  ReadByteFromLocalBus(slot, kCardIdRegister, &ignored);
  WriteByteToLocalBus(slot, kCardIdRegister, 0);
  uint8_t image[kIdentifyBytes];
  const int result = ReadBytesFromLocalBusPort(slot, kCardAltEpromPort, image, kIdentifyBytes);
  if (result != 0) return result;
  if (!IsEpromMagic(Be32(image)) || !IsEpromMagic(Be32(image + kEpromAltSecondMagic))) {
    return err::kEpromCorrupt;
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

// Channels are looked up by number in their table (relay_driver.h), which therefore
// must ascend strictly.
bool Ascends(const uint16_t* table, uint16_t count) {
  return std::adjacent_find(table, table + count, std::greater_equal<uint16_t>()) ==
         table + count;
}

}  // namespace

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
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (type_id == nullptr) return err::kSystemError;
  if (id_byte > kLastIdByte) return err::kIllegalIdByte;

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
  if (record == nullptr) return err::kSystemError;
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  uint8_t id_byte = 0;
  int result = ReadByteFromLocalBus(slot, kCardIdRegister, &id_byte);
  if (result != 0) return result;
  if (id_byte > kLastIdByte) return err::kIllegalIdByte;

  WriteByteToLocalBus(slot, kCardIdRegister, 0);
  uint8_t image[kDownloadBytes];
  const uint32_t port = IsDigitalType(record->type_id) ? kCardAltEpromPort : kCardEpromPort;
  result = ReadBytesFromLocalBusPort(slot, port, image, kDownloadBytes);
  if (result != 0) return result;

  // Offsets come from the card; one that points outside the image is a corrupt EPROM,
  // never a read beyond the buffer.
  const uint32_t block = Be32(image + kEpromBlockTable + 4 * id_byte);
  if (!Fits(block, kBlockEnd, kDownloadBytes)) return err::kEpromCorrupt;
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
    return err::kOutOfNamedMemory;
  }
  std::memcpy(tables.module_id_string.get(), params + kEpromBlockModuleId, kModuleIdLength);
  tables.module_id_string[kModuleIdLength] = '\0';

  tables.channel_table = Allocate<uint16_t>(channel_count);
  if (!tables.channel_table) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__,
                      "failed to malloc logical relay channels\n");
    return err::kOutOfNamedMemory;
  }
  tables.bit_table = Allocate<uint16_t>(channel_count);
  if (!tables.bit_table) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__, "failed to malloc hw bit channels\n");
    return err::kOutOfNamedMemory;
  }
  if (!CopyChannelTable(image, Be32(params + kEpromBlockChannelTable), channel_count,
                        tables.channel_table.get()) ||
      !Ascends(tables.channel_table.get(), channel_count) ||
      !CopyChannelTable(image, Be32(params + kEpromBlockBitTable), channel_count,
                        tables.bit_table.get())) {
    return err::kEpromCorrupt;
  }
  tables.confidence_mask = Allocate<uint8_t>(mask_length);
  if (!tables.confidence_mask) {
    diag_warning_line(kSource, "DownloadCardParams", __LINE__,
                      "failed to malloc confidence mask channels\n");
    return err::kOutOfNamedMemory;
  }
  const uint32_t mask_offset = Be32(params + kEpromBlockMaskOffset);
  if (!Fits(mask_offset, mask_length, kDownloadBytes)) return err::kEpromCorrupt;
  // An empty mask's offset may point anywhere: not even its address is formed.
  if (mask_length > 0) {
    std::memcpy(tables.confidence_mask.get(), image + mask_offset, mask_length);
  }

  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SlotStorage& storage = SlotStorageOf(slot);
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

