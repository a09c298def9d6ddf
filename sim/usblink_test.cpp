// Tests of the usblink program: it is started in a private root with the simulated
// USBTMC device served there, and the test plays the controller on the USB command
// FIFOs and the event FIFO, and the host on the host node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "core/messaging_test_support.h"
#include "platform/device.h"
#include "sim/device_server.h"
#include "sim/usbtmc_model.h"

extern char** environ;

namespace sim {
namespace {

using namespace std::chrono_literals;

// usblink, built next to the test programs' folder (bin/ beside tests/).
std::string UsblinkPath() {
  char self[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return "usblink";
  std::string path(self, static_cast<size_t>(length));
  return path.substr(0, path.rfind('/')) + "/../bin/usblink";
}

// Opens a FIFO for writing once its reader is there; -1 after five seconds.
int OpenWriter(const char* fixed_path) {
  const std::string path = platform::ResolvePath(fixed_path);
  for (int tries = 0; tries < 5000; ++tries) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    std::this_thread::sleep_for(1ms);
  }
  return -1;
}

class UsblinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, devices_.Add(kUsbtmcDevicePath, model_->instrument_side()));
    ASSERT_EQ(0, devices_.Add(kUsbtmcHostPath, model_->host_side()));
    ASSERT_EQ(0, devices_.Start());
    for (const char* fifo : {"/tmp/scpi_write_2_usb", "/tmp/usb_write_2_scpi", "/tmp/event_usb"}) {
      ASSERT_EQ(0, EnsureFifo(platform::ResolvePath(fifo)));
    }
    const std::string program = UsblinkPath();
    char* argv[] = {nullptr};  // started without arguments, as the controller does
    ASSERT_EQ(0, posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ));
    // The controller's order: its write end first, then its read end, then events.
    to_server_ = OpenWriter("/tmp/scpi_write_2_usb");
    ASSERT_GE(to_server_, 0) << "usblink did not open its command FIFO";
    from_server_ = open(platform::ResolvePath("/tmp/usb_write_2_scpi").c_str(), O_RDONLY);
    ASSERT_GE(from_server_, 0);
    events_ = OpenWriter("/tmp/event_usb");
    ASSERT_GE(events_, 0) << "usblink did not open its event FIFO";
    host_ = platform::DeviceOpen(kUsbtmcHostPath, O_RDWR);
    ASSERT_GE(host_, 0);
  }
  void TearDown() override {
    if (host_ >= 0) platform::DeviceClose(host_);
    if (pid_ > 0 && !stopped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {to_server_, from_server_, events_}) {
      if (fd >= 0) close(fd);
    }
    devices_.Stop();
  }

  std::string NextFrame() {
    char frame[FRAME_SIZE];
    return reader_.Next(from_server_, frame) == FrameReadResult::kFrame ? std::string(frame)
                                                                         : std::string();
  }
  void Send(const std::string& frame) {
    ASSERT_EQ(static_cast<ssize_t>(frame.size()), write(to_server_, frame.data(), frame.size()));
  }
  // SIGTERM, then the exit status within five seconds (-1 if it did not end).
  int Stop() {
    kill(pid_, SIGTERM);
    for (int tries = 0; tries < 5000; ++tries) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        stopped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(1ms);
    }
    return -1;
  }

  TempRoot root_;
  std::shared_ptr<UsbtmcModel> model_ = std::make_shared<UsbtmcModel>();
  DeviceServer devices_;
  pid_t pid_ = -1;
  bool stopped_ = false;
  int to_server_ = -1;
  int from_server_ = -1;
  int events_ = -1;
  int host_ = -1;
  FrameReader reader_{PIPE_ETX};
};

TEST_F(UsblinkTest, HostProgramMessageIsExecutedAndAnswered) {
  ASSERT_EQ(0, WriteMessage(host_, "*IDN?\n"));
  const std::string m1 = NextFrame();
  EXPECT_EQ(PipeMsgKind::M1, FrameKind(m1));
  EXPECT_EQ("*IDN?\n", FrameText(m1));

  // The host's error queue and status bytes live in usblink.
  Send(StringFrame(encode_S6_msg, "-113,\"Undefined header\""));
  Send(BinaryFrame(encode_S2_msg, {0x24}));
  Send(BareFrame(encode_S8_msg));
  EXPECT_EQ("-113,\"Undefined header\"", FrameText(NextFrame()));
  Send(BareFrame(encode_S8_msg));
  EXPECT_EQ("0,\"No error\"", FrameText(NextFrame()));
  Send(BareFrame(encode_S9_msg));
  EXPECT_EQ((std::vector<uint8_t>{0x24, 0, 0, 0}), FrameBytes(NextFrame()));
  Send(StringFrame(encode_S7_msg, "ACME,SW12,0,1.0\n"));
  Send(BareFrame(encode_S1_msg));

  std::string response;
  ASSERT_EQ(0, ReadMessage(host_, &response, 5000));
  EXPECT_EQ("ACME,SW12,0,1.0\n", response);
  EXPECT_EQ(0, Stop());
}

TEST_F(UsblinkTest, EventsAreDroppedAndServingGoesOn) {
  const std::string event = BareFrame(encode_E1_msg);
  ASSERT_EQ(static_cast<ssize_t>(event.size() + 1), write(events_, event.c_str(), event.size() + 1));
  ASSERT_EQ(0, WriteMessage(host_, "*RST\n*OPC?\n"));
  EXPECT_EQ("*RST", FrameText(NextFrame()));
  Send(BareFrame(encode_S1_msg));
  EXPECT_EQ("*OPC?\n", FrameText(NextFrame()));
  Send(StringFrame(encode_S7_msg, "1\n"));
  Send(BareFrame(encode_S1_msg));
  std::string response;
  ASSERT_EQ(0, ReadMessage(host_, &response, 5000));
  EXPECT_EQ("1\n", response);
  EXPECT_EQ(0, Stop());
}

}  // namespace
}  // namespace sim
