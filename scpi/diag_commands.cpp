// Handlers of the engine's own commands (placeholder bodies; the real ones follow).
#include "scpi/scpi_handlers.h"

int32_t DIAG_DATAQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t DIAG_DATAQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
