// Tests of the servers' event reader and of the event word and mask rules behind the
// LAN server's 5-byte event notices.
#include "core/event_reader.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/messaging_test_support.h"

namespace {

void SlotFlags(std::initializer_list<int> slots, uint8_t out[13]) {
  std::fill(out, out + 13, 0);
  for (int slot : slots) out[slot] = 1;
}

TEST(EventWordTest, RelayChangeSetsSlotBitsAndTheNoticeBit) {
  uint8_t flags[13];
  SlotFlags({2, 5}, flags);
  uint32_t word = NotifyEchoEventWord(kEventTypeRelayChange, flags, 13);
  EXPECT_EQ(0x20000090u, word);
  uint8_t notice[kEventNoticeSize];
  FormatEventNotice(word, notice);
  const uint8_t expected[kEventNoticeSize] = {0x90, 0x00, 0x00, 0x20, 0x0A};
  EXPECT_EQ(0, std::memcmp(expected, notice, kEventNoticeSize));

  SlotFlags({0, 12}, flags);
  EXPECT_EQ(0x20004004u, NotifyEchoEventWord(kEventTypeRelayChange, flags, 13));
}

TEST(EventWordTest, SlotEventsAndScanEvents) {
  uint8_t slot = 4;
  EXPECT_EQ(0x10000040u, NotifyEchoEventWord(kEventTypeInterlockBroken, &slot, 1));
  EXPECT_EQ(0x08000040u, NotifyEchoEventWord(kEventTypeInterlockRestored, &slot, 1));
  slot = 12;
  EXPECT_EQ(0x40004000u, NotifyEchoEventWord(kEventTypeEmergencyReset, &slot, 1));
  EXPECT_EQ(0x1u, NotifyEchoEventWord(kEventTypeScanStarted, nullptr, 0));
  EXPECT_EQ(0x2u, NotifyEchoEventWord(kEventTypeScanEnded, nullptr, 0));
  // A slot beyond the chassis sets no slot bit (and shifts nothing out of range).
  slot = 200;
  EXPECT_EQ(0x10000000u, NotifyEchoEventWord(kEventTypeInterlockBroken, &slot, 1));
  EXPECT_EQ(0u, NotifyEchoEventWord(6, &slot, 1));
}

TEST(EventMaskTest, ScanEventsNeedMaskBitZero) {
  EXPECT_EQ(1, EventIsRegistered(kEventTypeScanStarted, 0x1, nullptr));
  EXPECT_EQ(1, EventIsRegistered(kEventTypeScanEnded, 0x3, nullptr));
  EXPECT_EQ(0, EventIsRegistered(kEventTypeScanStarted, 0x2, nullptr));
}

TEST(EventMaskTest, SlotEventsNeedTheSlotsBit) {
  uint8_t slot = 4;
  EXPECT_EQ(1, EventIsRegistered(kEventTypeInterlockBroken, 1u << 5, &slot));
  EXPECT_EQ(1, EventIsRegistered(kEventTypeInterlockBroken, 0xFFFF, &slot));
  EXPECT_EQ(0, EventIsRegistered(kEventTypeInterlockBroken, 0xFFFF & ~(1u << 5), &slot));
  EXPECT_EQ(0, EventIsRegistered(kEventTypeEmergencyReset, 1u << 4, &slot));

  uint8_t flags[13];
  SlotFlags({2, 5}, flags);
  EXPECT_EQ(1, EventIsRegistered(kEventTypeRelayChange, 1u << 3, flags));
  EXPECT_EQ(1, EventIsRegistered(kEventTypeRelayChange, 1u << 6, flags));
  EXPECT_EQ(0, EventIsRegistered(kEventTypeRelayChange, 0x1 | (1u << 4), flags));
  // Slot 12 of a relay change notice is not looked at.
  SlotFlags({12}, flags);
  EXPECT_EQ(0, EventIsRegistered(kEventTypeRelayChange, 0xFFFFFFFF, flags));
}

TEST(EventMaskTest, UnknownTypeIsReportedAndNotRegistered) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, EventIsRegistered(6, 0xFFFFFFFF, nullptr));
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, printed.find("** ERROR: [_ethernet/AsyncSockSvr | EventIsRegistered | "));
  EXPECT_NE(std::string::npos, printed.find("] default case\n"));
}

TEST(EventReaderTest, ReadsEveryEventFromTheControllerUntilItCloses) {
  TempRoot root;
  EventReader reader;
  std::vector<SeenEvent> seen;
  int writer = -1;
  std::thread controller([&] {
    std::string path = platform::ResolvePath("/tmp/event_gpib");
    EnsureFifo(path);
    writer = open(path.c_str(), O_WRONLY);
  });
  ASSERT_EQ(0, EventReaderSetup(&reader, "/tmp/event_gpib", RecordEvent, &seen));
  controller.join();
  ASSERT_GE(writer, 0);

  // Several frames in one write, a frame split over two writes, and a frame that is not
  // an event, all as the controller writes them: each with its NUL.
  uint8_t flags[13];
  SlotFlags({2, 5}, flags);
  std::string e3 = BinaryFrame(encode_E3_msg, std::vector<uint8_t>(flags, flags + 13));
  std::string block = BareFrame(encode_E1_msg) + '\0' + e3 + '\0' +
                      BinaryFrame(encode_E5_msg, {4}) + '\0' + BareFrame(encode_S1_msg) +
                      '\0';
  std::string e2 = BareFrame(encode_E2_msg) + '\0';
  ASSERT_EQ(static_cast<ssize_t>(block.size()), write(writer, block.data(), block.size()));
  ASSERT_EQ(2, write(writer, e2.data(), 2));
  ASSERT_EQ(static_cast<ssize_t>(e2.size() - 2), write(writer, e2.data() + 2, e2.size() - 2));
  close(writer);

  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, event_slavemsgrout_do_IDLE_task(&reader));
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, printed.find("read returned 0, exiting"));
  EventReaderClose(&reader);

  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ(kEventTypeScanStarted, seen[0].type);
  EXPECT_TRUE(seen[0].data.empty());
  EXPECT_EQ(kEventTypeRelayChange, seen[1].type);
  EXPECT_EQ(std::vector<uint8_t>(flags, flags + 13), seen[1].data);
  EXPECT_EQ(kEventTypeInterlockBroken, seen[2].type);
  EXPECT_EQ(std::vector<uint8_t>{4}, seen[2].data);
  EXPECT_EQ(kEventTypeScanEnded, seen[3].type);
}

}  // namespace
