// Outside commands through the shell, as system() runs them, with the virtual
// chassis' stand-in folder as the whole PATH when a root is set.
#include "platform/command_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/paths.h"

namespace platform {
namespace {

// The shell's status for a command it cannot find.
constexpr int kCommandNotFound = 127;

// The text in single quotes for the shell, quotes inside it written as '\''.
std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

// "/bin/sh -c text", waited for; its wait status, or -1 when it could not start.
// Unlike system(), the shell starts with no signal blocked and every signal at its
// default action, whatever the calling thread blocks (the controller's threads keep
// the stop signals blocked, and a command started from them, a daemon among them,
// must still end on SIGTERM), and nothing changes this process's own dispositions
// while it waits, which other threads share.
int RunShell(const std::string& text) {
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char shell[] = "sh";
  char option[] = "-c";
  std::string command = text;
  char* arguments[] = {shell, option, command.data(), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, "/bin/sh", nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;  // a stop's SIGALRM only interrupts the wait
  }
  return status;
}

}  // namespace

std::string StandInFolder() {
  const std::string root = Root();
  return root.empty() ? std::string() : root + "/sim-bin";
}

int RunCommand(std::string_view command) {
  const std::string folder = StandInFolder();
  if (folder.empty()) return RunShell(std::string(command));
  // The PATH is changed for the child's shell only: this process's own environment
  // stays as it is, and other threads may run commands at the same time.
  std::string text = "PATH=" + ShellQuoted(folder) + "; export PATH; ";
  text.append(command);
  const int status = RunShell(text);
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == kCommandNotFound) {
    std::printf("WARNING: [%s | %s | %d] no stand-in runs this command: %.*s\n",
                "_platform/command_runner", "RunCommand", __LINE__,
                static_cast<int>(command.size()), command.data());
    std::fflush(stdout);
  }
  return status;
}

}  // namespace platform
