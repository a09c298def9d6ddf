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
constexpr const char* kOverflowWarning = "Message overflow detected\n";
constexpr const char* kOverflowWrapWarning =
    "Message overflow detected, wrapping message around\n";

// The status bits a refused line sets, named as the engine's status rules name them.
constexpr uint8_t kEsrCommandError = 0x20;
constexpr uint8_t kStbEventSummary = 0x20;
constexpr uint8_t kStbRequestService = 0x40;

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

// Bytes no program message may carry: NUL (the frames are NUL-terminated texts) and
// the three that delimit the frames between the programs.
bool IsReservedByte(char byte) {
  return byte == '\0' || byte == PIPE_SOH || byte == PIPE_STX || byte == PIPE_ETX;
}

// Counts a character past the line's limit; the first of a line is reported at once.
void CountOverflow(IEEE_Client* client, uint64_t characters, const char* warning) {
  if (client->line_overflow == 0) {
    diag_warning_line(kCutterSource, "process_msg_queue_commands", __LINE__, "%s", warning);
  }
  client->line_overflow += characters;
}

// Appends `count` characters to the client's line. Once the line is full, each further
// character overwrites its last cell, so a line is cut at kLineAssemblySize characters
// and ends with what came last.
void AppendToLine(IEEE_Client* client, const char* text, std::size_t count,
                  const char* overflow_warning) {
  for (std::size_t i = 0; i < count; ++i) {
    if (IsReservedByte(text[i])) client->line_refused = true;
    if (client->line_position > static_cast<int32_t>(kLineAssemblySize) - 1) {
      CountOverflow(client, 1, overflow_warning);
      client->line_position = static_cast<int32_t>(kLineAssemblySize) - 1;
    }
    client->line[client->line_position++] = text[i];
  }
}

// At the end of a cut line: the characters past its limit after the first, as one
// count, so that a long line cannot flood the diagnostics.
void ReportOverflow(IEEE_Client* client) {
  if (client->line_overflow > 1) {
    diag_warning_line(kCutterSource, "process_msg_queue_commands", __LINE__,
                      "Message overflow detected %llu more times in this line\n",
                      static_cast<unsigned long long>(client->line_overflow - 1));
  }
  client->line_overflow = 0;
}

void RefuseLine(MasterChannel* channel, IEEE_Client* client);

