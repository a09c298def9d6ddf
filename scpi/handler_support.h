// Small helpers the engine's own handlers share: the channel a command runs for, its
// status bytes, and a reply from a constant text.
#pragma once

#include <cstdint>
#include <cstring>

#include "scpi/scpi_engine.h"
#include "scpi/scpi_params.h"
#include "scpi/status.h"

inline ChannelHandle* HandleOf(const CommandContext* context) {
  return context->command->execution->handle;
}

// The channel's status bytes now; all zero when no server is behind the handle.
inline StatusBytes CurrentStatus(const CommandContext* context) {
  StatusBytes bytes{};
  if (ReadStatusBytes(HandleOf(context), &bytes) != 0) bytes = StatusBytes{};
  return bytes;
}

// A parameter that validation already accepted as a boolean (ValidateBoolean).
inline bool BooleanParameter(const CommandContext* context, int index = 0) {
  int32_t on = 0;
  ParseBoolean(context->parameters[index], &on);
  return on != 0;
}

// The validation of a command that takes no parameters (most queries).
#define NO_PARAMETERS_VALIDATION(NAME)                              \
  int32_t NAME##_DoContextValidation(CommandContext* context) {     \
    return ValidateNoParameters(context);                           \
  }

template <std::size_t N>
int32_t AppendConstantToReply(const char (&text)[N], CommandContext* context) {
  return AppendToReply(text, N - 1, ',', context);
}
