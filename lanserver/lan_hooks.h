// The LAN server's forms of the router hooks. Status bytes, error entries, the
// output-pending test and the clear action use the router's defaults, which act on the
// client's own block; what is LAN-specific is how a response reaches the client.
#pragma once

#include "core/ieee_client.h"
#include "core/master_router.h"

namespace lan {

// Sends `text` (without its NUL) on the client's socket, whole: a partial send goes on
// once the socket is writable again, until everything is sent, the client is gone, or
// the client has taken nothing for about ten seconds. Then clears STB bit 4 (message
// available). Returns the count sent, or 0 when nothing could be sent (reported).
int UpdateResponseMsg_Interface(IEEE_Client* block, const char* text);

// The hook table the LAN server hands to MasterSetup.
MasterHooks LanMasterHooks();

}  // namespace lan
