// The controller's broadcaster of chassis events. It owns the write ends of the three
// event FIFOs, one per I/O server, and sends each event frame (E1 .. E6) to all of them:
// scan started and ended, relay state changes (one flag per slot index 0 .. 12, 0 being
// the chassis itself), emergency reset, interlock broken and restored.
//
// Events are raised from several threads (a command channel thread while it executes,
// the interrupt monitor for externally triggered scan steps), so the channel's records,
// state and writes are guarded by one lock and frames never interleave. The FIFOs are
// written without blocking once open: a server that stops reading its events loses
// them rather than stalling the controller.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/pipes_comm.h"
#include "devices/slots.h"

inline constexpr int kRelayChangeSlots = kSlotCount;

struct EventChannel {
  int state = 0;  // 0 idle, 1 .. 6 while sending E1 .. E6
  int eth_fd = -1;
  int gpib_fd = -1;
  int usb_fd = -1;
  PipeBinaryMessage binary_record;
  PipeMessage string_record;
  char frame[FRAME_SIZE];
  std::string eth_path;  // resolved FIFO paths
  std::string gpib_path;
  std::string usb_path;
  std::mutex lock;  // guards everything above once the channel is set up
};

// The controller's one event channel.
extern EventChannel g_event_channel;

// Creates the three event FIFOs when missing, then opens "/tmp/event_eth",
// "/tmp/event_usb" and "/tmp/event_gpib" write-only in that order, each open blocking
// until its server opens the read end. A failed open is reported with perror("open")
// and leaves that server without events. Returns 0, or -1 when any open failed.
int EventChannelSetup(EventChannel* channel);

// Drops the events that the server of `type` (1 GPIB, 2 LAN, 3 USB) left unread when it
// ended, before a new one starts: they were news for clients that are gone. The
// controller's write end stays open, so the new server's open succeeds at once.
void EventChannelDropUnread(EventChannel* channel, int type);

// Closes every open descriptor.
void EventChannelClose(EventChannel* channel);

// Writes `frame` with its NUL to the LAN, USB and GPIB FIFOs that are open. The caller
// holds the channel's lock. Returns 0.
int EventChannelBroadcast(EventChannel* channel, const char* frame);

// E1 and E2.
int event_mastermsgrout_do_NOTIFY_SCAN_START_task(EventChannel* channel = &g_event_channel);
int event_mastermsgrout_do_NOTIFY_SCAN_END_task(EventChannel* channel = &g_event_channel);

// E3 with the 13 slot flags as data bytes (each sent as 0 or 1).
int event_mastermsgrout_do_NOTIFY_RELAY_CHANGE_task(const int32_t flags[kRelayChangeSlots],
                                                    EventChannel* channel = &g_event_channel);

// E3 on the controller's event channel, in the form of the slot notification
// broadcast (the wiring unit connects it).
void BroadcastRelayChangeNotice(const int32_t* flags);

// E4, E5, E6 for a slot below 13 other than 10; other slots are refused with the
// invalid-slot error and nothing is sent (result -1).
int event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task(int slot,
                                                      EventChannel* channel = &g_event_channel);
int event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task(int slot,
                                                      EventChannel* channel = &g_event_channel);
int event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task(
    int slot, EventChannel* channel = &g_event_channel);
