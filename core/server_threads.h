// The long-running threads of a server program, as one group: each is started with
// pthread_create (so that a failure yields its error code, the program's exit status)
// and registered for the stop wake-up; after a stop, JoinAll wakes every thread that
// is still running with SIGALRM again until it has ended, so that a thread that was
// between two blocking calls when the stop came is not waited for forever. The group
// also holds the program's stop event: an eventfd that the stop makes readable for
// good, for the main thread to wait on and for threads that wait with poll.
#pragma once

#include <pthread.h>

#include <functional>
#include <memory>
#include <vector>

// A server program's first step: installs the stop handlers and sets the running
// flag. A stop then also wakes the calling (main) thread, again and again until the
// program ends, so that a stop that comes while it is blocked in a FIFO open at
// start-up (the controller never opened the other end), or just before it blocks
// there, ends the program too. 0, or -1 when the handlers could not be installed
// (reported).
int InstallServerStop();

class ServerThreads {
 public:
  ServerThreads();
  ~ServerThreads();
  ServerThreads(const ServerThreads&) = delete;
  ServerThreads& operator=(const ServerThreads&) = delete;

  // Runs `body` on a new thread. 0, or the pthread_create error code (explained).
  int Start(std::function<void()> body);

  // Blocks until a stop has been requested.
  void WaitForStop();
  // Readable from the stop on (-1 if it could not be made: then only signals wake).
  int stop_fd() const { return stop_fd_; }

  // After a stop: waits for every thread to end, in start order, waking each with
  // SIGALRM while it has not.
  void JoinAll();

 private:
  struct Entry {
    std::function<void()> body;
    pthread_t thread{};
  };
  static void* Trampoline(void* entry);

  std::vector<std::unique_ptr<Entry>> threads_;
  int stop_fd_ = -1;
};
