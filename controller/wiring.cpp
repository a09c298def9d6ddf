// The controller's wiring unit (see wiring.h).
#include "controller/wiring.h"

#include "cards/card_manager.h"
#include "cards/xbus_monitor.h"
#include "controller/command_channel.h"
#include "controller/command_table.h"
#include "controller/event_channel.h"
#include "core/gpibdev_utils.h"
#include "hardware/board_signals.h"
#include "hardware/hardware_handlers.h"
#include "lan/identity.h"
#include "lan/lan_config.h"
#include "lan/lan_settings.h"
#include "scpi/scpi_handlers.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"
#include "scpi/slot_notifications.h"
#include "scanning/scan_engine.h"
#include "scanning/scan_list.h"
#include "scpi/status.h"
#include "switching/interlocks.h"
#include "switching/relay_operations.h"
#include "switching/relay_stores.h"
#include "switching/system_reset.h"

namespace {

// The card scan's last step: the instrument reset in its power-on form (every card
// reset, its relays open), then the power-on recalls in their order: the saved state
// 0, the exclude and include lists, the scan list, the verify masks, the module
// names. The first failure is the result; the later recalls still run.
int32_t RestorePowerOnState() {
  int32_t first_failure = 0;
  for (int32_t (*step)() : {+[] { return SystemReset(ResetForm::kPowerOn); },
                            +[] { return RecallRelayState(0); }, PowerOnInterlockRecall,
                            PowerOnScanListRecall, PowerOnVerifyMaskRecall,
                            PowerOnModuleNameRecall}) {
    const int32_t result = step();
    if (result != 0 && first_failure == 0) first_failure = result;
  }
  return first_failure;
}

// A scan step the external trigger input starts runs under the execution lock, never
// beside a command.
void LockedExternalTriggerStep() {
  std::lock_guard<std::mutex> hold(ExecutionMutex());
  StepOnExternalTrigger();
}

void AnnounceScan(bool started) {
  if (started) {
    event_mastermsgrout_do_NOTIFY_SCAN_START_task();
  } else {
    event_mastermsgrout_do_NOTIFY_SCAN_END_task();
  }
}

// DIAG:MAC:ADDR:WRIT: the address written to the FRAM goes to the interface and to the
// stored setting.
int32_t ApplyMacAddress(const uint8_t mac[6]) {
  const int applied = set_mac_address(mac);
  const int stored = lan_set_stored_mac(mac);
  return applied == 0 && stored == 0 ? 0 : err::kSystemError;
}

}  // namespace

void ConnectController() {
  ConnectCommandTable();
  SetProgramMessageEngine(ExecuteProgramMessage);
  SetSlotNotificationBroadcast(BroadcastRelayChangeNotice);
  SetPowerOnRestore(RestorePowerOnState);
  SetSwitchCompletionTrigger(PulseAfterSwitching);
  SetScanRunningQuery(ScanInitiated);
  SetScanResetSteps(ResetScanning);
  SetScanEventNotice(AnnounceScan);
  SetExternalTriggerStep(LockedExternalTriggerStep);
  SetPowerFailHandler(RecordPowerFailure);
  SetLanConfigurationReset(DoLCI);
  SetMacAddressSetter(ApplyMacAddress);
  SetGpibResourcePublisher(PublishGpibResource);
  SetFirmwareRevisionSource(GetFirmwareRevision);
}
