// Card management's interrupts and events: the pending interrupt bits a card reports,
// their dispatch to the card's handler (with the event-log lines when there is none),
// the relay-state-changed notice a card posts on its own, and the emergency shutdown.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "cards/card_manager.h"
#include "cards/card_storage.h"
#include "hardware/event_log.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"
#include "scpi/slot_notifications.h"

namespace {

std::atomic<bool> g_emergency_shutdown{false};

}  // namespace

// ---- Interrupts, events, shutdown ------------------------------------------------

uint8_t CardInterruptStatus(int slot) {
  if (!IsCardSlot(slot)) return 0;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  if (!IsPresent(slot)) return 0;
  const uint32_t type_id = SlotRecord(slot).type_id;
  uint8_t bits = 0;
  if (IsDigitalType(type_id)) bits = kDigitalInterruptBits;
  if (type_id == kSmCt1TypeId) bits = kTestCardInterruptBits;
  if (bits == 0) return 0;
  uint8_t status = 0;
  if (ReadByteFromLocalBus(slot, kCardInterruptRegister, &status) != 0) return 0;
  return static_cast<uint8_t>(~status & bits);  // the register is active low
}

int32_t DispatchCardInterrupt(int slot, uint8_t status) {
  if (!InSlotRange(slot)) return err::kSlotOutOfRange;
  bool present = false;
  bool handled = false;
  {
    std::lock_guard<std::recursive_mutex> lock(CardStateLock());
    const CardRecord& record = SlotRecord(slot);
    present = record.present != 0;
    if (present && record.operations.Interrupt != nullptr) {
      record.operations.Interrupt(slot, status);
      handled = true;
    }
  }
  // The log rewrites its file; that happens outside the card state lock.
  char text[kEventTextSize];
  if (!present) {
    std::snprintf(text, sizeof text,
                  "Interrupt received from card in slot %d, but no card was found in the slot",
                  slot);
    LogEvent(text);
    return err::kNoModule;
  }
  if (!handled) {
    std::snprintf(text, sizeof text,
                  "Interrupt received from card in slot %d, but card has no interrupt handler\n",
                  slot);
    LogEvent(text);
  }
  return 0;
}

int32_t PostRelayStateChanged(int slot) {
  PostSlotNotification(slot);
  return 0;
}

void EmergencyShutdown() {
  g_emergency_shutdown = true;
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const CardRecord& record = SlotRecord(slot);
    if (record.present != 0 && record.operations.Shutdown != nullptr) {
      record.operations.Shutdown(slot);
    }
  }
}

bool EmergencyShutdownActive() { return g_emergency_shutdown; }

void ClearEmergencyShutdown() { g_emergency_shutdown = false; }
