// The path table, its definitions file and the MONitor setting (see paths.h).
#include "switching/paths.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

#include "cards/card_manager.h"
#include "core/stored_file.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_params.h"
#include "scpi/status.h"
#include "switching/auto_recall.h"
#include "switching/stored_text.h"

// The table's own allocations may fail without ending the process: the add is then
// undone and reported.
namespace {
bool g_table_out_of_memory = false;
}  // namespace
#define HASH_NONFATAL_OOM 1
#define uthash_nonfatal_oom(element) (g_table_out_of_memory = true)
#include <uthash.h>

namespace {

constexpr const char* kPathFile = "/mnt/nonv/paths/path_defs";
constexpr const char* kPathAutoRecallFile = "/mnt/nonv/config/paths/path_autorecall";
constexpr char kDefinePrefix[] = "PATH:DEF ";
constexpr std::size_t kShortestDefinition = 9;

struct PathEntry {
  // Path flag 1, the name, and the path's close and open lists.
  ChannelListElement element;
  // The path's record in the attribute sense: only its sequence name is used.
  std::string sequence_name;
  UT_hash_handle hh;
};

PathEntry* pPathHashTable = nullptr;
PathEntry* g_cursor = nullptr;
bool g_monitor = false;

PathEntry* Find(const char* name) {
  PathEntry* found = nullptr;
  const std::size_t length = std::strlen(name);
  HASH_FIND(hh, pPathHashTable, name, length, found);
  return found;
}

void Remove(PathEntry* entry) {
  if (g_cursor == entry) g_cursor = static_cast<PathEntry*>(entry->hh.next);
  HASH_DEL(pPathHashTable, entry);
  delete entry;
}

// Adds a path with these lists; -225 when the table cannot take it.
int32_t Add(const std::string& name, std::unique_ptr<ChannelList> lists) {
  auto entry = std::make_unique<PathEntry>();
  entry->element.path = 1;
  entry->element.name = name;
  entry->element.path_lists = std::move(lists);
  PathEntry* added = entry.get();
  g_table_out_of_memory = false;
  HASH_ADD_KEYPTR(hh, pPathHashTable, added->element.name.data(), added->element.name.size(),
                  added);
  if (g_table_out_of_memory) return err::kOutOfMemory;
  entry.release();  // the table owns it now
  return 0;
}

bool BySlotAndChannel(const ChannelListElement& a, const ChannelListElement& b) {
  return a.slot != b.slot ? a.slot < b.slot : a.channel < b.channel;
}

uint64_t Key(const ChannelListElement& element) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(element.slot)) << 32) |
         static_cast<uint32_t>(element.channel);
}

