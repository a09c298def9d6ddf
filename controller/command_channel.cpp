// Controller side of the command channels: setup, the idle loop, execution under the
// execution mutex, and the ten callbacks the engine talks back through.
#include "controller/command_channel.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/diag_print.h"
#include "core/master_router.h"
#include "core/run_state.h"
#include "core/seam.h"

namespace {

Seam<void(ChannelHandle*)> g_engine;

constexpr const char* kSource = "_util/fsm_slave_msg_rout";

// Longest response piece that still leaves room for the line feed of the last piece
// inside one S7 frame: STX, "S7", SOH, text, ETX and NUL fill FRAME_SIZE.
constexpr std::size_t kResponsePiece = 10239;

// At most one program message executes in the controller at a time, whichever
// interface it came from; a scan step from the external trigger takes it too.
std::mutex g_execution_mutex;

// Writes what waits in the outbox. Returns what was written, or -1.
int FlushOutbox(CommandChannel* channel) {
  if (channel->outbox_length == 0) return 0;
  ssize_t written = WriteFrame(channel->write_fd, channel->outbox, channel->outbox_length);
  channel->outbox_length = 0;
  return static_cast<int>(written);
}

// Puts the send buffer's frame, without its NUL, in the outbox; `flush` sends the
// outbox at once (a frame the server answers, or S1). Returns the frame's length when
// it was taken, else what the failed write returned.
int SendFrame(CommandChannel* channel, bool flush) {
  std::size_t length = std::strlen(channel->send_frame);
  if (channel->outbox_length + length > sizeof channel->outbox) {
    int written = FlushOutbox(channel);
    if (written < 0) return written;
  }
  std::memcpy(channel->outbox + channel->outbox_length, channel->send_frame, length);
  channel->outbox_length += length;
  if (!flush) return static_cast<int>(length);
  std::size_t batch = channel->outbox_length;
  int written = FlushOutbox(channel);
  // A short batch is reported as a short write of this frame.
  return written == static_cast<int>(batch) ? static_cast<int>(length) : written;
}

int SendIfEncoded(CommandChannel* channel, int encoded, bool flush = false) {
  return encoded == 0 ? SendFrame(channel, flush) : encoded;
}

// Reads the server's answer (M2 or M3) into the receive buffer. False when the FIFO
// failed or closed, or a stop interrupted the wait.
bool ReadAnswer(CommandChannel* channel) {
  for (;;) {
    FrameReadResult got = channel->reader.Next(channel->read_fd, channel->receive_frame);
    if (got == FrameReadResult::kFrame) return true;
    if (got != FrameReadResult::kOverflow) return false;
  }
}

int NotifyDone(CommandChannel* channel) {
  channel->state = kChannelSentS1;
  return SendIfEncoded(channel, encode_S1_msg(&channel->string_send), true);
}

int PushError(CommandChannel* channel, const char* text) {
  channel->state = kChannelSentS6;
  int result = SendIfEncoded(channel, encode_S6_msg(&channel->string_send, text));
  channel->state = kChannelCallbackDone;
  return result;
}

// slave_msgrout_do_WRITE_RESPONSE_BUFFER_task: the response goes out in S7 pieces of
// kResponsePiece characters; the last piece carries the line feed that ends it.
int WriteResponse(CommandChannel* channel, const char* text) {
  channel->state = kChannelWritingResponse;
  std::size_t remaining = std::strlen(text);
  int result = 0;
  for (;;) {
    bool last = remaining + 7 < FRAME_SIZE;
    std::size_t take = last ? remaining : kResponsePiece;
    char* piece = channel->string_send.text;
    std::memcpy(piece, text, take);
    if (last) piece[take++] = '\n';
    piece[take] = '\0';
    channel->string_send.length = static_cast<uint32_t>(take);
    int encoded = encode_S7_msg(&channel->string_send);
    if (encoded != 0) {
      result = encoded;
    } else {
      int length = static_cast<int>(std::strlen(channel->send_frame));
      result = SendFrame(channel, false);
      if (result != length) {
        diag_warning_line(kSource, "slave_msgrout_do_WRITE_RESPONSE_BUFFER_task", __LINE__,
                          "write only sent %d of %d bytes\n", result, length);
      }
    }
    if (last) break;
    text += kResponsePiece;
    remaining -= kResponsePiece;
  }
  channel->state = kChannelCallbackDone;
  return result;
}

// S8, then slave_msgrout_do_READ_ERROR_WAIT_task: the server answers M2 with its
// client's oldest error entry. text_out stays empty when no entry could be read.
int ReadError(CommandChannel* channel, char* text_out) {
  text_out[0] = '\0';
  channel->state = kChannelSentS8;
  int result = SendIfEncoded(channel, encode_S8_msg(&channel->string_send), true);
  if (result < 0) {
    channel->state = kChannelCallbackDone;
    return result;  // the server never got the request: no answer will come
  }
  channel->state = kChannelWaitingM2;
  result = -1;
  if (!ReadAnswer(channel)) {
    std::perror("slave_msgrout_do_READ_ERROR_WAIT_task: read");
  } else {
    result = decode_M2_msg(&channel->string_receive);
    if (result == 0) {
      std::snprintf(text_out, kCommandTextSize, "%s", channel->string_receive.text);
    }
  }
  channel->state = kChannelCallbackDone;
  return result;
}

// S9, then the server answers M3 with ESE, ESR, SRE and STB.
int ReadStatus(CommandChannel* channel, uint8_t* ese_out, uint8_t* esr_out, uint8_t* sre_out,
               uint8_t* stb_out) {
  channel->state = kChannelSentS9;
  int result = SendIfEncoded(channel, encode_S9_msg(&channel->string_send), true);
  if (result < 0) {
    channel->state = kChannelCallbackDone;
    return result;
  }
  channel->state = kChannelWaitingM3;
  result = -1;
  if (ReadAnswer(channel)) {
    result = decode_M3_msg(&channel->binary_receive);
    if (result == 0 && channel->binary_receive.count < 4) result = ERR_CODE_PIPE_BAD_KIND;
    if (result == 0) {
      *ese_out = channel->binary_receive.data[0];
      *esr_out = channel->binary_receive.data[1];
      *sre_out = channel->binary_receive.data[2];
      *stb_out = channel->binary_receive.data[3];
    }
  }
  channel->state = kChannelCallbackDone;
  return result;
}

int WriteStatusByte(CommandChannel* channel, int state, uint8_t value,
                    int (*encode)(PipeBinaryMessage*)) {
  channel->state = state;
  channel->binary_send.count = 1;
  channel->binary_send.data[0] = value;
  return SendIfEncoded(channel, encode(&channel->binary_send));
}

int WriteEse(CommandChannel* channel, uint8_t value) {
  return WriteStatusByte(channel, kChannelSentS2, value, encode_S2_msg);
}
int WriteEsr(CommandChannel* channel, uint8_t value) {
  return WriteStatusByte(channel, kChannelSentS4, value, encode_S4_msg);
}
int WriteSre(CommandChannel* channel, uint8_t value) {
  return WriteStatusByte(channel, kChannelSentS5, value, encode_S5_msg);
}
int WriteStb(CommandChannel* channel, uint8_t value) {
  return WriteStatusByte(channel, kChannelSentS3, value, encode_S3_msg);
}

int ClearErrors(CommandChannel* channel) {
  channel->state = kChannelSentS10;
  return SendIfEncoded(channel, encode_S10_msg(&channel->string_send));
}

void Execute(CommandChannel* channel, ChannelHandle* handle) {
  channel->state = kChannelExecuting;
  std::lock_guard<std::mutex> hold(g_execution_mutex);
  if (ProgramMessageEngine engine = g_engine.function()) {
    engine(handle);
  } else {
    diag_error_line(kSource, "slave_msgrout_do_IDLE_task", __LINE__,
                    "no engine connected, program message dropped\n");
  }
  NotifyDone(channel);  // S1 goes out while the mutex is still held
}

// The server ended: what it left unread in the FIFO to it was meant for it, and a new
// server must not take it for its own. No other reader has the FIFO open now.
void DropUnread(CommandChannel* channel) {
  DrainFifo(channel->write_path);
  channel->outbox_length = 0;
  channel->reader.Reset();
  const uint64_t one = 1;
  if (channel->gone_fd >= 0 && write(channel->gone_fd, &one, sizeof one) < 0) {
    std::perror("slave_msgrout_do_IDLE_task: eventfd");
  }
}

// The server closed its end: wait, blocked in open, until it opens it again. The old
// end is closed only once the new one is open: were the FIFO left without a reader in
// between, a server quick to return would find it open (its open succeeds on the old
// end) and its first message would meet no reader and be lost.
bool ReopenRead(CommandChannel* channel) {
  const int reopened = OpenFifo(channel->read_path, O_RDONLY);
  CloseFifo(&channel->read_fd);
  channel->reader.Reset();
  channel->read_fd = reopened;
  if (channel->read_fd < 0 && IsRunning()) std::perror("slave_msgrout_do_IDLE_task: open");
  return channel->read_fd >= 0;
}

}  // namespace

