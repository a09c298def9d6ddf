// The controller's constant SCPI tables: the sorted keyword list that turns a spelling
// into a token, the two roots of the command tree (plain headers and '*' common
// commands), and the walker the header parser uses to step through the tree one
// keyword or ':' at a time. Everything here is initialised constant data; nothing is
// built at run time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/command_tree.h"

// Every accepted keyword spelling, sorted in strcmp order (the lookup depends on it).
extern const KeywordEntry kKeywordList[];
inline constexpr size_t kKeywordCount = 288;

// The token of an exact, upper-case spelling, or -1 when the list does not hold it.
int32_t LookupKeyword(const char* text);

// Root table for headers that do not begin with '*', and the common-command table.
extern const CommandNode kRootNodes[];
extern const CommandNode kCommonNodes[];

// One step of a header walk. *position alternates between a node table (its first
// entry) and an entry of it:
//   - null position (a ':' followed an entry without children): -110;
//   - ":" replaces the entry by its child table (null when it has none): 0;
//   - a keyword whose token is in the current table moves to the first such entry: 0;
//   - otherwise the keyword (at most 31 characters) becomes the last unknown keyword
//     and the result is -113.
int32_t WalkKeyword(const char* keyword, const CommandNode** position);

// The last keyword WalkKeyword could not place; empty until the first such keyword.
const char* LastUnknownKeyword();
