// The execution pipeline: parse and validate every command of a program message,
// refuse what this pipeline cannot run, execute the commands in order, join their
// replies into one response and report the first error (see scpi_engine.h).
//
// The engine runs under the controller's one execution lock, so its working state is
// a single static block: no heap allocation on the common path. Contexts, command
// copies and parameters live in the arena, which only a message of thousands of
// commands or parameters outgrows; that spill is the one place memory can run out
// ("Out of memory", nothing executes). The execution context itself is static and
// cannot fail.
#include "scpi/scpi_engine.h"

#include <cstring>

#include "core/seam.h"
#include "scpi/error_codes.h"
#include "scpi/error_report.h"
#include "scpi/program_parser.h"
#include "scpi/slot_notifications.h"
#include "scpi/status.h"

namespace {

Seam<void(void*)> g_release_channel_list;

constexpr char kSegmentTableDetail[] =
    "Command has a DoGetSegmentTable funcxtion pointer but should not";
constexpr char kDel = 127;

struct Engine {
  Arena arena;
  ExecutionContext execution;
  HeaderPrefix prefix;
  std::size_t response_length;
  char response[kResponseLimit + 1];
};

Engine g_engine;

void Report(ExecutionContext* execution, int32_t code) {
  ReportError(execution->handle, code, execution->error_detail);
}

// Appends a command's reply to the response; -400 when an earlier response is unread
// or the response would reach its limit.
int32_t AppendReply(const ExecutionContext* execution, bool output_pending) {
  if (output_pending) return err::kQueryError;
  // The joining ';' is not counted, so a response can reach 10238 characters: the
  // command channel sends that as one piece with its line feed.
  std::size_t separator = g_engine.response_length > 0 ? 1 : 0;
  if (g_engine.response_length + execution->reply_length >= kResponseLimit) {
    return err::kQueryError;
  }
  char* out = g_engine.response + g_engine.response_length;
  if (separator != 0) *out++ = ';';
  std::memcpy(out, execution->reply, execution->reply_length);
  g_engine.response_length += separator + execution->reply_length;
  return 0;
}

// Runs DoCompletion for every command that left data behind. Returns the first
// failure (reported by the caller when nothing else was), or 0.
int32_t RunCompletions(ExecutionContext* execution, int32_t parsed) {
  int32_t failure = 0;
  for (int32_t i = 0; i < parsed; ++i) {
    CommandContext* context = execution->commands[i].context;
    if (context == nullptr || context->scratch == nullptr) continue;
    int32_t result = err::kInternalError1;  // no completion operation: nothing to report
    if (context->operations.DoCompletion != nullptr) {
      result = context->operations.DoCompletion(context);
    }
    context->scratch = nullptr;
    if (result < 0) {
      failure = result;
      break;
    }
  }
  return failure;
}

void Release(ExecutionContext* execution, int32_t parsed) {
  if (ChannelListRelease release = g_release_channel_list.function()) {
    for (int32_t i = 0; i < parsed; ++i) {
      CommandContext* context = execution->commands[i].context;
      if (context == nullptr) continue;
      for (void*& list : context->channel_list) {
        if (list != nullptr) release(list);
        list = nullptr;
      }
    }
  }
  g_engine.arena.Reset();
  SetExecutingChannel(nullptr);
}

// Parses and validates every command; returns the count parsed, having reported the
// first failure (then *failed is set).
int32_t ParseAndValidate(ExecutionContext* execution, const CommandList& list, bool* failed) {
  for (int32_t i = 0; i < list.count; ++i) {
    ParsedCommand* command = &execution->commands[i];
    *command = ParsedCommand{list.commands[i], kCommandParsed, execution, nullptr};
    if (ParseCommand(command, &g_engine.prefix, &g_engine.arena) != 0) {
      Report(execution, err::kOutOfNamedMemory);
      *failed = true;
      return command->context != nullptr ? i + 1 : i;
    }
    if (command->status == kCommandFailed) {
      Report(execution, execution->error_code);
      *failed = true;
      return i + 1;
    }
    CommandOperation validate = command->context->operations.DoContextValidation;
    if (command->status != kCommandParsed || validate == nullptr) continue;
    int32_t result = validate(command->context);
    if (result < 0 || command->status == kCommandFailed) {
      Report(execution, result < 0 ? result : execution->error_code);
      *failed = true;
      return i + 1;
    }
  }
  return list.count;
}

// Refuses what this pipeline cannot run; reports and returns false then.
bool CheckRunnable(ExecutionContext* execution) {
  for (int32_t i = 0; i < execution->command_count; ++i) {
    const CommandContext* context = execution->commands[i].context;
    if (context == nullptr) {
      execution->error_detail[0] = '\0';
      Report(execution, err::kSystemError);
      return false;
    }
    if (context->operations.DoGetSegmentTable != nullptr) {
      // Segment table refused.
      ReportError(execution->handle, err::kInternalError26, kSegmentTableDetail);
      return false;
    }
  }
  return true;
}

// Executes the commands in order; false when one failed (reported).
bool ExecuteAll(ExecutionContext* execution, bool output_pending) {
  ChannelHandle* handle = execution->handle;
  for (int32_t i = 0; i < execution->command_count; ++i) {
    CommandContext* context = execution->commands[i].context;
    CommandOperation conclude = context->operations.DoExecutionConclusion;
    if (conclude == nullptr) continue;
    execution->reply_length = 0;
    execution->reply[0] = '\0';
    int32_t result = conclude(context);
    if (result >= 0 && execution->error_code < 0) result = execution->error_code;
    if (result >= 0 && execution->reply_length > 0) {
      result = AppendReply(execution, output_pending);
      if (result < 0) execution->error_detail[0] = '\0';
      if (result == 0 && handle->read_status != nullptr) {
        SetStatusByteBits(handle, kStbMessageAvailable);
      }
    }
    if (result < 0) {
      Report(execution, result);
      return false;
    }
  }
  return true;
}

void SendResponse(ChannelHandle* handle) {
  if (g_engine.response_length == 0) return;
  char* text = g_engine.response;
  std::size_t length = g_engine.response_length;
  // Empty reply elements are DEL placeholders; they vanish here.
  char* del = static_cast<char*>(std::memchr(text, kDel, length));
  if (del != nullptr) {
    char* out = del;
    for (const char* in = del; in < text + length; ++in) {
      if (*in != kDel) *out++ = *in;
    }
    length = static_cast<std::size_t>(out - text);
  }
  text[length] = '\0';
  // A response of empty elements still goes out: the client is waiting for a line.
  if (handle->write_response != nullptr) {
    ForgetStatusCopy();
    handle->write_response(handle->channel, text);
  }
}

}  // namespace

