// Handlers of the engine's own commands (placeholder bodies; the real ones follow).
#include "scpi/scpi_handlers.h"

int32_t STATUS_PRESET_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_PRESET_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_EVENTQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_EVENTQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_CONDITIONQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_CONDITIONQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_ENABLE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_ENABLE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_ENABLEQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_OPERATION_ENABLEQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_EVENTQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_EVENTQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_ENABLE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_ENABLE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
