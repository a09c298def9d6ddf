// The commands of the named paths, the MONitor setting, the verify masks, the module
// names and the saved relay states (*SAV, *RCL).
#include <cstdio>
#include <cstring>
#include <string>

#include "cards/card_manager.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "switching/channel_list.h"
#include "switching/paths.h"
#include "switching/relay_stores.h"
#include "switching/switching_handlers.h"

namespace {

constexpr std::size_t kCatalogLimit = 10239;


const char* Parameter(const CommandContext* context, int i) { return context->parameters[i]; }

// One path name parameter: -10220 unless it is a valid name; with must_exist, -292
// unless the path exists.
int32_t ValidatePathName(CommandContext* context, bool must_exist) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0 && !IsValidLongName(Parameter(context, 0))) code = err::kMissingOrInvalidPathName;
  if (code == 0 && must_exist && FindPathChannels(Parameter(context, 0)) == nullptr) {
    code = err::kReferencedNameDoesNotExist;
  }
  return ConcludeValidation(context, code);
}

// One module name parameter: -10237 unless it is a valid name.
int32_t ValidateModuleNameParameter(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  if (code == 0 && (std::strlen(Parameter(context, 0)) > kModuleNameMax ||
                    !IsValidLongName(Parameter(context, 0)))) {
    code = err::kMissingOrInvalidModuleName;
  }
  return ConcludeValidation(context, code);
}

// A relay list as the path definition takes it: parsed, relays only.
int32_t CheckRelayList(const char* text) {
  ChannelList list;
  const int32_t parsed = ParseChannelList(false, text, nullptr, &list, 0);
  if (parsed != 0) return parsed;
  return AllRelayChannels(list) ? 0 : err::kRelayChannelsOnly;
}

constexpr KeywordValue kMaskModes[] = {
    {"NORM", 0}, {"NORMAL", 0}, {"0", 0}, {"INV", 1}, {"INVERTED", 1}, {"1", 1}, {"X", 2},
    {nullptr, 0},
};

// An optional state number 0..100 (0 when none is given).
int32_t ValidateStateNumber(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 0, 1);
  int32_t number = 0;
  if (code == 0 && context->parameter_count == 1) {
    code = ParseInteger(Parameter(context, 0), 0, kLastStateNumber, &number);
  }
  return ConcludeValidation(context, code);
}

int32_t StateNumber(const CommandContext* context) {
  int32_t number = 0;
  if (context->parameter_count == 1) {
    ParseInteger(Parameter(context, 0), 0, kLastStateNumber, &number);
  }
  return number;
}

int32_t AppendOrEmpty(const std::string& text, CommandContext* context) {
  if (text.empty()) return AppendEmptyReply(context);
  return AppendToReply(text.data(), text.size(), ',', context);
}


}  // namespace

// ---- PATH -------------------------------------------------------------------------------

int32_t ROUTE_PATH_DEFINE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 3);
  if (code == 0 && !IsValidLongName(Parameter(context, 0))) code = err::kMissingOrInvalidPathName;
  if (code == 0 && FindPathChannels(Parameter(context, 0)) != nullptr) {
    code = err::kReferencedNameAlreadyExists;
  }
  for (int i = 1; code == 0 && i < context->parameter_count; ++i) {
    code = CheckRelayList(Parameter(context, i));
  }
  return ConcludeValidation(context, code);
}
int32_t ROUTE_PATH_DEFINE_DoExecutionConclusion(CommandContext* context) {
  return DefinePath(Parameter(context, 0), Parameter(context, 1),
                    context->parameter_count == 3 ? Parameter(context, 2) : nullptr);
}

int32_t ROUTE_PATH_DEFINEQuery_DoContextValidation(CommandContext* context) {
  return ValidatePathName(context, true);
}
int32_t ROUTE_PATH_DEFINEQuery_DoExecutionConclusion(CommandContext* context) {
  std::string text;
  const int32_t found = PathDefinitionText(Parameter(context, 0), &text);
  if (found != 0) return found;
  // A definition longer than a reply holds is refused as too much data, not cut.
  return AppendToReply(text.data(), text.size(), ',', context);
}

int32_t ROUTE_PATH_DELETE_DoContextValidation(CommandContext* context) {
  return ValidatePathName(context, true);
}
int32_t ROUTE_PATH_DELETE_DoExecutionConclusion(CommandContext* context) {
  return DeletePath(Parameter(context, 0));
}

NO_PARAMETERS_VALIDATION(ROUTE_PATH_DELETE_ALL)
int32_t ROUTE_PATH_DELETE_ALL_DoExecutionConclusion(CommandContext* /*context*/) {
  DeleteAllPaths();
  return 0;
}

NO_PARAMETERS_VALIDATION(ROUTE_PATH_CATALOGQuery)
int32_t ROUTE_PATH_CATALOGQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendOrEmpty(PathCatalog(kCatalogLimit), context);
}

