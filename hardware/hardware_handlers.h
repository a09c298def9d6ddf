// Handlers of the hardware service commands: FPGA register and card local-bus access
// (DIAGnostic:FPGA, DIAGnostic:LBUS) and the TRACe switches that make those accesses
// and the interrupt monitor print trace lines. The command table builds their records.
#pragma once

#include <cstdint>

struct CommandContext;

// DIAGnostic:FPGA:READ? <address>
int32_t DIAG_FPGA_READQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_FPGA_READQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:FPGA:WRITe <address>,<value>
int32_t DIAG_FPGA_WRITE_DoContextValidation(CommandContext* context);
int32_t DIAG_FPGA_WRITE_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:LBUS:READ? <slot>,<address>
int32_t DIAG_LBUS_READQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_LBUS_READQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:LBUS:WRITe <slot>,<address>,<byte>
int32_t DIAG_LBUS_WRITE_DoContextValidation(CommandContext* context);
int32_t DIAG_LBUS_WRITE_DoExecutionConclusion(CommandContext* context);
// TRACe:SERIALPORT <boolean>
int32_t TRACE_SERIALPORT_DoContextValidation(CommandContext* context);
int32_t TRACE_SERIALPORT_DoExecutionConclusion(CommandContext* context);
// TRACe:SERialnumber <boolean>
int32_t TRACE_SERIALNUMBER_DoContextValidation(CommandContext* context);
int32_t TRACE_SERIALNUMBER_DoExecutionConclusion(CommandContext* context);
