// Tests of the chassis event log: the 50-entry limit and its overflow marker, deletion,
// the file format and its reload, the power-down file and its fold at start-up,
// logging from two threads at once, and the SYSTem:EVENt handlers.
#include "hardware/event_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "hardware/hardware_test_support.h"
#include "platform/paths.h"
#include "platform/test_support.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"

namespace {

int FixedClock(EventLogEntry* stamp) {
  stamp->year = 2026;
  stamp->month = 3;
  stamp->day = 7;
  stamp->hour = 9;
  stamp->minute = 5;
  stamp->second = 0;
  return 0;
}

int BrokenClock(EventLogEntry* /*stamp*/) { return -30014; }

std::string ReadFile(const char* fixed_path) {
  std::ifstream file(platform::ResolvePath(fixed_path));
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const char* fixed_path, const std::string& text) {
  std::ofstream(platform::ResolvePath(fixed_path)) << text;
}

bool Exists(const char* fixed_path) {
  return std::ifstream(platform::ResolvePath(fixed_path)).good();
}

std::string Event(int32_t n) {
  char reply[kEventReplySize];
  GetEvent(n, reply);
  return reply;
}

// Every test starts with an empty log in a fresh root and the fixed clock.
class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEventClock(FixedClock);
    ASSERT_EQ(ClearEventLog(), 0);
  }
  void TearDown() override { SetEventClock(nullptr); }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(EventLogTest, FiftiethEntryIsOverflowMarkerAndLaterEventsAreDropped) {
  for (int i = 1; i <= 49; ++i) LogEvent(("event " + std::to_string(i)).c_str());
  EXPECT_EQ(GetEventCount(), 49);
  EXPECT_EQ(Event(49), "49,event 49");
  LogEvent("event 50");
  EXPECT_EQ(GetEventCount(), 50);
  EXPECT_EQ(Event(50), "50,Queue overflow");
  LogEvent("event 51");
  EXPECT_EQ(GetEventCount(), 50);
  EXPECT_EQ(Event(50), "50,Queue overflow");

  // Deleting one entry lets the next event in, which again takes the overflow place.
  EXPECT_EQ(DeleteEvent(1), 0);
  EXPECT_EQ(Event(1), "1,event 2");
  EXPECT_EQ(Event(49), "49,Queue overflow");
  LogEvent("event 52");
  EXPECT_EQ(GetEventCount(), 50);
  EXPECT_EQ(Event(50), "50,Queue overflow");
}

TEST_F(EventLogTest, PowerDownIsNotRecordedWhileTheLogIsFull) {
  for (int i = 0; i < 50; ++i) LogEvent("x");
  EXPECT_EQ(LogPowerDownEvent("Power down/failure"), 0);
  EXPECT_FALSE(Exists(kPowerDownFile));
}

TEST_F(EventLogTest, DeletionMovesLaterEntriesDownAndIgnoresBadNumbers) {
  LogEvent("a");
  LogEvent("b");
  LogEvent("c");
  EXPECT_EQ(DeleteEvent(0), 0);
  EXPECT_EQ(DeleteEvent(4), 0);
  EXPECT_EQ(GetEventCount(), 3);
  EXPECT_EQ(DeleteEvent(2), 0);
  EXPECT_EQ(GetEventCount(), 2);
  EXPECT_EQ(Event(1), "1,a");
  EXPECT_EQ(Event(2), "2,c");
  EXPECT_EQ(Event(3), "3,Event 3 is not valid");
  EXPECT_EQ(Event(0), "0,Event 0 is not valid");
  EXPECT_EQ(ReadFile(kEventLogFile), "NUMBER OF EVENTS = 2\n2026/3/7 9:5:0,a\n2026/3/7 9:5:0,c\n");
  EXPECT_EQ(ClearEventLog(), 0);
  EXPECT_EQ(GetEventCount(), 0);
  EXPECT_EQ(ReadFile(kEventLogFile), "NUMBER OF EVENTS = 0\n");
}

