// For the LAN tests: a temporary chassis root, and the controller board's FRAM behind
// the simulated FPGA's I2C bridge so that the identity has a serial number to read.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devices/board_devices.h"
#include "devices/fpga_registers.h"
#include "hardware/fpga_utils.h"
#include "lan/identity.h"
#include "lan/serial_number.h"
#include "platform/device.h"
#include "platform/paths.h"
#include "platform/test_support.h"
#include "sim/board_models.h"
#include "sim/fpga_model.h"

class LanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFpgaAccessForTest();
    ForgetSerialNumberForTest();
    fpga_->SetI2cBridge(bridge_);
    platform::RegisterDeviceModel(kFpgaMemoryPath, fpga_);
    SetSerial("SN12345");
  }
  void TearDown() override {
    platform::UnregisterDeviceModel(kFpgaMemoryPath);
    ResetFpgaAccessForTest();
    ForgetSerialNumberForTest();
  }

  // The serial number field of the board's FRAM: `text` and its zero.
  void SetSerial(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    bridge_->Write(kFramControllerChip, kFramSerialNumber, bytes);
    ForgetSerialNumberForTest();
  }

  // A file under the root by its fixed path: its whole text, or "<missing>".
  std::string File(const std::string& fixed_path) const {
    std::ifstream file(root_.path() + fixed_path, std::ios::binary);
    if (!file) return "<missing>";
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  void Store(const std::string& fixed_path, const std::string& text) const {
    std::ofstream(root_.path() + fixed_path, std::ios::binary) << text;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
  std::shared_ptr<sim::FpgaModel> fpga_ = std::make_shared<sim::FpgaModel>();
  std::shared_ptr<sim::BoardBridge> bridge_ =
      std::make_shared<sim::BoardBridge>("", std::make_shared<sim::TemperatureAdc>());
};
