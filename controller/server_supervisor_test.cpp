// The restart budget and the words an end is logged with.
#include "controller/server_supervisor.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using std::chrono::seconds;

TEST(RestartBudgetTest, FiveRestartsWithinAMinuteThenNoneUntilTheOldestIsAMinuteOld) {
  RestartBudget budget;
  const auto start = std::chrono::steady_clock::time_point{} + seconds(1000);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(budget.Allow(start + seconds(i * 10))) << i;
  EXPECT_FALSE(budget.Allow(start + seconds(59)));  // the sixth end within a minute
  EXPECT_TRUE(budget.Allow(start + seconds(60)));   // the first restart is a minute old
  EXPECT_FALSE(budget.Allow(start + seconds(61)));
}

TEST(DescribeEndTest, NamesTheSignalOrTheStatus) {
  struct Row {
    int status;
    const char* text;
  } rows[] = {
      {9, "killed by signal 9 SIGKILL"},       // WIFSIGNALED, no core
      {11 | 0x80, "killed by signal 11 SIGSEGV"},  // with a core dump
      {1 << 8, "exited with status 1"},
      {0, "exited with status 0"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.text, DescribeEnd(row.status)) << row.status;
}

}  // namespace
