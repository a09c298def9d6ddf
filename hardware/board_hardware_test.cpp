// Tests of the controller board's hardware: FRAM bytes and records through the FPGA's
// I2C bridge (against a bridge that can drop writes, answer unstably or fail), the
// temperature sensors, both fan loops' decisions, the LAN reset button, the power-fail
// record and the board's service commands. The simulated FPGA, I2C bus, ADC and FRAM
// chips are registered in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "core/run_state.h"
#include "devices/board_devices.h"
#include "hardware/board_signals.h"
#include "hardware/event_log.h"
#include "hardware/fans.h"
#include "hardware/fram.h"
#include "hardware/hardware_handlers.h"
#include "hardware/hardware_test_support.h"
#include "hardware/i2c_bus.h"
#include "hardware/sensors.h"
#include "platform/device.h"
#include "platform/device_model.h"
#include "platform/test_support.h"
#include "scpi/command_context_test_support.h"
#include "scpi/error_codes.h"
#include "sim/board_models.h"

namespace {

// The board's real bridge (FRAM chips and the ADC) with faults in front of it, and a
// record of every command word.
class FaultyBridge final : public sim::I2cBridgeTarget {
 public:
  explicit FaultyBridge(std::shared_ptr<sim::TemperatureAdc> adc) : board_("", std::move(adc)) {}

  int Transfer(uint32_t command, uint8_t* data) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commands.push_back(command);
    if (failing) return -EIO;
    if (!BridgeIsRead(command) && dropped_writes > 0) {
      --dropped_writes;
      return 0;
    }
    const int result = board_.Transfer(command, data);
    if (BridgeIsRead(command) && unstable_reads > 0) {
      --unstable_reads;
      *data = static_cast<uint8_t>(*data + ++wobble);
    }
    return result;
  }

  std::vector<uint8_t> Chip(int chip, int address, int count) {
    std::vector<uint8_t> bytes;
    board_.Read(chip, address, count, &bytes);
    return bytes;
  }
  void Fill(int chip, int address, const std::vector<uint8_t>& bytes) {
    board_.Write(chip, address, bytes);
  }
  size_t CommandCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands.size();
  }

  std::vector<uint32_t> commands;
  int dropped_writes = 0;  // writes that vanish before one lands
  int unstable_reads = 0;  // reads that each answer another value
  bool failing = false;

 private:
  std::mutex mutex_;
  sim::BoardBridge board_;
  uint8_t wobble = 0;
};

// Every request the fan device receives.
class RecordingFans final : public platform::DeviceModel {
 public:
  int IoctlValue(uint64_t, unsigned long request, unsigned long) override {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    return 0;
  }
  std::vector<unsigned long> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(requests_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<unsigned long> requests_;
};

int mac_waits = 0;
void CountMacWait() { ++mac_waits; }

std::string CapturedStdout() {
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class BoardHardwareTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    ResetI2cForTest();
    platform::RegisterDeviceModel(kI2cDevicePath, std::make_shared<sim::I2cBusDevice>(adc_));
    platform::RegisterDeviceModel(kFanDevicePath, fans_);
    fpga_->SetI2cBridge(bridge_);
    ASSERT_EQ(i2c_initialize(), 0);
    ForgetMacAddressForTest();
    SetMacRetryWaitForTest(CountMacWait);
    mac_waits = 0;
    ResetFansForTest();
    ResetPowerFailForTest();
  }
  void TearDown() override {
    SetMacRetryWaitForTest(nullptr);
    ForgetMacAddressForTest();
    ResetFansForTest();
    ResetI2cForTest();
    platform::UnregisterDeviceModel(kI2cDevicePath);
    platform::UnregisterDeviceModel(kFanDevicePath);
    SimulatedHardwareTest::TearDown();
  }

  void SetTemperatures(double sensor1, double sensor2) {
    adc_->SetTemperature(1, sensor1);
    adc_->SetTemperature(2, sensor2);
  }

  std::shared_ptr<sim::TemperatureAdc> adc_ = std::make_shared<sim::TemperatureAdc>();
  std::shared_ptr<FaultyBridge> bridge_ = std::make_shared<FaultyBridge>(adc_);
  std::shared_ptr<RecordingFans> fans_ = std::make_shared<RecordingFans>();
};

// ---- FRAM bytes

