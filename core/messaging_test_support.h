// Test support for the messaging tests: a private CHASSIS_ROOT per test, and a scripted
// peer that plays the other program on a pair of command FIFOs (or one event FIFO).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/fifo_io.h"
#include "core/pipes_comm.h"
#include "core/run_state.h"
#include "platform/paths.h"

// A fresh root with a tmp/ folder, set as CHASSIS_ROOT for the test's life; the
// running flag is set, as the programs set it at start.
class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/chassis-messaging-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::create_directories(dir_ + "/tmp");
    setenv("CHASSIS_ROOT", dir_.c_str(), 1);
    signal(SIGPIPE, SIG_IGN);  // as the programs do: a gone peer gives EPIPE
    SetRunning(true);
  }
  ~TempRoot() {
    unsetenv("CHASSIS_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

 private:
  std::string dir_;
};

// The other end of a pair of FIFOs, driven by the test.
class FifoPeer {
 public:
  explicit FifoPeer(char terminator = PIPE_ETX) : reader_(terminator) {}
  ~FifoPeer() { Close(); }

  // Opens `first` with `first_flags`, then `second` with `second_flags` (fixed paths),
  // creating them first so that it cannot lose a race with the side under test.
  bool Open(const char* first, int first_flags, const char* second, int second_flags) {
    EnsureFifo(platform::ResolvePath(first));
    EnsureFifo(platform::ResolvePath(second));
    first_fd_ = open(platform::ResolvePath(first).c_str(), first_flags);
    second_fd_ = open(platform::ResolvePath(second).c_str(), second_flags);
    return first_fd_ >= 0 && second_fd_ >= 0;
  }
  void Close() {
    if (first_fd_ >= 0) close(first_fd_);
    if (second_fd_ >= 0) close(second_fd_);
    first_fd_ = second_fd_ = -1;
  }
  int first_fd() const { return first_fd_; }
  int second_fd() const { return second_fd_; }

  // The next frame from `fd`, or "" when the FIFO closed.
  std::string ReadFrame(int fd) {
    char frame[FRAME_SIZE];
    return reader_.Next(fd, frame) == FrameReadResult::kFrame ? std::string(frame)
                                                              : std::string();
  }
  bool Send(int fd, const std::string& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

 private:
  FrameReader reader_;
  int first_fd_ = -1;
  int second_fd_ = -1;
};

// Frames built with the codec, for the scripts.
inline std::string StringFrame(int (*encode)(PipeMessage*, const char*), const char* text) {
  static thread_local char buffer[FRAME_SIZE];
  static thread_local PipeMessage record;
  record.frame = buffer;
  encode(&record, text);
  return buffer;
}
inline std::string BareFrame(int (*encode)(PipeMessage*)) {
  static thread_local char buffer[FRAME_SIZE];
  static thread_local PipeMessage record;
  record.frame = buffer;
  encode(&record);
  return buffer;
}
inline std::string BinaryFrame(int (*encode)(PipeBinaryMessage*),
                               const std::vector<uint8_t>& bytes) {
  static thread_local char buffer[FRAME_SIZE];
  static thread_local PipeBinaryMessage record;
  record.frame = buffer;
  record.count = static_cast<int32_t>(bytes.size());
  std::memcpy(record.data, bytes.data(), bytes.size());
  encode(&record);
  return buffer;
}

// The text of a string frame, or "<bad frame>" when it does not decode.
inline std::string FrameText(const std::string& frame) {
  static thread_local char buffer[FRAME_SIZE];
  static thread_local PipeMessage record;
  record.frame = buffer;
  std::snprintf(buffer, sizeof(buffer), "%s", frame.c_str());
  if (decode_string_message(&record) != 0) return "<bad frame>";
  return std::string(record.text, record.length);
}

// The data bytes of a binary frame (empty when it does not decode).
inline std::vector<uint8_t> FrameBytes(const std::string& frame) {
  static thread_local char buffer[FRAME_SIZE];
  static thread_local PipeBinaryMessage record;
  record.frame = buffer;
  std::snprintf(buffer, sizeof(buffer), "%s", frame.c_str());
  if (decode_binary_data(&record) != 0) return {};
  return std::vector<uint8_t>(record.data, record.data + record.count);
}

inline PipeMsgKind FrameKind(const std::string& frame) {
  PipeMsgKind kind{};
  if (parse_message_type(frame.c_str(), nullptr, &kind) != 0) return PipeMsgKind{};
  return kind;
}

// One event a server's event reader handed over: its type and its data bytes.
struct SeenEvent {
  int type;
  std::vector<uint8_t> data;
};

// An event reader's notify hook that appends to the std::vector<SeenEvent> in `context`.
inline void RecordEvent(int type, const uint8_t* data, int count, void* context) {
  auto* seen = static_cast<std::vector<SeenEvent>*>(context);
  seen->push_back({type, std::vector<uint8_t>(data, data + count)});
}
