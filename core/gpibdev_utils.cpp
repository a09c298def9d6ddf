// GPIB device operations over the platform's device access, with the stored address
// and enable settings kept as one-value text files.
#include "core/gpibdev_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/diag_print.h"
#include "core/seam.h"
#include "devices/gpib_requests.h"
#include "platform/device.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSource = "_util/gpibdev_utils";
constexpr int kDefaultAddress = 1;

std::mutex g_open_mutex;  // two threads opening at once must not both open
std::atomic<int> g_control_fd{-1};
Seam<void(const char*)> g_publisher;

// Opens the control descriptor unless open; `function` names the caller in the
// diagnostic. 0 or -1.
int OpenControl(const char* function) {
  std::lock_guard hold(g_open_mutex);
  if (g_control_fd.load() >= 0) return 0;
  const int fd = platform::DeviceOpen(kGpibDevicePath, O_RDWR);
  if (fd < 0) {
    const int error = errno;
    diag_error_line(kSource, function, __LINE__, "open failed\n");
    errno = error;
    std::perror("open");
    return -1;
  }
  g_control_fd.store(fd);
  return 0;
}

// The control descriptor, opening it first if needed; -1 when it cannot be opened.
int ControlFd() {
  if (g_control_fd.load() < 0 && GPIBDevInitLeaveAddr() != 0) return -1;
  return g_control_fd.load();
}

void ReportIoctl(const char* function, int line) {
  std::perror("ioctl");
  diag_error_line(kSource, function, line, "ioctl failed\n");
}

// Reads up to `limit` characters of a stored setting; "" when it is missing or empty.
std::string ReadSetting(const char* fixed_path, std::size_t limit) {
  std::string text;
  FILE* file = std::fopen(platform::ResolvePath(fixed_path).c_str(), "r");
  if (file == nullptr) return text;
  text.resize(limit);
  text.resize(std::fread(text.data(), 1, limit, file));
  std::fclose(file);
  return text;
}

// The stored number, or `fallback` when there is none or it is not a number.
int StoredNumber(const char* fixed_path, std::size_t limit, int fallback) {
  const std::string text = ReadSetting(fixed_path, limit);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return fallback;
  return static_cast<int>(value);
}

// Replaces a stored setting with `text`, creating its folder when missing. 0 or -1.
int WriteSetting(const char* fixed_path, const char* text) {
  const std::string path = platform::ResolvePath(fixed_path);
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);  // an existing folder is fine
  }
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::perror(path.c_str());
    return -1;
  }
  const bool written = std::fputs(text, file) >= 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::perror(path.c_str());
    return -1;
  }
  return 0;
}

// A request that takes its argument by value (or none); reported under `function`.
int RequestValue(const char* function, int line, unsigned long request, unsigned long value) {
  const int fd = ControlFd();
  if (fd < 0) return -1;
  if (platform::DeviceIoctlValue(fd, request, value) < 0) {
    ReportIoctl(function, line);
    return -1;
  }
  return 0;
}

// A request that fills one byte. The buffer has room for the four bytes the request
// code names, so a driver that fills a whole word stays inside it.
int RequestByte(unsigned long request, uint8_t* out) {
  const int fd = ControlFd();
  if (fd < 0) return -1;
  uint8_t word[4] = {};
  if (platform::DeviceIoctl(fd, request, word, 1) < 0) return -1;
  *out = word[0];
  return 0;
}

}  // namespace

int GPIBDevInit() {
  if (OpenControl("GPIBDevInit") != 0) return -1;
  return SetGPIBPrimaryAddress(StoredNumber(kGpibAddressSetting, 32, kDefaultAddress));
}

int GPIBDevInitLeaveAddr() { return OpenControl("GPIBDevInitLeaveAddr"); }

void GPIBDevClose() {
  std::lock_guard hold(g_open_mutex);
  const int fd = g_control_fd.exchange(-1);
  if (fd >= 0) platform::DeviceClose(fd);
}

int GetGPIBPrimaryAddress() {
  const int fd = ControlFd();
  int32_t address = 0;
  if (fd >= 0 && platform::DeviceIoctl(fd, kGpibGetPrimaryAddress, &address,
                                       sizeof(address)) >= 0) {
    return address;
  }
  if (fd >= 0) ReportIoctl("GetGPIBPrimaryAddress", __LINE__);
  return StoredNumber(kGpibAddressSetting, 80, kDefaultAddress);
}

int SetGPIBPrimaryAddress(int address) {
  if (address < 0 || address > kGpibMaxPrimaryAddress) return -1;
  if (RequestValue("SetGPIBPrimaryAddress", __LINE__, kGpibSetPrimaryAddress,
                   static_cast<unsigned long>(address)) != 0) {
    return -1;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "%d", address);
  const int stored = WriteSetting(kGpibAddressSetting, text);
  if (GpibResourcePublisher publish = g_publisher.function()) {
    publish(GpibResourceString(address).c_str());
  }
  return stored;
}

int SetGPIBStatusByte(uint8_t status_byte) {
  return RequestValue("SetGPIBStatusByte", __LINE__, kGpibSetStatusByte, status_byte);
}

int GenerateSRQ() { return RequestValue("GenerateSRQ", __LINE__, kGpibGenerateSrq, 0); }

int EnableGPIB(int value) {
  if (value != 0 && value != 1) {
    diag_error_line(kSource, "EnableGPIB", __LINE__, "invalid enable value\n");
    return -1;
  }
  if (RequestValue("EnableGPIB", __LINE__, value == 1 ? kGpibEnable : kGpibDisable, 0) != 0) {
    return -1;
  }
  return WriteSetting(kGpibEnableSetting, value == 1 ? "1" : "0");
}

int IsGPIBEnabled() {
  uint8_t enabled = 0;
  if (RequestByte(kGpibIsEnabled, &enabled) != 0) {
    ReportIoctl("IsGPIBEnabled", __LINE__);
    return 0;
  }
  return enabled == 1 ? 1 : 0;
}

int GetGPIBMAV(int* pending) {
  *pending = 0;
  uint8_t mav = 0;
  if (RequestByte(kGpibGetMav, &mav) != 0) {
    std::perror("ioctl");
    return -1;
  }
  if (mav > 1) return -1;
  *pending = mav;
  return 0;
}

int ClearGPIBDevice() {
  const int fd = ControlFd();
  if (fd < 0) return -1;
  if (platform::DeviceIoctlValue(fd, kGpibClearDevice, 0) < 0) {
    std::perror("ioctl");
    return -1;
  }
  return 0;
}

std::string GpibResourceString(int address) {
  std::string resource = "GPIB::";
  resource += std::to_string(address);
  resource += "::INSTR";
  return resource;
}

void SetGpibResourcePublisher(GpibResourcePublisher publisher) { g_publisher.Connect(publisher); }