TEST_F(BoardHardwareTest, FramByteCommandWordsCarryBoardCodePageAndRegister) {
  ASSERT_EQ(WriteFRAMByte(0, 0x123, 0xAB), 0);
  ASSERT_EQ(bridge_->commands.size(), 2u) << "one write, one read back";
  EXPECT_EQ(bridge_->commands[0], 0xD0000000u | 0x51u << 17 | 0x23u << 8 | 0xABu);
  EXPECT_EQ(bridge_->commands[1], 0xD0000000u | 0x51u << 17 | 1u << 16 | 0x23u << 8 | 0x23u);
  // Adapter 3 is chip 4, board code 2.
  uint8_t byte = 0;
  ASSERT_EQ(ReadFRAMByte(4, 0x7FF, &byte), 0);
  EXPECT_EQ(bridge_->commands.back() >> 28, 2u);
  EXPECT_EQ(bridge_->commands.back() >> 17 & 0x7F, 0x57u);
  EXPECT_EQ(bridge_->Chip(0, 0x123, 1), std::vector<uint8_t>{0xAB});

  const size_t before = bridge_->CommandCount();
  EXPECT_EQ(WriteFRAMByte(11, 0, 1), -1);
  EXPECT_EQ(ReadFRAMByte(0, 2048, &byte), -1);
  EXPECT_EQ(WriteFRAMBytes(0, 2040, std::vector<uint8_t>(9).data(), 9), -1);
  EXPECT_EQ(bridge_->CommandCount(), before) << "nothing outside the chips reaches the bridge";
}

TEST_F(BoardHardwareTest, VerifiedWriteTriesFourTimesThenWarns) {
  bridge_->dropped_writes = 3;
  EXPECT_EQ(WriteFRAMByte(1, 10, 0x5A), 0);
  EXPECT_EQ(bridge_->commands.size(), 8u);
  EXPECT_EQ(bridge_->Chip(1, 10, 1), std::vector<uint8_t>{0x5A});

  bridge_->commands.clear();
  bridge_->dropped_writes = 4;
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteFRAMByte(1, 11, 0x5A), -1);
  const std::string printed = CapturedStdout();
  EXPECT_EQ(bridge_->commands.size(), 8u);
  EXPECT_NE(printed.find("WARNING: [_util/fram_utils | WriteFRAMByte | "), std::string::npos);
  EXPECT_NE(printed.find("Byte written to FRAM was not read back"), std::string::npos);
}

TEST_F(BoardHardwareTest, ReadTakesThreeAgreeingReadsInUpToFourPasses) {
  bridge_->Fill(0, 100, {0x42});
  uint8_t byte = 0;
  ASSERT_EQ(ReadFRAMByte(0, 100, &byte), 0);
  EXPECT_EQ(byte, 0x42);
  EXPECT_EQ(bridge_->commands.size(), 3u);

  bridge_->commands.clear();
  bridge_->unstable_reads = 2;  // the first pass disagrees, the second agrees
  ASSERT_EQ(ReadFRAMByte(0, 100, &byte), 0);
  EXPECT_EQ(byte, 0x42);
  EXPECT_EQ(bridge_->commands.size(), 6u);

  bridge_->commands.clear();
  bridge_->unstable_reads = 1000;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadFRAMByte(0, 100, &byte), -1);
  const std::string printed = CapturedStdout();
  EXPECT_EQ(bridge_->commands.size(), 12u);
  EXPECT_NE(byte, 0x42) << "the last pass's first read is delivered";
  EXPECT_NE(printed.find("Was not able to read the same byte back from FRAM successively"),
            std::string::npos);
}

TEST_F(BoardHardwareTest, BridgeErrorEndsAByteAtOnce) {
  bridge_->failing = true;
  uint8_t byte = 0;
  EXPECT_EQ(WriteFRAMByte(0, 0, 1), err::kFpgaIoError);
  EXPECT_EQ(bridge_->commands.size(), 1u);
  EXPECT_EQ(ReadFRAMByte(0, 0, &byte), err::kFpgaIoError);
  EXPECT_EQ(bridge_->commands.size(), 2u);
  uint8_t bytes[4] = {};
  EXPECT_EQ(ReadFRAMBytes(0, 0, bytes, 4), -1);
  EXPECT_EQ(bridge_->commands.size(), 3u) << "the first failing byte ends the transfer";
}

