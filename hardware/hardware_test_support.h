// For the hardware tests: a fixture with the simulated FPGA and chassis bus driver
// registered in this process, the FPGA access state fresh for every test and a
// temporary chassis root (so that nothing a test stores, such as a card's web control
// folder, reaches this machine's own paths), and a scope in which one of those
// devices is missing.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "devices/xbus_requests.h"
#include "hardware/fpga_utils.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/fpga_model.h"
#include "sim/xbus_model.h"

class SimulatedHardwareTest : public ::testing::Test {
 protected:
  // The FPGA clock stands at 2005-12-31 23:59:58 UTC.
  static constexpr int64_t kClockSeconds = 1136073598;

  void SetUp() override {
    ResetFpgaAccessForTest();
    platform::RegisterDeviceModel(kFpgaMemoryPath, fpga_);
    platform::RegisterDeviceModel(kXbusDevicePath, xbus_);
  }
  void TearDown() override {
    ResetFpgaAccessForTest();
    platform::UnregisterDeviceModel(kFpgaMemoryPath);
    platform::UnregisterDeviceModel(kXbusDevicePath);
  }

  platform::TempFolder root_folder_;
  platform::ScopedEnv root_env_{"CHASSIS_ROOT", root_folder_.path().c_str()};
  std::shared_ptr<sim::FpgaModel> fpga_ =
      std::make_shared<sim::FpgaModel>([] { return kClockSeconds; });
  std::shared_ptr<sim::XbusModel> xbus_ = std::make_shared<sim::XbusModel>();
};

// While it lives, `path` has no model and the chassis root is an empty folder, so
// opening the device fails (and no real device of this machine is touched).
class MissingDevice {
 public:
  explicit MissingDevice(const char* path) : env_("CHASSIS_ROOT", root_.path().c_str()) {
    platform::UnregisterDeviceModel(path);
  }

 private:
  platform::TempFolder root_;
  platform::ScopedEnv env_;
};
