// The controller board's small devices, shared by the firmware that drives them and the
// simulated board that answers: the Linux I2C bus with its temperature ADC, the FPGA's
// I2C bridge to the FRAM chips and the record layout of those chips, the fan device
// and the LAN configuration reset button.
#pragma once

#include <cstdint>

// ---- Linux I2C bus ("/dev/i2c-0"): one byte per read or write, to the slave that the
// I2C_SLAVE request (a plain value argument) selected on that descriptor.
inline constexpr const char* kI2cDevicePath = "/dev/i2c-0";
inline constexpr unsigned long kI2cSlaveRequest = 0x0703;  // I2C_SLAVE

// ---- MAX1039 ADC (7-bit address 0x65), on the Linux bus and behind the FPGA bridge.
// A byte with bit 7 set is a setup byte, else a configuration byte; the configuration
// byte selects the input in bits 1-4. Each read is one conversion of that input, 8 bits
// over 3.3 V.
inline constexpr uint8_t kMax1039Address = 0x65;
inline constexpr uint8_t kMax1039Setup = 0xAA;         // internal clock, external reference
inline constexpr uint8_t kMax1039Configuration = 0x61; // convert the selected input, single-ended
inline constexpr uint8_t kMax1039SetupBit = 0x80;
inline constexpr int kMax1039LastInput = 10;  // the highest input a read may select
inline constexpr double kMax1039VoltsPerStep = 0.012890625;
constexpr uint8_t Max1039Select(int input) {
  return static_cast<uint8_t>((input << 1) | kMax1039Configuration);
}
constexpr int Max1039SelectedInput(uint8_t configuration) { return configuration >> 1 & 0x0F; }
// The LM35 sensors' inputs: sensor 1 on input 8, sensor 2 on input 7; 10 mV per degree.
inline constexpr int kTemperatureSensorInput[] = {0, 8, 7};
inline constexpr double kLm35VoltsPerDegree = 0.01;

// ---- FPGA I2C bridge: one 32-bit command word per byte on FPGA register 0x4000
// (kFpgaI2cBridge).
inline constexpr int kBridgeBoardShift = 28;  // bits 28-31: board code
inline constexpr int kBridgeSlaveShift = 17;  // bits 17-23: 7-bit slave address
inline constexpr uint32_t kBridgeRead = 1u << 16;
inline constexpr int kBridgeRegisterShift = 8;  // bits 8-15: register (byte in the page)
constexpr uint32_t BridgeCommand(int board_code, uint8_t slave, bool read, uint8_t reg,
                                 uint8_t data) {
  return static_cast<uint32_t>(board_code & 0xF) << kBridgeBoardShift |
         static_cast<uint32_t>(slave & 0x7F) << kBridgeSlaveShift | (read ? kBridgeRead : 0u) |
         static_cast<uint32_t>(reg) << kBridgeRegisterShift | data;
}
constexpr int BridgeBoardCode(uint32_t word) { return static_cast<int>(word >> kBridgeBoardShift); }
constexpr uint8_t BridgeSlave(uint32_t word) {
  return static_cast<uint8_t>(word >> kBridgeSlaveShift & 0x7F);
}
constexpr bool BridgeIsRead(uint32_t word) { return (word & kBridgeRead) != 0; }
constexpr uint8_t BridgeRegister(uint32_t word) {
  return static_cast<uint8_t>(word >> kBridgeRegisterShift);
}
constexpr uint8_t BridgeData(uint32_t word) { return static_cast<uint8_t>(word); }

// ---- FRAM chips (FM24CL16, 2 KiB each) behind the bridge, by chip number: 0 the
// controller board, 1 the backplane, 2..10 the adapters 1..9. The board code of each.
inline constexpr int kFramChipCount = 11;
inline constexpr int kFramBoardCodes[kFramChipCount] = {13, 14, 4, 3, 2, 1, 0, 5, 6, 7, 8};
inline constexpr int kFramChipSize = 2048;
inline constexpr uint8_t kFramSlaveBase = 0x50;  // + the 256-byte page (0..7)
constexpr uint8_t FramSlave(int address) {
  return static_cast<uint8_t>(kFramSlaveBase + (address >> 8 & 7));
}
constexpr uint8_t FramRegister(int address) { return static_cast<uint8_t>(address & 0xFF); }
// The temperature ADC behind the bridge is reached with board index 2 of the table.
inline constexpr int kBridgeAdcBoardIndex = 2;

// Chip 0 records.
inline constexpr int kFramControllerChip = 0;
inline constexpr int kFramMacAddress = 0;  // 6 bytes, in transmission order
inline constexpr int kFramMacLength = 6;
inline constexpr int kFramSerialNumber = 6;  // zero-terminated text in 17 bytes
inline constexpr int kFramSerialLength = 17;
inline constexpr int kFramDescriptor = 23;  // zero-terminated text in 80 bytes
inline constexpr int kFramDescriptorLength = 80;
// The instrument maker's OUI, the first three bytes of every MAC address it assigns.
inline constexpr uint8_t kMakerOui[3] = {0x00, 0x5A, 0x7C};

// Chip 1: analog-bus relay counter n at 4n. Adapter chips: the descriptor (7 characters
// and a zero) at 0, relay counter n at 8 + 4n. Counters are u32, least significant first.
inline constexpr int kFramBackplaneChip = 1;
inline constexpr int kFramCounterBytes = 4;
inline constexpr int kFramAdapterDescriptorLength = 8;
inline constexpr int kFramAdapterCount = 9;

// ---- Fan device: two requests without argument.
inline constexpr const char* kFanDevicePath = "/dev/qmfan0";
inline constexpr unsigned long kFansOnRequest = 0x6800;    // fans forced on
inline constexpr unsigned long kFansAutoRequest = 0x6801;  // fans under automatic control

// ---- LAN configuration reset button: two requests without argument.
inline constexpr const char* kLciDevicePath = "/dev/lci0";
inline constexpr unsigned long kLciWaitEvent = 0x6600;   // IOCTL_WAIT_LCI_EVENT: next edge
inline constexpr unsigned long kLciClearEvent = 0x6601;  // IOCTL_CLEAR_LCI_EVENT: acknowledge
