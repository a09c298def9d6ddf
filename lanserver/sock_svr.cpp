// Command socket server and the port machinery shared with the raw socket server.
#include "lanserver/sock_svr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <malloc.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "lanserver/async_sock_svr.h"
#include "lanserver/lan_hooks.h"
#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr int kReportedWaitFailures = 21;
// While removed clients wait to be freed the poller looks again this often, even
// when no client sends anything.
constexpr int kReapWaitMs = 100;
constexpr StallBound kGreetingBound = {100, 100};
// How often the accept thread looks again while its port keeps as many clients as it may.
constexpr int kClientsWaitMs = 10;

constexpr SockSvrNames kCommandNames = {"_ethernet/SockSvr", "PollData",
                                        "AcceptNewClients: accept()", nullptr};

bool SendText(int fd, const char* text, std::size_t length, int stop_fd) {
  return SendAll(fd, text, length, stop_fd, kGreetingBound) == static_cast<ssize_t>(length);
}

}  // namespace

SockSvr::SockSvr() : SockSvr(kCommandNames) {}

SockSvr::SockSvr(const SockSvrNames& names) : names_(names) {}

SockSvr::~SockSvr() {
  CleanupClientCol();
  if (wake_fd_ >= 0) close(wake_fd_);
}

int SockSvr::Start(uint16_t port, ServerThreads& threads, RouterWakeup* wakeup,
                   AsyncSockSvr* events) {
  stop_fd_ = threads.stop_fd();
  wakeup_ = wakeup;
  events_ = events;
  int fd = OpenListener(port, kListenBacklog, true);
  if (fd < 0) return -fd;
  listen_fd_ = fd;
  if (registry_.CreateEpoll() != 0) return errno;
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    int error = errno;
    std::perror("eventfd");
    return error;
  }
  for (int watched : {stop_fd_, wake_fd_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = watched;
    if (watched >= 0 && epoll_ctl(registry_.epoll_fd(), EPOLL_CTL_ADD, watched, &event) != 0) {
      int error = errno;
      std::perror("epoll_ctl");
      return error;
    }
  }
  return threads.Start([this] { AcceptNewClients(); });
}

void SockSvr::AcceptNewClients() {
  for (;;) {
    // As many clients as a port keeps: the next connection waits until one is freed.
    while (static_cast<std::size_t>(registry_.Count()) + retired_count_.load() >= kClientsMost) {
      if (!PauseUnlessStopped(stop_fd_, kClientsWaitMs)) return;
    }
    auto client = std::make_unique<ClientInfo>();
    int fd = AcceptConnection(listen_fd_, stop_fd_, &client->peer_address,
                              &client->address_length);
    if (fd == kStopped) return;
    if (fd < 0) {
      std::perror(names_.accept_error);
      if (!PauseUnlessStopped(stop_fd_, kAcceptRetryMs)) return;
      continue;
    }
    client->socket = fd;
    client->wake_fd = wake_fd_;
    client->address_length = sizeof(client->peer_address);
    getpeername(fd, reinterpret_cast<sockaddr*>(&client->peer_address),
                &client->address_length);
    greeting_ = fd;
    const bool added = Greet(client.get()) && registry_.AddClient(std::move(client)) == 0;
    greeting_ = -1;
    // A client that did not get its greeting is closed with its record; whatever named
    // its descriptor meanwhile is forgotten.
    if (!added && events_ != nullptr) events_->RemoveRegistrations(fd);
  }
}

bool SockSvr::IsClient(int fd) const {
  return fd >= 0 && (greeting_.load() == fd || registry_.Find(fd) != nullptr);
}

bool SockSvr::Greet(ClientInfo* client) {
  char number[16];
  int length = std::snprintf(number, sizeof(number), "%d\n", client->socket);
  if (!SendText(client->socket, kAcknowledge, sizeof(kAcknowledge), stop_fd_) ||
      !SendText(client->socket, number, static_cast<std::size_t>(length), stop_fd_)) {
    std::puts("AcceptNewClients: failed when sending FD to client");
    return false;
  }
  return true;
}

int SockSvr::PollTimeout() {
  if (!readable_.empty() || recheck_held_) return 0;
  int timeout = retired_.empty() ? -1 : kReapWaitMs;
  Clock::time_point when;
  if (NextDeadline(&when)) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    int until = static_cast<int>(std::max<decltype(left)>(left, 0));
    timeout = timeout < 0 ? until : std::min(timeout, until);
  }
  return timeout;
}

bool SockSvr::PollData() {
  std::vector<epoll_event>& events = registry_.EventArray();
  int timeout = PollTimeout();
  int ready = epoll_wait(registry_.epoll_fd(), events.data(), static_cast<int>(events.size()),
                         timeout);
  if (!IsRunning()) return false;
  if (ready < 0) {
    int error = errno;
    if (error != EINTR && wait_failures_++ < kReportedWaitFailures) {
      diag_error_line(names_.source, names_.poll_function, __LINE__,
                      "fd = %d, capacity = %d\n", registry_.epoll_fd(),
                      static_cast<int>(events.size()));
      errno = error;
      std::perror("epoll_wait");
    }
    return true;
  }
  if (ready == 0 && timeout < 0) std::puts("epoll_wait returned 0");
  for (int i = 0; i < ready; ++i) {
    const int fd = events[i].data.fd;
    if (fd == stop_fd_) return false;
    if (fd == wake_fd_) {
      uint64_t count = 0;
      if (read(wake_fd_, &count, sizeof(count)) < 0 && errno != EAGAIN) std::perror("read");
      recheck_held_ = true;
      continue;
    }
    if ((events[i].events & EPOLLOUT) != 0) {
      if (ClientInfo* client = registry_.Find(fd)) Writable(client);
    }
    if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0) {
      readable_.insert(fd);
    }
  }
  Clock::time_point when;
  if (NextDeadline(&when) && Clock::now() >= when) DeadlinePassed();
  if (recheck_held_) ResumeHeld();
  ServeReadable();
  ReapRetired();
  return true;
}

