// Device access: the only way the firmware reaches a device node.
//
// The calls have the shape of the system calls they stand for and the same results:
// a descriptor or count >= 0, or -1 with errno set. Which backend serves a path is
// settled at open:
//   1. a device model registered in this process under that path (unit tests);
//   2. with CHASSIS_ROOT set, the Unix socket at the node's place under the root,
//      served by the device server of the virtual chassis;
//   3. else the real node (the board).
// All three block the same way and the same signals interrupt them: a thread blocked
// in DeviceRead, DeviceWrite, a waiting DeviceIoctl or DevicePoll returns -1/EINTR
// when a handler installed without SA_RESTART runs (the stop logic's SIGALRM); with
// SA_RESTART the blocked read, write and ioctl go on, and DevicePoll returns EINTR,
// as poll(2) and select(2) do. An open with O_NONBLOCK answers EAGAIN instead.
//
// The descriptors are real descriptors of this process (in the first two backends a
// placeholder that keeps the number taken), so DevicePoll can wait on device
// descriptors and plain ones (FIFOs, sockets) together, and device descriptors can be
// held in the same int variables as any other. Close them with DeviceClose only: a
// plain close(2) would free the number while the device stays open.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

class DeviceModel;

int DeviceOpen(std::string_view fixed_path, int flags);
int DeviceClose(int fd);
ssize_t DeviceRead(int fd, void* buffer, size_t size);
ssize_t DeviceWrite(int fd, const void* buffer, size_t size);

// ioctl(fd, request, argument) where the argument is a record of `size` bytes that the
// driver reads and may fill in.
int DeviceIoctl(int fd, unsigned long request, void* argument, size_t size);
// `count` ioctls of `request` one after the other, the i-th with the record of `size`
// bytes at arguments + i * size; the first failure ends the sequence. 0, or -1 with
// errno; `*done` (when given) is the number that succeeded. On a served device the
// whole sequence is one exchange with the device server, so a driver's multi-byte
// transfer costs one round trip instead of one per byte; the results are those of the
// single calls.
int DeviceIoctlSequence(int fd, unsigned long request, void* arguments, size_t size,
                        size_t count, size_t* done = nullptr);
// ioctl(fd, request, value) where the argument is a plain value (0 for none).
int DeviceIoctlValue(int fd, unsigned long request, unsigned long value);

// poll(2) over device descriptors and plain descriptors alike: events POLLIN,
// POLLOUT, POLLPRI; timeout in milliseconds, negative for none. Returns the number of
// entries with revents set, 0 on timeout, or -1 with errno (EINTR on a signal).
int DevicePoll(pollfd* fds, nfds_t count, int timeout_ms);

// In-process models (unit tests): opens of `fixed_path` go to `model` until it is
// unregistered. Descriptors already open keep their model.
void RegisterDeviceModel(std::string_view fixed_path, std::shared_ptr<DeviceModel> model);
void UnregisterDeviceModel(std::string_view fixed_path);

// A window of memory-mapped registers (the FPGA's, through "/dev/mem"). On the board
// it is a mapping of the physical range, accessed with volatile loads and stores; in
// the other backends each access is a request to the device model, which may have
// side effects (acknowledge bits, a running clock). Offsets must lie inside the
// window and be aligned to the width, else the access fails with EINVAL.
class RegisterWindow {
 public:
  virtual ~RegisterWindow() = default;
  // 0, or -1 with errno set.
  virtual int Read16(uint32_t offset, uint16_t* value) = 0;
  virtual int Read32(uint32_t offset, uint32_t* value) = 0;
  virtual int Write16(uint32_t offset, uint16_t value) = 0;
  virtual int Write32(uint32_t offset, uint32_t value) = 0;
  size_t length() const { return length_; }

 protected:
  explicit RegisterWindow(size_t length) : length_(length) {}
  // Checks an access of `width` bytes at `offset`; sets errno and returns false if bad.
  bool Fits(uint32_t offset, unsigned width) const;

 private:
  size_t length_;
};

// Which step of OpenRegisterWindow failed: opening the memory device or mapping the
// range (the two are reported differently).
enum class WindowFailure { kNone, kOpen, kMap };

// Maps `length` bytes of `fixed_path` (normally "/dev/mem") from physical address
// `base`, which need not be page-aligned. Returns null with errno set, and the
// failed step in `*failure` when asked, on failure.
std::unique_ptr<RegisterWindow> OpenRegisterWindow(std::string_view fixed_path,
                                                   uint64_t base, size_t length,
                                                   WindowFailure* failure = nullptr);

}  // namespace platform