// ---- FRAM records

TEST_F(BoardHardwareTest, CountersAreStoredLeastSignificantByteFirst) {
  ASSERT_EQ(WriteFRAMBackplaneRelayCounter(3, 0x01020304), 0);
  EXPECT_EQ(bridge_->Chip(1, 12, 4), (std::vector<uint8_t>{4, 3, 2, 1}));
  ASSERT_EQ(WriteFRAMAdapterRelayCounter(2, 1, 0xA0B0C0D0), 0);
  EXPECT_EQ(bridge_->Chip(3, 12, 4), (std::vector<uint8_t>{0xD0, 0xC0, 0xB0, 0xA0}));
  uint32_t count = 0;
  ASSERT_EQ(ReadFRAMBackplaneRelayCounter(3, &count), 0);
  EXPECT_EQ(count, 0x01020304u);
  ASSERT_EQ(ReadFRAMAdapterRelayCounter(2, 1, &count), 0);
  EXPECT_EQ(count, 0xA0B0C0D0u);
  EXPECT_EQ(ReadFRAMAdapterRelayCounter(10, 0, &count), -1);
  EXPECT_EQ(WriteFRAMBackplaneRelayCounter(512, 1), -1) << "counter 512 would leave the chip";

  bridge_->Fill(5, 0, {'A', 'D', '4', 0});
  std::string text;
  ASSERT_EQ(ReadFRAMAdapterDescriptor(4, &text), 0);
  EXPECT_EQ(text, "AD4");
}

TEST_F(BoardHardwareTest, TextFieldsWithoutTheirZeroReadUnprogrammed) {
  bridge_->Fill(0, kFramSerialNumber, std::vector<uint8_t>(kFramSerialLength, 'S'));
  std::string text;
  ASSERT_EQ(ReadFRAMSerialNumber(&text), 0);
  EXPECT_EQ(text, "UNPROGRAMMED");

  ASSERT_EQ(WriteFRAMSerialNumber("SN0123456789ABCD"), 0);  // 16 characters: the most
  ASSERT_EQ(ReadFRAMSerialNumber(&text), 0);
  EXPECT_EQ(text, "SN0123456789ABCD");
  EXPECT_EQ(bridge_->Chip(0, kFramSerialNumber + 16, 1), std::vector<uint8_t>{0});

  const size_t before = bridge_->CommandCount();
  EXPECT_EQ(WriteFRAMSerialNumber("SN0123456789ABCDE"), -1);
  EXPECT_EQ(bridge_->CommandCount(), before) << "a serial longer than its field is not written";

  bridge_->Fill(0, kFramDescriptor, std::vector<uint8_t>(kFramDescriptorLength, 'D'));
  ASSERT_EQ(ReadFRAMDescriptor(&text), 0);
  EXPECT_EQ(text, "UNPROGRAMMED");
  ASSERT_EQ(WriteFRAMDescriptor("controller board rev C"), 0);
  ASSERT_EQ(ReadFRAMDescriptor(&text), 0);
  EXPECT_EQ(text, "controller board rev C");
}

TEST_F(BoardHardwareTest, MacWithoutTheOuiBecomesARandomOneAfterFiveAttempts) {
  const std::vector<uint8_t> stored = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  bridge_->Fill(0, 0, stored);
  uint8_t mac[6] = {};
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadFRAMMacAddr(mac), 0);
  const std::string printed = CapturedStdout();
  EXPECT_EQ(mac_waits, 5);
  EXPECT_EQ(mac[0], 0x00);
  EXPECT_EQ(mac[1], 0x5A);
  EXPECT_EQ(mac[2], 0x7C);
  EXPECT_NE(printed.find("MAC address from fram has incorrect OUI:  0.1a.2b.3c.4d.5e"),
            std::string::npos)
      << printed;
  EXPECT_EQ(bridge_->Chip(0, 0, 6), stored) << "the random address is not written";

  // A query now answers the address in use without asking the FRAM again.
  const size_t before = bridge_->CommandCount();
  uint8_t again[6] = {};
  EXPECT_EQ(ReadMacAddressInUse(again), 0);
  EXPECT_EQ(std::vector<uint8_t>(again, again + 6), std::vector<uint8_t>(mac, mac + 6));
  EXPECT_EQ(bridge_->CommandCount(), before);
  EXPECT_EQ(mac_waits, 5);

  // A valid address written makes the FRAM the answer again.
  const uint8_t valid[6] = {0x00, 0x5A, 0x7C, 0x01, 0x02, 0x03};
  ASSERT_EQ(WriteFRAMMacAddr(valid), 0);
  bridge_->Fill(0, 3, {0x09});  // the FRAM changes behind the firmware's back
  ASSERT_EQ(ReadMacAddressInUse(again), 0);
  EXPECT_EQ(again[3], 0x09);
  EXPECT_EQ(mac_waits, 5);
}

