// The device server: one acceptor thread over the devices' listening sockets and one
// thread per connection that answers requests against the device model. Requests
// that wait (kWait, kPoll) wait here on the model's change notification, and end
// early when the client sends anything (kCancel) or goes away.
#include "sim/device_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>

#include "platform/device_model.h"
#include "platform/device_wire.h"
#include "platform/paths.h"

namespace sim {

using platform::DeviceModel;
using platform::wire::Header;
namespace wire = platform::wire;

struct DeviceServer::Listener {
  ~Listener() {
    if (fd >= 0) close(fd);
  }
  std::string fixed_path;
  std::string socket_path;
  std::shared_ptr<DeviceModel> model;
  int fd = -1;
};

// One open of a device, shared by the connections that joined it.
struct DeviceServer::Session {
  Session(std::shared_ptr<DeviceModel> model, uint64_t id)
      : model(std::move(model)), id(id), open_id(DeviceModel::NewOpenId()) {}
  ~Session() { Close(); }
  void Close() {
    if (!closed.exchange(true)) model->Close(open_id);
  }
  std::shared_ptr<DeviceModel> model;
  uint64_t id;
  uint64_t open_id;
  std::atomic<bool> closed{false};
};

struct DeviceServer::Connection {
  ~Connection() {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
  std::shared_ptr<Listener> listener;
  std::thread thread;
  std::atomic<bool> finished{false};
};

namespace {

// Creates the folders above `path`, as "mkdir -p" of its parent would.
int MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) < 0 && errno != EEXIST) return -errno;
  }
  return 0;
}

int Listen(const std::string& socket_path) {
  if (const int made = MakeParents(socket_path); made < 0) return made;
  const wire::SocketAddress address(socket_path);
  if (address.error()) return address.error();
  struct stat existing{};
  if (lstat(socket_path.c_str(), &existing) == 0) {
    // A socket left by an earlier run is replaced; anything else is not ours.
    if (!S_ISSOCK(existing.st_mode)) return -EEXIST;
    unlink(socket_path.c_str());
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  if (bind(fd, address.get(), address.size()) < 0 ||
      listen(fd, 64) < 0) {
    const int error = errno;
    close(fd);
    return -error;
  }
  return fd;
}

void Wake(int wake_fd) {
  const uint64_t one = 1;
  if (write(wake_fd, &one, sizeof one) < 0) {
    // The eventfd is only full when it has long been readable: the wake is there.
  }
}

void Drain(int wake_fd) {
  pollfd entry{wake_fd, POLLIN, 0};
  uint64_t count;
  if (poll(&entry, 1, 0) == 1 && read(wake_fd, &count, sizeof count) < 0) {
    // Nothing left to drain.
  }
}

// Holds a waiting request until `done(generation)` holds, the time limit passes
// (timeout_ms < 0: none), or the client sends something or goes away.
template <typename Done>
void Hold(DeviceModel& model, int client_fd, int wake_fd, int timeout_ms, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const uint64_t generation = model.Watch(wake_fd);
    if (done(generation)) {
      model.Unwatch(wake_fd);
      return;
    }
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait_ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    pollfd entries[2] = {{client_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int polled = poll(entries, 2, wait_ms);
    model.Unwatch(wake_fd);
    Drain(wake_fd);
    if (polled < 0 && errno != EINTR) return;
    if (entries[0].revents) return;
    if (polled == 0 && wait_ms >= 0) return;
  }
}

}  // namespace

DeviceServer::DeviceServer() : wake_fd_(eventfd(0, EFD_CLOEXEC)) {}

DeviceServer::~DeviceServer() {
  Stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

int DeviceServer::Add(std::string_view fixed_path, std::shared_ptr<DeviceModel> model) {
  auto listener = std::make_shared<Listener>();
  listener->fixed_path = std::string(fixed_path);
  listener->socket_path = platform::ResolvePath(fixed_path);
  listener->model = std::move(model);
  std::lock_guard lock(mutex_);
  for (const auto& served : listeners_) {
    if (served->fixed_path == listener->fixed_path) return -EEXIST;
  }
  listener->fd = Listen(listener->socket_path);
  if (listener->fd < 0) return listener->fd;
  listeners_.push_back(std::move(listener));
  Wake(wake_fd_);
  return 0;
}

int DeviceServer::Remove(std::string_view fixed_path) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(listeners_.begin(), listeners_.end(),
                         [&](const auto& served) { return served->fixed_path == fixed_path; });
  if (it == listeners_.end()) return -ENOENT;
  unlink((*it)->socket_path.c_str());
  for (const auto& connection : connections_) {
    if (connection->listener == *it) shutdown(connection->fd, SHUT_RDWR);
  }
  listeners_.erase(it);
  Wake(wake_fd_);
  return 0;
}

int DeviceServer::Start() {
  if (wake_fd_ < 0) return -EMFILE;
  std::lock_guard lock(mutex_);
  if (acceptor_.joinable()) return -EALREADY;
  stopping_ = false;
  // The server's threads take no signals: they belong to the process's own threads.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  acceptor_ = std::thread(&DeviceServer::AcceptLoop, this);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return 0;
}

void DeviceServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    Wake(wake_fd_);
  }
  if (acceptor_.joinable()) acceptor_.join();

  std::vector<std::shared_ptr<Connection>> connections;
  std::vector<std::shared_ptr<Listener>> listeners;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
    listeners.swap(listeners_);
    for (const auto& connection : connections) shutdown(connection->fd, SHUT_RDWR);
  }
  for (const auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  for (const auto& listener : listeners) unlink(listener->socket_path.c_str());
  Drain(wake_fd_);
}

