// The controller board's simulated devices (see board_models.h).
#include "sim/board_models.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "sim/file_bytes.h"

namespace sim {
namespace {

constexpr const char* kFactorySerialPrefix = "VC";
constexpr const char* kFactoryDescriptor = "Virtual chassis controller board";

// The chip a board code names, or -1.
int ChipOfBoardCode(int code) {
  for (int chip = 0; chip < kFramChipCount; ++chip) {
    if (kFramBoardCodes[chip] == code) return chip;
  }
  return -1;
}

}  // namespace

void TemperatureAdc::SetTemperature(int sensor, double degrees) {
  if (sensor < 1 || sensor > 2) return;
  std::lock_guard<std::mutex> lock(mutex_);
  degrees_[static_cast<size_t>(sensor)] = degrees;
}

double TemperatureAdc::Temperature(int sensor) const {
  if (sensor < 1 || sensor > 2) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  return degrees_[static_cast<size_t>(sensor)];
}

void TemperatureAdc::Receive(uint8_t byte) {
  if (byte & kMax1039SetupBit) return;  // setup: the clock and reference, nothing to keep
  std::lock_guard<std::mutex> lock(mutex_);
  input_ = Max1039SelectedInput(byte);
}

uint8_t TemperatureAdc::Convert() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int sensor = 1; sensor <= 2; ++sensor) {
    if (kTemperatureSensorInput[sensor] != input_) continue;
    const double steps = std::round(degrees_[static_cast<size_t>(sensor)] * kLm35VoltsPerDegree /
                                    kMax1039VoltsPerStep);
    return static_cast<uint8_t>(std::fmin(std::fmax(steps, 0), 255));
  }
  return 0;
}

BoardBridge::BoardBridge(std::string folder, std::shared_ptr<TemperatureAdc> adc)
    : folder_(std::move(folder)), adc_(std::move(adc)) {}

std::string BoardBridge::File(int chip) const {
  return folder_ + "/fram-chip" + std::to_string(chip);
}

int BoardBridge::Load(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int chip = 0; chip < kFramChipCount && !folder_.empty(); ++chip) {
    auto& bytes = chips_[static_cast<size_t>(chip)];
    const std::string path = File(chip);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
      if (chip != kFramControllerChip) continue;
      // A factory programs the controller board once: a MAC address of its own with
      // the maker's OUI, a serial number, a descriptor.
      std::random_device random;
      uint8_t* mac = bytes.data() + kFramMacAddress;
      std::memcpy(mac, kMakerOui, 3);
      for (int i = 3; i < kFramMacLength; ++i) mac[i] = static_cast<uint8_t>(random());
      char serial[kFramSerialLength];
      std::snprintf(serial, sizeof serial, "%s%02X%02X%02X", kFactorySerialPrefix, mac[3], mac[4],
                    mac[5]);
      std::memcpy(bytes.data() + kFramSerialNumber, serial, std::strlen(serial) + 1);
      std::memcpy(bytes.data() + kFramDescriptor, kFactoryDescriptor,
                  std::strlen(kFactoryDescriptor) + 1);
      SaveLocked(chip);
      continue;
    }
    std::vector<uint8_t> image;
    if (ReadFileBytes(path, &image, error) != 0) return -1;
    if (image.size() != kFramChipSize) {
      *error = path + " holds " + std::to_string(image.size()) + " bytes, not the chip's " +
               std::to_string(kFramChipSize) + ": remove the file for a blank chip";
      return -1;
    }
    std::memcpy(bytes.data(), image.data(), kFramChipSize);
  }
  return 0;
}

void BoardBridge::SaveLocked(int chip) {
  if (folder_.empty()) return;
  const auto& bytes = chips_[static_cast<size_t>(chip)];
  std::string error;
  if (ReplaceFileBytes(File(chip), bytes.data(), bytes.size(), &error) != 0) {
    std::fprintf(stderr, "vchassis: cannot keep FRAM chip %d: %s\n", chip, error.c_str());
  }
}

