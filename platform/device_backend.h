// Inside the platform layer: one open device descriptor of the in-process or socket
// backend. Every operation here is a single attempt that never waits on the device;
// device.cpp builds the blocking calls on top, once for both backends.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class DeviceModel;

class OpenDevice : public std::enable_shared_from_this<OpenDevice> {
 public:
  virtual ~OpenDevice() = default;

  // Each returns >= 0 or -errno. On -EAGAIN `*generation` holds the device's change
  // generation seen before the attempt, to be handed to WaitChange().
  virtual ssize_t Read(void* buffer, size_t size, uint64_t* generation) = 0;
  virtual ssize_t Write(const void* buffer, size_t size, uint64_t* generation) = 0;
  virtual int Ioctl(unsigned long request, void* argument, size_t size,
                    uint64_t* generation) = 0;
  virtual int IoctlValue(unsigned long request, unsigned long value,
                         uint64_t* generation) = 0;
  // The ioctls of DeviceIoctlSequence from `arguments` on, each a single attempt: 0
  // when all succeeded, else the first failure's -errno (-EAGAIN: that one must wait);
  // `*done` counts those that succeeded. By default one Ioctl after the other.
  virtual int IoctlSequence(unsigned long request, void* arguments, size_t size, size_t count,
                            size_t* done, uint64_t* generation) {
    auto* bytes = static_cast<unsigned char*>(arguments);
    for (*done = 0; *done < count; ++*done) {
      const int result = Ioctl(request, bytes + *done * size, size, generation);
      if (result < 0) return result;
    }
    return 0;
  }

  // Blocks until the device changed since `generation`: 0, or -EINTR / -errno.
  virtual int WaitChange(uint64_t generation) = 0;

  // Poll in two steps, so that one poll(2) covers many descriptors. Arm starts
  // watching for `events` (timeout_ms bounds the watch; <0 none) and gives the
  // descriptor whose readability ends the watch: `wake_fd` itself for in-process
  // devices, a socket for served ones. Disarm stops watching and returns the events
  // now ready (or -errno).
  virtual int PollArm(short events, int timeout_ms, int wake_fd) = 0;
  virtual int PollDisarm(int wake_fd) = 0;

  // Register window requests: the range check at mapping time, then accesses of
  // `width` 2 or 4 bytes at offsets already checked against the window. 0 or -errno.
  virtual int MapWindow(uint64_t base, size_t length) = 0;
  virtual int RegisterRead(uint32_t offset, unsigned width, uint32_t* value) = 0;
  virtual int RegisterWrite(uint32_t offset, unsigned width, uint32_t value) = 0;

  // Ends the open on the device side: 0 or -errno.
  virtual int Close() = 0;

  bool nonblocking = false;
};

// The open of an in-process model; -errno in `*error` when the model refuses it.
std::shared_ptr<OpenDevice> OpenInProcess(std::shared_ptr<DeviceModel> model, int flags,
                                          int* error);
// The open through the device server's socket at `socket_path`.
std::shared_ptr<OpenDevice> OpenServed(const std::string& socket_path, int flags,
                                       int* error);

// The calling thread's eventfd for waiting on in-process models (created on first use).
int ThreadWakeFd();

}  // namespace platform