void DeviceServer::AcceptLoop() {
  for (;;) {
    std::vector<std::shared_ptr<Listener>> listeners;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      listeners = listeners_;
    }
    ReapFinished();
    std::vector<pollfd> entries;
    entries.push_back({wake_fd_, POLLIN, 0});
    for (const auto& listener : listeners) entries.push_back({listener->fd, POLLIN, 0});
    if (poll(entries.data(), entries.size(), -1) < 0 && errno != EINTR) return;
    if (entries[0].revents) Drain(wake_fd_);
    for (size_t i = 1; i < entries.size(); ++i) {
      if (entries[i].revents & POLLIN) Accept(listeners[i - 1]);
    }
  }
}

void DeviceServer::Accept(const std::shared_ptr<Listener>& listener) {
  const int fd = accept4(listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;  // the client gave up already, or the listener was removed
  auto connection = std::make_shared<Connection>();
  connection->fd = fd;
  connection->listener = listener;
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  connection->thread = std::thread(&DeviceServer::Serve, this, connection);
  connections_.push_back(std::move(connection));
}

void DeviceServer::ReapFinished() {
  std::vector<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard lock(mutex_);
    auto done = std::stable_partition(connections_.begin(), connections_.end(),
                                      [](const auto& c) { return !c->finished; });
    finished.assign(std::make_move_iterator(done), std::make_move_iterator(connections_.end()));
    connections_.erase(done, connections_.end());
  }
  for (const auto& connection : finished) connection->thread.join();
}

