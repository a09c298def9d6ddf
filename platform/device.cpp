// Device access: picks the backend at open, keeps the table of descriptors that
// belong to the in-process and socket backends (anything else is a real descriptor
// and goes straight to the system call), and builds the blocking calls and poll on
// top of the backends' single attempts.
#include "platform/device.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/device_backend.h"
#include "platform/device_model.h"
#include "platform/paths.h"

namespace platform {
namespace {

std::mutex registry_mutex;
std::map<std::string, std::shared_ptr<DeviceModel>, std::less<>> registry;

// Open descriptors of the first two backends, by their placeholder descriptor.
std::mutex table_mutex;
std::unordered_map<int, std::shared_ptr<OpenDevice>> table;

std::shared_ptr<OpenDevice> Lookup(int fd) {
  std::lock_guard lock(table_mutex);
  auto it = table.find(fd);
  return it == table.end() ? nullptr : it->second;
}

std::shared_ptr<DeviceModel> Registered(std::string_view fixed_path) {
  std::lock_guard lock(registry_mutex);
  auto it = registry.find(fixed_path);
  return it == registry.end() ? nullptr : it->second;
}

// Opens `fixed_path` on the in-process or socket backend; null with `*error` 0 when
// the path is a real node for the system call.
std::shared_ptr<OpenDevice> OpenSimulated(std::string_view fixed_path, int flags, int* error) {
  *error = 0;
  std::shared_ptr<OpenDevice> device;
  if (auto model = Registered(fixed_path)) {
    device = OpenInProcess(std::move(model), flags, error);
  } else if (!Root().empty()) {
    device = OpenServed(ResolvePath(fixed_path), flags, error);
  } else {
    return nullptr;
  }
  if (device) device->nonblocking = (flags & O_NONBLOCK) != 0;
  return device;
}

long Fail(long negated_errno) {
  errno = static_cast<int>(-negated_errno);
  return -1;
}

// Repeats one attempt until the device lets it through: the blocking behaviour of a
// driver, the same for every call and both backends.
template <typename Attempt>
long Blocking(OpenDevice& device, Attempt attempt) {
  for (;;) {
    uint64_t generation = 0;
    const long result = attempt(&generation);
    if (result != -EAGAIN || device.nonblocking) return result < 0 ? Fail(result) : result;
    const int waited = device.WaitChange(generation);
    if (waited < 0) return Fail(waited);
  }
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

void RegisterDeviceModel(std::string_view fixed_path, std::shared_ptr<DeviceModel> model) {
  std::lock_guard lock(registry_mutex);
  registry[std::string(fixed_path)] = std::move(model);
}

void UnregisterDeviceModel(std::string_view fixed_path) {
  std::lock_guard lock(registry_mutex);
  auto it = registry.find(fixed_path);
  if (it != registry.end()) registry.erase(it);
}

int DeviceOpen(std::string_view fixed_path, int flags) {
  const std::string path(fixed_path);
  if (!Registered(fixed_path) && Root().empty()) return open(path.c_str(), flags);
  // The placeholder is taken first, so that it gets the lowest free number as the
  // real open would; it keeps that number ours while the device is open.
  const int fd = eventfd(0, EFD_CLOEXEC);
  if (fd < 0) return -1;
  int error = 0;
  std::shared_ptr<OpenDevice> device = OpenSimulated(fixed_path, flags, &error);
  if (!device) {
    close(fd);
    if (error < 0) return static_cast<int>(Fail(error));
    return open(path.c_str(), flags);  // the model was unregistered meanwhile
  }
  std::shared_ptr<OpenDevice> stale;
  {
    std::lock_guard lock(table_mutex);
    // The number can only be taken already when a device descriptor was closed with
    // close(2) instead of DeviceClose: that open has ended.
    stale = std::exchange(table[fd], std::move(device));
  }
  if (stale) stale->Close();
  return fd;
}

int DeviceClose(int fd) {
  std::shared_ptr<OpenDevice> device;
  {
    std::lock_guard lock(table_mutex);
    auto it = table.find(fd);
    if (it != table.end()) {
      device = std::move(it->second);
      table.erase(it);
    }
  }
  if (!device) return close(fd);
  const int closed = device->Close();
  close(fd);
  return closed < 0 ? static_cast<int>(Fail(closed)) : 0;
}

ssize_t DeviceRead(int fd, void* buffer, size_t size) {
  auto device = Lookup(fd);
  if (!device) return read(fd, buffer, size);
  return Blocking(*device, [&](uint64_t* generation) {
    return static_cast<long>(device->Read(buffer, size, generation));
  });
}

ssize_t DeviceWrite(int fd, const void* buffer, size_t size) {
  auto device = Lookup(fd);
  if (!device) return write(fd, buffer, size);
  return Blocking(*device, [&](uint64_t* generation) {
    return static_cast<long>(device->Write(buffer, size, generation));
  });
}

int DeviceIoctl(int fd, unsigned long request, void* argument, size_t size) {
  auto device = Lookup(fd);
  if (!device) return ioctl(fd, request, argument);
  return static_cast<int>(Blocking(*device, [&](uint64_t* generation) {
    return static_cast<long>(device->Ioctl(request, argument, size, generation));
  }));
}

int DeviceIoctlSequence(int fd, unsigned long request, void* arguments, size_t size,
                        size_t count, size_t* done) {
  auto* bytes = static_cast<unsigned char*>(arguments);
  auto device = Lookup(fd);
  size_t finished = 0;
  int result = 0;
  while (finished < count && result == 0) {
    void* next = bytes + finished * size;
    if (!device) {
      result = ioctl(fd, request, next) < 0 ? -1 : 0;
      if (result == 0) ++finished;
      continue;
    }
    size_t batch = 0;
    uint64_t generation = 0;
    const int attempt =
        device->IoctlSequence(request, next, size, count - finished, &batch, &generation);
    finished += batch;
    if (attempt == -EAGAIN && !device->nonblocking) {
      // This one must wait: the single call's blocking path takes it, then the rest.
      void* waiting = bytes + finished * size;
      result = static_cast<int>(Blocking(*device, [&](uint64_t* g) {
                 return static_cast<long>(device->Ioctl(request, waiting, size, g));
               })) < 0
                   ? -1
                   : 0;
      if (result == 0) ++finished;
    } else if (attempt < 0) {
      result = static_cast<int>(Fail(attempt));
    }
  }
  if (done != nullptr) *done = finished;
  return result < 0 ? -1 : 0;
}

int DeviceIoctlValue(int fd, unsigned long request, unsigned long value) {
  auto device = Lookup(fd);
  if (!device) return ioctl(fd, request, value);
  return static_cast<int>(Blocking(*device, [&](uint64_t* generation) {
    return static_cast<long>(device->IoctlValue(request, value, generation));
  }));
}

int DevicePoll(pollfd* fds, nfds_t count, int timeout_ms) {
  std::vector<std::shared_ptr<OpenDevice>> devices(count);
  bool any_device = false;
  for (nfds_t i = 0; i < count; ++i) {
    devices[i] = fds[i].fd >= 0 ? Lookup(fds[i].fd) : nullptr;
    any_device = any_device || devices[i];
  }
  if (!any_device) return poll(fds, count, timeout_ms);

  const int wake_fd = ThreadWakeFd();
  if (wake_fd < 0) return static_cast<int>(Fail(wake_fd));
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  bool first_pass = true;
  for (;;) {
    // First look without waiting; after that wait for a change or the time limit.
    const int wait_ms = first_pass ? 0 : (timeout_ms < 0 ? -1 : RemainingMs(deadline));
    std::vector<pollfd> watched(count);
    std::vector<bool> armed(count, false);
    bool lost_device = false;
    for (nfds_t i = 0; i < count; ++i) {
      watched[i] = fds[i];
      if (!devices[i]) continue;
      const int watch_fd = devices[i]->PollArm(fds[i].events, wait_ms, wake_fd);
      // A device that cannot be watched (its server went away) is in error, as a
      // descriptor whose driver failed would be; poll(2) ignores the -1 entry.
      armed[i] = watch_fd >= 0;
      lost_device = lost_device || !armed[i];
      watched[i] = {armed[i] ? watch_fd : -1, POLLIN, 0};
    }
    const int polled = poll(watched.data(), count, lost_device ? 0 : wait_ms);
    const int poll_error = errno;

    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
      short revents = watched[i].revents;
      if (devices[i]) {
        const int now = armed[i] ? devices[i]->PollDisarm(wake_fd) : -EIO;
        const short wanted = fds[i].events | POLLERR | POLLHUP;
        revents = now < 0 ? POLLERR : static_cast<short>(now & wanted);
      }
      fds[i].revents = revents;
      if (revents) ++ready;
    }
    // The wake fd is shared by the in-process entries; empty it for the next round.
    pollfd wake = {wake_fd, POLLIN, 0};
    uint64_t drained;
    if (poll(&wake, 1, 0) == 1 && read(wake_fd, &drained, sizeof drained) < 0) {
      // Nothing to undo: an eventfd that polled readable has a count to read.
    }

    if (polled < 0) {
      errno = poll_error;
      return -1;
    }
    if (ready > 0) return ready;
    if (!first_pass && timeout_ms >= 0 && RemainingMs(deadline) == 0) return 0;
    if (first_pass && timeout_ms == 0) return 0;
    first_pass = false;
  }
}

bool RegisterWindow::Fits(uint32_t offset, unsigned width) const {
  if (offset % width != 0 || offset > length_ || length_ - offset < width) {
    errno = EINVAL;
    return false;
  }
  return true;
}

namespace {

// The board: the physical range mapped into this process, accessed directly.
class MappedWindow final : public RegisterWindow {
 public:
  MappedWindow(void* mapping, size_t mapped_length, size_t page_offset, size_t length)
      : RegisterWindow(length),
        mapping_(mapping),
        mapped_length_(mapped_length),
        base_(static_cast<volatile char*>(mapping) + page_offset) {}
  ~MappedWindow() override { munmap(mapping_, mapped_length_); }