// ---- Sensors

TEST_F(BoardHardwareTest, AdcIsSetUpOnBothPathsAndSensorsReadInDegrees) {
  ASSERT_EQ(max1039_initialize(), 0);
  ASSERT_EQ(bridge_->commands.size(), 2u);
  for (uint32_t command : bridge_->commands) {
    EXPECT_EQ(command >> 28, 4u) << "board index 2 of the table";
    EXPECT_EQ(BridgeSlave(command), kMax1039Address);
  }
  EXPECT_EQ(BridgeData(bridge_->commands[0]), kMax1039Setup);
  EXPECT_EQ(BridgeData(bridge_->commands[1]), kMax1039Configuration);

  SetTemperatures(80, 30);
  float degrees = 0;
  ASSERT_EQ(cpu_board_tempsens_get_reading(1, &degrees), 0);
  EXPECT_NEAR(degrees, 80, 0.7);
  ASSERT_EQ(cpu_board_tempsens_get_reading(2, &degrees), 0);
  EXPECT_NEAR(degrees, 30, 0.7);
  unsigned char byte = 0;
  ASSERT_EQ(max1039_read_byte(1, kTemperatureSensorInput[1], &byte), 0);
  EXPECT_EQ(byte, 62) << "80 degrees: 0.8 V in 12.89 mV steps";

  testing::internal::CaptureStdout();
  EXPECT_EQ(cpu_board_tempsens_get_reading(3, &degrees), -1);
  EXPECT_EQ(cpu_board_tempsens_get_reading(0, &degrees), -1);
  EXPECT_EQ(max1039_read_byte(0, 11, &byte), -1);
  EXPECT_EQ(max1039_read_byte(2, 1, &byte), -1);
  const std::string printed = CapturedStdout();
  EXPECT_NE(printed.find("Invalid sensor number passed in: 3"), std::string::npos);
  EXPECT_NE(printed.find("max1039_read_byte, invalid channel number: 11"), std::string::npos);
  EXPECT_NE(printed.find("default case reached, 2"), std::string::npos);
}

// The bus device as the firmware sees it, counting the slave selections it receives.
class CountingI2cBus final : public platform::DeviceModel {
 public:
  explicit CountingI2cBus(std::shared_ptr<sim::TemperatureAdc> adc)
      : inner_(std::make_shared<sim::I2cBusDevice>(std::move(adc))) {}
  void Close(uint64_t id) override { inner_->Close(id); }
  ssize_t Read(uint64_t id, void* b, size_t n) override { return inner_->Read(id, b, n); }
  ssize_t Write(uint64_t id, const void* b, size_t n) override { return inner_->Write(id, b, n); }
  int IoctlValue(uint64_t id, unsigned long request, unsigned long value) override {
    if (request == kI2cSlaveRequest) ++selections;
    return inner_->IoctlValue(id, request, value);
  }
  std::atomic<int> selections{0};

 private:
  std::shared_ptr<sim::I2cBusDevice> inner_;
};

TEST_F(BoardHardwareTest, TheBusSelectsASlaveOnlyWhenTheSlaveChanges) {
  ResetI2cForTest();
  auto bus = std::make_shared<CountingI2cBus>(adc_);
  platform::RegisterDeviceModel(kI2cDevicePath, bus);
  ASSERT_EQ(i2c_initialize(), 0);
  SetTemperatures(40, 40);
  float degrees = 0;
  ASSERT_EQ(cpu_board_tempsens_get_reading(1, &degrees), 0);  // twenty transfers
  EXPECT_NEAR(degrees, 40, 0.7);
  EXPECT_EQ(bus->selections, 1);
  // Another slave is selected for its transfer, and the ADC again after it.
  uint8_t byte = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(i2c_read_byte(0x50, &byte), -1) << "no such slave";
  CapturedStdout();
  EXPECT_EQ(bus->selections, 2);
  ASSERT_EQ(cpu_board_tempsens_get_reading(2, &degrees), 0);
  EXPECT_EQ(bus->selections, 3);
  // A reopened bus has no selection.
  ResetI2cForTest();
  ASSERT_EQ(i2c_initialize(), 0);
  ASSERT_EQ(cpu_board_tempsens_get_reading(1, &degrees), 0);
  EXPECT_EQ(bus->selections, 4);
}

