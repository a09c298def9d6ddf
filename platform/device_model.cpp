// Defaults for device models (a request a model does not know is refused the way a
// driver refuses it) and the change notification that blocked callers wait on.
#include "platform/device_model.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace platform {

uint64_t DeviceModel::NewOpenId() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1);
}

int DeviceModel::Open(uint64_t, int) { return 0; }
void DeviceModel::Close(uint64_t) {}
ssize_t DeviceModel::Read(uint64_t, void*, size_t) { return -EINVAL; }
ssize_t DeviceModel::Write(uint64_t, const void*, size_t) { return -EINVAL; }
int DeviceModel::Ioctl(uint64_t, unsigned long, void*, size_t) { return -EINVAL; }
int DeviceModel::IoctlValue(uint64_t, unsigned long, unsigned long) { return -EINVAL; }
short DeviceModel::Readiness(uint64_t) { return POLLIN | POLLOUT; }
int DeviceModel::MapWindow(uint64_t, uint64_t, size_t) { return -ENODEV; }
int DeviceModel::RegisterRead(uint64_t, uint32_t, unsigned, uint32_t*) { return -ENODEV; }
int DeviceModel::RegisterWrite(uint64_t, uint32_t, unsigned, uint32_t) { return -ENODEV; }

uint64_t DeviceModel::Generation() {
  std::lock_guard lock(watch_mutex_);
  return generation_;
}

uint64_t DeviceModel::Watch(int wake_fd) {
  std::lock_guard lock(watch_mutex_);
  watchers_.push_back(wake_fd);
  return generation_;
}

void DeviceModel::Unwatch(int wake_fd) {
  std::lock_guard lock(watch_mutex_);
  auto it = std::find(watchers_.begin(), watchers_.end(), wake_fd);
  if (it != watchers_.end()) watchers_.erase(it);
}

int DeviceModel::WaitChange(uint64_t seen_generation, int wake_fd) {
  if (Watch(wake_fd) != seen_generation) {
    Unwatch(wake_fd);
    return 0;
  }
  uint64_t count = 0;
  const ssize_t got = read(wake_fd, &count, sizeof count);
  const int error = errno;
  Unwatch(wake_fd);
  // A count left over from an earlier wait only makes the caller look once more.
  return got < 0 ? -error : 0;
}

void DeviceModel::NotifyChanged() {
  std::lock_guard lock(watch_mutex_);
  ++generation_;
  const uint64_t one = 1;
  for (int fd : watchers_) {
    // The count saturates long before it could overflow; a full eventfd is awake anyway.
    [[maybe_unused]] ssize_t ignored = write(fd, &one, sizeof one);
  }
}

}  // namespace platform