void SockSvr::PollLoop() {
  while (PollData()) {
  }
}

void SockSvr::ServeReadable() {
  // One turn each; a client with more to read waits for the next pass, after the
  // others had theirs.
  std::vector<int> turn(readable_.begin(), readable_.end());
  for (int fd : turn) {
    if (!ReadClient(fd)) readable_.erase(fd);
  }
}

void SockSvr::ResumeHeld() {
  recheck_held_ = false;
  std::vector<int> held(held_.begin(), held_.end());
  for (int fd : held) {
    ClientInfo* client = registry_.Find(fd);
    if (client == nullptr) {
      held_.erase(fd);
      continue;
    }
    if (Proceed(client)) {
      held_.erase(fd);
      readable_.insert(fd);  // what arrived while it was held has no new edge
    }
  }
}

bool SockSvr::ReadClient(int fd) {
  ClientInfo* client = registry_.Find(fd);
  if (client == nullptr) return false;
  for (int reads = 0; reads < kReadsPerTurn; ++reads) {
    if (Held(client)) {
      held_.insert(fd);
      return false;
    }
    ssize_t count = read(fd, buffer_.data(), std::min(ReadSize(client), buffer_.size()));
    if (count > 0) {
      Examine(client, buffer_.data(), static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR && IsRunning()) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (count < 0 && names_.read_error != nullptr) std::perror(names_.read_error);
    ClientGone(fd);
    return false;
  }
  return true;
}

void SockSvr::Examine(ClientInfo* client, const char* bytes, std::size_t count) {
  QueueChunk(client, bytes, count);
}

std::size_t SockSvr::ReadSize(ClientInfo*) { return kInboundChunkBytes; }

bool SockSvr::Held(ClientInfo* client) {
  // Responses that wait for the client: it gets no more until it has taken them.
  if (OutputWaiting(client)) return true;
  if (client->block.pending_chunks.load() < kQueuedMost) return false;
  return WaitForRouter(client, kQueuedResume);
}

bool SockSvr::Proceed(ClientInfo* client) { return !Held(client); }

void SockSvr::Writable(ClientInfo* client) {
  if (FlushOutput(client) && held_.count(client->socket) != 0) recheck_held_ = true;
}

void SockSvr::Leaving(ClientInfo*) {}

bool SockSvr::NextDeadline(Clock::time_point*) { return false; }

void SockSvr::DeadlinePassed() {}

bool SockSvr::WaitForRouter(ClientInfo* client, int32_t mark) {
  client->resume_at.store(mark);
  if (client->block.pending_chunks.load() > mark) return true;
  // Caught up meanwhile: the wait is taken back (unless the router took it first, in
  // which case its signal only makes the poller look once more).
  client->resume_at.store(-1);
  return false;
}

void SockSvr::QueueChunk(ClientInfo* client, const char* bytes, std::size_t count) {
  IEEE_Client* block = client != nullptr ? &client->block : nullptr;
  pushed_ += static_cast<uint64_t>(QueueInboundBytes(&inbound_, wakeup_, block, bytes, count));
}

void SockSvr::ClientGone(int fd) {
  readable_.erase(fd);
  held_.erase(fd);
  // Counted as removed before it leaves the registry, so that the accept thread, which
  // adds both counts, never sees it in neither.
  retired_count_ = retired_.size() + 1;
  std::unique_ptr<ClientInfo> client = registry_.RemoveClient(fd);
  if (events_ != nullptr) events_->RemoveRegistrations(fd);
  if (!client) {
    retired_count_ = retired_.size();
    std::puts("could not find client info object");
    return;
  }
  Leaving(client.get());
  QueueChunk(nullptr, "", 0);  // the marker
  retired_.push_back({std::move(client), pushed_});
  retired_count_ = retired_.size();
}

void SockSvr::ReapRetired() {
  uint64_t taken = pushed_ - static_cast<uint64_t>(inbound_.Count());
  const std::size_t before = retired_.size();
  for (auto entry = retired_.begin(); entry != retired_.end();) {
    if (entry->ticket > taken) {
      ++entry;
      continue;
    }
    // Registrations made while it waited would outlive it under a reusable number.
    if (events_ != nullptr) events_->RemoveRegistrations(entry->client->socket);
    entry = retired_.erase(entry);
  }
  retired_count_ = retired_.size();
#ifdef __GLIBC__
  // Client records are large (their blocks hold a response and a line): after the last
  // of a crowd has gone, the heap they took is given back rather than kept for good.
  if (before > 0 && retired_.empty()) malloc_trim(0);
#endif
}

void SockSvr::CleanupClientCol() {
  registry_.CleanupClientCol();
  retired_.clear();
  retired_count_ = 0;
  readable_.clear();
  held_.clear();
  inbound_.Clear();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

}  // namespace lan
