// The SM-DIO12 digital I/O card, in its four variants (TTL, CMOS and open collector with
// twelve 8-bit ports, high-voltage open collector with six): identity, the channel
// operations (which number the card's ports as its channels), the register functions
// of digital_io.h, and the synchronous step on the card's interrupt. The card has no
// relays, so the relay operations are absent.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cards/card_manager.h"
#include "cards/digital_io.h"
#include "cards/special_cards.h"
#include "devices/card_registers.h"
#include "devices/slots.h"
#include "hardware/event_log.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"

namespace {

struct Variant {
  uint32_t type_id;
  const char* description;
  int32_t ports;
};

constexpr Variant kVariants[] = {
    {kSmDio12TtlTypeId, "SM-DIO12 TTL 12-BYTE DIGITAL INPUT/OUTPUT MODULE", 12},
    {kSmDio12CmosTypeId, "SM-DIO12 CMOS 12-BYTE DIGITAL INPUT/OUTPUT MODULE", 12},
    {kSmDio12OcTypeId, "SM-DIO12 OC 12-BYTE DIGITAL INPUT/OUTPUT OPEN COLLECTOR MODULE", 12},
    {kSmDio12HvocTypeId,
     "SM-DIO12 HVOC 6-BYTE DIGITAL INPUT/OUTPUT HIGH VOLTAGE OPEN COLLECTOR MODULE", 6},
};

// The variant of the card in `slot`, or null for a slot outside 1..12 or another card.
const Variant* VariantOf(int slot) {
  const CardRecord* record = CardSlotRecord(slot);
  if (record == nullptr) return nullptr;
  for (const Variant& variant : kVariants) {
    if (variant.type_id == record->type_id) return &variant;
  }
  return nullptr;
}

int32_t PortCount(int slot) {
  const Variant* variant = VariantOf(slot);
  return variant != nullptr ? variant->ports : 0;
}

bool Complemented(int slot) {
  const Variant* variant = VariantOf(slot);
  return variant != nullptr &&
         (variant->type_id == kSmDio12OcTypeId || variant->type_id == kSmDio12HvocTypeId);
}

// The synchronous run of one card, guarded by the card state lock.
struct RunState {
  bool sync_mode = false;
  int points[kDioMostPorts] = {};
  int index[kDioMostPorts] = {};
  uint8_t pattern[kDioMostPorts][kDioPatternBytes + 1] = {};
};

RunState g_runs[kSlotCount];

// Register index -> local-bus address for writing and for reading (0: none).
struct RegisterAddresses {
  uint32_t write;
  uint32_t read;
};

bool AddressesOf(int index, RegisterAddresses* addresses) {
  if (index >= 0 && index < kDioMostPorts) {
    const uint32_t port = 1 + 2 * static_cast<uint32_t>(index);
    *addresses = {port, port};
    return true;
  }
  switch (index) {
    case 20: *addresses = {0, kCardIdRegister}; return true;
    case 30: *addresses = {kDioDirectionLowWrite, kDioDirectionLowRead}; return true;
    case 31: *addresses = {kDioDirectionHighWrite, kDioDirectionHighRead}; return true;
    case 32: *addresses = {kDioControlWrite, kDioControlRead}; return true;
    case 33: *addresses = {kDioInterruptAcknowledge, 0}; return true;
    case 40: *addresses = {0, kCardAltEpromPort}; return true;
    default: return false;
  }
}

constexpr int kDirectionLow = 30;
constexpr int kDirectionHigh = 31;
constexpr int kControl = 32;
constexpr int kAcknowledge = 33;
// The control register's readback carries the interrupt status in its upper bits.
constexpr uint8_t kControlMask = kDioControlArmed | kDioControlBusy | kDioControlClock;

int32_t ReadControl(int slot, uint8_t* control) {
  const int32_t read = DioReadRegister(slot, kControl, control);
  *control = static_cast<uint8_t>(*control & kControlMask);
  return read;
}

// Changes control bits: clears `clear`, then sets `set`.
int32_t ChangeControl(int slot, uint8_t clear, uint8_t set) {
  uint8_t control = 0;
  const int32_t read = ReadControl(slot, &control);
  if (read != 0) return read;
  return DioWriteRegister(slot, kControl, static_cast<uint8_t>((control & ~clear) | set));
}

bool ValidPort(int slot, int port) { return port >= 0 && port < PortCount(slot); }

int32_t DigitalGetIdentity(int slot, char* description, char* serial, char* rev1, char* rev2,
                           char* rev3) {
  const Variant* variant = VariantOf(slot);
  std::snprintf(description, kCardTextSize, "%s",
                variant != nullptr ? variant->description : "N/A");
  for (char* text : {serial, rev1, rev2, rev3}) std::snprintf(text, kCardTextSize, "N/A");
  return 0;
}

int32_t DigitalChannelToIndex(int slot, int32_t port, uint8_t /*channel_flag*/) {
  return port >= 0 && port < PortCount(slot) ? port : err::kChannelNotValid;
}

int32_t DigitalFirstChannel(int slot, uint8_t /*channel_flag*/) {
  return PortCount(slot) > 0 ? 0 : err::kChannelNotValid;
}

int32_t DigitalNextChannel(int slot, int32_t port, uint8_t channel_flag) {
  const int32_t index = DigitalChannelToIndex(slot, port, channel_flag);
  if (index < 0) return index;
  return index + 1 < PortCount(slot) ? index + 1 : err::kChannelNotValid;
}

int32_t DigitalPrevChannel(int slot, int32_t port, uint8_t channel_flag) {
  const int32_t index = DigitalChannelToIndex(slot, port, channel_flag);
  if (index <= 0) return index;  // port 0 has none before it: 0
  return index - 1;
}

int32_t DigitalLastChannel(int slot, uint8_t /*channel_flag*/) {
  const int32_t ports = PortCount(slot);
  return ports > 0 ? ports - 1 : err::kChannelNotValid;
}

int32_t DigitalChannelCount(int slot, uint8_t /*channel_flag*/) { return PortCount(slot); }

// Tells a digital card from any other card for the DIGital commands.
int32_t DigitalDigitalOp(int slot, int32_t port) {
  return DigitalChannelToIndex(slot, port, 0) >= 0 ? 1 : 0;
}

// Ports 0, all inputs, no synchronous ports, busy polarity normal, disarmed.
int32_t DigitalInit(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  SetSwitchingMode(slot, 0);
  g_runs[slot] = RunState{};
  for (int port = 0; port < PortCount(slot); ++port) {
    const int32_t written = DioWriteRegister(slot, port, 0);
    if (written != 0) return written;
  }
  for (const auto& [index, value] :
       {std::pair{kDirectionLow, 0}, std::pair{kDirectionHigh, 0}, std::pair{kControl, 2}}) {
    const int32_t written = DioWriteRegister(slot, index, static_cast<uint8_t>(value));
    if (written != 0) return written;
  }
  return 0;
}

// The instrument reset and the emergency shutdown start the card afresh and announce it.
int32_t DigitalReset(int slot) {
  const int32_t initialised = DigitalInit(slot);
  PostRelayStateChanged(slot);
  return initialised;
}

// One synchronous step, on the card's interrupt: each synchronous port that has points
// left records (input) or drives (output) its next byte; then the acknowledge; a
// complete run disarms the card and leaves sync mode.
int32_t DigitalInterrupt(int slot, uint8_t /*status*/) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  RunState& run = g_runs[slot];
  bool armed = false;
  int32_t result = DioArmed(slot, &armed);
  if (result != 0) return result;
  char text[kEventTextSize];
  if (!armed) {
    std::snprintf(text, sizeof text,
                  "SM-DIO12 Card Interrupt triggered on slot %d, but interrupt is not enabled.",
                  slot);
    LogEvent(text);
    return err::kUnarmedDigitalModule;
  }
  if (!run.sync_mode) {
    std::snprintf(text, sizeof text,
                  "SM-DIO12 Card Interrupt triggered on slot %d, but SYNC mode is not enabled.",
                  slot);
    LogEvent(text);
    DioArm(slot, false);
    return err::kUnarmedDigitalModule;
  }
  uint16_t outputs = 0;
  int count = 0;
  result = DioOutputMask(slot, &outputs);
  if (result == 0) result = DioSyncCount(slot, &count);
  bool complete = true;
  for (int port = 0; result == 0 && port < count && port < kDioMostPorts; ++port) {
    int& index = run.index[port];
    if (index < run.points[port]) {
      if ((outputs >> port) & 1) {
        result = DioWritePort(slot, port, run.pattern[port][index]);
      } else {
        result = DioReadPort(slot, port, &run.pattern[port][index]);
      }
      if (result != 0) return result;  // not acknowledged: the edge stays pending
      ++index;
    }
    complete = complete && index >= run.points[port];
  }
  const int32_t acknowledged = DioWriteRegister(slot, kAcknowledge, 0);
  if (result == 0) result = acknowledged;
  if (result == 0 && complete) {
    DioArm(slot, false);
    run.sync_mode = false;
  }
  return result;
}

