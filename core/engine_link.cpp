// The one place where core's controller messaging names the engine.
#include "core/engine_link.h"

#include "core/command_channel.h"
#include "core/event_channel.h"
#include "scpi/scpi_engine.h"

void ConnectEngine() {
  g_program_message_engine = ExecuteProgramMessage;
  BroadcastSlotNotifications = BroadcastRelayChangeNotice;
}
