// The chassis serial number (see serial_number.h).
#include "lan/serial_number.h"

#include <cctype>
#include <mutex>

#include "hardware/fram.h"

namespace {

constexpr const char* kNotAssigned = "NOT ASSIGNED";
constexpr size_t kSerialExamined = 17;

std::mutex serial_lock;
std::string serial_number;  // empty until read

}  // namespace

std::string GetSerialNumber() {
  std::lock_guard<std::mutex> hold(serial_lock);
  if (!serial_number.empty()) return serial_number;
  std::string read;
  if (ReadFRAMSerialNumber(&read) != 0) return kNotAssigned;
  for (size_t i = 0; i < read.size() && i < kSerialExamined; ++i) {
    if (read[i] < ' ' || read[i] > '~') return kNotAssigned;
  }
  if (read.empty()) return kNotAssigned;
  serial_number = read;
  return serial_number;
}

std::string SerialForNames() {
  std::string serial = GetSerialNumber();
  for (char& c : serial) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '-';
  }
  return serial;
}

void ForgetSerialNumberForTest() {
  std::lock_guard<std::mutex> hold(serial_lock);
  serial_number.clear();
}

