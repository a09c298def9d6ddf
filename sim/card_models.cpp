// The simulated plug-in cards (see card_models.h): EPROM images, the card registers
// of relay and digital I/O cards, the relay counter FRAM, and the catalogue of
// models the chassis description can name.
#include "sim/card_models.h"

#include <algorithm>
#include <span>

namespace sim {

namespace {

// The image and each parameter block start with their magic; the block's tables
// follow its last function descriptor.
constexpr size_t kImageMagic = 0x00;
constexpr size_t kBlockMagic = 0x00;
constexpr size_t kBlockBytes = kEpromBlockDescriptors + kEpromDescriptorCount * kEpromDescriptorStride;

// Digital I/O card.
constexpr uint32_t kDirectionLowWrite = kDioDirectionLowWrite;
constexpr uint32_t kDirectionHighWrite = kDioDirectionHighWrite;
constexpr uint32_t kControlWrite = kDioControlWrite;
constexpr uint32_t kInterruptAcknowledge = kDioInterruptAcknowledge;
constexpr uint32_t kDirectionLowRead = kDioDirectionLowRead;
constexpr uint32_t kDirectionHighRead = kDioDirectionHighRead;
constexpr uint32_t kControlRead = kDioControlRead;
constexpr uint8_t kControlBits = 0x07;
constexpr int kDigitalPorts = 12;

constexpr uint8_t kUndecoded = 0xFF;

void PutU16(std::vector<uint8_t>& image, size_t at, uint16_t value) {
  image[at] = static_cast<uint8_t>(value >> 8);
  image[at + 1] = static_cast<uint8_t>(value);
}

void PutU32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  PutU16(image, at, static_cast<uint16_t>(value >> 16));
  PutU16(image, at + 2, static_cast<uint16_t>(value));
}

// The data register index j of address 1 + 2j, or -1 when the address is none of
// the first `count`.
int DataRegister(uint32_t address, int count) {
  // Without registers there is no last address: 2 * 0 - 1 would wrap to every address.
  if (count <= 0 || (address & 1) == 0 || address > static_cast<uint32_t>(2 * count - 1)) {
    return -1;
  }
  return static_cast<int>((address - 1) / 2);
}

}  // namespace

std::vector<uint8_t> BuildEpromImage(const EpromBlock& block) {
  std::vector<uint8_t> image(kEpromImageBytes, 0);
  const size_t p = kEpromBlockOffset;
  PutU32(image, kImageMagic, block.magic);
  for (int k = 0; k < kEpromBlockRecords; ++k)
    PutU32(image, kEpromBlockTable + 4 * k, static_cast<uint32_t>(p));

  PutU32(image, p + kBlockMagic, block.magic);
  PutU32(image, p + kEpromBlockOwnData, block.own_code_data);
  const size_t id_length = std::min<size_t>(block.module_id.size(), kEpromModuleIdBytes);
  std::copy_n(block.module_id.begin(), id_length, image.begin() + p + kEpromBlockModuleId);
  PutU16(image, p + kEpromBlockTypeId, block.type_id);
  PutU16(image, p + kEpromBlockChannelCount, block.channel_count);
  PutU16(image, p + kEpromBlockMaskLength, static_cast<uint16_t>(block.confidence_mask.size()));
  PutU32(image, p + kEpromBlockSettleTime, block.settle_time_us);
  for (size_t j = 0; j < 8; ++j)
    PutU16(image, p + kEpromBlockDescriptors + kEpromDescriptorStride * j, block.function_descriptors[j]);

  // The tables follow the block; an empty one is stored as offset 0.
  const std::vector<uint8_t>& mask = block.confidence_mask;
  size_t next = p + kBlockBytes;
  if (next + 2 * (block.channel_table.size() + block.bit_table.size()) + mask.size() >
      image.size())
    return {};
  auto place_words = [&](size_t field, const std::vector<uint16_t>& words) {
    if (words.empty()) return;
    PutU32(image, p + field, static_cast<uint32_t>(next));
    for (uint16_t word : words) {
      PutU16(image, next, word);
      next += 2;
    }
  };
  place_words(kEpromBlockChannelTable, block.channel_table);
  place_words(kEpromBlockBitTable, block.bit_table);
  if (!mask.empty()) {
    PutU32(image, p + kEpromBlockMaskOffset, static_cast<uint32_t>(next));
    std::copy(mask.begin(), mask.end(), image.begin() + static_cast<std::ptrdiff_t>(next));
  }
  return image;
}

