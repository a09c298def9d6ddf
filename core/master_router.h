// The servers' side of a command channel, shared by the LAN, GPIB and USB servers: the
// router thread that drains the inbound queues, the line cutter that turns received
// chunks into program messages at line ends, and the exchange that sends one program
// message to the controller as M1 and serves its requests (S2 .. S10) until S1.
//
// What differs between servers is a small table of hooks (storing status bytes,
// pushing errors, delivering responses, the output-pending test, the clear action).
// A hook left null takes the shared default, which acts on the client's block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/fifo_io.h"
#include "core/ieee_client.h"
#include "core/pipes_comm.h"
#include "core/string_queue.h"

// Command channel types: which server, and so which pair of FIFOs.
inline constexpr int kChannelTypeGpib = 1;
inline constexpr int kChannelTypeSocket = 2;
inline constexpr int kChannelTypeUsb = 3;

// The fixed FIFO paths of a channel type (before the platform resolves them); false
// for an unknown type.
bool CommandFifoPaths(int type, const char** server_to_controller,
                      const char** controller_to_server);

// The same, resolved through the platform layer; false with errno EINVAL for an
// unknown type.
bool ResolveCommandFifos(int type, std::string* server_to_controller,
                         std::string* controller_to_server);

struct MasterHooks {
  // S2, S4, S5, S3: default stores the byte in the client's block.
  void (*store_ese)(IEEE_Client* client, uint8_t value) = nullptr;
  void (*store_esr)(IEEE_Client* client, uint8_t value) = nullptr;
  void (*store_sre)(IEEE_Client* client, uint8_t value) = nullptr;
  void (*store_stb)(IEEE_Client* client, uint8_t value) = nullptr;
  // S6: default appends to the client's error queue.
  void (*push_error)(IEEE_Client* client, const char* text) = nullptr;
  // S7: hands the response text to the client; no default (the text stays only in the
  // client's response buffer).
  int (*deliver_response)(IEEE_Client* client, const char* text) = nullptr;
  // S9: whether output is pending for the client; default: STB bit 4 of the block.
  bool (*output_pending)(IEEE_Client* client) = nullptr;
  // S10, after the error queue and response buffer are cleared; default: nothing.
  void (*clear)(IEEE_Client* client) = nullptr;
  // Called once the router is done with one of the client's chunks (its complete lines
  // sent and answered, or refused), with the count of its chunks still pending; default:
  // nothing. A server that paces its reading by what the router has done waits here.
  void (*chunk_done)(IEEE_Client* client, int32_t pending) = nullptr;
};

// The error queue entry of a line refused for holding a byte that no program message
// may carry. It must read exactly as the engine's entry for -101 in its error table
// (scpi/), which the servers do not include.
inline constexpr const char* kInvalidCharacterEntry = "-101,\"Invalid character\"";

struct MasterChannel {
  IEEE_Client* current_client = nullptr;
  int state = 0;
  int write_fd = -1;  // server to controller
  int read_fd = -1;   // controller to server
  char receive_frame[FRAME_SIZE];
  char send_frame[FRAME_SIZE];
  PipeBinaryMessage binary_receive;
  PipeBinaryMessage binary_send;
  PipeMessage string_receive;
  PipeMessage string_send;
  std::string write_path;  // resolved
  std::string read_path;
  MasterHooks hooks;
  FrameReader reader{PIPE_ETX};  // the controller writes S frames without NUL
};

// Wakes the router when a chunk has been queued on any of its inbound queues, so that
// it sleeps while there is nothing to do. One per server; signalled by every push and
// by a stop (it registers itself with the stop logic).
class RouterWakeup {
 public:
  RouterWakeup();
  ~RouterWakeup();
  RouterWakeup(const RouterWakeup&) = delete;
  RouterWakeup& operator=(const RouterWakeup&) = delete;

  void Notify();
  // Sleeps until Notify (or a stop). Returns false when the running flag is cleared.
  bool Wait();

 private:
  int fd_;
};

// Queues `count` received bytes from `client` for the router, in chunks of up to
// kInboundChunkBytes, and wakes it. The characters of a line past the first
// kLineAssemblySize + 1 are dropped here, as they arrive, so that a client sending
// without line end cannot fill the memory: what reaches the router is cut exactly as
// the line cutter would cut the whole line (its most recent character goes on with the
// line end, and the count of the others with it). A null client queues one empty
// chunk, a marker. Returns how many chunks were queued; *failed (may be null) tells
// whether an entry could not be allocated (reported, and the rest of the bytes lost).
int QueueInboundBytes(StringQueue* queue, RouterWakeup* wakeup, IEEE_Client* client,
                      const char* bytes, std::size_t count, bool* failed = nullptr);

// The same, returning 0, or -1 when an entry could not be allocated.
int PushInboundChunk(StringQueue* queue, RouterWakeup* wakeup, IEEE_Client* client,
                     const char* bytes, std::size_t count);

// Master setup: binds the records, chooses the FIFOs by `type`, creates the missing
// ones, opens controller-to-server read-only and then server-to-controller write-only
// (the order in which the controller opens them, so both blocking opens meet).
// Returns 0, or -1 (errno set) when a FIFO could not be made or opened.
int MasterSetup(MasterChannel* channel, int type, const MasterHooks& hooks);
void MasterTeardown(MasterChannel* channel);

// The router thread: serves the inbound queues until a stop. A client in the middle of
// a line keeps the router on its queue (up to 100 chunks in a row) before the others
// get their turn.
void poll_msg_queues(StringQueue* const* queues, int count, MasterChannel* channel,
                     RouterWakeup* wakeup);

// The line cutter: appends the NUL-terminated `chunk` to the client's line and sends
// each completed line as a program message. Returns 1 when the chunk ended inside a
// line, else 0.
int process_msg_queue_commands(MasterChannel* channel, const char* chunk, IEEE_Client* client);

// The same for `count` bytes, which may hold NULs, after `skipped` bytes of the line
// that were dropped where they arrived. A line holding a NUL or a byte the pipe
// protocol reserves (SOH, STX, ETX) is not sent: it is refused as the engine refuses
// an invalid character (kInvalidCharacterEntry in the client's error queue, the
// command error bit in its ESR). A line cut at its limit is reported twice at most:
// at the first character past it, and with the count of the others when it ends.
int process_msg_queue_bytes(MasterChannel* channel, const char* bytes, std::size_t count,
                            uint64_t skipped, IEEE_Client* client);

// Sends one program message as M1 and serves the controller's requests until S1.
int mastermsgrout_do_READ_MSG_QUEUE_task(MasterChannel* channel, const char* text);
