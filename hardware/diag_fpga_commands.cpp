// The hardware service commands: read and write FPGA registers and card local-bus
// registers by hand, and switch the access trace on and off. Validation parses every
// parameter, so execution only converts them again and acts.
#include <climits>
#include <cstddef>
#include <cstdio>

#include "hardware/fpga_utils.h"
#include "hardware/hardware_handlers.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"

namespace {

constexpr int32_t kDataOutOfRange = -222;
constexpr int32_t kLastSlot = 12;
constexpr int32_t kLastLocalBusAddress = 1023;

struct Range {
  int32_t minimum;
  int32_t maximum;
};

constexpr Range kAnyInteger = {INT32_MIN, INT32_MAX};
constexpr Range kFpgaAddressRange = {0, static_cast<int32_t>(kFpgaWindowLength) - 4};
constexpr Range kSlotRange = {1, kLastSlot};
constexpr Range kLocalBusAddressRange = {0, kLastLocalBusAddress};
constexpr Range kByteRange = {0, 255};

// The parameter count, then each parameter against its range; 0 or the SCPI code.
template <size_t N>
int32_t ParseIntegers(const CommandContext* context, const Range (&ranges)[N],
                      int32_t (&out)[N]) {
  int32_t code = CheckParameterCount(context, N, N);
  for (size_t i = 0; code == 0 && i < N; ++i) {
    code = ParseInteger(context->parameters[i], ranges[i].minimum, ranges[i].maximum, &out[i]);
  }
  return code;
}

// An FPGA address must name a whole register inside the window: anything else would
// reach past the mapping on the board.
template <size_t N>
int32_t ParseFpgaIntegers(const CommandContext* context, const Range (&ranges)[N],
                          int32_t (&out)[N]) {
  const int32_t code = ParseIntegers(context, ranges, out);
  if (code == 0 && out[0] % 4 != 0) return kDataOutOfRange;
  return code;
}

// Stores the validation's outcome in the command.
int32_t Conclude(CommandContext* context, int32_t code) {
  const int32_t stored =
      SetCommandResult(context, code == 0 ? kCommandValidated : kCommandFailed, code, nullptr);
  return stored != 0 ? stored : code;
}

int32_t AppendHex(unsigned long value, CommandContext* context) {
  char text[16];
  std::snprintf(text, sizeof text, "#H%lX", value);
  return AppendStringToReply(text, context);
}

int32_t ValidateTrace(CommandContext* context) { return ValidateBoolean(context); }

int32_t ExecuteTrace(CommandContext* context) {
  int32_t on = 0;
  ParseBoolean(context->parameters[0], &on);
  SetFpgaTrace(on != 0);
  return 0;
}

constexpr Range kFpgaReadRanges[] = {kFpgaAddressRange};
constexpr Range kFpgaWriteRanges[] = {kFpgaAddressRange, kAnyInteger};
constexpr Range kLocalBusReadRanges[] = {kSlotRange, kLocalBusAddressRange};
constexpr Range kLocalBusWriteRanges[] = {kSlotRange, kLocalBusAddressRange, kByteRange};

}  // namespace

int32_t DIAG_FPGA_READQuery_DoContextValidation(CommandContext* context) {
  int32_t values[1] = {};
  return Conclude(context, ParseFpgaIntegers(context, kFpgaReadRanges, values));
}

int32_t DIAG_FPGA_READQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t values[1] = {};
  ParseIntegers(context, kFpgaReadRanges, values);
  uint32_t value = 0;
  const int result = ReadFPGAregister(static_cast<uint32_t>(values[0]), &value);
  if (result != 0) return result;
  return AppendHex(value, context);
}

int32_t DIAG_FPGA_WRITE_DoContextValidation(CommandContext* context) {
  int32_t values[2] = {};
  return Conclude(context, ParseFpgaIntegers(context, kFpgaWriteRanges, values));
}

int32_t DIAG_FPGA_WRITE_DoExecutionConclusion(CommandContext* context) {
  int32_t values[2] = {};
  ParseIntegers(context, kFpgaWriteRanges, values);
  return WriteFPGAregister(static_cast<uint32_t>(values[0]), static_cast<uint32_t>(values[1]));
}

int32_t DIAG_LBUS_READQuery_DoContextValidation(CommandContext* context) {
  int32_t values[2] = {};
  return Conclude(context, ParseIntegers(context, kLocalBusReadRanges, values));
}

int32_t DIAG_LBUS_READQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t values[2] = {};
  ParseIntegers(context, kLocalBusReadRanges, values);
  uint8_t byte = 0;
  const int result = ReadByteFromLocalBus(values[0], static_cast<uint32_t>(values[1]), &byte);
  if (result != 0) return result;
  return AppendHex(byte, context);
}

int32_t DIAG_LBUS_WRITE_DoContextValidation(CommandContext* context) {
  int32_t values[3] = {};
  return Conclude(context, ParseIntegers(context, kLocalBusWriteRanges, values));
}

int32_t DIAG_LBUS_WRITE_DoExecutionConclusion(CommandContext* context) {
  int32_t values[3] = {};
  ParseIntegers(context, kLocalBusWriteRanges, values);
  return WriteByteToLocalBus(values[0], static_cast<uint32_t>(values[1]),
                             static_cast<uint8_t>(values[2]));
}

int32_t TRACE_SERIALPORT_DoContextValidation(CommandContext* context) {
  return ValidateTrace(context);
}
int32_t TRACE_SERIALPORT_DoExecutionConclusion(CommandContext* context) {
  return ExecuteTrace(context);
}
int32_t TRACE_SERIALNUMBER_DoContextValidation(CommandContext* context) {
  return ValidateTrace(context);
}
int32_t TRACE_SERIALNUMBER_DoExecutionConclusion(CommandContext* context) {
  return ExecuteTrace(context);
}
