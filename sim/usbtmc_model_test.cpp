// Tests of the simulated USBTMC device: program messages from the host node to the
// device node, responses back, the write-in-process request and the gadget switch.
#include "sim/usbtmc_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "devices/usbtmc_requests.h"
#include "platform/device.h"

namespace sim {
namespace {

class UsbtmcModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterDeviceModel(kUsbtmcDevicePath, model_->instrument_side());
    platform::RegisterDeviceModel(kUsbtmcHostPath, model_->host_side());
    device_ = platform::DeviceOpen(kUsbtmcDevicePath, O_RDWR);
    host_ = platform::DeviceOpen(kUsbtmcHostPath, O_RDWR);
    ASSERT_GE(device_, 0);
    ASSERT_GE(host_, 0);
  }
  void TearDown() override {
    platform::DeviceClose(device_);
    platform::DeviceClose(host_);
    platform::UnregisterDeviceModel(kUsbtmcDevicePath);
    platform::UnregisterDeviceModel(kUsbtmcHostPath);
  }
  int WriteInProcess() {
    uint8_t byte = 0xEE;
    EXPECT_EQ(0, platform::DeviceIoctl(device_, kUsbtmcWriteInProcess, &byte, 1));
    return byte;
  }

  std::shared_ptr<UsbtmcModel> model_ = std::make_shared<UsbtmcModel>();
  int device_ = -1;
  int host_ = -1;
};

TEST_F(UsbtmcModelTest, HostMessagesReachTheDeviceAndResponsesTheHost) {
  ASSERT_EQ(0, WriteMessage(host_, "*IDN?\n"));
  std::string message;
  ASSERT_EQ(0, ReadMessage(device_, &message, 1000));
  EXPECT_EQ("*IDN?\n", message);

  EXPECT_EQ(0, WriteInProcess());
  ASSERT_EQ(0, WriteMessage(device_, "ACME,SW12\n"));
  EXPECT_EQ(1, WriteInProcess()) << "the response waits for the host";
  std::string response;
  ASSERT_EQ(0, ReadMessage(host_, &response, 1000));
  EXPECT_EQ("ACME,SW12\n", response);
  EXPECT_EQ(0, WriteInProcess());
  EXPECT_EQ(-1, ReadMessage(host_, &response, 20));
  EXPECT_EQ(ETIMEDOUT, errno);
}

TEST_F(UsbtmcModelTest, DisabledGadgetIsGoneForTheHost) {
  ASSERT_EQ(0, platform::DeviceIoctlValue(device_, kUsbtmcDisable, 0));
  EXPECT_FALSE(model_->enabled());
  EXPECT_EQ(-1, WriteMessage(host_, "*IDN?\n"));
  EXPECT_EQ(ENODEV, errno);
  EXPECT_EQ(0u, model_->PendingForInstrument());
  ASSERT_EQ(0, platform::DeviceIoctlValue(device_, kUsbtmcEnable, 0));
  EXPECT_TRUE(model_->enabled());
  EXPECT_EQ(0, WriteMessage(host_, "*IDN?\n"));
  EXPECT_EQ(6u, model_->PendingForInstrument());
}

TEST_F(UsbtmcModelTest, RequestsBelongToTheDeviceNode) {
  EXPECT_EQ(-1, platform::DeviceIoctlValue(host_, kUsbtmcDisable, 0));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_TRUE(model_->enabled());
  EXPECT_EQ(-1, platform::DeviceIoctlValue(device_, 0x6B7F, 0));
  EXPECT_EQ(EINVAL, errno);
}

TEST_F(UsbtmcModelTest, FullDirectionHoldsTheWriterUntilTheReaderTakesSome) {
  const std::string block(MessagePort::kRoom, 'b');
  ASSERT_EQ(0, WriteMessage(device_, block)) << "an empty direction takes a write whole";
  platform::DeviceClose(device_);
  device_ = platform::DeviceOpen(kUsbtmcDevicePath, O_RDWR | O_NONBLOCK);
  EXPECT_EQ(-1, platform::DeviceWrite(device_, "x", 1));
  EXPECT_EQ(EAGAIN, errno);
  std::string response;
  ASSERT_EQ(0, ReadMessage(host_, &response, 1000));
  EXPECT_EQ(block.size(), response.size() + model_->PendingForHost());
  EXPECT_EQ(1, platform::DeviceWrite(device_, "x", 1));
}

}  // namespace
}  // namespace sim
