// FRAM bytes and records through the FPGA's I2C bridge (see fram.h).
#include "hardware/fram.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>

#include "core/diag_print.h"
#include "devices/board_devices.h"
#include "hardware/i2c_bus.h"

namespace {

constexpr const char* kSource = "_util/fram_utils";
constexpr int kWriteAttempts = 4;
constexpr int kReadPasses = 4;
constexpr int kReadsPerPass = 3;
constexpr int kMacAttempts = 5;
constexpr const char* kUnprogrammed = "UNPROGRAMMED";

bool InChip(int chip, int address, int length) {
  return chip >= 0 && chip < kFramChipCount && address >= 0 && length >= 0 &&
         address + length <= kFramChipSize;
}

int BridgeWrite(int chip, int address, uint8_t byte) {
  return fpga_i2c_write_byte(chip, FramSlave(address), FramRegister(address), byte);
}

int BridgeRead(int chip, int address, uint8_t* byte) {
  return fpga_i2c_read_byte(chip, FramSlave(address), FramRegister(address), byte);
}

void SleepOneSecond() { sleep(1); }
std::atomic<MacRetryWait> mac_retry_wait{SleepOneSecond};

// The address in use, as the last MAC read or write left it.
std::mutex mac_lock;
bool fram_mac_invalid = false;
uint8_t mac_in_use[kFramMacLength] = {};

bool HasMakerOui(const uint8_t mac[6]) { return std::memcmp(mac, kMakerOui, 3) == 0; }

void RememberMac(const uint8_t mac[6], bool fram_invalid) {
  std::lock_guard<std::mutex> hold(mac_lock);
  fram_mac_invalid = fram_invalid;
  std::memcpy(mac_in_use, mac, kFramMacLength);
}

// A zero-terminated text field: "UNPROGRAMMED" when the field holds no zero.
int ReadTextField(int chip, int address, int length, const char* caller, std::string* text) {
  uint8_t field[kFramDescriptorLength] = {};
  if (ReadFRAMBytes(chip, address, field, length) != 0) {
    diag_error_line(kSource, caller, __LINE__, "ReadFRAMBytes failed");
    return -1;
  }
  const void* end = std::memchr(field, 0, static_cast<size_t>(length));
  *text = end == nullptr ? std::string(kUnprogrammed)
                         : std::string(reinterpret_cast<const char*>(field));
  return 0;
}

int WriteTextField(int chip, int address, int length, const std::string& text,
                   const char* caller) {
  if (text.size() >= static_cast<size_t>(length) || text.find('\0') != std::string::npos) {
    return -1;
  }
  if (WriteFRAMBytes(chip, address, reinterpret_cast<const uint8_t*>(text.c_str()),
                     static_cast<int>(text.size()) + 1) != 0) {
    diag_error_line(kSource, caller, __LINE__, "WriteFRAMBytes failed");
    return -1;
  }
  return 0;
}

int ReadCounter(int chip, int address, const char* caller, uint32_t* count) {
  uint8_t bytes[kFramCounterBytes] = {};
  if (ReadFRAMBytes(chip, address, bytes, kFramCounterBytes) != 0) {
    diag_error_line(kSource, caller, __LINE__, "ReadFRAMBytes failed");
    return -1;
  }
  *count = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return 0;
}

int WriteCounter(int chip, int address, uint32_t count, const char* caller) {
  const uint8_t bytes[kFramCounterBytes] = {
      static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
      static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)};
  if (WriteFRAMBytes(chip, address, bytes, kFramCounterBytes) != 0) {
    diag_error_line(kSource, caller, __LINE__, "WriteFRAMBytes failed");
    return -1;
  }
  return 0;
}

// The counters a chip holds after its header.
int CounterCount(int header) { return (kFramChipSize - header) / kFramCounterBytes; }
constexpr int kAdapterHeader = kFramAdapterDescriptorLength;
bool ValidAdapter(int adapter) { return adapter >= 1 && adapter <= kFramAdapterCount; }

}  // namespace

int WriteFRAMByte(int chip, int address, uint8_t byte) {
  if (!InChip(chip, address, 1)) return -1;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    int result = BridgeWrite(chip, address, byte);
    uint8_t back = 0;
    if (result == 0) result = BridgeRead(chip, address, &back);
    if (result != 0) return result;
    if (back == byte) return 0;
  }
  diag_warning_line(kSource, "WriteFRAMByte", __LINE__,
                    "Byte written to FRAM was not read back\n");
  return -1;
}

int ReadFRAMByte(int chip, int address, uint8_t* byte) {
  if (!InChip(chip, address, 1)) return -1;
  uint8_t reads[kReadsPerPass] = {};
  for (int pass = 0; pass < kReadPasses; ++pass) {
    for (uint8_t& read : reads) {
      const int result = BridgeRead(chip, address, &read);
      if (result != 0) return result;
    }
    *byte = reads[0];
    if (reads[0] == reads[1] && reads[1] == reads[2]) return 0;
  }
  diag_warning_line(kSource, "ReadFRAMByte", __LINE__,
                    "Was not able to read the same byte back from FRAM successively\n");
  return -1;
}

