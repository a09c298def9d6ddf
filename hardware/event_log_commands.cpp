// The SYSTem:EVENt commands: read one entry of the chassis event log, count the
// entries, delete one, delete all. Entry numbers run from 1 to 50; a number past the
// last entry is answered with the log's own "is not valid" text, not an error.
#include "hardware/event_log.h"
#include "scpi/handler_support.h"

namespace {

// The entry number the validation accepted.
int32_t EntryNumber(const CommandContext* context) {
  int32_t n = 0;
  ParseInteger(context->parameters[0], 1, kEventLogCapacity, &n);
  return n;
}

}  // namespace

int32_t SYST_EVENTQuery_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 1, kEventLogCapacity);
}

int32_t SYST_EVENTQuery_DoExecutionConclusion(CommandContext* context) {
  char reply[kEventReplySize];
  GetEvent(EntryNumber(context), reply);
  return AppendStringToReply(reply, context);
}

NO_PARAMETERS_VALIDATION(SYST_EVENT_COUNTQuery)

int32_t SYST_EVENT_COUNTQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(GetEventCount(), context);
}

int32_t SYST_EVENT_CLEAR_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 1, kEventLogCapacity);
}

int32_t SYST_EVENT_CLEAR_DoExecutionConclusion(CommandContext* context) {
  return DeleteEvent(EntryNumber(context));
}

NO_PARAMETERS_VALIDATION(SYST_EVENT_CLEAR_ALL)

int32_t SYST_EVENT_CLEAR_ALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return ClearEventLog();
}