constexpr CardOperations kDigitalOperations{
    .Init = DigitalInit,
    .Reset = DigitalReset,
    .GetIdentity = DigitalGetIdentity,
    .ChannelToIndex = DigitalChannelToIndex,
    .FirstChannel = DigitalFirstChannel,
    .NextChannel = DigitalNextChannel,
    .PrevChannel = DigitalPrevChannel,
    .LastChannel = DigitalLastChannel,
    .ChannelCount = DigitalChannelCount,
    .IsValidChannel = nullptr,
    .GetRelayState = nullptr,
    .GetRelayCount = nullptr,
    .SetRelayCount = nullptr,
    .VerifyChannel = nullptr,
    .ValidateHook = nullptr,
    .SegmentHook = nullptr,
    .ExecuteHook = nullptr,
    .SetPending = nullptr,
    .ApplyPending = nullptr,
    .RevertPending = nullptr,
    .WriteHardware = nullptr,
    .SettleTime = nullptr,
    .ConfidenceCheck = nullptr,
    .Interrupt = DigitalInterrupt,
    .Shutdown = DigitalReset,
    .DigitalOp = DigitalDigitalOp,
};

constexpr CardTemplate DigitalTemplate(uint32_t type_id) {
  CardTemplate card{};
  card.type_id = type_id;
  card.present = 1;
  card.operations = kDigitalOperations;
  card.category = kCardDigital;
  return card;
}

}  // namespace