std::vector<uint8_t> BuildAlternateEpromImage(uint16_t type_id) {
  std::vector<uint8_t> image(kEpromImageBytes, 0);
  PutU32(image, kImageMagic, kEpromMagics[type_id % 4]);
  PutU32(image, kEpromAltSecondMagic, kEpromMagics[(type_id + 1) % 4]);
  PutU16(image, kEpromAltTypeId, type_id);
  return image;
}

CardModel::CardModel(CardTraits traits) : traits_(std::move(traits)) {
  if (!traits_.digital) {
    const size_t drive = static_cast<size_t>(std::max(traits_.drive_bytes, 0));
    driven_.assign(drive, 0);
    stuck_.assign(drive, 0);
    stuck_state_.assign(drive, 0);
  } else {
    if (traits_.port_count <= 0 || traits_.port_count > kDigitalPorts) traits_.port_count = kDigitalPorts;
    port_latch_.assign(static_cast<size_t>(traits_.port_count), 0);
    port_input_.assign(static_cast<size_t>(traits_.port_count), 0);
  }
  if (traits_.relay_counters > 0) fram_.assign(kCardFramBytes, 0);
}

int CardModel::ReadByte(uint32_t address, uint8_t* byte) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (address == kCardIdRegister) {
    *byte = traits_.id_byte;
  } else if (!ReadFramRegister(address, byte) &&
             !(traits_.digital ? ReadDigitalRegister(address, byte)
                             : ReadRelayRegister(address, byte))) {
    *byte = kUndecoded;
  }
  return 0;
}

int CardModel::WriteByte(uint32_t address, uint8_t byte) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (address == kCardIdRegister) {
    if (byte == 0) eprom_position_ = 0;
  } else if (!WriteFramRegister(address, byte)) {
    if (traits_.digital) {
      WriteDigitalRegister(address, byte);
    } else {
      WriteRelayRegister(address, byte);
    }
  }
  return 0;
}

uint8_t CardModel::NextEpromByte() {
  if (eprom_position_ >= traits_.eprom.size()) return kUndecoded;
  return traits_.eprom[eprom_position_++];
}

uint8_t CardModel::CoilByte(size_t j) const {
  return static_cast<uint8_t>((driven_[j] & ~stuck_[j]) | (stuck_state_[j] & stuck_[j]));
}

bool CardModel::ReadRelayRegister(uint32_t address, uint8_t* byte) {
  const int j = DataRegister(address, traits_.drive_bytes);
  if (j >= 0) {
    // Readback is active low: a 0 bit is an energised coil.
    *byte = static_cast<uint8_t>(~CoilByte(static_cast<size_t>(j)));
    return true;
  }
  if (address == kCardEpromPort) {
    *byte = NextEpromByte();
    return true;
  }
  if (address == kCardInterruptRegister && traits_.interrupt_bits != 0) {
    *byte = static_cast<uint8_t>(~pending_);
    return true;
  }
  return false;
}

bool CardModel::WriteRelayRegister(uint32_t address, uint8_t byte) {
  const int j = DataRegister(address, traits_.drive_bytes);
  if (j >= 0) {
    const auto at = static_cast<size_t>(j);
    const uint8_t before = CoilByte(at);
    driven_[at] = byte;
    CountOperations(j, before, CoilByte(at));
    return true;
  }
  if (address == kCardInterruptRegister && traits_.interrupt_bits != 0) {
    // A written 1 bit acknowledges that status bit.
    pending_ = static_cast<uint8_t>(pending_ & ~byte);
    return true;
  }
  return false;
}

bool CardModel::HasCoil(int bit) const {
  return bit >= 0 && static_cast<size_t>(bit) < 8 * driven_.size();
}

