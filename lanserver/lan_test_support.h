// Test support for the LAN server: a private root with free ports, TCP clients that
// read with a time limit, and a scripted controller on the other end of the LAN
// command channel and the LAN event FIFO.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/messaging_test_support.h"
#include "core/run_state.h"
#include "core/shared_block.h"
#include "platform/paths.h"

namespace lan::test {

inline constexpr int kWaitMs = 5000;

// True when `port` can be bound on the loopback address right now.
inline bool PortFree(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return free;
}

// A base port whose three ports are free: taken from what the kernel hands out for
// port 0, so parallel test programs do not pick the same.
inline int FreePortBase() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    int base = ntohs(address.sin_port);
    close(fd);
    if (base < 65000 && PortFree(base) && PortFree(base + 1) && PortFree(base + 2)) return base;
  }
  return 0;
}

// The environment of one test: a private root, free ports on the loopback address,
// the programs' signal dispositions and a running flag. Undone at the end, including
// the root's shared block.
class LanEnvironment {
 public:
  LanEnvironment() {
    base_ = FreePortBase();
    setenv("CHASSIS_PORT_BASE", std::to_string(base_).c_str(), 1);
    setenv("CHASSIS_BIND_ADDR", "127.0.0.1", 1);
    InstallStopHandlers();
  }
  ~LanEnvironment() {
    ClearWakeThreads();
    SetRunning(true);
    SharedBlock::Unlink();
    unsetenv("CHASSIS_PORT_BASE");
    unsetenv("CHASSIS_BIND_ADDR");
  }
  int base() const { return base_; }

 private:
  TempRoot root_;
  int base_ = 0;
};

// A TCP client on the loopback address.
class TcpClient {
 public:
  explicit TcpClient(int port, int receive_buffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0) {
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t result = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (result <= 0) return false;
      sent += static_cast<std::size_t>(result);
    }
    return true;
  }

  // Up to `count` bytes, each read waiting at most `quiet_ms`; fewer when the server
  // closes or stays silent. `pause` is slept before each read (a slow reader).
  std::string Read(std::size_t count, std::chrono::milliseconds pause = {},
                   std::size_t piece = 65536, int quiet_ms = kWaitMs) {
    std::string bytes;
    while (bytes.size() < count) {
      if (pause.count() > 0) std::this_thread::sleep_for(pause);
      pollfd wait{fd_, POLLIN, 0};
      if (poll(&wait, 1, quiet_ms) != 1) break;
      char buffer[65536];
      std::size_t wanted = std::min({count - bytes.size(), piece, sizeof(buffer)});
      ssize_t result = recv(fd_, buffer, wanted, 0);
      if (result <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(result));
    }
    return bytes;
  }

  // Bytes up to and including the next line feed ("" on silence or close).
  std::string ReadLine() {
    std::string line;
    while (line.empty() || line.back() != '\n') {
      std::string byte = Read(1);
      if (byte.empty()) return "";
      line += byte;
    }
    return line;
  }

  // True when the server closed the connection (within kWaitMs).
  bool ClosedByServer() {
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, kWaitMs) != 1) return false;
    char byte;
    return recv(fd_, &byte, 1, 0) == 0;
  }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Waits up to kWaitMs for `condition`.
inline bool Eventually(const std::function<bool()>& condition) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Plays the controller: opens the LAN command FIFOs and the LAN event FIFO in the
// controller's order, then, for each program message, records it, runs the test's
// script (which may send requests and read answers) and ends it with S1.
class FakeController {
 public:
  using Script = std::function<void(FakeController&, const std::string& text)>;

  explicit FakeController(Script script) : script_(std::move(script)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeController() {
    // The server's teardown closes the command FIFOs, which ends Serve.
    if (thread_.joinable()) thread_.join();
    if (event_fd_ >= 0) close(event_fd_);
  }

  void Send(const std::string& frame) { commands_.Send(commands_.first_fd(), frame); }
  std::string Answer() { return commands_.ReadFrame(commands_.second_fd()); }
  // Sends an event frame, with its NUL as the controller writes it.
  bool SendEvent(const std::string& frame) {
    int fd = event_fd_.load();
    return fd >= 0 && write(fd, frame.c_str(), frame.size() + 1) ==
                          static_cast<ssize_t>(frame.size() + 1);
  }

  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> hold(lock_);
    return texts_;
  }
  // Waits until `count` program messages have come (the last may still execute).
  bool WaitForTexts(std::size_t count) {
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, std::chrono::milliseconds(kWaitMs),
                             [&] { return texts_.size() >= count; });
  }

 private:
  void Serve() {
    // Made here too, so that opening cannot lose the race with the server's setup.
    for (const char* path : {"/tmp/scpi_write_2_sock", "/tmp/sock_write_2_scpi"}) {
      EnsureFifo(platform::ResolvePath(path));
    }
    if (!commands_.Open("/tmp/scpi_write_2_sock", O_WRONLY, "/tmp/sock_write_2_scpi",
                        O_RDONLY)) {
      return;
    }
    EnsureFifo(platform::ResolvePath("/tmp/event_eth"));
    event_fd_ = open(platform::ResolvePath("/tmp/event_eth").c_str(), O_WRONLY);
    for (;;) {
      std::string frame = commands_.ReadFrame(commands_.second_fd());
      if (frame.empty()) return;
      std::string text = FrameKind(frame) == PipeMsgKind::M1 ? FrameText(frame) : "<not M1>";
      {
        std::lock_guard<std::mutex> hold(lock_);
        texts_.push_back(text);
        arrived_.notify_all();
      }
      if (script_) script_(*this, text);
      Send(BareFrame(encode_S1_msg));
    }
  }

  Script script_;
  FifoPeer commands_;
  std::atomic<int> event_fd_{-1};
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

}  // namespace lan::test
