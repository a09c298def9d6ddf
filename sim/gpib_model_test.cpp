// Tests of the simulated GPIB device through the platform's device access, its two
// nodes registered in this process: messages both ways, the driver's requests, serial
// poll and service request, MAV, device clear and the interface switch.
#include "sim/gpib_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

#include <cstring>
#include <future>
#include <string>

#include "devices/gpib_requests.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/device_server.h"

namespace sim {
namespace {

using platform::DeviceClose;
using platform::DeviceIoctl;
using platform::DeviceIoctlValue;
using platform::DeviceOpen;
using platform::DeviceRead;
using platform::DeviceWrite;

class GpibModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterDeviceModel(kGpibDevicePath, model_->instrument_side());
    platform::RegisterDeviceModel(kGpibBusPath, model_->host_side());
    instrument_ = DeviceOpen(kGpibDevicePath, O_RDWR);
    bus_ = DeviceOpen(kGpibBusPath, O_RDWR);
    ASSERT_GE(instrument_, 0);
    ASSERT_GE(bus_, 0);
  }
  void TearDown() override {
    DeviceClose(instrument_);
    DeviceClose(bus_);
    platform::UnregisterDeviceModel(kGpibDevicePath);
    platform::UnregisterDeviceModel(kGpibBusPath);
  }

  std::string InstrumentRead(size_t size) {
    std::string text(size, '\0');
    const ssize_t got = DeviceRead(instrument_, text.data(), size);
    text.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return text;
  }
  // The firmware's write of a response, which ends once the bus has read it: started
  // in the background, returned when the message is on the bus.
  std::future<ssize_t> InstrumentWrite(const std::string& text) {
    auto write = std::async(std::launch::async, [this, text] {
      return DeviceWrite(instrument_, text.data(), text.size());
    });
    for (int wait = 0; wait < 2000 && model_->PendingForHost() == 0; ++wait) usleep(1000);
    return write;
  }
  uint8_t ByteRequest(unsigned long request) {
    uint8_t byte = 0xEE;
    EXPECT_EQ(0, DeviceIoctl(instrument_, request, &byte, 1));
    return byte;
  }

  const char* kGpibDevicePath = "/dev/gpib0";
  std::shared_ptr<GpibModel> model_ = std::make_shared<GpibModel>();
  int instrument_ = -1;
  int bus_ = -1;
};

TEST_F(GpibModelTest, BusMessagesReachTheInstrumentInOrderAndByMessage) {
  ASSERT_EQ(0, WriteMessage(bus_, "*RST\n"));
  ASSERT_EQ(0, WriteMessage(bus_, std::string(300, 'a') + "\n"));
  // A read ends where a message ends, and a long message takes several reads.
  EXPECT_EQ("*RST\n", InstrumentRead(254));
  EXPECT_EQ(std::string(254, 'a'), InstrumentRead(254));
  EXPECT_EQ(std::string(46, 'a') + "\n", InstrumentRead(254));
  EXPECT_EQ(0u, model_->PendingForInstrument());
}

TEST_F(GpibModelTest, InstrumentReadWaitsForTheBus) {
  auto read = std::async(std::launch::async, [this] { return InstrumentRead(254); });
  EXPECT_EQ(std::future_status::timeout, read.wait_for(std::chrono::milliseconds(50)));
  ASSERT_EQ(0, WriteMessage(bus_, "*IDN?\n"));
  EXPECT_EQ("*IDN?\n", read.get());
}

TEST_F(GpibModelTest, ResponsesReachTheBusAndMavFollowsThem) {
  EXPECT_EQ(0, ByteRequest(kGpibGetMav));
  std::string response;
  EXPECT_EQ(-1, ReadMessage(bus_, &response, 20));
  EXPECT_EQ(ETIMEDOUT, errno);

  auto write = InstrumentWrite("ACME,1\n");
  EXPECT_EQ(1, ByteRequest(kGpibGetMav));
  EXPECT_EQ(std::future_status::timeout, write.wait_for(std::chrono::milliseconds(20)))
      << "the talker is held until the bus has read the message";
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ("ACME,1\n", response);
  EXPECT_EQ(7, write.get());
  EXPECT_EQ(0, ByteRequest(kGpibGetMav));
  // A device clear from the bus drops an unread response and ends its write too.
  write = InstrumentWrite("2\n");
  ASSERT_EQ(0, GpibDeviceClear(bus_));
  EXPECT_EQ(2, write.get());
}

