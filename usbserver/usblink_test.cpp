// Tests of the usblink program: it is started in a private root with the simulated
// USBTMC device served there, and the test plays the controller on the USB command
// FIFOs and the event FIFO, and the host on the host node.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "core/messaging_test_support.h"
#include "core/server_program_test_support.h"
#include "platform/device.h"
#include "sim/device_server.h"
#include "sim/usbtmc_model.h"

namespace sim {
namespace {

class UsblinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, devices_.Add(kUsbtmcDevicePath, model_->instrument_side()));
    ASSERT_EQ(0, devices_.Add(kUsbtmcHostPath, model_->host_side()));
    ASSERT_EQ(0, devices_.Start());
    ASSERT_TRUE(controller_.Start("usblink", kChannelTypeUsb, "/tmp/event_usb"))
        << "usblink did not open its FIFOs";
    host_ = platform::DeviceOpen(kUsbtmcHostPath, O_RDWR);
    ASSERT_GE(host_, 0);
  }
  void TearDown() override {
    if (host_ >= 0) platform::DeviceClose(host_);
  }

  std::string NextFrame() { return controller_.NextFrame(); }
  void Send(const std::string& frame) { ASSERT_TRUE(controller_.Send(frame)); }
  int Stop() { return controller_.Stop(); }

  TempRoot root_;
  std::shared_ptr<UsbtmcModel> model_ = std::make_shared<UsbtmcModel>();
  DeviceServer devices_;
  ServerProgramPeer controller_;
  int host_ = -1;
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
  ASSERT_TRUE(controller_.SendEvent(BareFrame(encode_E1_msg)));
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

namespace sim {
namespace {

TEST(UsblinkStopTest, StopEndsItWhileItWaitsForTheController) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer runs a signal's handler only once a blocked open returns";
#endif
  TempRoot root;
  ServerProgramPeer controller;
  ASSERT_TRUE(controller.Spawn("usblink", kChannelTypeUsb, "/tmp/event_usb"));
  // Meeting its first open lets it on to the second, where it waits for a reader.
  const int first = ServerProgramPeer::OpenWriter("/tmp/scpi_write_2_usb");
  ASSERT_GE(first, 0);
  EXPECT_EQ(255, controller.Stop()) << "usblink did not give up its start on SIGTERM";
  close(first);
}

}  // namespace
}  // namespace sim
