// The device server: serves simulated devices to other processes through Unix
// sockets standing at the device nodes' places under CHASSIS_ROOT ("/dev/gpib0" is
// served at "$CHASSIS_ROOT/dev/gpib0"), speaking the protocol of platform/device_wire.h.
//
// One model serves any number of connections. Each connection has its own thread, so
// a request held while a client waits on a device (kWait, kPoll) holds up nothing
// else. The server's threads block every signal; the process's signals go to its
// own threads. Stop() (or destruction) ends all connections, joins the threads and
// removes the sockets.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {
class DeviceModel;
}

namespace sim {

class DeviceServer {
 public:
  DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;
  ~DeviceServer();

  // Serves `model` at the socket for `fixed_path` (resolved under the root),
  // creating missing folders and replacing a stale socket. Allowed before and after
  // Start(). 0, or a negated errno.
  int Add(std::string_view fixed_path, std::shared_ptr<platform::DeviceModel> model);
  // Stops serving a device: its socket goes away and its connections end, as when a
  // device disappears. 0, or -ENOENT when it is not served.
  int Remove(std::string_view fixed_path);

  // Starts accepting. 0, or a negated errno.
  int Start();
  void Stop();

 private:
  struct Listener;
  struct Connection;
  struct Session;

  void AcceptLoop();
  void Accept(const std::shared_ptr<Listener>& listener);
  void Serve(std::shared_ptr<Connection> connection);
  void ReapFinished();

  std::mutex mutex_;
  std::vector<std::shared_ptr<Listener>> listeners_;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::vector<std::shared_ptr<Session>> sessions_;
  uint64_t next_session_ = 1;
  int wake_fd_ = -1;  // eventfd: the listener set changed, or the server stops
  bool stopping_ = false;
  std::thread acceptor_;
};

}  // namespace sim
