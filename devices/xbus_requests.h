// Requests of the chassis bus driver ("/dev/xbus0"), shared by the firmware that
// issues them and the simulated driver that answers them.
//
// The byte requests take a nine-word block: command, bus address, data, then zeros.
// The bus address carries the slot in its top four bits: ((slot - 1) << 28) | address,
// so the chassis (slot 0) is 0xF.
//
// The event wait takes a nine-word request whose eighth word points to a seven-word
// event buffer; the event code comes back in the buffer's fourth word. A pointer
// cannot cross the device socket of the virtual chassis (nor fit a word on a 64-bit
// PC), so the request and the buffer travel together as one XbusEventRequest of
// explicit size; the driver fills the buffer part. On the board the eighth word also
// holds the buffer's address.
#pragma once

#include <cstdint>

// The chassis bus driver.
inline constexpr const char* kXbusDevicePath = "/dev/xbus0";

inline constexpr unsigned long kXbusReadByte = 0xC004A512;   // XbusByteRequest
inline constexpr unsigned long kXbusWriteByte = 0xC004A513;  // XbusByteRequest
inline constexpr unsigned long kXbusWaitEvent = 0xC004A50A;  // XbusEventRequest

// Word 0 of a byte request.
inline constexpr uint32_t kXbusCommandWrite = 0xC000;
inline constexpr uint32_t kXbusCommandRead = 0xC008;

inline constexpr int kXbusSlotShift = 28;
inline constexpr uint32_t kXbusAddressMask = 0x0FFFFFFF;

// Event codes.
inline constexpr uint32_t kXbusEventCardInterrupt = 0x20;
inline constexpr uint32_t kXbusEventPowerFail = 0x23;
inline constexpr uint32_t kXbusEventTrigger = 0x26;

struct XbusByteRequest {
  uint32_t words[9];
};
static_assert(sizeof(XbusByteRequest) == 36);

struct XbusEventRequest {
  uint32_t request[9];  // word 7: the buffer's address where a pointer fits a word
  uint32_t event[7];    // word 3: the event code
};
static_assert(sizeof(XbusEventRequest) == 64);

inline constexpr int kXbusEventCodeWord = 3;

constexpr uint32_t XbusBusAddress(int slot, uint32_t address) {
  return (static_cast<uint32_t>(slot - 1) << kXbusSlotShift) | address;
}
// The slot a bus address names: 0 (the chassis) for 0xF.
constexpr int XbusSlotOf(uint32_t bus_address) {
  const int top = static_cast<int>(bus_address >> kXbusSlotShift);
  return top == 0xF ? 0 : top + 1;
}
static_assert(XbusBusAddress(0, 0x201) == 0xF0000201);
static_assert(XbusSlotOf(XbusBusAddress(12, 0x10)) == 12);
