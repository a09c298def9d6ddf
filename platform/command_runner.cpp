// Outside commands through system(), with the virtual chassis' stand-in folder as the
// whole PATH when a root is set.
#include "platform/command_runner.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

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

}  // namespace

std::string StandInFolder() {
  const std::string root = Root();
  return root.empty() ? std::string() : root + "/sim-bin";
}

int RunCommand(std::string_view command) {
  const std::string folder = StandInFolder();
  if (folder.empty()) return std::system(std::string(command).c_str());
  // The PATH is changed for the child's shell only: this process's own environment
  // stays as it is, and other threads may run commands at the same time.
  std::string text = "PATH=" + ShellQuoted(folder) + "; export PATH; ";
  text.append(command);
  const int status = std::system(text.c_str());
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == kCommandNotFound) {
    std::printf("WARNING: [%s | %s | %d] no stand-in runs this command: %.*s\n",
                "_platform/command_runner", "RunCommand", __LINE__,
                static_cast<int>(command.size()), command.data());
    std::fflush(stdout);
  }
  return status;
}

}  // namespace platform
