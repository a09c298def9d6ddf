// Tests of the controller board's simulated devices, driven as the firmware drives
// them (platform device calls on in-process models, bridge command words on the FPGA),
// and of the control requests that act on them.
#include "sim/board_models.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "devices/board_devices.h"
#include "devices/fpga_registers.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/fpga_model.h"
#include "sim/vchassis_control.h"
#include "sim/vchassis_devices.h"

namespace sim {
namespace {

TEST(TemperatureAdcModel, ConvertsTheSelectedSensorAndIgnoresSetupBytes) {
  TemperatureAdc adc;
  adc.Receive(Max1039Select(8));
  EXPECT_EQ(adc.Convert(), 19) << "25 degrees: 0.25 V in 12.89 mV steps";
  adc.SetTemperature(2, 80);
  EXPECT_EQ(adc.Convert(), 19) << "sensor 2 is on input 7";
  adc.Receive(Max1039Select(7));
  EXPECT_EQ(adc.Convert(), 62);
  adc.Receive(kMax1039Setup);
  EXPECT_EQ(adc.Convert(), 62) << "a setup byte keeps the selected input";
  adc.Receive(Max1039Select(3));
  EXPECT_EQ(adc.Convert(), 0) << "no sensor on input 3";
  adc.SetTemperature(1, 150);
  adc.Receive(Max1039Select(8));
  EXPECT_EQ(adc.Convert(), 116);
  adc.SetTemperature(3, 99);  // no such sensor: ignored
  EXPECT_EQ(adc.Temperature(3), 0);
}

TEST(I2cBusModel, TheAdcAnswersOnlyOnceSelected) {
  auto adc = std::make_shared<TemperatureAdc>();
  platform::RegisterDeviceModel(kI2cDevicePath, std::make_shared<I2cBusDevice>(adc));
  const int fd = platform::DeviceOpen(kI2cDevicePath, O_RDWR);
  ASSERT_GE(fd, 0);
  uint8_t byte = Max1039Select(8);
  EXPECT_EQ(platform::DeviceWrite(fd, &byte, 1), -1);
  EXPECT_EQ(errno, ENXIO) << "no slave selected";
  ASSERT_EQ(platform::DeviceIoctlValue(fd, kI2cSlaveRequest, 0x50), 0);
  EXPECT_EQ(platform::DeviceRead(fd, &byte, 1), -1) << "nothing answers at 0x50";
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kI2cSlaveRequest, 0x80), -1);
  ASSERT_EQ(platform::DeviceIoctlValue(fd, kI2cSlaveRequest, kMax1039Address), 0);
  byte = Max1039Select(8);
  ASSERT_EQ(platform::DeviceWrite(fd, &byte, 1), 1);
  ASSERT_EQ(platform::DeviceRead(fd, &byte, 1), 1);
  EXPECT_EQ(byte, 19);
  platform::DeviceClose(fd);
  platform::UnregisterDeviceModel(kI2cDevicePath);
}

// A bridge transfer as the firmware makes it: the command word, then (for a read) the
// register's low byte.
int BridgeRead(FpgaModel* fpga, int chip, int address, uint8_t* byte) {
  const uint8_t reg = FramRegister(address);
  const int result = fpga->RegisterWrite(
      0, kFpgaI2cBridge, 4, BridgeCommand(kFramBoardCodes[chip], FramSlave(address), true, reg, reg));
  *byte = static_cast<uint8_t>(fpga->Peek(kFpgaI2cBridge));
  return result;
}
int BridgeWrite(FpgaModel* fpga, int chip, int address, uint8_t byte) {
  return fpga->RegisterWrite(0, kFpgaI2cBridge, 4,
                             BridgeCommand(kFramBoardCodes[chip], FramSlave(address), false,
                                           FramRegister(address), byte));
}

