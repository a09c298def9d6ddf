// Registration with the system's port mapper (see system_port_mapper.h).
#include "lanserver/system_port_mapper.h"

#include "lanserver/port_mapper.h"
#include "lanserver/vxi11_protocol.h"

#if CHASSIS_HAVE_TIRPC
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#endif

namespace lan {

#if CHASSIS_HAVE_TIRPC

bool RegisterWithSystemPortMapper(uint16_t port) {
  pmap_unset(kVxiCoreProgram, kVxiCoreVersion);  // a mapping left by an earlier run
  return pmap_set(kVxiCoreProgram, kVxiCoreVersion, kIpProtoTcp, port) != 0;
}

void UnregisterFromSystemPortMapper(uint16_t) { pmap_unset(kVxiCoreProgram, kVxiCoreVersion); }

#else

bool RegisterWithSystemPortMapper(uint16_t) { return false; }
void UnregisterFromSystemPortMapper(uint16_t) {}

#endif

}  // namespace lan
