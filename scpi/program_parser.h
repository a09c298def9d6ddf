// The program message parser: splits a message into commands at unquoted ';', folds
// each to upper case outside quotes, splits a command into its header and parameter
// strings, and resolves the header against the command tree, continuing the path of
// the previous header when it does not begin with ':' or '*'.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/arena.h"
#include "scpi/scpi_engine.h"

struct CommandList {
  int32_t count;
  char** commands;  // trimmed, upper case outside quotes, in the arena
};

// The header path one program message carries from command to command.
struct HeaderPrefix {
  std::size_t length;
  char text[kHeaderMax + 1];
};

// White space inside a command: bytes 1-9 and 11-32 (a line feed is not).
inline bool IsCommandSpace(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32 && b != 10;
}

// The count of commands (0 for a message of white space), or -1 when memory runs out.
int32_t SplitProgramMessage(const char* message, Arena* arena, CommandList* list);

// Fills the context's header, parameters and count; -1 when memory runs out.
int32_t SplitHeaderAndParameters(const char* text, CommandContext* context, Arena* arena);

// Resolves a header to its record, updating the prefix on success. 0, or -110 for a
// header that is unknown, too long, incomplete or not allowed at its position.
int32_t ResolveHeader(const char* header, HeaderPrefix* prefix, CommandRecord* record);

// Parses command->text into a new zeroed context (command->context). A header error
// marks the command failed with -110 in its execution context; the result is 0, or
// -1 when memory runs out.
int32_t ParseCommand(ParsedCommand* command, HeaderPrefix* prefix, Arena* arena);
