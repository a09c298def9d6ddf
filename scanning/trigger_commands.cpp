// The scanning commands: ROUTe:SCAN and its subcommands, the trigger settings,
// INITiate, ABORt, TRIGger, *TRG and the output trigger.
#include <cstdio>
#include <memory>
#include <string>

#include "scanning/scan_engine.h"
#include "scanning/scan_list.h"
#include "scanning/scanning_handlers.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "switching/channel_list.h"

namespace {

constexpr std::size_t kScanListReplyLimit = 10240;
constexpr char kSourceDetail[] = "trigger source parameter";
constexpr int32_t kTimerSource = 4;  // admitted by validation, refused at execution

constexpr KeywordValue kSources[] = {
    {"IMM", static_cast<int32_t>(TriggerSource::kImmediate)},
    {"IMMEDIATE", static_cast<int32_t>(TriggerSource::kImmediate)},
    {"BUS", static_cast<int32_t>(TriggerSource::kBus)},
    {"EXT", static_cast<int32_t>(TriggerSource::kExternal)},
    {"EXTERNAL", static_cast<int32_t>(TriggerSource::kExternal)},
    {"HOLD", static_cast<int32_t>(TriggerSource::kHold)},
    {"TIM", kTimerSource},
    {"TIMER", kTimerSource},
    {nullptr, 0},
};

constexpr KeywordValue kSourceNames[] = {
    {"IMM", static_cast<int32_t>(TriggerSource::kImmediate)},
    {"BUS", static_cast<int32_t>(TriggerSource::kBus)},
    {"EXT", static_cast<int32_t>(TriggerSource::kExternal)},
    {"HOLD", static_cast<int32_t>(TriggerSource::kHold)},
    {nullptr, 0},
};



double RealParameter(const CommandContext* context) {
  double value = 0;
  ParseReal(context->parameters[0], 0, kTriggerDelayMax, &value);
  return value;
}

int32_t DelayReply(double seconds, CommandContext* context) {
  char text[32];
  std::snprintf(text, sizeof text, "%.5lf", seconds);
  return AppendStringToReply(text, context);
}

}  // namespace

// ---- ROUTe:SCAN -----------------------------------------------------------------------

int32_t ROUTE_SCAN_DoContextValidation(CommandContext* context) {
  return ValidateChannelList(context, true);
}
// The parsed list becomes the scan list; an initiated scan starts again with it.
int32_t ROUTE_SCAN_DoExecutionConclusion(CommandContext* context) {
  ChannelList* parsed = ContextChannelList(context);
  std::unique_ptr<ChannelList> list(parsed);
  context->channel_list[0] = nullptr;  // owned by the scan list from here
  ReplaceScanList(std::move(list), true);
  return 0;
}

NO_PARAMETERS_VALIDATION(ROUTE_SCANQuery)
int32_t ROUTE_SCANQuery_DoExecutionConclusion(CommandContext* context) {
  const ChannelList* list = ScanList();
  if (list == nullptr) return AppendEmptyReply(context);
  std::string text(kScanListReplyLimit + 1, '\0');
  BuildChannelListText(list->close, text.data(), text.size());
  text.resize(std::char_traits<char>::length(text.c_str()));
  return AppendToReply(text.data(), text.size(), ',', context);
}

NO_PARAMETERS_VALIDATION(ROUTE_SCAN_CLEAR)
int32_t ROUTE_SCAN_CLEAR_DoExecutionConclusion(CommandContext* /*context*/) {
  ReplaceScanList(nullptr, false);
  return 0;
}

NO_PARAMETERS_VALIDATION(ROUTE_SCAN_STORE)
int32_t ROUTE_SCAN_STORE_DoExecutionConclusion(CommandContext* /*context*/) {
  return StoreScanList();
}

NO_PARAMETERS_VALIDATION(ROUTE_SCAN_RECALL)
int32_t ROUTE_SCAN_RECALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return RecallScanList();
}

int32_t ROUTE_SCAN_RECALL_AUTO_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t ROUTE_SCAN_RECALL_AUTO_DoExecutionConclusion(CommandContext* context) {
  return SetScanListAutoRecall(BooleanParameter(context));
}

NO_PARAMETERS_VALIDATION(ROUTE_SCAN_RECALL_AUTOQuery)
int32_t ROUTE_SCAN_RECALL_AUTOQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(ScanListAutoRecall() ? 1 : 0, context);
}

// ---- TRIGger settings ------------------------------------------------------------------

