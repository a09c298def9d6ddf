// Tests of the identity files, the default nonvolatile tree and the USB device control.
#include "lan/identity.h"
#include "lan/serial_number.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "core/stored_file.h"
#include "devices/usbtmc_requests.h"
#include "lan/lan_test_support.h"
#include "lan/nonvol_defaults.h"
#include "lan/usb_device.h"
#include "sim/usbtmc_model.h"

namespace {

using IdentityTest = LanTest;

TEST_F(IdentityTest, StartUpWritesEveryIdentityFile) {
  // The raw port follows the port base, as the LAN server's socket does.
  platform::ScopedEnv base("CHASSIS_PORT_BASE", "5000");
  EXPECT_EQ(InitSysInfo(), 0);
  const struct {
    const char* name;
    std::string content;
  } files[] = {
      {"lxi_class", "LXI Core 2011"},
      {"lxi_version", "1.4"},
      {"serial_number", "SN12345"},
      {"firmware_rev", "1.6.8"},
      {"model_name", "4410X"},
      {"manufacturer", "Corvane Test Systems"},
      {"description", "Corvane Switch System 4410X - SN12345"},
      {"homepage_url", kMakerHomePage},
      {"driver_url", kMakerHomePage},
      {"tcpip_raw_port", "5002"},
      {"usb_visa_resource", "USB::0x2b7a::0x7a00::SN12345::0::INSTR"},
      {"gpib_visa_resource", "GPIB::1::INSTR"},
      {"servicename", "Corvane Switch System 4410X - SN12345"},
  };
  for (const auto& file : files) {
    EXPECT_EQ(File(std::string("/etc/sysinfo/") + file.name), file.content) << file.name;
  }
  EXPECT_EQ(File("/etc/sysinfo/tcpip_visa_resource"), "<missing>");

  PublishGpibResource("GPIB::7::INSTR");
  EXPECT_EQ(File("/etc/sysinfo/gpib_visa_resource"), "GPIB::7::INSTR");
}

TEST_F(IdentityTest, AnUnprintableSerialIsNotAssignedAndNotKept) {
  SetSerial("SN\x01" "5");
  EXPECT_EQ(GetSerialNumber(), "NOT ASSIGNED");
  InitSysInfo();
  EXPECT_EQ(File("/etc/sysinfo/serial_number"), "NOT ASSIGNED");
  EXPECT_EQ(File("/etc/sysinfo/usb_visa_resource"), "USB::0x2b7a::0x7a00::NOT ASSIGNED::0::INSTR");
  std::vector<uint8_t> fixed = {'S', 'N', '9', 0};
  bridge_->Write(kFramControllerChip, kFramSerialNumber, fixed);
  EXPECT_EQ(GetSerialNumber(), "SN9") << "read again, then kept";
  bridge_->Write(kFramControllerChip, kFramSerialNumber, {'X', 0});
  EXPECT_EQ(GetSerialNumber(), "SN9");
}

TEST_F(IdentityTest, DefaultTreeIsBuiltAndRebuilt) {
  ASSERT_EQ(MakeStoredFolder("/etc/appweb"), 0);
  Store(kFactoryUsersFile, "admin:x\n");
  const std::string nonvol = root_.path() + kNonvolRoot;
  ASSERT_EQ(mkdir((root_.path() + "/mnt").c_str(), 0755), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(create_default_nonvol_file_system(nonvol), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(File("/mnt/nonv/appweb/users.db"), "admin:x\n");
  for (const char* interface : {"lan", "gpib", "usbdev", "web"}) {
    EXPECT_EQ(File(std::string("/mnt/nonv/config/comm/") + interface + "/enable"), "1");
  }
  EXPECT_EQ(File("/mnt/nonv/config/lan/mode"), "automatic");
  EXPECT_EQ(File("/mnt/nonv/config/lan/description"), "Backup Firmware");
  EXPECT_EQ(File("/mnt/nonv/config/lan/keepalive"), "3600");
  EXPECT_EQ(File("/mnt/nonv/config/lan/hostname"), "");
  EXPECT_EQ(File("/mnt/nonv/config/sequence/poweronseq"), "NONE");
  struct stat info {};
  EXPECT_EQ(stat((nonvol + "/scanlists").c_str(), &info), 0);

  // Again, over a changed setting and without the users file: the defaults come back,
  // every existing folder and the users file are reported.
  Store("/mnt/nonv/config/lan/mode", "manual");
  std::remove((root_.path() + kFactoryUsersFile).c_str());
  testing::internal::CaptureStdout();
  create_default_nonvol_file_system(nonvol);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(File("/mnt/nonv/config/lan/mode"), "automatic");
  EXPECT_NE(printed.find("Failed to create " + nonvol + "/appweb/users.db"), std::string::npos);
  EXPECT_NE(printed.find("Failed to create " + nonvol + "/config/lan\n"), std::string::npos);
  size_t failures = 0;
  for (size_t at = printed.find("Failed to create"); at != std::string::npos;
       at = printed.find("Failed to create", at + 1)) {
    ++failures;
  }
  EXPECT_EQ(failures, 16u) << "fifteen folders and the users file\n" << printed;
}

TEST_F(IdentityTest, UsbDeviceIsSwitchedAndItsSettingStored) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(UsbDevEnable(), -1) << "no device";
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(File(kUsbEnableFile), "<missing>");
  EXPECT_EQ(UsbDevEnabled(), 255);

  auto usbtmc = std::make_shared<sim::UsbtmcModel>();
  platform::RegisterDeviceModel(kUsbtmcDevicePath, usbtmc->instrument_side());
  ASSERT_EQ(UsbDevDisable(), 0);
  EXPECT_FALSE(usbtmc->enabled());
  EXPECT_EQ(UsbDevEnabled(), 0);
  ASSERT_EQ(UsbDevEnable(), 0);
  EXPECT_TRUE(usbtmc->enabled());
  EXPECT_EQ(File(kUsbEnableFile), "1");
  EXPECT_EQ(UsbDevEnabled(), 1);
  EXPECT_EQ(IsUsbWriteInProcess(), 0);
  platform::UnregisterDeviceModel(kUsbtmcDevicePath);
}

}  // namespace
