// The simulated GPIB device: the driver's requests on the instrument's node and the
// bus controller's requests on the bus node.
#include "sim/gpib_model.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "devices/gpib_requests.h"
#include "platform/device.h"

namespace sim {

namespace {

constexpr uint8_t kStatusRqs = 0x40;

// Fills a request's record with `bytes` bytes of `value`; -EINVAL when it is short.
int Fill(void* argument, size_t size, const void* value, size_t bytes) {
  if (argument == nullptr || size < bytes) return -EINVAL;
  std::memcpy(argument, value, bytes);
  return 0;
}

}  // namespace

GpibModelState GpibModel::State() const {
  std::lock_guard hold(mutex_);
  return state_;
}

int GpibModel::Request(Side side, unsigned long request, void* argument, size_t size,
                       unsigned long value) {
  return side == Side::kInstrument ? InstrumentRequest(request, argument, size, value)
                                   : BusRequest(request, argument, size);
}

int GpibModel::InstrumentRequest(unsigned long request, void* argument, size_t size,
                                 unsigned long value) {
  switch (request) {
    case kGpibSetPrimaryAddress:
      if (argument != nullptr || value > static_cast<unsigned long>(kGpibMaxPrimaryAddress)) {
        return -EINVAL;
      }
      state_.address = static_cast<int>(value);
      return 0;
    case kGpibGetPrimaryAddress: {
      const int32_t address = state_.address;
      return Fill(argument, size, &address, sizeof(address));
    }
    case kGpibGenerateSrq:
      if (!state_.srq_asserted) ++state_.srq_count;
      state_.srq_asserted = true;
      state_.status_at_srq = state_.status_byte;
      return 0;
    case kGpibSetStatusByte:
      if (argument != nullptr) return -EINVAL;
      state_.status_byte = static_cast<uint8_t>(value);
      return 0;
    case kGpibEnable:
    case kGpibDisable:
      state_.enabled = request == kGpibEnable;
      host_refusal_ = state_.enabled ? 0 : -EIO;
      return 0;
    case kGpibIsEnabled: {
      const uint8_t enabled = state_.enabled ? 1 : 0;
      return Fill(argument, size, &enabled, 1);
    }
    case kGpibGetMav: {
      const uint8_t mav = HostHasOutput() ? 1 : 0;
      return Fill(argument, size, &mav, 1);
    }
    case kGpibClearDevice:
      ++state_.clear_requests;
      return 0;
    default:
      return -EINVAL;
  }
}

int GpibModel::BusRequest(unsigned long request, void* argument, size_t size) {
  if (host_refusal_ != 0) return host_refusal_;
  switch (request) {
    case kGpibBusSerialPoll: {
      // The byte the firmware gave, but for bit 6: RQS, set while the device asserts
      // a service request, which this poll releases.
      uint8_t answer = static_cast<uint8_t>(state_.status_byte & ~kStatusRqs);
      if (state_.srq_asserted) answer |= kStatusRqs;
      const int filled = Fill(argument, size, &answer, 1);
      if (filled == 0) state_.srq_asserted = false;
      return filled;
    }
    case kGpibBusWaitSrq:
      return state_.srq_asserted ? 0 : -EAGAIN;
    case kGpibBusDeviceClear:
      ++state_.device_clears;
      ClearMessages();
      return 0;
    default:
      return -EINVAL;
  }
}

short GpibModel::ExtraReadiness(Side side) {
  return side == Side::kHost && state_.srq_asserted ? POLLPRI : 0;
}

void GpibModel::OnInstrumentWrite(size_t size) {
  ++state_.writes;
  state_.last_write_size = size;
  state_.status_at_last_write = state_.status_byte;
}

int GpibSerialPoll(int bus_fd, uint8_t* status_byte) {
  uint8_t word[4] = {};
  if (platform::DeviceIoctl(bus_fd, kGpibBusSerialPoll, word, 1) < 0) return -1;
  *status_byte = word[0];
  return 0;
}

int GpibWaitSrq(int bus_fd, int timeout_ms) { return WaitForEvents(bus_fd, POLLPRI, timeout_ms); }

int GpibDeviceClear(int bus_fd) {
  return platform::DeviceIoctlValue(bus_fd, kGpibBusDeviceClear, 0) < 0 ? -1 : 0;
}

}  // namespace sim