  int Read16(uint32_t offset, uint16_t* value) override { return Load(offset, value); }
  int Read32(uint32_t offset, uint32_t* value) override { return Load(offset, value); }
  int Write16(uint32_t offset, uint16_t value) override { return Store(offset, value); }
  int Write32(uint32_t offset, uint32_t value) override { return Store(offset, value); }

 private:
  template <typename T>
  int Load(uint32_t offset, T* value) {
    if (!Fits(offset, sizeof(T))) return -1;
    *value = *reinterpret_cast<volatile T*>(base_ + offset);
    return 0;
  }
  template <typename T>
  int Store(uint32_t offset, T value) {
    if (!Fits(offset, sizeof(T))) return -1;
    *reinterpret_cast<volatile T*>(base_ + offset) = value;
    return 0;
  }

  void* mapping_;
  size_t mapped_length_;
  volatile char* base_;
};

// The simulated backends: every access is a request to the device model.
class RequestWindow final : public RegisterWindow {
 public:
  RequestWindow(std::shared_ptr<OpenDevice> device, size_t length)
      : RegisterWindow(length), device_(std::move(device)) {}

  int Read16(uint32_t offset, uint16_t* value) override {
    uint32_t wide = 0;
    const int result = Read(offset, 2, &wide);
    if (result == 0) *value = static_cast<uint16_t>(wide);
    return result;
  }
  int Read32(uint32_t offset, uint32_t* value) override { return Read(offset, 4, value); }
  int Write16(uint32_t offset, uint16_t value) override { return Write(offset, 2, value); }
  int Write32(uint32_t offset, uint32_t value) override { return Write(offset, 4, value); }

