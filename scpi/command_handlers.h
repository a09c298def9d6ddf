// The declaration of a command's two handlers, as the command table names them:
// NAME_DoContextValidation and NAME_DoExecutionConclusion. The subsystems' handler
// headers declare their commands with it.
#pragma once

#include <cstdint>

struct CommandContext;

#define COMMAND_HANDLERS(NAME)                                     \
  int32_t NAME##_DoContextValidation(CommandContext* context);     \
  int32_t NAME##_DoExecutionConclusion(CommandContext* context)
