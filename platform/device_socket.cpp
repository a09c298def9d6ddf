// The socket backend: a descriptor opened through the device server of the virtual
// chassis. The open owns a small pool of connections to the device's socket; each
// call borrows one for its request and reply, so a thread waiting on the device never
// holds up another thread using the same descriptor.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/device_backend.h"
#include "platform/device_wire.h"

namespace platform {
namespace {

using wire::Header;

int Connect(const std::string& socket_path) {
  const wire::SocketAddress address(socket_path);
  if (address.error()) return address.error();
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  int result;
  do {
    result = connect(fd, address.get(), address.size());
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    const int error = errno;
    close(fd);
    // A node with nobody serving it is a device without its driver.
    if (error == ECONNREFUSED || error == ENOTSOCK) return -ENODEV;
    return -error;
  }
  return fd;
}

class ServedDevice final : public OpenDevice {
 public:
  explicit ServedDevice(std::string socket_path) : socket_path_(std::move(socket_path)) {}
  ~ServedDevice() override {
    Close();
    for (int fd : idle_) close(fd);
  }

  // Connects the first connection and opens the device on it.
  int Open(int flags) {
    const int fd = Join({wire::kOpen, 0, static_cast<uint64_t>(flags), 0}, &session_);
    if (fd < 0) return fd;
    idle_.push_back(fd);
    return 0;
  }

  ssize_t Read(void* buffer, size_t size, uint64_t* generation) override {
    if (size > wire::kMaxPayload) size = wire::kMaxPayload;
    Header header{wire::kRead, 0, 0, static_cast<int64_t>(size)};
    return Call(header, nullptr, buffer, size, generation);
  }
  ssize_t Write(const void* buffer, size_t size, uint64_t* generation) override {
    if (size > wire::kMaxPayload) size = wire::kMaxPayload;
    Header header{wire::kWrite, static_cast<uint32_t>(size), 0, 0};
    return Call(header, buffer, nullptr, 0, generation);
  }
  int Ioctl(unsigned long request, void* argument, size_t size,
            uint64_t* generation) override {
    if (size > wire::kMaxPayload || (size > 0 && argument == nullptr)) return -EINVAL;
    Header header{wire::kIoctl, static_cast<uint32_t>(size), request, 0};
    return static_cast<int>(Call(header, argument, argument, size, generation));
  }
  // One exchange for the whole sequence; a sequence longer than a message holds goes
  // in parts.
  int IoctlSequence(unsigned long request, void* arguments, size_t size, size_t count,
                    size_t* done, uint64_t* /*generation*/) override {
    *done = 0;
    if (size == 0 || size > wire::kMaxPayload || arguments == nullptr) return -EINVAL;
    auto* bytes = static_cast<unsigned char*>(arguments);
    const size_t per_message = wire::kMaxPayload / size;
    while (*done < count) {
      const size_t part = std::min(count - *done, per_message);
      unsigned char* first = bytes + *done * size;
      Header header{wire::kIoctlSequence, static_cast<uint32_t>(part * size), request,
                    static_cast<int64_t>(size)};
      const ssize_t result = Call(header, first, first, part * size, nullptr);
      if (header.request > part) return -EPROTO;
      *done += static_cast<size_t>(header.request);
      if (result < 0) return static_cast<int>(result);
    }
    return 0;
  }
  int IoctlValue(unsigned long request, unsigned long value, uint64_t* generation) override {
    Header header{wire::kIoctlValue, 0, request, static_cast<int64_t>(value)};
    return static_cast<int>(Call(header, nullptr, nullptr, 0, generation));
  }

  int WaitChange(uint64_t generation) override {
    Lease lease(*this);
    if (lease.fd < 0) return lease.fd;
    const Header header{wire::kWait, 0, generation, 0};
    return Held(lease, header);
  }

  // The held poll's connection is kept per waiting thread (its wake fd), so that
  // two threads may poll one descriptor.
  int PollArm(short events, int timeout_ms, int wake_fd) override {
    const int fd = Borrow();
    if (fd < 0) return fd;
    Header header{wire::kPoll, 0, static_cast<uint16_t>(events), timeout_ms};
    if (wire::SendMessage(fd, header, nullptr) < 0) {
      close(fd);
      return -EIO;
    }
    std::lock_guard lock(pool_mutex_);
    polling_.push_back({wake_fd, fd});
    return fd;
  }
  int PollDisarm(int wake_fd) override {
    int fd = -1;
    {
      std::lock_guard lock(pool_mutex_);
      for (auto it = polling_.begin(); it != polling_.end(); ++it) {
        if (it->first == wake_fd) {
          fd = it->second;
          polling_.erase(it);
          break;
        }
      }
    }
    if (fd < 0) return -EBADF;
    // The held poll ends at once on kCancel, or has already answered; either way its
    // reply is the one message to read.
    const Header cancel{wire::kCancel, 0, 0, 0};
    Header reply{};
    int result = wire::SendMessage(fd, cancel, nullptr);
    if (result == 0) result = ReceiveReply(fd, &reply, nullptr, 0, false);
    if (result < 0) {
      close(fd);
      return -EIO;
    }
    Return(fd);
    return static_cast<int>(reply.value);
  }

