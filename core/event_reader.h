// The servers' side of the event channel: the event reader that takes the controller's
// event frames (E1 .. E6) off a server's event FIFO and hands each to the server's
// notify hook, and the pure rules the LAN server applies to an event: the 32-bit event
// word of its 5-byte notice and whether a client's event mask asks for the event.
//
// Event types are the frame kinds counted from E1: 0 scan started, 1 scan ended,
// 2 relay state change (one byte per slot 0 .. 12), 3 emergency reset, 4 interlock
// broken, 5 interlock restored (data byte 0 is the slot).
#pragma once

#include <cstdint>
#include <string>

#include "core/fifo_io.h"
#include "core/pipes_comm.h"

inline constexpr int kEventTypeScanStarted = 0;
inline constexpr int kEventTypeScanEnded = 1;
inline constexpr int kEventTypeRelayChange = 2;
inline constexpr int kEventTypeEmergencyReset = 3;
inline constexpr int kEventTypeInterlockBroken = 4;
inline constexpr int kEventTypeInterlockRestored = 5;

// Bits of the event word besides bit 0 (scan started), bit 1 (scan ended) and the slot
// bits s + 2 for slots 0 .. 12.
inline constexpr uint32_t kEventWordInterlockRestored = 0x08000000;
inline constexpr uint32_t kEventWordInterlockBroken = 0x10000000;
inline constexpr uint32_t kEventWordRelayChange = 0x20000000;
inline constexpr uint32_t kEventWordEmergencyReset = 0x40000000;

// Size of an event notice on the event socket: the word, least significant byte first,
// then a line feed.
inline constexpr int kEventNoticeSize = 5;

// The event word of an event of `type` with its `count` data bytes (13 slot flags for
// type 2, the slot in byte 0 for types 3 .. 5, none for 0 and 1). Slot numbers above
// 12 set no slot bit. An unknown type gives 0.
uint32_t NotifyEchoEventWord(int type, const uint8_t* data, int count);

// Writes the 5-byte notice of `word` into `notice`.
void FormatEventNotice(uint32_t word, uint8_t notice[kEventNoticeSize]);

// 1 when `mask` asks for the event: types 0 and 1 by mask bit 0; type 2 when a slot
// 0 .. 11 is flagged (byte i is 1) and mask bit i + 1 is set (slot 12 is not looked
// at); types 3 .. 5 by mask bit s + 1 for the slot s in byte 0. Any other type prints
// the default-case error and gives 0.
int EventIsRegistered(int type, uint32_t mask, const uint8_t* data);

// What a server does with one event; the GPIB server's does nothing.
using EventNotifyHook = void (*)(int type, const uint8_t* data, int count, void* context);

struct EventReader {
  int state = 0;  // 0 reading, 1 notifying
  int fd = -1;
  std::string path;  // resolved path of the event FIFO
  char frame[FRAME_SIZE];
  PipeMessage string_record;
  PipeBinaryMessage binary_record;
  EventNotifyHook notify = nullptr;
  void* context = nullptr;
  FrameReader reader{'\0'};  // event frames are written with their NUL
};

// Creates the event FIFO at `fixed_path` (resolved through the platform layer) when it
// is missing and opens it read-only, which blocks until the controller opens it for
// writing. Returns 0, or -1 (errno set).
int EventReaderSetup(EventReader* reader, const char* fixed_path, EventNotifyHook notify,
                     void* context);

// Closes the FIFO if open.
void EventReaderClose(EventReader* reader);

// The event reader thread's loop: reads frames until a stop or until the controller's
// end of the FIFO closes, and hands each event frame to the notify hook. Returns 0 on a
// stop, -1 when the FIFO failed or closed.
int event_slavemsgrout_do_IDLE_task(EventReader* reader);