// "(@s(c),s(c),...)" for a list of channels, whatever its length.
std::string ListText(const std::vector<ChannelListElement>& list) {
  std::string text(16 + 32 * list.size(), '\0');
  BuildChannelListText(list, text.data(), text.size());
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::string DefinitionText(const ChannelList& lists) {
  std::string text = ListText(lists.close);
  if (!lists.open.empty()) {
    text += ',';
    text += ListText(lists.open);
  }
  return text;
}

// A stored list "(@s(c,c),s(c))" at *p into `list`; every channel must be one its
// card accepts. False when the text is not such a list.
bool ReadStoredList(const char** p, std::vector<ChannelListElement>* list) {
  const char* at = *p;
  if (at[0] != '(' || at[1] != '@') return false;
  at += 2;
  for (;;) {
    int32_t slot = 0;
    if (!ReadStoredNumber(&at, &slot) || *at++ != '(') return false;
    for (;;) {
      int32_t channel = 0;
      if (!ReadStoredNumber(&at, &channel)) return false;
      ChannelListElement element;
      element.slot = slot;
      element.channel = channel;
      element.index = CardChannelToIndex(slot, channel, 0);
      if (element.index < 0) return false;
      list->push_back(std::move(element));
      if (*at == ',') {
        ++at;
        continue;
      }
      if (*at++ != ')') return false;
      break;
    }
    if (*at == ',' && at[1] != '(') {  // another module group of this list
      ++at;
      continue;
    }
    if (*at++ != ')') return false;
    *p = at;
    return true;
  }
}

// One definition line: its name and lists. False for a line to skip.
bool ParseDefinitionLine(const std::string& line, std::string* name, ChannelList* lists) {
  if (line.compare(0, sizeof kDefinePrefix - 1, kDefinePrefix) != 0) return false;
  const std::size_t space = line.find(' ', sizeof kDefinePrefix - 1);
  if (space == std::string::npos) return false;
  name->assign(line, sizeof kDefinePrefix - 1, space - (sizeof kDefinePrefix - 1));
  // A name no command could have defined (or name again in a list) is damage.
  if (!IsValidLongName(name->c_str()) || name->size() != std::strlen(name->c_str())) return false;
  const char* p = line.c_str() + space;
  while (*p == ' ') ++p;
  if (!ReadStoredList(&p, &lists->close)) return false;
  if (*p == ',') {
    ++p;
    if (!ReadStoredList(&p, &lists->open)) return false;
  }
  return *p == '\0';
}

// Reads the file and hands each definition line to `take` (name, lists); a line to
// skip gives -20058 at the end. `take` returns false to end the recall.
template <typename Take>
int32_t ReadDefinitions(Take take) {
  std::string contents;
  const StoredFileRead read = ReadStoredFile(kPathFile, &contents);
  if (read == StoredFileRead::kMissing) return 0;
  if (read == StoredFileRead::kFailed) return err::kPathRecallFailed;
  int32_t result = 0;
  bool first = true;
  for (const std::string& line : StoredLines(contents)) {
    if (line.size() < kShortestDefinition) break;
    if (first && line.compare(0, 4, "NONE") == 0) break;
    first = false;
    std::string name;
    auto lists = std::make_unique<ChannelList>();
    if (!ParseDefinitionLine(line, &name, lists.get())) {
      result = err::kPathRecallFailed;
      continue;
    }
    int32_t taken = 0;
    if (!take(name, std::move(lists), &taken)) return taken;
    if (taken != 0) result = err::kPathRecallFailed;
  }
  return result;
}

int32_t Replace(const std::string& name, std::unique_ptr<ChannelList> lists) {
  if (PathEntry* old = Find(name.c_str())) Remove(old);
  return Add(name, std::move(lists));
}

}  // namespace

void ConnectPathTable() { SetPathLookup(FindPathChannels); }

const ChannelList* FindPathChannels(const char* name) {
  const PathEntry* entry = Find(name);
  return entry != nullptr ? entry->element.path_lists.get() : nullptr;
}

