// The two fan loops and their settings (see fans.h).
#include "hardware/fans.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "core/stored_file.h"
#include "devices/board_devices.h"
#include "devices/fpga_registers.h"
#include "hardware/fpga_utils.h"
#include "hardware/sensors.h"
#include "platform/device.h"

namespace {

constexpr const char* kSource = "_exec/fan_control";
constexpr std::size_t kThresholdCharacters = 7;
constexpr int kGpibReadingPairs = 10;

std::atomic<bool> fan_override{false};

// The bus-board fan's last written state: -1 before the first write.
std::mutex gpib_fan_lock;
int gpib_fan_state = -1;

// Signalled by the stop; -1 before PrepareFanLoopWake.
std::atomic<int> period_wake_fd{-1};

void SleepOnePeriod() {
  pollfd wake{.fd = period_wake_fd.load(), .events = POLLIN, .revents = 0};
  if (IsRunning()) poll(&wake, wake.fd >= 0 ? 1 : 0, kFanPeriodSeconds * 1000);
}
std::atomic<FanPeriodWait> period_wait{SleepOnePeriod};

int32_t StoredThreshold(const char* fixed_path, int32_t fallback) {
  std::string text;
  if (ReadStoredFile(fixed_path, &text) != StoredFileRead::kRead) return fallback;
  return ParseFanThreshold(text, fallback);
}

int StoreThreshold(const char* fixed_path, int32_t degrees, const char* caller) {
  if (degrees > kLargestFanThreshold) {
    diag_error_line(kSource, caller, __LINE__, "threshold too large: %d", degrees);
    return -1;
  }
  return ReplaceStoredFile(fixed_path, std::to_string(degrees)) == 0 ? 0 : -1;
}

int FanRequest(int fan_fd, unsigned long request, const char* name) {
  if (platform::DeviceIoctlValue(fan_fd, request, 0) == 0) return 0;
  std::perror(name);
  return -1;
}

void* ThreadResult(int result) { return reinterpret_cast<void*>(static_cast<intptr_t>(result)); }

}  // namespace

namespace {
// What the chassis fans were last told: -1 nothing yet, 0 automatic, 1 forced on.
std::atomic<int> chassis_fans{-1};
}  // namespace

int FansOn(int fan_fd) {
  const int result = FanRequest(fan_fd, kFansOnRequest, "FansOn");
  if (result == 0) chassis_fans = 1;
  return result;
}
int FansAuto(int fan_fd) {
  const int result = FanRequest(fan_fd, kFansAutoRequest, "FansAuto");
  if (result == 0) chassis_fans = 0;
  return result;
}
int ChassisFansState() { return chassis_fans; }
int GpibFanState() {
  std::lock_guard<std::mutex> hold(gpib_fan_lock);
  return gpib_fan_state;
}

void SetFanOverride(bool on) { fan_override = on; }
bool FanOverride() { return fan_override; }

int32_t ParseFanThreshold(std::string_view text, int32_t fallback) {
  text = text.substr(0, kThresholdCharacters);
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative || (at < text.size() && text[at] == '+')) ++at;
  if (at >= text.size() || text[at] < '0' || text[at] > '9') return fallback;
  int32_t value = 0;  // seven characters cannot overflow
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
  }
  return negative ? -value : value;
}

int32_t FanTempThreshold() { return StoredThreshold(kFanThresholdFile, kDefaultFanThreshold); }
int32_t GpibFanTempThreshold() {
  return StoredThreshold(kGpibFanThresholdFile, kDefaultGpibFanThreshold);
}

int SetFanTempThreshold(int32_t degrees) {
  return StoreThreshold(kFanThresholdFile, degrees, "SetFanTempThreshold");
}
int SetGpibFanTempThreshold(int32_t degrees) {
  return StoreThreshold(kGpibFanThresholdFile, degrees, "SetGpibFanTempThreshold");
}

