// The GPIB server's reader, writer and router hooks.
#include "gpibserver/gpib_svr.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "core/gpibdev_utils.h"
#include "core/run_state.h"
#include "platform/device.h"

namespace gpib {

namespace {

constexpr const char* kServerSource = "_gpib/GPIBSvr";
constexpr const char* kMainSource = "_gpib/GPIBSvrMain";
constexpr std::size_t kPieceSize = 254;
constexpr uint8_t kStbRequestService = 0x40;  // bit 6: MSS/RQS
// A stop wakes the writer at once (the queue's WakeAll); the limit only bounds how
// long a writer that was never woken keeps waiting before it looks at the flag.
constexpr std::chrono::seconds kWriterWait{1};

GPIBSvr* ServerOf(IEEE_Client* client) { return static_cast<GPIBSvr*>(client->owner); }

// Sets or clears MAV in the bus client's STB and hands the byte to the device. The
// writer's part of the status byte: MAV stands while a response is written (the
// device's write ends when the bus has read it) and leaves once the output queue has
// drained; between the two the controller's own stores carry the MAV it read from
// the device.
void SetMessageAvailable(GPIBSvr* server, bool available) {
  std::lock_guard hold(server->status_mutex);
  IEEE_Client& client = server->bus_client;
  client.stb = available ? static_cast<uint8_t>(client.stb | kStbMessageAvailable)
                         : static_cast<uint8_t>(client.stb & ~kStbMessageAvailable);
  SetGPIBStatusByte(client.stb);
}

// Hands one whole response to the device, MAV set while it is written.
void WriteResponse(GPIBSvr* server, const char* data, std::size_t length) {
  SetMessageAvailable(server, true);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t put = platform::DeviceWrite(server->data_fd, data + done, length - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (!(put < 0 && errno == EINTR && IsRunning())) {
      if (put < 0) std::perror("GPIBSvr: write");
      return;
    }
  }
}

}  // namespace

int InitiateGPIBServer(GPIBSvr* server, MasterChannel* channel) {
  server->data_fd = platform::DeviceOpen(kGpibDevicePath, O_RDWR);
  if (server->data_fd < 0) {
    const int error = errno;
    diag_error_line(kServerSource, "InitiateGPIBServer", __LINE__, "open failed\n");
    errno = error;
    std::perror("open");
    return -error;
  }
  server->bus_client.owner = server;
  server->bus_client.type = kClientTypeGpib;
  channel->current_client = &server->bus_client;
  return 0;
}

void CloseGPIBServer(GPIBSvr* server) {
  if (server->data_fd >= 0) platform::DeviceClose(server->data_fd);
  server->data_fd = -1;
}

MasterHooks GPIBSvrHooks() {
  MasterHooks hooks;
  hooks.store_stb = &StoreStatusByte;
  hooks.deliver_response = &UpdateResponseMsg_Interface;
  hooks.output_pending = &GetMAV_bit_interface;
  hooks.clear = &ClearDeviceHook;
  return hooks;
}

void StoreStatusByte(IEEE_Client* client, uint8_t value) {
  GPIBSvr* server = ServerOf(client);
  std::lock_guard hold(server->status_mutex);
  const uint8_t old = client->stb;
  const bool due = (old & kStbRequestService) == 0 && (value & kStbRequestService) != 0 &&
                   (value & client->sre & ~kStbRequestService) != 0;
  client->stb = value;
  // The byte first: the controller in charge polls as soon as the request comes, and
  // must find the cause's summary bit beside RQS.
  SetGPIBStatusByte(value);
  if (due) GenerateSRQ();
}

int UpdateResponseMsg_Interface(IEEE_Client* client, const char* text) {
  GPIBSvr* server = ServerOf(client);
  const std::size_t length = std::strlen(text);
  char piece[kPieceSize + 1];
  for (std::size_t start = 0; start < length; start += kPieceSize) {
    const std::size_t count = std::min(kPieceSize, length - start);
    std::memcpy(piece, text + start, count);
    piece[count] = '\0';
    if (server->output_queue.PushCopy(piece) != 0) {
      std::perror("UpdateResponseMsg_Interface malloc");
      return -12;
    }
  }
  return 0;
}

bool GetMAV_bit_interface(IEEE_Client*) {
  int pending = 0;
  if (GetGPIBMAV(&pending) != 0) {
    diag_error_line(kMainSource, "GetMAV_bit_interface", __LINE__, "Failed to get MAV bit\n");
    return false;
  }
  return pending == 1;
}

void ClearDeviceHook(IEEE_Client*) { ClearGPIBDevice(); }

int GPIBReadChunk(GPIBSvr* server) {
  char chunk[kInboundChunkBytes + 1];
  ssize_t got = -1;
  do {
    got = platform::DeviceRead(server->data_fd, chunk, kInboundChunkBytes);
    if (!IsRunning()) return 0;
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    std::printf("ERROR gpib_read returned %d\n", static_cast<int>(got));
    return -1;
  }
  if (got == 0) return 0;
  chunk[got] = '\0';
  if (std::strncmp(chunk, "####", 4) == 0) {
    std::printf("GPIB Server:  Last command = %s\n", server->last_command);
    return 1;
  }
  std::snprintf(server->last_command, sizeof(server->last_command), "%s", chunk);
  PushInboundChunk(&server->inbound_queue, &server->wakeup, &server->bus_client, chunk,
                   static_cast<std::size_t>(got));
  return 1;
}

void GPIBWriterLoop(GPIBSvr* server) {
  char response[kLineAssemblySize];
  std::size_t fill = 0;
  while (IsRunning()) {
    if (!server->output_queue.WaitNonEmpty(kWriterWait)) continue;
    std::unique_ptr<StringQueueEntry> piece = server->output_queue.PopEntry();
    if (!piece) continue;
    const std::size_t length = std::strlen(piece->text);
    if (fill + length > sizeof(response)) {
      // Pieces without an end make more than one response can hold: what is
      // gathered goes out first rather than being lost.
      WriteResponse(server, response, fill);
      fill = 0;
    }
    std::memcpy(response + fill, piece->text, length);
    fill += length;
    if (length > 0 && piece->text[length - 1] == '\n') {
      WriteResponse(server, response, fill);
      fill = 0;
    }
    if (server->output_queue.Count() == 0) SetMessageAvailable(server, false);
  }
}

}  // namespace gpib
