// Splitting program messages and commands, and header resolution (see program_parser.h).
#include "scpi/program_parser.h"

#include <cstring>

#include "scpi/command_tree.h"
#include "scpi/error_codes.h"

namespace {

bool IsMessageSpace(char c) { return c == '\n' || IsCommandSpace(c); }
bool IsQuote(char c) { return c == '\'' || c == '"'; }

// Copies [begin, end) upper-cased outside quotes; every quote character toggles one flag.
char* CopyFolded(const char* begin, const char* end, Arena* arena) {
  auto length = static_cast<std::size_t>(end - begin);
  auto* copy = static_cast<char*>(arena->Allocate(length + 1));
  if (copy == nullptr) return nullptr;
  bool quoted = false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = begin[i];
    if (IsQuote(c)) {
      quoted = !quoted;
    } else if (!quoted && c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    copy[i] = c;
  }
  copy[length] = '\0';
  return copy;
}

}  // namespace

int32_t SplitProgramMessage(const char* message, Arena* arena, CommandList* list) {
  list->count = 0;
  list->commands = nullptr;
  const char* begin = message;
  while (IsMessageSpace(*begin)) ++begin;
  const char* end = begin + std::strlen(begin);
  while (end > begin && IsMessageSpace(end[-1])) --end;
  if (begin == end) return 0;

  int32_t count = 1;
  bool quoted = false;
  for (const char* p = begin; p < end; ++p) {
    if (IsQuote(*p)) {
      quoted = !quoted;
    } else if (*p == ';' && !quoted) {
      ++count;
    }
  }
  auto** commands = static_cast<char**>(arena->Allocate(sizeof(char*) * count));
  if (commands == nullptr) return -1;

  const char* p = begin;
  quoted = false;
  for (int32_t i = 0; i < count; ++i) {
    while (p < end && IsCommandSpace(*p)) ++p;
    const char* start = p;
    while (p < end && (quoted || *p != ';')) {
      if (IsQuote(*p)) quoted = !quoted;
      ++p;
    }
    const char* stop = p;
    while (stop > start && IsCommandSpace(stop[-1])) --stop;
    // An empty command (between two ';', or after a final ';') is the text ";",
    // which no header matches.
    commands[i] = start == stop ? arena->CopyText(";", 1) : CopyFolded(start, stop, arena);
    if (commands[i] == nullptr) return -1;
    if (p < end) ++p;  // the ';'
  }
  list->count = count;
  list->commands = commands;
  return count;
}

int32_t SplitHeaderAndParameters(const char* text, CommandContext* context, Arena* arena) {
  const char* p = text;
  while (IsCommandSpace(*p)) ++p;
  const char* header = p;
  while (*p != '\0' && !IsCommandSpace(*p) && *p != '(') ++p;
  auto header_length = static_cast<std::size_t>(p - header);
  bool cut = header_length > kHeaderMax;
  if (cut) header_length = kHeaderMax;
  context->header = arena->CopyText(header, header_length);
  if (context->header == nullptr) return -1;
  context->parameter_count = 0;
  context->parameters = nullptr;
  if (cut) return 0;

  // Parameter texts are gathered here first; the arena then gets exactly count slots.
  char* found[kParameterMax];
  int32_t count = 0;
  while (count < kParameterMax) {
    while (IsCommandSpace(*p)) ++p;
    if (*p == '\0') break;
    const char* start = p;
    int depth = 0;
    bool in_double = false;
    bool in_single = false;
    for (; *p != '\0'; ++p) {
      char c = *p;
      if (c == '"' && !in_single) {
        in_double = !in_double;
      } else if (c == '\'' && !in_double) {
        in_single = !in_single;
      } else if (!in_double && !in_single) {
        if (depth == 0 && (IsCommandSpace(c) || c == ',')) break;
        if (c == '(') {
          if (depth == 2) break;
          ++depth;
        } else if (c == ')') {
          if (depth == 0) break;
          --depth;
        }
      }
    }
    auto length = static_cast<std::size_t>(p - start);
    char* parameter = arena->CopyText(start, length);
    if (parameter == nullptr) return -1;
    if (!IsQuote(parameter[0])) {
      std::size_t kept = 0;
      for (std::size_t i = 0; i < length; ++i) {
        if (!IsCommandSpace(parameter[i])) parameter[kept++] = parameter[i];
      }
      parameter[kept] = '\0';
    }
    found[count++] = parameter;
    while (IsCommandSpace(*p)) ++p;
    if (*p == ',') ++p;
  }
  if (count > 0) {
    context->parameters = static_cast<char**>(arena->Allocate(sizeof(char*) * count));
    if (context->parameters == nullptr) return -1;
    std::memcpy(context->parameters, found, sizeof(char*) * count);
  }
  context->parameter_count = count;
  return 0;
}

