// The DIGital commands of the SM-DIO12 cards: asynchronous port reads and writes, port
// directions, synchronous ports and their patterns, the busy and clock polarities and
// the synchronous run's state. Every list must name digital cards (-30004); a data
// list must have as many values as its channel list has entries (-10236). The channel
// or module list may stand before or after the other parameters.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "cards/digital_io.h"
#include "scpi/error_codes.h"
#include "scpi/handler_support.h"
#include "switching/channel_list.h"
#include "switching/switching_handlers.h"

namespace {


// The index of the parameter that holds the list ("(@..."), or -1.
int ListParameter(const CommandContext* context) {
  for (int i = 0; i < context->parameter_count; ++i) {
    if (std::strncmp(context->parameters[i], "(@", 2) == 0) return i;
  }
  return -1;
}

// The other parameters, in order.
std::vector<const char*> Values(const CommandContext* context) {
  std::vector<const char*> values;
  const int list = ListParameter(context);
  for (int i = 0; i < context->parameter_count; ++i) {
    if (i != list) values.push_back(context->parameters[i]);
  }
  return values;
}

// A channel list of digital ports, kept in the context; `values` other parameters.
int32_t ValidatePorts(CommandContext* context, int least_values, int most_values) {
  const int list = ListParameter(context);
  const int values = context->parameter_count - (list >= 0 ? 1 : 0);
  if (list < 0) return ConcludeValidation(context, err::kMissingParameter);
  if (values < least_values) return ConcludeValidation(context, err::kMissingParameter);
  if (values > most_values) return ConcludeValidation(context, err::kParameterNotAllowed);
  const int32_t parsed = ParseChannelListParam(context, context->parameters[list], false, true, 0);
  if (parsed != 0) return parsed;
  if (!AllDigitalChannels(*ContextChannelList(context))) {
    return ConcludeValidation(context, err::kNotDigitalModule);
  }
  return ConcludeValidation(context, 0, kCommandValidatedList);
}

const std::vector<ChannelListElement>& Ports(CommandContext* context) {
  return ContextChannelList(context)->close;
}

// A module list of digital cards.
int32_t ParseDigitalModules(const char* text, int32_t modules[kModuleListSize]) {
  const int32_t parsed = ParseModuleList(text, modules);
  if (parsed != 0) return parsed;
  for (int i = 0; modules[i] != 0; ++i) {
    if (CardDigitalOp(modules[i], 0) != 1) return err::kNotDigitalModule;
  }
  return 0;
}

int32_t ValidateModules(CommandContext* context, int values) {
  const int list = ListParameter(context);
  if (list < 0 || context->parameter_count - 1 < values) {
    return ConcludeValidation(context, err::kMissingParameter);
  }
  if (context->parameter_count - 1 > values) return ConcludeValidation(context, err::kParameterNotAllowed);
  int32_t modules[kModuleListSize];
  return ConcludeValidation(context, ParseDigitalModules(context->parameters[list], modules));
}

int32_t Modules(CommandContext* context, int32_t modules[kModuleListSize]) {
  return ParseDigitalModules(context->parameters[ListParameter(context)], modules);
}

// Integers of the values in [0, maximum], as many as `count` (-10236 otherwise).
int32_t ParseValues(const CommandContext* context, int32_t maximum, std::size_t count,
                    std::vector<int32_t>* out) {
  const std::vector<const char*> values = Values(context);
  if (values.size() != count) return err::kDataListSizeMismatch;
  out->clear();
  for (const char* text : values) {
    int32_t value = 0;
    const int32_t parsed = ParseInteger(text, 0, maximum, &value);
    if (parsed != 0) return parsed;
    out->push_back(value);
  }
  return 0;
}

bool Inverted(const char* text) { return text[0] == 'I'; }

// One integer reply item per listed port: `item` (slot, port, out value) gives it, or
// an error that ends the reply.
template <typename Item>
int32_t ReplyPerPort(CommandContext* context, Item item) {
  for (const ChannelListElement& port : Ports(context)) {
    int32_t value = 0;
    const int32_t read = item(port.slot, port.channel, &value);
    if (read != 0) return read;
    const int32_t appended = AppendIntegerNumberToReply(value, context);
    if (appended != 0) return appended;
  }
  return 0;
}

int32_t AppendItem(const char* text, CommandContext* context) {
  return AppendStringToReply(text, context);
}

}  // namespace

