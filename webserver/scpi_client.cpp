// Raw-port exchanges and the event port registration of the web server.
#include "webserver/scpi_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <random>

#include "platform/paths.h"
#include "webserver/event_notice.h"

namespace web {
namespace {

using Clock = std::chrono::steady_clock;

// A message may run long (a scan waited for, a relay test): the reply is awaited this
// long before the connection is given up and made again for the next message.
constexpr auto kReplyWait = std::chrono::seconds(30);
constexpr auto kConnectWait = std::chrono::seconds(2);
constexpr int kRetryMs = 1000;

// Remaining milliseconds to `deadline`, at least 0.
int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// A connected TCP socket to the instrument's `port`, or -1.
int ConnectTo(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, InstrumentHost().c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  pollfd ready{.fd = fd, .events = POLLOUT, .revents = 0};
  int error = 0;
  socklen_t length = sizeof error;
  if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kConnectWait).count())) != 1 ||
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool SendAllTo(int fd, const std::string& text, Clock::time_point deadline) {
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t put = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (put > 0) {
      sent += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd ready{.fd = fd, .events = POLLOUT, .revents = 0};
    if (poll(&ready, 1, RemainingMs(deadline)) != 1) return false;
  }
  return true;
}

// Reads into `received` until it holds at least `count` bytes (or a line feed, with
// count 0). False on a close, a failure or the deadline.
bool ReadMore(int fd, std::string* received, Clock::time_point deadline, int stop_fd = -1) {
  pollfd ready[2] = {{.fd = fd, .events = POLLIN, .revents = 0},
                     {.fd = stop_fd, .events = POLLIN, .revents = 0}};
  const int waited = poll(ready, stop_fd >= 0 ? 2 : 1, RemainingMs(deadline));
  if (waited <= 0 || (stop_fd >= 0 && ready[1].revents != 0)) return false;
  char buffer[4096];
  const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
  // The instrument writes a reply and the marker's reply as two sends, and holds the
  // second until the first is acknowledged: acknowledge at once, not after the 40 ms a
  // delayed acknowledgement waits (Linux clears the setting after each read).
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  if (got <= 0) return got < 0 && (errno == EAGAIN || errno == EINTR);
  received->append(buffer, static_cast<std::size_t>(got));
  return true;
}

}  // namespace

std::string InstrumentHost() {
  const std::string bound = platform::BindAddress();
  return bound == "0.0.0.0" ? std::string("127.0.0.1") : bound;
}

std::string RefusedMessage(const std::string& message) {
  if (message.empty()) return "empty program message";
  if (message.size() > kLongestMessage) return "program message longer than 10000 characters";
  if (message.find_first_of("\r\n") != std::string::npos) return "one line at a time";
  // The raw port takes these as block transfers wherever a read of its socket begins.
  if (message.find("**READ") != std::string::npos || message.find("**WRITE") != std::string::npos) {
    return "block transfers are not taken here";
  }
  return {};
}

ScpiConnection::~ScpiConnection() { Drop(); }

void ScpiConnection::Drop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  received_.clear();
}

bool ScpiConnection::Connect() {
  if (fd_ >= 0) return true;
  fd_ = ConnectTo(port_);
  return fd_ >= 0;
}

bool ScpiConnection::Send(const std::string& text) {
  return SendAllTo(fd_, text, Clock::now() + kReplyWait);
}

bool ScpiConnection::ReadLine(std::string* line, Clock::time_point deadline) {
  for (;;) {
    const std::size_t end = received_.find('\n');
    if (end != std::string::npos) {
      line->assign(received_, 0, end);
      received_.erase(0, end + 1);
      return true;
    }
    if (!ReadMore(fd_, &received_, deadline)) return false;
  }
}