TEST(BoardBridgeModel, ChipsPersistAndAFreshRootIsProgrammedOnce) {
  platform::TempFolder root;
  auto fpga = std::make_shared<FpgaModel>();
  auto bridge = std::make_shared<BoardBridge>(root.path(), std::make_shared<TemperatureAdc>());
  std::string error;
  ASSERT_EQ(bridge->Load(&error), 0) << error;
  fpga->SetI2cBridge(bridge);

  std::vector<uint8_t> factory;
  ASSERT_TRUE(bridge->Read(0, 0, 23, &factory));
  EXPECT_EQ(std::vector<uint8_t>(factory.begin(), factory.begin() + 3),
            (std::vector<uint8_t>{0x00, 0x5A, 0x7C}));
  EXPECT_EQ(factory[6], 'V');
  EXPECT_EQ(factory[7], 'C');
  EXPECT_EQ(factory[14], 0) << "a terminated serial number";

  // Chip 9 (adapter 8, board code 7), the last page.
  ASSERT_EQ(BridgeWrite(fpga.get(), 9, 0x7FE, 0xA5), 0);
  uint8_t byte = 0;
  ASSERT_EQ(BridgeRead(fpga.get(), 9, 0x7FE, &byte), 0);
  EXPECT_EQ(byte, 0xA5);
  ASSERT_EQ(BridgeRead(fpga.get(), 8, 0x7FE, &byte), 0);
  EXPECT_EQ(byte, 0) << "another chip";
  EXPECT_EQ(fpga->RegisterWrite(0, kFpgaI2cBridge, 4, BridgeCommand(15, 0x50, true, 0, 0)), -ENXIO)
      << "no chip has board code 15";

  // A chassis started again on the same root finds the chips as they were.
  auto again = std::make_shared<BoardBridge>(root.path(), std::make_shared<TemperatureAdc>());
  ASSERT_EQ(again->Load(&error), 0) << error;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(again->Read(0, 0, 23, &bytes));
  EXPECT_EQ(bytes, factory) << "programmed once, not again";
  ASSERT_TRUE(again->Read(9, 0x7FE, 1, &bytes));
  EXPECT_EQ(bytes, std::vector<uint8_t>{0xA5});

  std::ofstream(root.path() + "/fram-chip3") << "short";
  auto damaged = std::make_shared<BoardBridge>(root.path(), std::make_shared<TemperatureAdc>());
  EXPECT_EQ(damaged->Load(&error), -1);
  EXPECT_NE(error.find("fram-chip3 holds 5 bytes"), std::string::npos) << error;
}

TEST(BoardBridgeModel, TheAdcAnswersBehindTheBridgeWithBoardIndexTwo) {
  auto adc = std::make_shared<TemperatureAdc>();
  adc->SetTemperature(1, 50);
  BoardBridge bridge("", adc);
  uint8_t byte = 0;
  const int code = kFramBoardCodes[kBridgeAdcBoardIndex];
  const uint8_t select = Max1039Select(8);
  ASSERT_EQ(bridge.Transfer(BridgeCommand(code, kMax1039Address, true, select, select), &byte), 0);
  EXPECT_EQ(byte, 39);
}

TEST(BoardDevices, TheLanButtonWaitBlocksUntilAnEdgeIsPending) {
  auto button = std::make_shared<LanButtonDevice>();
  platform::RegisterDeviceModel(kLciDevicePath, button);
  const int fd = platform::DeviceOpen(kLciDevicePath, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciWaitEvent, 0), -1);
  EXPECT_EQ(errno, EAGAIN);
  button->Edge();
  button->Edge();
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciWaitEvent, 0), 0);
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciWaitEvent, 0), 0) << "not acknowledged yet";
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciClearEvent, 0), 0);
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciWaitEvent, 0), 0) << "the second edge";
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciClearEvent, 0), 0);
  EXPECT_EQ(platform::DeviceIoctlValue(fd, kLciWaitEvent, 0), -1);
  platform::DeviceClose(fd);
  platform::UnregisterDeviceModel(kLciDevicePath);
}

