// The LAN reset button loop and the power-fail handler (see board_signals.h).
#include "hardware/board_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "core/seam.h"
#include "devices/board_devices.h"
#include "hardware/event_log.h"
#include "platform/device.h"

namespace {

constexpr const char* kSource = "_exec/instctl";
constexpr double kShortestPress = 5.0;
constexpr double kLongestPress = 60.0;
constexpr useconds_t kFailedWaitPauseMicroseconds = 100000;
constexpr auto kPowerFailQuiet = std::chrono::seconds(1);

double MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
std::atomic<LciClock> lci_clock{MonotonicSeconds};
Seam<int()> lan_reset;

// When the last power failure was recorded; empty before the first.
std::mutex power_fail_lock;
bool power_fail_recorded = false;
std::chrono::steady_clock::time_point power_fail_at;

void* ThreadResult(int result) { return reinterpret_cast<void*>(static_cast<intptr_t>(result)); }

}  // namespace

int LciButtonEdge(LciButton* button, double now) {
  switch (button->state) {
    case 0:
      button->press_time = now;
      button->state = 1;
      return 0;
    case 1: {
      const double held = now - button->press_time;
      if (held < kShortestPress) {
        button->state = 0;  // released too soon
      } else if (held < kLongestPress) {
        const LanConfigurationReset reset = lan_reset.function();
        if (reset == nullptr || reset() != 0) {
          diag_error_line(kSource, "LCIMonitorLoop", __LINE__, "DoLCI failed");
        }
        button->state = 0;
      } else {
        diag_error_line(kSource, "LCIMonitorLoop", __LINE__,
                        "MAX push time exceeded, resyncing IRQ\n");
        button->press_time = now;
      }
      return 0;
    }
    default:
      diag_error_line(kSource, "LCIMonitorLoop", __LINE__, "default case reached");
      return -1;
  }
}

void SetLanConfigurationReset(LanConfigurationReset reset) { lan_reset.Connect(reset); }

void SetLciClockForTest(LciClock clock) { lci_clock = clock != nullptr ? clock : MonotonicSeconds; }

void* LCIMonitorLoop(void*) {
  const int fd = platform::DeviceOpen(kLciDevicePath, O_RDWR);
  if (fd < 0) {
    diag_error_line(kSource, "LCIMonitorLoop", __LINE__, "open lci device failed");
    return ThreadResult(-1);
  }
  LciButton button;
  int result = 0;
  while (IsRunning()) {
    if (platform::DeviceIoctlValue(fd, kLciWaitEvent, 0) != 0) {
      // The stop's wake-up lands here too; the loop then sees the cleared flag.
      if (errno != EINTR) {
        std::perror("ioctl IOCTL_WAIT_LCI_EVENT");
        usleep(kFailedWaitPauseMicroseconds);  // a broken device must not spin the loop
      }
      continue;
    }
    if (platform::DeviceIoctlValue(fd, kLciClearEvent, 0) != 0) {
      std::perror("ioctl IOCTL_CLEAR_LCI_EVENT");
    }
    if (LciButtonEdge(&button, lci_clock.load()()) != 0) {
      result = -1;
      break;
    }
  }
  platform::DeviceClose(fd);
  return ThreadResult(result);
}

void RecordPowerFailure() {
  {
    std::lock_guard<std::mutex> hold(power_fail_lock);
    const auto now = std::chrono::steady_clock::now();
    if (power_fail_recorded && now - power_fail_at < kPowerFailQuiet) return;
    power_fail_recorded = true;
    power_fail_at = now;
  }
  LogPowerDownEvent("Power down/failure");
}

void ResetPowerFailForTest() {
  std::lock_guard<std::mutex> hold(power_fail_lock);
  power_fail_recorded = false;
}
