// Delivery of responses to LAN clients, and the router's signal to a port's poller.
#include "lanserver/lan_hooks.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "lanserver/vxi11_server.h"

namespace lan {

namespace {

constexpr const char* kSource = "_ethernet/SockSvrMain";

// Sends what the socket takes now. The count sent, or -1 when the peer is gone (errno
// set); a full socket is no failure.
ssize_t SendNow(int fd, const char* data, std::size_t length) {
  std::size_t sent = 0;
  while (sent < length) {
    ssize_t result = send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (result > 0) {
      sent += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR && IsRunning()) continue;
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return -1;
  }
  return static_cast<ssize_t>(sent);
}

// A send failed: the client is gone, and what waits for it with it. Caller holds
// output_lock.
void CloseOutput(ClientInfo* client, const char* function, int line, ssize_t result) {
  const int error = errno;
  diag_error_line(kSource, function, line, "send returned %d\n", static_cast<int>(result));
  errno = error;
  std::perror("UpdateResponseMsg_Interface: send");
  client->output_closed = true;
  client->output.clear();
}

}  // namespace

int UpdateResponseMsg_Interface(IEEE_Client* block, const char* text) {
  if (block->type == kClientTypeVxi11) return Vxi11Server::Deliver(block, text);
  ClientInfo* client = ClientOf(block);
  if (client == nullptr) {
    std::puts("pIEEE_Client == NULL");
    return 0;
  }
  const std::size_t length = std::strlen(text);
  {
    std::lock_guard<std::mutex> hold(client->output_lock);
    if (client->output_closed) return 0;
    std::size_t sent = 0;
    if (client->output.empty()) {  // in order: nothing may pass what already waits
      ssize_t result = SendNow(client->socket, text, length);
      if (result < 0) {
        CloseOutput(client, "UpdateResponseMsg_Interface", __LINE__, result);
        return 0;
      }
      sent = static_cast<std::size_t>(result);
    }
    if (sent < length) {
      if (client->output.size() + (length - sent) > kOutputMost) {
        diag_error_line(kSource, "UpdateResponseMsg_Interface", __LINE__,
                        "client %d takes no responses, %zu bytes wait: closed\n",
                        client->socket, client->output.size());
        client->output_closed = true;
        client->output.clear();
        shutdown(client->socket, SHUT_RDWR);  // its poller then removes it
        return 0;
      }
      client->output.append(text + sent, length - sent);
    }
  }
  block->stb = static_cast<uint8_t>(block->stb & ~kStbMessageAvailable);
  return static_cast<int>(length);
}

bool FlushOutput(ClientInfo* client) {
  std::lock_guard<std::mutex> hold(client->output_lock);
  if (client->output.empty()) return true;
  ssize_t result = SendNow(client->socket, client->output.data(), client->output.size());
  if (result < 0) {
    CloseOutput(client, "FlushOutput", __LINE__, result);
    return true;
  }
  client->output.erase(0, static_cast<std::size_t>(result));
  return client->output.empty();
}

bool OutputWaiting(ClientInfo* client) {
  std::lock_guard<std::mutex> hold(client->output_lock);
  return !client->output.empty();
}

void ChunkDone(IEEE_Client* block, int32_t pending) {
  if (block->type == kClientTypeVxi11) return;  // a link's writer watches its count itself
  ClientInfo* client = ClientOf(block);
  if (client == nullptr) return;
  int32_t mark = client->resume_at.load();
  if (mark < 0 || pending > mark) return;
  // Only one of the router and the poller takes the wait, so one signal per wait.
  if (!client->resume_at.compare_exchange_strong(mark, -1)) return;
  const uint64_t one = 1;
  if (client->wake_fd >= 0 && write(client->wake_fd, &one, sizeof(one)) < 0) {
    std::perror("ChunkDone: write");
  }
}

namespace {

// A VXI-11 link keeps its status byte with its unread responses; a socket's is the
// block's.
void StoreStatusByte(IEEE_Client* block, uint8_t value) {
  if (block->type == kClientTypeVxi11) {
    Vxi11Server::StoreStb(block, value);
  } else {
    block->stb = value;
  }
}

bool OutputPending(IEEE_Client* block) {
  if (block->type == kClientTypeVxi11) return Vxi11Server::OutputPending(block);
  return (block->stb & kStbMessageAvailable) != 0;
}

}  // namespace

MasterHooks LanMasterHooks() {
  MasterHooks hooks;
  hooks.deliver_response = UpdateResponseMsg_Interface;
  hooks.chunk_done = ChunkDone;
  hooks.store_stb = StoreStatusByte;
  hooks.output_pending = OutputPending;
  return hooks;
}

}  // namespace lan
