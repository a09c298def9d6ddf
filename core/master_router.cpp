// Master side of a command channel: router, line cutter and exchange.
#include "core/master_router.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/eventfd.h>
#include <unistd.h>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "platform/paths.h"

namespace {

constexpr const char* kCutterSource = "_util/GetMsgQueueCommands";
constexpr const char* kRouterSource = "_util/fsm_master_msg_rout";
constexpr const char* kNoError = "0,\"No error\"";
constexpr int kLineRetryLimit = 100;

// Master states, recorded for diagnosis.
enum MasterState : int {
  kTransient = 0,
  kClearing = 1,
  kReady = 2,
  kAnsweringError = 3,
  kSendingMessage = 5,
  kAnsweringStatus = 6,
  kCleared = 7,
  kStoringSre = 8,
  kStoringEsr = 9,
  kStoringStb = 10,
  kStoringEse = 11,
  kPushingError = 12,
  kDelivering = 13,
};

// The index of the line terminator in `text` (length `length`), or -1: the first CR or
// the first LF, the LF when it directly follows the CR, else whichever comes first.
int TerminatorIndex(const char* text, std::size_t length) {
  const void* cr_hit = std::memchr(text, '\r', length);
  const void* lf_hit = std::memchr(text, '\n', length);
  int cr = cr_hit ? static_cast<int>(static_cast<const char*>(cr_hit) - text) : -1;
  int lf = lf_hit ? static_cast<int>(static_cast<const char*>(lf_hit) - text) : -1;
  if (cr < 0) return lf;
  if (lf < 0) return cr;
  if (lf == cr + 1) return lf;
  return std::min(cr, lf);
}

// Appends `count` characters to the client's line. Once the line is full, each further
// character overwrites its last cell (with a warning), so a line is cut at
// kLineAssemblySize characters and ends with what came last.
void AppendToLine(IEEE_Client* client, const char* text, std::size_t count,
                  const char* overflow_warning) {
  for (std::size_t i = 0; i < count; ++i) {
    if (client->line_position > static_cast<int32_t>(kLineAssemblySize) - 1) {
      diag_warning_line(kCutterSource, "process_msg_queue_commands", __LINE__, "%s",
                        overflow_warning);
      client->line_position = static_cast<int32_t>(kLineAssemblySize) - 1;
    }
    client->line[client->line_position++] = text[i];
  }
}

// Sends the client's assembled line as one program message and starts a new line.
void SendLine(MasterChannel* channel, IEEE_Client* client) {
  char message[kLineAssemblySize + 1];
  std::memcpy(message, client->line, static_cast<std::size_t>(client->line_position));
  message[client->line_position] = '\0';
  client->line_position = 0;
  channel->current_client = client;
  mastermsgrout_do_READ_MSG_QUEUE_task(channel, message);
}

// S2 .. S5: which status byte each one stores, and how.
struct StoreRule {
  PipeMsgKind kind;
  int state;
  int (*decode)(PipeBinaryMessage* record);
  void (*MasterHooks::*hook)(IEEE_Client* client, uint8_t value);
  uint8_t IEEE_Client::*field;  // where the default stores it
};
constexpr StoreRule kStoreRules[] = {
    {PipeMsgKind::S2, kStoringEse, decode_S2_msg, &MasterHooks::store_ese, &IEEE_Client::ese},
    {PipeMsgKind::S3, kStoringStb, decode_S3_msg, &MasterHooks::store_stb, &IEEE_Client::stb},
    {PipeMsgKind::S4, kStoringEsr, decode_S4_msg, &MasterHooks::store_esr, &IEEE_Client::esr},
    {PipeMsgKind::S5, kStoringSre, decode_S5_msg, &MasterHooks::store_sre, &IEEE_Client::sre},
};

void StoreStatusByte(MasterChannel* channel, PipeMsgKind kind) {
  for (const StoreRule& rule : kStoreRules) {
    if (rule.kind != kind) continue;
    channel->state = rule.state;
    IEEE_Client* client = channel->current_client;
    if (rule.decode(&channel->binary_receive) != 0 || client == nullptr) return;
    uint8_t value = channel->binary_receive.data[0];
    if (channel->hooks.*rule.hook != nullptr) {
      (channel->hooks.*rule.hook)(client, value);
    } else {
      client->*rule.field = value;
    }
    return;
  }
}

int WriteWithNul(MasterChannel* channel) {
  std::size_t length = std::strlen(channel->send_frame) + 1;
  ssize_t written = WriteFrame(channel->write_fd, channel->send_frame, length);
  if (written != static_cast<ssize_t>(length)) {
    std::perror("mastermsgrout: write");
    return -1;
  }
  return 0;
}

// S8: the client's oldest error entry, or "no error" when its queue is empty.
void AnswerError(MasterChannel* channel) {
  channel->state = kAnsweringError;
  char text[STRING_QUEUE_TEXT_SIZE];
  IEEE_Client* client = channel->current_client;
  if (client == nullptr || client->error_queue.PopCopy(text) != 0) {
    std::snprintf(text, sizeof(text), "%s", kNoError);
  }
  encode_M2_msg(&channel->string_send, text);
  WriteWithNul(channel);
}

// S9: the four status bytes, STB bit 4 telling whether output is pending.
void AnswerStatus(MasterChannel* channel) {
  channel->state = kAnsweringStatus;
  IEEE_Client* client = channel->current_client;
  PipeBinaryMessage& out = channel->binary_send;
  out.count = 4;
  std::memset(out.data, 0, 4);
  if (client != nullptr) {
    bool pending = channel->hooks.output_pending != nullptr
                       ? channel->hooks.output_pending(client)
                       : (client->stb & kStbMessageAvailable) != 0;
    out.data[0] = client->ese;
    out.data[1] = client->esr;
    out.data[2] = client->sre;
    out.data[3] = static_cast<uint8_t>(pending ? (client->stb | kStbMessageAvailable)
                                               : (client->stb & ~kStbMessageAvailable));
  }
  encode_M3_msg(&out);
  WriteWithNul(channel);
}

// S10: the client's error queue and response buffer are emptied.
void ClearClient(MasterChannel* channel) {
  channel->state = kClearing;
  IEEE_Client* client = channel->current_client;
  if (client != nullptr) {
    client->error_queue.Clear();
    std::memset(client->response, 0, 4);
    if (channel->hooks.clear != nullptr) channel->hooks.clear(client);
  }
  channel->state = kCleared;
}

void Deliver(MasterChannel* channel) {
  channel->state = kDelivering;
  IEEE_Client* client = channel->current_client;
  if (client == nullptr) return;
  std::snprintf(client->response, sizeof(client->response), "%s", channel->string_receive.text);
  if (channel->hooks.deliver_response != nullptr) {
    channel->hooks.deliver_response(client, client->response);
  }
}

void PushError(MasterChannel* channel) {
  channel->state = kPushingError;
  IEEE_Client* client = channel->current_client;
  if (client == nullptr) return;
  if (channel->hooks.push_error != nullptr) {
    channel->hooks.push_error(client, channel->string_receive.text);
  } else {
    client->error_queue.PushCopy(channel->string_receive.text);
  }
}

// Acts on one controller frame. Returns true when the exchange is over (S1).
bool ActOnFrame(MasterChannel* channel) {
  PipeMsgKind kind{};
  if (parse_message_type(channel->receive_frame, nullptr, &kind) != 0) kind = PipeMsgKind{};
  // A request whose frame does not decode is not acted on: its record would still hold
  // the previous frame's bytes. S8 and S9 are answered regardless, the controller waits.
  switch (kind) {
    case PipeMsgKind::S1:
      channel->state = kTransient;  // execution over; ready for the next message
      channel->state = kReady;
      return true;
    case PipeMsgKind::S2:
    case PipeMsgKind::S3:
    case PipeMsgKind::S4:
    case PipeMsgKind::S5:
      StoreStatusByte(channel, kind);
      return false;
    case PipeMsgKind::S6:
      if (decode_S6_msg(&channel->string_receive) == 0) PushError(channel);
      return false;
    case PipeMsgKind::S7:
      if (decode_S7_msg(&channel->string_receive) == 0) Deliver(channel);
      return false;
    case PipeMsgKind::S8:
      AnswerError(channel);
      return false;
    case PipeMsgKind::S9:
      AnswerStatus(channel);
      return false;
    case PipeMsgKind::S10:
      ClearClient(channel);
      return false;
    default:
      // Not a request: dropped, and the exchange still waits for its S1, so that a
      // stray frame cannot make this exchange end early and the next one end on the
      // S1 meant for this one.
      std::puts("mastermsgrout_do_WAIT_FOR_SLAVE_task: default case reached");
      return false;
  }
}

// mastermsgrout_do_WAIT_FOR_SLAVE_task: serves requests until S1, or until the
// controller's FIFO fails.
void WaitForSlave(MasterChannel* channel) {
  for (;;) {
    FrameReadResult got = channel->reader.Next(channel->read_fd, channel->receive_frame);
    if (got == FrameReadResult::kStopped) return;
    if (got == FrameReadResult::kOverflow) {
      diag_error_line(kRouterSource, "mastermsgrout_do_WAIT_FOR_SLAVE_task", __LINE__,
                      "overflow\n");
      continue;
    }
    if (got != FrameReadResult::kFrame) {
      diag_error_line(kRouterSource, "mastermsgrout_do_WAIT_FOR_SLAVE_task", __LINE__,
                      "mastermsgrout_do_WAIT_FOR_SLAVE_task: read returned %d\n",
                      got == FrameReadResult::kClosed ? 0 : -1);
      return;
    }
    if (ActOnFrame(channel)) return;
  }
}

// Bytes a frame cannot carry in its text (they would cut or split it) are left out.
// The copy stops at the longest text a frame holds.
void CopyFrameSafe(char* out, const char* text) {
  std::size_t kept = 0;
  for (; *text != '\0' && kept < PIPE_MAX_TEXT_LENGTH; ++text) {
    if (*text != PIPE_SOH && *text != PIPE_STX && *text != PIPE_ETX) out[kept++] = *text;
  }
  out[kept] = '\0';
}

}  // namespace

