// The simulated chassis bus driver (see xbus_model.h).
#include "sim/xbus_model.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "devices/xbus_requests.h"

namespace sim {

void XbusModel::Plug(int slot, std::shared_ptr<LocalBusTarget> target) {
  if (slot < 0 || slot >= kSlotCount) return;
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[static_cast<size_t>(slot)] = std::move(target);
}

void XbusModel::SetSlotFailing(int slot, bool failing) {
  if (slot < 0 || slot >= kSlotCount) return;
  std::lock_guard<std::mutex> lock(mutex_);
  failing_[static_cast<size_t>(slot)] = failing;
}

void XbusModel::PostEvent(uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.size() >= kEventQueueDepth) return;
    events_.push_back(code);
  }
  NotifyChanged();
}

size_t XbusModel::QueuedEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.size();
}

int XbusModel::Ioctl(uint64_t, unsigned long request, void* argument, size_t size) {
  switch (request) {
    case kXbusReadByte:
    case kXbusWriteByte:
      return ByteRequest(request, argument, size);
    case kXbusWaitEvent:
      return EventRequest(argument, size);
    default:
      return -ENOTTY;
  }
}

short XbusModel::Readiness(uint64_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<short>(POLLOUT | (events_.empty() ? 0 : POLLPRI));
}

int XbusModel::ByteRequest(unsigned long request, void* argument, size_t size) {
  if (size != sizeof(XbusByteRequest)) return -EINVAL;
  XbusByteRequest block;
  std::memcpy(&block, argument, sizeof block);
  const bool read = request == kXbusReadByte;
  if (block.words[0] != (read ? kXbusCommandRead : kXbusCommandWrite)) return -EINVAL;
  const int slot = XbusSlotOf(block.words[1]);
  if (slot >= kSlotCount) return -ENXIO;
  const uint32_t address = block.words[1] & kXbusAddressMask;
  std::shared_ptr<LocalBusTarget> target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failing_[static_cast<size_t>(slot)]) return -EIO;
    target = slots_[static_cast<size_t>(slot)];
  }
  // The target runs outside the driver's lock: it may take its own time and locks.
  int result = 0;
  if (read) {
    uint8_t byte = 0xFF;
    if (target) result = target->ReadByte(address, &byte);
    if (result == 0) block.words[2] = byte;
  } else if (target) {
    result = target->WriteByte(address, static_cast<uint8_t>(block.words[2]));
  }
  std::memcpy(argument, &block, sizeof block);
  return result;
}

int XbusModel::EventRequest(void* argument, size_t size) {
  if (size != sizeof(XbusEventRequest)) return -EINVAL;
  uint32_t code = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.empty()) return -EAGAIN;
    code = events_.front();
    events_.pop_front();
  }
  XbusEventRequest record;
  std::memcpy(&record, argument, sizeof record);
  std::memset(record.event, 0, sizeof record.event);
  record.event[kXbusEventCodeWord] = code;
  std::memcpy(argument, &record, sizeof record);
  return 0;
}

}  // namespace sim