TEST_F(GpibModelTest, WritesRecordTheStatusByteOfTheirTime) {
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetStatusByte, 0x10));
  auto write = InstrumentWrite(std::string(600, 'x'));
  std::string response;
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ(600, write.get());
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetStatusByte, 0x00));
  const GpibModelState state = model_->State();
  EXPECT_EQ(1, state.writes);
  EXPECT_EQ(600u, state.last_write_size);
  EXPECT_EQ(0x10, state.status_at_last_write);
  EXPECT_EQ(0x00, state.status_byte);
}

// The poll answers the byte the firmware gave, but for RQS; pending output adds nothing.
TEST_F(GpibModelTest, SerialPollShowsTheGivenByteAndRqsOnce) {
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetStatusByte, 0x60));
  uint8_t status = 0;
  ASSERT_EQ(0, GpibSerialPoll(bus_, &status));
  EXPECT_EQ(0x20, status) << "bit 6 is RQS: set only while a service request is asserted";

  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibGenerateSrq, 0));
  EXPECT_EQ(0, GpibWaitSrq(bus_, 1000));
  auto write = InstrumentWrite("1\n");
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetStatusByte, 0x70));
  ASSERT_EQ(0, GpibSerialPoll(bus_, &status));
  EXPECT_EQ(0x70, status);
  EXPECT_FALSE(model_->State().srq_asserted) << "the poll releases the request";
  EXPECT_EQ(-1, GpibWaitSrq(bus_, 20));
  EXPECT_EQ(ETIMEDOUT, errno);
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetStatusByte, 0x20));
  ASSERT_EQ(0, GpibSerialPoll(bus_, &status));
  EXPECT_EQ(0x20, status) << "output still unread, and no MAV the firmware did not give";
  EXPECT_EQ(1, model_->State().srq_count);
  std::string response;
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ(2, write.get());
}

TEST_F(GpibModelTest, WaitSrqRequestBlocksUntilTheRequest) {
  auto wait = std::async(std::launch::async,
                         [this] { return DeviceIoctlValue(bus_, kGpibBusWaitSrq, 0); });
  EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(50)));
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibGenerateSrq, 0));
  EXPECT_EQ(0, wait.get());
}

TEST_F(GpibModelTest, DeviceClearDropsUnreadMessagesBothWays) {
  ASSERT_EQ(0, WriteMessage(bus_, "*IDN?\n"));
  auto stale = InstrumentWrite("stale\n");
  ASSERT_EQ(0, GpibDeviceClear(bus_));
  EXPECT_EQ(6, stale.get()) << "the clear ends the held write";
  EXPECT_EQ(0u, model_->PendingForInstrument());
  EXPECT_EQ(0, ByteRequest(kGpibGetMav));
  EXPECT_EQ(1, model_->State().device_clears);
  // The firmware's own clear request is only counted.
  auto kept = InstrumentWrite("kept\n");
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibClearDevice, 0));
  EXPECT_EQ(1, model_->State().clear_requests);
  EXPECT_EQ(1, ByteRequest(kGpibGetMav));
  std::string response;
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ(5, kept.get());
}

// A firmware killed in the middle of a response: its message still reaches the bus, and
// the next firmware's first response is sent, not taken for the dead one's retry.
TEST_F(GpibModelTest, AWriterThatEndsLeavesItsResponseAndTheNextWriterIsHeard) {
  const int dying = DeviceOpen(kGpibDevicePath, O_RDWR | O_NONBLOCK);
  ASSERT_GE(dying, 0);
  EXPECT_EQ(-1, DeviceWrite(dying, "old\n", 4));
  EXPECT_EQ(EAGAIN, errno) << "held until the bus reads it";
  ASSERT_EQ(0, DeviceClose(dying));
  auto next = InstrumentWrite("new\n");
  std::string response;
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ("old\n", response);
  ASSERT_EQ(0, ReadMessage(bus_, &response, 1000));
  EXPECT_EQ("new\n", response);
  EXPECT_EQ(4, next.get());
}

