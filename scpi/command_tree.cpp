// The engine's walk through the command tree the controller connects: the keyword
// lookup by binary search over the sorted spellings, one step of a header walk, and
// the last keyword that could not be placed (for DIAGnostic:DATA?).
#include "scpi/command_tree.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "scpi/error_codes.h"

namespace {

std::atomic<const CommandTree*> g_tree{nullptr};

// Long enough for a 31-character keyword; longer ones are cut (the parser already
// refuses keywords of 32 characters or more).
constexpr size_t kUnknownKeywordSize = 32;
char last_unknown_keyword[kUnknownKeywordSize] = "";

void RememberUnknownKeyword(const char* keyword) {
  size_t length = 0;
  while (length + 1 < kUnknownKeywordSize && keyword[length] != '\0') {
    last_unknown_keyword[length] =
        static_cast<char>(std::toupper(static_cast<unsigned char>(keyword[length])));
    ++length;
  }
  last_unknown_keyword[length] = '\0';
}

}  // namespace

void ConnectCommandTree(const CommandTree* tree) { g_tree.store(tree); }

const CommandTree* ConnectedCommandTree() { return g_tree.load(); }

int32_t LookupKeyword(const char* text) {
  const CommandTree* tree = g_tree.load();
  if (tree == nullptr) return -1;
  const KeywordEntry* keywords = tree->keywords;
  size_t low = 0;
  size_t high = tree->keyword_count;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const int order = std::strcmp(text, keywords[middle].text);
    if (order == 0) return keywords[middle].token;
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return -1;
}

int32_t WalkKeyword(const char* keyword, const CommandNode** position) {
  const CommandNode* current = *position;
  // A ':' followed an entry without children.
  if (current == nullptr) return err::kCommandHeaderError;
  if (keyword[0] == ':' && keyword[1] == '\0') {
    *position = current->child;
    return 0;
  }
  const int32_t token = LookupKeyword(keyword);
  if (token >= 0) {
    for (const CommandNode* entry = current; entry->token != 0; ++entry) {
      if (entry->token == token) {
        *position = entry;
        return 0;
      }
    }
  }
  RememberUnknownKeyword(keyword);
  return err::kUndefinedHeader;
}

const char* LastUnknownKeyword() { return last_unknown_keyword; }