TEST_F(EventLogTest, TextIsCutTo255CharactersAndKeptOnOneLine) {
  std::string long_text(300, 'L');
  LogEvent(long_text.c_str());
  EXPECT_EQ(Event(1), "1," + std::string(255, 'L'));
  LogEvent("Interrupt received from card in slot 3, but card has no interrupt handler\n");
  LogEvent("two\nlines");
  LogEvent("");
  EXPECT_EQ(Event(2),
            "2,Interrupt received from card in slot 3, but card has no interrupt handler");
  EXPECT_EQ(Event(3), "3,two lines");

  // All four come back from the file unchanged, the empty text too.
  ASSERT_EQ(LoadEventLog(), 0);
  EXPECT_EQ(GetEventCount(), 4);
  EXPECT_EQ(Event(1), "1," + std::string(255, 'L'));
  EXPECT_EQ(Event(3), "3,two lines");
  EXPECT_EQ(Event(4), "4,");
}

TEST_F(EventLogTest, FileFormatAndReload) {
  LogEvent("Power-on");
  SetEventClock(BrokenClock);
  LogEvent("no clock");
  EXPECT_EQ(ReadFile(kEventLogFile),
            "NUMBER OF EVENTS = 2\n2026/3/7 9:5:0,Power-on\n0/0/0 0:0:0,no clock\n");
  // No temporary file is left beside the log.
  EXPECT_FALSE(Exists("/mnt/nonv/events/eventlist.evt.tmp"));

  WriteFile(kEventLogFile,
            "NUMBER OF EVENTS = 2\n2025/12/31 23:59:58,first, with comma\n2026/1/1 0:0:1,second\n");
  ASSERT_EQ(LoadEventLog(), 0);
  EXPECT_EQ(GetEventCount(), 2);
  EXPECT_EQ(Event(1), "1,first, with comma");
  LogEvent("third");
  EXPECT_EQ(ReadFile(kEventLogFile),
            "NUMBER OF EVENTS = 3\n2025/12/31 23:59:58,first, with comma\n"
            "2026/1/1 0:0:1,second\n0/0/0 0:0:0,third\n");
}

TEST_F(EventLogTest, DamagedFileKeepsTheEntriesBeforeTheFirstBadLine) {
  // A count beyond the log's size never reads past its 50 places.
  std::string too_many = "NUMBER OF EVENTS = 60\n";
  for (int i = 0; i < 60; ++i) too_many += "2026/1/1 1:2:3,e" + std::to_string(i) + "\n";
  struct Case {
    std::string file;
    int32_t count;
    std::string last;  // the reply for the last entry kept (for 0: the refusal)
  } cases[] = {
      {"NUMBER OF EVENTS = 3\n2026/1/1 1:2:3,good\nnot an entry\n2026/1/1 1:2:3,late\n", 1,
       "1,good"},
      {"NUMBER OF EVENTS = 2\n2026/1/1 1:2:3,only one\n", 1, "1,only one"},
      {"NUMBER OF EVENTS = 2\n2026/1/1 1:2,short\n2026/1/1 1:2:3,b\n", 0, "0,Event 0 is not valid"},
      {"garbage\n", 0, "0,Event 0 is not valid"},
      {"NUMBER OF EVENTS = -4\n", 0, "0,Event 0 is not valid"},
      {too_many, 50, "50,e49"},
  };
  for (const Case& c : cases) {
    WriteFile(kEventLogFile, c.file);
    EXPECT_EQ(LoadEventLog(), err::kEventListRecallFailed) << c.file;
    EXPECT_EQ(GetEventCount(), c.count) << c.file;
    EXPECT_EQ(Event(c.count), c.last);
  }

  std::remove(platform::ResolvePath(kEventLogFile).c_str());
  EXPECT_EQ(LoadEventLog(), err::kEventListRecallFailed);
  EXPECT_EQ(GetEventCount(), 0);
}

TEST_F(EventLogTest, StartUpFoldsPowerDownBeforePowerOn) {
  LogEvent("before");
  ASSERT_EQ(LogPowerDownEvent("Power down/failure"), 0);
  EXPECT_EQ(ReadFile(kPowerDownFile), "2026/3/7 9:5:0,Power down/failure\n");
  EXPECT_EQ(GetEventCount(), 1);  // not in the log until the next start

  StartEventLog();
  EXPECT_EQ(GetEventCount(), 3);
  EXPECT_EQ(Event(1), "1,before");
  EXPECT_EQ(Event(2), "2,Power down/failure");
  EXPECT_EQ(Event(3), "3,Power-on");
  EXPECT_FALSE(Exists(kPowerDownFile));

  // Without a power-down file the fold changes nothing.
  EXPECT_EQ(FoldPowerDownEvent(), 0);
  EXPECT_EQ(GetEventCount(), 3);
}

