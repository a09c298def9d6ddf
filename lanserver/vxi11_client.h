// A small VXI-11 client over a core channel reached directly by its port (no port
// mapper): create a link, write with END, read to END, destroy. For the benchmarks and
// the system tests, which time and stress the server from outside.
#pragma once

#include <cstdint>
#include <string>

namespace lan {

class Vxi11Client {
 public:
  Vxi11Client() = default;
  ~Vxi11Client();
  Vxi11Client(const Vxi11Client&) = delete;
  Vxi11Client& operator=(const Vxi11Client&) = delete;

  // Connects to 127.0.0.1:`port` and creates a link. False when either failed.
  bool Open(uint16_t port);
  // device_write with END; false unless the server took every byte without error.
  bool Write(const std::string& message);
  // device_read until END; false on an error or time-out (`timeout_ms`).
  bool Read(std::string* response, uint32_t timeout_ms = 5000);
  // A raw call on the connection: the reply record, or "" when none came.
  std::string Call(uint32_t procedure, const std::string& arguments);
  void Close();

  int socket() const { return fd_; }
  int32_t link() const { return link_; }

 private:
  int fd_ = -1;
  int32_t link_ = 0;
  uint32_t xid_ = 0;
};

// The core channel's port a virtual chassis' LAN server wrote under `root`, or 0.
uint16_t Vxi11CorePort(const std::string& root);

}  // namespace lan
