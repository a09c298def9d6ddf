// Control of a running virtual chassis' hardware by other processes: list the cage,
// read relay coils and FPGA registers, make a relay stick, break a slot's local bus,
// raise a card interrupt, fire the external trigger input, queue a power failure;
// show the simulated LAN interface and change the network around it (the cable, the
// DHCP server, a host that answers for an address).
//
// The chassis serves a control device at kControlDevicePath under its root. Each
// write to it is one request line, "<subcommand> <arguments>" with the words of the
// `vchassis` subcommands (for example "coils 3" or "fpga read 0x4014"); the reply is
// then read from the same descriptor: a status line "OK" or "ERROR", then the answer
// or the reason. Reads return the rest of the reply and 0 once it has been read.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_model.h"
#include "sim/vchassis_devices.h"

namespace sim {

inline constexpr const char* kControlDevicePath = "/dev/vchassis";

// True when `words` (the subcommand and its arguments) name a control subcommand with
// the right number of arguments.
bool IsControlRequest(const std::vector<std::string>& words);
// One usage line per control subcommand, each "       vchassis <words> [--root DIR]".
std::string ControlUsage();
// The usage of the control subcommand whose name `words` begin with, whatever its
// arguments: "usage: vchassis <name> <arguments> [--root DIR]" and a line saying what
// it does. Empty when `words` name no control subcommand.
std::string ControlSubcommandUsage(const std::vector<std::string>& words);
// What is wrong with `words` for the control subcommand they name ("coils wants SLOT",
// "lan-button wants press or release"). Empty when they name none.
std::string ControlArgumentProblem(const std::vector<std::string>& words);

// What `vchassis controller-restart` runs: the running chassis connects it. It kills the
// controller and everything it started, starts it again on the same root and answers
// once the SCPI ports listen: 0 and the answer, or -1 and the reason.
using ControllerRestart = int (*)(std::string* answer);
void SetControllerRestart(ControllerRestart restart);

class ChassisControl {
 public:
  explicit ChassisControl(SimulatedHardware hardware) : hardware_(std::move(hardware)) {}

  // Carries out one request line. 0 and the answer, or -1 and the reason, in *answer;
  // either ends with a line feed.
  int Execute(std::string_view request, std::string* answer);

 private:
  SimulatedHardware hardware_;
};

// The control device: one ChassisControl, one pending reply per open descriptor.
class ControlDevice final : public platform::DeviceModel {
 public:
  static constexpr size_t kLongestRequest = 4096;

  explicit ControlDevice(SimulatedHardware hardware) : control_(std::move(hardware)) {}

  void Close(uint64_t open_id) override;
  ssize_t Read(uint64_t open_id, void* buffer, size_t size) override;
  ssize_t Write(uint64_t open_id, const void* buffer, size_t size) override;

 private:
  ChassisControl control_;
  std::mutex mutex_;
  std::map<uint64_t, std::string> replies_;  // by open id: what is still to be read
};

// Sends a request (the words of a control subcommand) to the chassis CHASSIS_ROOT
// names. 0 and the answer, or -1 and the reason (the chassis cannot be reached, or it
// refused the request), in *answer.
int SendControlRequest(const std::vector<std::string>& words, std::string* answer);

}  // namespace sim
