// Bus controller and USB host actions on the simulated GPIB and USBTMC devices.
#include "sim/vchassis_host.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/device.h"
#include "sim/gpib_model.h"
#include "sim/message_port.h"
#include "sim/usbtmc_model.h"

namespace sim {
namespace {

// An open host-side node, closed when it goes out of scope.
class HostNode {
 public:
  explicit HostNode(const char* path) : fd_(platform::DeviceOpen(path, O_RDWR)) {}
  ~HostNode() {
    if (fd_ >= 0) platform::DeviceClose(fd_);
  }
  HostNode(const HostNode&) = delete;
  HostNode& operator=(const HostNode&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool HoldsQuery(const std::string& message) {
  char quote = 0;
  for (char c : message) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '?') {
      return true;
    }
  }
  return false;
}

int HostSend(HostBus bus, const std::string& message, int timeout_ms, std::string* reply) {
  HostNode node(bus == HostBus::kGpib ? kGpibBusPath : kUsbtmcHostPath);
  if (node.fd() < 0) return -1;
  std::string line = message;
  if (line.empty() || (line.back() != '\n' && line.back() != '\r')) line.push_back('\n');
  if (WriteMessage(node.fd(), line) != 0) return -1;
  reply->clear();
  if (!HoldsQuery(message)) return 0;
  // A long reply may come as several transfers; it is whole at its line feed.
  while (reply->empty() || reply->back() != '\n') {
    std::string part;
    if (ReadMessage(node.fd(), &part, timeout_ms) != 0) return -1;
    reply->append(part);
  }
  return 0;
}

int HostSerialPoll(uint8_t* status_byte) {
  HostNode node(kGpibBusPath);
  if (node.fd() < 0) return -1;
  return GpibSerialPoll(node.fd(), status_byte);
}

int HostWaitSrq(int timeout_ms) {
  HostNode node(kGpibBusPath);
  if (node.fd() < 0) return -1;
  return GpibWaitSrq(node.fd(), timeout_ms);
}

}  // namespace sim