uint8_t CardModel::PortData(int port) const {
  const bool output = port < 8 ? (direction_low_ >> port) & 1 : (direction_high_ >> (port - 8)) & 1;
  const auto p = static_cast<size_t>(port);
  return output ? port_latch_[p] : port_input_[p];
}

bool CardModel::ReadDigitalRegister(uint32_t address, uint8_t* byte) {
  const int p = DataRegister(address, traits_.port_count);
  if (p >= 0) {
    *byte = PortData(p);
    return true;
  }
  switch (address) {
    case kDirectionLowRead:
      *byte = static_cast<uint8_t>(~direction_low_);
      return true;
    case kDirectionHighRead:
      // Directions read inverted; the synchronous port count reads as written.
      *byte = static_cast<uint8_t>((~direction_high_ & 0x0F) | (direction_high_ & 0xF0));
      return true;
    case kControlRead: {
      const uint8_t pending = pending_ & kDigitalInterruptBits;
      *byte = static_cast<uint8_t>((control_ & kControlBits) | (~kControlBits & ~pending));
      return true;
    }
    case kCardAltEpromPort:
      *byte = NextEpromByte();
      return true;
    default:
      return false;
  }
}

bool CardModel::WriteDigitalRegister(uint32_t address, uint8_t byte) {
  const int p = DataRegister(address, traits_.port_count);
  if (p >= 0) {
    port_latch_[static_cast<size_t>(p)] = byte;
    return true;
  }
  switch (address) {
    case kDirectionLowWrite:
      direction_low_ = byte;
      return true;
    case kDirectionHighWrite:
      direction_high_ = byte;
      return true;
    case kControlWrite:
      control_ = byte;
      return true;
    case kInterruptAcknowledge:
      if (byte == 0) pending_ = 0;
      return true;
    default:
      return false;
  }
}

bool CardModel::ReadFramRegister(uint32_t address, uint8_t* byte) {
  if (fram_.empty() || address != kCardFramReadData) return false;
  *byte = fram_[fram_position_];
  fram_position_ = (fram_position_ + 1) % fram_.size();
  return true;
}

bool CardModel::WriteFramRegister(uint32_t address, uint8_t byte) {
  if (fram_.empty()) return false;
  switch (address) {
    case kCardFramSequence:
      if (byte == kCardFramOpenWrite) fram_writing_ = true;
      if (byte == 0) fram_writing_ = false;
      return true;
    case kCardFramAddressLow:
      fram_address_ = static_cast<uint16_t>((fram_address_ & 0xFF00) | byte);
      fram_position_ = fram_address_ % fram_.size();
      return true;
    case kCardFramAddressHigh:
      fram_address_ = static_cast<uint16_t>((fram_address_ & 0x00FF) | (byte << 8));
      fram_position_ = fram_address_ % fram_.size();
      return true;
    case kCardFramWriteData:
      if (fram_writing_) {
        fram_[fram_position_] = byte;
        fram_position_ = (fram_position_ + 1) % fram_.size();
      }
      return true;
    default:
      return false;
  }
}

std::vector<int> CardModel::EnergisedCoils() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int> bits;
  for (size_t j = 0; j < driven_.size(); ++j) {
    const uint8_t coils = CoilByte(j);
    for (int b = 0; b < 8; ++b)
      if ((coils >> b) & 1) bits.push_back(static_cast<int>(8 * j) + b);
  }
  return bits;
}

bool CardModel::CoilEnergised(int bit) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!HasCoil(bit)) return false;
  return (CoilByte(static_cast<size_t>(bit / 8)) >> (bit % 8)) & 1;
}

bool CardModel::StickRelay(int bit, bool stuck) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!HasCoil(bit)) return false;
  const auto j = static_cast<size_t>(bit / 8);
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  if (stuck) {
    if ((stuck_[j] & mask) == 0) {
      stuck_state_[j] = static_cast<uint8_t>((stuck_state_[j] & ~mask) | (CoilByte(j) & mask));
      stuck_[j] |= mask;
    }
  } else {
    stuck_[j] = static_cast<uint8_t>(stuck_[j] & ~mask);
  }
  return true;
}

