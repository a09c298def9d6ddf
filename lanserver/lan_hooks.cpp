// Delivery of responses to LAN clients.
#include "lanserver/lan_hooks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "lanserver/client_registry.h"
#include "lanserver/socket_io.h"

namespace lan {

namespace {

constexpr const char* kSource = "_ethernet/SockSvrMain";
// A client that reads nothing for 100 waits of 100 ms is taken as gone: the router
// serves every client, and one that never reads must not hold it.
constexpr StallBound kResponseBound = {100, 100};

}  // namespace

int UpdateResponseMsg_Interface(IEEE_Client* block, const char* text) {
  ClientInfo* client = ClientOf(block);
  if (client == nullptr) {
    std::puts("pIEEE_Client == NULL");
    return 0;
  }
  std::size_t length = std::strlen(text);
  ssize_t sent = SendAll(client->socket, text, length, -1, kResponseBound);
  if (sent < 1) {
    int error = errno;
    diag_error_line(kSource, "UpdateResponseMsg_Interface", __LINE__, "send returned %d\n",
                    static_cast<int>(sent));
    errno = error;
    std::perror("UpdateResponseMsg_Interface: send");
    return 0;
  }
  if (static_cast<std::size_t>(sent) < length) {
    diag_error_line(kSource, "UpdateResponseMsg_Interface", __LINE__,
                    "client took %d of %d response bytes\n", static_cast<int>(sent),
                    static_cast<int>(length));
  }
  block->stb = static_cast<uint8_t>(block->stb & ~kStbMessageAvailable);
  return static_cast<int>(sent);
}

MasterHooks LanMasterHooks() {
  MasterHooks hooks;
  hooks.deliver_response = UpdateResponseMsg_Interface;
  return hooks;
}

}  // namespace lan
