// Running flag, stop and wake-up signal handlers shared by the three programs.
#include "core/run_state.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace {

std::atomic<int> g_running{0};
std::atomic<int> g_wake_count{0};
pthread_t g_wake_threads[kMaxWakeThreads];
std::atomic<int> g_wake_fd_count{0};
int g_wake_fds[kMaxWakeThreads];

void OnStopSignal(int) { RequestStop(); }

// Only its delivery matters: it interrupts the blocking call of the thread it hits.
void OnWakeSignal(int) {}

}  // namespace

bool IsRunning() { return g_running.load() != 0; }

void SetRunning(bool running) { g_running.store(running ? 1 : 0); }

int InstallStopHandlers() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = SA_RESTART;
  struct sigaction wake {};
  wake.sa_handler = OnWakeSignal;
  sigemptyset(&wake.sa_mask);
  wake.sa_flags = SA_NODEFER;  // no SA_RESTART: blocked calls must return EINTR
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGTERM, &stop, nullptr) != 0 || sigaction(SIGINT, &stop, nullptr) != 0 ||
      sigaction(SIGALRM, &wake, nullptr) != 0 || sigaction(SIGPIPE, &ignore, nullptr) != 0) {
    return -1;
  }
  SetRunning(true);
  return 0;
}

int RegisterWakeThread(pthread_t thread) {
  int index = g_wake_count.load();
  if (index >= kMaxWakeThreads) return -1;
  g_wake_threads[index] = thread;
  g_wake_count.store(index + 1);  // publish the slot only once it is filled
  return 0;
}

int RegisterWakeFd(int fd) {
  int index = g_wake_fd_count.load();
  if (index >= kMaxWakeThreads) return -1;
  g_wake_fds[index] = fd;
  g_wake_fd_count.store(index + 1);
  return 0;
}

void RequestStop() {
  int expected = 1;
  if (!g_running.compare_exchange_strong(expected, 0)) return;  // a second stop does nothing
  int count = g_wake_count.load();
  for (int i = 0; i < count; ++i) pthread_kill(g_wake_threads[i], SIGALRM);
  const uint64_t one = 1;
  int fds = g_wake_fd_count.load();
  for (int i = 0; i < fds; ++i) {
    if (write(g_wake_fds[i], &one, sizeof(one)) < 0) continue;  // nothing to do about it
  }
}

void JoinThread(pthread_t thread) {
  constexpr long kBillion = 1000000000;
  for (;;) {
    // Once a second while running; every 20 ms, with a wake-up each time, after a stop.
    const long wait_ns = IsRunning() ? kBillion : 20 * 1000 * 1000;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);  // the clock pthread_timedjoin_np uses
    deadline.tv_sec += (deadline.tv_nsec + wait_ns) / kBillion;
    deadline.tv_nsec = (deadline.tv_nsec + wait_ns) % kBillion;
    if (pthread_timedjoin_np(thread, nullptr, &deadline) != ETIMEDOUT) return;
    if (!IsRunning()) pthread_kill(thread, SIGALRM);
  }
}

void ClearWakeThreads() {
  g_wake_count.store(0);
  g_wake_fd_count.store(0);
}