ScpiResult ScpiConnection::Exchange(const std::string& message) {
  ScpiResult result;
  result.failure = RefusedMessage(message);
  if (!result.failure.empty()) return result;
  std::lock_guard<std::mutex> hold(mutex_);
  if (!Connect()) {
    result.failure = "the instrument does not answer on its raw port";
    return result;
  }
  // A program message answers one line at most. The marker after it sets the service
  // request enable to a value of its own and reads it back: the line that carries that
  // value ends the message's reply, and the enable the client had is put back. Bit 6
  // of the enable is always read as 0, so the value leaves it clear.
  static thread_local std::minstd_rand random(static_cast<unsigned>(Clock::now().time_since_epoch().count()));
  const std::string marker_value = std::to_string(128 + random() % 64);
  const auto deadline = Clock::now() + kReplyWait;
  std::string line;
  // The message, the marker and the first error query go out together: a message
  // costs one round trip when it leaves no error behind.
  bool ok = Send(message + "\n*SRE?;*SRE " + marker_value + ";*SRE?\nSYST:ERR?\n");
  std::vector<std::string> before;
  std::string saved_enable;
  while (ok && (ok = ReadLine(&line, deadline))) {
    const std::size_t separator = line.find(';');
    if (separator != std::string::npos && line.substr(separator + 1) == marker_value) {
      saved_enable = line.substr(0, separator);
      break;
    }
    before.push_back(line);
  }
  // Anything before the marker's line is the reply (one line; more only if the message
  // held line feeds of its own, which is refused above).
  for (std::size_t i = 0; ok && i < before.size(); ++i) result.reply += (i ? "\n" : "") + before[i];
  // The queue is drained until "0,..." (at most its depth and a few more).
  for (int count = 0; ok && count < 64; ++count) {
    ok = ReadLine(&line, deadline);
    if (!ok || line.rfind("0,", 0) == 0 || line.rfind("+0,", 0) == 0) break;
    result.errors.push_back(line);
    ok = Send("SYST:ERR?\n");
  }
  // The enable the client had is put back; the command answers nothing.
  if (ok) ok = Send("*SRE " + saved_enable + "\n");
  if (!ok) {
    Drop();
    result.failure = "the instrument did not answer in time";
    return result;
  }
  result.done = true;
  return result;
}

EventListener::EventListener(uint16_t command_port, uint16_t event_port,
                             std::function<void(uint32_t)> on_word)
    : command_port_(command_port), event_port_(event_port), on_word_(std::move(on_word)) {}

EventListener::~EventListener() {
  if (thread_.joinable()) {
    running_ = false;
    const char wake = 1;
    (void)!write(stop_pipe_[1], &wake, 1);
    thread_.join();
  }
  for (int fd : stop_pipe_) {
    if (fd >= 0) close(fd);
  }
}

void EventListener::Start() {
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) return;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

void EventListener::Run() {
  while (running_) {
    Session();
    if (!running_) break;
    pollfd stop{.fd = stop_pipe_[0], .events = POLLIN, .revents = 0};
    poll(&stop, 1, kRetryMs);
  }
}

// One registration, from the command connection to the loss of either socket.
bool EventListener::Session() {
  const int command = ConnectTo(command_port_);
  if (command < 0) return false;
  const int events = ConnectTo(event_port_);
  bool ok = events >= 0;
  std::string greeting;
  std::string handshake;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  // The command connection greets with ACK LF, then its number and a line feed.
  while (ok && std::count(greeting.begin(), greeting.end(), '\n') < 2) {
    ok = ReadMore(command, &greeting, deadline, stop_pipe_[0]);
  }
  const auto step = [&](const std::string& text) {
    handshake.clear();
    if (!text.empty() && !SendAllTo(events, text, deadline)) return false;
    while (handshake.size() < 2) {
      if (!ReadMore(events, &handshake, deadline, stop_pipe_[0])) return false;
    }
    return handshake.compare(0, 2, "\x06\n") == 0;
  };
  if (ok) {
    const std::size_t start = greeting.find('\n') + 1;
    const std::string number = greeting.substr(start, greeting.find('\n', start) - start);
    // Scan events (bit 0) and every slot 0 .. 12 (bits 1 .. 13).
    ok = step("") && step(number + "\n") && step("3fff\n");
  }
  NoticeCutter cutter;
  std::string bytes = handshake.substr(2);
  while (ok && running_) {
    for (uint32_t word : cutter.Feed(bytes)) on_word_(word);
    bytes.clear();
    ok = ReadMore(events, &bytes, Clock::now() + std::chrono::hours(24), stop_pipe_[0]);
    if (ok && bytes.empty()) {
      // A wake-up without data: see whether the command connection still stands.
      char probe;
      if (recv(command, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0) ok = false;
    }
  }
  if (events >= 0) close(events);
  close(command);
  return ok;
}

}  // namespace web
