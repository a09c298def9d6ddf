// Event reader of the servers and the event word and mask rules of the LAN notices.
#include "core/event_reader.h"

#include <cstdio>
#include <fcntl.h>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "devices/slots.h"
#include "platform/paths.h"

namespace {

constexpr const char* kReaderSource = "_util/fsm_slave_event_msg_rout";
constexpr const char* kNoticeSource = "_ethernet/AsyncSockSvr";

// The slot named by data byte 0 of types 3 .. 5, or -1 when there is none.
int EventSlot(const uint8_t* data, int count) {
  return (data != nullptr && count >= 1 && data[0] < kSlotCount) ? data[0] : -1;
}

// Decodes `frame` into the reader's record of its form. Returns the decoder's result.
int DecodeEvent(EventReader* reader, PipeMsgKind kind) {
  switch (kind) {
    case PipeMsgKind::E1: return decode_E1_msg(&reader->string_record);
    case PipeMsgKind::E2: return decode_E2_msg(&reader->string_record);
    case PipeMsgKind::E3: return decode_E3_msg(&reader->binary_record);
    case PipeMsgKind::E4: return decode_E4_msg(&reader->binary_record);
    case PipeMsgKind::E5: return decode_E5_msg(&reader->binary_record);
    case PipeMsgKind::E6: return decode_E6_msg(&reader->binary_record);
    default: return ERR_CODE_PIPE_BAD_KIND;
  }
}

// event_slavemsgrout_do_NOTIFY_ECHO_task: decode the frame and notify. A frame that
// does not decode is reported and dropped: its record would still hold the previous
// event's bytes, and notifying those would name the wrong slots.
void NotifyEcho(EventReader* reader, PipeMsgKind kind) {
  reader->state = 1;
  int type = static_cast<int>(kind) - static_cast<int>(PipeMsgKind::E1);
  if (DecodeEvent(reader, kind) != 0) {
    diag_error_line(kReaderSource, "event_slavemsgrout_do_NOTIFY_ECHO_task", __LINE__,
                    "retval != 0\n");
    return;
  }
  bool binary = kind != PipeMsgKind::E1 && kind != PipeMsgKind::E2;
  const uint8_t* data = binary ? reader->binary_record.data : nullptr;
  int count = binary ? reader->binary_record.count : 0;
  if (reader->notify != nullptr) reader->notify(type, data, count, reader->context);
}

}  // namespace

uint32_t NotifyEchoEventWord(int type, const uint8_t* data, int count) {
  uint32_t word = 0;
  switch (type) {
    case kEventTypeScanStarted: return 0x1;
    case kEventTypeScanEnded: return 0x2;
    case kEventTypeRelayChange:
      for (int i = 0; data != nullptr && i < count && i < kSlotCount; ++i) {
        if (data[i] == 1) word |= 1u << (i + 2);
      }
      return word | kEventWordRelayChange;
    case kEventTypeEmergencyReset: word = kEventWordEmergencyReset; break;
    case kEventTypeInterlockBroken: word = kEventWordInterlockBroken; break;
    case kEventTypeInterlockRestored: word = kEventWordInterlockRestored; break;
    default: return 0;
  }
  int slot = EventSlot(data, count);
  if (slot >= 0) word |= 1u << (slot + 2);
  return word;
}

void FormatEventNotice(uint32_t word, uint8_t notice[kEventNoticeSize]) {
  for (int i = 0; i < 4; ++i) notice[i] = static_cast<uint8_t>(word >> (8 * i));
  notice[4] = 0x0A;
}

int EventIsRegistered(int type, uint32_t mask, const uint8_t* data) {
  switch (type) {
    case kEventTypeScanStarted:
    case kEventTypeScanEnded:
      return (mask & 0x1) ? 1 : 0;
    case kEventTypeRelayChange:
      for (int i = 0; data != nullptr && i < kSlotCount - 1; ++i) {
        if (data[i] == 1 && (mask & (1u << (i + 1)))) return 1;
      }
      return 0;
    case kEventTypeEmergencyReset:
    case kEventTypeInterlockBroken:
    case kEventTypeInterlockRestored: {
      int slot = EventSlot(data, data != nullptr ? 1 : 0);
      return (slot >= 0 && (mask & (1u << (slot + 1)))) ? 1 : 0;
    }
    default:
      diag_error_line(kNoticeSource, "EventIsRegistered", __LINE__, "default case\n");
      return 0;
  }
}

int EventReaderSetup(EventReader* reader, const char* fixed_path, EventNotifyHook notify,
                     void* context) {
  reader->state = 0;
  reader->path = platform::ResolvePath(fixed_path);
  reader->notify = notify;
  reader->context = context;
  reader->reader.Reset();
  reader->string_record.frame = reader->frame;
  reader->binary_record.frame = reader->frame;
  reader->fd = OpenFifoEnd(reader->path, O_RDONLY);
  return reader->fd < 0 ? -1 : 0;
}

void EventReaderClose(EventReader* reader) {
  CloseFifo(&reader->fd);
}

int event_slavemsgrout_do_IDLE_task(EventReader* reader) {
  for (;;) {
    reader->state = 0;
    FrameReadResult got = reader->reader.Next(reader->fd, reader->frame);
    if (!IsRunning() || got == FrameReadResult::kStopped) return 0;
    if (got == FrameReadResult::kOverflow) {
      diag_error_line(kReaderSource, "event_slavemsgrout_do_IDLE_task", __LINE__,
                      "syncsocket_slavemsgrout_do_IDLE_task: command overrun with out ETX "
                      "detected\n");
      continue;
    }
    if (got != FrameReadResult::kFrame) {
      diag_error_line(kReaderSource, "event_slavemsgrout_do_IDLE_task", __LINE__,
                      "read returned %d, exiting\n", got == FrameReadResult::kClosed ? 0 : -1);
      return -1;
    }
    PipeMsgKind kind{};
    if (parse_message_type(reader->frame, nullptr, &kind) != 0) continue;
    if (kind >= PipeMsgKind::E1 && kind <= PipeMsgKind::E6) NotifyEcho(reader, kind);
  }
}
