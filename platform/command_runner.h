// The runner of outside commands (ifconfig, dhclient, lanstatind, insmod, ...).
//
// On the board a command text goes to system() as it is. With CHASSIS_ROOT set (the
// virtual chassis) the stand-in tools in "$CHASSIS_ROOT/sim-bin" come first on the
// child's PATH, so the same command text runs them instead of the host's tools. Fixed
// paths inside a command text must already be resolved: build the text with
// FormatCommand() (platform/paths.h).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder of stand-in tools under the root (empty without a root).
std::string StandInFolder();

// Runs `command` through the shell and returns what system() returns: the wait
// status of the shell, or -1 when it could not be started.
int RunCommand(std::string_view command);

}  // namespace platform
