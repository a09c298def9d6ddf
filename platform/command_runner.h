// The runner of outside commands (ifconfig, dhclient, lanstatind, insmod, ...).
//
// On the board a command text goes to the shell as it is, as system() would hand it,
// but the shell starts with a clean signal mask and default signal actions. With CHASSIS_ROOT set (the
// virtual chassis) the child's PATH holds the stand-in folder "$CHASSIS_ROOT/sim-bin"
// alone: the same command text runs the stand-ins (and the few harmless host tools the
// virtual chassis links there) and never a host tool that could reconfigure the
// developer's machine. A command naming any other tool fails with 127 and a diagnostic
// line. Fixed paths inside a command text must already be resolved: build the text
// with FormatCommand() (platform/paths.h).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder of stand-in tools under the root (empty without a root).
std::string StandInFolder();

// Runs `command` through the shell and returns what system() returns: the wait
// status of the shell, or -1 when it could not be started. The shell, and what it
// starts, begins with no signal blocked and every signal at its default action.
int RunCommand(std::string_view command);

}  // namespace platform
