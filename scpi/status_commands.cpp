// The STATus subsystem: presetting the enables and reading the OPERation and
// QUEStionable registers that status.cpp keeps for the controller. Both registers
// have the same four commands; STATUS_REGISTER_COMMANDS spells them once.
#include "scpi/handler_support.h"
#include "scpi/scpi_handlers.h"

namespace {

int32_t ValidateEnable(CommandContext* context) { return ValidateInteger(context, 0, 32767); }

int32_t WriteEnable(StatusRegister which, CommandContext* context) {
  int32_t value = 0;
  ParseInteger(context->parameters[0], 0, 32767, &value);
  WriteStatusEnable(which, static_cast<uint16_t>(value));
  return 0;
}

}  // namespace

NO_PARAMETERS_VALIDATION(STATUS_PRESET)

int32_t STATUS_PRESET_DoExecutionConclusion(CommandContext* /*context*/) {
  WriteStatusEnable(StatusRegister::kOperation, 0);
  WriteStatusEnable(StatusRegister::kQuestionable, 0);
  return 0;
}

// [:EVENt]? (reads and clears), :CONDition?, :ENABle and :ENABle? of one register.
#define STATUS_REGISTER_COMMANDS(NAME, REGISTER)                                      \
  NO_PARAMETERS_VALIDATION(STATUS_##NAME##_EVENTQuery)                                \
  int32_t STATUS_##NAME##_EVENTQuery_DoExecutionConclusion(CommandContext* context) { \
    return SetIntegerReply(ReadStatusEvent(REGISTER), context);                       \
  }                                                                                   \
  NO_PARAMETERS_VALIDATION(STATUS_##NAME##_CONDITIONQuery)                            \
  int32_t STATUS_##NAME##_CONDITIONQuery_DoExecutionConclusion(                       \
      CommandContext* context) {                                                      \
    return SetIntegerReply(StatusCondition(REGISTER), context);                       \
  }                                                                                   \
  int32_t STATUS_##NAME##_ENABLE_DoContextValidation(CommandContext* context) {       \
    return ValidateEnable(context);                                                   \
  }                                                                                   \
  int32_t STATUS_##NAME##_ENABLE_DoExecutionConclusion(CommandContext* context) {     \
    return WriteEnable(REGISTER, context);                                            \
  }                                                                                   \
  NO_PARAMETERS_VALIDATION(STATUS_##NAME##_ENABLEQuery)                               \
  int32_t STATUS_##NAME##_ENABLEQuery_DoExecutionConclusion(CommandContext* context) { \
    return SetIntegerReply(StatusEnable(REGISTER), context);                          \
  }

STATUS_REGISTER_COMMANDS(OPERATION, StatusRegister::kOperation)
STATUS_REGISTER_COMMANDS(QUESTIONABLE, StatusRegister::kQuestionable)
