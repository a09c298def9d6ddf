// The simulated USBTMC device: the gadget's requests on the device node; the host
// node has none beyond its transfers.
#include "sim/usbtmc_model.h"

#include <cerrno>
#include <cstdint>

#include "devices/usbtmc_requests.h"

namespace sim {

bool UsbtmcModel::enabled() const {
  std::lock_guard hold(mutex_);
  return enabled_;
}

int UsbtmcModel::Request(Side side, unsigned long request, void* argument, size_t size,
                         unsigned long) {
  if (side == Side::kHost) return -EINVAL;
  switch (request) {
    case kUsbtmcEnable:
    case kUsbtmcDisable:
      enabled_ = request == kUsbtmcEnable;
      host_refusal_ = enabled_ ? 0 : -ENODEV;
      return 0;
    case kUsbtmcWriteInProcess:
      if (argument == nullptr || size < 1) return -EINVAL;
      *static_cast<uint8_t*>(argument) = HostHasOutput() ? 1 : 0;
      return 0;
    default:
      return -EINVAL;
  }
}

}  // namespace sim
