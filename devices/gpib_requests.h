// Requests of the GPIB device driver ("/dev/gpib0"), shared by the device operations
// that issue them and by the simulated device that answers them, so that both sides
// speak the same codes. How each request carries its argument:
//   - by value (DeviceIoctlValue): the set-address and status-byte requests take
//     the value, the SRQ, enable, disable and clear requests take none (0);
//   - by record (DeviceIoctl): get-address fills a 32-bit address, is-enabled and
//     MAV fill one byte.
#pragma once

inline constexpr const char* kGpibDevicePath = "/dev/gpib0";

inline constexpr unsigned long kGpibSetPrimaryAddress = 0x40046101;  // address 0 .. 31
inline constexpr unsigned long kGpibGetPrimaryAddress = 0x80046102;  // reads int32
inline constexpr unsigned long kGpibGenerateSrq = 0x6103;            // asserts SRQ
inline constexpr unsigned long kGpibSetStatusByte = 0x40016105;      // serial poll byte
inline constexpr unsigned long kGpibEnable = 0x40016106;
inline constexpr unsigned long kGpibDisable = 0x40016107;
inline constexpr unsigned long kGpibIsEnabled = 0x40046108;  // reads a byte, 1 = enabled
inline constexpr unsigned long kGpibGetMav = 0x8004610b;     // reads a byte, 1 = pending
inline constexpr unsigned long kGpibClearDevice = 0x610c;

// The highest primary address a GPIB device can take.
inline constexpr int kGpibMaxPrimaryAddress = 31;