// ---- Asynchronous ports ------------------------------------------------------------

int32_t DIG_INPUTQuery_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
int32_t DIG_INPUTQuery_DoExecutionConclusion(CommandContext* context) {
  for (const ChannelListElement& port : Ports(context)) {
    bool synchronous = false;
    bool output = false;
    int32_t result = DioIsSynchronous(port.slot, port.channel, &synchronous);
    if (result == 0) result = DioIsOutput(port.slot, port.channel, &output);
    if (result != 0) return result;
    if (synchronous && output) return err::kReadFromSyncOutputPort;
  }
  return ReplyPerPort(context, [](int slot, int port, int32_t* value) {
    uint8_t byte = 0;
    const int32_t read = DioReadPort(slot, port, &byte);
    *value = byte;
    return read;
  });
}

int32_t DIG_OUTPUT_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 1, kParameterMax);
  if (validated != 0) return validated;
  std::vector<int32_t> bytes;
  return ConcludeValidation(context, ParseValues(context, 255, Ports(context).size(), &bytes),
                  kCommandValidatedList);
}
int32_t DIG_OUTPUT_DoExecutionConclusion(CommandContext* context) {
  std::vector<int32_t> bytes;
  const int32_t parsed = ParseValues(context, 255, Ports(context).size(), &bytes);
  if (parsed != 0) return parsed;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const ChannelListElement& port = Ports(context)[i];
    const int32_t written = DioWritePort(port.slot, port.channel, static_cast<uint8_t>(bytes[i]));
    if (written != 0) return written;
  }
  return 0;
}

int32_t DIG_OUTPUT_STATE_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 1, 1);
  if (validated != 0) return validated;
  int32_t on = 0;
  return ConcludeValidation(context, ParseBoolean(Values(context)[0], &on), kCommandValidatedList);
}
int32_t DIG_OUTPUT_STATE_DoExecutionConclusion(CommandContext* context) {
  int32_t on = 0;
  ParseBoolean(Values(context)[0], &on);
  for (const ChannelListElement& port : Ports(context)) {
    const int32_t set = DioSetOutputState(port.slot, port.channel, on != 0);
    if (set != 0) return set;
  }
  return 0;
}

int32_t DIG_OUTPUT_STATEQuery_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
int32_t DIG_OUTPUT_STATEQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyPerPort(context, [](int slot, int port, int32_t* value) {
    bool output = false;
    const int32_t read = DioIsOutput(slot, port, &output);
    *value = output ? 1 : 0;
    return read;
  });
}

// ---- Synchronous ports -------------------------------------------------------------

int32_t DIG_CONFIGURE_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
// Each entry makes its port the first asynchronous one: ports below it are synchronous.
int32_t DIG_CONFIGURE_DoExecutionConclusion(CommandContext* context) {
  for (const ChannelListElement& port : Ports(context)) {
    const int32_t set = DioSetSyncCount(port.slot, port.channel);
    if (set != 0) return set;
  }
  return 0;
}

int32_t DIG_CONFIGUREQuery_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
int32_t DIG_CONFIGUREQuery_DoExecutionConclusion(CommandContext* context) {
  for (const ChannelListElement& port : Ports(context)) {
    bool synchronous = false;
    const int32_t read = DioIsSynchronous(port.slot, port.channel, &synchronous);
    if (read != 0) return read;
    const int32_t appended = AppendItem(synchronous ? "SYNC" : "ASYN", context);
    if (appended != 0) return appended;
  }
  return 0;
}

int32_t DIG_SYNC_POINTS_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 1, 1);
  if (validated != 0) return validated;
  int32_t points = 0;
  return ConcludeValidation(context, ParseInteger(Values(context)[0], 0, kDioPatternBytes, &points),
                  kCommandValidatedList);
}
int32_t DIG_SYNC_POINTS_DoExecutionConclusion(CommandContext* context) {
  int32_t points = 0;
  ParseInteger(Values(context)[0], 0, kDioPatternBytes, &points);
  for (const ChannelListElement& port : Ports(context)) {
    bool output = false;
    const int32_t read = DioIsOutput(port.slot, port.channel, &output);
    if (read != 0) return read;
    if (output) return err::kSyncPointsOnOutputPort;
  }
  for (const ChannelListElement& port : Ports(context)) DioSetPoints(port.slot, port.channel, points);
  return 0;
}