Arena& EngineArenaForTest() { return g_engine.arena; }

void SetChannelListRelease(ChannelListRelease release) {
  g_release_channel_list.Connect(release);
}

void ExecuteProgramMessage(ChannelHandle* handle) {
  ClearSlotNotifications();
  // The channel hands over a terminated text; the last byte makes sure of it.
  handle->command_text[kCommandTextSize - 1] = '\0';
  ExecutionContext* execution = &g_engine.execution;
  execution->handle = handle;
  execution->error_code = 0;
  execution->error_detail[0] = '\0';

  CommandList list{};
  if (SplitProgramMessage(handle->command_text, &g_engine.arena, &list) < 0) {
    Report(execution, err::kOutOfNamedMemory);
    g_engine.arena.Reset();
    return;
  }
  if (list.count == 0) {
    g_engine.arena.Reset();
    return;
  }

  execution->ese = execution->esr = execution->sre = execution->stb = 0;
  execution->reply_length = 0;
  execution->commands = nullptr;
  execution->command_count = 0;
  g_engine.prefix.length = 0;
  g_engine.prefix.text[0] = '\0';
  g_engine.response_length = 0;
  SetExecutingChannel(handle);

  StatusBytes status{};
  if (ReadStatusBytes(handle, &status) == 0) {
    execution->ese = status.ese;
    execution->esr = status.esr;
    execution->sre = status.sre;
    execution->stb = status.stb;
  }
  bool output_pending = (execution->stb & kStbMessageAvailable) != 0;

  execution->commands =
      static_cast<ParsedCommand*>(g_engine.arena.Allocate(sizeof(ParsedCommand) * list.count));
  if (execution->commands == nullptr) {
    Report(execution, err::kOutOfNamedMemory);
    Release(execution, 0);
    return;
  }
  bool failed = false;
  int32_t parsed = ParseAndValidate(execution, list, &failed);
  execution->command_count = parsed;
  if (!failed) failed = !CheckRunnable(execution) || !ExecuteAll(execution, output_pending);
  if (!failed) {
    SendResponse(handle);
  } else if (g_engine.response_length > 0 && !output_pending) {
    // The replies gathered so far are discarded; the message-available bit set for
    // them would otherwise announce a response that never comes.
    ClearStatusByteBits(handle, kStbMessageAvailable);
  }

  int32_t completion = RunCompletions(execution, parsed);
  if (completion < 0 && !failed) {
    execution->error_detail[0] = '\0';
    Report(execution, completion);
  }
  Release(execution, parsed);
  // Relays a message switched before one of its commands failed did change: their
  // slots are announced all the same.
  BroadcastFlaggedSlots();
}
