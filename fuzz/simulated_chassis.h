// For the fuzz targets that reach the hardware: the simulated FPGA and chassis bus
// driver registered in this process (as the unit tests register them), a temporary
// chassis root for every file the firmware writes, and long waits that return at
// once, so that a run never sleeps. Set up once per process, in LLVMFuzzerInitialize.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "hardware/delay.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/fpga_model.h"
#include "sim/xbus_model.h"

namespace fuzz {

struct SimulatedChassis {
  platform::TempFolder root;
  std::shared_ptr<sim::FpgaModel> fpga =
      std::make_shared<sim::FpgaModel>([] { return int64_t{1136073598}; });
  std::shared_ptr<sim::XbusModel> xbus = std::make_shared<sim::XbusModel>();
};

// The process' chassis, made on the first call. The root is removed at exit.
inline SimulatedChassis& Chassis() {
  static SimulatedChassis* chassis = [] {
    auto* made = new SimulatedChassis;
    if (made->root.path().empty()) {
      std::fprintf(stderr, "fuzz: no temporary chassis root\n");
      std::abort();
    }
    setenv("CHASSIS_ROOT", made->root.path().c_str(), 1);
    platform::RegisterDeviceModel(kFpgaMemoryPath, made->fpga);
    platform::RegisterDeviceModel(kXbusDevicePath, made->xbus);
    SetDelaySleepForTest([](uint32_t) {});
    std::atexit([] { delete chassis; });
    return made;
  }();
  return *chassis;
}

// Diagnostics go to standard output; libFuzzer reports on standard error, and printing
// every refusal would slow the run down.
inline void SilenceStandardOutput() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

}  // namespace fuzz
