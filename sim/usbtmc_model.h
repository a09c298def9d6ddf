// The simulated USBTMC device. The device node ("/dev/usbtmc0") is what the USB
// server opens: reads deliver the program messages the host sent, writes queue the
// response for the host. The host node ("/dev/usbtmc0-host") plays the USB host for
// people and tests: a write sends a program message, a read takes the response.
//
// The gadget's requests: enable and disable attach and detach the device from the
// host (while detached the host node's transfers fail with ENODEV), and the
// write-in-process request answers 1 while a response waits for the host to read it.
#pragma once

#include <cstddef>

#include "devices/usbtmc_requests.h"
#include "sim/message_port.h"

namespace sim {

inline constexpr const char* kUsbtmcHostPath = "/dev/usbtmc0-host";

class UsbtmcModel final : public MessagePort {
 public:
  UsbtmcModel() = default;

  bool enabled() const;

 protected:
  int Request(Side side, unsigned long request, void* argument, size_t size,
              unsigned long value) override;

 private:
  bool enabled_ = true;
};

}  // namespace sim
