// The controller board's small devices as the virtual chassis simulates them:
//   - the LM35 temperature sensors (25 degrees until a person sets another) and the
//     MAX1039 ADC that converts them, on the Linux I2C bus ("/dev/i2c-0", slave 0x65
//     after an I2C_SLAVE request) and behind the FPGA's I2C bridge;
//   - the eleven FM24CL16 FRAM chips behind the bridge, by board code and slave
//     address, their contents kept in files under the chassis root; a chip without its
//     file starts blank, except chip 0, which a fresh root gets programmed as a factory
//     would (a MAC address with the maker's OUI, a serial number, a descriptor);
//   - the fan device ("/dev/qmfan0"): the last request, forced on or automatic;
//   - the LAN configuration reset button ("/dev/lci0"): each press and each release is
//     one edge; the wait request blocks until an edge is pending, the clear request
//     acknowledges one.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/board_devices.h"
#include "platform/device_model.h"
#include "sim/fpga_model.h"

namespace sim {

// The two LM35 sensors and the ADC converting them.
class TemperatureAdc {
 public:
  // Sensor 1 or 2; other numbers are ignored.
  void SetTemperature(int sensor, double degrees);
  double Temperature(int sensor) const;
  // A setup or configuration byte from the bus.
  void Receive(uint8_t byte);
  // One conversion of the selected input: the sensor's 10 mV per degree over 3.3 V in
  // 256 steps, rounded; inputs without a sensor read 0.
  uint8_t Convert() const;

 private:
  mutable std::mutex mutex_;
  std::array<double, 3> degrees_{0, 25, 25};  // by sensor; index 0 unused
  int input_ = 0;
};

// The FRAM chips and the bridge's view of the board.
class BoardBridge final : public I2cBridgeTarget {
 public:
  // `folder` keeps the chips' files ("fram-chip<N>"); empty: nothing persists.
  BoardBridge(std::string folder, std::shared_ptr<TemperatureAdc> adc);

  // Loads every chip from its file; a missing file leaves the chip blank (zeros) and
  // programs chip 0 as a factory would. 0, or -1 with *error.
  int Load(std::string* error);

  int Transfer(uint32_t command, uint8_t* data) override;

  // People's access to a chip. False when the range leaves the chip.
  bool Read(int chip, int address, int count, std::vector<uint8_t>* bytes) const;
  bool Write(int chip, int address, const std::vector<uint8_t>& bytes);

 private:
  void SaveLocked(int chip);
  std::string File(int chip) const;

  std::string folder_;
  std::shared_ptr<TemperatureAdc> adc_;
  mutable std::mutex mutex_;
  std::array<std::array<uint8_t, kFramChipSize>, kFramChipCount> chips_{};
};

// "/dev/i2c-0": the ADC is its one slave.
class I2cBusDevice final : public platform::DeviceModel {
 public:
  explicit I2cBusDevice(std::shared_ptr<TemperatureAdc> adc) : adc_(std::move(adc)) {}
  void Close(uint64_t open_id) override;
  ssize_t Read(uint64_t open_id, void* buffer, size_t size) override;
  ssize_t Write(uint64_t open_id, const void* buffer, size_t size) override;
  int IoctlValue(uint64_t open_id, unsigned long request, unsigned long value) override;

 private:
  // The selected slave of an open descriptor, or -ENXIO when it is not the ADC.
  int Slave(uint64_t open_id);

  std::shared_ptr<TemperatureAdc> adc_;
  std::mutex mutex_;
  std::map<uint64_t, unsigned long> slaves_;  // by open id
};

// "/dev/qmfan0".
class FanDevice final : public platform::DeviceModel {
 public:
  enum class Request { kNone, kOn, kAuto };
  Request Last() const;
  int IoctlValue(uint64_t open_id, unsigned long request, unsigned long value) override;

 private:
  mutable std::mutex mutex_;
  Request last_ = Request::kNone;
};

// "/dev/lci0".
class LanButtonDevice final : public platform::DeviceModel {
 public:
  // One edge: a press or a release.
  void Edge();
  int IoctlValue(uint64_t open_id, unsigned long request, unsigned long value) override;

 private:
  std::mutex mutex_;
  int pending_ = 0;
};

}  // namespace sim
