// The controller's wiring unit (see wiring.h). The seams whose subscriber has not
// been built keep their owner's fallback until it is connected here: the scan-running
// query of *OPC (SetScanRunningQuery), the switch-completion trigger
// (SetSwitchCompletionTrigger), the interrupt monitor's external-trigger step and
// power-fail handler (SetExternalTriggerStep, SetPowerFailHandler) and the GPIB
// resource publisher (SetGpibResourcePublisher).
#include "controller/wiring.h"

#include "cards/card_manager.h"
#include "controller/command_channel.h"
#include "controller/command_table.h"
#include "controller/event_channel.h"
#include "scpi/scpi_engine.h"
#include "scpi/slot_notifications.h"
#include "switching/interlocks.h"

void ConnectController() {
  ConnectCommandTable();
  SetProgramMessageEngine(ExecuteProgramMessage);
  SetSlotNotificationBroadcast(BroadcastRelayChangeNotice);
  // The last step of the card scan: the interlock lists the client asked to keep.
  SetPowerOnRestore(PowerOnInterlockRecall);
}
