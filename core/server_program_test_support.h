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
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/fifo_io.h"
#include "core/master_router.h"
#include "platform/paths.h"

extern char** environ;

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

  // Starts bin/`name` without arguments, then connects (below). False when the
  // program could not be started or did not open its FIFOs within five seconds.
  bool Start(const char* name, int type, const char* event_fifo) {
    return Spawn(name, type, event_fifo) && Connect(type, event_fifo);
  }

  // Creates the FIFOs of channel `type` and the event FIFO, and starts bin/`name`
  // without arguments, as the controller does.
  bool Spawn(const char* name, int type, const char* event_fifo) {
    if (!CommandFifoPaths(type, &to_controller_, &to_server_path_)) return false;
    for (const char* fifo : {to_controller_, to_server_path_, event_fifo}) {
      if (EnsureFifo(platform::ResolvePath(fifo)) != 0) return false;
    }
    std::string program = ProgramFolder() + "/" + name;
    // A cross build's tests run under an emulator (CHASSIS_TEST_EMULATOR, words split
    // at blanks), which must also run the program: it cannot follow an exec itself.
    std::vector<std::string> words;
    if (const char* emulator = std::getenv("CHASSIS_TEST_EMULATOR")) {
      std::istringstream split(emulator);
      for (std::string word; split >> word;) words.push_back(word);
    }
    if (words.empty()) {
      char* argv[] = {nullptr};  // no arguments at all
      return posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) == 0;
    }
    words.push_back(program);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
  }

  // Opens the controller's ends in the controller's order: the command FIFO it
  // writes, the one it reads, then the event FIFO.
  bool Connect(int type, const char* event_fifo) {
    if (!CommandFifoPaths(type, &to_controller_, &to_server_path_)) return false;
    to_server_ = OpenWriter(to_server_path_);
    if (to_server_ < 0) return false;
    from_server_ = open(platform::ResolvePath(to_controller_).c_str(), O_RDONLY);
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

 private:
  // The programs are built into bin/, beside the test programs' tests/ folder.
  static std::string ProgramFolder() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../bin";
  }

  pid_t pid_ = -1;
  const char* to_controller_ = nullptr;
  const char* to_server_path_ = nullptr;
  int to_server_ = -1;
  int from_server_ = -1;
  int events_ = -1;
  FrameReader reader_{PIPE_ETX};
};

