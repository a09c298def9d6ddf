// The simulated chassis bus driver ("/dev/xbus0"). It carries the local-bus byte
// requests to whatever is plugged into the addressed slot (0 is the chassis itself,
// 1..12 the card slots) and queues FPGA events for the firmware's event wait.
//   - An empty slot answers reads with 0xFF and ignores writes, as a bus with no
//     card pulled up does; a slot marked failing refuses every request (EIO).
//   - The event wait blocks until an event is queued; while one is queued the
//     descriptor reports an exceptional condition (POLLPRI), which the firmware
//     selects on. Queued events beyond kEventQueueDepth are dropped.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "devices/slots.h"
#include "platform/device_model.h"

namespace sim {

// What a card (or the chassis) offers the local bus: byte registers by address.
// Results are 0 or a negated errno; called from the driver's threads, so a target
// guards its own state.
class LocalBusTarget {
 public:
  virtual ~LocalBusTarget() = default;
  virtual int ReadByte(uint32_t address, uint8_t* byte) = 0;
  virtual int WriteByte(uint32_t address, uint8_t byte) = 0;
};

class XbusModel final : public platform::DeviceModel {
 public:
  static constexpr size_t kEventQueueDepth = 64;

  // Plugs `target` into `slot` (0..12), replacing what was there; null empties it.
  void Plug(int slot, std::shared_ptr<LocalBusTarget> target);
  // A failing slot refuses its requests (a broken local bus).
  void SetSlotFailing(int slot, bool failing);
  // Queues an FPGA event for the event wait.
  void PostEvent(uint32_t code);
  size_t QueuedEvents() const;

  int Ioctl(uint64_t open_id, unsigned long request, void* argument, size_t size) override;
  short Readiness(uint64_t open_id) override;

 private:
  int ByteRequest(unsigned long request, void* argument, size_t size);
  int EventRequest(void* argument, size_t size);

  mutable std::mutex mutex_;
  std::array<std::shared_ptr<LocalBusTarget>, kSlotCount> slots_;
  std::array<bool, kSlotCount> failing_{};
  std::deque<uint32_t> events_;
};

}  // namespace sim