void DeviceServer::Serve(std::shared_ptr<Connection> connection) {
  const int fd = connection->fd;
  DeviceModel& model = *connection->listener->model;
  const int wake_fd = eventfd(0, EFD_CLOEXEC);
  std::shared_ptr<Session> session;
  std::vector<char> payload;
  Header request{};

  while (wake_fd >= 0 && wire::ReceiveExact(fd, &request, sizeof request, false) == 0 &&
         request.size <= wire::kMaxPayload) {
    payload.resize(request.size);
    if (request.size && wire::ReceiveExact(fd, payload.data(), request.size, false) < 0) break;
    Header reply{request.op, 0, 0, 0};
    const char* reply_payload = nullptr;
    const bool open = session && !session->closed;
    const uint64_t open_id = open ? session->open_id : 0;

    if (request.op == wire::kCancel) continue;  // nothing held: nothing to answer
    if (request.op == wire::kOpen || request.op == wire::kAttach) {
      if (session) {
        reply.value = -EINVAL;
      } else if (request.op == wire::kOpen) {
        std::lock_guard lock(mutex_);
        auto fresh = std::make_shared<Session>(connection->listener->model, next_session_++);
        const int opened = model.Open(fresh->open_id, static_cast<int>(request.request));
        if (opened < 0) {
          fresh->closed = true;  // refused: nothing to close on the model
          reply.value = opened;
        } else {
          sessions_.push_back(fresh);
          session = std::move(fresh);
          reply.value = static_cast<int64_t>(session->id);
        }
      } else {
        std::lock_guard lock(mutex_);
        for (const auto& known : sessions_) {
          if (known->id == request.request && !known->closed) session = known;
        }
        reply.value = session ? 0 : -EBADF;
      }
    } else if (!open) {
      reply.value = -EBADF;
    } else {
      switch (request.op) {
        case wire::kClose:
          session->Close();
          break;
        case wire::kRead: {
          const size_t wanted = static_cast<size_t>(
              std::clamp<int64_t>(request.value, 0, wire::kMaxPayload));
          reply.request = model.Generation();
          payload.resize(wanted);
          const ssize_t got = model.Read(open_id, payload.data(), wanted);
          reply.value = got;
          if (got > 0) {
            reply.size = static_cast<uint32_t>(got);
            reply_payload = payload.data();
          }
          break;
        }
        case wire::kWrite:
          reply.request = model.Generation();
          reply.value = model.Write(open_id, payload.data(), payload.size());
          break;
        case wire::kIoctl:
          reply.request = model.Generation();
          reply.value = model.Ioctl(open_id, request.request, payload.data(), payload.size());
          reply.size = request.size;  // the argument goes back, as the model left it
          reply_payload = payload.data();
          break;
        case wire::kIoctlSequence: {
          // Each argument in turn, as single requests would run them; the first
          // failure ends it (-EAGAIN included: the client waits for that one itself).
          const size_t size = static_cast<size_t>(request.value);
          uint64_t done = 0;
          reply.value = size == 0 || payload.size() % size != 0 ? -EINVAL : 0;
          for (size_t at = 0; reply.value == 0 && at < payload.size(); at += size) {
            const int result = model.Ioctl(open_id, request.request, payload.data() + at, size);
            if (result < 0) reply.value = result;
            if (result >= 0) ++done;
          }
          reply.request = done;
          reply.size = request.size;
          reply_payload = payload.data();
          break;
        }
        case wire::kIoctlValue:
          reply.request = model.Generation();
          reply.value = model.IoctlValue(open_id, request.request,
                                         static_cast<unsigned long>(request.value));
          break;
        case wire::kWait:
          Hold(model, fd, wake_fd, -1,
               [&](uint64_t generation) { return generation != request.request; });
          break;
        case wire::kPoll: {
          const short wanted = static_cast<short>(request.request) | POLLERR | POLLHUP;
          Hold(model, fd, wake_fd, static_cast<int>(request.value),
               [&](uint64_t) { return (model.Readiness(open_id) & wanted) != 0; });
          reply.value = model.Readiness(open_id) & wanted;
          break;
        }
        case wire::kMapWindow:
          reply.value = model.MapWindow(open_id, request.request,
                                        static_cast<size_t>(request.value));
          break;
        case wire::kRegRead16:
        case wire::kRegRead32: {
          uint32_t data = 0;
          reply.value = model.RegisterRead(open_id, static_cast<uint32_t>(request.request),
                                           request.op == wire::kRegRead16 ? 2 : 4, &data);
          reply.request = data;
          break;
        }
        case wire::kRegWrite16:
        case wire::kRegWrite32:
          reply.value = model.RegisterWrite(open_id, static_cast<uint32_t>(request.request),
                                            request.op == wire::kRegWrite16 ? 2 : 4,
                                            static_cast<uint32_t>(request.value));
          break;
        default:
          reply.value = -EINVAL;
      }
    }
    if (wire::SendMessage(fd, reply, reply_payload) < 0) break;
  }

  if (wake_fd >= 0) close(wake_fd);
  {
    // The session ends with its last connection; it leaves the list once unused.
    std::lock_guard lock(mutex_);
    session.reset();
    std::erase_if(sessions_, [](const auto& known) { return known.use_count() == 1; });
  }
  connection->finished = true;
}

}  // namespace sim
