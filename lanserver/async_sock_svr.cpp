// Event socket server: accept, handshake, registry and notices.
#include "lanserver/async_sock_svr.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/event_reader.h"
#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr std::size_t kHandshakeTextSize = 256;  // up to 255 bytes and a NUL

// A client that opened the socket but does not answer the handshake must not hold the
// accept thread: each step waits at most this long.
constexpr int kHandshakeWaitMs = 10000;
constexpr StallBound kHandshakeSend = {100, 100};
// A notice that went out in part is finished within this bound; one that cannot start
// at once is dropped, so a stuck client never holds the event reader.
constexpr StallBound kNoticeRest = {10, 20};

bool Acknowledge(int fd, int stop_fd) {
  return SendAll(fd, kAcknowledge, sizeof(kAcknowledge), stop_fd, kHandshakeSend) ==
         static_cast<ssize_t>(sizeof(kAcknowledge));
}

// Receives one handshake step: up to 255 bytes, NUL-terminated. The count received, or
// 0 when nothing came (closed, failed, timed out or stopped).
ssize_t ReceiveStep(int fd, int stop_fd, char text[kHandshakeTextSize]) {
  if (WaitReady(fd, POLLIN, stop_fd, kHandshakeWaitMs) != 1) return 0;
  ssize_t received = recv(fd, text, kHandshakeTextSize - 1, MSG_DONTWAIT);
  if (received < 1) return 0;
  text[received] = '\0';
  return received;
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

int AsyncSockSvr::Start(uint16_t port, ServerThreads& threads) {
  stop_fd_ = threads.stop_fd();
  int fd = OpenListener(port, kListenBacklog, false);
  if (fd < 0) return -fd;
  listen_fd_ = fd;
  return threads.Start([this] { AcceptAsyncConn(); });
}

void AsyncSockSvr::AcceptAsyncConn() {
  for (;;) {
    auto record = std::make_unique<EventSocket>();
    sockaddr_in address{};
    socklen_t length = 0;
    record->socket = AcceptConnection(listen_fd_, stop_fd_, &address, &length);
    if (record->socket == kStopped) return;
    if (record->socket < 0) {
      // Reported, and accepting goes on: a passing shortage (descriptors, buffers)
      // must not end the event service for good.
      std::perror("AcceptAsyncConn: accept()");
      if (!PauseUnlessStopped(stop_fd_, kAcceptRetryMs)) return;
      continue;
    }
    // A failed handshake closes the socket with the record.
    if (Handshake(record.get())) Insert(std::move(record));
  }
}

bool AsyncSockSvr::Handshake(EventSocket* record) {
  char text[kHandshakeTextSize];
  if (!Acknowledge(record->socket, stop_fd_)) return false;
  ssize_t received = ReceiveStep(record->socket, stop_fd_, text);
  if (received == 0) return false;
  if (text[received - 1] != '\n') {
    std::puts("fd received with out line feed");
    return false;
  }
  text[received - 1] = '\0';
  record->linked = std::atoi(text);
  if (!Acknowledge(record->socket, stop_fd_)) return false;
  if (ReceiveStep(record->socket, stop_fd_, text) == 0) return false;
  record->mask = static_cast<uint32_t>(std::strtol(text, nullptr, 16));
  return Acknowledge(record->socket, stop_fd_);
}

void AsyncSockSvr::Insert(std::unique_ptr<EventSocket> record) {
  std::lock_guard<std::mutex> hold(mutex_);
  int linked = record->linked;
  registry_.emplace(linked, std::move(record));
  ++count_;
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
  count_ = 0;
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

}  // namespace lan