constinit const CardTemplate kSmDio12TtlTemplate = DigitalTemplate(kSmDio12TtlTypeId);
constinit const CardTemplate kSmDio12CmosTemplate = DigitalTemplate(kSmDio12CmosTypeId);
constinit const CardTemplate kSmDio12OcTemplate = DigitalTemplate(kSmDio12OcTypeId);
constinit const CardTemplate kSmDio12HvocTemplate = DigitalTemplate(kSmDio12HvocTypeId);

// ---- Register functions (digital_io.h) ------------------------------------------------

int DioPortCount(int slot) { return PortCount(slot); }

int32_t DioReadRegister(int slot, int index, uint8_t* byte) {
  RegisterAddresses addresses{};
  if (!AddressesOf(index, &addresses) || addresses.read == 0) return err::kLocalBusAddressNotValid;
  return ReadByteFromLocalBus(slot, addresses.read, byte);
}

int32_t DioWriteRegister(int slot, int index, uint8_t byte) {
  RegisterAddresses addresses{};
  if (!AddressesOf(index, &addresses) || addresses.write == 0) {
    return err::kLocalBusAddressNotValid;
  }
  return WriteByteToLocalBus(slot, addresses.write, byte);
}

int32_t DioReadPort(int slot, int port, uint8_t* byte) {
  if (!ValidPort(slot, port)) return err::kChannelNotValid;
  return DioReadRegister(slot, port, byte);
}

int32_t DioWritePort(int slot, int port, uint8_t byte) {
  if (!ValidPort(slot, port)) return err::kChannelNotValid;
  return DioWriteRegister(slot, port, Complemented(slot) ? static_cast<uint8_t>(~byte) : byte);
}

int32_t DioOutputMask(int slot, uint16_t* mask) {
  uint8_t low = 0;
  uint8_t high = 0;
  int32_t read = DioReadRegister(slot, kDirectionLow, &low);
  if (read == 0) read = DioReadRegister(slot, kDirectionHigh, &high);
  if (read != 0) return read;
  *mask = static_cast<uint16_t>(static_cast<uint8_t>(~low) | (static_cast<uint16_t>(~high & 0x0F) << 8));
  return 0;
}

int32_t DioIsOutput(int slot, int port, bool* output) {
  if (!ValidPort(slot, port)) return err::kChannelNotValid;
  uint16_t mask = 0;
  const int32_t read = DioOutputMask(slot, &mask);
  if (read == 0) *output = ((mask >> port) & 1) != 0;
  return read;
}

int32_t DioSetOutputState(int slot, int port, bool on) {
  if (!ValidPort(slot, port)) return err::kChannelNotValid;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const int index = port < 8 ? kDirectionLow : kDirectionHigh;
  const int bit = port < 8 ? port : port - 8;
  uint8_t readback = 0;
  const int32_t read = DioReadRegister(slot, index, &readback);
  if (read != 0) return read;
  uint8_t directions = static_cast<uint8_t>(~readback);
  if (index == kDirectionHigh) directions = static_cast<uint8_t>((directions & 0x0F) | (readback & 0xF0));
  directions = on ? static_cast<uint8_t>(directions | (1u << bit))
                  : static_cast<uint8_t>(directions & ~(1u << bit));
  return DioWriteRegister(slot, index, directions);
}

int32_t DioSyncCount(int slot, int* count) {
  uint8_t readback = 0;
  const int32_t read = DioReadRegister(slot, kDirectionHigh, &readback);
  if (read == 0) *count = readback >> 4;
  return read;
}