int32_t TRIG_SOURCE_DoContextValidation(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  if (LookupKeywordValue(kSources, context->parameters[0]) < 0) {
    return ConcludeValidation(context, err::kIllegalParameterValue, kSourceDetail);
  }
  return ConcludeValidation(context, 0);
}
int32_t TRIG_SOURCE_DoExecutionConclusion(CommandContext* context) {
  if (ScanInitiated()) return err::kProgramCurrentlyRunning;
  const int32_t source = LookupKeywordValue(kSources, context->parameters[0]);
  if (source < 0 || source == kTimerSource) return err::kIllegalParameterValue;
  SetTriggerSource(static_cast<TriggerSource>(source));
  return 0;
}

NO_PARAMETERS_VALIDATION(TRIG_SOURCEQuery)
int32_t TRIG_SOURCEQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(static_cast<int32_t>(GetTriggerSource()), kSourceNames,
                                    context);
}

int32_t TRIG_COUNT_DoContextValidation(CommandContext* context) {
  return ValidateInteger(context, 1, kTriggerCountMax);
}
int32_t TRIG_COUNT_DoExecutionConclusion(CommandContext* context) {
  int32_t count = 1;
  ParseInteger(context->parameters[0], 1, kTriggerCountMax, &count);
  SetTriggerCount(count);
  return 0;
}

NO_PARAMETERS_VALIDATION(TRIG_COUNTQuery)
int32_t TRIG_COUNTQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(TriggerCount(), context);
}

int32_t TRIG_DELAY_DoContextValidation(CommandContext* context) {
  return ValidateReal(context, 0, kTriggerDelayMax);
}
int32_t TRIG_DELAY_DoExecutionConclusion(CommandContext* context) {
  SetTriggerDelay(RealParameter(context));
  return 0;
}

NO_PARAMETERS_VALIDATION(TRIG_DELAYQuery)
int32_t TRIG_DELAYQuery_DoExecutionConclusion(CommandContext* context) {
  return DelayReply(TriggerDelay(), context);
}

// ---- Triggers, INITiate, ABORt ----------------------------------------------------------

NO_PARAMETERS_VALIDATION(TRIG)
// One step of an initiated scan whatever the source; it always succeeds.
int32_t TRIG_DoExecutionConclusion(CommandContext* /*context*/) {
  ImmediateTrigger();
  return 0;
}

NO_PARAMETERS_VALIDATION(TRG)
int32_t TRG_DoExecutionConclusion(CommandContext* /*context*/) {
  return CountedTrigger(TriggerSource::kBus);
}

NO_PARAMETERS_VALIDATION(INIT)
int32_t INIT_DoExecutionConclusion(CommandContext* /*context*/) { return InitiateScan(); }

int32_t INIT_CONTINUOUS_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t INIT_CONTINUOUS_DoExecutionConclusion(CommandContext* context) {
  SetContinuous(BooleanParameter(context));
  return 0;
}

NO_PARAMETERS_VALIDATION(INIT_CONTINUOUSQuery)
int32_t INIT_CONTINUOUSQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(Continuous() ? 1 : 0, context);
}

NO_PARAMETERS_VALIDATION(ABORT)
int32_t ABORT_DoExecutionConclusion(CommandContext* /*context*/) {
  AbortScan();
  return 0;
}

// ---- OUTPut ----------------------------------------------------------------------------

int32_t OUTP_TRIG_STATE_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t OUTP_TRIG_STATE_DoExecutionConclusion(CommandContext* context) {
  SetOutputTriggerState(BooleanParameter(context));
  return 0;
}

NO_PARAMETERS_VALIDATION(OUTP_TRIG_STATEQuery)
int32_t OUTP_TRIG_STATEQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendIntegerNumberToReply(OutputTriggerState() ? 1 : 0, context);
}

int32_t OUTP_TRIG_DELAY_DoContextValidation(CommandContext* context) {
  return ValidateReal(context, 0, kTriggerDelayMax);
}
int32_t OUTP_TRIG_DELAY_DoExecutionConclusion(CommandContext* context) {
  SetOutputTriggerDelay(RealParameter(context));
  return 0;
}

NO_PARAMETERS_VALIDATION(OUTP_TRIG_DELAYQuery)
int32_t OUTP_TRIG_DELAYQuery_DoExecutionConclusion(CommandContext* context) {
  return DelayReply(OutputTriggerDelay(), context);
}
