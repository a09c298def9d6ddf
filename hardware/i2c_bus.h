// The controller board's two I2C paths: the Linux I2C bus ("/dev/i2c-0"), where the
// temperature ADC sits, and the FPGA's I2C bridge (one command word per byte on FPGA
// register 0x4000), which reaches the FRAM chips and a second view of the same ADC.
//
// The fan loops and the command threads share both paths. The Linux bus has a bus lock
// around each slave selection and transfer, and a device lock that a caller holds
// across a transaction of several transfers (I2cDeviceLock). The bridge has its own
// lock around each command word and its 1 ms wait. The locks exist from program start,
// so a caller that runs before the start-up step (the LAN set-up reads the MAC address
// first) is safe.
#pragma once

#include <cstdint>
#include <mutex>

// Opens the Linux I2C bus read-write, once. 0, or -1 after the failure line.
int i2c_initialize();
// One byte to or from the slave at the 7-bit `address`, under the bus lock.
// 0, or -1 after the failure line.
int i2c_write_byte(uint8_t address, uint8_t byte);
int i2c_read_byte(uint8_t address, uint8_t* byte);
// The lock a transaction of several transfers on the Linux bus holds.
std::mutex& I2cDeviceLock();
// Closes the bus, so that a test starts from a fresh process' state.
void ResetI2cForTest();

// Makes the bridge ready: maps the FPGA register window it lives in. 0, or -1 after
// the failure line.
int fpga_i2c_initialize();
// The bridge's board code of FRAM chip (board index) 0..10; -1 after the "default
// case" line for any other index.
int FpgaI2cBoardCode(int board_index);
// One byte through the bridge to the slave at `slave` on board `board_index`: a write
// of `data` to register `reg`, or a read of register `reg`. 0, -1 for a board index
// outside the table, or the FPGA access error, returned at once.
int fpga_i2c_write_byte(int board_index, uint8_t slave, uint8_t reg, uint8_t data);
int fpga_i2c_read_byte(int board_index, uint8_t slave, uint8_t reg, uint8_t* data);