int BoardBridge::Transfer(uint32_t command, uint8_t* data) {
  const int code = BridgeBoardCode(command);
  const uint8_t slave = BridgeSlave(command);
  if (code == kFramBoardCodes[kBridgeAdcBoardIndex] && slave == kMax1039Address) {
    if (BridgeIsRead(command)) {
      adc_->Receive(BridgeRegister(command));
      *data = adc_->Convert();
    } else {
      adc_->Receive(BridgeData(command));
    }
    return 0;
  }
  const int chip = ChipOfBoardCode(code);
  if (chip < 0 || slave < kFramSlaveBase || slave > kFramSlaveBase + 7) return -ENXIO;
  const int address = (slave - kFramSlaveBase) << 8 | BridgeRegister(command);
  std::lock_guard<std::mutex> lock(mutex_);
  auto& bytes = chips_[static_cast<size_t>(chip)];
  if (BridgeIsRead(command)) {
    *data = bytes[static_cast<size_t>(address)];
  } else if (bytes[static_cast<size_t>(address)] != BridgeData(command)) {
    bytes[static_cast<size_t>(address)] = BridgeData(command);
    SaveLocked(chip);
  }
  return 0;
}

bool BoardBridge::Read(int chip, int address, int count, std::vector<uint8_t>* bytes) const {
  if (chip < 0 || chip >= kFramChipCount || address < 0 || count < 0 ||
      address + count > kFramChipSize) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& image = chips_[static_cast<size_t>(chip)];
  bytes->assign(image.begin() + address, image.begin() + address + count);
  return true;
}

bool BoardBridge::Write(int chip, int address, const std::vector<uint8_t>& bytes) {
  const int count = static_cast<int>(bytes.size());
  if (chip < 0 || chip >= kFramChipCount || address < 0 || address + count > kFramChipSize) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::memcpy(chips_[static_cast<size_t>(chip)].data() + address, bytes.data(), bytes.size());
  SaveLocked(chip);
  return true;
}

void I2cBusDevice::Close(uint64_t open_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  slaves_.erase(open_id);
}

int I2cBusDevice::Slave(uint64_t open_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto slave = slaves_.find(open_id);
  return slave != slaves_.end() && slave->second == kMax1039Address ? 0 : -ENXIO;
}

ssize_t I2cBusDevice::Read(uint64_t open_id, void* buffer, size_t size) {
  const int slave = Slave(open_id);
  if (slave != 0) return slave;
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < size; ++i) bytes[i] = adc_->Convert();
  return static_cast<ssize_t>(size);
}

ssize_t I2cBusDevice::Write(uint64_t open_id, const void* buffer, size_t size) {
  const int slave = Slave(open_id);
  if (slave != 0) return slave;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  for (size_t i = 0; i < size; ++i) adc_->Receive(bytes[i]);
  return static_cast<ssize_t>(size);
}

int I2cBusDevice::IoctlValue(uint64_t open_id, unsigned long request, unsigned long value) {
  if (request != kI2cSlaveRequest) return -ENOTTY;
  if (value > 0x7F) return -EINVAL;
  std::lock_guard<std::mutex> lock(mutex_);
  slaves_[open_id] = value;
  return 0;
}

FanDevice::Request FanDevice::Last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

int FanDevice::IoctlValue(uint64_t, unsigned long request, unsigned long) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (request == kFansOnRequest) {
    last_ = Request::kOn;
  } else if (request == kFansAutoRequest) {
    last_ = Request::kAuto;
  } else {
    return -ENOTTY;
  }
  return 0;
}

void LanButtonDevice::Edge() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pending_;
  }
  NotifyChanged();
}

int LanButtonDevice::IoctlValue(uint64_t, unsigned long request, unsigned long) {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (request) {
    case kLciWaitEvent:
      return pending_ > 0 ? 0 : -EAGAIN;
    case kLciClearEvent:
      if (pending_ > 0) --pending_;
      return 0;
    default:
      return -ENOTTY;
  }
}

}  // namespace sim
