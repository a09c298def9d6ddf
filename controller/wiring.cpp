// The controller's wiring unit (see wiring.h). The seams whose subscriber has not
// been built keep their owner's fallback until it is connected here: the engine's
// channel-list release (SetChannelListRelease), the scan-running query of *OPC
// (SetScanRunningQuery), the card scan's power-on restore (SetPowerOnRestore), the
// interrupt monitor's external-trigger step and power-fail handler
// (SetExternalTriggerStep, SetPowerFailHandler) and the GPIB resource publisher
// (SetGpibResourcePublisher).
#include "controller/wiring.h"

#include "controller/command_channel.h"
#include "controller/command_table.h"
#include "controller/event_channel.h"
#include "scpi/command_tree.h"
#include "scpi/scpi_engine.h"
#include "scpi/slot_notifications.h"

void ConnectController() {
  ConnectCommandTree(&kCommandTree);
  SetProgramMessageEngine(ExecuteProgramMessage);
  SetSlotNotificationBroadcast(BroadcastRelayChangeNotice);
}
