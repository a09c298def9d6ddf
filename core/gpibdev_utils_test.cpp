// Tests of the GPIB device operations against a recording driver registered in this
// process: the request codes and argument forms, the address range, the stored
// settings and what is left alone when a request fails.
#include "core/gpibdev_utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "devices/gpib_requests.h"
#include "platform/device.h"
#include "platform/device_model.h"
#include "platform/paths.h"
#include "platform/test_support.h"

namespace {

struct Call {
  unsigned long request;
  unsigned long value;  // the value of a by-value request, else the record's size
  bool by_value;
};

// Records every request; answers record requests with `byte_answer` (one byte) or
// `address` (32 bits); refuses everything when `refuse` is set.
class RecordingDriver final : public platform::DeviceModel {
 public:
  int IoctlValue(uint64_t, unsigned long request, unsigned long value) override {
    std::lock_guard hold(mutex);
    calls.push_back({request, value, true});
    return refuse ? -EIO : 0;
  }
  int Ioctl(uint64_t, unsigned long request, void* argument, size_t size) override {
    std::lock_guard hold(mutex);
    calls.push_back({request, size, false});
    if (refuse) return -EIO;
    if (request == kGpibGetPrimaryAddress) {
      if (size != sizeof(int32_t)) return -EINVAL;
      std::memcpy(argument, &address, sizeof(address));
    } else {
      if (size != 1) return -EINVAL;
      *static_cast<uint8_t*>(argument) = byte_answer;
    }
    return 0;
  }