TEST_F(EventLogTest, PowerDownFoldEdges) {
  for (int i = 0; i < 49; ++i) LogEvent("x");
  WriteFile(kPowerDownFile, "2026/2/2 2:2:2,Power down/failure\n");
  EXPECT_EQ(FoldPowerDownEvent(), 0);
  EXPECT_EQ(Event(50), "50,Queue overflow");
  EXPECT_FALSE(Exists(kPowerDownFile));

  // A full log leaves the file for a later start.
  WriteFile(kPowerDownFile, "2026/2/2 2:2:2,Power down/failure\n");
  EXPECT_EQ(FoldPowerDownEvent(), 0);
  EXPECT_TRUE(Exists(kPowerDownFile));

  // An unreadable file is reported and kept.
  ASSERT_EQ(ClearEventLog(), 0);
  WriteFile(kPowerDownFile, "bad\n");
  EXPECT_EQ(FoldPowerDownEvent(), err::kEventListRecallFailed);
  EXPECT_EQ(GetEventCount(), 0);
  EXPECT_TRUE(Exists(kPowerDownFile));
}

TEST_F(EventLogTest, FailedSaveKeepsTheLogInMemoryAndIsReported) {
  LogEvent("kept");
  // A file where the events directory belongs makes every save fail.
  std::string directory = platform::ResolvePath(kEventLogDirectory);
  std::filesystem::remove_all(directory);
  WriteFile(kEventLogDirectory, "in the way");
  EXPECT_EQ(LogEvent("also kept"), 0);
  EXPECT_EQ(GetEventCount(), 2);
  EXPECT_EQ(Event(2), "2,also kept");
  EXPECT_EQ(DeleteEvent(1), err::kEventListStoreFailed);
  EXPECT_EQ(ClearEventLog(), err::kEventListStoreFailed);
  EXPECT_EQ(LogPowerDownEvent("Power down/failure"), err::kEventListStoreFailed);
  std::filesystem::remove(directory);
}

