// The TCP client of the system tests and the end-to-end benchmark.
#include "sim/line_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace sim {

LineClient::~LineClient() { Close(); }

bool LineClient::Connect(uint16_t port) { return Connect("127.0.0.1", port); }

bool LineClient::Connect(const std::string& host, uint16_t port, int receive_buffer) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && receive_buffer > 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  const bool connected = fd_ >= 0 && connect(fd_, found->ai_addr, found->ai_addrlen) == 0;
  freeaddrinfo(found);
  if (!connected) {
    Close();
    return false;
  }
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

void LineClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool LineClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Waits up to `timeout_ms` for more bytes and appends them. False on timeout or close.
bool LineClient::Fill(int timeout_ms) {
  pollfd entry{fd_, POLLIN, 0};
  int ready = poll(&entry, 1, timeout_ms);
  if (ready <= 0) return false;
  char buffer[65536];
  ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

bool LineClient::ReadExactly(std::size_t count, std::string* out, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (pending_.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) return false;
  }
  out->assign(pending_, 0, count);
  pending_.erase(0, count);
  return true;
}

bool LineClient::ReadLine(std::string* line, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t feed;
  while ((feed = pending_.find('\n')) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) return false;
  }
  line->assign(pending_, 0, feed);
  pending_.erase(0, feed + 1);
  return true;
}

bool LineClient::Silent(int timeout_ms) { return pending_.empty() && !Fill(timeout_ms); }

std::string LineClient::Query(std::string_view message) {
  std::string line;
  if (!Send(std::string(message) + "\n") || !ReadLine(&line)) return {};
  return line;
}

}  // namespace sim
