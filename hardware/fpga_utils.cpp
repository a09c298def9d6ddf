// FPGA register and local-bus access (see fpga_utils.h). The window and the xbus
// descriptor are opened lazily under one lock each, so the monitor thread and command
// execution never race on the first use; accesses after that go straight through.
#include "hardware/fpga_utils.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "hardware/delay.h"
#include "platform/device.h"
#include "scpi/error_codes.h"

namespace {

// The xbus descriptor: 0 before the first open, -1 after a failed one.
std::mutex xbus_mutex;
std::atomic<int> xbus_fd{0};

// The register window: state 0 before the first attempt, 1 mapped, negative after a
// failed attempt (later accesses then fail quietly).
std::mutex window_mutex;
std::unique_ptr<platform::RegisterWindow> window;
int window_state = 0;

std::atomic<bool> trace{false};
// Follows the EPROM data port reads, for the local-bus read trace only.
std::atomic<int> prom_address{0};

// The mapped window, mapping it on first use. Null with the error in *error.
platform::RegisterWindow* Window(const char* caller, int* error) {
  std::lock_guard<std::mutex> lock(window_mutex);
  if (window_state > 0) return window.get();
  if (window_state < 0) {
    *error = err::kFpgaIoError;
    return nullptr;
  }
  platform::WindowFailure failure = platform::WindowFailure::kNone;
  window = platform::OpenRegisterWindow(kFpgaMemoryPath, kFpgaWindowBase, kFpgaWindowLength,
                                        &failure);
  if (window) {
    window_state = 1;
    return window.get();
  }
  std::perror(failure == platform::WindowFailure::kOpen ? "peekpoke map" : "mmap failed");
  window_state = err::kFpgaIoError;
  *error = err::kFpgaIoError;
  std::printf("%s() -- map FAILED (%d)\n", caller, err::kFpgaIoError);
  return nullptr;
}

// Byte requests at address, address + step, ... for `count` bytes, handed to the
// driver as one sequence (on the virtual chassis, one exchange with the device
// server instead of one per byte). Reads fill `bytes`; writes send them. Each byte
// attempted is traced as a single request would be; the first failure ends it.
constexpr int kSequenceChunk = 64;

int LocalBusBytes(int slot, uint32_t address, uint32_t step, uint8_t* bytes, int count,
                  bool write) {
  if (count <= 0) return 0;
  if (OpenXbusDriver() != 0) return err::kFpgaIoError;
  const uint32_t command = write ? kXbusCommandWrite : kXbusCommandRead;
  for (int first = 0; first < count; first += kSequenceChunk) {
    const int chunk = count - first < kSequenceChunk ? count - first : kSequenceChunk;
    XbusByteRequest blocks[kSequenceChunk];
    for (int i = 0; i < chunk; ++i) {
      blocks[i] = XbusByteRequest{};
      blocks[i].words[0] = command;
      blocks[i].words[1] = XbusBusAddress(slot, address + step * static_cast<uint32_t>(first + i));
      blocks[i].words[2] = bytes[first + i];
    }
    size_t done = 0;
    const int result = platform::DeviceIoctlSequence(
        xbus_fd.load(), write ? kXbusWriteByte : kXbusReadByte, blocks, sizeof blocks[0],
        static_cast<size_t>(chunk), &done);
    const int attempted = result == 0 ? chunk : static_cast<int>(done) + 1;
    for (int i = 0; i < attempted; ++i) {
      const int ioctl_result = i < static_cast<int>(done) ? 0 : -1;
      const uint32_t bus_address = blocks[i].words[1];
      uint8_t& byte = bytes[first + i];
      if (write) {
        if (trace.load()) {
          std::printf("WriteByteToLocalBus: Slot = %d, Addr = 0x%x, Data = 0x%x, Error = %d\n",
                      slot, bus_address, byte, ioctl_result);
        }
        continue;
      }
      // A refused read leaves the byte as the driver returned it.
      byte = static_cast<uint8_t>(blocks[i].words[2]);
      switch ((address + step * static_cast<uint32_t>(first + i)) & 0xFFF) {
        case 0x201: prom_address.store(-1); break;
        case 0x203:
        case 0x301: prom_address.fetch_add(1); break;
        default: break;
      }
      if (trace.load()) {
        std::printf(
            "ReadByteFromLocalBus: Slot = %d, Addr = 0x%x, Data = 0x%x, PromAddr = 0x%x, "
            "Error = %d\n",
            slot, bus_address, byte, static_cast<unsigned>(prom_address.load()), ioctl_result);
      }
    }
    if (result != 0) return err::kFpgaIoError;
  }
  return 0;
}

int ModifyMask(uint32_t set, uint32_t clear) {
  uint32_t mask = 0;
  int result = ReadFPGAregister(kFpgaInterruptMask, &mask);
  if (result != 0) return result;
  return WriteFPGAregister(kFpgaInterruptMask, (mask | set) & ~clear);
}

// Writes the time word (flag bit set, the old flag byte kept), then the date word.
// Without a new time the current one is written back.
int WriteClockRegisters(const uint32_t* new_time, uint32_t date) {
  uint32_t old_time = 0;
  int result = ReadFPGAregister(kFpgaClockTime, &old_time);
  if (result != 0) return result;
  uint32_t time = new_time != nullptr ? *new_time : old_time & ~kFpgaClockFlags;
  time |= kFpgaClockWritten | (old_time & kFpgaClockFlags);
  result = WriteFPGAregister(kFpgaClockTime, time);
  if (result != 0) return result;
  return WriteFPGAregister(kFpgaClockDate, date);
}

bool ValidDate(int year, int month, int day) {
  return year >= 2000 && year <= 2099 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}
bool ValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

}  // namespace