bool CommandFifoPaths(int type, const char** server_to_controller,
                      const char** controller_to_server) {
  switch (type) {
    case kChannelTypeGpib:
      *server_to_controller = "/tmp/gpib_write_2_scpi";
      *controller_to_server = "/tmp/scpi_write_2_gpib";
      return true;
    case kChannelTypeSocket:
      *server_to_controller = "/tmp/sock_write_2_scpi";
      *controller_to_server = "/tmp/scpi_write_2_sock";
      return true;
    case kChannelTypeUsb:
      *server_to_controller = "/tmp/usb_write_2_scpi";
      *controller_to_server = "/tmp/scpi_write_2_usb";
      return true;
    default:
      return false;
  }
}

RouterWakeup::RouterWakeup() : fd_(eventfd(0, EFD_CLOEXEC)) {
  if (fd_ < 0) {
    std::perror("eventfd");
  } else {
    RegisterWakeFd(fd_);
  }
}

RouterWakeup::~RouterWakeup() {
  if (fd_ >= 0) close(fd_);
}

void RouterWakeup::Notify() {
  const uint64_t one = 1;
  if (fd_ >= 0 && write(fd_, &one, sizeof(one)) < 0) std::perror("RouterWakeup: write");
}

bool RouterWakeup::Wait() {
  uint64_t count = 0;
  while (IsRunning()) {
    if (fd_ < 0) {
      usleep(1000);  // no eventfd: fall back to a slow poll rather than spin
      return IsRunning();
    }
    if (read(fd_, &count, sizeof(count)) == sizeof(count)) return IsRunning();
    if (errno != EINTR) {
      std::perror("RouterWakeup: read");
      return false;
    }
  }
  return false;
}

