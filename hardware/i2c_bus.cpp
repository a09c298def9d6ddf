// The Linux I2C bus and the FPGA's I2C bridge (see i2c_bus.h).
#include "hardware/i2c_bus.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "devices/board_devices.h"
#include "hardware/delay.h"
#include "hardware/fpga_utils.h"
#include "platform/device.h"

namespace {

constexpr const char* kSource = "_util/i2c_utils";
constexpr uint32_t kBridgeWaitMicroseconds = 1000;

std::mutex bus_lock;     // each slave selection and transfer
std::mutex device_lock;  // a transaction of several transfers
std::mutex bridge_lock;  // each bridge command word and its wait
int bus_fd = -1;         // under bus_lock
// The slave the open bus has selected, -1 for none: the selection holds for the
// descriptor until changed, so a run of transfers to one slave selects it once.
int selected_slave = -1;  // under bus_lock

// Selects `address` on the bus. Called with bus_lock held.
int SelectSlave(uint8_t address) {
  if (selected_slave == address) return 0;
  if (platform::DeviceIoctlValue(bus_fd, kI2cSlaveRequest, address) == 0) {
    selected_slave = address;
    return 0;
  }
  selected_slave = -1;
  diag_error_line(kSource, "i2c_initialize", __LINE__, "i2c_initialize, failed to set slave address");
  return -1;
}

}  // namespace

int i2c_initialize() {
  std::lock_guard<std::mutex> hold(bus_lock);
  if (bus_fd >= 0) return 0;
  bus_fd = platform::DeviceOpen(kI2cDevicePath, O_RDWR);
  selected_slave = -1;
  if (bus_fd >= 0) return 0;
  const int error = errno;
  diag_error_line(kSource, "i2c_initialize", __LINE__, "i2c_initialize, open i2c dev failed.");
  std::printf(" %s\n", std::strerror(error));
  return -1;
}

int i2c_write_byte(uint8_t address, uint8_t byte) {
  std::lock_guard<std::mutex> hold(bus_lock);
  if (bus_fd < 0 || SelectSlave(address) != 0) return -1;
  if (platform::DeviceWrite(bus_fd, &byte, 1) == 1) return 0;
  diag_error_line(kSource, "i2c_write_byte", __LINE__, "i2c_write_byte, write failed");
  return -1;
}

int i2c_read_byte(uint8_t address, uint8_t* byte) {
  std::lock_guard<std::mutex> hold(bus_lock);
  if (bus_fd < 0 || SelectSlave(address) != 0) return -1;
  if (platform::DeviceRead(bus_fd, byte, 1) == 1) return 0;
  diag_error_line(kSource, "i2c_read_byte", __LINE__, "i2c_read_byte, read failed");
  return -1;
}

std::mutex& I2cDeviceLock() { return device_lock; }

void ResetI2cForTest() {
  std::lock_guard<std::mutex> hold(bus_lock);
  if (bus_fd >= 0) platform::DeviceClose(bus_fd);
  bus_fd = -1;
  selected_slave = -1;
}

int fpga_i2c_initialize() {
  uint32_t word = 0;
  if (ReadFPGAregister(kFpgaI2cBridge, &word) == 0) return 0;
  diag_error_line(kSource, "fpga_i2c_initialize", __LINE__,
                  "fpga_i2c_initialize: the FPGA register window is not available\n");
  return -1;
}

int FpgaI2cBoardCode(int board_index) {
  if (board_index >= 0 && board_index < kFramChipCount) return kFramBoardCodes[board_index];
  diag_error_line(kSource, "FpgaI2cBoardCode", __LINE__, "default case\n");
  return -1;
}

int fpga_i2c_write_byte(int board_index, uint8_t slave, uint8_t reg, uint8_t data) {
  const int code = FpgaI2cBoardCode(board_index);
  if (code < 0) return -1;
  std::lock_guard<std::mutex> hold(bridge_lock);
  const int result = WriteFPGAregister(kFpgaI2cBridge, BridgeCommand(code, slave, false, reg, data));
  if (result != 0) return result;
  SleepMicroseconds(kBridgeWaitMicroseconds);
  return 0;
}

int fpga_i2c_read_byte(int board_index, uint8_t slave, uint8_t reg, uint8_t* data) {
  const int code = FpgaI2cBoardCode(board_index);
  if (code < 0) return -1;
  std::lock_guard<std::mutex> hold(bridge_lock);
  // A read carries the register number in the data field as well.
  int result = WriteFPGAregister(kFpgaI2cBridge, BridgeCommand(code, slave, true, reg, reg));
  if (result != 0) return result;
  SleepMicroseconds(kBridgeWaitMicroseconds);
  uint32_t word = 0;
  result = ReadFPGAregister(kFpgaI2cBridge, &word);
  if (result != 0) return result;
  *data = static_cast<uint8_t>(word & 0xFF);
  return 0;
}