TEST_F(EventLogTest, TwoThreadsLoggingAtOnceLoseNothing) {
  constexpr int kPerThread = 24;
  auto writer = [](char tag) {
    for (int i = 0; i < kPerThread; ++i) {
      std::string text(200, tag);
      text += std::to_string(i);
      LogEvent(text.c_str());
    }
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();
  ASSERT_EQ(GetEventCount(), 2 * kPerThread);

  // Every entry is whole, and each thread's entries keep their order.
  auto check = [&] {
    int next[2] = {0, 0};
    for (int n = 1; n <= 2 * kPerThread; ++n) {
      std::string entry = Event(n);
      std::string prefix = std::to_string(n) + ",";
      ASSERT_EQ(entry.compare(0, prefix.size(), prefix), 0);
      std::string text = entry.substr(prefix.size());
      ASSERT_TRUE(text[0] == 'A' || text[0] == 'B');
      int& expected = next[text[0] - 'A'];
      EXPECT_EQ(text, std::string(200, text[0]) + std::to_string(expected));
      ++expected;
    }
    EXPECT_EQ(next[0], kPerThread);
    EXPECT_EQ(next[1], kPerThread);
  };
  check();
  ASSERT_EQ(LoadEventLog(), 0);
  EXPECT_EQ(GetEventCount(), 2 * kPerThread);
  check();
}

// The default clock: entries carry the FPGA clock's date and time.
class EventLogOnFpgaClockTest : public SimulatedHardwareTest {
 protected:
  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(EventLogOnFpgaClockTest, EntriesCarryTheFpgaDateAndTime) {
  SetEventClock(nullptr);
  ASSERT_EQ(ClearEventLog(), 0);
  LogEvent("Power-on");
  EXPECT_EQ(ReadFile(kEventLogFile), "NUMBER OF EVENTS = 1\n2005/12/31 23:59:58,Power-on\n");
}

// One command with at most one parameter, handed to its handlers the way the
// pipeline does: validation first, execution only when it passed.
class HandlerCall {
 public:
  explicit HandlerCall(const char* parameter = nullptr) {
    command_.execution = &execution_;
    command_.context = &context_;
    context_.command = &command_;
    if (parameter != nullptr) {
      std::snprintf(text_, sizeof text_, "%s", parameter);
      context_.parameters = parameters_;
      context_.parameter_count = 1;
    }
  }
  int32_t Validate(const CommandRecord& record) { return record.DoContextValidation(&context_); }
  int32_t Run(const CommandRecord& record) {
    int32_t code = Validate(record);
    return code != 0 ? code : record.DoExecutionConclusion(&context_);
  }
  int32_t error_code() const { return execution_.error_code; }
  std::string reply() const { return std::string(execution_.reply, execution_.reply_length); }

 private:
  ExecutionContext execution_{};
  ParsedCommand command_{};
  CommandContext context_{};
  char text_[32] = {};
  char* parameters_[1] = {text_};
};

// The records as the command table wires them.
#define EVENT_RECORD(NAME)                                                                  \
  constexpr CommandRecord k##NAME = {.DoContextValidation = NAME##_DoContextValidation,     \
                                     .DoGetSegmentTable = nullptr,                          \
                                     .DoExecutionConclusion = NAME##_DoExecutionConclusion, \
                                     .DoCompletion = nullptr}
EVENT_RECORD(SYST_EVENTQuery);
EVENT_RECORD(SYST_EVENT_COUNTQuery);
EVENT_RECORD(SYST_EVENT_CLEAR);
EVENT_RECORD(SYST_EVENT_CLEAR_ALL);
#undef EVENT_RECORD

TEST_F(EventLogTest, EventQueryTakesEntryNumbersOneToFifty) {
  LogEvent("Power-on");
  for (const char* bad : {"0", "51", "-1"}) {
    HandlerCall call(bad);
    EXPECT_EQ(call.Run(kSYST_EVENTQuery), -222) << bad;
    EXPECT_EQ(call.error_code(), -222);
  }
  HandlerCall missing;
  EXPECT_EQ(missing.Validate(kSYST_EVENTQuery), -109);
  HandlerCall not_number("ABC");
  EXPECT_NE(not_number.Validate(kSYST_EVENTQuery), 0);

  HandlerCall first("1");
  EXPECT_EQ(first.Run(kSYST_EVENTQuery), 0);
  EXPECT_EQ(first.reply(), "1,Power-on");
  HandlerCall past("50");
  EXPECT_EQ(past.Run(kSYST_EVENTQuery), 0);
  EXPECT_EQ(past.reply(), "50,Event 50 is not valid");
}

TEST_F(EventLogTest, CountClearAndClearAllCommands) {
  LogEvent("a");
  LogEvent("b");
  HandlerCall count;
  EXPECT_EQ(count.Run(kSYST_EVENT_COUNTQuery), 0);
  EXPECT_EQ(count.reply(), "2");
  HandlerCall count_extra("1");
  EXPECT_EQ(count_extra.Validate(kSYST_EVENT_COUNTQuery), -108);

  HandlerCall clear_bad("51");
  EXPECT_EQ(clear_bad.Run(kSYST_EVENT_CLEAR), -222);
  HandlerCall clear_past("3");  // a valid number past the last entry does nothing
  EXPECT_EQ(clear_past.Run(kSYST_EVENT_CLEAR), 0);
  EXPECT_EQ(GetEventCount(), 2);
  HandlerCall clear_one("1");
  EXPECT_EQ(clear_one.Run(kSYST_EVENT_CLEAR), 0);
  EXPECT_EQ(GetEventCount(), 1);
  EXPECT_EQ(Event(1), "1,b");

  HandlerCall all_extra("1");
  EXPECT_EQ(all_extra.Validate(kSYST_EVENT_CLEAR_ALL), -108);
  HandlerCall all;
  EXPECT_EQ(all.Run(kSYST_EVENT_CLEAR_ALL), 0);
  EXPECT_EQ(GetEventCount(), 0);
  EXPECT_EQ(ReadFile(kEventLogFile), "NUMBER OF EVENTS = 0\n");
}

}  // namespace