void SetProgramMessageEngine(ProgramMessageEngine engine) { g_engine.Connect(engine); }

int CommandChannelSetup(CommandChannel* channel, ChannelHandle* handle, int type) {
  if (!ResolveCommandFifos(type, &channel->read_path, &channel->write_path)) return -1;
  channel->state = kChannelIdle;
  channel->write_fd = -1;
  channel->read_fd = -1;
  channel->outbox_length = 0;
  channel->reader.Reset();
  if (channel->gone_fd < 0) channel->gone_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  channel->binary_receive.frame = channel->receive_frame;
  channel->string_receive.frame = channel->receive_frame;
  channel->binary_send.frame = channel->send_frame;
  channel->string_send.frame = channel->send_frame;

  handle->command_text[0] = '\0';
  handle->notify_done = NotifyDone;
  handle->push_error = PushError;
  handle->write_response = WriteResponse;
  handle->read_status = ReadStatus;
  handle->read_error = ReadError;
  handle->write_ese = WriteEse;
  handle->write_esr = WriteEsr;
  handle->write_sre = WriteSre;
  handle->write_stb = WriteStb;
  handle->clear_errors = ClearErrors;
  handle->channel = channel;

  channel->write_fd = OpenFifoEnd(channel->write_path, O_WRONLY);
  if (channel->write_fd < 0) return -1;
  channel->read_fd = OpenFifoEnd(channel->read_path, O_RDONLY);
  return channel->read_fd < 0 ? -1 : 0;
}

