// The shapes of the constant command tables: the sorted keyword list that turns a
// spelling into a token, the node tables that say which token may follow which, and
// the command records whose four operations run a complete header. The engine owns no
// table: the controller connects its tree at start-up, and the header walk below
// steps through whatever tree is connected.
#pragma once

#include <cstddef>
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

// A whole tree: the keyword list, sorted in strcmp order, and the two roots.
struct CommandTree {
  const KeywordEntry* keywords;
  size_t keyword_count;
  const CommandNode* root;    // headers that do not begin with '*'
  const CommandNode* common;  // '*' common commands
};

// Connects the tree the engine walks; null disconnects it. Until a tree is connected
// every header is unknown.
void ConnectCommandTree(const CommandTree* tree);
const CommandTree* ConnectedCommandTree();

// The token of an exact, upper-case spelling, or -1 when the list does not hold it.
int32_t LookupKeyword(const char* text);

// One step of a header walk. *position alternates between a node table (its first
// entry) and an entry of it:
//   - null position (a ':' followed an entry without children): -110;
//   - ":" replaces the entry by its child table (null when it has none): 0;
//   - a keyword whose token is in the current table moves to the first such entry: 0;
//   - otherwise the keyword (at most 31 characters) becomes the last unknown keyword
//     and the result is -113.
// A table and its first entry are the same pointer, so the caller passes ':' only
// after a keyword (a header with '::' is the caller's to refuse).
int32_t WalkKeyword(const char* keyword, const CommandNode** position);

// The last keyword WalkKeyword could not place; empty until the first such keyword.
const char* LastUnknownKeyword();
