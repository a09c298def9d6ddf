// Tests of the simulated chassis bus driver through the platform's device access:
// empty and failing slots, malformed requests, and the event wait with its
// exceptional-condition readiness. Routing by slot is checked through the firmware's
// local-bus functions (hardware tests).
#include "sim/xbus_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <future>
#include <map>
#include <memory>
#include <mutex>

#include "devices/xbus_requests.h"
#include "platform/device.h"

namespace sim {
namespace {

constexpr const char* kPath = "/dev/xbus0";

// A card that is nothing but byte registers.
class ByteRam final : public LocalBusTarget {
 public:
  int ReadByte(uint32_t address, uint8_t* byte) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *byte = bytes_[address];
    return 0;
  }
  int WriteByte(uint32_t address, uint8_t byte) override {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_[address] = byte;
    return 0;
  }
  uint8_t At(uint32_t address) {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_[address];
  }

 private:
  std::mutex mutex_;
  std::map<uint32_t, uint8_t> bytes_;
};

class XbusModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterDeviceModel(kPath, model_);
    fd_ = platform::DeviceOpen(kPath, O_WRONLY);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    platform::DeviceClose(fd_);
    platform::UnregisterDeviceModel(kPath);
  }
  // The ioctl result, with errno folded in as a negative value.
  int Byte(unsigned long request, uint32_t command, int slot, uint32_t address, uint32_t* data) {
    XbusByteRequest block{};
    block.words[0] = command;
    block.words[1] = XbusBusAddress(slot, address);
    block.words[2] = *data;
    const int result = platform::DeviceIoctl(fd_, request, &block, sizeof block);
    *data = block.words[2];
    return result == 0 ? 0 : -errno;
  }
  int Write(int slot, uint32_t address, uint32_t data) {
    return Byte(kXbusWriteByte, kXbusCommandWrite, slot, address, &data);
  }
  int Read(int slot, uint32_t address, uint32_t* data) {
    return Byte(kXbusReadByte, kXbusCommandRead, slot, address, data);
  }

  std::shared_ptr<XbusModel> model_ = std::make_shared<XbusModel>();
  int fd_ = -1;
};

TEST_F(XbusModelTest, EmptySlotReadsAllOnesAndFailingSlotRefuses) {
  uint32_t data = 0;
  EXPECT_EQ(Read(3, 0x201, &data), 0);
  EXPECT_EQ(data, 0xFFu);
  EXPECT_EQ(Write(3, 0x201, 1), 0);

  auto card = std::make_shared<ByteRam>();
  model_->Plug(3, card);
  model_->SetSlotFailing(3, true);
  EXPECT_EQ(Write(3, 0x20, 7), -EIO);
  EXPECT_EQ(Read(3, 0x20, &data), -EIO);
  EXPECT_EQ(card->At(0x20), 0);
  model_->SetSlotFailing(3, false);
  EXPECT_EQ(Write(3, 0x20, 7), 0);
  EXPECT_EQ(card->At(0x20), 7);
}

TEST_F(XbusModelTest, MalformedRequestsAreRefused) {
  uint32_t data = 0;
  // A read request carrying the write command word.
  EXPECT_EQ(Byte(kXbusReadByte, kXbusCommandWrite, 1, 0, &data), -EINVAL);
  EXPECT_EQ(XbusSlotOf(XbusBusAddress(14, 0)), 14);
  EXPECT_EQ(Read(14, 0, &data), -ENXIO);
  uint32_t short_block[3] = {kXbusCommandRead, 0, 0};
  EXPECT_EQ(platform::DeviceIoctl(fd_, kXbusReadByte, short_block, sizeof short_block), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(platform::DeviceIoctl(fd_, 0xC004A599, short_block, sizeof short_block), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(XbusModelTest, EventWaitBlocksUntilAnEventIsPosted) {
  pollfd watch{fd_, POLLPRI, 0};
  EXPECT_EQ(platform::DevicePoll(&watch, 1, 0), 0);

  auto waiter = std::async(std::launch::async, [this] {
    XbusEventRequest request{};
    const int result = platform::DeviceIoctl(fd_, kXbusWaitEvent, &request, sizeof request);
    return result == 0 ? request.event[kXbusEventCodeWord] : 0xFFFFFFFFu;
  });
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  model_->PostEvent(kXbusEventTrigger);
  EXPECT_EQ(waiter.get(), kXbusEventTrigger);

  model_->PostEvent(kXbusEventCardInterrupt);
  EXPECT_EQ(platform::DevicePoll(&watch, 1, 0), 1);
  EXPECT_TRUE(watch.revents & POLLPRI);
  XbusEventRequest request{};
  ASSERT_EQ(platform::DeviceIoctl(fd_, kXbusWaitEvent, &request, sizeof request), 0);
  EXPECT_EQ(request.event[kXbusEventCodeWord], kXbusEventCardInterrupt);
  EXPECT_EQ(model_->QueuedEvents(), 0u);
}

TEST_F(XbusModelTest, EventQueueIsBounded) {
  for (size_t i = 0; i < XbusModel::kEventQueueDepth + 5; ++i) model_->PostEvent(0x20);
  EXPECT_EQ(model_->QueuedEvents(), XbusModel::kEventQueueDepth);
}

}  // namespace
}  // namespace sim
