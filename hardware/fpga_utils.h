// FPGA registers and the cards' local bus: the controller's two ways to the chassis
// hardware. FPGA registers are 32-bit words of a memory window mapped once on first
// use; card registers are bytes reached through the chassis bus driver ("/dev/xbus0"),
// addressed by slot. Every function returns 0 or a negative result code; a failed
// driver or mapping step is err::kFpgaIoError. With the trace switch on, every
// register and local-bus access prints a trace line on standard output.
//
// The xbus descriptor and the window are shared by every thread of the controller
// (command threads, the event monitor, the fan loop); opening and mapping happen once,
// under a lock, and each access after that is a single request.
#pragma once

#include <cstdint>

#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"

// Opens the xbus driver write-only unless it is open. 0, or -1 after an error line on
// standard error; a later call tries the open again.
int OpenXbusDriver();
// The driver's descriptor after a successful OpenXbusDriver, else -1.
int XbusDescriptor();

// A 32-bit FPGA register at `offset` in the window.
int WriteFPGAregister(uint32_t offset, uint32_t value);
int ReadFPGAregister(uint32_t offset, uint32_t* value);

// One byte register of the card in `slot` (1..12; 0 is the chassis itself).
int WriteByteToLocalBus(int slot, uint32_t address, uint8_t byte);
int ReadByteFromLocalBus(int slot, uint32_t address, uint8_t* byte);
// `count` bytes at address, address + 2, address + 4, ...; stop at the first error.
int WriteBytesToLocalBus(int slot, uint32_t address, const uint8_t* bytes, int count);
int ReadBytesFromLocalBus(int slot, uint32_t address, uint8_t* bytes, int count);
// `count` bytes all read from the same address (a data port, such as a card EPROM's).
int ReadBytesFromLocalBusPort(int slot, uint32_t address, uint8_t* bytes, int count);

// The interrupt and slot bit of the card in `slot` (1..12): slots 1..5 are bits 4..0,
// slots 6..12 bits 5..11. 0 for any other slot.
uint32_t SlotInterruptBit(int slot);
// Interrupt mask (a set bit holds the source off) and acknowledge (clears pending).
int MaskInterrupts(uint32_t bits);
int UnmaskInterrupts(uint32_t bits);
int AcknowledgeInterrupts(uint32_t bits);
int MaskAllInterrupts();
int UnmaskAllInterrupts();
int AcknowledgeAllInterrupts();

// Writes the register defaults the instrument reset relies on; every register is
// written even after a failure, and the first failure is the result.
int SetFPGARegisterDefaults();
// The delay timer, in seconds (10 us ticks). -222 for a negative or too large value.
int SetDelayTimer(double seconds);
// The period register, from whole seconds (microseconds in the register); -222 when
// the microseconds do not fit the register.
int SetPeriodRegister(double seconds);
// The instrument reset's pulse on the cards' reset line (200 ms in all).
int PulseCardReset();

// The FPGA's real-time clock (BCD registers). Years are four-digit (2000..2099); the
// set forms refuse a field out of range with -222 and write nothing.
int GetFPGADate(int* year, int* month, int* day);
int SetFPGADate(int year, int month, int day);
int GetFPGATime(int* hour, int* minute, int* second);
int SetFPGATime(int hour, int minute, int second);

// The trace switch of the register and local-bus accesses.
void SetFpgaTrace(bool on);
bool FpgaTrace();

// Waits for the next FPGA event from the xbus driver and stores its code. 0, or
// err::kFpgaIoError when the request fails (errno tells why; EINTR on a signal).
int WaitXbusEvent(uint32_t* code);

// Unmaps the window, closes the driver and clears the trace state, so that a test
// starts from a fresh process' state.
void ResetFpgaAccessForTest();