int FanControlStep(int fan_fd) {
  if (fan_override) {
    FansOn(fan_fd);  // reported; the override goes on asking every period
    return 0;
  }
  const int32_t threshold = FanTempThreshold();
  float t1 = 0;
  float t2 = 0;
  // A failed sensor keeps what its reading summed before the failure.
  if (cpu_board_tempsens_get_reading(1, &t1) != 0) {
    diag_error_line(kSource, "FanControlLoop", __LINE__, "read temperature 1 failed");
  }
  if (cpu_board_tempsens_get_reading(2, &t2) != 0) {
    diag_error_line(kSource, "FanControlLoop", __LINE__, "read temperature 2 failed");
  }
  const float mean = (t1 + t2) / 2;
  if (mean > static_cast<float>(threshold)) return FansOn(fan_fd);
  if (mean < static_cast<float>(threshold - kFanHysteresis)) return FansAuto(fan_fd);
  return 0;
}

int SetGpibFan(bool on) {
  std::lock_guard<std::mutex> hold(gpib_fan_lock);
  if (gpib_fan_state == static_cast<int>(on)) return 0;
  uint32_t control = 0;
  int result = ReadFPGAregister(kFpgaControl, &control);
  if (result != 0) return result;
  control = on ? control | kFpgaControlFan : control & ~kFpgaControlFan;
  result = WriteFPGAregister(kFpgaControl, control);
  if (result == 0) gpib_fan_state = on;
  return result;
}

void GpibFanControlStep() {
  const int32_t threshold = GpibFanTempThreshold();
  float sum = 0;
  for (int i = 0; i < kGpibReadingPairs; ++i) {
    float t1 = 0;
    float t2 = 0;
    if (cpu_board_tempsens_get_reading(1, &t1) != 0 || cpu_board_tempsens_get_reading(2, &t2) != 0) {
      diag_error_line(kSource, "GpibFanControlLoop", __LINE__,
                      "Failed to get temperature reading\n");
      return;
    }
    sum += (t1 + t2) / 2;
  }
  const float mean = sum / kGpibReadingPairs;
  if (mean > static_cast<float>(threshold)) {
    if (SetGpibFan(true) != 0) {
      diag_error_line(kSource, "GpibFanControlLoop", __LINE__, "Failed to turn GPIB fan on\n");
    }
  } else if (mean < static_cast<float>(threshold - kFanHysteresis)) {
    if (SetGpibFan(false) != 0) {
      diag_error_line(kSource, "GpibFanControlLoop", __LINE__, "Failed to turn GPIB fan off\n");
    }
  }
}

void ResetFansForTest() {
  std::lock_guard<std::mutex> hold(gpib_fan_lock);
  gpib_fan_state = -1;
  fan_override = false;
}

int PrepareFanLoopWake() {
  if (period_wake_fd.load() >= 0) return 0;
  const int fd = eventfd(0, EFD_CLOEXEC);
  if (fd < 0 || RegisterWakeFd(fd) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  period_wake_fd = fd;
  return 0;
}

void SetFanPeriodWaitForTest(FanPeriodWait wait) {
  period_wait = wait != nullptr ? wait : SleepOnePeriod;
}

void* FanControlLoop(void*) {
  const int fan_fd = platform::DeviceOpen(kFanDevicePath, O_RDWR);
  if (fan_fd < 0) {
    diag_error_line(kSource, "FanControlLoop", __LINE__, "open fan device failed");
    return ThreadResult(-1);
  }
  int result = 0;
  while (IsRunning()) {
    if (FanControlStep(fan_fd) != 0) {
      result = -1;
      break;
    }
    period_wait.load()();
  }
  platform::DeviceClose(fan_fd);
  return ThreadResult(result);
}

void* GpibFanControlLoop(void*) {
  if (SetGpibFan(false) != 0) {
    diag_error_line(kSource, "GpibFanControlLoop", __LINE__, "Failed to turn GPIB fan off\n");
  }
  while (IsRunning()) {
    GpibFanControlStep();
    period_wait.load()();
  }
  return ThreadResult(0);
}
