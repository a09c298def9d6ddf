// The table of devices a virtual chassis serves.
#include "sim/vchassis_devices.h"

#include <memory>

#include "core/gpibdev_utils.h"
#include "hardware/fpga_registers.h"
#include "hardware/fpga_utils.h"
#include "hardware/xbus_requests.h"
#include "sim/device_server.h"
#include "sim/fpga_model.h"
#include "sim/gpib_model.h"
#include "sim/usbtmc_model.h"
#include "sim/xbus_model.h"

namespace sim {

int AddSimulatedDevices(DeviceServer* server) {
  auto gpib = std::make_shared<GpibModel>();
  auto usbtmc = std::make_shared<UsbtmcModel>();
  auto fpga = std::make_shared<FpgaModel>();
  auto xbus = std::make_shared<XbusModel>();
  // The FPGA's interrupt line reaches the firmware as bus driver events: the
  // chassis source is the external trigger input, the others are cards.
  fpga->SetInterruptSink([xbus](uint32_t sources) {
    if (sources & kFpgaChassisInterrupt) xbus->PostEvent(kXbusEventTrigger);
    if (sources & ~kFpgaChassisInterrupt) xbus->PostEvent(kXbusEventCardInterrupt);
  });
  struct Node {
    const char* path;
    std::shared_ptr<platform::DeviceModel> model;
  };
  const Node nodes[] = {
      {kGpibDevicePath, gpib->instrument_side()},
      {kGpibBusPath, gpib->host_side()},
      {kUsbtmcDevicePath, usbtmc->instrument_side()},
      {kUsbtmcHostPath, usbtmc->host_side()},
      {kFpgaMemoryPath, fpga},
      {kXbusDevicePath, xbus},
  };
  for (const Node& node : nodes) {
    int result = server->Add(node.path, node.model);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace sim