TEST_F(BoardHardwareTest, SensorFailureIsReportedWithoutTheBus) {
  ResetI2cForTest();  // the bus is not open
  float degrees = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cpu_board_tempsens_get_reading(1, &degrees), -1);
  EXPECT_NE(CapturedStdout().find("Max1039_read_voltage failed."), std::string::npos);
  EXPECT_EQ(degrees, 0) << "no conversion was made before the failure";
}

// ---- Fans

TEST_F(BoardHardwareTest, ChassisFansFollowTheThresholdWithHysteresis) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  EXPECT_EQ(FanTempThreshold(), 70) << "no threshold file";
  EXPECT_EQ(GpibFanTempThreshold(), 38);
  const int fd = platform::DeviceOpen(kFanDevicePath, 2);
  ASSERT_GE(fd, 0);

  SetTemperatures(72, 72);
  ASSERT_EQ(FanControlStep(fd), 0);
  EXPECT_EQ(fans_->Take(), std::vector<unsigned long>{kFansOnRequest});
  SetTemperatures(67, 67);  // between 65 and 70: unchanged
  ASSERT_EQ(FanControlStep(fd), 0);
  EXPECT_TRUE(fans_->Take().empty());
  SetTemperatures(60, 66);  // the mean, 63, is below 65
  ASSERT_EQ(FanControlStep(fd), 0);
  EXPECT_EQ(fans_->Take(), std::vector<unsigned long>{kFansAutoRequest});

  // At the threshold exactly, and at threshold - 5 exactly, the fans stay as they are.
  SetTemperatures(0, 0);
  for (int threshold : {0, 5}) {
    ASSERT_EQ(SetFanTempThreshold(threshold), 0);
    ASSERT_EQ(FanControlStep(fd), 0);
    EXPECT_TRUE(fans_->Take().empty()) << threshold;
  }

  SetFanOverride(true);
  for (int period = 0; period < 3; ++period) ASSERT_EQ(FanControlStep(fd), 0);
  EXPECT_EQ(fans_->Take(), std::vector<unsigned long>(3, kFansOnRequest))
      << "the override asks for the fans every period";
  SetFanOverride(false);
  platform::DeviceClose(fd);
}

TEST_F(BoardHardwareTest, ThresholdsAreStoredAsDecimalText) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(SetFanTempThreshold(55), 0);
  ASSERT_EQ(SetGpibFanTempThreshold(41), 0);
  std::ifstream file(root.path() + kFanThresholdFile);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "55");
  EXPECT_EQ(FanTempThreshold(), 55);
  EXPECT_EQ(GpibFanTempThreshold(), 41);

  testing::internal::CaptureStdout();
  EXPECT_EQ(SetFanTempThreshold(10000000), -1);
  EXPECT_NE(CapturedStdout().find("threshold too large: 10000000"), std::string::npos);
  EXPECT_EQ(FanTempThreshold(), 55);

  EXPECT_EQ(ParseFanThreshold("75\n", 70), 75);
  EXPECT_EQ(ParseFanThreshold("12345678", 70), 1234567) << "seven characters are read";
  EXPECT_EQ(ParseFanThreshold("warm", 70), 70);
  EXPECT_EQ(ParseFanThreshold("", 38), 38);
  EXPECT_EQ(ParseFanThreshold("-3", 38), -3);
}

