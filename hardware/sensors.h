// The controller board's temperature sensors: LM35 sensors (10 mV per degree) read by
// a MAX1039 ADC that sits on the Linux I2C bus (device 0) and, a second time, behind
// the FPGA's I2C bridge (device 1).
#pragma once

// Sends the ADC its setup and configuration bytes on both paths. 0, or -1 after the
// failure line.
int max1039_initialize();
// One conversion of `input` (0..10) on device 0 or 1. 0, or -1 after the failure line.
int max1039_read_byte(int device, int input, unsigned char* byte);
// The conversion as volts (3.3 V over 256 steps). 0, or -1.
int Max1039ReadVoltage(int device, int input, float* volts);
// Degrees Celsius from an LM35's output. Always 0.
int lm35dm_convert_volt2temp(float volts, float* degrees);
// Sensor 1 or 2 of the controller board: the mean of ten conversions, in degrees.
// 0, or -1 after the failure line. On a failed conversion *degrees holds the sum of
// the conversions made before it (the fan loop uses that value as it is).
int cpu_board_tempsens_get_reading(int sensor, float* degrees);
