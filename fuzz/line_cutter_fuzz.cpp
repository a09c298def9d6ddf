// Fuzz target for the servers' line cutter: the input is what one client sends, cut
// into received chunks (the first byte sets their size, 1 .. 254), queued the way a server's
// receiving thread queues them and cut into program messages by the router, each sent
// to a stand-in controller that answers S1. The same bytes handed to the cutter
// directly, without the queueing's early cut of overlong lines, must send the same
// messages and leave the same error entries and status bytes; every message sent must
// be an M1 frame the controller can decode.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/fifo_io.h"
#include "core/ieee_client.h"
#include "core/master_router.h"
#include "core/pipes_comm.h"
#include "core/string_queue.h"

namespace {

// More than the lines of two passes over the longest input scripts/fuzz.sh makes.
constexpr int kAnswers = 40000;
constexpr std::size_t kLongestInput = 16384;

void Fail(const char* what) {
  std::fprintf(stderr, "line_cutter: %s\n", what);
  std::abort();
}

int MemoryFile(const char* name) {
  int fd = memfd_create(name, 0);
  if (fd < 0) Fail("memfd_create");
  return fd;
}

// The router's channel with a stand-in controller on files instead of FIFOs: the
// router's M1 frames collect in one, the other holds an S1 for every message.
MasterChannel* g_channel = nullptr;

void Rewind() {
  if (ftruncate(g_channel->write_fd, 0) != 0) Fail("ftruncate");
  lseek(g_channel->write_fd, 0, SEEK_SET);
  lseek(g_channel->read_fd, 0, SEEK_SET);
  g_channel->reader.Reset();
  g_channel->current_client = nullptr;
}

// What a pass left behind: the frames sent, the client's error entries and status.
struct Outcome {
  std::vector<std::string> frames;
  std::vector<std::string> errors;
  uint8_t esr = 0;
  uint8_t stb = 0;
  bool operator==(const Outcome&) const = default;
};

Outcome Collect(IEEE_Client* client) {
  Outcome outcome;
  const off_t size = lseek(g_channel->write_fd, 0, SEEK_END);
  std::string written(static_cast<std::size_t>(size), '\0');
  if (size > 0 && pread(g_channel->write_fd, written.data(), written.size(), 0) != size) {
    Fail("pread");
  }
  // Each frame is written with its NUL.
  for (std::size_t start = 0; start < written.size();) {
    std::size_t end = written.find('\0', start);
    if (end == std::string::npos) Fail("a frame written without its NUL");
    outcome.frames.push_back(written.substr(start, end - start));
    start = end + 1;
  }
  char entry[STRING_QUEUE_TEXT_SIZE];
  while (client->error_queue.PopCopy(entry) == 0) outcome.errors.emplace_back(entry);
  outcome.esr = client->esr;
  outcome.stb = client->stb;
  return outcome;
}

void CheckFrames(const Outcome& outcome) {
  auto frame = std::make_unique<char[]>(FRAME_SIZE);
  auto record = std::make_unique<PipeMessage>();
  record->frame = frame.get();
  for (const std::string& sent : outcome.frames) {
    if (sent.size() >= FRAME_SIZE) Fail("a frame longer than a frame buffer");
    std::memcpy(frame.get(), sent.c_str(), sent.size() + 1);
    if (decode_M1_msg(record.get()) != 0) Fail("a message the controller cannot decode");
    if (record->length > kLineAssemblySize + 1) Fail("a message longer than a line");
  }
  for (const std::string& entry : outcome.errors) {
    if (entry != kInvalidCharacterEntry) Fail("an error entry other than the refusal");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The cutter reports overlong lines on standard output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("freopen");
  g_channel = new MasterChannel;
  g_channel->binary_receive.frame = g_channel->receive_frame;
  g_channel->string_receive.frame = g_channel->receive_frame;
  g_channel->binary_send.frame = g_channel->send_frame;
  g_channel->string_send.frame = g_channel->send_frame;
  g_channel->write_fd = MemoryFile("line_cutter_m1");
  g_channel->read_fd = MemoryFile("line_cutter_s1");
  const std::string s1 = std::string(1, PIPE_STX) + "S1" + PIPE_ETX;
  std::string answers;
  for (int i = 0; i < kAnswers; ++i) answers += s1;
  if (write(g_channel->read_fd, answers.data(), answers.size()) !=
      static_cast<ssize_t>(answers.size())) {
    Fail("write");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > kLongestInput) return 0;
  // At most one queue entry's worth, so that both passes cut the stream at the same
  // places (a CR and its LF in two chunks are two line ends).
  const std::size_t chunk_size = 1 + std::size_t{data[0]} % kInboundChunkBytes;
  const char* stream = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  // As a server passes received bytes on: queued, then cut by the router.
  Rewind();
  auto queued = std::make_unique<IEEE_Client>();
  StringQueue inbound;
  for (std::size_t at = 0; at < length; at += chunk_size) {
    const std::size_t count = std::min(chunk_size, length - at);
    QueueInboundBytes(&inbound, nullptr, queued.get(), stream + at, count);
    while (std::unique_ptr<InboundChunk> chunk = inbound.PopEntry()) {
      IEEE_Client* client = InboundChunkClient(*chunk);
      if (client != queued.get()) Fail("a chunk of another client");
      if (chunk->user_length > kInboundChunkBytes) Fail("a chunk longer than its text");
      process_msg_queue_bytes(g_channel, chunk->text, chunk->user_length, chunk->user_skipped,
                              client);
      client->pending_chunks.fetch_sub(1);
    }
  }
  if (queued->pending_chunks.load() != 0) Fail("chunks counted but never queued");
  const Outcome through_queue = Collect(queued.get());

  // The same chunks straight into the cutter.
  Rewind();
  auto direct = std::make_unique<IEEE_Client>();
  for (std::size_t at = 0; at < length; at += chunk_size) {
    const std::size_t count = std::min(chunk_size, length - at);
    process_msg_queue_bytes(g_channel, stream + at, count, 0, direct.get());
  }
  const Outcome straight = Collect(direct.get());

  CheckFrames(through_queue);
  if (!(through_queue == straight)) Fail("queueing changed what the cutter sends");

  // A NUL-terminated chunk, as the older entry point takes it.
  Rewind();
  auto text_client = std::make_unique<IEEE_Client>();
  process_msg_queue_commands(g_channel, std::string(stream, length).c_str(), text_client.get());
  CheckFrames(Collect(text_client.get()));
  return 0;
}
