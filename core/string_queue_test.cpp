// Tests of StringQueue: order, the 255-character limit, empty-queue results, entries
// handed in and out, and several producers with one blocking consumer.
#include "core/string_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(StringQueue, PopsInArrivalOrderAndPeeksBothEnds) {
  StringQueue queue;
  char text[STRING_QUEUE_TEXT_SIZE];
  EXPECT_EQ(queue.PushCopy("-113,\"Undefined header\""), 0);
  EXPECT_EQ(queue.PushCopy("-222,\"Data out of range\""), 0);
  EXPECT_EQ(queue.PushCopy("-350,\"Queue overflow\""), 0);
  EXPECT_EQ(queue.Count(), 3);

  ASSERT_EQ(queue.PeekHead(text), 0);
  EXPECT_STREQ(text, "-113,\"Undefined header\"");
  ASSERT_EQ(queue.PeekTail(text), 0);
  EXPECT_STREQ(text, "-350,\"Queue overflow\"");
  EXPECT_EQ(queue.Count(), 3);

  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_STREQ(text, "-113,\"Undefined header\"");
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_STREQ(text, "-222,\"Data out of range\"");
  ASSERT_EQ(queue.PeekHead(text), 0);
  EXPECT_STREQ(text, "-350,\"Queue overflow\"");
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_EQ(queue.Count(), 0);

  // Usable again after running empty.
  EXPECT_EQ(queue.PushCopy("again"), 0);
  ASSERT_EQ(queue.PeekTail(text), 0);
  EXPECT_STREQ(text, "again");
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_STREQ(text, "again");
}

TEST(StringQueue, EmptyQueueGivesMinusOneAndLeavesBufferUntouched) {
  StringQueue queue;
  char text[STRING_QUEUE_TEXT_SIZE] = "untouched";
  EXPECT_EQ(queue.PopCopy(text), -1);
  EXPECT_EQ(queue.PeekHead(text), -1);
  EXPECT_EQ(queue.PeekTail(text), -1);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(queue.PopEntry(), nullptr);
  EXPECT_EQ(queue.Count(), 0);
}

TEST(StringQueue, LongTextKeepsItsFirst255Characters) {
  StringQueue queue;
  std::string long_text;
  for (int i = 0; i < 300; ++i) long_text.push_back(static_cast<char>('a' + i % 26));
  ASSERT_EQ(queue.PushCopy(long_text.c_str()), 0);
  char text[STRING_QUEUE_TEXT_SIZE];
  std::memset(text, 'z', sizeof text);
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_EQ(std::string(text), long_text.substr(0, 255));

  const std::string exact(255, 'e');
  ASSERT_EQ(queue.PushCopy(exact.c_str()), 0);
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_EQ(std::string(text), exact);
}

TEST(StringQueue, EntriesPassInAndOutWithTheirUserWord) {
  StringQueue queue;
  int owner_a = 0;
  int owner_b = 0;
  auto a = std::make_unique<StringQueueEntry>();
  std::strcpy(a->text, "*IDN?\n");
  a->user = &owner_a;
  queue.PushEntry(std::move(a));
  queue.PushCopy("between");
  auto b = std::make_unique<StringQueueEntry>();
  std::memset(b->text, 'x', sizeof b->text);  // not terminated by its filler
  b->user = &owner_b;
  queue.PushEntry(std::move(b));
  EXPECT_EQ(queue.Count(), 3);

  std::unique_ptr<StringQueueEntry> first = queue.PopEntry();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->text, "*IDN?\n");
  EXPECT_EQ(first->user, &owner_a);
  EXPECT_EQ(first->next, nullptr);

  char text[STRING_QUEUE_TEXT_SIZE];
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_STREQ(text, "between");

  std::unique_ptr<StringQueueEntry> last = queue.PopEntry();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->user, &owner_b);
  EXPECT_EQ(std::strlen(last->text), 255u);
  EXPECT_EQ(queue.Count(), 0);
}

TEST(StringQueue, ClearDropsEverything) {
  StringQueue queue;
  for (int i = 0; i < 10; ++i) queue.PushCopy("entry");
  queue.Clear();
  EXPECT_EQ(queue.Count(), 0);
  char text[STRING_QUEUE_TEXT_SIZE] = "untouched";
  EXPECT_EQ(queue.PopCopy(text), -1);
  queue.PushCopy("after");
  ASSERT_EQ(queue.PopCopy(text), 0);
  EXPECT_STREQ(text, "after");
}

TEST(StringQueue, WaitReturnsOnEntryTimeoutOrWake) {
  StringQueue queue;
  EXPECT_FALSE(queue.WaitNonEmpty(10ms));

  std::thread producer([&queue] {
    std::this_thread::sleep_for(20ms);
    queue.PushCopy("late");
  });
  EXPECT_TRUE(queue.WaitNonEmpty(10s));
  producer.join();
  EXPECT_EQ(queue.Count(), 1);
  EXPECT_TRUE(queue.WaitNonEmpty(0ms));

  StringQueue idle;
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    EXPECT_FALSE(idle.WaitNonEmpty(std::chrono::hours(1)));
    returned = true;
  });
  std::this_thread::sleep_for(20ms);
  idle.WakeAll();
  waiter.join();
  EXPECT_TRUE(returned);
  // After the wake every wait returns at once.
  EXPECT_FALSE(idle.WaitNonEmpty(std::chrono::hours(1)));
}

TEST(StringQueue, ManyProducersOneConsumerLoseAndReorderNothing) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 2000;
  StringQueue queue;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&queue, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%d:%d", p, i);
        if (i % 2 == 0) {
          queue.PushCopy(text);
        } else {
          auto entry = std::make_unique<StringQueueEntry>();
          std::strcpy(entry->text, text);
          queue.PushEntry(std::move(entry));
        }
      }
    });
  }

  std::vector<int> next(kProducers, 0);
  int received = 0;
  bool in_order = true;
  while (received < kProducers * kPerProducer) {
    if (!queue.WaitNonEmpty(10s)) break;
    char text[STRING_QUEUE_TEXT_SIZE];
    while (queue.PopCopy(text) == 0) {
      int producer = -1;
      int index = -1;
      ASSERT_EQ(std::sscanf(text, "%d:%d", &producer, &index), 2);
      ASSERT_GE(producer, 0);
      ASSERT_LT(producer, kProducers);
      if (index != next[producer]) in_order = false;
      next[producer] = index + 1;
      ++received;
    }
  }
  for (std::thread& producer : producers) producer.join();
  EXPECT_TRUE(in_order);
  EXPECT_EQ(received, kProducers * kPerProducer);
  EXPECT_EQ(queue.Count(), 0);
}

}  // namespace