TEST_F(BoardHardwareTest, BusBoardFanBitIsWrittenOnlyOnChange) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  // The first switch always writes, even to the state the bit already has.
  ASSERT_EQ(WriteFPGAregister(kFpgaControl, kFpgaControlFan | kFpgaControlDefault), 0);
  ASSERT_EQ(SetGpibFan(false), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaControl), kFpgaControlDefault) << "other bits are kept";

  SetTemperatures(40, 40);
  GpibFanControlStep();
  EXPECT_TRUE(fpga_->FanOn());
  // Cleared behind the loop's back: the same decision again does not write.
  ASSERT_EQ(WriteFPGAregister(kFpgaControl, kFpgaControlDefault), 0);
  GpibFanControlStep();
  EXPECT_FALSE(fpga_->FanOn());
  SetTemperatures(35, 35);  // between 33 and 38: unchanged
  ASSERT_EQ(SetGpibFan(true), 0);
  GpibFanControlStep();
  EXPECT_FALSE(fpga_->FanOn()) << "no write: the state was already on";
  SetTemperatures(30, 30);
  GpibFanControlStep();
  EXPECT_FALSE(fpga_->FanOn());
  ASSERT_EQ(WriteFPGAregister(kFpgaControl, kFpgaControlFan), 0);
  SetTemperatures(36, 36);
  GpibFanControlStep();
  EXPECT_TRUE(fpga_->FanOn()) << "in between, nothing is written";
}

std::atomic<int> fan_periods{0};
void CountFanPeriod() {
  if (++fan_periods >= 3) SetRunning(false);
}

TEST_F(BoardHardwareTest, FanLoopDecidesEveryPeriodUntilTheStop) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  SetFanPeriodWaitForTest(CountFanPeriod);
  SetTemperatures(90, 90);
  fan_periods = 0;
  SetRunning(true);
  EXPECT_EQ(FanControlLoop(nullptr), nullptr) << "a clean end is 0";
  EXPECT_EQ(fans_->Take(), std::vector<unsigned long>(3, kFansOnRequest));

  platform::UnregisterDeviceModel(kFanDevicePath);
  SetRunning(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(FanControlLoop(nullptr), reinterpret_cast<void*>(static_cast<intptr_t>(-1)));
  EXPECT_NE(CapturedStdout().find("open fan device failed"), std::string::npos);
  SetFanPeriodWaitForTest(nullptr);
  SetRunning(false);
}

// ---- LAN reset button and power fail

std::atomic<int> lan_resets{0};
int CountLanReset() { return ++lan_resets, 0; }

class LanButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lan_resets = 0;
    SetLanConfigurationReset(CountLanReset);
  }
  void TearDown() override { SetLanConfigurationReset(nullptr); }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
};

TEST_F(LanButtonTest, APressOfFiveToSixtySecondsResetsTheLanOnce) {
  LciButton button;
  ASSERT_EQ(LciButtonEdge(&button, 1000.0), 0);
  ASSERT_EQ(LciButtonEdge(&button, 1004.9), 0);
  EXPECT_EQ(button.state, 0);
  EXPECT_EQ(lan_resets, 0) << "released too soon";

  ASSERT_EQ(LciButtonEdge(&button, 2000.0), 0);
  ASSERT_EQ(LciButtonEdge(&button, 2005.0), 0);
  EXPECT_EQ(lan_resets, 1);
  EXPECT_EQ(button.state, 0);

  // Held past 60 s: the late edge starts the timing anew.
  ASSERT_EQ(LciButtonEdge(&button, 3000.0), 0);
  testing::internal::CaptureStdout();
  ASSERT_EQ(LciButtonEdge(&button, 3060.0), 0);
  EXPECT_NE(CapturedStdout().find("MAX push time exceeded, resyncing IRQ"), std::string::npos);
  EXPECT_EQ(button.state, 1);
  ASSERT_EQ(LciButtonEdge(&button, 3064.0), 0);
  EXPECT_EQ(lan_resets, 1) << "4 s after the late edge";

  // A reset that fails is reported.
  SetLanConfigurationReset(nullptr);
  testing::internal::CaptureStdout();
  ASSERT_EQ(LciButtonEdge(&button, 3070.0), 0);
  ASSERT_EQ(LciButtonEdge(&button, 3076.0), 0);
  EXPECT_NE(CapturedStdout().find("DoLCI failed"), std::string::npos);

  button.state = 7;
  testing::internal::CaptureStdout();
  EXPECT_EQ(LciButtonEdge(&button, 4000.0), -1);
  EXPECT_NE(CapturedStdout().find("default case reached"), std::string::npos);
}

// The button loop's clock: 100 s, then 106 s, ...
std::atomic<int> lci_reads{0};
double SteppingClock() { return 100.0 + 6.0 * lci_reads++; }

