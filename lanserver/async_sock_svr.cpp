// Event socket server: accept, handshakes, registry, notices.
#include "lanserver/async_sock_svr.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/event_reader.h"
#include "core/run_state.h"
#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr std::size_t kHandshakeTextSize = 256;  // up to 255 bytes and a NUL
constexpr uint64_t kListenId = 0;
constexpr uint64_t kStopId = 1;
constexpr int kEventsPerWait = 64;
// Reads of what a registered client sends (nothing is expected) before the next one.
constexpr int kWatchReads = 16;
// A notice that went out in part is finished within this bound; one that cannot start
// at once is dropped, so a stuck client never holds the event reader.
constexpr StallBound kNoticeRest = {10, 20};

// The sockets are non-blocking and a handshake step has nothing before it unsent, so
// the two bytes go at once or the client is gone.
bool Acknowledge(int fd) {
  return send(fd, kAcknowledge, sizeof(kAcknowledge), MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(sizeof(kAcknowledge));
}

bool WatchSocket(int epoll_fd, int fd, uint64_t id) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.u64 = id;
  if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) == 0) return true;
  std::perror("AcceptAsyncConn: epoll_ctl");
  return false;
}

enum class NoticeResult { kSent, kDropped, kPeerGone };

NoticeResult SendNotice(int fd, const uint8_t notice[kEventNoticeSize]) {
  ssize_t sent = send(fd, notice, kEventNoticeSize, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent == kEventNoticeSize) return NoticeResult::kSent;
  if (sent < 0) {
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? NoticeResult::kDropped
                                                                       : NoticeResult::kPeerGone;
  }
  // Half a notice would shift every later one: finish it.
  std::size_t rest = kEventNoticeSize - static_cast<std::size_t>(sent);
  ssize_t more = SendAll(fd, notice + sent, rest, -1, kNoticeRest);
  return more == static_cast<ssize_t>(rest) ? NoticeResult::kSent : NoticeResult::kPeerGone;
}

}  // namespace

EventSocket::~EventSocket() {
  if (socket >= 0) close(socket);
}

AsyncSockSvr::~AsyncSockSvr() { Destroy(); }

int AsyncSockSvr::Start(uint16_t port, ServerThreads& threads, CommandCheck is_command) {
  stop_fd_ = threads.stop_fd();
  is_command_ = std::move(is_command);
  int fd = OpenListener(port, kListenBacklog, false);
  if (fd < 0) return -fd;
  listen_fd_ = fd;
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) {
    int error = errno;
    std::perror("epoll_create");
    return error;
  }
  if (!WatchSocket(epoll_fd_, listen_fd_, kListenId) ||
      (stop_fd_ >= 0 && !WatchSocket(epoll_fd_, stop_fd_, kStopId))) {
    return errno != 0 ? errno : EINVAL;
  }
  return threads.Start([this] { AcceptAsyncConn(); });
}

void AsyncSockSvr::AcceptAsyncConn() {
  epoll_event events[kEventsPerWait];
  for (;;) {
    int ready = epoll_wait(epoll_fd_, events, kEventsPerWait, NextTimeout());
    if (!IsRunning()) return;
    if (ready < 0 && errno != EINTR) {
      std::perror("AcceptAsyncConn: epoll_wait");
      if (!PauseUnlessStopped(stop_fd_, kAcceptRetryMs)) return;
    }
    for (int i = 0; i < ready; ++i) {
      const uint64_t id = events[i].data.u64;
      if (id == kStopId) return;
      if (id == kListenId) {
        AcceptPending();
        continue;
      }
      auto handshake = handshakes_.find(id);
      if (handshake != handshakes_.end()) {
        Step(handshake->second);
      } else {
        Watch(id);
      }
    }
    ExpireHandshakes();
  }
}

void AsyncSockSvr::AcceptPending() {
  for (;;) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Reported, and accepting goes on: a passing shortage (descriptors, buffers)
      // must not end the event service for good, nor make this thread spin.
      std::perror("AcceptAsyncConn: accept()");
      PauseUnlessStopped(stop_fd_, kAcceptRetryMs);
      return;
    }
    auto record = std::make_unique<EventSocket>();
    record->socket = fd;
    record->id = next_id_++;
    if (!Acknowledge(fd) || !WatchSocket(epoll_fd_, fd, record->id)) continue;  // closed
    const uint64_t id = record->id;
    handshakes_[id] = {std::move(record), 1,
                       Clock::now() + std::chrono::milliseconds(kHandshakeWaitMs)};
  }
}

