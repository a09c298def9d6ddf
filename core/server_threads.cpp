// Start and stop-aware join of a server's threads.
#include "core/server_threads.h"

#include <signal.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "core/diag_print.h"
#include "core/run_state.h"

namespace {

constexpr timespec kWakeInterval{0, 20 * 1000 * 1000};

// After a stop, wakes the main thread with SIGALRM again and again, so that whatever
// blocking call it is in or about to enter returns EINTR and it sees the cleared flag.
void WakeMainAfterStop(int stop_fd, pthread_t main_thread) {
  uint64_t count = 0;
  while (read(stop_fd, &count, sizeof(count)) < 0 && errno == EINTR) {
  }
  for (;;) {
    pthread_kill(main_thread, SIGALRM);
    nanosleep(&kWakeInterval, nullptr);
  }
}

}  // namespace

int InstallServerStop() {
  if (InstallStopHandlers() != 0) {
    std::perror("sigaction");
    return -1;
  }
  const pthread_t main_thread = pthread_self();
  RegisterWakeThread(main_thread);
  const int stop_fd = eventfd(0, EFD_CLOEXEC);
  if (stop_fd < 0) {
    std::perror("eventfd");
    return 0;  // the stop's single wake-up still reaches the main thread
  }
  RegisterWakeFd(stop_fd);
  // The watcher takes no signals: they are for the threads that do the work.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread(WakeMainAfterStop, stop_fd, main_thread).detach();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return 0;
}

ServerThreads::ServerThreads() : stop_fd_(eventfd(0, EFD_CLOEXEC)) {
  if (stop_fd_ < 0) {
    std::perror("eventfd");
  } else {
    RegisterWakeFd(stop_fd_);
  }
}

ServerThreads::~ServerThreads() {
  JoinAll();
  if (stop_fd_ >= 0) close(stop_fd_);
}

void ServerThreads::WaitForStop() {
  while (IsRunning()) {
    pollfd wait{stop_fd_, POLLIN, 0};
    // Without the event only the stop signal ends the wait (EINTR).
    poll(&wait, stop_fd_ >= 0 ? 1 : 0, -1);
  }
}

int ServerThreads::Start(std::function<void()> body) {
  auto entry = std::make_unique<Entry>();
  entry->body = std::move(body);
  const int result = pthread_create(&entry->thread, nullptr, &Trampoline, entry.get());
  if (result != 0) {
    diag_call_error(DiagCall::pthread_create, "pthread_create", result);
    return result;
  }
  RegisterWakeThread(entry->thread);
  threads_.push_back(std::move(entry));
  return 0;
}

void ServerThreads::JoinAll() {
  for (auto& entry : threads_) JoinThread(entry->thread);
  threads_.clear();
}

void* ServerThreads::Trampoline(void* entry) {
  static_cast<Entry*>(entry)->body();
  return nullptr;
}
