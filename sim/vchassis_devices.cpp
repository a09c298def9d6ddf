// The table of devices a virtual chassis serves.
#include "sim/vchassis_devices.h"

#include <memory>

#include "core/gpibdev_utils.h"
#include "sim/device_server.h"
#include "sim/gpib_model.h"
#include "sim/usbtmc_model.h"

namespace sim {

int AddSimulatedDevices(DeviceServer* server) {
  auto gpib = std::make_shared<GpibModel>();
  auto usbtmc = std::make_shared<UsbtmcModel>();
  struct Node {
    const char* path;
    std::shared_ptr<platform::DeviceModel> model;
  };
  const Node nodes[] = {
      {kGpibDevicePath, gpib->instrument_side()},
      {kGpibBusPath, gpib->host_side()},
      {kUsbtmcDevicePath, usbtmc->instrument_side()},
      {kUsbtmcHostPath, usbtmc->host_side()},
  };
  for (const Node& node : nodes) {
    int result = server->Add(node.path, node.model);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace sim