bool CardModel::RaiseInterrupt(uint8_t bits) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bits == 0 || (bits & ~traits_.interrupt_bits) != 0) return false;
  pending_ |= bits;
  return true;
}

uint8_t CardModel::PendingInterrupt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

// A card with counters counts each coil that goes from released to energised: relay
// r is drive bit r - 1, its counter the u32 at FRAM address 4r (least significant byte
// first), as the card's own counting logic keeps them.
void CardModel::CountOperations(int drive_byte, uint8_t before, uint8_t after) {
  const auto energised = static_cast<uint8_t>(after & ~before);
  for (int k = 0; k < 8 && traits_.relay_counters > 0; ++k) {
    if (((energised >> k) & 1) == 0) continue;
    const int relay = 8 * drive_byte + k + 1;
    const auto at = static_cast<size_t>(relay) * 4;
    if (relay >= traits_.relay_counters || at + 4 > fram_.size()) continue;
    for (size_t i = 0; i < 4 && ++fram_[at + i] == 0; ++i) {
    }
  }
}

uint32_t CardModel::RelayCounter(int relay) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (relay < 0 || relay >= traits_.relay_counters) return 0;
  const auto at = static_cast<size_t>(relay) * 4;
  if (at + 4 > fram_.size()) return 0;
  // Stored least significant byte first.
  return static_cast<uint32_t>(fram_[at]) | static_cast<uint32_t>(fram_[at + 1]) << 8 |
         static_cast<uint32_t>(fram_[at + 2]) << 16 | static_cast<uint32_t>(fram_[at + 3]) << 24;
}

std::vector<uint8_t> CardModel::FramImage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fram_;
}

void CardModel::LoadFramImage(const std::vector<uint8_t>& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fram_.empty()) return;
  const size_t length = std::min(image.size(), fram_.size());
  std::fill(fram_.begin(), fram_.end(), 0);
  std::copy_n(image.begin(), length, fram_.begin());
}

uint8_t CardModel::PortValue(int port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (port < 0 || port >= static_cast<int>(port_latch_.size())) return 0;
  return PortData(port);
}

bool CardModel::PortIsOutput(int port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (port < 0 || port >= kDigitalPorts) return false;
  return port < 8 ? ((direction_low_ >> port) & 1) != 0
                  : ((direction_high_ >> (port - 8)) & 1) != 0;
}

int CardModel::SyncCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return direction_high_ >> 4;
}

uint8_t CardModel::ControlBits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint8_t>(control_ & kControlBits);
}

void CardModel::DrivePortInput(int port, uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (port < 0 || port >= static_cast<int>(port_input_.size())) return;
  port_input_[static_cast<size_t>(port)] = value;
}

// The catalogue.