int32_t ResolveHeader(const char* header, HeaderPrefix* prefix, CommandRecord* record) {
  std::size_t header_length = std::strlen(header);
  const CommandTree* tree = ConnectedCommandTree();
  if (tree == nullptr) return err::kCommandHeaderError;
  const CommandNode* position = tree->root;
  bool common = header[0] == '*';
  // The working header: the header itself, or the prefix path continued by it.
  char working[kHeaderMax + 1];
  std::size_t length = 0;
  if (common) {
    position = tree->common;
  } else if (header[0] != ':' && prefix->length > 0) {
    if (prefix->length + header_length + 1 > kHeaderMax) return err::kCommandHeaderError;
    std::memcpy(working, prefix->text, prefix->length);
    length = prefix->length;
    working[length++] = ':';
  }
  std::memcpy(working + length, header, header_length);
  length += header_length;
  working[length] = '\0';

  const char* p = working;
  if (*p == ':') ++p;
  bool on_entry = false;  // false: the position is a table, no keyword placed yet
  char keyword[kKeywordMax + 1];
  while (*p != '\0') {
    if (*p == ':') {
      // A ':' must follow a placed keyword: the walker cannot tell a table from its
      // first entry, so "A::B" would otherwise wander into the first entry's children.
      if (!on_entry) return err::kCommandHeaderError;
      if (WalkKeyword(":", &position) != 0) return err::kCommandHeaderError;
      on_entry = false;
      ++p;
      continue;
    }
    const char* start = p;
    while (*p != '\0' && *p != ':') ++p;
    auto keyword_length = static_cast<std::size_t>(p - start);
    if (keyword_length > kKeywordMax) return err::kCommandHeaderError;
    std::memcpy(keyword, start, keyword_length);
    keyword[keyword_length] = '\0';
    if (WalkKeyword(keyword, &position) != 0) return err::kCommandHeaderError;
    on_entry = true;
  }
  if (!on_entry || position == nullptr || position->record == nullptr) {
    return err::kCommandHeaderError;
  }
  *record = *position->record;

  if (common) {
    prefix->length = 0;
  } else {
    const char* last = std::strrchr(working + 1, ':');
    if (last != nullptr) {
      prefix->length = static_cast<std::size_t>(last - working);
      std::memcpy(prefix->text, working, prefix->length);
    } else if (working[0] == ':') {
      prefix->length = 0;
    }
  }
  prefix->text[prefix->length] = '\0';
  return 0;
}

int32_t ParseCommand(ParsedCommand* command, HeaderPrefix* prefix, Arena* arena) {
  auto* context = static_cast<CommandContext*>(arena->Allocate(sizeof(CommandContext)));
  if (context == nullptr) return -1;
  *context = CommandContext{};
  context->command = command;
  command->context = context;
  if (SplitHeaderAndParameters(command->text, context, arena) != 0) return -1;
  if (ResolveHeader(context->header, prefix, &context->operations) != 0) {
    command->status = kCommandFailed;
    command->execution->error_code = err::kCommandHeaderError;
    command->execution->error_detail[0] = '\0';
  }
  return 0;
}
