// The USBTMC gadget (see usb_device.h).
#include "lan/usb_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/diag_print.h"
#include "core/stored_file.h"
#include "devices/usbtmc_requests.h"
#include "lan/lan_settings.h"
#include "lan/serial_number.h"
#include "lan/identity.h"
#include "platform/command_runner.h"
#include "platform/device.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSource = "_util/usbdev_utils";
constexpr auto kNodeWait = std::chrono::seconds(2);
constexpr useconds_t kNodeCheckMicroseconds = 1000;

bool NodeExists() {
  struct stat info {};
  return stat(platform::ResolvePath(kUsbtmcDevicePath).c_str(), &info) == 0;
}

int SwitchGadget(unsigned long request, const char* open_failure, const char* request_failure,
                 const char* stored) {
  const int fd = platform::DeviceOpen(kUsbtmcDevicePath, O_RDWR);
  if (fd < 0) {
    std::perror(open_failure);
    return -1;
  }
  if (platform::DeviceIoctlValue(fd, request, 0) != 0) {
    std::perror(request_failure);
    platform::DeviceClose(fd);
    return -1;
  }
  platform::DeviceClose(fd);
  return ReplaceStoredFile(kUsbEnableFile, stored) == 0 ? 0 : -1;
}

}  // namespace

int UsbDevInit() {
  const std::string command = platform::FormatCommand("insmod %p serial=\"", {kUsbModulePath}) +
                              SerialForNames() + "\"";
  const int status = platform::RunCommand(command);
  if (status != 0) {
    diag_error_line(kSource, "UsbDevInit", __LINE__, "insmod g_usbtmc returned %d\n",
                    status > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : status);
  }
  // Two million checks a microsecond apart were meant as two seconds; a sleep of one
  // microsecond lasts far longer, so the wait is bounded by the time itself.
  const auto deadline = std::chrono::steady_clock::now() + kNodeWait;
  do {
    if (NodeExists()) return 0;
    usleep(kNodeCheckMicroseconds);
  } while (std::chrono::steady_clock::now() < deadline);
  diag_error_line(kSource, "UsbDevInit", __LINE__, "%s was not created before timeout\n",
                  kUsbtmcDevicePath);
  return -1;
}

int UsbDevEnable() {
  return SwitchGadget(kUsbtmcEnable, "UsbDevEnable open failed", "UsbDevEnable: ioctl", "1");
}

int UsbDevDisable() {
  return SwitchGadget(kUsbtmcDisable, "UsbDevDisable open failed", "UsbDevDisable: ioctl", "0");
}

int UsbDevEnabled() {
  std::string text;
  if (ReadStoredFile(kUsbEnableFile, &text) != StoredFileRead::kRead) return 255;
  return text == "1" ? 1 : 0;
}

int IsUsbWriteInProcess() {
  const int fd = platform::DeviceOpen(kUsbtmcDevicePath, O_RDWR);
  if (fd < 0) {
    std::perror("IsUsbWriteInProcess open failed");
    return 255;
  }
  unsigned char byte = 0;
  if (platform::DeviceIoctl(fd, kUsbtmcWriteInProcess, &byte, 1) != 0) {
    std::perror("IsUsbWriteInProcess: ioctl");
    platform::DeviceClose(fd);
    return 255;
  }
  platform::DeviceClose(fd);
  return byte != 0 ? 1 : 0;
}
