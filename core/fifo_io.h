// Named FIFO helpers shared by both ends of the command and event channels: creating a
// FIFO that is missing, blocking opens and writes that survive the stop wake-up signal,
// and a frame reader that reads a FIFO in blocks and cuts it into frames.
//
// The programs exchange frames that end with ETX (command frames) or with NUL (event
// frames). Reading the FIFO one byte at a time costs a system call per byte, so the
// reader takes what the FIFO holds, hands out one frame and keeps the rest for the next.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "core/pipes_comm.h"

// Creates the FIFO at `path` (already resolved) with mode 0777 when access() says it
// does not exist. Returns 0, or -1 with errno when mkfifo failed.
int EnsureFifo(const std::string& path);

// open(path, flags), retried when a signal interrupts it while the running flag is
// set. Returns the descriptor, or -1 (errno EINTR when a stop interrupted it).
int OpenFifo(const std::string& path, int flags);

// One end of a channel: EnsureFifo, then OpenFifo; a failure of either is reported
// with perror ("mkfifo" or "open"). Returns the descriptor, or -1.
int OpenFifoEnd(const std::string& path, int flags);

// Closes *fd when it is open and marks it closed (-1).
void CloseFifo(int* fd);

// Reads and drops whatever waits in the FIFO at `path` (resolved), through a reader of
// its own that does not block. For a FIFO whose reader ended: what is left there was
// for it, and must not reach the next one.
void DrainFifo(const std::string& path);

// Writes all `length` bytes, continuing after a partial write or an interruption while
// the running flag is set. Returns `length`, or what was written before an error (-1
// when nothing was), errno telling why (EPIPE when the reader is gone).
ssize_t WriteFrame(int fd, const char* data, std::size_t length);

enum class FrameReadResult {
  kFrame,     // one whole frame was handed out
  kClosed,    // end of file: every writer closed the FIFO
  kError,     // read failed (errno set)
  kStopped,   // a stop interrupted the wait
  kOverflow,  // FRAME_SIZE - 1 bytes came without a terminator; they were dropped
};

class FrameReader {
 public:
  // `terminator` is PIPE_ETX for command frames and '\0' for event frames.
  explicit FrameReader(char terminator) : terminator_(terminator) {}

  // Reads from `fd` until one whole frame is buffered and copies it to `frame` (which
  // holds FRAME_SIZE bytes) as a NUL-terminated string; an ETX terminator is kept as
  // the frame's last character. NUL bytes between frames (the writer's string
  // terminators) are skipped; after an overflow, everything up to the next STX is.
  // Bytes after the frame stay buffered for the next call.
  FrameReadResult Next(int fd, char* frame);

  // Drops whatever is buffered.
  void Reset() {
    start_ = end_ = 0;
    resync_ = false;
  }

  std::size_t Buffered() const { return end_ - start_; }

 private:
  void SkipBetweenFrames();

  char terminator_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool resync_ = false;  // after an overflow: the next frame starts at an STX
  char buffer_[FRAME_SIZE];
};
