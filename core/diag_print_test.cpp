// Tests of the diagnostic printers: exact line formats, errno explanations, the debug
// mask gate, the time stamp and the log file.
#include "core/diag_print.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(DiagLines, ErrorAndWarningLinesCarrySourceFunctionAndLine) {
  CaptureStdout();
  diag_error_line("_util/pipes_comm", "encode_S7_msg", 42, "%s: value %d\n", "encode_S7_msg", 7);
  diag_warning_line("_util/GetMsgQueueCommands", "process_msg_queue_commands", 9,
                    "Message overflow detected\n");
  diag_print_error("SockSvr.c", "PollData", "epoll failed");
  diag_print_trace("SockSvr.c", "PollData", "tick");
  EXPECT_EQ(GetCapturedStdout(),
            "** ERROR: [_util/pipes_comm | encode_S7_msg | 42] encode_S7_msg: value 7\n"
            "WARNING: [_util/GetMsgQueueCommands | process_msg_queue_commands | 9] "
            "Message overflow detected\n"
            "ERROR : File Name = 'SockSvr.c', Function = 'PollData()',  Message = 'epoll failed'\n"
            "TRACE : File Name = 'SockSvr.c', Function = 'PollData()',  Message = 'tick'\n");
}

TEST(DiagCallError, ExplainsKnownErrnoAndSaysUnknownOtherwise) {
  CaptureStdout();
  diag_call_error(DiagCall::open, "/mnt/nonv/x", ENOENT);
  diag_call_error(DiagCall::socket, "socket()", EMFILE);
  diag_call_error(DiagCall::pthread_mutex_trylock, "lock", EBUSY);
  diag_call_error(DiagCall::listen, "listen()", 9999);
  diag_call_error(DiagCall::close, "close", EADDRINUSE);  // listen's errno, not close's
  diag_call_error(DiagCall::pthread_mutex_destroy, "exec mutex", EBUSY);
  EXPECT_EQ(GetCapturedStdout(),
            "/mnt/nonv/x\tdiagnosing error open = 2\n"
            "O_CREAT is not set and the named file does not exist, or a directory component "
            "in pathname does not exist.\n"
            "socket()\tdiagnosing error socket = 24\n"
            "The per-process limit on the number of open file descriptors has been reached.\n"
            "lock\tdiagnosing error pthread_mutex_trylock = 16\n"
            "The mutex could not be acquired because it was already locked.\n"
            "listen()\tdiagnosing error listen = 9999\n"
            "Unknown Error!\n"
            "close\tdiagnosing error close = 98\n"
            "Unknown Error!\n"
            "exec mutex\tdiagnosing error pthread_mutex_destroy = 16\n"
            "The mutex is currently locked or referenced by another thread.\n");
}

TEST(DiagCallError, EveryExplanationIsOneLine) {
  for (int call = 0; call <= static_cast<int>(DiagCall::socket); ++call) {
    for (int error = 1; error < 140; ++error) {
      const std::string line = diag_call_explanation(static_cast<DiagCall>(call), error);
      ASSERT_FALSE(line.empty());
      EXPECT_EQ(line.find('\n'), line.size() - 1) << call << " " << error;
    }
  }
}

class DebugMaskTest : public testing::Test {
 protected:
  void TearDown() override { diag_set_debug_mask(0); }
};

TEST_F(DebugMaskTest, PrintsOnlyWhenBitsMeetTheMaskOrBitZeroIsSet) {
  diag_set_debug_mask(0);
  CaptureStdout();
  diag_debug_printf(0xFFFFFFFF, "never %d\n", 1);
  EXPECT_EQ(GetCapturedStdout(), "");

  diag_set_debug_mask(0x6);
  CaptureStdout();
  diag_debug_printf(0x4, "shared %d\n", 4);
  diag_debug_printf(0x8, "not shared\n");
  diag_debug_printf(0x1, "bit zero asked, not set\n");
  diag_debug_trace(0x2, "f.c", "fn", "traced");
  diag_debug_trace(0x10, "f.c", "fn", "not traced");
  EXPECT_EQ(GetCapturedStdout(),
            "shared 4\n"
            "TRACE : File Name = 'f.c', Function = 'fn()',  Message = 'traced'\n");

  diag_set_debug_mask(0x1);
  CaptureStdout();
  diag_debug_printf(0x80, "everything %s\n", "passes");
  diag_debug_printf(0, "even no bits\n");
  EXPECT_EQ(GetCapturedStdout(), "everything passes\neven no bits\n");
  EXPECT_EQ(diag_debug_mask(), 1u);
}

TEST(DiagTimeStamp, HasAsctimeShape) {
  const std::string stamp = diag_time_stamp();
  EXPECT_TRUE(std::regex_match(
      stamp, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 0-9][0-9] "
                        "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n")))
      << stamp;
}

class LogFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/diag_log_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ + "/var/log");
    setenv("CHASSIS_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("CHASSIS_ROOT");
    std::filesystem::remove_all(root_);
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string root_;
};

TEST_F(LogFileTest, AppendsUnderTheRootWithOwnerReadWrite) {
  EXPECT_EQ(diag_log_write("/var/log/chassis.log", "first line\n"), 0);
  EXPECT_EQ(diag_log_write("/var/log/chassis.log", "second line\n"), 0);
  const std::string file = root_ + "/var/log/chassis.log";
  EXPECT_EQ(Read(file), "first line\nsecond line\n");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IWUSR);
  EXPECT_TRUE(info.st_mode & S_IRUSR);
}

TEST_F(LogFileTest, FailedOpenIsExplained) {
  CaptureStdout();
  EXPECT_EQ(diag_log_write("/missing/dir/chassis.log", "lost\n"), -1);
  EXPECT_EQ(GetCapturedStdout(),
            root_ + "/missing/dir/chassis.log\tdiagnosing error open = 2\n" +
                "O_CREAT is not set and the named file does not exist, or a directory "
                "component in pathname does not exist.\n");
}

}  // namespace
