// The STATus subsystem: presetting the enables and reading the OPERation and
// QUEStionable registers that status.cpp keeps for the controller.
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

int32_t STATUS_PRESET_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_PRESET_DoExecutionConclusion(CommandContext* /*context*/) {
  WriteStatusEnable(StatusRegister::kOperation, 0);
  WriteStatusEnable(StatusRegister::kQuestionable, 0);
  return 0;
}

int32_t STATUS_OPERATION_EVENTQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_OPERATION_EVENTQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(ReadStatusEvent(StatusRegister::kOperation), context);
}

int32_t STATUS_OPERATION_CONDITIONQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_OPERATION_CONDITIONQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(StatusCondition(StatusRegister::kOperation), context);
}

int32_t STATUS_OPERATION_ENABLE_DoContextValidation(CommandContext* context) {
  return ValidateEnable(context);
}

int32_t STATUS_OPERATION_ENABLE_DoExecutionConclusion(CommandContext* context) {
  return WriteEnable(StatusRegister::kOperation, context);
}

int32_t STATUS_OPERATION_ENABLEQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_OPERATION_ENABLEQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(StatusEnable(StatusRegister::kOperation), context);
}

int32_t STATUS_QUESTIONABLE_EVENTQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_QUESTIONABLE_EVENTQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(ReadStatusEvent(StatusRegister::kQuestionable), context);
}

int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(StatusCondition(StatusRegister::kQuestionable), context);
}

int32_t STATUS_QUESTIONABLE_ENABLE_DoContextValidation(CommandContext* context) {
  return ValidateEnable(context);
}

int32_t STATUS_QUESTIONABLE_ENABLE_DoExecutionConclusion(CommandContext* context) {
  return WriteEnable(StatusRegister::kQuestionable, context);
}

int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoContextValidation(CommandContext* context) {
  return ValidateNoParameters(context);
}

int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoExecutionConclusion(CommandContext* context) {
  return SetIntegerReply(StatusEnable(StatusRegister::kQuestionable), context);
}
