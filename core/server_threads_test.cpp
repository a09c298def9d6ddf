// Tests of a server's thread group: a stop ends threads blocked in a read, also one
// that only started to block after the stop's first wake-up had gone by.
#include "core/server_threads.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>

#include "core/run_state.h"

namespace {

using namespace std::chrono_literals;

class ServerThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearWakeThreads();  // only this test's threads may receive the stop's wake-up
    ASSERT_EQ(0, InstallStopHandlers());
    ASSERT_EQ(0, pipe(pipe_));
  }
  void TearDown() override {
    close(pipe_[0]);
    close(pipe_[1]);
    ClearWakeThreads();
    SetRunning(true);
  }
  // Blocks in read on the empty pipe until a signal interrupts it.
  void BlockInRead() {
    char byte = 0;
    while (read(pipe_[0], &byte, 1) < 0 && IsRunning()) {
    }
  }

  int pipe_[2] = {-1, -1};
};

TEST_F(ServerThreadsTest, StopEndsThreadsBlockedInReads) {
  ServerThreads threads;
  std::atomic<int> ended{0};
  ASSERT_EQ(0, threads.Start([&] { BlockInRead(); ++ended; }));
  ASSERT_EQ(0, threads.Start([&] { BlockInRead(); ++ended; }));
  auto waiter = std::async(std::launch::async, [&] { threads.WaitForStop(); });
  EXPECT_EQ(std::future_status::timeout, waiter.wait_for(30ms));
  RequestStop();
  ASSERT_EQ(std::future_status::ready, waiter.wait_for(5s)) << "WaitForStop missed the stop";
  threads.JoinAll();
  EXPECT_EQ(2, ended.load());
}

TEST_F(ServerThreadsTest, ThreadThatBlocksAfterTheFirstWakeUpIsWokenAgain) {
  ServerThreads threads;
  std::atomic<bool> go{false};
  std::atomic<bool> ended{false};
  ASSERT_EQ(0, threads.Start([&] {
    while (!go.load()) {
    }
    BlockInRead();  // the stop's own SIGALRM came while the thread was busy
    ended = true;
  }));
  RequestStop();
  std::this_thread::sleep_for(10ms);
  go = true;
  auto join = std::async(std::launch::async, [&] { threads.JoinAll(); });
  ASSERT_EQ(std::future_status::ready, join.wait_for(5s));
  EXPECT_TRUE(ended.load());
}

TEST_F(ServerThreadsTest, JoinThreadWakesAThreadOfItsOwnThatMissedTheStop) {
  // A thread outside any group (the controller's own), stopped before it blocks: the
  // flag is cleared and no wake-up is sent to it, as when the one wake-up came early.
  struct Blocked {
    int fd;
    std::atomic<bool> ended{false};
  } blocked{pipe_[0]};
  SetRunning(false);
  pthread_t thread;
  ASSERT_EQ(0, pthread_create(&thread, nullptr, [](void* argument) -> void* {
    auto* b = static_cast<Blocked*>(argument);
    char byte = 0;
    while (read(b->fd, &byte, 1) < 0 && IsRunning()) {
    }
    b->ended = true;
    return nullptr;
  }, &blocked));
  auto join = std::async(std::launch::async, [&] { JoinThread(thread); });
  ASSERT_EQ(std::future_status::ready, join.wait_for(5s));
  EXPECT_TRUE(blocked.ended.load());
}

}  // namespace