int32_t DioSetSyncCount(int slot, int count) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  uint8_t readback = 0;
  const int32_t read = DioReadRegister(slot, kDirectionHigh, &readback);
  if (read != 0) return read;
  return DioWriteRegister(slot, kDirectionHigh,
                          static_cast<uint8_t>((~readback & 0x0F) | ((count & 0x0F) << 4)));
}

int32_t DioIsSynchronous(int slot, int port, bool* synchronous) {
  int count = 0;
  const int32_t read = DioSyncCount(slot, &count);
  if (read == 0) *synchronous = count > port;
  return read;
}

int32_t DioSetBusyInverted(int slot, bool inverted) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return inverted ? ChangeControl(slot, kDioControlBusy, 0) : ChangeControl(slot, 0, kDioControlBusy);
}

int32_t DioBusyInverted(int slot, bool* inverted) {
  uint8_t control = 0;
  const int32_t read = ReadControl(slot, &control);
  if (read == 0) *inverted = (control & kDioControlBusy) == 0;
  return read;
}

int32_t DioSetClockInverted(int slot, bool inverted) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  uint8_t control = 0;
  int32_t result = ReadControl(slot, &control);
  if (result != 0) return result;
  const uint8_t armed = control & kDioControlArmed;
  // The armed bit is dropped while the clock polarity changes, and restored.
  result = DioWriteRegister(slot, kControl, static_cast<uint8_t>(control & ~kDioControlArmed));
  if (result != 0) return result;
  control = inverted ? static_cast<uint8_t>(control | kDioControlClock)
                     : static_cast<uint8_t>(control & ~kDioControlClock);
  result = DioWriteRegister(slot, kControl, static_cast<uint8_t>(control & ~kDioControlArmed));
  if (result != 0) return result;
  return DioWriteRegister(slot, kControl, static_cast<uint8_t>(control | armed));
}

int32_t DioClockInverted(int slot, bool* inverted) {
  uint8_t control = 0;
  const int32_t read = ReadControl(slot, &control);
  if (read == 0) *inverted = (control & kDioControlClock) != 0;
  return read;
}

int32_t DioArm(int slot, bool on) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (on) {
    for (int& index : g_runs[slot].index) index = 0;
  }
  return on ? ChangeControl(slot, 0, kDioControlArmed) : ChangeControl(slot, kDioControlArmed, 0);
}

int32_t DioArmed(int slot, bool* armed) {
  uint8_t control = 0;
  const int32_t read = ReadControl(slot, &control);
  if (read == 0) *armed = (control & kDioControlArmed) != 0;
  return read;
}

void DioSetSyncMode(int slot, bool on) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (IsCardSlot(slot)) g_runs[slot].sync_mode = on;
}

bool DioSyncMode(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsCardSlot(slot) && g_runs[slot].sync_mode;
}

void DioSetPoints(int slot, int port, int points) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (IsCardSlot(slot) && port >= 0 && port < kDioMostPorts) g_runs[slot].points[port] = points;
}

int DioPoints(int slot, int port) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsCardSlot(slot) && port >= 0 && port < kDioMostPorts ? g_runs[slot].points[port] : 0;
}

void DioSetIndex(int slot, int port, int index) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardSlot(slot) || port < 0 || port >= kDioMostPorts) return;
  g_runs[slot].index[port] = index;
  g_runs[slot].points[port] = index;
}

int DioIndex(int slot, int port) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return IsCardSlot(slot) && port >= 0 && port < kDioMostPorts ? g_runs[slot].index[port] : 0;
}

int32_t DioAppendData(int slot, int port, uint8_t byte) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardSlot(slot) || port < 0 || port >= kDioMostPorts) return err::kChannelNotValid;
  RunState& run = g_runs[slot];
  if (run.points[port] > kDioPatternBytes - 1) return err::kDataBufferOverflow;
  run.pattern[port][run.points[port]++] = byte;
  if (!run.sync_mode) run.index[port] = run.points[port];
  return 0;
}

void DioPattern(int slot, int port, uint8_t* bytes, int count) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardSlot(slot) || port < 0 || port >= kDioMostPorts) return;
  if (count > kDioPatternBytes) count = kDioPatternBytes;
  std::memcpy(bytes, g_runs[slot].pattern[port], static_cast<size_t>(count > 0 ? count : 0));
}

int32_t DioClearRun(int slot) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  uint16_t outputs = 0;
  const int32_t read = DioOutputMask(slot, &outputs);
  if (read != 0) return read;
  RunState& run = g_runs[slot];
  for (int port = 0; port < kDioMostPorts; ++port) {
    run.index[port] = 0;
    if ((outputs >> port) & 1) run.points[port] = 0;
  }
  return 0;
}
