// The controller's event broadcaster and the relay change flags.
#include "controller/event_channel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "core/diag_print.h"
#include "core/fifo_io.h"
#include "platform/paths.h"

EventChannel g_event_channel;

namespace {

constexpr const char* kSource = "_util/fsm_master_event_msg_rout";

int OpenEventFifo(const std::string& path) {
  int fd = OpenFifoEnd(path, O_WRONLY);
  if (fd < 0) return -1;
  // Blocking only for the open: a frame is far below the FIFO's atomic write size, so
  // a non-blocking write sends all of it or nothing.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return fd;
}

void WriteEvent(int fd, const char* frame, std::size_t length, const char* server) {
  if (fd < 0) return;
  if (write(fd, frame, length) < 0 && errno == EAGAIN) {
    diag_warning_line(kSource, "EventChannelBroadcast", __LINE__,
                      "%s event FIFO full, event dropped\n", server);
  }
}

// Sends E4, E5 or E6 for `slot`; `state` is 4, 5 or 6.
int SendSlotEvent(EventChannel* channel, int slot, int state, const char* task,
                  int (*encode)(PipeBinaryMessage*)) {
  if (slot < 0 || slot >= kRelayChangeSlots || slot == 10) {
    diag_error_line(kSource, task, __LINE__, "invalid slot: %d\n", slot);
    return -1;
  }
  std::lock_guard<std::mutex> hold(channel->lock);
  channel->state = state;
  channel->binary_record.count = 1;
  channel->binary_record.data[0] = static_cast<uint8_t>(slot);
  int result = encode(&channel->binary_record);
  if (result != 0) {
    // The encoder wrote nothing: broadcasting the buffer would resend an old frame.
    diag_error_line(kSource, task, __LINE__, "nresult != 0\n");
  } else {
    EventChannelBroadcast(channel, channel->frame);
  }
  channel->state = 0;
  return result;
}

int SendStringEvent(EventChannel* channel, int state, int (*encode)(PipeMessage*)) {
  std::lock_guard<std::mutex> hold(channel->lock);
  channel->state = state;
  int result = encode(&channel->string_record);
  if (result == 0) EventChannelBroadcast(channel, channel->frame);
  channel->state = 0;
  return result;
}

}  // namespace

int EventChannelSetup(EventChannel* channel) {
  std::lock_guard<std::mutex> hold(channel->lock);
  channel->state = 0;
  channel->binary_record.frame = channel->frame;
  channel->string_record.frame = channel->frame;
  channel->eth_path = platform::ResolvePath("/tmp/event_eth");
  channel->gpib_path = platform::ResolvePath("/tmp/event_gpib");
  channel->usb_path = platform::ResolvePath("/tmp/event_usb");
  channel->eth_fd = OpenEventFifo(channel->eth_path);
  channel->usb_fd = OpenEventFifo(channel->usb_path);
  channel->gpib_fd = OpenEventFifo(channel->gpib_path);
  bool all_open = channel->eth_fd >= 0 && channel->usb_fd >= 0 && channel->gpib_fd >= 0;
  return all_open ? 0 : -1;
}

void EventChannelDropUnread(EventChannel* channel, int type) {
  std::lock_guard<std::mutex> hold(channel->lock);
  const std::string& path = type == 1 ? channel->gpib_path : type == 3 ? channel->usb_path : channel->eth_path;
  if (!path.empty()) DrainFifo(path);
}

void EventChannelClose(EventChannel* channel) {
  std::lock_guard<std::mutex> hold(channel->lock);
  for (int* fd : {&channel->eth_fd, &channel->gpib_fd, &channel->usb_fd}) CloseFifo(fd);
}

int EventChannelBroadcast(EventChannel* channel, const char* frame) {
  std::size_t length = std::strlen(frame) + 1;
  WriteEvent(channel->eth_fd, frame, length, "LAN");
  WriteEvent(channel->usb_fd, frame, length, "USB");
  WriteEvent(channel->gpib_fd, frame, length, "GPIB");
  return 0;
}

int event_mastermsgrout_do_NOTIFY_SCAN_START_task(EventChannel* channel) {
  return SendStringEvent(channel, 1, encode_E1_msg);
}

int event_mastermsgrout_do_NOTIFY_SCAN_END_task(EventChannel* channel) {
  return SendStringEvent(channel, 2, encode_E2_msg);
}

int event_mastermsgrout_do_NOTIFY_RELAY_CHANGE_task(const int32_t flags[kRelayChangeSlots],
                                                    EventChannel* channel) {
  std::lock_guard<std::mutex> hold(channel->lock);
  channel->state = 3;
  channel->binary_record.count = kRelayChangeSlots;
  for (int i = 0; i < kRelayChangeSlots; ++i) {
    channel->binary_record.data[i] = flags[i] != 0 ? 1 : 0;
  }
  int result = encode_E3_msg(&channel->binary_record);
  if (result == 0) EventChannelBroadcast(channel, channel->frame);
  channel->state = 0;
  return result;
}

int event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task(int slot, EventChannel* channel) {
  return SendSlotEvent(channel, slot, 4, "event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task",
                       encode_E4_msg);
}

int event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task(int slot, EventChannel* channel) {
  return SendSlotEvent(channel, slot, 5, "event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task",
                       encode_E5_msg);
}

int event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task(int slot, EventChannel* channel) {
  return SendSlotEvent(channel, slot, 6, "event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task",
                       encode_E6_msg);
}

void BroadcastRelayChangeNotice(const int32_t* flags) {
  event_mastermsgrout_do_NOTIFY_RELAY_CHANGE_task(flags, &g_event_channel);
}
