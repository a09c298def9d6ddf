// The SCPI engine's entry point and the records every handler works with. A command
// channel hands ExecuteProgramMessage one program message; the engine parses all its
// commands, validates every one, then executes them in order, gathers the query
// replies into one response, reports the first error and keeps the status byte
// current, all through the channel's ChannelHandle callbacks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/channel_handle.h"
#include "scpi/command_tree.h"

struct ExecutionContext;
struct CommandContext;
class Arena;

// Status word of a parsed command.
inline constexpr int32_t kCommandParsed = 0;
inline constexpr int32_t kCommandFailed = 1;
inline constexpr int32_t kCommandValidated = 3;
inline constexpr int32_t kCommandValidatedList = 4;  // validated, holds one channel list

inline constexpr std::size_t kHeaderMax = 256;         // characters of a header
inline constexpr int32_t kParameterMax = 515;          // parameters of one command
inline constexpr std::size_t kKeywordMax = 31;         // characters of one keyword
inline constexpr std::size_t kReplySize = 10244;       // reply buffer, NUL included
inline constexpr std::size_t kResponseLimit = 10238;   // reply plus response stay below this
inline constexpr std::size_t kErrorDetailSize = 257;   // detail text, NUL included

struct ParsedCommand {
  char* text;                   // trimmed, upper case outside quotes
  int32_t status;               // kCommandParsed, kCommandFailed, kCommandValidated...
  ExecutionContext* execution;  // the program message it belongs to
  CommandContext* context;
};

struct CommandContext {
  ParsedCommand* command;
  char* header;
  char** parameters;
  int32_t parameter_count;
  // A channel list a handler parsed; released after the message when set.
  void* channel_list[2];
  CommandRecord operations;
  // Data a handler keeps until the message ends; DoCompletion is called when set.
  void* scratch;
};

struct ExecutionContext {
  ChannelHandle* handle;
  uint8_t ese;
  uint8_t esr;
  uint8_t sre;
  uint8_t stb;
  int32_t command_count;
  ParsedCommand* commands;
  int32_t error_code;  // 0, or the SCPI or device code a handler stored
  char error_detail[kErrorDetailSize];
  std::size_t reply_length;
  char reply[kReplySize];  // the current command's reply; only reply_length bytes are valid
};

// Executes the NUL-terminated program message in handle->command_text.
void ExecuteProgramMessage(ChannelHandle* handle);

// The engine's scratch memory, for tests that simulate its exhaustion.
Arena& EngineArenaForTest();

// Releases a channel list a handler left in CommandContext::channel_list, after the
// message; connected for the channel-list code. Unconnected, the engine leaves such
// pointers alone.
using ChannelListRelease = void (*)(void* list);
void SetChannelListRelease(ChannelListRelease release);
