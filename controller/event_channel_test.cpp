// Tests of the controller's event broadcaster: exact frames on all three event FIFOs,
// refused slots, and whole frames when several threads raise events at once.
#include "controller/event_channel.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/event_reader.h"
#include "core/messaging_test_support.h"

namespace {

class EventChannelTest : public ::testing::Test {
 protected:
  // The servers' read ends are opened first (without blocking), so setup's blocking
  // opens for writing find their readers.
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      std::string path = platform::ResolvePath(kPaths[i]);
      ASSERT_EQ(0, EnsureFifo(path));
      readers_[i] = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(readers_[i], 0);
    }
    ASSERT_EQ(0, EventChannelSetup(&channel_));
  }
  void TearDown() override {
    EventChannelClose(&channel_);
    for (int fd : readers_) close(fd);
  }

  // Everything waiting on reader `i`.
  std::string Drain(int i) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
      ssize_t n = read(readers_[i], buffer, sizeof(buffer));
      if (n <= 0) return bytes;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }

  static constexpr const char* kPaths[3] = {"/tmp/event_eth", "/tmp/event_usb",
                                            "/tmp/event_gpib"};
  TempRoot root_;
  EventChannel channel_;
  int readers_[3] = {-1, -1, -1};
};

TEST_F(EventChannelTest, RelayChangeNoticeReachesEveryServerByteExact) {
  int32_t flags[kRelayChangeSlots] = {};
  flags[1] = 1;
  flags[12] = 1;
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_RELAY_CHANGE_task(flags, &channel_));
  std::string expected = "\x02" "E3";
  for (int i = 0; i < kRelayChangeSlots; ++i) {
    expected += '\x01';
    expected += (i == 1 || i == 12) ? '1' : '0';
  }
  expected += '\x03';
  expected += '\0';
  for (int i = 0; i < 3; ++i) EXPECT_EQ(expected, Drain(i)) << kPaths[i];
  EXPECT_EQ(0, channel_.state);
}

TEST_F(EventChannelTest, ScanEventsAreBareFrames) {
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_SCAN_START_task(&channel_));
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_SCAN_END_task(&channel_));
  EXPECT_EQ(std::string("\x02" "E1\x03") + '\0' + std::string("\x02" "E2\x03") + '\0',
            Drain(0));
}

TEST_F(EventChannelTest, SlotEventsRefuseSlotTenAndSlotsOutOfRange) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task(10, &channel_));
  EXPECT_EQ(-1, event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task(13, &channel_));
  EXPECT_EQ(-1, event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task(-1, &channel_));
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            printed.find("** ERROR: [_util/fsm_master_event_msg_rout | "
                         "event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task | "));
  EXPECT_NE(std::string::npos, printed.find("] invalid slot: 10\n"));
  EXPECT_NE(std::string::npos, printed.find("] invalid slot: 13\n"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ("", Drain(i));

  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task(12, &channel_));
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task(4, &channel_));
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task(0, &channel_));
  std::string expected = std::string("\x02" "E4\x01" "C\x03") + '\0' +
                         std::string("\x02" "E5\x01" "4\x03") + '\0' +
                         std::string("\x02" "E6\x01" "0\x03") + '\0';
  for (int i = 0; i < 3; ++i) EXPECT_EQ(expected, Drain(i));
}

TEST_F(EventChannelTest, FramesFromSeveralThreadsStayWhole) {
  constexpr int kPerThread = 300;
  std::vector<std::string> frames;
  std::atomic<bool> done{false};
  // The reader drains the LAN FIFO as the server would, cutting at each NUL.
  std::thread reader([&] {
    FrameReader cutter('\0');
    char frame[FRAME_SIZE];
    int fd = readers_[0];
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    while (frames.size() < 4u * kPerThread) {
      if (cutter.Next(fd, frame) != FrameReadResult::kFrame) break;
      frames.emplace_back(frame);
    }
    done = true;
  });
  auto raise = [&](int which) {
    int32_t flags[kRelayChangeSlots] = {};
    flags[which] = 1;
    for (int i = 0; i < kPerThread; ++i) {
      switch (which) {
        case 0: event_mastermsgrout_do_NOTIFY_RELAY_CHANGE_task(flags, &channel_); break;
        case 1: event_mastermsgrout_do_NOTIFY_SCAN_START_task(&channel_); break;
        case 2: event_mastermsgrout_do_NOTIFY_INTERLOCK_BREAK_task(7, &channel_); break;
        default: event_mastermsgrout_do_NOTIFY_EMERGENCY_RESET_task(3, &channel_); break;
      }
      if (i % 50 == 0) {  // keep the other two FIFOs from filling up
        Drain(1);
        Drain(2);
      }
    }
  };
  std::vector<std::thread> raisers;
  for (int which = 0; which < 4; ++which) raisers.emplace_back(raise, which);
  for (std::thread& t : raisers) t.join();
  EventChannelClose(&channel_);  // ends the reader should a frame have been lost
  reader.join();
  ASSERT_EQ(4u * kPerThread, frames.size());
  int counts[4] = {};
  for (const std::string& frame : frames) {
    switch (FrameKind(frame)) {
      case PipeMsgKind::E3:
        ASSERT_EQ(13u, FrameBytes(frame).size());
        ASSERT_EQ(1, FrameBytes(frame)[0]);
        ++counts[0];
        break;
      case PipeMsgKind::E1: ++counts[1]; break;
      case PipeMsgKind::E5:
        ASSERT_EQ(std::vector<uint8_t>{7}, FrameBytes(frame));
        ++counts[2];
        break;
      case PipeMsgKind::E4:
        ASSERT_EQ(std::vector<uint8_t>{3}, FrameBytes(frame));
        ++counts[3];
        break;
      default: FAIL() << "broken frame: " << frame;
    }
  }
  for (int count : counts) EXPECT_EQ(kPerThread, count);
}

TEST(EventReaderTest, EventsFromTheBroadcasterReachTheReader) {
  TempRoot root;
  EventReader readers[3];
  std::vector<SeenEvent> seen[3];
  const char* paths[3] = {"/tmp/event_eth", "/tmp/event_usb", "/tmp/event_gpib"};
  EventChannel channel;
  // The servers open their read ends in the broadcaster's order.
  std::thread servers([&] {
    for (int i = 0; i < 3; ++i) EventReaderSetup(&readers[i], paths[i], RecordEvent, &seen[i]);
  });
  ASSERT_EQ(0, EventChannelSetup(&channel));
  servers.join();
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_INTERLOCK_RESTORE_task(9, &channel));
  EXPECT_EQ(0, event_mastermsgrout_do_NOTIFY_SCAN_END_task(&channel));
  EventChannelClose(&channel);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(-1, event_slavemsgrout_do_IDLE_task(&readers[i]));
    EventReaderClose(&readers[i]);
    ASSERT_EQ(2u, seen[i].size()) << paths[i];
    EXPECT_EQ(kEventTypeInterlockRestored, seen[i][0].type);
    EXPECT_EQ(std::vector<uint8_t>{9}, seen[i][0].data);
    EXPECT_EQ(kEventTypeScanEnded, seen[i][1].type);
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
