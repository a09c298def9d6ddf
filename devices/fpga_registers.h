// FPGA register offsets inside the register window, and the bit layouts the firmware
// and the simulated FPGA share: the interrupt bits, the control bits and the clock's
// BCD fields. Offsets are byte offsets of 32-bit registers.
#pragma once

#include <cstdint>

// The FPGA window: "/dev/mem" from this physical base, this many bytes.
inline constexpr const char* kFpgaMemoryPath = "/dev/mem";
inline constexpr uint64_t kFpgaWindowBase = 0x5C000000;
inline constexpr uint32_t kFpgaWindowLength = 0x10000;

inline constexpr uint32_t kFpgaClearBlock = 0x0000;      // 0x0000-0x003C, cleared by the defaults
inline constexpr uint32_t kFpgaTimingBlock = 0x1000;     // 0x1000-0x1038
inline constexpr uint32_t kFpgaDelayTimerLow = 0x1030;   // 10 us ticks, low word
inline constexpr uint32_t kFpgaDelayTimerHigh = 0x1034;  // 10 us ticks, high word
inline constexpr uint32_t kFpgaResetMask = 0x101C;       // written 0xFFFF by the instrument reset
inline constexpr uint32_t kFpgaTriggerBlock = 0x2000;    // 0x2000-0x203C, cleared by the defaults
inline constexpr uint32_t kFpgaTriggerOutputPulse = 0x2000;  // a non-zero write pulses the trigger output
inline constexpr uint32_t kFpgaTriggerOutputDelay = 0x2004;  // the output trigger's delay, microseconds
inline constexpr uint32_t kFpgaPeriod = 0x203C;          // period in microseconds
inline constexpr uint32_t kFpgaRouteBlock = 0x3000;      // 0x3000-0x303C, set to 1 by the defaults
inline constexpr uint32_t kFpgaI2cBridge = 0x4000;       // one I2C byte per command word
inline constexpr uint32_t kFpgaControl = 0x4004;         // fan, default and trigger bits
inline constexpr uint32_t kFpgaCardReset = 0x400C;       // the cards' reset line
inline constexpr uint32_t kFpgaInterruptAck = 0x4014;    // a written 1 clears that pending source
inline constexpr uint32_t kFpgaInterruptMask = 0x401C;   // a 1 bit holds that source off
inline constexpr uint32_t kFpgaClockTime = 0xD004;       // BCD time of day
inline constexpr uint32_t kFpgaClockDate = 0xD008;       // BCD date

// Control bits of kFpgaControl.
inline constexpr uint32_t kFpgaControlFan = 0x01;       // bus-board fan on
inline constexpr uint32_t kFpgaControlDefault = 0x20;   // set by the register defaults
inline constexpr uint32_t kFpgaControlTrigger = 0x80;   // trigger routing

// The chassis interrupt source (the external trigger input); card slots use bits 0..11.
inline constexpr uint32_t kFpgaChassisInterrupt = 0x1000000;

// The time register's flag byte: bit 24 is set by every write of the time.
inline constexpr uint32_t kFpgaClockFlags = 0xFF000000;
inline constexpr uint32_t kFpgaClockWritten = 0x1000000;

// BCD time word: seconds in bits 0-6, minutes in 8-14, hours in 16-21.
constexpr uint32_t EncodeClockTime(int hour, int minute, int second) {
  return static_cast<uint32_t>((hour / 10) << 20 | (hour % 10) << 16 | (minute / 10) << 12 |
                               (minute % 10) << 8 | (second / 10) << 4 | (second % 10));
}
constexpr void DecodeClockTime(uint32_t word, int* hour, int* minute, int* second) {
  *second = static_cast<int>((word >> 4 & 0x7) * 10 + (word & 0xF));
  *minute = static_cast<int>((word >> 12 & 0x7) * 10 + (word >> 8 & 0xF));
  *hour = static_cast<int>((word >> 20 & 0x3) * 10 + (word >> 16 & 0xF));
}
// BCD date word: day in bits 0-5, month in 8-12, two-digit year in 16-23.
constexpr uint32_t EncodeClockDate(int year, int month, int day) {
  const int yy = year - 2000;
  return static_cast<uint32_t>((yy / 10) << 20 | (yy % 10) << 16 | (month / 10) << 12 |
                               (month % 10) << 8 | (day / 10) << 4 | (day % 10));
}
constexpr void DecodeClockDate(uint32_t word, int* year, int* month, int* day) {
  *day = static_cast<int>((word >> 4 & 0x3) * 10 + (word & 0xF));
  *month = static_cast<int>((word >> 12 & 0x1) * 10 + (word >> 8 & 0xF));
  *year = 2000 + static_cast<int>((word >> 20 & 0xF) * 10 + (word >> 16 & 0xF));
}
static_assert(EncodeClockDate(2005, 12, 31) == 0x00051231);
