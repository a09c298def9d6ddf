// The LAN server's forms of the router hooks. Status bytes, error entries, the
// output-pending test and the clear action use the router's defaults, which act on the
// client's own block; what is LAN-specific is how a response reaches the client, and
// how the router tells a port's poller that a client it holds back may go on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ieee_client.h"
#include "core/master_router.h"
#include "lanserver/client_registry.h"

namespace lan {

// The most response bytes kept for a client that does not take them. Its port reads
// nothing more from a client while its responses wait, so only the responses to what
// was already queued can pile up; past this the client is taken as gone.
inline constexpr std::size_t kOutputMost = 4u << 20;

// Hands `text` (without its NUL) to the client: sent at once as far as its socket takes
// it, the rest kept in order and sent on by the port's poller as the socket drains, so
// the router never waits for a client. Then clears STB bit 4 (message available).
// Returns the count handed over, or 0 when the client is gone (reported).
int UpdateResponseMsg_Interface(IEEE_Client* block, const char* text);

// The poller's side: sends on what waits for the client. True when nothing waits.
bool FlushOutput(ClientInfo* client);
// True when responses wait for the client to take them.
bool OutputWaiting(ClientInfo* client);

// The router is done with one of the client's chunks: signals the client's poller when
// it waits for the count still pending to come down to its mark.
void ChunkDone(IEEE_Client* block, int32_t pending);

// The hook table the LAN server hands to MasterSetup.
MasterHooks LanMasterHooks();

}  // namespace lan
