// `vchassis run`: one virtual chassis. It reads the chassis description, furnishes a
// root (the stand-in tools and, in a fresh root, the default nonvolatile tree), serves
// the simulated devices there with a card of each described model in its slot (their
// FRAM kept under the root), starts the controller `instctl` (which starts its
// servers) in a process group of its own, says where the SCPI ports are once they
// listen, and on Ctrl-C or SIGTERM stops every process of the chassis (the background
// tools the firmware started with them) and removes what it created.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct RunOptions {
  std::string root;  // empty: a fresh root, removed at the end
  uint16_t port_base = 4444;
  std::string bind_address = "127.0.0.1";
  std::string chassis_file;  // the chassis description; empty: default.chassis beside the programs
  std::string program_folder;  // where instctl and the stand-ins live
};

// Runs the chassis until a stop signal or until instctl ends. The process's exit
// status: 0 after a stop, 1 when the chassis could not start or instctl ended by
// itself.
int RunChassis(const RunOptions& options);

}  // namespace sim
