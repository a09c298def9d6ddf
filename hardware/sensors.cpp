// The temperature ADC and its sensors (see sensors.h).
#include "hardware/sensors.h"

#include <mutex>

#include "core/diag_print.h"
#include "devices/board_devices.h"
#include "hardware/i2c_bus.h"

namespace {

constexpr const char* kSource = "_util/max1039";
constexpr int kConversionsPerReading = 10;

}  // namespace

int max1039_initialize() {
  {
    std::lock_guard<std::mutex> hold(I2cDeviceLock());
    if (i2c_write_byte(kMax1039Address, kMax1039Setup) != 0) {
      diag_error_line(kSource, "max1039_initialize", __LINE__,
                      "max1039_initialize: i2c_write_byte setup byte failed");
      return -1;
    }
    if (i2c_write_byte(kMax1039Address, kMax1039Configuration) != 0) {
      diag_error_line(kSource, "max1039_initialize", __LINE__,
                      "max1039_initialize: i2c_write_byte config byte failed");
      return -1;
    }
  }
  // Behind the bridge the ADC takes the byte in the data field.
  if (fpga_i2c_write_byte(kBridgeAdcBoardIndex, kMax1039Address, kMax1039Setup, kMax1039Setup) != 0 ||
      fpga_i2c_write_byte(kBridgeAdcBoardIndex, kMax1039Address, kMax1039Configuration,
                          kMax1039Configuration) != 0) {
    diag_error_line(kSource, "max1039_initialize", __LINE__, "fpga_i2c_write_byte setup byte failed");
    return -1;
  }
  return 0;
}

int max1039_read_byte(int device, int input, unsigned char* byte) {
  switch (device) {
    case 0: {
      if (input > kMax1039LastInput || input < 0) {
        diag_error_line(kSource, "max1039_read_byte", __LINE__,
                        "max1039_read_byte, invalid channel number: %d", input);
        return -1;
      }
      std::lock_guard<std::mutex> hold(I2cDeviceLock());
      if (i2c_write_byte(kMax1039Address, Max1039Select(input)) != 0) return -1;
      return i2c_read_byte(kMax1039Address, byte);
    }
    case 1:
      if (input > kMax1039LastInput || input < 0) {
        diag_error_line(kSource, "max1039_read_byte", __LINE__, "Invalid channel number: %d",
                        input);
        return -1;
      }
      return fpga_i2c_read_byte(kBridgeAdcBoardIndex, kMax1039Address, Max1039Select(input), byte) == 0
                 ? 0
                 : -1;
    default:
      diag_error_line(kSource, "max1039_read_byte", __LINE__, "default case reached, %d", device);
      return -1;
  }
}

int Max1039ReadVoltage(int device, int input, float* volts) {
  unsigned char byte = 0;
  if (max1039_read_byte(device, input, &byte) != 0) return -1;
  *volts = static_cast<float>(byte) * static_cast<float>(kMax1039VoltsPerStep);
  return 0;
}

int lm35dm_convert_volt2temp(float volts, float* degrees) {
  *degrees = volts / static_cast<float>(kLm35VoltsPerDegree);
  return 0;
}

int cpu_board_tempsens_get_reading(int sensor, float* degrees) {
  if (sensor > 2) {
    diag_error_line(kSource, "cpu_board_tempsens_get_reading", __LINE__,
                    "Invalid sensor number passed in: %d", sensor);
    return -1;
  }
  if (sensor < 1) {
    diag_error_line(kSource, "cpu_board_tempsens_get_reading", __LINE__, "Default case reached");
    return -1;
  }
  float sum = 0;
  for (int i = 0; i < kConversionsPerReading; ++i) {
    float volts = 0;
    float reading = 0;
    if (Max1039ReadVoltage(0, kTemperatureSensorInput[sensor], &volts) != 0) {
      diag_error_line(kSource, "cpu_board_tempsens_get_reading", __LINE__,
                      "Max1039_read_voltage failed.");
      *degrees = sum;
      return -1;
    }
    lm35dm_convert_volt2temp(volts, &reading);
    sum += reading;
  }
  *degrees = sum / kConversionsPerReading;
  return 0;
}
