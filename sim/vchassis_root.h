// The root folder of a virtual chassis: the tree under which the firmware finds its
// fixed paths ("/tmp", "/dev", "/mnt/nonv", "/etc/sysinfo", ...), the stand-in outside
// tools in the root's bin folder and those the firmware calls by a fixed path, and the
// clean-up that leaves nothing behind when the
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
// (ps is a stand-in: the host's would list the processes of every chassis.)
inline constexpr const char* kHostTools[] = {"cat", "grep", "sleep", "wc"};

// The folder, beside the stand-in tools, whose tree is copied under each root: the
// tools the firmware runs by a fixed path ("/etc/appweb/appweb",
// "/tmp/avahi/bin/lxi-avahi-service", ...), the files it expects beside them, and the
// shell functions the stand-ins share ("/sim/stand-in.sh").
inline constexpr const char* kRootStandInFolder = "root";

// Copies every regular file below `from_folder` to the same place below `root`,
// creating the folders between, replacing older copies: executable files with mode
// 0755, others 0644. 0, or a negated errno.
int InstallRootStandIns(const std::string& from_folder, const std::string& root);

// The chassis' web server for the web server stand-in to start: the link "sim/weblink"
// under `root` to the program beside vchassis, and the pages from its "webctrls"
// folder copied into the root's web controls folder. A build without the web server
// installs nothing (the stand-in then keeps a state only). 0, or a negated errno.
int InstallWebServer(const std::string& program_folder, const std::string& root);

// The program beside instctl that builds the default nonvolatile tree under the root
// CHASSIS_ROOT names.
inline constexpr const char* kNonvolatileBuilder = "mknonvol";

// Gives a fresh `root` the default nonvolatile tree, as a board gets it before its
// first start: when "<root>/mnt/nonv/config" does not exist, runs the builder from
// `program_folder` with CHASSIS_ROOT set to `root` and waits for it. A tree that exists
// is the chassis' own and stays as it is; a builder that has not been built is
// skipped. 0, or -1 with *error saying how the builder failed.
int BuildNonvolatileTree(const std::string& program_folder, const std::string& root,
                         std::string* error);

// Removes the command and event FIFOs the programs create under `root`.
void RemoveChassisFifos(const std::string& root);

// Removes `path` and everything below it without following symbolic links.
// 0, or a negated errno (a missing path counts as removed).
int RemoveTree(const std::string& path);

// The folder of the running program (the directory of /proc/self/exe), or empty.
std::string ProgramFolder();

}  // namespace sim
