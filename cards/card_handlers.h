// Handlers of the card commands: the channel and relay lists of a module and the
// per-slot interrupt bytes. The command table builds their records.
#pragma once

#include <cstdint>

struct CommandContext;

// SYSTem:MODule:CHANnel:LIST? <slot>
int32_t SYST_MODULE_CHANNEL_LISTQuery_DoContextValidation(CommandContext* context);
int32_t SYST_MODULE_CHANNEL_LISTQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:MODule:RELay:LIST? <slot>
int32_t SYST_MODULE_RELAY_LISTQuery_DoContextValidation(CommandContext* context);
int32_t SYST_MODULE_RELAY_LISTQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:INTerrupt:READ?
int32_t DIAG_INTERRUPT_READQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_INTERRUPT_READQuery_DoExecutionConclusion(CommandContext* context);