int32_t DefinePath(const char* name, const char* close_text, const char* open_text) {
  if (Find(name) != nullptr) return err::kReferencedNameAlreadyExists;
  try {
    auto lists = std::make_unique<ChannelList>();
    int32_t result = ParseChannelList(false, close_text, nullptr, lists.get(), 0);
    if (result != 0) return result;
    if (!AllRelayChannels(*lists)) return err::kRelayChannelsOnly;
    if (open_text != nullptr) {
      // The open text's channels (its paths' close channels) join the open list; the
      // channels its paths would open are dropped.
      ChannelList seed;
      seed.close = lists->open;
      ChannelList opening;
      result = ParseChannelList(false, open_text, &seed, &opening, 0);
      if (result != 0) return result;
      if (!AllRelayChannels(opening)) return err::kRelayChannelsOnly;
      lists->open.insert(lists->open.end(), opening.close.begin(), opening.close.end());
    }
    std::sort(lists->close.begin(), lists->close.end(), BySlotAndChannel);
    std::sort(lists->open.begin(), lists->open.end(), BySlotAndChannel);
    std::unordered_set<uint64_t> closing;
    for (const ChannelListElement& element : lists->close) closing.insert(Key(element));
    for (const ChannelListElement& element : lists->open) {
      if (closing.count(Key(element)) != 0) return err::kPathChannelOnOpenAndCloseLists;
    }
    return Add(name, std::move(lists));
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
}

int32_t PathDefinitionText(const char* name, std::string* text) {
  const PathEntry* entry = Find(name);
  if (entry == nullptr) return err::kReferencedNameDoesNotExist;
  *text = DefinitionText(*entry->element.path_lists);
  return 0;
}

int32_t DeletePath(const char* name) {
  PathEntry* entry = Find(name);
  if (entry == nullptr) return err::kReferencedNameDoesNotExist;
  Remove(entry);
  return 0;
}

void DeleteAllPaths() {
  PathEntry* entry = nullptr;
  PathEntry* next = nullptr;
  HASH_ITER(hh, pPathHashTable, entry, next) { Remove(entry); }
  g_cursor = nullptr;
}

std::string PathCatalog(std::size_t limit) {
  std::string text;
  for (const PathEntry* entry = pPathHashTable; entry != nullptr;
       entry = static_cast<const PathEntry*>(entry->hh.next)) {
    const std::size_t separator = text.empty() ? 0 : 1;
    if (text.size() + separator + entry->element.name.size() > limit) break;
    if (separator != 0) text += ',';
    text += entry->element.name;
  }
  return text;
}

int32_t StorePaths() {
  try {
    std::string contents;
    for (const PathEntry* entry = pPathHashTable; entry != nullptr;
         entry = static_cast<const PathEntry*>(entry->hh.next)) {
      contents += kDefinePrefix;
      contents += entry->element.name;
      contents += ' ';
      contents += DefinitionText(*entry->element.path_lists);
      contents += '\n';
    }
    if (contents.empty()) contents = "NONE\n";
    return ReplaceStoredFile(kPathFile, contents) == 0 ? 0 : err::kPathStoreFailed;
  } catch (const std::bad_alloc&) {
    return err::kPathStoreFailed;
  }
}

int32_t RecallPaths() {
  if (IsScanRunning()) return err::kProgramCurrentlyRunning;
  try {
    return ReadDefinitions([](const std::string& name, std::unique_ptr<ChannelList> lists,
                              int32_t* taken) {
      *taken = Replace(name, std::move(lists));
      return true;
    });
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
}

int32_t RecallPath(const char* name) {
  bool added = false;
  try {
    ReadDefinitions([&](const std::string& line_name, std::unique_ptr<ChannelList> lists,
                        int32_t* taken) {
      if (line_name != name) return true;
      *taken = Replace(line_name, std::move(lists));
      added = *taken == 0;
      return false;
    });
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  return added ? 0 : err::kPathRecallFailed;
}

int32_t SetPathAutoRecall(bool on) {
  return WriteAutoRecall(kPathAutoRecallFile, on) == 0 ? 0 : err::kPathRecallFailed;
}

bool PathAutoRecall() { return ReadAutoRecall(kPathAutoRecallFile) == AutoRecallRead::kOn; }

int32_t SetPathSequenceName(const char* name, const char* sequence) {
  PathEntry* entry = Find(name);
  if (entry == nullptr) return err::kReferencedNameDoesNotExist;
  entry->sequence_name = std::strcmp(sequence, "NONE") == 0 ? "" : sequence;
  return 0;
}

const std::string* PathSequenceName(const char* name) {
  const PathEntry* entry = Find(name);
  return entry != nullptr ? &entry->sequence_name : nullptr;
}

const char* FirstPathName() {
  g_cursor = pPathHashTable;
  return g_cursor != nullptr ? g_cursor->element.name.c_str() : nullptr;
}

const char* NextPathName() {
  if (g_cursor != nullptr) g_cursor = static_cast<PathEntry*>(g_cursor->hh.next);
  return g_cursor != nullptr ? g_cursor->element.name.c_str() : nullptr;
}

void SetMonitorState(bool on) { g_monitor = on; }
bool MonitorState() { return g_monitor; }

void ResetPathsForTest() {
  DeleteAllPaths();
  g_monitor = false;
}