int PushInboundChunk(StringQueue* queue, RouterWakeup* wakeup, IEEE_Client* client,
                     const char* bytes, std::size_t count) {
  std::unique_ptr<InboundChunk> chunk(new (std::nothrow) InboundChunk);
  if (!chunk) return -1;
  count = std::min(count, kInboundChunkBytes);
  std::memcpy(chunk->text, bytes, count);
  chunk->text[count] = '\0';
  chunk->next = nullptr;
  chunk->prev = nullptr;
  chunk->user = client;
  queue->PushEntry(std::move(chunk));
  if (wakeup != nullptr) wakeup->Notify();
  return 0;
}

bool ResolveCommandFifos(int type, std::string* server_to_controller,
                         std::string* controller_to_server) {
  const char* to_controller = nullptr;
  const char* to_server = nullptr;
  if (!CommandFifoPaths(type, &to_controller, &to_server)) {
    errno = EINVAL;
    return false;
  }
  *server_to_controller = platform::ResolvePath(to_controller);
  *controller_to_server = platform::ResolvePath(to_server);
  return true;
}

int MasterSetup(MasterChannel* channel, int type, const MasterHooks& hooks) {
  if (!ResolveCommandFifos(type, &channel->write_path, &channel->read_path)) return -1;
  channel->current_client = nullptr;
  channel->state = kReady;
  channel->hooks = hooks;
  channel->reader.Reset();
  channel->binary_receive.frame = channel->receive_frame;
  channel->string_receive.frame = channel->receive_frame;
  channel->binary_send.frame = channel->send_frame;
  channel->string_send.frame = channel->send_frame;
  channel->read_fd = OpenFifoEnd(channel->read_path, O_RDONLY);
  if (channel->read_fd < 0) return -1;
  channel->write_fd = OpenFifoEnd(channel->write_path, O_WRONLY);
  return channel->write_fd < 0 ? -1 : 0;
}

