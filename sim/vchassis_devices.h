// The simulated hardware of a virtual chassis and the devices it serves under its root:
// the FPGA, the chassis bus driver with a card model plugged into each slot the chassis
// description names, each device's firmware node and, where it has one, the node that
// people and tests use to act as the other end (the GPIB bus controller, the USB host,
// the control device of vchassis_control.h).
//
// Cards with relay counters keep them in an on-card FRAM; its contents persist under
// the chassis root as "<root>/sim/fram-slot<N>": loaded when the hardware is built,
// saved whenever the firmware closes a FRAM write sequence and when the chassis stops.
// The controller board's FRAM chips persist beside them ("<root>/sim/fram-chip<N>"),
// saved at every byte that changes.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "sim/chassis_description.h"
#include "sim/xbus_model.h"

namespace sim {

class BoardBridge;
class CardModel;
class DeviceServer;
class FanDevice;
class FpgaModel;
class LanButtonDevice;
class TemperatureAdc;

struct SimulatedHardware {
  std::shared_ptr<FpgaModel> fpga;
  std::shared_ptr<XbusModel> xbus;
  std::array<std::shared_ptr<CardModel>, kSlotCount> cards;  // by slot; null: empty
  std::string fram_folder;  // where FRAM contents persist; empty: they do not
  // The controller board: its sensors and ADC, the FRAM chips behind the FPGA's I2C
  // bridge, the fan device and the LAN reset button.
  std::shared_ptr<TemperatureAdc> adc;
  std::shared_ptr<BoardBridge> bridge;
  std::shared_ptr<FanDevice> fans;
  std::shared_ptr<LanButtonDevice> lan_button;
};

// The folder under a chassis root that holds the FRAM files.
std::string FramFolder(const std::string& root);
// The file that keeps the FRAM of the `model` card in `slot`. The model is part of the
// name: a cage that puts another card in the slot must not take over its counters.
std::string FramFile(const std::string& fram_folder, int slot, const std::string& model);

// Builds the FPGA, the bus driver and the controller board's devices, wires the FPGA's
// interrupt line to the driver's events and its I2C bridge to the board, and plugs a
// card of each model the description names into its slot. With a `fram_folder`, each
// card with relay counters starts from the FRAM file of its slot when there is one, and
// the board's FRAM chips from theirs. 0, or -1 with *error (a model the catalogue
// cannot make, or a FRAM file that cannot be read or does not fit its chip or card).
int BuildHardware(const ChassisDescription& description, const std::string& fram_folder,
                  SimulatedHardware* hardware, std::string* error);

// Writes the FRAM file of every card with relay counters. 0, or -1 with *error naming
// the first file that could not be written (the others are still written).
int SaveFramImages(const SimulatedHardware& hardware, std::string* error);

// The log under the root's sim folder to which every stand-in tool appends the command
// line it was called with.
std::string CommandLogFile(const std::string& fram_folder);

// Serves every simulated device of `hardware` with `server`. 0, or a negated errno.
int AddSimulatedDevices(DeviceServer* server, const SimulatedHardware& hardware);

}  // namespace sim
