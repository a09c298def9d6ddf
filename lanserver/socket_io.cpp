// Listening, accepting and whole transfers on the LAN server's sockets.
#include "lanserver/socket_io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "platform/paths.h"

namespace lan {

namespace {

// True when a send or receive failure only means "not now".
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Waits for progress after a transfer found the socket not ready. False when the
// transfer must end: a stop, a poll failure, or the stall bound used up.
bool AwaitProgress(int fd, short events, int stop_fd, StallBound bound, int* failures) {
  for (;;) {
    if (++*failures > bound.attempts) return false;
    int ready = WaitReady(fd, events, stop_fd, bound.wait_ms);
    if (ready != 0) return ready == 1;
  }
}

}  // namespace

int OpenListener(uint16_t port, int backlog, bool keepalive) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    int error = errno;
    diag_call_error(DiagCall::socket, "socket()", error);
    return -error;
  }
  int one = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0) {
    std::perror("setsockopt");
  }
  if (keepalive && setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one)) != 0) {
    std::perror("setsockopt");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, platform::BindAddress().c_str(), &address.sin_addr) != 1) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    int error = errno;
    std::perror("bind()");
    diag_call_error(DiagCall::bind, "bind()", error);
    close(fd);
    return -error;
  }
  if (listen(fd, backlog) != 0) {
    int error = errno;
    std::perror("listen()");
    diag_call_error(DiagCall::listen, "listen()", error);
    close(fd);
    return -error;
  }
  return fd;
}

int WaitReady(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd watched[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  nfds_t count = stop_fd >= 0 ? 2 : 1;
  for (;;) {
    int ready = poll(watched, count, timeout_ms);
    if (!IsRunning()) return kStopped;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (count == 2 && watched[1].revents != 0) return kStopped;
    return ready > 0 ? 1 : 0;
  }
}

bool PauseUnlessStopped(int stop_fd, int ms) {
  pollfd stop = {stop_fd, POLLIN, 0};
  int ready = poll(&stop, stop_fd >= 0 ? 1 : 0, ms);
  return IsRunning() && !(ready > 0 && stop.revents != 0);
}

int AcceptConnection(int listen_fd, int stop_fd, sockaddr_in* address, socklen_t* length) {
  for (;;) {
    int ready = WaitReady(listen_fd, POLLIN, stop_fd, -1);
    if (ready != 1) return ready;
    *length = sizeof(*address);
    int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(address), length, SOCK_CLOEXEC);
    if (!IsRunning()) {
      if (fd >= 0) close(fd);
      return kStopped;
    }
    // A connection that went away between the wake-up and the accept is no failure.
    if (fd < 0 && (WouldBlock(errno) || errno == EINTR || errno == ECONNABORTED)) continue;
    return fd;
  }
}

ssize_t SendAll(int fd, const void* data, std::size_t length, int stop_fd, StallBound bound) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  int failures = 0;
  while (sent < length) {
    ssize_t result = send(fd, bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result > 0) {
      sent += static_cast<std::size_t>(result);
      failures = 0;
      continue;
    }
    if (result < 0 && errno == EINTR && IsRunning()) continue;
    if (result < 0 && !WouldBlock(errno)) return sent > 0 ? static_cast<ssize_t>(sent) : -1;
    if (!AwaitProgress(fd, POLLOUT, stop_fd, bound, &failures)) break;
  }
  return static_cast<ssize_t>(sent);
}

std::size_t ReceiveAll(int fd, void* data, std::size_t length, int stop_fd, StallBound bound) {
  char scratch[4096];
  char* bytes = static_cast<char*>(data);
  std::size_t received = 0;
  int failures = 0;
  while (received < length) {
    std::size_t wanted = length - received;
    char* into = bytes != nullptr ? bytes + received : scratch;
    if (bytes == nullptr && wanted > sizeof(scratch)) wanted = sizeof(scratch);
    ssize_t result = recv(fd, into, wanted, MSG_DONTWAIT);
    if (result > 0) {
      received += static_cast<std::size_t>(result);
      failures = 0;
      continue;
    }
    if (result == 0) break;  // the client closed
    if (errno == EINTR && IsRunning()) continue;
    if (!WouldBlock(errno)) break;
    if (!AwaitProgress(fd, POLLIN, stop_fd, bound, &failures)) break;
  }
  return received;
}

int SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return -1;
  return fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace lan