NO_PARAMETERS_VALIDATION(ROUTE_PATH_STORE)
int32_t ROUTE_PATH_STORE_DoExecutionConclusion(CommandContext* /*context*/) {
  return StorePaths();
}

NO_PARAMETERS_VALIDATION(ROUTE_PATH_RECALL)
int32_t ROUTE_PATH_RECALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return RecallPaths();
}

int32_t ROUTE_PATH_RECALL_AUTO_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t ROUTE_PATH_RECALL_AUTO_DoExecutionConclusion(CommandContext* context) {
  return SetPathAutoRecall(BooleanParameter(context));
}

NO_PARAMETERS_VALIDATION(ROUTE_PATH_RECALL_AUTOQuery)
int32_t ROUTE_PATH_RECALL_AUTOQuery_DoExecutionConclusion(CommandContext* context) {
  return SetBooleanReply(PathAutoRecall(), context);
}

int32_t ROUTE_MONITOR_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t ROUTE_MONITOR_DoExecutionConclusion(CommandContext* context) {
  SetMonitorState(BooleanParameter(context));
  return 0;
}

NO_PARAMETERS_VALIDATION(ROUTE_MONITORQuery)
int32_t ROUTE_MONITORQuery_DoExecutionConclusion(CommandContext* context) {
  return SetBooleanReply(MonitorState(), context);
}

// ---- VERify -----------------------------------------------------------------------------

int32_t ROUTE_VERIFY_MASK_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 2);
  if (code == 0 && LookupKeywordValue(kMaskModes, Parameter(context, 1)) < 0) {
    code = err::kIllegalParameterValue;
  }
  if (code != 0) return ConcludeValidation(context, code);
  return ParseChannelListParam(context, Parameter(context, 0), true, true, 0);
}
int32_t ROUTE_VERIFY_MASK_DoExecutionConclusion(CommandContext* context) {
  const char first = Parameter(context, 1)[0];
  const int32_t mode = first == 'N' || first == '0'   ? kVerifyNormal
                       : first == 'I' || first == '1' ? kVerifyInverted
                                                      : kVerifyNone;
  SetVerifyMasks(*ContextChannelList(context), mode);
  return 0;
}

int32_t ROUTE_VERIFY_MASKQuery_DoContextValidation(CommandContext* context) {
  return ValidateChannelList(context);
}
int32_t ROUTE_VERIFY_MASKQuery_DoExecutionConclusion(CommandContext* context) {
  const std::string text = VerifyMaskText(*ContextChannelList(context));
  return AppendToReply(text.data(), text.size(), ',', context);
}

int32_t ROUTE_VERIFYQuery_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidateChannelList(context);
  if (validated != 0) return validated;
  for (const ChannelListElement& element : ContextChannelList(context)->close) {
    if (!CardSupportsVerify(element.slot)) return ConcludeValidation(context, err::kNotSupportedByCard);
  }
  return 0;
}
int32_t ROUTE_VERIFYQuery_DoExecutionConclusion(CommandContext* context) {
  std::string reply;
  const int32_t verified = VerifyRelays(*ContextChannelList(context), &reply);
  if (verified != 0) return verified;
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

NO_PARAMETERS_VALIDATION(ROUTE_VERIFY_ALLQuery)
int32_t ROUTE_VERIFY_ALLQuery_DoExecutionConclusion(CommandContext* context) {
  std::string reply;
  const int32_t verified = VerifyAllRelays(&reply);
  if (verified != 0) return verified;
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

NO_PARAMETERS_VALIDATION(ROUTE_VERIFY_STORE)
int32_t ROUTE_VERIFY_STORE_DoExecutionConclusion(CommandContext* /*context*/) {
  return StoreVerifyMasks();
}

NO_PARAMETERS_VALIDATION(ROUTE_VERIFY_RECALL)
int32_t ROUTE_VERIFY_RECALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return RecallVerifyMasks();
}

int32_t ROUTE_VERIFY_RECALL_STATE_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t ROUTE_VERIFY_RECALL_STATE_DoExecutionConclusion(CommandContext* context) {
  return SetVerifyMaskAutoRecall(BooleanParameter(context));
}

NO_PARAMETERS_VALIDATION(ROUTE_VERIFY_RECALL_STATEQuery)
int32_t ROUTE_VERIFY_RECALL_STATEQuery_DoExecutionConclusion(CommandContext* context) {
  return SetBooleanReply(VerifyMaskAutoRecall(), context);
}

// ---- MODule -----------------------------------------------------------------------------

int32_t ROUTE_MODULE_DEFINE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 2);
  const char* name = code == 0 ? Parameter(context, 0) : "";
  if (code == 0 && (std::strlen(name) > kModuleNameMax || !IsValidLongName(name))) {
    code = err::kMissingOrInvalidModuleName;
  }
  if (code == 0 && FindModuleName(name) >= 0) code = err::kReferencedNameAlreadyExists;
  int32_t slot = 0;
  if (code == 0) code = ParseInteger(Parameter(context, 1), kFirstCardSlot, kLastCardSlot, &slot);
  return ConcludeValidation(context, code);
}
int32_t ROUTE_MODULE_DEFINE_DoExecutionConclusion(CommandContext* context) {
  int32_t slot = 0;
  const int32_t parsed = ParseInteger(Parameter(context, 1), kFirstCardSlot, kLastCardSlot, &slot);
  if (parsed != 0) return parsed;
  return DefineModuleName(Parameter(context, 0), slot);
}

