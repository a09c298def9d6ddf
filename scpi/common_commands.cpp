// Handlers of the engine's own commands (placeholder bodies; the real ones follow).
#include "scpi/scpi_handlers.h"

int32_t CLS_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t CLS_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t ESE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t ESE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t ESEQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t ESEQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t ESRQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t ESRQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t IDNQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t IDNQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t OPC_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t OPC_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t OPCQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t OPCQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t OPTQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t OPTQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SRE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SRE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SREQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SREQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t STBQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t STBQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t WAI_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t WAI_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