int OpenXbusDriver() {
  if (xbus_fd.load() > 0) return 0;
  std::lock_guard<std::mutex> lock(xbus_mutex);
  if (xbus_fd.load() > 0) return 0;
  const int fd = platform::DeviceOpen(kXbusDevicePath, O_WRONLY);
  if (fd < 0) {
    std::fprintf(stderr, "fpga_utils.c:  OpenXbusDriver: Open failed: '%s'\n", kXbusDevicePath);
    xbus_fd.store(-1);
    return -1;
  }
  xbus_fd.store(fd);
  return 0;
}

int XbusDescriptor() {
  const int fd = xbus_fd.load();
  return fd > 0 ? fd : -1;
}

int WriteFPGAregister(uint32_t offset, uint32_t value) {
  int error = 0;
  platform::RegisterWindow* registers = Window("WriteFPGAregister", &error);
  if (registers == nullptr) return error;
  if (trace.load()) {
    std::printf(" - FPGA Write: Address = 0x%4x, Data = 0x%8x \n", offset, value);
  }
  if (registers->Write32(offset, value) != 0) {
    std::printf("WriteFPGAregister() -- write to address %08lX failed (%d)\n",
                static_cast<unsigned long>(offset), err::kFpgaIoError);
    return err::kFpgaIoError;
  }
  return 0;
}

int ReadFPGAregister(uint32_t offset, uint32_t* value) {
  int error = 0;
  platform::RegisterWindow* registers = Window("ReadFPGAregister", &error);
  if (registers == nullptr) return error;
  if (registers->Read32(offset, value) != 0) {
    std::printf("ReadFPGAregister() -- read from address %08lX failed (%d)\n",
                static_cast<unsigned long>(offset), err::kFpgaIoError);
    return err::kFpgaIoError;
  }
  if (trace.load()) {
    std::printf(" - FPGA Read: Address = 0x%4x, Data = 0x%8x \n", offset, *value);
  }
  return 0;
}

int WriteByteToLocalBus(int slot, uint32_t address, uint8_t byte) {
  return LocalBusBytes(slot, address, 0, &byte, 1, true);
}

int ReadByteFromLocalBus(int slot, uint32_t address, uint8_t* byte) {
  return LocalBusBytes(slot, address, 0, byte, 1, false);
}

int WriteBytesToLocalBus(int slot, uint32_t address, const uint8_t* bytes, int count) {
  // A write only reads the bytes.
  return LocalBusBytes(slot, address, 2, const_cast<uint8_t*>(bytes), count, true);
}

int ReadBytesFromLocalBus(int slot, uint32_t address, uint8_t* bytes, int count) {
  return LocalBusBytes(slot, address, 2, bytes, count, false);
}

int ReadBytesFromLocalBusPort(int slot, uint32_t address, uint8_t* bytes, int count) {
  return LocalBusBytes(slot, address, 0, bytes, count, false);
}

uint32_t SlotInterruptBit(int slot) {
  if (slot < 1 || slot > 12) return 0;
  return slot > 5 ? 1u << (slot - 1) : 1u << (5 - slot);
}

int MaskInterrupts(uint32_t bits) { return ModifyMask(bits, 0); }
int UnmaskInterrupts(uint32_t bits) { return ModifyMask(0, bits); }
int AcknowledgeInterrupts(uint32_t bits) { return WriteFPGAregister(kFpgaInterruptAck, bits); }
int MaskAllInterrupts() { return MaskInterrupts(0xFFFFFFFF); }
int UnmaskAllInterrupts() { return UnmaskInterrupts(0xFFFFFFFF); }
int AcknowledgeAllInterrupts() { return AcknowledgeInterrupts(0xFFFFFFFF); }