void CommandChannelTeardown(CommandChannel* channel) {
  CloseFifo(&channel->read_fd);
  CloseFifo(&channel->write_fd);
  if (channel->gone_fd >= 0) close(channel->gone_fd);
  channel->gone_fd = -1;
}

void slave_msgrout_do_IDLE_task(CommandChannel* channel, ChannelHandle* handle) {
  char payload[FRAME_SIZE];
  while (IsRunning()) {
    channel->state = kChannelIdle;
    FrameReadResult got = channel->reader.Next(channel->read_fd, channel->receive_frame);
    if (!IsRunning()) return;
    if (got == FrameReadResult::kClosed) {
      DropUnread(channel);
      channel->awaiting_server = true;
      const bool reopened = ReopenRead(channel);
      channel->awaiting_server = false;
      if (!reopened) return;
      continue;
    }
    if (got == FrameReadResult::kError) {
      std::perror("slave_msgrout_do_IDLE_task: read");
      CloseFifo(&channel->read_fd);  // a failing descriptor would fail again at once
      return;
    }
    if (got != FrameReadResult::kFrame) continue;
    PipeMsgKind kind{};
    payload[0] = '\0';
    if (parse_message_type(channel->receive_frame, payload, &kind) == 0 &&
        kind == PipeMsgKind::M1) {
      std::snprintf(handle->command_text, kCommandTextSize, "%s", payload);
      Execute(channel, handle);
    } else {
      std::printf(
          "slave_msgrout_do_IDLE_task : Warning!  Unexpected pipe message type (M1) for "
          "msg=%s\n",
          channel->receive_frame);
    }
  }
}

std::mutex& ExecutionMutex() { return g_execution_mutex; }
