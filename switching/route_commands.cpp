// The relay commands: CLOSe, OPEN, OPEN:ALL and their state queries, the relay modes
// of CONFigure, the attenuator's ATTenuate, and the card-directed SYSTem:RESet. Every
// channel list is parsed and checked against the cards while the message is
// validated, so a bad list switches nothing.
#include <cstdio>
#include <cstring>
#include <string>

#include "cards/card_manager.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "scpi/slot_notifications.h"
#include "switching/channel_list.h"
#include "switching/relay_operations.h"
#include "switching/switching_handlers.h"

namespace {

constexpr std::size_t kStateReplyLimit = 10238;
constexpr std::size_t kAttenuationReplyLimit = 10230;
constexpr double kAttenuationMax = 128;


// One channel list parameter, relay channels only (and, for CLOSe, the one-wire
// multiplexers' rules).
int32_t ValidateRelayList(CommandContext* context, bool keep_paths, bool closing) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  const int32_t parsed = ParseChannelListParam(context, context->parameters[0], keep_paths,
                                               false, 0);
  if (parsed != 0) return parsed;
  const ChannelList& list = *ContextChannelList(context);
  if (!AllRelayChannels(list)) return ConcludeValidation(context, err::kRelayChannelsOnly);
  if (closing) return ConcludeValidation(context, CheckCloseCompatibility(list), kCommandValidatedList);
  return ConcludeValidation(context, 0, kCommandValidatedList);
}

// "1 0 1": for each element, 1 when it is in the asked state.
int32_t StateReply(CommandContext* context, bool closed_is_one) {
  const ChannelList& list = *ContextChannelList(context);
  std::string reply;
  for (const ChannelListElement& element : list.close) {
    if (reply.size() >= kStateReplyLimit) break;
    const bool closed = element.path != 0 ? PathClosedState(element.name.c_str()) == 1
                                          : CardGetRelayState(element.slot, element.channel) > 0;
    reply += closed == closed_is_one ? "1 " : "0 ";
  }
  if (!reply.empty()) reply.pop_back();
  if (reply.size() > kStateReplyLimit) reply.resize(kStateReplyLimit);
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

constexpr KeywordValue kRelayModeNames[] = {
    {"BBM", kRelayModeBbm},
    {"MBB", kRelayModeMbb},
    {"IMM", kRelayModeImm},
    {nullptr, 0},
};

// The attenuator checks of one element: 0, or why it cannot be attenuated.
int32_t CheckAttenuatorElement(const ChannelListElement& element) {
  if (element.path != 0) return err::kPathNotSupported;
  if (!IsCardPresent(element.slot)) return err::kMissingModuleNumberOrName;
  uint32_t type_id = 0;
  if (GetCardTypeId(element.slot, &type_id) != 0 || type_id != kSmAt56TypeId) {
    return err::kNotSupportedByChannel;
  }
  return 0;
}

}  // namespace

// ---- CLOSe, OPEN, OPEN:ALL --------------------------------------------------------

int32_t ROUTE_CLOSE_DoContextValidation(CommandContext* context) {
  return ValidateRelayList(context, false, true);
}
int32_t ROUTE_CLOSE_DoExecutionConclusion(CommandContext* context) {
  return CloseChannels(*ContextChannelList(context));
}

int32_t ROUTE_OPEN_DoContextValidation(CommandContext* context) {
  return ValidateRelayList(context, false, false);
}
int32_t ROUTE_OPEN_DoExecutionConclusion(CommandContext* context) {
  return OpenChannels(*ContextChannelList(context));
}

NO_PARAMETERS_VALIDATION(ROUTE_OPEN_ALL)
int32_t ROUTE_OPEN_ALL_DoExecutionConclusion(CommandContext* /*context*/) {
  return OpenAllChannels();
}

int32_t ROUTE_CLOSEQuery_DoContextValidation(CommandContext* context) {
  return ValidateRelayList(context, true, false);
}
int32_t ROUTE_CLOSEQuery_DoExecutionConclusion(CommandContext* context) {
  return StateReply(context, true);
}

int32_t ROUTE_OPENQuery_DoContextValidation(CommandContext* context) {
  return ValidateRelayList(context, true, false);
}
int32_t ROUTE_OPENQuery_DoExecutionConclusion(CommandContext* context) {
  return StateReply(context, false);
}

// ---- CONFigure ----------------------------------------------------------------------

