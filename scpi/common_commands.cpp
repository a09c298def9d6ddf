// The IEEE 488.2 common commands the engine answers itself: *CLS, *ESE, *ESE?, *ESR?,
// *IDN?, *OPC, *OPC?, *OPT?, *SRE, *SRE?, *STB? and *WAI. The status bytes belong to
// the client's server; every change goes through the rules of status.h.
#include <chrono>
#include <string>
#include <thread>

#include "core/seam.h"

#include "scpi/handler_support.h"
#include "scpi/scpi_handlers.h"

namespace {

constexpr char kIdentityPrefix[] = "Tellwin Instruments 4410 Switch System, ";
constexpr char kBuiltInRevision[] = "1.6.8";

Seam<const char*()> revision_source;

// The byte parameter of *ESE and *SRE; validation has already accepted it.
uint8_t ByteParameter(const CommandContext* context) {
  int32_t value = 0;
  ParseInteger(context->parameters[0], 0, 255, &value);
  return static_cast<uint8_t>(value);
}

// Waits for a running scan to stop: polled every millisecond for at most half a
// second. True when no scan is running at the end.
bool WaitForScanToStop() {
  for (int waited = 0; IsScanRunning(); ++waited) {
    if (waited >= 500) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

NO_PARAMETERS_VALIDATION(CLS)

int32_t CLS_DoExecutionConclusion(CommandContext* context) {
  ChannelHandle* handle = HandleOf(context);
  ClearEventStatusBits(handle, 0xFF);
  if (handle->clear_errors != nullptr) handle->clear_errors(handle->channel);
  return 0;
}

int32_t ESE_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 0, 255);
}

int32_t ESE_DoExecutionConclusion(CommandContext* context) {
  ChannelHandle* handle = HandleOf(context);
  StatusBytes status{};
  if (ReadStatusBytes(handle, &status) != 0) return 0;
  uint8_t ese = ByteParameter(context);
  if (ese != status.ese) WriteEse(handle, ese);
  uint8_t esr = status.esr;
  if (PowerOnFlag()) esr |= kEsrPowerOn;
  if ((esr & ese) != 0) {
    SetStatusByteBits(handle, kStbEventSummary);
  } else {
    ClearStatusByteBits(handle, kStbEventSummary);
  }
  return 0;
}

NO_PARAMETERS_VALIDATION(ESEQuery)

int32_t ESEQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(CurrentStatus(context).ese, context);
}

NO_PARAMETERS_VALIDATION(ESRQuery)

int32_t ESRQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t esr = CurrentStatus(context).esr;
  if (PowerOnFlag()) {
    esr |= kEsrPowerOn;
    ClearPowerOnFlag();
  }
  int32_t result = AppendIntegerNumberToReply(esr, context);
  ClearEventStatusBits(HandleOf(context), 0xFF);
  return result;
}

NO_PARAMETERS_VALIDATION(IDNQuery)

int32_t IDNQuery_DoExecutionConclusion(CommandContext* context) {
  const FirmwareRevisionSource source = revision_source.function();
  const std::string identity = std::string(kIdentityPrefix) + (source ? source() : kBuiltInRevision);
  return AppendToReply(identity.c_str(), identity.size(), ',', context);
}

void SetFirmwareRevisionSource(FirmwareRevisionSource source) { revision_source.Connect(source); }

NO_PARAMETERS_VALIDATION(OPC)

int32_t OPC_DoExecutionConclusion(CommandContext* context) {
  WaitForScanToStop();
  SetEventStatusBit(HandleOf(context), kEsrOperationComplete);
  return 0;
}

NO_PARAMETERS_VALIDATION(OPCQuery)

int32_t OPCQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(WaitForScanToStop() ? 1 : 0, context);
}

NO_PARAMETERS_VALIDATION(OPTQuery)

int32_t OPTQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendConstantToReply("NONE", context);
}

int32_t SRE_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 0, 255);
}

int32_t SRE_DoExecutionConclusion(CommandContext* context) {
  ChannelHandle* handle = HandleOf(context);
  StatusBytes status{};
  if (ReadStatusBytes(handle, &status) != 0) return 0;
  // The request-service bit cannot be enabled.
  auto sre = static_cast<uint8_t>(ByteParameter(context) & ~kStbRequestService);
  if (sre != status.sre) WriteSre(handle, sre);
  bool service = (status.stb & kStbRequestService) != 0;
  bool shared = (status.stb & sre) != 0;
  if (service && !shared) {
    WriteStb(handle, static_cast<uint8_t>(status.stb & ~kStbRequestService));
  } else if (!service && shared) {
    WriteStb(handle, static_cast<uint8_t>(status.stb | kStbRequestService));
  }
  return 0;
}

NO_PARAMETERS_VALIDATION(SREQuery)

int32_t SREQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(CurrentStatus(context).sre, context);
}

NO_PARAMETERS_VALIDATION(STBQuery)

int32_t STBQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(CurrentStatus(context).stb, context);
}

NO_PARAMETERS_VALIDATION(WAI)

// Commands already run one after the other; there is nothing to wait for.
int32_t WAI_DoExecutionConclusion(CommandContext* /*context*/) { return 0; }
