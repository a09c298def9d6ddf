// The root folder of a virtual chassis: the tree under which the firmware finds its
// fixed paths ("/tmp", "/dev", "/mnt/nonv", "/etc/sysinfo", ...), the stand-in outside
// tools in the root's bin folder, and the clean-up that leaves nothing behind when the
// chassis stops (the FIFOs, the shared memory object and, for a fresh root, the tree).
#pragma once

#include <string>

namespace sim {

// Creates a fresh, empty root "/tmp/vchassis-XXXXXX" (under TMPDIR when set).
// 0 and the absolute path, or a negated errno.
int MakeFreshRoot(std::string* root);

// Creates `root` itself when missing and every folder the firmware expects under it.
// 0, or a negated errno.
int PrepareRoot(const std::string& root);

// Copies every regular file of `from_folder` into `to_folder` as an executable
// (mode 0755), replacing older copies, then links the harmless host tools the command
// texts use (kHostTools) into `to_folder` unless a stand-in of that name came along.
// The firmware's outside commands see `to_folder` as their whole PATH. 0, or a
// negated errno (a host tool that cannot be found is left out).
int InstallStandIns(const std::string& from_folder, const std::string& to_folder);
inline constexpr const char* kHostTools[] = {"cat", "grep", "ps", "sleep", "wc"};

// Removes the command and event FIFOs the programs create under `root`.
void RemoveChassisFifos(const std::string& root);

// Removes `path` and everything below it without following symbolic links.
// 0, or a negated errno (a missing path counts as removed).
int RemoveTree(const std::string& path);

// The folder of the running program (the directory of /proc/self/exe), or empty.
std::string ProgramFolder();

}  // namespace sim
