// The simulated FPGA's register file (see fpga_model.h).
#include "sim/fpga_model.h"

#include <cerrno>
#include <chrono>

#include "devices/board_devices.h"
#include "devices/fpga_registers.h"

namespace sim {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

FpgaModel::FpgaModel(TimeSource now)
    : now_(now ? std::move(now) : TimeSource(SystemSeconds)), words_(kFpgaWindowLength / 4, 0) {}

void FpgaModel::SetInterruptSink(InterruptSink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_ = std::move(sink);
}

void FpgaModel::SetI2cBridge(std::shared_ptr<I2cBridgeTarget> bridge) {
  std::lock_guard<std::mutex> lock(mutex_);
  bridge_ = std::move(bridge);
}

uint32_t FpgaModel::NewlyActive(uint32_t before) const {
  const uint32_t active = pending_ & ~words_[kFpgaInterruptMask / 4];
  return active & ~before;
}

void FpgaModel::RaiseInterrupt(uint32_t sources) {
  InterruptSink sink;
  uint32_t fired = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t before = pending_ & ~words_[kFpgaInterruptMask / 4];
    pending_ |= sources;
    fired = NewlyActive(before);
    sink = sink_;
  }
  // Outside the lock: the sink may be another model that reads this one.
  if (fired != 0 && sink) sink(fired);
}

uint32_t FpgaModel::Peek(uint32_t offset) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return offset < kFpgaWindowLength && offset % 4 == 0 ? ReadLocked(offset) : 0;
}

uint32_t FpgaModel::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_;
}

uint64_t FpgaModel::DelayTicks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint64_t>(words_[kFpgaDelayTimerHigh / 4]) << 32 |
         words_[kFpgaDelayTimerLow / 4];
}

int64_t FpgaModel::TriggerPulses(std::chrono::system_clock::time_point* last) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last != nullptr) *last = last_trigger_pulse_;
  return trigger_pulses_;
}

int FpgaModel::ResetPulses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reset_pulses_;
}

bool FpgaModel::FanOn() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return (words_[kFpgaControl / 4] & kFpgaControlFan) != 0;
}

int FpgaModel::MapWindow(uint64_t, uint64_t base, size_t length) {
  return base == kFpgaWindowBase && length <= kFpgaWindowLength ? 0 : -EINVAL;
}

int FpgaModel::RegisterRead(uint64_t, uint32_t offset, unsigned width, uint32_t* value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t word = ReadLocked(offset & ~3u);
  // A 16-bit access sees its half of the word (little-endian, as on the board).
  *value = width == 4 ? word : (word >> (8 * (offset & 2))) & 0xFFFF;
  return 0;
}

int FpgaModel::RegisterWrite(uint64_t, uint32_t offset, unsigned width, uint32_t value) {
  InterruptSink sink;
  uint32_t fired = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t aligned = offset & ~3u;
    if (width != 4) {
      const unsigned shift = 8 * (offset & 2);
      const uint32_t old = ReadLocked(aligned);
      value = (old & ~(0xFFFFu << shift)) | ((value & 0xFFFF) << shift);
    }
    if (aligned == kFpgaI2cBridge) return BridgeLocked(value);
    fired = WriteLocked(aligned, value);
    sink = sink_;
  }
  if (fired != 0 && sink) sink(fired);
  return 0;
}

int FpgaModel::BridgeLocked(uint32_t command) {
  // The bridge's target never calls back into the FPGA, so it runs under its lock:
  // one transfer at a time, as on the one bridge of the board.
  uint8_t data = 0xFF;
  if (bridge_) {
    const int result = bridge_->Transfer(command, &data);
    if (result != 0) return result;
  }
  words_[kFpgaI2cBridge / 4] = BridgeIsRead(command) ? (command & ~0xFFu) | data : command;
  return 0;
}

int64_t FpgaModel::Now() const { return now_() + clock_offset_; }

uint32_t FpgaModel::ReadLocked(uint32_t offset) const {
  switch (offset) {
    case kFpgaInterruptAck:
      return pending_;
    case kFpgaClockTime: {
      const int64_t now = Now();
      const int64_t seconds = now - FloorDiv(now, kSecondsPerDay) * kSecondsPerDay;
      return clock_flags_ | EncodeClockTime(static_cast<int>(seconds / 3600),
                                            static_cast<int>(seconds / 60 % 60),
                                            static_cast<int>(seconds % 60));
    }
    case kFpgaClockDate: {
      const std::chrono::year_month_day date{
          std::chrono::sys_days{std::chrono::days{FloorDiv(Now(), kSecondsPerDay)}}};
      return EncodeClockDate(static_cast<int>(date.year()) % 100 + 2000,
                             static_cast<int>(static_cast<unsigned>(date.month())),
                             static_cast<int>(static_cast<unsigned>(date.day())));
    }
    default:
      return words_[offset / 4];
  }
}

uint32_t FpgaModel::WriteLocked(uint32_t offset, uint32_t value) {
  const uint32_t before = pending_ & ~words_[kFpgaInterruptMask / 4];
  const int64_t now = Now();
  const int64_t day = FloorDiv(now, kSecondsPerDay);
  switch (offset) {
    case kFpgaInterruptAck:
      pending_ &= ~value;
      return 0;
    case kFpgaTriggerOutputPulse:
      // A non-zero write is one pulse of the trigger output (the register defaults
      // write 0 here and pulse nothing).
      words_[offset / 4] = value;
      if (value != 0) {
        ++trigger_pulses_;
        last_trigger_pulse_ = std::chrono::system_clock::now();
      }
      return 0;
    case kFpgaInterruptMask:
      words_[offset / 4] = value;
      return NewlyActive(before);
    case kFpgaCardReset:
      if (value == 0) {
        reset_asserted_ = true;
      } else if (reset_asserted_) {
        reset_asserted_ = false;
        ++reset_pulses_;
      }
      words_[offset / 4] = value;
      return 0;
    case kFpgaClockTime: {
      int hour = 0, minute = 0, second = 0;
      DecodeClockTime(value, &hour, &minute, &second);
      clock_flags_ = value & kFpgaClockFlags;
      // Fields a real clock chip would not hold leave the time as it was.
      if (hour > 23 || minute > 59 || second > 59) return 0;
      clock_offset_ += day * kSecondsPerDay + hour * 3600 + minute * 60 + second - now;
      return 0;
    }
    case kFpgaClockDate: {
      int year = 0, month = 0, day_of_month = 0;
      DecodeClockDate(value, &year, &month, &day_of_month);
      const std::chrono::year_month_day date{std::chrono::year{year},
                                             std::chrono::month{static_cast<unsigned>(month)},
                                             std::chrono::day{static_cast<unsigned>(day_of_month)}};
      if (!date.ok()) return 0;
      const int64_t new_day = std::chrono::sys_days{date}.time_since_epoch().count();
      clock_offset_ += (new_day - day) * kSecondsPerDay;
      return 0;
    }
    default:
      words_[offset / 4] = value;
      return 0;
  }
}

}  // namespace sim