int32_t DIG_SYNC_POINTSQuery_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
int32_t DIG_SYNC_POINTSQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyPerPort(context, [](int slot, int port, int32_t* value) {
    *value = DioPoints(slot, port);
    return 0;
  });
}

int32_t DIG_SYNC_INDEX_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 1, 1);
  if (validated != 0) return validated;
  int32_t index = 0;
  return ConcludeValidation(context, ParseInteger(Values(context)[0], 0, kDioPatternBytes - 1, &index),
                  kCommandValidatedList);
}
int32_t DIG_SYNC_INDEX_DoExecutionConclusion(CommandContext* context) {
  int32_t index = 0;
  ParseInteger(Values(context)[0], 0, kDioPatternBytes - 1, &index);
  for (const ChannelListElement& port : Ports(context)) {
    bool output = false;
    const int32_t read = DioIsOutput(port.slot, port.channel, &output);
    if (read != 0) return read;
    if (!output || DioSyncMode(port.slot)) return err::kSyncIndexNotValid;
    if (index > DioPoints(port.slot, port.channel)) return err::kInvalidIndex;
  }
  for (const ChannelListElement& port : Ports(context)) DioSetIndex(port.slot, port.channel, index);
  return 0;
}

int32_t DIG_SYNC_INDEXQuery_DoContextValidation(CommandContext* context) {
  return ValidatePorts(context, 0, 0);
}
int32_t DIG_SYNC_INDEXQuery_DoExecutionConclusion(CommandContext* context) {
  return ReplyPerPort(context, [](int slot, int port, int32_t* value) {
    *value = DioIndex(slot, port);
    return 0;
  });
}

// One port and its bytes: appended to the port's pattern, all or none.
int32_t DIG_SYNC_DATA_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 1, kParameterMax);
  if (validated != 0) return validated;
  if (Ports(context).size() != 1) return ConcludeValidation(context, err::kDataListSizeMismatch);
  for (const char* text : Values(context)) {
    int32_t byte = 0;
    const int32_t parsed = ParseInteger(text, 0, 255, &byte);
    if (parsed != 0) return ConcludeValidation(context, parsed);
  }
  return 0;
}
int32_t DIG_SYNC_DATA_DoExecutionConclusion(CommandContext* context) {
  const ChannelListElement& port = Ports(context)[0];
  bool output = false;
  const int32_t read = DioIsOutput(port.slot, port.channel, &output);
  if (read != 0) return read;
  if (!output) return err::kSyncDataNotValid;
  const std::vector<const char*> values = Values(context);
  if (DioPoints(port.slot, port.channel) + static_cast<int>(values.size()) > kDioPatternBytes) {
    return err::kDataBufferOverflow;
  }
  for (const char* text : values) {
    int32_t byte = 0;
    ParseInteger(text, 0, 255, &byte);
    const int32_t appended = DioAppendData(port.slot, port.channel, static_cast<uint8_t>(byte));
    if (appended != 0) return appended;
  }
  return 0;
}

int32_t DIG_SYNC_DATAQuery_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidatePorts(context, 0, 0);
  if (validated != 0) return validated;
  return ConcludeValidation(context, Ports(context).size() == 1 ? 0 : err::kDataListSizeMismatch,
                  kCommandValidatedList);
}
// The pattern's first bytes: as many as its points (output) or as recorded (input).
int32_t DIG_SYNC_DATAQuery_DoExecutionConclusion(CommandContext* context) {
  const ChannelListElement& port = Ports(context)[0];
  bool output = false;
  const int32_t read = DioIsOutput(port.slot, port.channel, &output);
  if (read != 0) return read;
  const int count = output ? DioPoints(port.slot, port.channel) : DioIndex(port.slot, port.channel);
  uint8_t bytes[kDioPatternBytes] = {};
  DioPattern(port.slot, port.channel, bytes, count);
  std::string reply;
  for (int i = 0; i < count; ++i) {
    if (i > 0) reply += ',';
    reply += std::to_string(bytes[i]);
  }
  if (reply.empty()) return AppendEmptyReply(context);
  return AppendToReply(reply.data(), reply.size(), ',', context);
}

// ---- Module-wide settings ----------------------------------------------------------

// The clock polarity takes NORMal or INVerted; the busy polarity takes any text, one
// beginning with "I" being inverted.
bool KnownPolarity(const char* value) {
  return std::strcmp(value, "NORM") == 0 || std::strcmp(value, "NORMAL") == 0 ||
         std::strcmp(value, "INV") == 0 || std::strcmp(value, "INVERTED") == 0;
}
bool AnyPolarity(const char*) { return true; }

