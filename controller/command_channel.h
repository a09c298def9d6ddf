// The controller's side of a command channel. The controller keeps one channel per I/O
// server (LAN, USB, GPIB), each a pair of named FIFOs served by a thread of its own:
// it receives a program message (M1), executes it with the SCPI engine while holding
// the execution mutex, and gives the engine ten callbacks (in the ChannelHandle) through
// which it talks back to the server during execution: responses (S7), error entries
// (S6, S8/M2, S10) and the client's status bytes (S2 .. S5, S9/M3). S1 ends each
// execution. The controller sends nothing on a channel except while it executes.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "core/fifo_io.h"
#include "core/pipes_comm.h"
#include "scpi/channel_handle.h"

// Channel states, recorded for diagnosis.
enum CommandChannelState : int {
  kChannelCallbackDone = 0,
  kChannelExecuting = 1,
  kChannelSentS10 = 2,
  kChannelSentS1 = 3,
  kChannelIdle = 4,  // slave_msgrout_do_IDLE_task, waiting for M1
  kChannelSentS8 = 5,
  kChannelWaitingM2 = 6,  // slave_msgrout_do_READ_ERROR_WAIT_task
  kChannelSentS9 = 7,
  kChannelWaitingM3 = 8,
  kChannelSentS6 = 9,
  kChannelSentS2 = 10,
  kChannelSentS4 = 11,
  kChannelWritingResponse = 12,  // slave_msgrout_do_WRITE_RESPONSE_BUFFER_task
  kChannelSentS5 = 13,
  kChannelSentS3 = 14,
};

struct CommandChannel {
  int state = 0;
  int write_fd = -1;  // controller to server
  int read_fd = -1;   // server to controller
  char receive_frame[FRAME_SIZE];
  char send_frame[FRAME_SIZE];
  PipeBinaryMessage binary_receive;  // M3
  PipeBinaryMessage binary_send;     // S2 .. S5
  PipeMessage string_receive;        // M2
  PipeMessage string_send;           // S1, S6 .. S10
  std::string read_path;             // resolved
  std::string write_path;
  FrameReader reader{PIPE_ETX};  // M frames end with ETX (and a NUL, skipped)
  // Frames that need no answer (S2 .. S7, S10) wait here and leave, in order, with the
  // next frame that does (S8, S9) or with S1, in one write: the server is woken once
  // per batch instead of once per frame.
  char outbox[2 * FRAME_SIZE];
  std::size_t outbox_length = 0;
  // Signalled (an eventfd) each time the server's end closed and what the server had
  // not read was dropped: the controller's watch starts a server again only then.
  int gone_fd = -1;
  // True from that drop until a server opens its end again: while it holds, no server
  // that started since has sent anything, so one that ends before it opens its end
  // leaves nothing to drop and no end of file to see.
  std::atomic<bool> awaiting_server{false};
};

// The engine entry a channel executes program messages with: the wiring unit connects
// ExecuteProgramMessage, tests connect their own. Unconnected, a message is dropped
// with a diagnostic line.
using ProgramMessageEngine = void (*)(ChannelHandle* handle);
void SetProgramMessageEngine(ProgramMessageEngine engine);

// Sets up the channel of `type` (1 GPIB, 2 LAN, 3 USB) and its handle: creates the
// missing FIFOs, opens controller-to-server write-only and then server-to-controller
// read-only (both block until the server opens its ends), and fills the handle's
// callbacks. Returns 0, or -1 (errno set).
int CommandChannelSetup(CommandChannel* channel, ChannelHandle* handle, int type);

// Closes the read and then the write descriptor.
void CommandChannelTeardown(CommandChannel* channel);

// The channel thread's loop: waits for M1 frames and executes them until a stop.
// Frames of other kinds that arrive while idle are reported and dropped. When the
// server closes its end (it ended), the channel drops the frames the server left unread
// in the controller-to-server FIFO, signals gone_fd and waits (blocked) for a server to
// open the FIFO again; its own ends stay open meanwhile, so a new server's opens succeed
// at once, in whichever order it makes them. Returns on a stop, or when the FIFO failed
// for good (read_fd is then -1).
void slave_msgrout_do_IDLE_task(CommandChannel* channel, ChannelHandle* handle);

// The one execution lock: held for each program message, and by a scan step that the
// external trigger starts, so that a step never runs beside a command.
std::mutex& ExecutionMutex();
