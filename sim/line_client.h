// A small TCP client for the SCPI ports of a virtual chassis, as the system tests and
// the end-to-end benchmark use it: connect to a local port, send bytes, and read
// lines or exact byte counts, every wait bounded by a time limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

class LineClient {
 public:
  static constexpr int kDefaultWaitMs = 10000;

  LineClient() = default;
  ~LineClient();
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  // Connects to 127.0.0.1:`port` (no Nagle delay). False when the connection failed.
  bool Connect(uint16_t port);
  // Connects to `host` (a name or an IPv4 address) at `port`; a positive
  // `receive_buffer` shrinks the socket's receive buffer to that many bytes first.
  bool Connect(const std::string& host, uint16_t port, int receive_buffer = 0);
  void Close();
  bool Send(std::string_view bytes);
  // Reads exactly `count` bytes; false when the peer closed or time ran out first.
  bool ReadExactly(std::size_t count, std::string* out, int timeout_ms = kDefaultWaitMs);
  // Reads up to and including the next line feed; the line is returned without it.
  bool ReadLine(std::string* line, int timeout_ms = kDefaultWaitMs);
  // True when nothing arrives within `timeout_ms`.
  bool Silent(int timeout_ms);
  // Sends `message` and a line feed and reads the reply line ("" on failure).
  std::string Query(std::string_view message);

  int fd() const { return fd_; }

 private:
  bool Fill(int timeout_ms);

  int fd_ = -1;
  std::string pending_;  // read but not yet handed out
};

}  // namespace sim
