// The host side of a running virtual chassis' buses: send a program message over GPIB
// or USB as the bus controller or the USB host would, read the reply, serial-poll the
// GPIB status byte and wait for a service request. The chassis is the one whose root
// CHASSIS_ROOT names; its simulated devices are reached through the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

enum class HostBus { kGpib, kUsb };

// True when `message` holds a query: a '?' outside quoted strings.
bool HoldsQuery(const std::string& message);

// Sends `message` (a line feed is added when it has no terminator) and, when it holds
// a query, waits up to `timeout_ms` for the reply, which lands in *reply with its
// line feed. 0, or -1 with errno (ETIMEDOUT when no reply came in time).
int HostSend(HostBus bus, const std::string& message, int timeout_ms, std::string* reply);

// Serial poll of the GPIB device. 0 and the status byte, or -1 with errno.
int HostSerialPoll(uint8_t* status_byte);

// Waits up to `timeout_ms` (negative: no limit) for the GPIB device to request
// service. 0, or -1 with errno (ETIMEDOUT).
int HostWaitSrq(int timeout_ms);

}  // namespace sim
