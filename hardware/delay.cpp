// The microsecond wait (see delay.h): a busy wait on the monotonic clock for short
// requests, a sleep that survives signals for long ones.
#include "hardware/delay.h"

#include <cerrno>
#include <ctime>

namespace {

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void BusyWait(uint32_t microseconds) {
  const int64_t start = MonotonicNanoseconds();
  const int64_t wait = static_cast<int64_t>(microseconds) * 1000;
  for (uint32_t poll = 0; poll < kBusyWaitPollLimit; ++poll) {
    if (MonotonicNanoseconds() - start > wait) return;
  }
}

void Sleep(uint32_t microseconds) {
  timespec left{static_cast<time_t>(microseconds / 1000000),
                static_cast<long>(microseconds % 1000000) * 1000};
  // A signal (the stop logic's SIGALRM among them) cuts the sleep short; sleep the rest.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

DelaySleepFunction g_sleep = Sleep;

}  // namespace

void DelayMicroseconds(uint32_t microseconds) {
  if (microseconds > kLongestDelayMicroseconds) microseconds = kLongestDelayMicroseconds;
  if (microseconds <= kLongestBusyWaitMicroseconds) {
    BusyWait(microseconds);
  } else {
    g_sleep(microseconds);
  }
}

void SleepMicroseconds(uint32_t microseconds) {
  Sleep(microseconds > kLongestDelayMicroseconds ? kLongestDelayMicroseconds : microseconds);
}

void SetDelaySleepForTest(DelaySleepFunction sleep) { g_sleep = sleep != nullptr ? sleep : Sleep; }
