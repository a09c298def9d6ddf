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

#include "core/diag_print.h"
#include "core/run_state.h"

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
  for (auto& entry : threads_) {
    // The thread may be busy rather than blocked when the first wake-up arrives; it
    // then tests the running flag on its own. Ask again now and then until it ends.
    while (pthread_tryjoin_np(entry->thread, nullptr) == EBUSY) {
      if (!IsRunning()) pthread_kill(entry->thread, SIGALRM);
      const timespec pause{0, 20 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  threads_.clear();
}

void* ServerThreads::Trampoline(void* entry) {
  static_cast<Entry*>(entry)->body();
  return nullptr;
}
