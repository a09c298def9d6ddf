// The simulated devices a virtual chassis serves under its root: each device's
// firmware node and, where it has one, the node that people and tests use to act as
// the other end (the GPIB bus controller, the USB host).
#pragma once

namespace sim {

class DeviceServer;

// Adds every simulated device to `server`. 0, or a negated errno.
int AddSimulatedDevices(DeviceServer* server);

}  // namespace sim