  int MapWindow(uint64_t base, size_t length) override {
    Header header{wire::kMapWindow, 0, base, static_cast<int64_t>(length)};
    return static_cast<int>(Call(header, nullptr, nullptr, 0, nullptr));
  }
  int RegisterRead(uint32_t offset, unsigned width, uint32_t* value) override {
    Header header{width == 2 ? wire::kRegRead16 : wire::kRegRead32, 0, offset, 0};
    const ssize_t result = Call(header, nullptr, nullptr, 0, nullptr);
    if (result == 0) *value = static_cast<uint32_t>(header.request);
    return static_cast<int>(result);
  }
  int RegisterWrite(uint32_t offset, unsigned width, uint32_t value) override {
    Header header{width == 2 ? wire::kRegWrite16 : wire::kRegWrite32, 0, offset, value};
    return static_cast<int>(Call(header, nullptr, nullptr, 0, nullptr));
  }

  int Close() override {
    {
      std::lock_guard lock(pool_mutex_);
      if (closed_) return 0;
      closed_ = true;
    }
    Header header{wire::kClose, 0, 0, 0};
    return static_cast<int>(Call(header, nullptr, nullptr, 0, nullptr));
  }

 private:
  // A borrowed connection, given back when done unless the exchange broke it.
  struct Lease {
    explicit Lease(ServedDevice& owner) : owner(owner), fd(owner.Borrow()) {}
    ~Lease() {
      if (fd < 0) return;
      if (broken) {
        close(fd);
      } else {
        owner.Return(fd);
      }
    }
    ServedDevice& owner;
    int fd;
    bool broken = false;
  };

  int Borrow() {
    {
      std::lock_guard lock(pool_mutex_);
      if (!idle_.empty()) {
        const int fd = idle_.back();
        idle_.pop_back();
        return fd;
      }
    }
    int64_t joined;
    return Join({wire::kAttach, 0, static_cast<uint64_t>(session_), 0}, &joined);
  }

  // A new connection with its first request (kOpen or kAttach) answered: the
  // connection, with the answer in `*answer`, or -errno.
  int Join(Header header, int64_t* answer) {
    const int fd = Connect(socket_path_);
    if (fd < 0) return fd;
    const int64_t result = Exchange(fd, header, nullptr, nullptr, 0) < 0 ? -EIO : header.value;
    if (result < 0) {
      close(fd);
      return static_cast<int>(result);
    }
    *answer = header.value;
    return fd;
  }

  void Return(int fd) {
    std::lock_guard lock(pool_mutex_);
    idle_.push_back(fd);
  }

  // One request and its reply on a borrowed connection. The reply header replaces
  // `header`; its payload (at most `in_size` bytes) lands in `in`. The device's
  // result is returned; a broken connection reads as an I/O error of the device.
  ssize_t Call(Header& header, const void* out, void* in, size_t in_size,
               uint64_t* generation) {
    Lease lease(*this);
    if (lease.fd < 0) return lease.fd;
    if (Exchange(lease.fd, header, out, in, in_size) < 0) {
      lease.broken = true;
      return -EIO;
    }
    if (header.value == -EAGAIN && generation) *generation = header.request;
    return static_cast<ssize_t>(header.value);
  }

  // Sends `header` (and `out`), receives the reply into `header` (and `in`).
  // 0, or -errno when the connection failed.
  static int Exchange(int fd, Header& header, const void* out, void* in, size_t in_size) {
    const int sent = wire::SendMessage(fd, header, out);
    return sent < 0 ? sent : ReceiveReply(fd, &header, in, in_size, false);
  }

  static int ReceiveReply(int fd, Header* header, void* in, size_t in_size,
                          bool interruptible) {
    int result = wire::ReceiveExact(fd, header, sizeof *header, interruptible);
    if (result < 0) return result;
    if (header->size > in_size) return -EPROTO;
    return header->size ? wire::ReceiveExact(fd, in, header->size, false) : 0;
  }

  // A request the server holds (kWait): a signal ends the wait with -EINTR after
  // cancelling it, so the connection stays in step.
  int Held(Lease& lease, const Header& request) {
    int result = wire::SendMessage(lease.fd, request, nullptr);
    Header reply{};
    if (result == 0) result = ReceiveReply(lease.fd, &reply, nullptr, 0, true);
    if (result == -EINTR) {
      const Header cancel{wire::kCancel, 0, 0, 0};
      int drained = wire::SendMessage(lease.fd, cancel, nullptr);
      if (drained == 0) drained = ReceiveReply(lease.fd, &reply, nullptr, 0, false);
      if (drained < 0) lease.broken = true;
      return -EINTR;
    }
    if (result < 0) {
      lease.broken = true;
      return -EIO;
    }
    return static_cast<int>(reply.value);
  }

  std::string socket_path_;
  int64_t session_ = -1;
  std::mutex pool_mutex_;
  std::vector<int> idle_;
  bool closed_ = false;
  std::vector<std::pair<int, int>> polling_;  // (wake fd, connection) of held polls
};

}  // namespace

std::shared_ptr<OpenDevice> OpenServed(const std::string& socket_path, int flags,
                                       int* error) {
  auto device = std::make_shared<ServedDevice>(socket_path);
  const int opened = device->Open(flags);
  if (opened < 0) {
    *error = opened;
    return nullptr;
  }
  return device;
}

}  // namespace platform
