// Tests of the buslink program: started in a private root with the simulated GPIB
// device served there, the test playing the controller on the GPIB FIFOs and the bus
// controller on the bus node.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/gpibdev_utils.h"
#include "core/messaging_test_support.h"
#include "core/server_program_test_support.h"
#include "platform/device.h"
#include "sim/device_server.h"
#include "sim/gpib_model.h"

namespace gpib {
namespace {

TEST(BuslinkTest, ServesTheBusFromStartToStop) {
  TempRoot root;
  const std::string stored = platform::ResolvePath(kGpibAddressSetting);
  std::filesystem::create_directories(std::filesystem::path(stored).parent_path());
  std::ofstream(stored) << "9";
  auto model = std::make_shared<sim::GpibModel>();
  sim::DeviceServer devices;
  ASSERT_EQ(0, devices.Add(kGpibDevicePath, model->instrument_side()));
  ASSERT_EQ(0, devices.Add(sim::kGpibBusPath, model->host_side()));
  ASSERT_EQ(0, devices.Start());
  ServerProgramPeer controller;
  ASSERT_TRUE(controller.Start("buslink", kChannelTypeGpib, "/tmp/event_gpib"))
      << "buslink did not open its FIFOs";
  EXPECT_EQ(9, model->State().address) << "the stored address is set at start";
  const int bus = platform::DeviceOpen(sim::kGpibBusPath, O_RDWR);
  ASSERT_GE(bus, 0);

  ASSERT_TRUE(controller.SendEvent(BareFrame(encode_E2_msg)));  // read and dropped
  ASSERT_EQ(0, sim::WriteMessage(bus, "*SRE 16;*IDN?\n"));
  const std::string m1 = controller.NextFrame();
  EXPECT_EQ(PipeMsgKind::M1, FrameKind(m1));
  EXPECT_EQ("*SRE 16;*IDN?\n", FrameText(m1));
  ASSERT_TRUE(controller.Send(BinaryFrame(encode_S5_msg, {0x10})));
  ASSERT_TRUE(controller.Send(StringFrame(encode_S7_msg, "ACME,SW12\n")));
  ASSERT_TRUE(controller.Send(BinaryFrame(encode_S3_msg, {0x50})));
  ASSERT_TRUE(controller.Send(BareFrame(encode_S1_msg)));

  // The request for service comes with the response waiting on the bus.
  ASSERT_EQ(0, sim::GpibWaitSrq(bus, 5000));
  std::string response;
  ASSERT_EQ(0, sim::ReadMessage(bus, &response, 5000));
  EXPECT_EQ("ACME,SW12\n", response);
  EXPECT_EQ(1, model->State().srq_count);
  // RQS stands until the first serial poll; MAV leaves once the writer has handed the
  // whole response over, which may be a moment after the bus has read it.
  uint8_t status = 0;
  ASSERT_EQ(0, sim::GpibSerialPoll(bus, &status));
  EXPECT_EQ(0x40, status & 0x40) << "RQS until polled";
  for (int attempt = 0; attempt < 500; ++attempt) {
    ASSERT_EQ(0, sim::GpibSerialPoll(bus, &status));
    if (status == 0x00) break;
    EXPECT_EQ(0x10, status) << "only MAV may linger after the first poll";
    usleep(1000);
  }
  EXPECT_EQ(0x00, status) << "MAV gone with the response";

  platform::DeviceClose(bus);
  EXPECT_EQ(0, controller.Stop());
}

}  // namespace
}  // namespace gpib

namespace gpib {
namespace {

TEST(BuslinkStopTest, StopEndsItWhileItWaitsForTheController) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer runs a signal's handler only once a blocked open returns";
#endif
  TempRoot root;  // no GPIB device: the start goes on to the command channel anyway
  ServerProgramPeer controller;
  ASSERT_TRUE(controller.Spawn("buslink", kChannelTypeGpib, "/tmp/event_gpib"));
  const int first = ServerProgramPeer::OpenWriter("/tmp/scpi_write_2_gpib");
  ASSERT_GE(first, 0);
  EXPECT_EQ(255, controller.Stop()) << "buslink did not give up its start on SIGTERM";
  close(first);
}

}  // namespace
}  // namespace gpib
