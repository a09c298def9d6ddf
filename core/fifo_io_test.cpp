// Tests of the FIFO helpers: cutting frames out of blocks, recovering from an overlong
// frame, and the stop wake-up of blocked reads and of the router's sleep.
#include "core/fifo_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "core/master_router.h"
#include "core/messaging_test_support.h"

namespace {

class FifoIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, InstallStopHandlers());
    ASSERT_EQ(0, pipe(fds_));
  }
  void TearDown() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    ClearWakeThreads();
    SetRunning(true);
  }
  void Put(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fds_[1], bytes.data(), bytes.size()));
  }
  std::string Next(FrameReader& reader, FrameReadResult expected = FrameReadResult::kFrame) {
    char frame[FRAME_SIZE];
    EXPECT_EQ(expected, reader.Next(fds_[0], frame));
    return expected == FrameReadResult::kFrame ? std::string(frame) : std::string();
  }
  int fds_[2] = {-1, -1};
};

TEST_F(FifoIoTest, CommandFramesAreCutAtEtxAndKeepTheRestForLater) {
  FrameReader reader(PIPE_ETX);
  Put(std::string("\x02S2\x01" "11\x03\x02S1\x03\x02M2\x01" "0,\"No"));
  EXPECT_EQ("\x02S2\x01" "11\x03", Next(reader));
  EXPECT_EQ("\x02S1\x03", Next(reader));
  Put(std::string(" error\"\x03") + '\0' + '\0');  // the writer's NULs are skipped
  EXPECT_EQ("\x02M2\x01" "0,\"No error\"\x03", Next(reader));
  EXPECT_EQ(2u, reader.Buffered());  // the NULs wait to be skipped
  close(fds_[1]);
  fds_[1] = -1;
  Next(reader, FrameReadResult::kClosed);
}

TEST_F(FifoIoTest, OverlongFrameIsDroppedAndTheNextOneFound) {
  FrameReader reader(PIPE_ETX);
  std::thread writer([this] {
    Put("\x02M1\x01" + std::string(FRAME_SIZE + 100, 'a') + "\x03\x02S1\x03");
  });
  Next(reader, FrameReadResult::kOverflow);
  EXPECT_EQ("\x02S1\x03", Next(reader));
  writer.join();
}

TEST_F(FifoIoTest, LargestFrameFitsTheBuffer) {
  FrameReader reader(PIPE_ETX);
  std::string text(FRAME_SIZE - 6, 'q');
  std::string frame = "\x02S7\x01" + text + "\x03";
  ASSERT_EQ(FRAME_SIZE - 1, frame.size());
  std::thread writer([&] { Put(frame + frame); });
  EXPECT_EQ(frame, Next(reader));
  EXPECT_EQ(frame, Next(reader));
  writer.join();
}

TEST_F(FifoIoTest, InterruptedReadIsRetriedWhileRunningAndEndsOnStop) {
  FrameReader reader(PIPE_ETX);
  std::atomic<int> state{0};
  FrameReadResult first{};
  FrameReadResult second{};
  std::thread blocked([&] {
    char frame[FRAME_SIZE];
    first = reader.Next(fds_[0], frame);
    state = 1;
    second = reader.Next(fds_[0], frame);
    state = 2;
  });
  RegisterWakeThread(blocked.native_handle());
  usleep(20000);
  pthread_kill(blocked.native_handle(), SIGALRM);  // a wake-up while running: retried
  usleep(20000);
  EXPECT_EQ(0, state.load());
  Put("\x02S1\x03");
  while (state.load() == 0) usleep(1000);
  EXPECT_EQ(FrameReadResult::kFrame, first);
  RequestStop();
  // Should the stop come just before the read starts, wake it again.
  for (int i = 0; i < 500 && state.load() != 2; ++i) {
    usleep(2000);
    if (state.load() != 2) pthread_kill(blocked.native_handle(), SIGALRM);
  }
  blocked.join();
  EXPECT_EQ(FrameReadResult::kStopped, second);
  EXPECT_FALSE(IsRunning());
}

TEST_F(FifoIoTest, RouterSleepEndsOnAStopThatCameFirst) {
  RouterWakeup wakeup;
  wakeup.Notify();
  EXPECT_TRUE(wakeup.Wait());
  RequestStop();
  RequestStop();  // a second stop does nothing
  EXPECT_FALSE(wakeup.Wait());
}

TEST_F(FifoIoTest, StopSignalClearsTheRunningFlag) {
  ASSERT_TRUE(IsRunning());
  raise(SIGTERM);
  EXPECT_FALSE(IsRunning());
  raise(SIGINT);  // a second stop signal does nothing, and nothing dies of it
  EXPECT_FALSE(IsRunning());
}

TEST_F(FifoIoTest, WriteToAGoneReaderFailsWithEpipe) {
  close(fds_[0]);
  fds_[0] = open("/dev/null", O_RDONLY);  // keeps TearDown's close harmless
  errno = 0;
  EXPECT_EQ(-1, WriteFrame(fds_[1], "\x02S1\x03", 4));
  EXPECT_EQ(EPIPE, errno);
}

}  // namespace