// The board's control requests on a chassis built in a temporary root.
class BoardControl : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(BuildHardware(ChassisDescription{}, FramFolder(root_.path()), &hardware_, &error), 0)
        << error;
  }
  std::string Ask(const std::string& request) {
    ChassisControl control(hardware_);
    std::string answer;
    const int result = control.Execute(request, &answer);
    if (!answer.empty()) answer.pop_back();
    return result == 0 ? answer : "refused: " + answer;
  }

  platform::TempFolder root_;
  SimulatedHardware hardware_;
};

TEST_F(BoardControl, TemperatureSetsOneOrBothSensors) {
  EXPECT_EQ(Ask("temperature 80"), "sensor 1: 80.0 degrees\nsensor 2: 80.0 degrees");
  EXPECT_EQ(Ask("temperature 21.5 2"), "sensor 2: 21.5 degrees");
  EXPECT_EQ(hardware_.adc->Temperature(1), 80);
  EXPECT_EQ(hardware_.adc->Temperature(2), 21.5);
  EXPECT_EQ(Ask("temperature hot"), "refused: \"hot\" is not a temperature from -55 to 150 degrees");
  EXPECT_EQ(Ask("temperature 151"), "refused: \"151\" is not a temperature from -55 to 150 degrees");
  EXPECT_EQ(Ask("temperature 30 3"), "refused: \"3\" is not sensor 1 or 2");
}

TEST_F(BoardControl, FansShowTheLastRequestAndTheBusBoardBit) {
  EXPECT_EQ(Ask("fans"), "chassis: none\nbus-board: off");
  ASSERT_EQ(hardware_.fans->IoctlValue(0, kFansOnRequest, 0), 0);
  ASSERT_EQ(hardware_.fpga->RegisterWrite(0, kFpgaControl, 4, kFpgaControlFan), 0);
  EXPECT_EQ(Ask("fans"), "chassis: on\nbus-board: on");
  ASSERT_EQ(hardware_.fans->IoctlValue(0, kFansAutoRequest, 0), 0);
  EXPECT_EQ(hardware_.fans->IoctlValue(0, 0x6802, 0), -ENOTTY);
  EXPECT_EQ(Ask("fans"), "chassis: auto\nbus-board: on");
}

TEST_F(BoardControl, FramReadAndWriteActOnTheChips) {
  EXPECT_EQ(Ask("fram write 1 0x10 1 2 0xFF"), "3 bytes written to FRAM chip 1 at 16");
  EXPECT_EQ(Ask("fram read 1 16 3"), "01 02 FF");
  EXPECT_EQ(Ask("fram read 1 16"), "01");
  const std::string lines = Ask("fram read 2 0 17");
  EXPECT_EQ(lines.substr(47), "\n00") << "sixteen bytes to a line";
  EXPECT_EQ(Ask("fram read 11 0"), "refused: \"11\" is not a FRAM chip from 0 to 10");
  EXPECT_EQ(Ask("fram read 0 2047 2"), "refused: \"2\" bytes from 2047 do not fit the chip's 2048");
  EXPECT_EQ(Ask("fram write 0 2047 1 2"), "refused: 2 bytes from 2047 do not fit the chip's 2048");
  EXPECT_EQ(Ask("fram write 0 0 256"), "refused: \"256\" is not a byte");
  // What was written persists in the chip's file.
  std::ifstream file(FramFolder(root_.path()) + "/fram-chip1", std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(image.size(), static_cast<size_t>(kFramChipSize));
  EXPECT_EQ(image.substr(16, 3), "\x01\x02\xFF");
}

TEST_F(BoardControl, CommandsListTheLoggedCommandLines) {
  EXPECT_EQ(Ask("commands"), "none");
  std::ofstream(CommandLogFile(FramFolder(root_.path()))) << "lanstatind -b\nlanconfig lci\n";
  EXPECT_EQ(Ask("commands"), "lanstatind -b\nlanconfig lci");
  EXPECT_EQ(Ask("lan-button press"), "LAN button pressed");
  EXPECT_EQ(Ask("lan-button release"), "LAN button released");
  EXPECT_EQ(Ask("lan-button hold"), "refused: not a control request: \"lan-button hold\"");
}

}  // namespace
}  // namespace sim
