// The in-process backend: a descriptor opened on a device model registered in this
// process. Calls go straight to the model; waiting is done on the calling thread's
// eventfd, which the model's change notification wakes.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/device_backend.h"
#include "platform/device_model.h"

namespace platform {
namespace {

class InProcessDevice final : public OpenDevice {
 public:
  InProcessDevice(std::shared_ptr<DeviceModel> model, uint64_t open_id)
      : model_(std::move(model)), open_id_(open_id) {}
  ~InProcessDevice() override { Close(); }

  ssize_t Read(void* buffer, size_t size, uint64_t* generation) override {
    *generation = model_->Generation();
    return model_->Read(open_id_, buffer, size);
  }
  ssize_t Write(const void* buffer, size_t size, uint64_t* generation) override {
    *generation = model_->Generation();
    return model_->Write(open_id_, buffer, size);
  }
  int Ioctl(unsigned long request, void* argument, size_t size,
            uint64_t* generation) override {
    *generation = model_->Generation();
    return model_->Ioctl(open_id_, request, argument, size);
  }
  int IoctlValue(unsigned long request, unsigned long value, uint64_t* generation) override {
    *generation = model_->Generation();
    return model_->IoctlValue(open_id_, request, value);
  }
  int WaitChange(uint64_t generation) override {
    const int wake_fd = ThreadWakeFd();
    if (wake_fd < 0) return wake_fd;
    return model_->WaitChange(generation, wake_fd);
  }

  int PollArm(short events, int, int wake_fd) override {
    model_->Watch(wake_fd);
    // Ready already: wake the poll at once rather than miss a change made before
    // the watch began.
    if (model_->Readiness(open_id_) & (events | POLLERR | POLLHUP)) {
      const uint64_t one = 1;
      if (write(wake_fd, &one, sizeof one) < 0) return -errno;
    }
    return wake_fd;
  }
  int PollDisarm(int wake_fd) override {
    model_->Unwatch(wake_fd);
    return model_->Readiness(open_id_);
  }

  int MapWindow(uint64_t base, size_t length) override {
    return model_->MapWindow(open_id_, base, length);
  }
  int RegisterRead(uint32_t offset, unsigned width, uint32_t* value) override {
    return model_->RegisterRead(open_id_, offset, width, value);
  }
  int RegisterWrite(uint32_t offset, unsigned width, uint32_t value) override {
    return model_->RegisterWrite(open_id_, offset, width, value);
  }

  int Close() override {
    if (!closed_.exchange(true)) model_->Close(open_id_);
    return 0;
  }

 private:
  std::shared_ptr<DeviceModel> model_;
  uint64_t open_id_;
  std::atomic<bool> closed_{false};
};

// The per-thread eventfd, closed when the thread ends.
struct WakeFd {
  int fd = eventfd(0, EFD_CLOEXEC);
  ~WakeFd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int ThreadWakeFd() {
  thread_local WakeFd wake;
  return wake.fd >= 0 ? wake.fd : -EMFILE;
}

std::shared_ptr<OpenDevice> OpenInProcess(std::shared_ptr<DeviceModel> model, int flags,
                                          int* error) {
  const uint64_t open_id = DeviceModel::NewOpenId();
  const int opened = model->Open(open_id, flags);
  if (opened < 0) {
    *error = opened;
    return nullptr;
  }
  return std::make_shared<InProcessDevice>(std::move(model), open_id);
}

}  // namespace platform
