// The board's service commands: the MAC address and the serial number kept in the
// controller board's FRAM, and the fan override.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/seam.h"
#include "hardware/fans.h"
#include "hardware/fram.h"
#include "hardware/hardware_handlers.h"
#include "hardware/sensors.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"

namespace {

constexpr std::size_t kMacFields = 6;
constexpr std::size_t kLongestSerialParameter = 78;

constexpr const char* kMacFormatDetail = "invalid parameter format, expecting XX.XX.XX.XX.XX.XX";
constexpr const char* kMacFieldDetail =
    "each MAC address component must be hexadecimal numeric between 0 and FF";
constexpr const char* kSerialQuotesDetail = "serial number should be string format";
constexpr const char* kSerialLongDetail = "serial number maximum length is 78 characters";
constexpr const char* kSerialEmptyDetail = "serial number minimum length is 1 character";
// The FRAM field holds 16 characters and the terminating zero.
constexpr const char* kSerialFieldDetail = "serial number maximum length is 16 characters";

Seam<int32_t(const uint8_t*)> mac_address_setter;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "XX.XX.XX.XX.XX.XX", optionally in matching quotes. 0, or -224 with its detail.
int32_t ParseMacAddress(const char* text, uint8_t mac[kMacFields], const char** detail) {
  std::string inner = text;
  if (!inner.empty() && (inner.front() == '\'' || inner.front() == '"')) {
    if (inner.size() < 2 || inner.back() != inner.front()) {
      *detail = kMacFormatDetail;
      return err::kIllegalParameterValue;
    }
    inner = inner.substr(1, inner.size() - 2);
  }
  std::size_t at = 0;
  bool too_large = false;
  for (std::size_t field = 0; field < kMacFields; ++field) {
    if (field > 0) {
      if (at >= inner.size() || inner[at] != '.') break;
      ++at;
    }
    const std::size_t start = at;
    unsigned value = 0;
    for (; at < inner.size() && HexDigit(inner[at]) >= 0; ++at) {
      if (value <= 0xFFF) value = value * 16 + static_cast<unsigned>(HexDigit(inner[at]));
    }
    if (at == start) break;
    if (value > 0xFF) too_large = true;
    mac[field] = static_cast<uint8_t>(value);
    if (field + 1 == kMacFields && at == inner.size()) {
      if (!too_large) return 0;
      *detail = kMacFieldDetail;
      return err::kIllegalParameterValue;
    }
  }
  *detail = kMacFormatDetail;
  return err::kIllegalParameterValue;
}

// The text between the serial number's quotes. 0, or -150 with its detail.
int32_t ParseSerialNumber(const char* text, std::string* serial, const char** detail) {
  const std::size_t length = std::strlen(text);
  if (length < 2 || (text[0] != '\'' && text[0] != '"') || text[length - 1] != text[0]) {
    *detail = kSerialQuotesDetail;
    return err::kStringDataError;
  }
  serial->assign(text + 1, length - 2);
  if (serial->size() > kLongestSerialParameter) {
    *detail = kSerialLongDetail;
  } else if (serial->empty()) {
    *detail = kSerialEmptyDetail;
  } else if (serial->size() > kSerialNumberLongest) {
    *detail = kSerialFieldDetail;
  } else {
    return 0;
  }
  return err::kStringDataError;
}

}  // namespace

void SetMacAddressSetter(MacAddressSetter setter) { mac_address_setter.Connect(setter); }

int32_t DIAG_MAC_ADDRESS_READQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}
int32_t DIAG_MAC_ADDRESS_READQuery_DoExecutionConclusion(CommandContext* context) {
  uint8_t mac[kMacFields] = {};
  ReadMacAddressInUse(mac);
  char text[24];
  std::snprintf(text, sizeof text, "%02X.%02X.%02X.%02X.%02X.%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return AppendToReply(text, std::strlen(text), ';', context);
}

int32_t DIAG_MAC_ADDRESS_WRITE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  const char* detail = nullptr;
  uint8_t mac[kMacFields] = {};
  if (code == 0) code = ParseMacAddress(context->parameters[0], mac, &detail);
  return ConcludeValidation(context, code, detail);
}
int32_t DIAG_MAC_ADDRESS_WRITE_DoExecutionConclusion(CommandContext* context) {
  uint8_t mac[kMacFields] = {};
  const char* detail = nullptr;
  ParseMacAddress(context->parameters[0], mac, &detail);
  const int32_t written = WriteFRAMMacAddr(mac) == 0 ? 0 : err::kHardwareError;
  const MacAddressSetter apply = mac_address_setter.function();
  const int32_t applied = apply != nullptr ? apply(mac) : 0;
  return written != 0 ? written : applied;
}

int32_t DIAG_SERIALNUMBER_READQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}
int32_t DIAG_SERIALNUMBER_READQuery_DoExecutionConclusion(CommandContext* context) {
  std::string serial;
  if (ReadFRAMSerialNumber(&serial) != 0) return err::kHardwareError;
  // A board whose serial was never written still answers: an empty element.
  if (serial.empty()) return AppendEmptyReply(context);
  return AppendToReply(serial.c_str(), serial.size(), ',', context);
}

int32_t DIAG_SERIALNUMBER_WRITE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  const char* detail = nullptr;
  std::string serial;
  if (code == 0) code = ParseSerialNumber(context->parameters[0], &serial, &detail);
  return ConcludeValidation(context, code, detail);
}
int32_t DIAG_SERIALNUMBER_WRITE_DoExecutionConclusion(CommandContext* context) {
  std::string serial;
  const char* detail = nullptr;
  ParseSerialNumber(context->parameters[0], &serial, &detail);
  return WriteFRAMSerialNumber(serial) == 0 ? 0 : err::kHardwareError;
}

int32_t DIAG_FANOVERRIDE_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t DIAG_FANOVERRIDE_DoExecutionConclusion(CommandContext* context) {
  SetFanOverride(BooleanParameter(context));
  return 0;
}
// The fans: the override, what the chassis fans were last told (ON forced, AUTO, NONE
// not yet), and the bus-board fan (1 on, 0 off or never switched).
NO_PARAMETERS_VALIDATION(DIAG_FANOVERRIDEQuery)
int32_t DIAG_FANOVERRIDEQuery_DoExecutionConclusion(CommandContext* context) {
  const int chassis = ChassisFansState();
  const std::string text = std::string(FanOverride() ? "1" : "0") + "," +
                           (chassis == 1 ? "ON" : chassis == 0 ? "AUTO" : "NONE") + "," +
                           (GpibFanState() == 1 ? "1" : "0");
  return AppendToReply(text.c_str(), text.size(), ',', context);
}

// The controller board's two temperature sensors, in degrees Celsius.
NO_PARAMETERS_VALIDATION(DIAG_TEMPERATUREQuery)
int32_t DIAG_TEMPERATUREQuery_DoExecutionConclusion(CommandContext* context) {
  float degrees[2] = {};
  for (int sensor = 1; sensor <= 2; ++sensor) {
    if (cpu_board_tempsens_get_reading(sensor, &degrees[sensor - 1]) != 0) return err::kHardwareError;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.1f,%.1f", degrees[0], degrees[1]);
  return AppendToReply(text, static_cast<size_t>(length), ',', context);
}
