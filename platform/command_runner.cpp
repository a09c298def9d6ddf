// Outside commands through system(), with the virtual chassis' stand-ins first on
// the PATH when a root is set.
#include "platform/command_runner.h"

#include <cstdlib>

#include "platform/paths.h"

namespace platform {
namespace {

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
  std::string text = "PATH=" + ShellQuoted(folder) + ":\"$PATH\"; export PATH; ";
  text.append(command);
  return std::system(text.c_str());
}

}  // namespace platform
