// GPIB device operations: the requests the controller and the GPIB server make of the
// GPIB device driver ("/dev/gpib0"): primary address, serial poll status byte, service
// request, interface enable, message-available test and device clear. They share one
// process-wide control descriptor, opened on first use; the stored address and enable
// settings live under "/mnt/nonv/config/comm/gpib".
//
// Results follow the firmware's rule: 0 (or the value asked for) on success, -1 on
// failure, after a diagnostic line.
#pragma once

#include <cstdint>
#include <string>

#include "devices/gpib_requests.h"

inline constexpr const char* kGpibAddressSetting = "/mnt/nonv/config/comm/gpib/paddress";
inline constexpr const char* kGpibEnableSetting = "/mnt/nonv/config/comm/gpib/enable";

// Opens the device unless open, then sets the stored primary address (1 when none is
// stored or the stored text is not a number). Returns SetGPIBPrimaryAddress's result,
// or -1 when the device cannot be opened.
int GPIBDevInit();
// Opens the device unless open, leaving its address alone. 0 or -1.
int GPIBDevInitLeaveAddr();
// Closes the control descriptor; the next operation opens the device again.
void GPIBDevClose();

// The device's primary address; when the device cannot tell, the stored one, else 1.
int GetGPIBPrimaryAddress();
// Sets the address (0 .. 31, else -1 and nothing changes), stores it and publishes
// the instrument's GPIB resource string.
int SetGPIBPrimaryAddress(int address);

int SetGPIBStatusByte(uint8_t status_byte);
int GenerateSRQ();

// 1 enables, 0 disables the GPIB interface, and the choice is stored; any other
// value is refused (-1). A refused request stores nothing.
int EnableGPIB(int value);
// 1 when the device reports the interface enabled, else 0 (also when it cannot tell).
int IsGPIBEnabled();

// Whether output is pending on the bus: *pending 0 or 1, result 0; -1 when the
// request fails or the device answers something else (*pending is then 0).
int GetGPIBMAV(int* pending);

int ClearGPIBDevice();

// The VISA resource string of a primary address: "GPIB::<address>::INSTR".
std::string GpibResourceString(int address);
// Whoever keeps the instrument's identity receives the resource string each time an
// address is set. Null: nobody is told.
using GpibResourcePublisher = void (*)(const char* resource);
void SetGpibResourcePublisher(GpibResourcePublisher publisher);
