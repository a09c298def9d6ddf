// The simulated GPIB device. The instrument's node ("/dev/gpib0") is what the
// firmware opens: reads deliver the program messages the bus controller sent, writes
// queue responses for it, and the driver's nine requests act on the address, the
// serial poll status byte, the service request, the interface enable, the
// message-available test and the device clear. The bus node ("/dev/gpib0-bus") plays
// the bus controller for people and tests: a write sends a program message, a read
// takes a response, and three requests of its own make a serial poll, wait for a
// service request and send a device clear.
//
// What the driver does on the bus, as this model does it:
//   - MAV (output pending) holds while a response is written and not yet read by the
//     bus controller;
//   - a serial poll answers the status byte the firmware set, with bit 4 (MAV) also
//     set while output is pending and bit 6 (RQS) set exactly when a service request
//     is asserted, and releases the service request, as a real serial poll does;
//   - a device clear from the bus drops every unread message both ways; the
//     firmware's clear request (on *CLS) is counted and changes nothing on the bus;
//   - while the interface is disabled the bus node's transfers fail with EIO (no
//     listener answers the handshake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim/message_port.h"

namespace sim {

inline constexpr const char* kGpibBusPath = "/dev/gpib0-bus";

// Requests of the bus node.
inline constexpr unsigned long kGpibBusSerialPoll = 0x80016201;  // reads the status byte
inline constexpr unsigned long kGpibBusWaitSrq = 0x6202;         // waits for SRQ
inline constexpr unsigned long kGpibBusDeviceClear = 0x6203;

// What the model holds, for tests and the virtual chassis' readout.
struct GpibModelState {
  int address = 0;
  uint8_t status_byte = 0;  // as the firmware last set it
  bool enabled = true;
  bool srq_asserted = false;
  int srq_count = 0;       // service requests raised
  uint8_t status_at_srq = 0;  // the status byte when the last request was raised
  int clear_requests = 0;  // the firmware's clear requests
  int device_clears = 0;   // device clears from the bus
  int writes = 0;          // responses the firmware wrote
  size_t last_write_size = 0;
  uint8_t status_at_last_write = 0;  // the status byte while the last one was written
};

class GpibModel final : public MessagePort {
 public:
  GpibModel() = default;

  GpibModelState State() const;

 protected:
  int Request(Side side, unsigned long request, void* argument, size_t size,
              unsigned long value) override;
  short ExtraReadiness(Side side) override;
  void OnInstrumentWrite(size_t size) override;
  bool HoldsTalker() const override { return true; }

 private:
  int InstrumentRequest(unsigned long request, void* argument, size_t size,
                        unsigned long value);
  int BusRequest(unsigned long request, void* argument, size_t size);

  GpibModelState state_;
};

// The bus controller's side, over a descriptor of the bus node.
// Serial poll: the status byte in *status_byte; 0 or -1 with errno.
int GpibSerialPoll(int bus_fd, uint8_t* status_byte);
// Waits up to `timeout_ms` (negative: no limit) for a service request; 0, or -1 with
// errno (ETIMEDOUT).
int GpibWaitSrq(int bus_fd, int timeout_ms);
int GpibDeviceClear(int bus_fd);

}  // namespace sim