int SetFPGARegisterDefaults() {
  struct Block {
    uint32_t first;
    int count;
    uint32_t value;
  };
  static constexpr Block kBlocks[] = {
      {kFpgaClearBlock, 16, 0},
      {kFpgaTimingBlock, 15, 0},
      {kFpgaTriggerBlock, 16, 0},
      {kFpgaRouteBlock, 16, 1},
  };
  int first_failure = 0;
  for (const Block& block : kBlocks) {
    for (int i = 0; i < block.count; ++i) {
      const uint32_t offset = block.first + 4 * static_cast<uint32_t>(i);
      uint32_t value = block.value;
      if (offset == 0x1004 || offset == 0x100C || offset == 0x1010) value = 0x8000;
      const int result = WriteFPGAregister(offset, value);
      if (result != 0 && first_failure == 0) first_failure = result;
    }
  }
  // The control bit's step is tried twice and its result does not count.
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t control = 0;
    if (ReadFPGAregister(kFpgaControl, &control) == 0 &&
        WriteFPGAregister(kFpgaControl, control | kFpgaControlDefault) == 0) {
      break;
    }
  }
  return first_failure;
}

int SetDelayTimer(double seconds) {
  const double ticks = seconds / 0.00001;
  // The whole count is rounded once and then split, so a remainder that rounds up to
  // 2^32 carries into the high word instead of wrapping the low one.
  if (!(ticks >= 0) || ticks >= 18446744073709549568.0) return err::kDataOutOfRange;
  const auto total = static_cast<uint64_t>(ticks + 0.5);
  int result = WriteFPGAregister(kFpgaDelayTimerLow, static_cast<uint32_t>(total));
  if (result == 0) result = WriteFPGAregister(kFpgaDelayTimerHigh, static_cast<uint32_t>(total >> 32));
  return result;
}

int SetPeriodRegister(double seconds) {
  if (!(seconds >= 0) || seconds >= 4295.0) return err::kDataOutOfRange;
  const auto whole = static_cast<uint32_t>(seconds);
  return WriteFPGAregister(kFpgaPeriod, whole * 1000000u);
}

int PulseCardReset() {
  constexpr uint32_t kPulseMicroseconds = 100000;
  int result = WriteFPGAregister(kFpgaCardReset, 0);
  DelayMicroseconds(kPulseMicroseconds);
  const int release = WriteFPGAregister(kFpgaCardReset, 0xFFFF);
  DelayMicroseconds(kPulseMicroseconds);
  return result != 0 ? result : release;
}

int GetFPGADate(int* year, int* month, int* day) {
  uint32_t date = 0;
  const int result = ReadFPGAregister(kFpgaClockDate, &date);
  if (result != 0) return result;
  DecodeClockDate(date, year, month, day);
  return 0;
}

int GetFPGATime(int* hour, int* minute, int* second) {
  uint32_t time = 0;
  const int result = ReadFPGAregister(kFpgaClockTime, &time);
  if (result != 0) return result;
  DecodeClockTime(time, hour, minute, second);
  return 0;
}

int SetFPGADate(int year, int month, int day) {
  if (!ValidDate(year, month, day)) return err::kDataOutOfRange;
  return WriteClockRegisters(nullptr, EncodeClockDate(year, month, day));
}

int SetFPGATime(int hour, int minute, int second) {
  if (!ValidTime(hour, minute, second)) return err::kDataOutOfRange;
  uint32_t date = 0;
  const int result = ReadFPGAregister(kFpgaClockDate, &date);
  if (result != 0) return result;
  const uint32_t time = EncodeClockTime(hour, minute, second);
  return WriteClockRegisters(&time, date);
}

void SetFpgaTrace(bool on) { trace.store(on); }
bool FpgaTrace() { return trace.load(); }

int WaitXbusEvent(uint32_t* code) {
  if (OpenXbusDriver() != 0) return err::kFpgaIoError;
  XbusEventRequest request{};
  if constexpr (sizeof(void*) == sizeof(uint32_t)) {
    request.request[7] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(request.event));
  }
  if (platform::DeviceIoctl(xbus_fd.load(), kXbusWaitEvent, &request, sizeof request) != 0) {
    return err::kFpgaIoError;
  }
  *code = request.event[kXbusEventCodeWord];
  return 0;
}

void ResetFpgaAccessForTest() {
  {
    std::lock_guard<std::mutex> lock(window_mutex);
    window.reset();
    window_state = 0;
  }
  std::lock_guard<std::mutex> lock(xbus_mutex);
  if (xbus_fd.load() > 0) platform::DeviceClose(xbus_fd.load());
  xbus_fd.store(0);
  prom_address.store(0);
  trace.store(false);
}
