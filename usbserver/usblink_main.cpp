// usblink: the stand-in for the board's USB server. It serves the USBTMC device
// ("/dev/usbtmc0") as the other servers serve their interfaces: the host is its one
// client, whose program messages (ended by a line feed, as on the other interfaces)
// go to the controller over the USB command channel, and whose responses go back to
// the device for the host to read. It holds the host's four status bytes and error
// queue, and reads the USB event FIFO so that the controller's event writes never
// block, dropping what it reads.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/diag_print.h"
#include "core/event_reader.h"
#include "core/ieee_client.h"
#include "core/master_router.h"
#include "core/run_state.h"
#include "core/server_threads.h"
#include "devices/usbtmc_requests.h"
#include "platform/device.h"

namespace {

constexpr const char* kSource = "_usb/usblink";
constexpr int32_t kClientTypeUsb = 3;

struct UsbServer {
  int device_fd = -1;
  IEEE_Client host_client;
  StringQueue inbound_queue;
  RouterWakeup wakeup;
};

// S7: the response goes to the host as one message; once it is handed over the
// host's message-available bit is cleared, as for a LAN client.
int DeliverResponse(IEEE_Client* client, const char* text) {
  auto* server = static_cast<UsbServer*>(client->owner);
  const std::size_t length = std::strlen(text);
  const ssize_t put = platform::DeviceWrite(server->device_fd, text, length);
  if (put < 0 || static_cast<std::size_t>(put) != length) {
    if (put >= 0) errno = EIO;
    const int error = errno;
    diag_error_line(kSource, "DeliverResponse", __LINE__, "write failed\n");
    errno = error;
    std::perror("usblink: write");
    return 0;
  }
  client->stb &= static_cast<uint8_t>(~kStbMessageAvailable);
  return static_cast<int>(length);
}

// The device reader: what the host sends, in chunks for the router, until a stop.
void ReadHost(UsbServer* server) {
  char chunk[kInboundChunkBytes];
  for (;;) {
    const ssize_t got = platform::DeviceRead(server->device_fd, chunk, sizeof(chunk));
    if (!IsRunning()) return;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      diag_error_line(kSource, "ReadHost", __LINE__, "read returned %d\n",
                      static_cast<int>(got));
      return;
    }
    PushInboundChunk(&server->inbound_queue, &server->wakeup, &server->host_client, chunk,
                     static_cast<std::size_t>(got));
  }
}

}  // namespace

int main() {
  if (InstallServerStop() != 0) return -1;
  MasterHooks hooks;
  hooks.deliver_response = &DeliverResponse;
  auto channel = std::make_unique<MasterChannel>();
  if (MasterSetup(channel.get(), kChannelTypeUsb, hooks) != 0) return -1;
  auto events = std::make_unique<EventReader>();
  if (EventReaderSetup(events.get(), "/tmp/event_usb", nullptr, nullptr) != 0) {
    MasterTeardown(channel.get());
    return -1;
  }
  auto server = std::make_unique<UsbServer>();
  server->device_fd = platform::DeviceOpen(kUsbtmcDevicePath, O_RDWR);
  int result = 0;
  if (server->device_fd < 0) {
    result = -errno;
    diag_error_line(kSource, "main", __LINE__, "open failed\n");
    errno = -result;
    std::perror("open");
  } else {
    server->host_client.owner = server.get();
    server->host_client.type = kClientTypeUsb;
    channel->current_client = &server->host_client;
    StringQueue* queues[] = {&server->inbound_queue};
    UsbServer* usb = server.get();
    MasterChannel* master = channel.get();
    EventReader* reader = events.get();
    ServerThreads threads;
    result = threads.Start([=] { poll_msg_queues(queues, 1, master, &usb->wakeup); });
    if (result == 0) result = threads.Start([usb] { ReadHost(usb); });
    if (result == 0) result = threads.Start([reader] { event_slavemsgrout_do_IDLE_task(reader); });
    if (result == 0) {
      threads.WaitForStop();
    } else {
      RequestStop();
    }
    threads.JoinAll();
    platform::DeviceClose(server->device_fd);
  }
  MasterTeardown(channel.get());
  EventReaderClose(events.get());
  return result;
}
