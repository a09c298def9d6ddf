// Test support: runs one of the server programs (buslink, usblink) as a child process
// in the test's root and plays the controller on its command and event FIFOs, in the
// order the controller opens them.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "core/fifo_io.h"
#include "core/master_router.h"
#include "platform/paths.h"

extern char** environ;

namespace sim {

class ServerProgramPeer {
 public:
  ServerProgramPeer() = default;
  ~ServerProgramPeer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {to_server_, from_server_, events_}) {
      if (fd >= 0) close(fd);
    }
  }
  ServerProgramPeer(const ServerProgramPeer&) = delete;
  ServerProgramPeer& operator=(const ServerProgramPeer&) = delete;

  // Starts bin/`name` without arguments and opens the controller's ends of the
  // command FIFOs of channel `type` and of the event FIFO. False when the program
  // did not open them within five seconds.
  bool Start(const char* name, int type, const char* event_fifo) {
    const char* to_controller = nullptr;
    const char* to_server = nullptr;
    if (!CommandFifoPaths(type, &to_controller, &to_server)) return false;
    for (const char* fifo : {to_controller, to_server, event_fifo}) {
      if (EnsureFifo(platform::ResolvePath(fifo)) != 0) return false;
    }
    const std::string program = ProgramFolder() + "/" + name;
    char* argv[] = {nullptr};  // no arguments at all, as the controller starts them
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    to_server_ = OpenWriter(to_server);
    if (to_server_ < 0) return false;
    from_server_ = open(platform::ResolvePath(to_controller).c_str(), O_RDONLY);
    events_ = OpenWriter(event_fifo);
    return from_server_ >= 0 && events_ >= 0;
  }

  // The next frame from the program, or "" when its FIFO closed.
  std::string NextFrame() {
    char frame[FRAME_SIZE];
    return reader_.Next(from_server_, frame) == FrameReadResult::kFrame ? std::string(frame)
                                                                         : std::string();
  }
  // A command frame (written without its NUL, as the controller does).
  bool Send(const std::string& frame) {
    return write(to_server_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
  }
  // An event frame (written with its NUL).
  bool SendEvent(const std::string& frame) {
    return write(events_, frame.c_str(), frame.size() + 1) ==
           static_cast<ssize_t>(frame.size() + 1);
  }

  // SIGTERM, then the exit status within five seconds (128 + signal when killed by
  // one, -1 when it did not end).
  int Stop() {
    kill(pid_, SIGTERM);
    for (int tries = 0; tries < 5000; ++tries) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
  }

 private:
  // The programs are built into bin/, beside the test programs' tests/ folder.
  static std::string ProgramFolder() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin";
  }

  // Opens a FIFO for writing once its reader is there; -1 after five seconds.
  static int OpenWriter(const char* fixed_path) {
    const std::string path = platform::ResolvePath(fixed_path);
    for (int tries = 0; tries < 5000; ++tries) {
      const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
  }

  pid_t pid_ = -1;
  int to_server_ = -1;
  int from_server_ = -1;
  int events_ = -1;
  FrameReader reader_{PIPE_ETX};
};

}  // namespace sim