int32_t ROUTE_CONFIGURE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 2);
  if (code == 0 && LookupKeywordValue(kRelayModeNames, context->parameters[1]) < 0) {
    code = err::kIllegalParameterValue;
  }
  int32_t modules[kModuleListSize];
  if (code == 0) code = ParseModuleList(context->parameters[0], modules);
  return ConcludeValidation(context, code);
}

// Modules before a refusing one keep their new mode.
int32_t ROUTE_CONFIGURE_DoExecutionConclusion(CommandContext* context) {
  const char letter = context->parameters[1][0];
  const uint32_t mode = letter == 'M' ? kRelayModeMbb : letter == 'B' ? kRelayModeBbm : kRelayModeImm;
  int32_t modules[kModuleListSize];
  const int32_t parsed = ParseModuleList(context->parameters[0], modules);
  if (parsed != 0) return parsed;
  for (int i = 0; modules[i] != 0; ++i) {
    const int32_t set = SetSwitchingMode(modules[i], mode);
    if (set != 0) return set;
  }
  return 0;
}

int32_t ROUTE_CONFIGUREQuery_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 1, 1);
  int32_t modules[kModuleListSize];
  if (code == 0) code = ParseModuleList(context->parameters[0], modules);
  for (int i = 0; code == 0 && modules[i] != 0; ++i) {
    if (!IsCardPresent(modules[i])) code = err::kNoModule;
  }
  return ConcludeValidation(context, code);
}

int32_t ROUTE_CONFIGUREQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t modules[kModuleListSize];
  const int32_t parsed = ParseModuleList(context->parameters[0], modules);
  if (parsed != 0) return parsed;
  for (int i = 0; modules[i] != 0; ++i) {
    uint32_t mode = kRelayModeNone;
    const int32_t read = GetSwitchingMode(modules[i], &mode);
    if (read != 0) return read;
    // BBM-only cards answer "???": their mode is not one a client can set.
    const int32_t appended =
        AppendIntegerNumberToReply(static_cast<int32_t>(mode), kRelayModeNames, context);
    if (appended != 0) return appended;
  }
  return 0;
}

// ---- ATTenuate ----------------------------------------------------------------------

int32_t ATTENUATE_DoContextValidation(CommandContext* context) {
  int32_t code = CheckParameterCount(context, 2, 2);
  if (code != 0) return ConcludeValidation(context, code);
  code = ParseChannelListParam(context, context->parameters[1], true, true, 0);
  if (code != 0) return code;
  double value = 0;
  return ConcludeValidation(context, ParseReal(context->parameters[0], 0, kAttenuationMax, &value));
}

// Every element is checked before any card switches.
int32_t ATTENUATE_DoExecutionConclusion(CommandContext* context) {
  const ChannelList& list = *ContextChannelList(context);
  for (const ChannelListElement& element : list.close) {
    const int32_t checked = CheckAttenuatorElement(element);
    if (checked != 0) return checked;
  }
  double value = 0;
  const int32_t parsed = ParseReal(context->parameters[0], 0, kAttenuationMax, &value);
  if (parsed != 0) return parsed;
  for (const ChannelListElement& element : list.close) {
    const int32_t set = SetAttenuation(element.slot, value);
    if (set != 0) return set;
    FlagSlotNotification(element.slot);
  }
  return 0;
}

int32_t ATTENUATEQuery_DoContextValidation(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  return ParseChannelListParam(context, context->parameters[0], false, true, 0);
}

int32_t ATTENUATEQuery_DoExecutionConclusion(CommandContext* context) {
  const ChannelList& list = *ContextChannelList(context);
  std::string reply;
  for (const ChannelListElement& element : list.close) {
    int32_t checked = CheckAttenuatorElement(element);
    if (checked == 0 && element.channel != 0) checked = err::kChannelNotValid;
    if (checked != 0) return checked;
    if (reply.size() >= kAttenuationReplyLimit) continue;
    double decibels = 0;
    const int32_t read = GetAttenuation(element.slot, &decibels);
    if (read != 0) return read;
    char item[32];
    std::snprintf(item, sizeof item, "%.2f", decibels + 0.001);
    if (!reply.empty()) reply.push_back(',');
    reply += item;
  }
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

// ---- SYSTem:RESet ---------------------------------------------------------------------

int32_t SYST_RESET_DoContextValidation(CommandContext* context) {
  return ValidateCardCommand(kSystemResetCommandId, context);
}
int32_t SYST_RESET_DoExecutionConclusion(CommandContext* context) {
  return ExecuteCardCommand(kSystemResetCommandId, context);
}
