// The hardware service commands: read and write FPGA registers and card local-bus
// registers by hand, and switch the access trace on and off. Each register command is
// described by the ranges of its integer parameters; validation checks them, and
// execution converts the same parameters again and acts.
#include <array>
#include <climits>
#include <cstddef>
#include <cstdio>

#include "hardware/fpga_utils.h"
#include "hardware/hardware_handlers.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"

namespace {

constexpr std::size_t kMostParameters = 3;

struct Range {
  int32_t minimum;
  int32_t maximum;
};

// The integer parameters of one command. An FPGA address (the first parameter where
// set) must also name a whole register: anything else would reach past the mapping
// on the board.
struct Shape {
  std::array<Range, kMostParameters> ranges;
  int32_t count;
  bool fpga_address;
};

constexpr Range kAnyInteger = {INT32_MIN, INT32_MAX};
constexpr Range kFpgaAddress = {0, static_cast<int32_t>(kFpgaWindowLength) - 4};
constexpr Range kSlot = {1, 12};
constexpr Range kLocalBusAddress = {0, 1023};
constexpr Range kByte = {0, 255};

constexpr Shape kFpgaRead = {{kFpgaAddress}, 1, true};
constexpr Shape kFpgaWrite = {{kFpgaAddress, kAnyInteger}, 2, true};
constexpr Shape kLocalBusRead = {{kSlot, kLocalBusAddress}, 2, false};
constexpr Shape kLocalBusWrite = {{kSlot, kLocalBusAddress, kByte}, 3, false};

using Values = std::array<int32_t, kMostParameters>;

// The parameter count, then each parameter against its range; 0 or the SCPI code.
int32_t Parse(const CommandContext* context, const Shape& shape, Values* values) {
  int32_t code = CheckParameterCount(context, shape.count, shape.count);
  for (int32_t i = 0; code == 0 && i < shape.count; ++i) {
    const Range& range = shape.ranges[static_cast<std::size_t>(i)];
    code = ParseInteger(context->parameters[i], range.minimum, range.maximum,
                        &(*values)[static_cast<std::size_t>(i)]);
  }
  if (code == 0 && shape.fpga_address && (*values)[0] % 4 != 0) code = err::kDataOutOfRange;
  return code;
}

// Validation: parses and stores the outcome in the command.
int32_t Validate(CommandContext* context, const Shape& shape) {
  Values values{};
  const int32_t code = Parse(context, shape, &values);
  const int32_t stored =
      SetCommandResult(context, code == 0 ? kCommandValidated : kCommandFailed, code, nullptr);
  return stored != 0 ? stored : code;
}

// Execution: the values validation already accepted.
Values Parameters(const CommandContext* context, const Shape& shape) {
  Values values{};
  Parse(context, shape, &values);
  return values;
}

uint32_t Unsigned(int32_t value) { return static_cast<uint32_t>(value); }

// The value read as "#H..." after a successful read, else the read's error.
int32_t AnswerHex(int read_result, unsigned long value, CommandContext* context) {
  if (read_result != 0) return read_result;
  char text[16];
  std::snprintf(text, sizeof text, "#H%lX", value);
  return AppendStringToReply(text, context);
}

int32_t ExecuteTrace(CommandContext* context) {
  int32_t on = 0;
  ParseBoolean(context->parameters[0], &on);
  SetFpgaTrace(on != 0);
  return 0;
}

}  // namespace

int32_t DIAG_FPGA_READQuery_DoContextValidation(CommandContext* context) {
  return Validate(context, kFpgaRead);
}
int32_t DIAG_FPGA_READQuery_DoExecutionConclusion(CommandContext* context) {
  const Values p = Parameters(context, kFpgaRead);
  uint32_t value = 0;
  const int result = ReadFPGAregister(Unsigned(p[0]), &value);
  return AnswerHex(result, value, context);
}

int32_t DIAG_FPGA_WRITE_DoContextValidation(CommandContext* context) {
  return Validate(context, kFpgaWrite);
}
int32_t DIAG_FPGA_WRITE_DoExecutionConclusion(CommandContext* context) {
  const Values p = Parameters(context, kFpgaWrite);
  return WriteFPGAregister(Unsigned(p[0]), Unsigned(p[1]));
}

int32_t DIAG_LBUS_READQuery_DoContextValidation(CommandContext* context) {
  return Validate(context, kLocalBusRead);
}
int32_t DIAG_LBUS_READQuery_DoExecutionConclusion(CommandContext* context) {
  const Values p = Parameters(context, kLocalBusRead);
  uint8_t byte = 0;
  const int result = ReadByteFromLocalBus(p[0], Unsigned(p[1]), &byte);
  return AnswerHex(result, byte, context);
}

int32_t DIAG_LBUS_WRITE_DoContextValidation(CommandContext* context) {
  return Validate(context, kLocalBusWrite);
}
int32_t DIAG_LBUS_WRITE_DoExecutionConclusion(CommandContext* context) {
  const Values p = Parameters(context, kLocalBusWrite);
  return WriteByteToLocalBus(p[0], Unsigned(p[1]), static_cast<uint8_t>(p[2]));
}

// The two trace commands are one switch under two names.
int32_t TRACE_SERIALPORT_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t TRACE_SERIALPORT_DoExecutionConclusion(CommandContext* context) {
  return ExecuteTrace(context);
}
int32_t TRACE_SERIALNUMBER_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t TRACE_SERIALNUMBER_DoExecutionConclusion(CommandContext* context) {
  return ExecuteTrace(context);
}
