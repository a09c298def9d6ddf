// The SYSTem commands that need nothing beyond the engine: the error queue, the
// version, the keyboard-lock flag, the nonvolatile-update state and the LOCK
// records (which the pipeline refuses before they run).
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "scpi/scpi_handlers.h"

namespace {

bool g_keyboard_lock = false;

// read_error writes up to a whole command text; the engine runs under one lock.
char g_error_text[kCommandTextSize];

}  // namespace

NO_PARAMETERS_VALIDATION(SYST_ERRORQuery)

int32_t SYST_ERRORQuery_DoExecutionConclusion(CommandContext* context) {
  ChannelHandle* handle = HandleOf(context);
  if (handle->read_error == nullptr) return err::kSystemError;
  g_error_text[0] = '\0';
  handle->read_error(handle->channel, g_error_text);
  g_error_text[kCommandTextSize - 1] = '\0';
  return SetStringReply(g_error_text, context);
}

NO_PARAMETERS_VALIDATION(SYST_VERSIONQuery)

int32_t SYST_VERSIONQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendConstantToReply("1994.0", context);
}

int32_t SYST_KLOCK_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}

int32_t SYST_KLOCK_DoExecutionConclusion(CommandContext* context) {
  int32_t value = 0;
  ParseBoolean(context->parameters[0], &value);
  g_keyboard_lock = value != 0;
  return 0;
}

NO_PARAMETERS_VALIDATION(SYST_KLOCKQuery)

int32_t SYST_KLOCKQuery_DoExecutionConclusion(CommandContext* context) {
  return g_keyboard_lock ? AppendConstantToReply("ON", context)
                         : AppendConstantToReply("OFF", context);
}

NO_PARAMETERS_VALIDATION(SYST_NVUPDATE)

// Settings are written when they change; there is no deferred update to start.
int32_t SYST_NVUPDATE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }

NO_PARAMETERS_VALIDATION(SYST_NVUPDATEQuery)

int32_t SYST_NVUPDATEQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendConstantToReply("IDLE", context);
}

// The LOCK records carry a segment-table operation, so the pipeline refuses them
// before any of these run; they stay trivial.
NO_PARAMETERS_VALIDATION(SYST_LOCK_REQUESTQuery)
int32_t SYST_LOCK_REQUESTQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
NO_PARAMETERS_VALIDATION(SYST_LOCK_RELEASE)
int32_t SYST_LOCK_RELEASE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
NO_PARAMETERS_VALIDATION(SYST_LOCK_OWNERQuery)
int32_t SYST_LOCK_OWNERQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_DoGetSegmentTable(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_DoCompletion(CommandContext* /*context*/) { return 0; }