void AsyncSockSvr::Step(Handshake& handshake) {
  EventSocket& record = *handshake.record;
  const uint64_t id = record.id;
  char text[kHandshakeTextSize];
  ssize_t received = recv(record.socket, text, kHandshakeTextSize - 1, MSG_DONTWAIT);
  if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (received < 1) {  // closed or failed: the handshake fails, its socket is closed
    handshakes_.erase(id);
    return;
  }
  text[received] = '\0';
  if (handshake.step == 1) {
    if (text[received - 1] != '\n') {
      std::puts("fd received with out line feed");
      handshakes_.erase(id);
      return;
    }
    text[received - 1] = '\0';
    record.linked = std::atoi(text);
    // A registration for a descriptor that is no command connection would never end.
    if (!IsCommand(record.linked)) {
      std::printf("event registration refused: %d is no command connection\n", record.linked);
      handshakes_.erase(id);
      return;
    }
    if (!Acknowledge(record.socket)) {
      handshakes_.erase(id);
      return;
    }
    handshake.step = 2;
    handshake.deadline = Clock::now() + std::chrono::milliseconds(kHandshakeWaitMs);
    return;
  }
  record.mask = static_cast<uint32_t>(std::strtol(text, nullptr, 16));
  std::unique_ptr<EventSocket> done = std::move(handshake.record);
  handshakes_.erase(id);
  Register(std::move(done));
}

void AsyncSockSvr::Register(std::unique_ptr<EventSocket> record) {
  std::lock_guard<std::mutex> hold(mutex_);
  // Checked under the lock that the removal takes: a command socket that closed
  // during the handshake has had its registrations removed already.
  if (!IsCommand(record->linked)) return;
  // Acknowledged under the lock too: the client that reads the last acknowledgement is
  // registered already, and no notice can go out on its socket before that acknowledgement.
  if (!Acknowledge(record->socket)) return;
  int linked = record->linked;
  registry_.emplace(linked, std::move(record));
  ++count_;
}

void AsyncSockSvr::Watch(uint64_t id) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto entry = registry_.begin(); entry != registry_.end(); ++entry) {
    if (entry->second->id != id) continue;
    char scratch[256];
    for (int reads = 0; reads < kWatchReads; ++reads) {
      ssize_t received = recv(entry->second->socket, scratch, sizeof(scratch), MSG_DONTWAIT);
      if (received > 0) continue;  // nothing is expected from the client: dropped
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      // Its client closed it (or it failed): closed and forgotten now.
      registry_.erase(entry);
      --count_;
      return;
    }
    return;
  }
  // Not registered (any more): an event from before its socket was closed.
}

int AsyncSockSvr::NextTimeout() const {
  if (handshakes_.empty()) return -1;
  Clock::time_point first = Clock::time_point::max();
  for (const auto& [id, handshake] : handshakes_) first = std::min(first, handshake.deadline);
  auto left = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

void AsyncSockSvr::ExpireHandshakes() {
  const Clock::time_point now = Clock::now();
  for (auto entry = handshakes_.begin(); entry != handshakes_.end();) {
    entry = entry->second.deadline <= now ? handshakes_.erase(entry) : std::next(entry);
  }
}

bool AsyncSockSvr::IsCommand(int descriptor) const {
  return !is_command_ || is_command_(descriptor);
}

void AsyncSockSvr::RemoveRegistrations(int linked) {
  std::lock_guard<std::mutex> hold(mutex_);
  count_ -= static_cast<int32_t>(registry_.erase(linked));
}

void AsyncSockSvr::NotifyEcho_Interface(int type, const uint8_t* data, int count) {
  uint8_t notice[kEventNoticeSize];
  FormatEventNotice(NotifyEchoEventWord(type, data, count), notice);
  // Sends happen under the lock, so no socket is closed (and its number reused) while
  // a notice goes out on it; each send is non-blocking, so the lock is held briefly.
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto entry = registry_.begin(); entry != registry_.end();) {
    const EventSocket& record = *entry->second;
    if (EventIsRegistered(type, record.mask, data) == 1 &&
        SendNotice(record.socket, notice) == NoticeResult::kPeerGone) {
      entry = registry_.erase(entry);
      --count_;
      continue;
    }
    ++entry;
  }
}

void AsyncSockSvr::NotifyHook(int type, const uint8_t* data, int count, void* context) {
  static_cast<AsyncSockSvr*>(context)->NotifyEcho_Interface(type, data, count);
}

std::vector<EventRegistration> AsyncSockSvr::Registrations() const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<EventRegistration> copy;
  for (const auto& [linked, record] : registry_) {
    copy.push_back({record->socket, linked, record->mask});
  }
  return copy;
}

int32_t AsyncSockSvr::Count() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return count_;
}

void AsyncSockSvr::Destroy() {
  std::lock_guard<std::mutex> hold(mutex_);
  registry_.clear();
  handshakes_.clear();
  count_ = 0;
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
  if (epoll_fd_ >= 0) close(epoll_fd_);
  epoll_fd_ = -1;
}

}  // namespace lan
