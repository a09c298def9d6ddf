// Card relay counters: the four-byte counter records in a relay card's FRAM, read and
// written through the card's local-bus FRAM registers.
#include "hardware/card_relay_counters.h"

#include "core/diag_print.h"
#include "devices/slots.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"

namespace {

constexpr const char* kSource = "_util/fram_utils";
constexpr int kCounterBytes = kCardFramCounterBytes;
constexpr int32_t kLastCounter = (0xFFFF - (kCounterBytes - 1)) / kCounterBytes;

bool ValidCounter(int slot, int32_t channel) {
  return IsCardSlot(slot) && channel >= 0 && channel <= kLastCounter;
}

// Points the card's FRAM at the counter of `channel`: low address byte first.
int SelectCounter(int slot, int32_t channel) {
  const uint32_t address = static_cast<uint32_t>(channel) * kCounterBytes;
  int result = WriteByteToLocalBus(slot, kCardFramAddressLow, address & 0xFF);
  if (result == 0) result = WriteByteToLocalBus(slot, kCardFramAddressHigh, (address >> 8) & 0xFF);
  return result;
}

}  // namespace

int ReadFRAMSlotRelayCounter(int slot, int32_t channel, uint32_t* count) {
  if (count == nullptr || !ValidCounter(slot, channel)) return -1;
  uint8_t bytes[kCounterBytes] = {};
  int result = SelectCounter(slot, channel);
  for (int i = 0; result == 0 && i < kCounterBytes; ++i) {
    result = ReadByteFromLocalBus(slot, kCardFramReadData, &bytes[i]);
  }
  if (result != 0) {
    diag_error_line(kSource, "ReadFRAMSlotRelayCounter", __LINE__, "ReadFRAMBytes failed");
    return -1;
  }
  *count = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return 0;
}

int WriteFRAMSlotRelayCounter(int slot, int32_t channel, uint32_t count) {
  if (!ValidCounter(slot, channel)) return -1;
  int result = WriteByteToLocalBus(slot, kCardFramSequence, kCardFramOpenWrite);
  if (result == 0) result = SelectCounter(slot, channel);
  for (int i = 0; result == 0 && i < kCounterBytes; ++i) {
    result = WriteByteToLocalBus(slot, kCardFramWriteData, (count >> (8 * i)) & 0xFF);
  }
  // The sequence is closed even after a failed byte, so the card does not stay open
  // for writes.
  const int closed = WriteByteToLocalBus(slot, kCardFramSequence, 0);
  if (result == 0) result = closed;
  if (result != 0) {
    diag_error_line(kSource, "WriteFRAMSlotRelayCounter", __LINE__, "WriteFRAMBytes failed");
    return -1;
  }
  return 0;
}

namespace {

int32_t CheckCardRelay(int slot, int32_t relay, int32_t last_relay) {
  if (slot < 1 || slot > 12) return err::kSlotOutOfRange;
  if (relay < 0 || relay > last_relay) return err::kChannelNotValid;
  return 0;
}

}  // namespace

int32_t ReadCardRelayCount(int slot, int32_t relay, int32_t last_relay, uint32_t* count) {
  const int32_t checked = CheckCardRelay(slot, relay, last_relay);
  return checked != 0 ? checked : ReadFRAMSlotRelayCounter(slot, relay, count);
}

int32_t WriteCardRelayCount(int slot, int32_t relay, int32_t last_relay, uint32_t count) {
  const int32_t checked = CheckCardRelay(slot, relay, last_relay);
  return checked != 0 ? checked : WriteFRAMSlotRelayCounter(slot, relay, count);
}
