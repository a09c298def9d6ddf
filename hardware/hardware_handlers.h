// Handlers of the hardware service commands: FPGA register and card local-bus access
// (DIAGnostic:FPGA, DIAGnostic:LBUS), the TRACe switches that make those accesses and
// the interrupt monitor print trace lines, the MAC address and serial number in the
// controller board's FRAM, and the fan override. The command table builds their
// records.
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

// DIAGnostic:MAC:ADDRess:READ?
int32_t DIAG_MAC_ADDRESS_READQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_MAC_ADDRESS_READQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:MAC:ADDRess:WRITe <XX.XX.XX.XX.XX.XX>
int32_t DIAG_MAC_ADDRESS_WRITE_DoContextValidation(CommandContext* context);
int32_t DIAG_MAC_ADDRESS_WRITE_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:SERialnumber:READ?
int32_t DIAG_SERIALNUMBER_READQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_SERIALNUMBER_READQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:SERialnumber:WRITe <quoted text>
int32_t DIAG_SERIALNUMBER_WRITE_DoContextValidation(CommandContext* context);
int32_t DIAG_SERIALNUMBER_WRITE_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:FANoverride <boolean>
int32_t DIAG_FANOVERRIDE_DoContextValidation(CommandContext* context);
int32_t DIAG_FANOVERRIDE_DoExecutionConclusion(CommandContext* context);
int32_t DIAG_FANOVERRIDEQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_FANOVERRIDEQuery_DoExecutionConclusion(CommandContext* context);
int32_t DIAG_TEMPERATUREQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_TEMPERATUREQuery_DoExecutionConclusion(CommandContext* context);

// Applies a MAC address to the LAN interface after DIAG:MAC:ADDR:WRIT has written it
// to the FRAM: 0 or a negative code. The LAN layer's, connected by the controller;
// unconnected, the command writes the FRAM only.
using MacAddressSetter = int32_t (*)(const uint8_t mac[6]);
void SetMacAddressSetter(MacAddressSetter setter);
