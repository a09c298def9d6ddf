// Command socket server and the port machinery shared with the raw socket server.
#include "lanserver/sock_svr.h"

#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "lanserver/async_sock_svr.h"
#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr int kReportedWaitFailures = 21;
// While removed clients wait to be freed the poller looks again this often, even
// when no client sends anything.
constexpr int kReapWaitMs = 100;
constexpr StallBound kGreetingBound = {100, 100};

constexpr SockSvrNames kCommandNames = {"_ethernet/SockSvr", "PollData",
                                        "AcceptNewClients: accept()", nullptr};

bool SendText(int fd, const char* text, std::size_t length, int stop_fd) {
  return SendAll(fd, text, length, stop_fd, kGreetingBound) == static_cast<ssize_t>(length);
}

}  // namespace

SockSvr::SockSvr() : SockSvr(kCommandNames) {}

SockSvr::SockSvr(const SockSvrNames& names) : names_(names) {}

SockSvr::~SockSvr() { CleanupClientCol(); }

int SockSvr::Start(uint16_t port, ServerThreads& threads, RouterWakeup* wakeup,
                   AsyncSockSvr* events) {
  stop_fd_ = threads.stop_fd();
  wakeup_ = wakeup;
  events_ = events;
  int fd = OpenListener(port, kListenBacklog, true);
  if (fd < 0) return -fd;
  listen_fd_ = fd;
  if (registry_.CreateEpoll() != 0) return errno;
  epoll_event stop{};
  stop.events = EPOLLIN;
  stop.data.fd = stop_fd_;
  if (stop_fd_ >= 0 && epoll_ctl(registry_.epoll_fd(), EPOLL_CTL_ADD, stop_fd_, &stop) != 0) {
    int error = errno;
    std::perror("epoll_ctl");
    return error;
  }
  return threads.Start([this] { AcceptNewClients(); });
}

void SockSvr::AcceptNewClients() {
  for (;;) {
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
    client->address_length = sizeof(client->peer_address);
    getpeername(fd, reinterpret_cast<sockaddr*>(&client->peer_address),
                &client->address_length);
    // A client that did not get its greeting is closed with its record.
    if (Greet(client.get())) registry_.AddClient(std::move(client));
  }
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

bool SockSvr::PollData() {
  std::vector<epoll_event>& events = registry_.EventArray();
  int timeout = retired_.empty() ? -1 : kReapWaitMs;
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
    if (events[i].data.fd == stop_fd_) return false;
    ReadClient(events[i].data.fd);
  }
  ReapRetired();
  return true;
}

void SockSvr::PollLoop() {
  while (PollData()) {
  }
}

void SockSvr::ReadClient(int fd) {
  // Edge-triggered: read until the socket has nothing more, or the next bytes would
  // never be announced.
  char buffer[kInboundChunkBytes];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof(buffer));
    if (count > 0) {
      ClientInfo* client = registry_.Find(fd);
      if (client == nullptr) {
        std::puts("could not find client info object");
        return;
      }
      Examine(client, buffer, static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR && IsRunning()) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count < 0 && names_.read_error != nullptr) std::perror(names_.read_error);
    ClientGone(fd);
    return;
  }
}

void SockSvr::Examine(ClientInfo* client, const char* bytes, std::size_t count) {
  QueueChunk(client, bytes, count);
}

void SockSvr::QueueChunk(ClientInfo* client, const char* bytes, std::size_t count) {
  IEEE_Client* block = client != nullptr ? &client->block : nullptr;
  if (PushInboundChunk(&inbound_, wakeup_, block, bytes, count) == 0) ++pushed_;
}

void SockSvr::ClientGone(int fd) {
  std::unique_ptr<ClientInfo> client = registry_.RemoveClient(fd);
  if (events_ != nullptr) events_->RemoveRegistrations(fd);
  if (!client) {
    std::puts("could not find client info object");
    return;
  }
  QueueChunk(nullptr, "", 0);  // the marker
  retired_.push_back({std::move(client), pushed_});
  retired_count_ = retired_.size();
}

void SockSvr::ReapRetired() {
  uint64_t taken = pushed_ - static_cast<uint64_t>(inbound_.Count());
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
}

void SockSvr::CleanupClientCol() {
  registry_.CleanupClientCol();
  retired_.clear();
  retired_count_ = 0;
  inbound_.Clear();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

}  // namespace lan