int32_t ROUTE_MODULE_DEFINEQuery_DoContextValidation(CommandContext* context) {
  return ValidateModuleNameParameter(context);
}
int32_t ROUTE_MODULE_DEFINEQuery_DoExecutionConclusion(CommandContext* context) {
  const int slot = FindModuleName(Parameter(context, 0));
  if (slot < 0) return err::kReferencedNameDoesNotExist;
  return AppendIntegerNumberToReply(slot, context);
}

int32_t ROUTE_MODULE_DELETE_DoContextValidation(CommandContext* context) {
  return ValidateModuleNameParameter(context);
}
int32_t ROUTE_MODULE_DELETE_DoExecutionConclusion(CommandContext* context) {
  return DeleteModuleName(Parameter(context, 0));
}

NO_PARAMETERS_VALIDATION(ROUTE_MODULE_DELETE_ALL)
int32_t ROUTE_MODULE_DELETE_ALL_DoExecutionConclusion(CommandContext* /*context*/) {
  DeleteAllModuleNames();
  return 0;
}

NO_PARAMETERS_VALIDATION(ROUTE_MODULE_CATALOGQuery)
int32_t ROUTE_MODULE_CATALOGQuery_DoExecutionConclusion(CommandContext* context) {
  return AppendOrEmpty(ModuleNameCatalog(), context);
}

int32_t ROUTE_MODULE_LISTQuery_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 0, 1);
  int32_t modules[kModuleListSize];
  if (code == 0 && context->parameter_count == 1) {
    code = ParseModuleList(Parameter(context, 0), modules);
  }
  return ConcludeValidation(context, code);
}
int32_t ROUTE_MODULE_LISTQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t modules[kModuleListSize] = {};
  if (context->parameter_count == 1) {
    const int32_t parsed = ParseModuleList(Parameter(context, 0), modules);
    if (parsed != 0) return parsed;
  } else {
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) modules[slot - 1] = slot;
    modules[kLastCardSlot] = 0;
  }
  bool any = false;
  for (int i = 0; modules[i] != 0; ++i) {
    const int slot = modules[i];
    if (!IsCardPresent(slot)) continue;
    uint32_t type_id = 0;
    char description[kCardTextSize];
    char ignored[4][kCardTextSize];
    const int32_t identity = GetCardIdentity(slot, &type_id, description, ignored[0], ignored[1],
                                             ignored[2], ignored[3]);
    if (identity != 0) return identity;
    char item[kCardTextSize + 16];
    std::snprintf(item, sizeof item, "%d : %s", slot, description);
    const int32_t appended = AppendStringToReply(item, context);
    if (appended != 0) return appended;
    any = true;
  }
  return any ? 0 : AppendEmptyReply(context);
}

NO_PARAMETERS_VALIDATION(ROUTE_MODULE_SAVE)
int32_t ROUTE_MODULE_SAVE_DoExecutionConclusion(CommandContext* /*context*/) {
  return StoreModuleNames();
}

NO_PARAMETERS_VALIDATION(ROUTE_MODULE_RECALL)
int32_t ROUTE_MODULE_RECALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return RecallModuleNames();
}

int32_t ROUTE_MODULE_RECALL_STATE_DoContextValidation(CommandContext* context) {
  return ValidateBoolean(context);
}
int32_t ROUTE_MODULE_RECALL_STATE_DoExecutionConclusion(CommandContext* context) {
  return SetModuleNameAutoRecall(BooleanParameter(context));
}

NO_PARAMETERS_VALIDATION(ROUTE_MODULE_RECALL_STATEQuery)
int32_t ROUTE_MODULE_RECALL_STATEQuery_DoExecutionConclusion(CommandContext* context) {
  return SetBooleanReply(ModuleNameAutoRecall(), context);
}

// ---- *SAV, *RCL ------------------------------------------------------------------------

int32_t SAV_DoContextValidation(CommandContext* context) { return ValidateStateNumber(context); }
int32_t SAV_DoExecutionConclusion(CommandContext* context) {
  return SaveRelayState(StateNumber(context));
}

int32_t RCL_DoContextValidation(CommandContext* context) { return ValidateStateNumber(context); }
int32_t RCL_DoExecutionConclusion(CommandContext* context) {
  return RecallRelayState(StateNumber(context));
}
