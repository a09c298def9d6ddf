// The FRAM chips behind the FPGA's I2C bridge and the records they keep: the
// controller board's MAC address, serial number and descriptor (chip 0), the
// backplane's analog-bus relay counters (chip 1) and the adapters' descriptors and
// relay counters (chips 2..10, adapter n on chip n + 1).
//
// Every byte crosses the bridge on its own. A write is read back and tried up to four
// times; a read is accepted when three reads in a row agree, trying up to four passes.
// A bridge error ends either at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One byte at `address` (0..2047) of chip `chip` (0..10). 0, -1 after the warning
// line when the byte did not read back or no pass agreed (the read then delivers the
// last pass's first read), -1 for a chip or address outside the chips, or the bridge's
// error.
int WriteFRAMByte(int chip, int address, uint8_t byte);
int ReadFRAMByte(int chip, int address, uint8_t* byte);
// `length` bytes from `address` on; the first failing byte ends the transfer with -1.
int WriteFRAMBytes(int chip, int address, const uint8_t* bytes, int length);
int ReadFRAMBytes(int chip, int address, uint8_t* bytes, int length);

// The MAC address. Up to five reads until one starts with the maker's OUI, a second
// apart; after five failures a random address with the OUI, which is not written to
// the FRAM. Always 0. The outcome is remembered as the address in use (see
// ReadMacAddressInUse).
int ReadFRAMMacAddr(uint8_t mac[6]);
int WriteFRAMMacAddr(const uint8_t mac[6]);
// The address a query reports. Once a read of the FRAM has found no valid address,
// the FRAM is not asked again (which would stall the caller five seconds each time):
// the answer is the address the chassis uses instead, until a valid one is written.
// Otherwise the FRAM is read as ReadFRAMMacAddr reads it. Always 0.
int ReadMacAddressInUse(uint8_t mac[6]);
// The wait between MAC read attempts; tests put their own in place. Null restores the
// one-second sleep.
using MacRetryWait = void (*)();
void SetMacRetryWaitForTest(MacRetryWait wait);
// Forgets the remembered address, as a fresh process has none.
void ForgetMacAddressForTest();

// The serial number (at most 16 characters) and the descriptor (at most 79). A field
// without its terminating zero reads as "UNPROGRAMMED". A write stores the text and
// its zero; -1 for a text longer than the field holds (nothing written).
inline constexpr std::size_t kSerialNumberLongest = 16;
inline constexpr std::size_t kDescriptorLongest = 79;
int ReadFRAMSerialNumber(std::string* text);
int WriteFRAMSerialNumber(const std::string& text);
int ReadFRAMDescriptor(std::string* text);
int WriteFRAMDescriptor(const std::string& text);

// Relay counter n of the backplane (the analog bus) and of adapter 1..9, and an
// adapter's descriptor (at most 7 characters). -1 for a counter or adapter out of range.
int ReadFRAMBackplaneRelayCounter(int n, uint32_t* count);
int WriteFRAMBackplaneRelayCounter(int n, uint32_t count);
int ReadFRAMAdapterRelayCounter(int adapter, int n, uint32_t* count);
int WriteFRAMAdapterRelayCounter(int adapter, int n, uint32_t count);
int ReadFRAMAdapterDescriptor(int adapter, std::string* text);
