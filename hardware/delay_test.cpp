// Tests of the microsecond wait: which requests sleep and how long, the cut at 10 s,
// the busy wait lasting longer than asked, the sleeping wait that leaves the processor
// alone, and a sleep that a signal cannot shorten.
#include "hardware/delay.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

namespace {

std::vector<uint32_t> g_sleeps;

void RecordSleep(uint32_t microseconds) { g_sleeps.push_back(microseconds); }

class DelayTest : public ::testing::Test {
 protected:
  void SetUp() override { g_sleeps.clear(); }
  void TearDown() override { SetDelaySleepForTest(nullptr); }
};

int64_t ElapsedNanoseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              since)
      .count();
}

TEST_F(DelayTest, LongRequestsSleepAndAreCutAtTenSeconds) {
  SetDelaySleepForTest(RecordSleep);
  DelayMicroseconds(20000000);
  DelayMicroseconds(10000000);
  DelayMicroseconds(10000001);
  DelayMicroseconds(10001);
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{10000000, 10000000, 10000000, 10001}));
}

TEST_F(DelayTest, ShortRequestsBusyWaitLongerThanAsked) {
  SetDelaySleepForTest(RecordSleep);
  for (uint32_t request : {0u, 150u, 2000u, 10000u}) {
    const auto start = std::chrono::steady_clock::now();
    DelayMicroseconds(request);
    EXPECT_GT(ElapsedNanoseconds(start), int64_t{request} * 1000) << request;
  }
  EXPECT_TRUE(g_sleeps.empty());  // none of them slept
}

int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TEST_F(DelayTest, TheSleepingWaitLastsLongEnoughWithoutHoldingTheProcessor) {
  SetDelaySleepForTest(RecordSleep);
  const auto start = std::chrono::steady_clock::now();
  const int64_t cpu_start = ThreadCpuNanoseconds();
  for (int i = 0; i < 20; ++i) SleepMicroseconds(1000);
  const int64_t cpu = ThreadCpuNanoseconds() - cpu_start;
  EXPECT_GE(ElapsedNanoseconds(start), int64_t{20} * 1000000);
  // A busy wait would have spent the whole 20 ms on the processor.
  EXPECT_LT(cpu, int64_t{10} * 1000000);
  EXPECT_TRUE(g_sleeps.empty()) << "its own sleep, not the replaceable one";
}

void IgnoreSignal(int) {}

TEST_F(DelayTest, SleepIsResumedAfterASignal) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: the signal interrupts nanosleep
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  const pthread_t sleeper = pthread_self();
  std::thread interrupter([sleeper] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pthread_kill(sleeper, SIGUSR1);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  DelayMicroseconds(60000);
  const int64_t elapsed = ElapsedNanoseconds(start);
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(elapsed, int64_t{60000} * 1000);
}

}  // namespace
