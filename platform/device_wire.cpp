// Whole-message send and receive for the device socket protocol.
#include "platform/device_wire.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::wire {

SocketAddress::SocketAddress(const std::string& path) {
  address_.sun_family = AF_UNIX;
  std::string usable = path;
  if (path.size() >= sizeof address_.sun_path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
      error_ = -ENAMETOOLONG;
      return;
    }
    folder_fd_ = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd_ < 0) {
      error_ = -errno;
      return;
    }
    char via[64];
    std::snprintf(via, sizeof via, "/proc/self/fd/%d", folder_fd_);
    usable = via + path.substr(slash);
    if (usable.size() >= sizeof address_.sun_path) {
      error_ = -ENAMETOOLONG;
      return;
    }
  }
  std::memcpy(address_.sun_path, usable.c_str(), usable.size() + 1);
}

SocketAddress::~SocketAddress() {
  if (folder_fd_ >= 0) close(folder_fd_);
}

int SendMessage(int fd, const Header& header, const void* payload) {
  iovec parts[2] = {{const_cast<Header*>(&header), sizeof header},
                    {const_cast<void*>(payload), payload ? header.size : 0}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = payload && header.size ? 2 : 1;
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away is an error code here, not SIGPIPE.
    const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    size_t left = static_cast<size_t>(sent);
    while (message.msg_iovlen > 0 && left >= message.msg_iov[0].iov_len) {
      left -= message.msg_iov[0].iov_len;
      ++message.msg_iov;
      --message.msg_iovlen;
    }
    if (message.msg_iovlen == 0) return 0;
    message.msg_iov[0].iov_base = static_cast<char*>(message.msg_iov[0].iov_base) + left;
    message.msg_iov[0].iov_len -= left;
  }
}

int ReceiveExact(int fd, void* buffer, size_t size, bool interruptible) {
  char* at = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t got = recv(fd, at + done, size - done, 0);
    if (got == 0) return -EPIPE;
    if (got < 0) {
      if (errno == EINTR && !(interruptible && done == 0)) continue;
      return -errno;
    }
    done += static_cast<size_t>(got);
  }
  return 0;
}

}  // namespace platform::wire