TEST_F(GpibModelTest, AddressAndEnableRequests) {
  int32_t address = -1;
  ASSERT_EQ(0, DeviceIoctl(instrument_, kGpibGetPrimaryAddress, &address, sizeof(address)));
  EXPECT_EQ(0, address);
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibSetPrimaryAddress, 31));
  EXPECT_EQ(-1, DeviceIoctlValue(instrument_, kGpibSetPrimaryAddress, 32));
  EXPECT_EQ(EINVAL, errno);
  ASSERT_EQ(0, DeviceIoctl(instrument_, kGpibGetPrimaryAddress, &address, sizeof(address)));
  EXPECT_EQ(31, address);

  EXPECT_EQ(1, ByteRequest(kGpibIsEnabled));
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibDisable, 0));
  EXPECT_EQ(0, ByteRequest(kGpibIsEnabled));
  EXPECT_EQ(-1, WriteMessage(bus_, "*IDN?\n"));
  EXPECT_EQ(EIO, errno) << "no listener while the interface is off";
  uint8_t status = 0;
  EXPECT_EQ(-1, GpibSerialPoll(bus_, &status));
  ASSERT_EQ(0, DeviceIoctlValue(instrument_, kGpibEnable, 0));
  EXPECT_EQ(0, WriteMessage(bus_, "*IDN?\n"));
}

TEST_F(GpibModelTest, UnknownRequestsAreRefused) {
  EXPECT_EQ(-1, DeviceIoctlValue(instrument_, 0x61ff, 0));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, DeviceIoctlValue(bus_, kGpibGenerateSrq, 0));
  EXPECT_EQ(EINVAL, errno);
}

// The same device served over the device server's sockets, as the virtual chassis
// serves it to the firmware programs.
TEST(GpibModelServedTest, BusAndInstrumentTalkThroughTheSockets) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  auto model = std::make_shared<GpibModel>();
  DeviceServer server;
  ASSERT_EQ(0, server.Add("/dev/gpib0", model->instrument_side()));
  ASSERT_EQ(0, server.Add(kGpibBusPath, model->host_side()));
  ASSERT_EQ(0, server.Start());
  const int instrument = DeviceOpen("/dev/gpib0", O_RDWR);
  const int bus = DeviceOpen(kGpibBusPath, O_RDWR);
  ASSERT_GE(instrument, 0);
  ASSERT_GE(bus, 0);

  ASSERT_EQ(0, WriteMessage(bus, "MEAS?\n"));
  char text[64] = {};
  ASSERT_EQ(6, DeviceRead(instrument, text, sizeof(text)));
  EXPECT_STREQ("MEAS?\n", text);
  ASSERT_EQ(0, DeviceIoctlValue(instrument, kGpibSetStatusByte, 0x44));
  ASSERT_EQ(0, DeviceIoctlValue(instrument, kGpibGenerateSrq, 0));
  ASSERT_EQ(0, GpibWaitSrq(bus, 1000));
  uint8_t status = 0;
  ASSERT_EQ(0, GpibSerialPoll(bus, &status));
  EXPECT_EQ(0x44, status);
  auto write = std::async(std::launch::async, [instrument] { return WriteMessage(instrument, "+1.0\n"); });
  std::string response;
  ASSERT_EQ(0, ReadMessage(bus, &response, 1000));
  EXPECT_EQ("+1.0\n", response);
  EXPECT_EQ(0, write.get()) << "the held write ends once the bus has read it";
  DeviceClose(instrument);
  DeviceClose(bus);
}

}  // namespace
}  // namespace sim
