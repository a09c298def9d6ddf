// Handlers of the engine's own commands: the common commands, STATus, the SYSTem
// commands that need nothing beyond the engine, and DIAGnostic:DATA?. The command
// table (scpi_command_table.cpp) builds their records; scpi's handler files define them.
#pragma once

#include <cstdint>

struct CommandContext;

// *CLS
int32_t CLS_DoContextValidation(CommandContext* context);
int32_t CLS_DoExecutionConclusion(CommandContext* context);
// *ESE
int32_t ESE_DoContextValidation(CommandContext* context);
int32_t ESE_DoExecutionConclusion(CommandContext* context);
// *ESE?
int32_t ESEQuery_DoContextValidation(CommandContext* context);
int32_t ESEQuery_DoExecutionConclusion(CommandContext* context);
// *ESR?
int32_t ESRQuery_DoContextValidation(CommandContext* context);
int32_t ESRQuery_DoExecutionConclusion(CommandContext* context);
// *IDN?: "Tellwin Instruments 4410 Switch System, <revision>". The firmware revision
// belongs to the instrument's identity, which the controller connects; unconnected,
// the built-in "1.6.8".
int32_t IDNQuery_DoContextValidation(CommandContext* context);
int32_t IDNQuery_DoExecutionConclusion(CommandContext* context);
using FirmwareRevisionSource = const char* (*)();
void SetFirmwareRevisionSource(FirmwareRevisionSource source);
// *OPC
int32_t OPC_DoContextValidation(CommandContext* context);
int32_t OPC_DoExecutionConclusion(CommandContext* context);
// *OPC?
int32_t OPCQuery_DoContextValidation(CommandContext* context);
int32_t OPCQuery_DoExecutionConclusion(CommandContext* context);
// *OPT?
int32_t OPTQuery_DoContextValidation(CommandContext* context);
int32_t OPTQuery_DoExecutionConclusion(CommandContext* context);
// *SRE
int32_t SRE_DoContextValidation(CommandContext* context);
int32_t SRE_DoExecutionConclusion(CommandContext* context);
// *SRE?
int32_t SREQuery_DoContextValidation(CommandContext* context);
int32_t SREQuery_DoExecutionConclusion(CommandContext* context);
// *STB?
int32_t STBQuery_DoContextValidation(CommandContext* context);
int32_t STBQuery_DoExecutionConclusion(CommandContext* context);
// *WAI
int32_t WAI_DoContextValidation(CommandContext* context);
int32_t WAI_DoExecutionConclusion(CommandContext* context);
// STATus:PRESet
int32_t STATUS_PRESET_DoContextValidation(CommandContext* context);
int32_t STATUS_PRESET_DoExecutionConclusion(CommandContext* context);
// STATus:OPERation[:EVENt]?
int32_t STATUS_OPERATION_EVENTQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_OPERATION_EVENTQuery_DoExecutionConclusion(CommandContext* context);
// STATus:OPERation:CONDition?
int32_t STATUS_OPERATION_CONDITIONQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_OPERATION_CONDITIONQuery_DoExecutionConclusion(CommandContext* context);
// STATus:OPERation:ENABle
int32_t STATUS_OPERATION_ENABLE_DoContextValidation(CommandContext* context);
int32_t STATUS_OPERATION_ENABLE_DoExecutionConclusion(CommandContext* context);
// STATus:OPERation:ENABle?
int32_t STATUS_OPERATION_ENABLEQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_OPERATION_ENABLEQuery_DoExecutionConclusion(CommandContext* context);
// STATus:QUEStionable[:EVENt]?
int32_t STATUS_QUESTIONABLE_EVENTQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_QUESTIONABLE_EVENTQuery_DoExecutionConclusion(CommandContext* context);
// STATus:QUEStionable:CONDition?
int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_QUESTIONABLE_CONDITIONQuery_DoExecutionConclusion(CommandContext* context);
// STATus:QUEStionable:ENABle
int32_t STATUS_QUESTIONABLE_ENABLE_DoContextValidation(CommandContext* context);
int32_t STATUS_QUESTIONABLE_ENABLE_DoExecutionConclusion(CommandContext* context);
// STATus:QUEStionable:ENABle?
int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoContextValidation(CommandContext* context);
int32_t STATUS_QUESTIONABLE_ENABLEQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:ERRor?
int32_t SYST_ERRORQuery_DoContextValidation(CommandContext* context);
int32_t SYST_ERRORQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:VERSion?
int32_t SYST_VERSIONQuery_DoContextValidation(CommandContext* context);
int32_t SYST_VERSIONQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:KLOCk
int32_t SYST_KLOCK_DoContextValidation(CommandContext* context);
int32_t SYST_KLOCK_DoExecutionConclusion(CommandContext* context);
// SYSTem:KLOCk?
int32_t SYST_KLOCKQuery_DoContextValidation(CommandContext* context);
int32_t SYST_KLOCKQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:NVUPDate and SYSTem:UPDate
int32_t SYST_NVUPDATE_DoContextValidation(CommandContext* context);
int32_t SYST_NVUPDATE_DoExecutionConclusion(CommandContext* context);
// SYSTem:NVUPDate? and SYSTem:UPDate?
int32_t SYST_NVUPDATEQuery_DoContextValidation(CommandContext* context);
int32_t SYST_NVUPDATEQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:LOCK:REQuest?
int32_t SYST_LOCK_REQUESTQuery_DoContextValidation(CommandContext* context);
int32_t SYST_LOCK_REQUESTQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:LOCK:RELEASE
int32_t SYST_LOCK_RELEASE_DoContextValidation(CommandContext* context);
int32_t SYST_LOCK_RELEASE_DoExecutionConclusion(CommandContext* context);
// SYSTem:LOCK:OWNER?
int32_t SYST_LOCK_OWNERQuery_DoContextValidation(CommandContext* context);
int32_t SYST_LOCK_OWNERQuery_DoExecutionConclusion(CommandContext* context);
// DIAGnostic:DATA?
int32_t DIAG_DATAQuery_DoContextValidation(CommandContext* context);
int32_t DIAG_DATAQuery_DoExecutionConclusion(CommandContext* context);

// The SYSTem:LOCK records also carry a segment-table and a completion operation (both
// do nothing); the pipeline refuses any record that has a segment-table operation.
int32_t SYST_LOCK_DoGetSegmentTable(CommandContext* context);
int32_t SYST_LOCK_DoCompletion(CommandContext* context);
