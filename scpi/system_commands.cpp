// Handlers of the engine's own commands (placeholder bodies; the real ones follow).
#include "scpi/scpi_handlers.h"

int32_t SYST_ERRORQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_ERRORQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_VERSIONQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_VERSIONQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_KLOCK_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_KLOCK_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_KLOCKQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_KLOCKQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_NVUPDATE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_NVUPDATE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_NVUPDATEQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_NVUPDATEQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_REQUESTQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_REQUESTQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_RELEASE_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_RELEASE_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_OWNERQuery_DoContextValidation(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_OWNERQuery_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_DoGetSegmentTable(CommandContext* /*context*/) { return 0; }
int32_t SYST_LOCK_DoCompletion(CommandContext* /*context*/) { return 0; }
