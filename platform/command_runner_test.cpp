// Outside commands: the virtual chassis' stand-ins come first on the PATH.
#include "platform/command_runner.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "platform/test_support.h"

namespace platform {
namespace {

void WriteScript(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
}

std::string Contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(RunCommand, RunsTheStandInPlacedUnderTheRoot) {
  TempFolder root;
  ASSERT_FALSE(root.path().empty());
  ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(mkdir(StandInFolder().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root.path() + "/tmp").c_str(), 0755), 0);
  // A tool every host has, so only the PATH order decides which one runs.
  WriteScript(StandInFolder() + "/uname", "echo \"$@\" > \"$CHASSIS_ROOT/tmp/ran\"\nexit 3\n");
  const std::string path_before = std::getenv("PATH");

  const int status = RunCommand("uname -a eth0");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(Contents(ResolvePath("/tmp/ran")), "-a eth0\n");
  EXPECT_EQ(std::getenv("PATH"), path_before);  // only the child's PATH changes
}

TEST(RunCommand, AHostToolWithoutAStandInNeverRuns) {
  TempFolder root;
  ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(mkdir(StandInFolder().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root.path() + "/tmp").c_str(), 0755), 0);
  // touch is on every host, in /usr/bin or /bin, which a merged PATH would reach.
  const std::string touched = ResolvePath("/tmp/touched");
  testing::internal::CaptureStdout();
  const int status = RunCommand("touch " + touched);
  const std::string printed = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 127);
  struct stat info {};
  EXPECT_NE(stat(touched.c_str(), &info), 0);
  EXPECT_NE(printed.find("WARNING: [_platform/command_runner | RunCommand | "),
            std::string::npos);
  EXPECT_NE(printed.find("no stand-in runs this command: touch " + touched), std::string::npos);
  // Shell builtins still work, as the command texts need them.
  const int builtin = RunCommand("test -d " + StandInFolder());
  ASSERT_TRUE(WIFEXITED(builtin));
  EXPECT_EQ(WEXITSTATUS(builtin), 0);
}

// The controller's threads keep the stop signals blocked; a command they start (the
// discovery service among them) must not inherit that, nor an ignored signal.
TEST(RunCommand, CommandsStartWithACleanSignalMaskAndDefaultActions) {
  TempFolder root;
  ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(mkdir(StandInFolder().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root.path() + "/tmp").c_str(), 0755), 0);
  WriteScript(StandInFolder() + "/report-mask",
              "while read -r key value; do\n"
              "  case $key in SigBlk:|SigIgn:) echo \"$key $value\";; esac\n"
              "done < /proc/$$/status > \"$CHASSIS_ROOT/tmp/mask\"\n");
  sigset_t stop;
  sigset_t previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &stop, &previous), 0);
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &before);
  const int status = RunCommand("report-mask");
  sigaction(SIGUSR1, &before, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The C library's two internal real-time signals (32 and 33) stay ignored in every
  // child it starts, system()'s included; the standard signals must all be clear.
  unsigned long long blocked = ~0ull;
  unsigned long long ignored = ~0ull;
  ASSERT_EQ(std::sscanf(Contents(ResolvePath("/tmp/mask")).c_str(), "SigBlk: %llx SigIgn: %llx",
                        &blocked, &ignored),
            2);
  EXPECT_EQ(blocked, 0u);
  EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u);  // signals 1 to 31
}

TEST(RunCommand, ResolvedPathsAndQuotesReachTheShell) {
  TempFolder root;
  ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(mkdir((root.path() + "/etc").c_str(), 0755), 0);
  const int status = RunCommand(FormatCommand("echo 'a b' > %p", {"/etc/out"}));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Contents(root.path() + "/etc/out"), "a b\n");
}

TEST(RunCommand, BoardPassesTheTextToTheShellAsItIs) {
  ScopedEnv env("CHASSIS_ROOT", nullptr);
  EXPECT_EQ(StandInFolder(), "");
  const int status = RunCommand("exit 5");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
}

}  // namespace
}  // namespace platform