TEST_F(LanButtonTest, LoopWaitsForEdgesAndAcknowledgesThem) {
  auto button = std::make_shared<sim::LanButtonDevice>();
  platform::RegisterDeviceModel(kLciDevicePath, button);
  SetLciClockForTest(SteppingClock);
  lci_reads = 0;
  SetRunning(true);
  void* result = reinterpret_cast<void*>(1);
  std::thread loop([&] { result = LCIMonitorLoop(nullptr); });
  button->Edge();
  button->Edge();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (lan_resets == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(lan_resets, 1);
  SetRunning(false);
  button->Edge();  // wakes the wait; the loop then sees the stop
  loop.join();
  EXPECT_EQ(result, nullptr);
  SetLciClockForTest(nullptr);
  platform::UnregisterDeviceModel(kLciDevicePath);
}

int PowerFailClock(EventLogEntry* stamp) {
  *stamp = EventLogEntry{.year = 2026, .month = 12, .day = 8, .hour = 12, .minute = 0, .second = 0, .text = {}};
  return 0;
}

TEST_F(LanButtonTest, PowerFailuresWithinASecondAreRecordedOnce) {
  SetEventClock(PowerFailClock);
  ResetPowerFailForTest();
  const std::string file = root_.path() + kPowerDownFile;
  RecordPowerFailure();
  std::ifstream first(file);
  std::string line;
  ASSERT_TRUE(std::getline(first, line));
  EXPECT_NE(line.find("Power down/failure"), std::string::npos) << line;
  ASSERT_EQ(std::remove(file.c_str()), 0);
  RecordPowerFailure();
  struct stat info {};
  EXPECT_NE(stat(file.c_str(), &info), 0) << "the second event within the second writes nothing";
  ResetPowerFailForTest();
  RecordPowerFailure();
  EXPECT_EQ(stat(file.c_str(), &info), 0) << "after the quiet second it is recorded again";
  SetEventClock(nullptr);
}

// ---- Service commands

int32_t RunHandlers(TestCommand* command, int32_t (*validate)(CommandContext*),
            int32_t (*execute)(CommandContext*)) {
  const int32_t code = validate(&command->context);
  return code != 0 ? code : execute(&command->context);
}

TEST_F(BoardHardwareTest, MacAddressCommandsTakeQuotedAndUnquotedForms) {
  for (const char* text : {"'00.1A.2B.3C.4D.5E'", "00.1A.2B.3C.4D.5E", "\"00.1a.2b.3c.4d.5e\""}) {
    bridge_->Fill(0, 0, std::vector<uint8_t>(6, 0));
    TestCommand write({text});
    EXPECT_EQ(RunHandlers(&write, DIAG_MAC_ADDRESS_WRITE_DoContextValidation,
                  DIAG_MAC_ADDRESS_WRITE_DoExecutionConclusion),
              0)
        << text;
    EXPECT_EQ(bridge_->Chip(0, 0, 6), (std::vector<uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}))
        << text;
  }
  // Without the OUI the written address is the one in use: the query answers it at once.
  TestCommand read({});
  read.execution.reply_length = 0;
  ASSERT_EQ(RunHandlers(&read, DIAG_MAC_ADDRESS_READQuery_DoContextValidation,
                DIAG_MAC_ADDRESS_READQuery_DoExecutionConclusion),
            0);
  EXPECT_EQ(read.reply(), "00.1A.2B.3C.4D.5E");
  EXPECT_EQ(mac_waits, 0);

  struct Refusal {
    const char* text;
    const char* detail;
  };
  const char* format = "invalid parameter format, expecting XX.XX.XX.XX.XX.XX";
  const char* range = "each MAC address component must be hexadecimal numeric between 0 and FF";
  for (const Refusal& refusal : {Refusal{"00.1A.2B.3C.4D", format}, Refusal{"00.1A.2B.3C.4D.5E.6F", format},
                                 Refusal{"00:1A:2B:3C:4D:5E", format}, Refusal{"'00.1A.2B.3C.4D.5E", format},
                                 Refusal{"00.1G.2B.3C.4D.5E", format}, Refusal{"00.1A.2B.3C.4D.100", range},
                                 Refusal{"FFFFFFFFFF.0.0.0.0.0", range}}) {
    TestCommand write({refusal.text});
    EXPECT_EQ(DIAG_MAC_ADDRESS_WRITE_DoContextValidation(&write.context), -224) << refusal.text;
    EXPECT_STREQ(write.execution.error_detail, refusal.detail) << refusal.text;
  }
}