// Sends the client's assembled line as one program message and starts a new line; a
// line holding a reserved byte is refused instead.
void SendLine(MasterChannel* channel, IEEE_Client* client) {
  ReportOverflow(client);
  channel->current_client = client;
  if (client->line_refused) {
    client->line_refused = false;
    client->line_position = 0;
    RefuseLine(channel, client);
    return;
  }
  char message[kLineAssemblySize + 1];
  std::memcpy(message, client->line, static_cast<std::size_t>(client->line_position));
  message[client->line_position] = '\0';
  client->line_position = 0;
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

// Stores one status byte of `client` as the request `kind` does, through its hook.
void StoreByte(MasterChannel* channel, const StoreRule& rule, IEEE_Client* client,
               uint8_t value) {
  if (channel->hooks.*rule.hook != nullptr) {
    (channel->hooks.*rule.hook)(client, value);
  } else {
    client->*rule.field = value;
  }
}

const StoreRule& RuleOf(PipeMsgKind kind) {
  for (const StoreRule& rule : kStoreRules) {
    if (rule.kind == kind) return rule;
  }
  return kStoreRules[0];
}

void StoreStatusByte(MasterChannel* channel, PipeMsgKind kind) {
  const StoreRule& rule = RuleOf(kind);
  if (rule.kind != kind) return;
  channel->state = rule.state;
  IEEE_Client* client = channel->current_client;
  if (rule.decode(&channel->binary_receive) != 0 || client == nullptr) return;
  StoreByte(channel, rule, client, channel->binary_receive.data[0]);
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

// Appends an entry to the client's error queue, through the server's hook.
void PushErrorEntry(MasterChannel* channel, IEEE_Client* client, const char* text) {
  if (channel->hooks.push_error != nullptr) {
    channel->hooks.push_error(client, text);
  } else {
    client->error_queue.PushCopy(text);
  }
}

void PushError(MasterChannel* channel) {
  channel->state = kPushingError;
  IEEE_Client* client = channel->current_client;
  if (client == nullptr) return;
  PushErrorEntry(channel, client, channel->string_receive.text);
}

// A line holding a byte that no program message may carry would reach the controller
// as another message, or cut its frame: it is refused as the engine refuses an invalid
// character, which the client finds in its error queue and its ESR (the command error
// bit, with the summary and service request bits following it by the engine's rules).
void RefuseLine(MasterChannel* channel, IEEE_Client* client) {
  PushErrorEntry(channel, client, kInvalidCharacterEntry);
  if ((client->esr & kEsrCommandError) != 0) return;
  StoreByte(channel, RuleOf(PipeMsgKind::S4), client,
            static_cast<uint8_t>(client->esr | kEsrCommandError));
  if ((client->ese & kEsrCommandError) == 0 || (client->stb & kStbEventSummary) != 0) return;
  auto stb = static_cast<uint8_t>(client->stb | kStbEventSummary);
  if ((client->sre & kStbEventSummary) != 0) stb |= kStbRequestService;
  StoreByte(channel, RuleOf(PipeMsgKind::S3), client, stb);
}

// Gathers the bytes a receiving thread passes on into inbound chunks and queues them.
class ChunkBuilder {
 public:
  ChunkBuilder(StringQueue* queue, IEEE_Client* client) : queue_(queue), client_(client) {}

  void Add(char byte) {
    if (!chunk_ && !Start()) return;
    chunk_->text[fill_++] = byte;
    if (fill_ == kInboundChunkBytes) Flush();
  }
  // The next byte opens a chunk of its own, which records that `skipped` bytes of its
  // line were dropped before it.
  void SkipBefore(uint64_t skipped) {
    Flush();
    skipped_ = skipped;
  }
  void Flush() {
    if (!chunk_) return;
    chunk_->text[fill_] = '\0';
    chunk_->user_length = static_cast<uint32_t>(fill_);
    // Counted before the router can take it, so that its count never runs below zero.
    if (client_ != nullptr) client_->pending_chunks.fetch_add(1);
    queue_->PushEntry(std::move(chunk_));
    fill_ = 0;
    ++pushed_;
  }
  // An empty chunk: with no client, the marker a server queues behind a client's last.
  void AddMarker() {
    if (Start()) Flush();
  }
  int pushed() const { return pushed_; }
  bool failed() const { return failed_; }
  InboundLine& spare_line() { return spare_line_; }

 private:
  bool Start() {
    if (failed_) return false;
    chunk_.reset(new (std::nothrow) InboundChunk);
    if (!chunk_) {
      failed_ = true;
      std::perror("QueueInboundBytes: allocation");
      return false;
    }
    chunk_->next = nullptr;
    chunk_->prev = nullptr;
    chunk_->user = client_;
    chunk_->user_skipped = skipped_;
    skipped_ = 0;
    fill_ = 0;
    return true;
  }

  StringQueue* queue_;
  IEEE_Client* client_;
  std::unique_ptr<InboundChunk> chunk_;
  std::size_t fill_ = 0;
  uint64_t skipped_ = 0;
  int pushed_ = 0;
  bool failed_ = false;
  InboundLine spare_line_;
};

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

int QueueInboundBytes(StringQueue* queue, RouterWakeup* wakeup, IEEE_Client* client,
                      const char* bytes, std::size_t count, bool* failed) {
  ChunkBuilder out(queue, client);
  if (client == nullptr) {
    out.AddMarker();
    count = 0;
  }
  InboundLine& line = client != nullptr ? client->inbound : out.spare_line();
  std::size_t at = 0;
  while (at < count) {
    const char byte = bytes[at];
    const bool terminator = byte == '\r' || byte == '\n';
    if (!terminator && line.passed > kLineAssemblySize) {
      // Past the limit: the run up to the next line end is dropped here.
      std::size_t end = at;
      for (; end < count && bytes[end] != '\r' && bytes[end] != '\n'; ++end) {
        if (IsReservedByte(bytes[end])) line.dropped_reserved = true;
      }
      line.dropped += end - at;
      line.last_dropped = bytes[end - 1];
      at = end;
      continue;
    }
    if (terminator) {
      if (line.dropped > 0) {
        // The cutter keeps a cut line's most recent character: it goes on, the count
        // of the others with it. A reserved byte among them takes its place, so that
        // the line is refused as it would have been whole.
        out.SkipBefore(line.dropped - 1);
        out.Add(line.dropped_reserved ? '\0' : line.last_dropped);
        line.dropped = 0;
        line.dropped_reserved = false;
      }
      line.passed = 0;
    } else {
      ++line.passed;
    }
    out.Add(byte);
    ++at;
  }
  out.Flush();
  if (failed != nullptr) *failed = out.failed();
  if (out.pushed() > 0 && wakeup != nullptr) wakeup->Notify();
  return out.pushed();
}

int PushInboundChunk(StringQueue* queue, RouterWakeup* wakeup, IEEE_Client* client,
                     const char* bytes, std::size_t count) {
  bool failed = false;
  QueueInboundBytes(queue, wakeup, client, bytes, count, &failed);
  return failed ? -1 : 0;
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
        const std::size_t length = std::min<std::size_t>(chunk->user_length, kInboundChunkBytes);
        bool incomplete = client != nullptr &&
                          process_msg_queue_bytes(channel, chunk->text, length,
                                                  chunk->user_skipped, client) == 1;
        if (client != nullptr) {
          const int32_t pending = client->pending_chunks.fetch_sub(1) - 1;
          if (channel->hooks.chunk_done != nullptr) channel->hooks.chunk_done(client, pending);
        }
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
  return process_msg_queue_bytes(channel, chunk, std::strlen(chunk), 0, client);
}

int process_msg_queue_bytes(MasterChannel* channel, const char* bytes, std::size_t count,
                            uint64_t skipped, IEEE_Client* client) {
  // Dropped where they arrived, past the limit: the line is full already.
  if (skipped > 0) CountOverflow(client, skipped, kOverflowWarning);
  for (;;) {
    if (count == 0) return 0;
    int terminator = TerminatorIndex(bytes, count);
    if (terminator < 0) {
      AppendToLine(client, bytes, count, kOverflowWarning);
      return 1;
    }
    std::size_t end = static_cast<std::size_t>(terminator);
    if (end == count - 1) {  // the line ends the chunk: it keeps its terminator
      AppendToLine(client, bytes, count, kOverflowWarning);
      SendLine(channel, client);
      return 0;
    }
    AppendToLine(client, bytes, end, kOverflowWrapWarning);
    SendLine(channel, client);
    bytes += end + 1;
    count -= end + 1;
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