 private:
  int Read(uint32_t offset, unsigned width, uint32_t* value) {
    if (!Fits(offset, width)) return -1;
    const int result = device_->RegisterRead(offset, width, value);
    return result < 0 ? static_cast<int>(Fail(result)) : 0;
  }
  int Write(uint32_t offset, unsigned width, uint32_t value) {
    if (!Fits(offset, width)) return -1;
    const int result = device_->RegisterWrite(offset, width, value);
    return result < 0 ? static_cast<int>(Fail(result)) : 0;
  }

  std::shared_ptr<OpenDevice> device_;
};

}  // namespace

std::unique_ptr<RegisterWindow> OpenRegisterWindow(std::string_view fixed_path,
                                                   uint64_t base, size_t length,
                                                   WindowFailure* failure) {
  WindowFailure ignored;
  if (!failure) failure = &ignored;
  *failure = WindowFailure::kMap;
  if (length == 0) {
    errno = EINVAL;
    return nullptr;
  }
  int error = 0;
  std::shared_ptr<OpenDevice> device = OpenSimulated(fixed_path, O_RDWR | O_SYNC, &error);
  if (device) {
    const int mapped = device->MapWindow(base, length);
    if (mapped < 0) {
      Fail(mapped);
      return nullptr;
    }
    *failure = WindowFailure::kNone;
    return std::make_unique<RequestWindow>(std::move(device), length);
  }
  if (error < 0) {
    *failure = WindowFailure::kOpen;
    Fail(error);
    return nullptr;
  }
  const int fd = open(std::string(fixed_path).c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) {
    *failure = WindowFailure::kOpen;
    return nullptr;
  }
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const size_t page_offset = static_cast<size_t>(base % page);
  const size_t mapped_length = length + page_offset;
  void* mapping = mmap(nullptr, mapped_length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                       static_cast<off_t>(base - page_offset));
  const int map_error = errno;
  close(fd);  // the mapping outlives the descriptor
  if (mapping == MAP_FAILED) {
    errno = map_error;
    return nullptr;
  }
  *failure = WindowFailure::kNone;
  return std::make_unique<MappedWindow>(mapping, mapped_length, page_offset, length);
}

}  // namespace platform