#define POLARITY_HANDLERS(NAME, SET, GET, ACCEPTED)                                         \
  int32_t NAME##_DoContextValidation(CommandContext* context) {                            \
    const int32_t validated = ValidateModules(context, 1);                                 \
    if (validated != 0) return validated;                                                   \
    const bool known = ACCEPTED(Values(context)[0]);                                        \
    return ConcludeValidation(context, known ? 0 : err::kIllegalParameterValue);            \
  }                                                                                         \
  int32_t NAME##_DoExecutionConclusion(CommandContext* context) {                          \
    int32_t modules[kModuleListSize];                                                       \
    const int32_t parsed = Modules(context, modules);                                       \
    if (parsed != 0) return parsed;                                                         \
    for (int i = 0; modules[i] != 0; ++i) {                                                 \
      const int32_t set = SET(modules[i], Inverted(Values(context)[0]));                    \
      if (set != 0) return set;                                                             \
    }                                                                                       \
    return 0;                                                                               \
  }                                                                                         \
  int32_t NAME##Query_DoContextValidation(CommandContext* context) {                       \
    return ValidateModules(context, 0);                                                     \
  }                                                                                         \
  int32_t NAME##Query_DoExecutionConclusion(CommandContext* context) {                     \
    int32_t modules[kModuleListSize];                                                       \
    const int32_t parsed = Modules(context, modules);                                       \
    if (parsed != 0) return parsed;                                                         \
    for (int i = 0; modules[i] != 0; ++i) {                                                 \
      bool inverted = false;                                                                \
      const int32_t read = GET(modules[i], &inverted);                                      \
      if (read != 0) return read;                                                           \
      const int32_t appended = AppendItem(inverted ? "INVERTED" : "NORMAL", context);       \
      if (appended != 0) return appended;                                                   \
    }                                                                                       \
    return 0;                                                                               \
  }

POLARITY_HANDLERS(DIG_SYNC_BUSY, DioSetBusyInverted, DioBusyInverted, AnyPolarity)
POLARITY_HANDLERS(DIG_SYNC_CLOCK, DioSetClockInverted, DioClockInverted, KnownPolarity)

#undef POLARITY_HANDLERS

int32_t DIG_SYNC_STATE_DoContextValidation(CommandContext* context) {
  const int32_t validated = ValidateModules(context, 1);
  if (validated != 0) return validated;
  int32_t on = 0;
  return ConcludeValidation(context, ParseBoolean(Values(context)[0], &on));
}
// Each card in list order: sync mode set, and armed (ON) or disarmed (OFF).
int32_t DIG_SYNC_STATE_DoExecutionConclusion(CommandContext* context) {
  int32_t modules[kModuleListSize];
  const int32_t parsed = Modules(context, modules);
  if (parsed != 0) return parsed;
  int32_t on = 0;
  ParseBoolean(Values(context)[0], &on);
  for (int i = 0; modules[i] != 0; ++i) {
    DioSetSyncMode(modules[i], on != 0);
    const int32_t armed = DioArm(modules[i], on != 0);
    if (armed != 0) return armed;
  }
  return 0;
}

int32_t DIG_SYNC_STATEQuery_DoContextValidation(CommandContext* context) {
  return ValidateModules(context, 0);
}
int32_t DIG_SYNC_STATEQuery_DoExecutionConclusion(CommandContext* context) {
  int32_t modules[kModuleListSize];
  const int32_t parsed = Modules(context, modules);
  if (parsed != 0) return parsed;
  for (int i = 0; modules[i] != 0; ++i) {
    const int32_t appended = AppendIntegerNumberToReply(DioSyncMode(modules[i]) ? 1 : 0, context);
    if (appended != 0) return appended;
  }
  return 0;
}

int32_t DIG_SYNC_CLEAR_DoContextValidation(CommandContext* context) {
  return ValidateModules(context, 0);
}
int32_t DIG_SYNC_CLEAR_DoExecutionConclusion(CommandContext* context) {
  int32_t modules[kModuleListSize];
  const int32_t parsed = Modules(context, modules);
  if (parsed != 0) return parsed;
  for (int i = 0; modules[i] != 0; ++i) {
    const int32_t cleared = DioClearRun(modules[i]);
    if (cleared != 0) return cleared;
  }
  return 0;
}
