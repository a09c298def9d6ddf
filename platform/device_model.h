// The shape of a simulated device, as the platform layer drives it.
//
// A device model stands in for a kernel driver: it sees one Open/Close per open
// descriptor (told apart by an open id) and answers read, write, ioctl and register
// requests. A model never blocks. When an operation cannot go on yet it answers
// -EAGAIN, and once its state changes it calls NotifyChanged(); the caller (the
// platform layer in-process, or the device server for socket clients) then retries,
// and does the blocking itself, where a signal can interrupt it. Readiness() says
// which poll events an open would see now (POLLIN, POLLOUT, POLLPRI).
//
// Models are called from several threads at once and guard their own state.
// Results are >= 0 on success or a negated errno value.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

class DeviceModel {
 public:
  DeviceModel() = default;
  DeviceModel(const DeviceModel&) = delete;
  DeviceModel& operator=(const DeviceModel&) = delete;
  virtual ~DeviceModel() = default;

  // A fresh open id, unique in this process across all backends.
  static uint64_t NewOpenId();

  // `flags` are the open(2) flags. Refusing the open returns a negated errno.
  virtual int Open(uint64_t open_id, int flags);
  virtual void Close(uint64_t open_id);

  virtual ssize_t Read(uint64_t open_id, void* buffer, size_t size);
  virtual ssize_t Write(uint64_t open_id, const void* buffer, size_t size);

  // A request whose argument is a record of `size` bytes at `argument`: the model
  // reads its input from it and leaves its output in it.
  virtual int Ioctl(uint64_t open_id, unsigned long request, void* argument, size_t size);
  // A request whose argument is a plain value (or none: value 0).
  virtual int IoctlValue(uint64_t open_id, unsigned long request, unsigned long value);

  virtual short Readiness(uint64_t open_id);

  // Register window (memory-mapped registers on the board). MapWindow checks the
  // physical base and length the caller asks for; accesses carry window offsets and
  // a width of 2 or 4 bytes, already checked against the window.
  virtual int MapWindow(uint64_t open_id, uint64_t base, size_t length);
  virtual int RegisterRead(uint64_t open_id, uint32_t offset, unsigned width, uint32_t* value);
  virtual int RegisterWrite(uint64_t open_id, uint32_t offset, unsigned width, uint32_t value);

  // Change notification, for callers that wait on behalf of a blocked operation.
  // Generation() is read before trying an operation; WaitChange() returns at once
  // when the generation has moved since, else blocks in read(2) on `wake_fd` (an
  // eventfd owned by the waiting thread) until NotifyChanged(). The read follows the
  // usual signal rules: -EINTR when a handler without SA_RESTART interrupts it.
  uint64_t Generation();
  int WaitChange(uint64_t seen_generation, int wake_fd);
  // Watching: `wake_fd` gets a count written at every change until unwatched. For
  // waits over several devices at once, with poll(2) on the descriptors.
  uint64_t Watch(int wake_fd);
  void Unwatch(int wake_fd);

 protected:
  // Models call this after every change that can let a waiting operation go on.
  void NotifyChanged();

 private:
  std::mutex watch_mutex_;
  uint64_t generation_ = 0;
  std::vector<int> watchers_;
};

}  // namespace platform