TEST_F(BoardHardwareTest, SerialNumberCommandsCheckQuotesAndLength) {
  TestCommand write({"\"SN12345\""});
  ASSERT_EQ(RunHandlers(&write, DIAG_SERIALNUMBER_WRITE_DoContextValidation,
                DIAG_SERIALNUMBER_WRITE_DoExecutionConclusion),
            0);
  TestCommand read({});
  ASSERT_EQ(RunHandlers(&read, DIAG_SERIALNUMBER_READQuery_DoContextValidation,
                DIAG_SERIALNUMBER_READQuery_DoExecutionConclusion),
            0);
  EXPECT_EQ(read.reply(), "SN12345");

  struct Refusal {
    std::string text;
    const char* detail;
  };
  for (const Refusal& refusal :
       {Refusal{"SN12345", "serial number should be string format"},
        Refusal{"'SN12345\"", "serial number should be string format"},
        Refusal{"''", "serial number minimum length is 1 character"},
        Refusal{"'" + std::string(79, 'S') + "'", "serial number maximum length is 78 characters"},
        Refusal{"'" + std::string(17, 'S') + "'", "serial number maximum length is 16 characters"}}) {
    TestCommand refused({refusal.text});
    EXPECT_EQ(DIAG_SERIALNUMBER_WRITE_DoContextValidation(&refused.context), -150) << refusal.text;
    EXPECT_STREQ(refused.execution.error_detail, refusal.detail) << refusal.text;
  }

  bridge_->failing = true;
  TestCommand failing({});
  EXPECT_EQ(RunHandlers(&failing, DIAG_SERIALNUMBER_READQuery_DoContextValidation,
                DIAG_SERIALNUMBER_READQuery_DoExecutionConclusion),
            err::kHardwareError);
}

TEST_F(BoardHardwareTest, FanOverrideCommandSwitchesTheOverride) {
  TestCommand on({"ON"});
  ASSERT_EQ(RunHandlers(&on, DIAG_FANOVERRIDE_DoContextValidation, DIAG_FANOVERRIDE_DoExecutionConclusion), 0);
  EXPECT_TRUE(FanOverride());
  TestCommand off({"0"});
  ASSERT_EQ(RunHandlers(&off, DIAG_FANOVERRIDE_DoContextValidation, DIAG_FANOVERRIDE_DoExecutionConclusion), 0);
  EXPECT_FALSE(FanOverride());
  TestCommand bad({"MAYBE"});
  EXPECT_NE(DIAG_FANOVERRIDE_DoContextValidation(&bad.context), 0);
}

TEST_F(BoardHardwareTest, FanAndTemperatureQueriesReportWhatTheLoopsSee) {
  const auto query = [](CommandOperation validate, CommandOperation execute) {
    TestCommand command({});
    EXPECT_EQ(RunHandlers(&command, validate, execute), 0);
    return command.reply();
  };
  SetTemperatures(72, 30);
  float sensor1 = 0;
  float sensor2 = 0;
  const std::string degrees =
      query(DIAG_TEMPERATUREQuery_DoContextValidation, DIAG_TEMPERATUREQuery_DoExecutionConclusion);
  ASSERT_EQ(std::sscanf(degrees.c_str(), "%f,%f", &sensor1, &sensor2), 2) << degrees;
  EXPECT_NEAR(sensor1, 72, 0.7);
  EXPECT_NEAR(sensor2, 30, 0.7);
  const int fd = platform::DeviceOpen(kFanDevicePath, 2);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(FansOn(fd), 0);
  SetFanOverride(true);
  EXPECT_EQ(query(DIAG_FANOVERRIDEQuery_DoContextValidation, DIAG_FANOVERRIDEQuery_DoExecutionConclusion),
            "1,ON,0");
  ASSERT_EQ(FansAuto(fd), 0);
  SetFanOverride(false);
  EXPECT_EQ(query(DIAG_FANOVERRIDEQuery_DoContextValidation, DIAG_FANOVERRIDEQuery_DoExecutionConclusion),
            "0,AUTO,0");
}

}  // namespace
