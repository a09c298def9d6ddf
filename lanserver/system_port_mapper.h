// Registration of the VXI-11 core channel with a port mapper that already runs on this
// machine (rpcbind), for when the LAN server cannot own port 111 itself. Through
// libtirpc, the system's ONC RPC library, which speaks to rpcbind the way it expects
// (its local socket, with the caller's credentials); a build without it registers
// nothing.
#pragma once

#include <cstdint>

namespace lan {

// True when the system's port mapper now maps the VXI-11 core program (TCP) to `port`.
bool RegisterWithSystemPortMapper(uint16_t port);
void UnregisterFromSystemPortMapper(uint16_t port);

}  // namespace lan
