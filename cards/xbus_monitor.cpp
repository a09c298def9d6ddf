// The interrupt monitor (see xbus_monitor.h).
#include "cards/xbus_monitor.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>

#include "cards/card_manager.h"
#include "core/diag_print.h"
#include "core/run_state.h"
#include "core/seam.h"
#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "hardware/fpga_utils.h"
#include "platform/device.h"

namespace {

constexpr const char* kSource = "_exec/instctl";

Seam<void()> g_external_trigger_step;
Seam<void()> g_power_fail_handler;

// Every source is acknowledged first; then every card slot whose card reports pending
// interrupt bits gets them, and the sources are unmasked again. Acknowledging before
// serving means that an interrupt a card raises while it is being served (the next
// clock edge of a synchronous run, once the card acknowledged the last) stays pending
// in the FPGA and comes back as the next event, instead of being cleared unseen.
int32_t HandleCardInterrupt() {
  const int32_t acknowledged = AcknowledgeAllInterrupts();
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    const uint8_t status = CardInterruptStatus(slot);
    if (status != 0) DispatchCardInterrupt(slot, status);
  }
  const int32_t unmasked = UnmaskAllInterrupts();
  return acknowledged != 0 ? acknowledged : unmasked;
}

// The trigger source is held off while it is acknowledged, so that an edge arriving
// meanwhile waits for the unmask instead of being lost in the acknowledge.
int32_t HandleExternalTrigger() {
  int32_t result = MaskInterrupts(kFpgaChassisInterrupt);
  int32_t step = AcknowledgeInterrupts(kFpgaChassisInterrupt);
  if (result == 0) result = step;
  uint32_t pending = 0;
  step = ReadFPGAregister(kFpgaInterruptAck, &pending);
  if (result == 0) result = step;
  step = UnmaskInterrupts(kFpgaChassisInterrupt);
  if (result == 0) result = step;
  if (ExternalTriggerStep scan_step = g_external_trigger_step.function()) scan_step();
  return result;
}

}  // namespace

void SetExternalTriggerStep(ExternalTriggerStep step) { g_external_trigger_step.Connect(step); }
void SetPowerFailHandler(PowerFailHandler handler) { g_power_fail_handler.Connect(handler); }

int32_t HandleXbusEvent(uint32_t code) {
  switch (code) {
    case kXbusEventCardInterrupt:
      return HandleCardInterrupt();
    case kXbusEventPowerFail:
      if (PowerFailHandler handler = g_power_fail_handler.function()) handler();
      return 0;
    case kXbusEventTrigger:
      return HandleExternalTrigger();
    default:
      return 0;
  }
}

void* MonitorXbusEvents(void* /*argument*/) {
  // The descriptor is the controller's one bus driver descriptor, shared with every
  // local-bus access, so it stays open when the monitor ends.
  if (OpenXbusDriver() != 0 || XbusDescriptor() <= 0) {
    diag_error_line(kSource, "MonitorXbusEvents", __LINE__, "Open xbus driver failed\n");
    std::perror("open");
    return nullptr;
  }
  while (IsRunning()) {
    pollfd exceptional = {XbusDescriptor(), POLLPRI, 0};
    if (platform::DevicePoll(&exceptional, 1, -1) < 0) continue;  // a signal: look at the stop
    // A failed wait (the stop's signal) leaves code 0, which asks for nothing.
    uint32_t code = 0;
    const int result = WaitXbusEvent(&code) == 0 ? 0 : -1;
    const bool trace = FpgaTrace();
    if (trace) {
      std::printf(" Entering ISR routine, event = 0x%x, ret = 0x%x \n", code,
                  static_cast<unsigned>(result));
    }
    HandleXbusEvent(code);
    if (trace) {
      std::printf(" Exiting ISR routine, event = 0x%x, ret = 0x%x \n", code,
                  static_cast<unsigned>(result));
    }
  }
  return nullptr;
}