int WriteFRAMBytes(int chip, int address, const uint8_t* bytes, int length) {
  if (!InChip(chip, address, length)) return -1;
  for (int i = 0; i < length; ++i) {
    if (WriteFRAMByte(chip, address + i, bytes[i]) != 0) return -1;
  }
  return 0;
}

int ReadFRAMBytes(int chip, int address, uint8_t* bytes, int length) {
  if (!InChip(chip, address, length)) return -1;
  for (int i = 0; i < length; ++i) {
    if (ReadFRAMByte(chip, address + i, &bytes[i]) != 0) return -1;
  }
  return 0;
}

int ReadFRAMMacAddr(uint8_t mac[6]) {
  for (int attempt = 0; attempt < kMacAttempts; ++attempt) {
    // A failed read is reported and its bytes are still tested.
    if (ReadFRAMBytes(kFramControllerChip, kFramMacAddress, mac, kFramMacLength) != 0) {
      diag_error_line(kSource, "ReadFRAMMacAddr", __LINE__, "ReadFRAMBytes failed");
    }
    if (HasMakerOui(mac)) {
      RememberMac(mac, false);
      return 0;
    }
    diag_error_line(kSource, "ReadFRAMMacAddr", __LINE__,
                    "MAC address from fram has incorrect OUI: %2x.%2x.%2x.%2x.%2x.%2x\n", mac[0],
                    mac[1], mac[2], mac[3], mac[4], mac[5]);
    mac_retry_wait.load()();
  }
  std::mt19937 random(static_cast<uint32_t>(std::time(nullptr)));
  std::memcpy(mac, kMakerOui, 3);
  for (int i = 3; i < kFramMacLength; ++i) mac[i] = static_cast<uint8_t>(random());
  RememberMac(mac, true);
  return 0;
}

int WriteFRAMMacAddr(const uint8_t mac[6]) {
  if (WriteFRAMBytes(kFramControllerChip, kFramMacAddress, mac, kFramMacLength) != 0) {
    diag_error_line(kSource, "WriteFRAMMacAddr", __LINE__, "WriteFRAMBytes failed");
    return -1;
  }
  // What the FRAM now holds is known; an address without the OUI is the one in use.
  RememberMac(mac, !HasMakerOui(mac));
  return 0;
}

int ReadMacAddressInUse(uint8_t mac[6]) {
  {
    std::lock_guard<std::mutex> hold(mac_lock);
    if (fram_mac_invalid) {
      std::memcpy(mac, mac_in_use, kFramMacLength);
      return 0;
    }
  }
  return ReadFRAMMacAddr(mac);
}

void SetMacRetryWaitForTest(MacRetryWait wait) {
  mac_retry_wait = wait != nullptr ? wait : SleepOneSecond;
}

void ForgetMacAddressForTest() {
  std::lock_guard<std::mutex> hold(mac_lock);
  fram_mac_invalid = false;
  std::memset(mac_in_use, 0, sizeof mac_in_use);
}

int ReadFRAMSerialNumber(std::string* text) {
  return ReadTextField(kFramControllerChip, kFramSerialNumber, kFramSerialLength,
                       "ReadFRAMSerialNumber", text);
}

int WriteFRAMSerialNumber(const std::string& text) {
  return WriteTextField(kFramControllerChip, kFramSerialNumber, kFramSerialLength, text,
                        "WriteFRAMSerialNumber");
}

int ReadFRAMDescriptor(std::string* text) {
  return ReadTextField(kFramControllerChip, kFramDescriptor, kFramDescriptorLength,
                       "ReadFRAMDescriptor", text);
}

int WriteFRAMDescriptor(const std::string& text) {
  return WriteTextField(kFramControllerChip, kFramDescriptor, kFramDescriptorLength, text,
                        "WriteFRAMDescriptor");
}

int ReadFRAMBackplaneRelayCounter(int n, uint32_t* count) {
  if (n < 0 || n >= CounterCount(0)) return -1;
  return ReadCounter(kFramBackplaneChip, n * kFramCounterBytes, "ReadFRAMBackplaneRelayCounter",
                     count);
}

int WriteFRAMBackplaneRelayCounter(int n, uint32_t count) {
  if (n < 0 || n >= CounterCount(0)) return -1;
  return WriteCounter(kFramBackplaneChip, n * kFramCounterBytes, count,
                      "WriteFRAMBackplaneRelayCounter");
}

int ReadFRAMAdapterRelayCounter(int adapter, int n, uint32_t* count) {
  if (!ValidAdapter(adapter) || n < 0 || n >= CounterCount(kAdapterHeader)) return -1;
  return ReadCounter(adapter + 1, kAdapterHeader + n * kFramCounterBytes,
                     "ReadFRAMAdapterRelayCounter", count);
}

int WriteFRAMAdapterRelayCounter(int adapter, int n, uint32_t count) {
  if (!ValidAdapter(adapter) || n < 0 || n >= CounterCount(kAdapterHeader)) return -1;
  return WriteCounter(adapter + 1, kAdapterHeader + n * kFramCounterBytes, count,
                      "WriteFRAMAdapterRelayCounter");
}

int ReadFRAMAdapterDescriptor(int adapter, std::string* text) {
  if (!ValidAdapter(adapter)) return -1;
  return ReadTextField(adapter + 1, 0, kFramAdapterDescriptorLength, "ReadFRAMAdapterDescriptor",
                       text);
}