void MasterTeardown(MasterChannel* channel) {
  CloseFifo(&channel->read_fd);
  CloseFifo(&channel->write_fd);
}

void poll_msg_queues(StringQueue* const* queues, int count, MasterChannel* channel,
                     RouterWakeup* wakeup) {
  if (count <= 0) return;
  int current = 0;
  int retries = 0;
  int resume = -1;  // the queue whose client was left in the middle of a line
  while (IsRunning()) {
    // One round: try the queues from `current` on; a queue whose client is in the
    // middle of a line is drained first, up to the retry limit.
    bool served = false;
    for (int visited = 0; visited < count && IsRunning(); ++visited) {
      std::unique_ptr<InboundChunk> chunk = queues[current]->PopEntry();
      if (chunk) {
        served = true;
        IEEE_Client* client = InboundChunkClient(*chunk);
        channel->current_client = client;
        bool incomplete =
            client != nullptr && process_msg_queue_commands(channel, chunk->text, client) == 1;
        resume = incomplete ? current : -1;
        if (incomplete && ++retries <= kLineRetryLimit) {
          --visited;  // stay on this queue
          continue;
        }
      }
      retries = 0;
      current = (current + 1) % count;
    }
    if (served) continue;
    if (!wakeup->Wait()) return;
    if (resume >= 0) current = resume;  // the rest of that line is likely what woke us
  }
}

int process_msg_queue_commands(MasterChannel* channel, const char* chunk, IEEE_Client* client) {
  for (;;) {
    std::size_t length = std::strlen(chunk);
    if (length == 0) return 0;
    int terminator = TerminatorIndex(chunk, length);
    if (terminator < 0) {
      AppendToLine(client, chunk, length, "Message overflow detected\n");
      return 1;
    }
    std::size_t end = static_cast<std::size_t>(terminator);
    if (end == length - 1) {  // the line ends the chunk: it keeps its terminator
      AppendToLine(client, chunk, length, "Message overflow detected\n");
      SendLine(channel, client);
      return 0;
    }
    AppendToLine(client, chunk, end, "Message overflow detected, wrapping message around\n");
    SendLine(channel, client);
    chunk += end + 1;
  }
}

int mastermsgrout_do_READ_MSG_QUEUE_task(MasterChannel* channel, const char* text) {
  channel->state = kSendingMessage;
  if (std::strlen(text) + 1 > FRAME_SIZE) {
    diag_error_line(kRouterSource, "mastermsgrout_do_READ_MSG_QUEUE_task", __LINE__,
                    "szSCPIcmnd too long\n");
  }
  CopyFrameSafe(channel->string_send.text, text);
  channel->string_send.length = static_cast<uint32_t>(std::strlen(channel->string_send.text));
  if (encode_M1_msg(&channel->string_send) != 0) return -1;
  if (WriteWithNul(channel) != 0) {
    channel->state = kReady;  // the controller is gone: no S1 will come
    return -1;
  }
  WaitForSlave(channel);
  return 0;
}
