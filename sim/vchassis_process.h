// Process and port helpers around a running virtual chassis: whether its TCP ports
// listen, a free range of ports for a new one, the processes that belong to a chassis
// root, and a launcher that runs `vchassis run` as a child (for system tests and the
// end-to-end benchmark), waits for its ready line and always stops it without leaving
// a process behind.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// True when every port of `ports` has a listening TCP socket on this machine.
bool PortsListening(const std::vector<uint16_t>& ports);

// The first of three consecutive TCP ports that are free on 127.0.0.1, or 0 when
// none was found after a few tries.
uint16_t FindFreePortBase();

// The processes (other than this one) whose environment holds CHASSIS_ROOT=`root`:
// the firmware programs of that chassis and vchassis itself.
std::vector<pid_t> ChassisProcesses(const std::string& root);

// The resident memory (VmRSS) of process `pid` in kB, and its program name in *name;
// 0 when it cannot be read.
long ResidentKb(pid_t pid, std::string* name);

// Runs `vchassis run` with the given arguments in a process group of its own and
// collects everything it and the firmware print.
class ChassisLauncher {
 public:
  ChassisLauncher() = default;
  ChassisLauncher(const ChassisLauncher&) = delete;
  ChassisLauncher& operator=(const ChassisLauncher&) = delete;
  ~ChassisLauncher();  // Stop(), then kill whatever is left of `root`

  // Starts `program` ("run" and `arguments` follow). `root` is the chassis root the
  // arguments name, used to find stray processes; empty when vchassis makes a fresh
  // one, which the ready line then names. 0, or a negated errno.
  int Start(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& root);
  // Waits for the ready line (copied to *line). False on timeout or when vchassis
  // ended first.
  bool WaitReady(int timeout_ms, std::string* line);
  // SIGTERM to vchassis, then waits for it to end. After `timeout_ms` it kills it and
  // every process of the root. Returns vchassis' wait status, or -1 when it had to be
  // killed (or was never started).
  int Stop(int timeout_ms);
  // True once vchassis has ended (reaped by Stop or by WaitExit).
  bool Exited();
  // Waits for vchassis to end by itself, and for what it printed to be collected. Its
  // wait status, or -1 on timeout.
  int WaitExit(int timeout_ms);

  pid_t pid() const { return pid_; }
  // The chassis root: the one given to Start, else the one the ready line named.
  std::string root();
  // Everything printed so far (the most recent part when it is long).
  std::string Output();

 private:
  void Collect(int fd);
  void KillStrays();

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string root_;
  std::thread collector_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  std::string ready_line_;
  bool output_closed_ = false;
};

}  // namespace sim