namespace {

// What a downloaded card's EPROM describes beyond its module id.
struct DownloadedTables {
  uint32_t own_code_data;
  std::span<const uint16_t> channel_table;  // empty: channel i is numbered i
  std::span<const uint16_t> bit_table;      // empty: channel i drives bit i
  uint32_t settle_time_us;
  std::span<const uint8_t> confidence_mask;
  uint16_t function_descriptors[8];
};

// A 24-channel general purpose card: two banks, 1-12 and 21-32; channel index i
// drives bit 8 * (i % 4) + i / 4, so the coils spread over all four drive bytes.
constexpr uint16_t kGeneralChannels[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
constexpr uint16_t kGeneralBits[] = {0, 8,  16, 24, 1, 9,  17, 25, 2, 10, 18, 26,
                                     3, 11, 19, 27, 4, 12, 20, 28, 5, 13, 21, 29};
constexpr uint8_t kGeneralMask[] = {0x3F, 0x3F, 0x3F, 0x3F};
constexpr uint8_t kFunctionCardMask[] = {0xFF, 0xFF};

constexpr DownloadedTables kGeneral{0, kGeneralChannels, kGeneralBits, 3000, kGeneralMask, {}};
constexpr DownloadedTables kGeneralOwnCode{1, kGeneralChannels, kGeneralBits, 3000, kGeneralMask,
                                           {}};
// 16 channels 0-15 on bits 0-15 (no tables), naming two functions of its own.
constexpr DownloadedTables kFunctionCard{
    0, {}, {}, 3000, kFunctionCardMask, {0x0101, 0, 0, 0, 0, 0, 0, 0x0002}};

struct CatalogueEntry {
  const char* model;
  uint16_t type_id;
  bool digital;             // digital I/O registers and the alternate EPROM
  uint32_t magic;           // relay cards; digital images pick their own
  const char* module_id;    // EPROM module id text (relay cards)
  uint16_t channel_count;
  int drive_bytes;
  int relay_counters;
  uint8_t interrupt_bits;
  int port_count;
  const DownloadedTables* tables;  // downloaded cards: what else their EPROM holds
};

constexpr uint32_t kM0 = kEpromMagics[0], kM1 = kEpromMagics[1], kM2 = kEpromMagics[2],
                   kM3 = kEpromMagics[3];

// clang-format off
constexpr CatalogueEntry kCatalogue[] = {
  // model          type id dio    magic module id                                           ch   drv cnt  irq   port tables
  {"SM-RD96",       0x7A01, false, kM0, "SM-RD96 96-CHANNEL RELAY DRIVER",                  96,  12, 0,   0,    0,  nullptr},
  {"SM-RD48",       0x7A02, false, kM1, "SM-RD48 48-CHANNEL RELAY DRIVER",                  48,  6,  0,   0,    0,  nullptr},
  {"SM-MX52",       0x7A03, false, kM2, "SM-MX52 52-CHANNEL SPDT 2A MUX",                   52,  7,  0,   0,    0,  nullptr},
  {"SM-SW80",       0x7A04, false, kM3, "SM-SW80 80-CHANNEL SPST 2A SWITCH MODULE",         80,  10, 0,   0,    0,  nullptr},
  {"SM-SW20",       0x7A05, false, kM0, "SM-SW20 20-CHANNEL SPST 10A SWITCH MODULE",        20,  3,  0,   0,    0,  nullptr},
  {"SM-SC64",       0x7A06, false, kM1, "SM-SC64 64-CHANNEL TWO-WIRE SCANNER/MUX",          75,  10, 0,   0,    0,  nullptr},
  {"SM-MT816",      0x7A07, false, kM2, "SM-MT816 8X16 MATRIX MODULE",                      128, 18, 0,   0,    0,  nullptr},
  {"SM-HF1",        0x7A08, false, kM3, "SM-HF1 HIGH FREQUENCY SWITCH MODULE",              40,  5,  0,   0,    0,  nullptr},
  {"SM-MT436",      0x7A09, false, kM0, "SM-MT436 4X36 MATRIX MODULE",                      144, 18, 0,   0,    0,  nullptr},
  {"SM-AT56",       0x7A0A, false, kM1, "SM-AT56 56 dB Attenuator",                         1,   2,  0,   0,    0,  nullptr},
  {"SM-MT9Q",       0x7A0B, false, kM2, "SM-MT9Q 9-4X4 MATRIX MODULE",                      144, 18, 0,   0,    0,  nullptr},
  {"SM-MT3W",       0x7A0C, false, kM3, "SM-MT3W 3-4X12 MATRIX MODULE",                     144, 18, 0,   0,    0,  nullptr},
  {"SM-MT2W",       0x7A0D, false, kM0, "SM-MT2W 2-4X16 MATRIX MODULE",                     128, 18, 0,   0,    0,  nullptr},
  {"SM-MT2E",       0x7A0E, false, kM1, "SM-MT2E 2-8X8 MATRIX MODULE",                      128, 18, 0,   0,    0,  nullptr},
  {"SM-MT12",       0x7A0F, false, kM2, "SM-MT12 12X12 MATRIX MODULE",                      144, 18, 0,   0,    0,  nullptr},
  {"SM-MX12H",      0x7A10, false, kM3, "SM-MX12H 12 16-CHANNEL ONE-WIRE MUXes",            315, 16, 129, 0,    0,  nullptr},
  {"SM-RF5",        0x7A11, false, kM0, "SM-RF5 5-CHANNEL SPDT RF MUX",                     5,   1,  0,   0,    0,  nullptr},
  {"SM-CT1",        0x7A12, false, kM1, "SM-CT1 4410X CHASSIS TEST MODULE",                 47,  6,  0,   0xC0, 0,  nullptr},
  {"SM-MX26Q",      0x7A13, false, kM2, "SM-MX26Q 26 4-CHANNEL ONE-WIRE MUXes",             104, 7,  53,  0,    0,  nullptr},
  {"SM-RF4D",       0x7A14, false, kM3, "SM-RF4D DUAL 1x4 RF SWITCHING MODULE",             8,   2,  0,   0,    0,  nullptr},
  {"SM-RF6D",       0x7A15, false, kM0, "SM-RF6D DUAL 1x6 RF SWITCHING MODULE",             12,  2,  0,   0,    0,  nullptr},
  {"SM-DIO12-TTL",  0x7A20, true,  0,   nullptr,                                            0,   0,  0,   0x40, 12, nullptr},
  {"SM-DIO12-CMOS", 0x7A21, true,  0,   nullptr,                                            0,   0,  0,   0x40, 12, nullptr},
  {"SM-DIO12-OC",   0x7A22, true,  0,   nullptr,                                            0,   0,  0,   0x40, 12, nullptr},
  {"SM-DIO12-HVOC", 0x7A23, true,  0,   nullptr,                                            0,   0,  0,   0x40, 6,  nullptr},
  {"GENERIC",       0x7B01, false, kM1, "SM-GP24 24-CHANNEL GENERAL PURPOSE RELAY MODULE",  24,  4,  0,   0,    0,  &kGeneral},
  {"GENERIC-OWN",   0x7B02, false, kM2, "SM-GP24W 24-CHANNEL GENERAL PURPOSE RELAY MODULE", 24,  4,  0,   0,    0,  &kGeneralOwnCode},
  {"GENERIC-FD",    0x7B03, false, kM3, "SM-FX16 16-CHANNEL FUNCTION RELAY MODULE",         16,  2,  0,   0,    0,  &kFunctionCard},
};
// clang-format on

EpromBlock BlockOf(const CatalogueEntry& entry) {
  EpromBlock block;
  block.magic = entry.magic;
  block.module_id = entry.module_id;
  block.type_id = entry.type_id;
  block.channel_count = entry.channel_count;
  if (const DownloadedTables* tables = entry.tables) {
    block.own_code_data = tables->own_code_data;
    block.channel_table.assign(tables->channel_table.begin(), tables->channel_table.end());
    block.bit_table.assign(tables->bit_table.begin(), tables->bit_table.end());
    block.settle_time_us = tables->settle_time_us;
    block.confidence_mask.assign(tables->confidence_mask.begin(), tables->confidence_mask.end());
    std::copy(std::begin(tables->function_descriptors), std::end(tables->function_descriptors),
              block.function_descriptors);
  }
  return block;
}

}  // namespace

std::shared_ptr<CardModel> MakeCardModel(const std::string& name) {
  for (const CatalogueEntry& entry : kCatalogue) {
    if (name != entry.model) continue;
    CardTraits traits;
    traits.model = entry.model;
    traits.type_id = entry.type_id;
    traits.digital = entry.digital;
    traits.eprom = traits.digital ? BuildAlternateEpromImage(entry.type_id)
                              : BuildEpromImage(BlockOf(entry));
    traits.drive_bytes = entry.drive_bytes;
    traits.relay_counters = entry.relay_counters;
    traits.interrupt_bits = entry.interrupt_bits;
    traits.port_count = entry.port_count;
    return std::make_shared<CardModel>(std::move(traits));
  }
  return nullptr;
}

std::vector<std::string> CardModelNames() {
  std::vector<std::string> names;
  for (const CatalogueEntry& entry : kCatalogue) names.emplace_back(entry.model);
  return names;
}

}  // namespace sim
