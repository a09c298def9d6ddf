// The INCLude and EXCLude commands. Both sides work alike; each named handler hands
// its side to one shared body.
#include <string>

#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "switching/channel_list.h"
#include "switching/interlocks.h"
#include "switching/relay_operations.h"
#include "switching/switching_handlers.h"

namespace {

constexpr char kOverflowDetail[] = "Output queue overflow";


// A channel list for the deleting and listing forms: a path that brings channels to
// open cannot name members.
int32_t ValidateMemberList(CommandContext* context) {
  const int32_t parsed = ParseChannelListParam(context, context->parameters[0], false, true, 0);
  if (parsed != 0) return parsed;
  return ConcludeValidation(context, ContextChannelList(context)->open.empty() ? 0 : err::kSyntaxError);
}

int32_t ValidateGroup(InterlockSide side, CommandContext* context) {
  const bool include = side == InterlockSide::kInclude;
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  const int32_t parsed = ParseChannelListParam(context, context->parameters[0], false, true, 0);
  if (parsed != 0) return parsed;
  const ChannelList& list = *ContextChannelList(context);
  if (!list.open.empty()) {
    return ConcludeValidation(context, include ? err::kOpenPathInIncludeList : err::kOpenPathInExcludeList);
  }
  if (list.close.size() < 2) {
    return ConcludeValidation(context, include ? err::kIncludeListTooShort : err::kExcludeListTooShort);
  }
  if (!AllRelayChannels(list)) return ConcludeValidation(context, err::kRelayChannelsOnly);
  // Relays that close together must be closable together.
  return ConcludeValidation(context, include ? CheckCloseCompatibility(list) : 0);
}

int32_t MakeGroup(InterlockSide side, CommandContext* context) {
  return MakeInterlockGroup(side, *ContextChannelList(context));
}

int32_t ValidateDelete(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  return ValidateMemberList(context);
}

int32_t DeleteMembers(InterlockSide side, CommandContext* context) {
  for (const ChannelListElement& element : ContextChannelList(context)->close) {
    RemoveFromInterlockGroup(side, element.slot, element.channel);
  }
  return 0;
}

int32_t ValidateList(CommandContext* context) {
  const int32_t count = CheckParameterCount(context, 0, 1);
  if (count != 0 || context->parameter_count == 0) return ConcludeValidation(context, count);
  return ValidateMemberList(context);
}

int32_t ListGroups(InterlockSide side, CommandContext* context) {
  std::string text;
  const int32_t listed = ListInterlockGroups(side, ContextChannelList(context), &text);
  if (listed == err::kTooMuchData) {
    SetCommandResult(context, kCommandFailed, listed, kOverflowDetail);
    return listed;
  }
  if (listed != 0) return listed;
  if (text.empty()) return AppendEmptyReply(context);
  return AppendToReply(text.data(), text.size(), ',', context);
}

int32_t SetAutoRecall(InterlockSide side, CommandContext* context) {
  int32_t on = 0;
  const int32_t parsed = ParseBoolean(context->parameters[0], &on);
  if (parsed != 0) return parsed;
  return SetInterlockAutoRecall(side, on != 0);
}

}  // namespace

#define INTERLOCK_HANDLERS(NAME, SIDE)                                                     \
  int32_t NAME##_DoContextValidation(CommandContext* context) {                            \
    return ValidateGroup(SIDE, context);                                                   \
  }                                                                                        \
  int32_t NAME##_DoExecutionConclusion(CommandContext* context) {                          \
    return MakeGroup(SIDE, context);                                                       \
  }                                                                                        \
  int32_t NAME##_DELETE_DoContextValidation(CommandContext* context) {                     \
    return ValidateDelete(context);                                                        \
  }                                                                                        \
  int32_t NAME##_DELETE_DoExecutionConclusion(CommandContext* context) {                   \
    return DeleteMembers(SIDE, context);                                                   \
  }                                                                                        \
  NO_PARAMETERS_VALIDATION(NAME##_DELETE_ALL)                                              \
  int32_t NAME##_DELETE_ALL_DoExecutionConclusion(CommandContext* /*context*/) {           \
    DeleteAllInterlockGroups(SIDE);                                                        \
    return 0;                                                                              \
  }                                                                                        \
  int32_t NAME##Query_DoContextValidation(CommandContext* context) {                       \
    return ValidateList(context);                                                          \
  }                                                                                        \
  int32_t NAME##Query_DoExecutionConclusion(CommandContext* context) {                     \
    return ListGroups(SIDE, context);                                                      \
  }                                                                                        \
  NO_PARAMETERS_VALIDATION(NAME##_STORE)                                                   \
  int32_t NAME##_STORE_DoExecutionConclusion(CommandContext* /*context*/) {                \
    return StoreInterlockList(SIDE);                                                       \
  }                                                                                        \
  NO_PARAMETERS_VALIDATION(NAME##_RECALL)                                                  \
  int32_t NAME##_RECALL_DoExecutionConclusion(CommandContext* /*context*/) {               \
    return RecallInterlockList(SIDE);                                                      \
  }                                                                                        \
  int32_t NAME##_RECALL_AUTO_DoContextValidation(CommandContext* context) {                \
    return ValidateBoolean(context);                                                       \
  }                                                                                        \
  int32_t NAME##_RECALL_AUTO_DoExecutionConclusion(CommandContext* context) {              \
    return SetAutoRecall(SIDE, context);                                                   \
  }                                                                                        \
  NO_PARAMETERS_VALIDATION(NAME##_RECALL_AUTOQuery)                                        \
  int32_t NAME##_RECALL_AUTOQuery_DoExecutionConclusion(CommandContext* context) {         \
    return SetBooleanReply(InterlockAutoRecall(SIDE), context);                            \
  }

INTERLOCK_HANDLERS(ROUTE_INCLUDE, InterlockSide::kInclude)
INTERLOCK_HANDLERS(ROUTE_EXCLUDE, InterlockSide::kExclude)

#undef INTERLOCK_HANDLERS
