// The shapes of the constant command tables: the sorted keyword list that turns a
// spelling into a token, the node tables that say which token may follow which, and
// the command records whose four operations run a complete header.
#pragma once

#include <cstdint>

struct CommandContext;  // what every handler receives (scpi_engine.h)

using CommandOperation = int32_t (*)(CommandContext* context);

struct CommandRecord {
  CommandOperation DoContextValidation;
  CommandOperation DoGetSegmentTable;
  CommandOperation DoExecutionConclusion;
  CommandOperation DoCompletion;
};

struct KeywordEntry {
  const char* text;  // upper case, a query form keeps its '?'
  int32_t token;
};

struct CommandNode {
  int32_t token;                // 0 ends a table
  const CommandNode* child;     // searched for the keyword after a ':'
  const CommandRecord* record;  // null: the header is incomplete here
};