  std::mutex mutex;
  std::vector<Call> calls;
  bool refuse = false;
  uint8_t byte_answer = 0;
  int32_t address = 0;
};

std::vector<std::string> g_published;
void RecordResource(const char* resource) { g_published.emplace_back(resource); }

class GpibDevUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterDeviceModel(kGpibDevicePath, driver_);
    g_published.clear();
    SetGpibResourcePublisher(&RecordResource);
  }
  void TearDown() override {
    GPIBDevClose();
    SetGpibResourcePublisher(nullptr);
    platform::UnregisterDeviceModel(kGpibDevicePath);
  }

  std::string Stored(const char* fixed_path) {
    std::ifstream file(platform::ResolvePath(fixed_path));
    if (!file) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  void Store(const char* fixed_path, const std::string& text) {
    const std::string path = platform::ResolvePath(fixed_path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
  }
  std::vector<Call> Calls() {
    std::lock_guard hold(driver_->mutex);
    return driver_->calls;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
  std::shared_ptr<RecordingDriver> driver_ = std::make_shared<RecordingDriver>();
};

TEST_F(GpibDevUtilsTest, InitWithoutStoredAddressSetsAddressOne) {
  ASSERT_EQ(0, GPIBDevInit());
  ASSERT_EQ(1u, Calls().size());
  EXPECT_EQ(kGpibSetPrimaryAddress, Calls()[0].request);
  EXPECT_TRUE(Calls()[0].by_value);
  EXPECT_EQ(1u, Calls()[0].value);
  EXPECT_EQ("1", Stored(kGpibAddressSetting));
  EXPECT_EQ(std::vector<std::string>{"GPIB::1::INSTR"}, g_published);
}

TEST_F(GpibDevUtilsTest, InitSetsTheStoredAddressAndTreatsNonNumbersAsMissing) {
  Store(kGpibAddressSetting, "17\n");
  ASSERT_EQ(0, GPIBDevInit());
  EXPECT_EQ(17u, Calls().back().value);
  GPIBDevClose();
  Store(kGpibAddressSetting, "garbage");
  ASSERT_EQ(0, GPIBDevInit());
  EXPECT_EQ(1u, Calls().back().value);
}

TEST_F(GpibDevUtilsTest, AddressRangeIsZeroToThirtyOne) {
  EXPECT_EQ(0, SetGPIBPrimaryAddress(31));
  EXPECT_EQ("31", Stored(kGpibAddressSetting));
  const size_t requests = Calls().size();
  EXPECT_EQ(-1, SetGPIBPrimaryAddress(32));
  EXPECT_EQ(-1, SetGPIBPrimaryAddress(-1));
  EXPECT_EQ(requests, Calls().size()) << "a refused address reaches the device";
  EXPECT_EQ("31", Stored(kGpibAddressSetting));
  EXPECT_EQ(std::vector<std::string>{"GPIB::31::INSTR"}, g_published);
  EXPECT_EQ(0, SetGPIBPrimaryAddress(0));
  EXPECT_EQ("0", Stored(kGpibAddressSetting));
}

TEST_F(GpibDevUtilsTest, FailedRequestsStoreNothing) {
  Store(kGpibAddressSetting, "5");
  Store(kGpibEnableSetting, "1");
  driver_->refuse = true;
  EXPECT_EQ(-1, SetGPIBPrimaryAddress(9));
  EXPECT_EQ(-1, EnableGPIB(0));
  EXPECT_EQ("5", Stored(kGpibAddressSetting));
  EXPECT_EQ("1", Stored(kGpibEnableSetting));
  EXPECT_TRUE(g_published.empty());
  EXPECT_EQ(-1, SetGPIBStatusByte(0x40));
  EXPECT_EQ(-1, GenerateSRQ());
  EXPECT_EQ(-1, ClearGPIBDevice());
  EXPECT_EQ(0, IsGPIBEnabled());
  int pending = 7;
  EXPECT_EQ(-1, GetGPIBMAV(&pending));
  EXPECT_EQ(0, pending);
}

TEST_F(GpibDevUtilsTest, AddressFallsBackToStoredThenOne) {
  driver_->address = 12;
  EXPECT_EQ(12, GetGPIBPrimaryAddress());
  EXPECT_EQ(sizeof(int32_t), Calls().back().value);
  driver_->refuse = true;
  EXPECT_EQ(1, GetGPIBPrimaryAddress());
  Store(kGpibAddressSetting, "23");
  EXPECT_EQ(23, GetGPIBPrimaryAddress());
}

TEST_F(GpibDevUtilsTest, EnableSendsItsRequestAndStoresTheChoice) {
  EXPECT_EQ(0, EnableGPIB(1));
  EXPECT_EQ(kGpibEnable, Calls().back().request);
  EXPECT_EQ("1", Stored(kGpibEnableSetting));
  EXPECT_EQ(0, EnableGPIB(0));
  EXPECT_EQ(kGpibDisable, Calls().back().request);
  EXPECT_EQ("0", Stored(kGpibEnableSetting));
  const size_t requests = Calls().size();
  EXPECT_EQ(-1, EnableGPIB(2));
  EXPECT_EQ(requests, Calls().size());
  EXPECT_EQ("0", Stored(kGpibEnableSetting));
}

TEST_F(GpibDevUtilsTest, ByteAnswersAreReadExactly) {
  driver_->byte_answer = 1;
  EXPECT_EQ(1, IsGPIBEnabled());
  EXPECT_EQ(kGpibIsEnabled, Calls().back().request);
  int pending = 0;
  EXPECT_EQ(0, GetGPIBMAV(&pending));
  EXPECT_EQ(1, pending);
  EXPECT_EQ(kGpibGetMav, Calls().back().request);

  driver_->byte_answer = 0;
  EXPECT_EQ(0, IsGPIBEnabled());
  EXPECT_EQ(0, GetGPIBMAV(&pending));
  EXPECT_EQ(0, pending);

  driver_->byte_answer = 2;  // only 1 means enabled; anything but 0 or 1 is no MAV answer
  EXPECT_EQ(0, IsGPIBEnabled());
  EXPECT_EQ(-1, GetGPIBMAV(&pending));
  EXPECT_EQ(0, pending);
}

TEST_F(GpibDevUtilsTest, StatusByteSrqAndClearAreRequestsByValue) {
  EXPECT_EQ(0, SetGPIBStatusByte(0x52));
  EXPECT_EQ(0, GenerateSRQ());
  EXPECT_EQ(0, ClearGPIBDevice());
  const std::vector<Call> calls = Calls();
  ASSERT_EQ(3u, calls.size());
  EXPECT_EQ(kGpibSetStatusByte, calls[0].request);
  EXPECT_EQ(0x52u, calls[0].value);
  EXPECT_EQ(kGpibGenerateSrq, calls[1].request);
  EXPECT_EQ(kGpibClearDevice, calls[2].request);
  for (const Call& call : calls) EXPECT_TRUE(call.by_value);
}

TEST_F(GpibDevUtilsTest, MissingDeviceFailsEveryOperation) {
  platform::UnregisterDeviceModel(kGpibDevicePath);
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, GPIBDevInit());
  EXPECT_EQ(-1, SetGPIBStatusByte(0));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            printed.find("** ERROR: [_util/gpibdev_utils | GPIBDevInit | "));
  EXPECT_NE(std::string::npos, printed.find("] open failed\n"));
  EXPECT_NE(std::string::npos, printed.find("| GPIBDevInitLeaveAddr | "));
  EXPECT_EQ("<missing>", Stored(kGpibAddressSetting));
}

}  // namespace
