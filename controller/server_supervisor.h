// The controller's watch over the server programs it keeps running: lanlink, usblink and
// buslink, its own children, and the web server, a daemon whose starter exits at once
// and which the controller inherits as the subreaper of everything it starts. When one
// of them ends without being asked, the controller reaps it, writes one event-log line
// and starts it again as at start-up; a server that ends a sixth time within a minute is
// left stopped.
//
// The watch runs on the main thread, the thread every child of the controller and every
// inherited orphan belongs to: it waits on a signalfd for SIGCHLD (blocked in every
// thread) and reaps with __WNOTHREAD, so it never takes the status of a command that
// another thread runs and waits for. The stop wakes it through an eventfd, and a server
// that ended on a stop signal or with status 0 gets a short grace before its restart: a
// stop of the whole chassis reaches the servers and the controller at once, and the
// controller must not start anything again during its own stop.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

// How often a server may be started again: at most `kMostRestarts` within the window.
class RestartBudget {
 public:
  static constexpr int kMostRestarts = 5;
  static constexpr std::chrono::seconds kWindow{60};

  // Records an end at `now`. True when a restart is allowed (and counts it).
  bool Allow(std::chrono::steady_clock::time_point now);

 private:
  std::deque<std::chrono::steady_clock::time_point> restarts_;
};

// How a wait status ended a process: "killed by signal 9 SIGKILL", "exited with
// status 1".
std::string DescribeEnd(int status);

// One watched program.
struct SupervisedServer {
  const char* name;  // as event-log lines name it
  // The pid the server runs under now, 0 when none is expected (stopped on purpose).
  pid_t (*current_pid)(int index);
  // Starts it again after `ended` ended; false when it could not be started.
  bool (*restart)(int index, pid_t ended);
  // An eventfd that the server's command channel signals once it has seen the server's
  // end and dropped what the dead server left in its FIFOs, or -1 when no channel
  // serves it; a restart waits for it, so that the new server never reads an old frame.
  int channel_gone_fd;
  // True while that channel waits for a server to open its end (null without a
  // channel): a server that ends before it opened its end is started again at once.
  const std::atomic<bool>* channel_awaiting;
  // Prepares the rest of what the server reads (its event FIFO); may be null.
  void (*before_restart)(int index);
  // The LAN indicator shows a fault while this server is left stopped.
  bool lan;
  int index;  // handed to the functions above
};

// Watches `servers` until the stop. The caller has blocked SIGCHLD in every thread and
// made the process a child subreaper.
void SuperviseServers(std::vector<SupervisedServer> servers);
