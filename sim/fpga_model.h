// The simulated FPGA: the chassis register file behind the register window that the
// firmware maps from "/dev/mem". Registers the firmware only stores and reads back
// (trigger routing, timers, the period) are plain words; these act as the hardware
// does:
//   - 0x4014 reads the pending interrupt sources, and a written 1 bit clears one;
//   - 0x401C is the interrupt mask: a 1 bit holds its source off;
//   - 0x400C is the cards' reset line: a 0 asserts it, a non-zero write releases it,
//     and each assert-then-release is one reset pulse;
//   - 0x2000 is the trigger output: each non-zero write is one pulse, counted;
//   - 0x4000 is the I2C bridge: each written command word is one byte transfer to the
//     bridge's target; a read command leaves the byte read in the register's low byte;
//   - 0xD004/0xD008 are a running real-time clock in BCD; writing either sets that
//     part of the clock and it runs on from there. The time register's top byte holds
//     what was last written there.
// When a source is pending and unmasked the interrupt line goes to the sink (the
// chassis bus driver turns it into an event).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/device_model.h"

namespace sim {

// What the FPGA's I2C bridge reaches. `command` is the 32-bit word written to the
// bridge register; a read leaves the byte read in *data. 0, or a negated errno, which
// makes the register write fail as a broken bridge would.
class I2cBridgeTarget {
 public:
  virtual ~I2cBridgeTarget() = default;
  virtual int Transfer(uint32_t command, uint8_t* data) = 0;
};

class FpgaModel final : public platform::DeviceModel {
 public:
  // Seconds since 1970-01-01 UTC; the clock runs on this source.
  using TimeSource = std::function<int64_t()>;
  // Called with the pending, unmasked sources whenever that set gains a source.
  using InterruptSink = std::function<void(uint32_t sources)>;

  explicit FpgaModel(TimeSource now = nullptr);

  void SetInterruptSink(InterruptSink sink);
  // The bridge's target; without one, bridge commands reach nothing (a read gives 0xFF).
  void SetI2cBridge(std::shared_ptr<I2cBridgeTarget> bridge);
  // Sources (card slot bits, the chassis bit) become pending.
  void RaiseInterrupt(uint32_t sources);

  // Readout for people and tests.
  uint32_t Peek(uint32_t offset) const;
  uint32_t Pending() const;
  uint64_t DelayTicks() const;
  int ResetPulses() const;
  // Pulses of the trigger output since start, and when the last one was (when asked).
  int64_t TriggerPulses(std::chrono::system_clock::time_point* last = nullptr) const;
  bool FanOn() const;

  int MapWindow(uint64_t open_id, uint64_t base, size_t length) override;
  int RegisterRead(uint64_t open_id, uint32_t offset, unsigned width, uint32_t* value) override;
  int RegisterWrite(uint64_t open_id, uint32_t offset, unsigned width, uint32_t value) override;

 private:
  int64_t Now() const;  // the clock's current time, seconds since the epoch
  uint32_t ReadLocked(uint32_t offset) const;
  // Returns the sources to hand to the sink (0: none).
  uint32_t WriteLocked(uint32_t offset, uint32_t value);
  uint32_t NewlyActive(uint32_t before) const;
  // One bridge transfer. 0, or the target's negated errno.
  int BridgeLocked(uint32_t command);

  TimeSource now_;
  InterruptSink sink_;
  std::shared_ptr<I2cBridgeTarget> bridge_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> words_;
  uint32_t pending_ = 0;
  int64_t clock_offset_ = 0;  // added to the time source
  uint32_t clock_flags_ = 0;
  bool reset_asserted_ = false;
  int reset_pulses_ = 0;
  int64_t trigger_pulses_ = 0;
  std::chrono::system_clock::time_point last_trigger_pulse_{};
};

}  // namespace sim
