// Interlock groups, their list files and their power-on recall (see interlocks.h).
#include "switching/interlocks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "core/stored_file.h"
#include "devices/slots.h"
#include "hardware/event_log.h"
#include "scpi/error_codes.h"
#include "switching/auto_recall.h"
#include "switching/card_channels.h"
#include "switching/stored_text.h"

namespace {

constexpr std::size_t kListReplyLimit = 10230;

struct SideFacts {
  const char* list_file;
  const char* settings_file;
  const char* word;  // in the event-log texts
  int32_t already_grouped;
  int32_t store_failed;
  int32_t recall_failed;
};

constexpr SideFacts kSides[2] = {
    {"/mnt/nonv/config/include_list/include_list.lst",
     "/mnt/nonv/config/include_list/include_settings", "include", err::kRelayAlreadyIncluded,
     err::kIncludeListStoreFailed, err::kIncludeListRecallFailed},
    {"/mnt/nonv/config/exclude_list/exclude_list.lst",
     "/mnt/nonv/config/exclude_list/exclude_settings", "exclude", err::kRelayAlreadyExcluded,
     err::kExcludeListStoreFailed, err::kExcludeListRecallFailed},
};

// Every group of each side; a group lives here from its making to its dissolving.
std::vector<std::unique_ptr<InterlockGroup>> g_groups[2];
bool g_auto_recall[2] = {false, false};

const SideFacts& Facts(InterlockSide side) { return kSides[static_cast<int>(side)]; }
std::vector<std::unique_ptr<InterlockGroup>>& Groups(InterlockSide side) {
  return g_groups[static_cast<int>(side)];
}

InterlockGroup* ChannelAttributes::*PartnersField(InterlockSide side) {
  return side == InterlockSide::kInclude ? &ChannelAttributes::include_partners
                                         : &ChannelAttributes::exclude_partners;
}

InterlockGroup* GroupOf(InterlockSide side, int slot, int32_t channel) {
  ChannelAttributes* record = FindChannelAttributes(slot, channel);
  return record != nullptr ? record->*PartnersField(side) : nullptr;
}

// Points the relay's field at `group`: 0 or the attribute store's refusal.
int32_t SetGroup(InterlockSide side, int slot, int32_t channel, InterlockGroup* group) {
  if (group == nullptr) {
    if (ChannelAttributes* record = FindChannelAttributes(slot, channel)) {
      record->*PartnersField(side) = nullptr;
    }
    return 0;
  }
  ChannelAttributes* record = nullptr;
  const int32_t made = MakeChannelAttributes(slot, channel, &record);
  if (made != 0) return made;
  record->*PartnersField(side) = group;
  return 0;
}

void Dissolve(InterlockSide side, InterlockGroup* group) {
  for (const RelayRef& member : group->members) {
    if (GroupOf(side, member.slot, member.channel) == group) {
      SetGroup(side, member.slot, member.channel, nullptr);
    }
  }
  std::erase_if(Groups(side), [group](const auto& owned) { return owned.get() == group; });
}

// Keeps a new group and points each member's record at it; if one cannot be pointed,
// the group is dissolved again and the attribute store's refusal returned.
int32_t Adopt(InterlockSide side, std::unique_ptr<InterlockGroup> group) {
  InterlockGroup* made = group.get();
  Groups(side).push_back(std::move(group));
  for (const RelayRef& member : made->members) {
    const int32_t set = SetGroup(side, member.slot, member.channel, made);
    if (set != 0) {
      Dissolve(side, made);
      return set;
    }
  }
  return 0;
}


// Visits every channel of every present slot 0..12, in slot and channel order.
template <typename Visit>
void ForEachInstalledChannel(Visit visit) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (IsCardPresent(slot)) ForEachCardChannel(slot, [&](int32_t channel) { visit(slot, channel); });
  }
}

void AppendGroup(const InterlockGroup& group, std::string* text) {
  char member[32];
  bool first = true;
  for (const RelayRef& ref : group.members) {
    std::snprintf(member, sizeof member, first ? "(@%d(%d)" : ",%d(%d)", ref.slot, ref.channel);
    text->append(member);
    first = false;
  }
  text->push_back(')');
}

// One "SLOT %d: %d" line for `slot`; false when it is not one.
bool ParseSlotLine(const std::string& line, int slot, uint32_t* type_id) {
  int number = -1;
  unsigned long id = 0;
  int consumed = 0;
  if (std::sscanf(line.c_str(), "SLOT %d: %lu%n", &number, &id, &consumed) != 2) return false;
  return number == slot && static_cast<std::size_t>(consumed) == line.size() && id <= 0xFFFFFFFF &&
         (*type_id = static_cast<uint32_t>(id), true);
}

// Reads the members of a group line "(@s(c),s(c),...)". False when it is not one.
bool ParseGroupLine(const std::string& line, RelayRefs* members) {
  members->clear();
  if (line.compare(0, 2, "(@") != 0) return false;
  const char* p = line.c_str() + 2;
  for (;;) {
    int32_t slot = 0;
    int32_t channel = 0;
    if (!ReadStoredNumber(&p, &slot, true) || *p++ != '(' ||
        !ReadStoredNumber(&p, &channel, true) || *p++ != ')') {
      return false;
    }
    members->push_back({slot, channel});
    if (*p == ',') {
      ++p;
      continue;
    }
    return p[0] == ')' && p[1] == '\0';
  }
}

int32_t RecallLocked(InterlockSide side) {
  const SideFacts& facts = Facts(side);
  DeleteAllInterlockGroups(side);
  std::string contents;
  switch (ReadStoredFile(facts.list_file, &contents)) {
    case StoredFileRead::kMissing:
      return 0;
    case StoredFileRead::kFailed:
      return facts.recall_failed;
    case StoredFileRead::kRead:
      break;
  }
  const std::vector<std::string> lines = StoredLines(contents);
  std::size_t next = 0;
  auto next_line = [&](std::string* line) {
    if (next >= lines.size()) return false;
    *line = lines[next++];
    return true;
  };

  uint32_t saved[kSlotCount] = {};
  uint32_t installed[kSlotCount] = {};
  std::string line;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!next_line(&line) || !ParseSlotLine(line, slot, &saved[slot])) {
      char text[kEventTextSize];
      std::snprintf(text, sizeof text,
                    "incorrect format of %s list file scanning type of card in slot %d", facts.word,
                    slot);
      LogEvent(text);
      return facts.recall_failed;
    }
    if (!InstalledTypeId(slot, &installed[slot])) {
      char text[kEventTextSize];
      std::snprintf(text, sizeof text,
                    "could not determine type of card in slot %d while recalling %s list", slot,
                    facts.word);
      LogEvent(text);
      return facts.recall_failed;
    }
  }

  int32_t result = 0;
  RelayRefs members;
  while (next_line(&line) && !line.empty()) {
    if (line.compare(0, 4, "NONE") == 0) return result;
    if (!ParseGroupLine(line, &members)) return facts.recall_failed;
    auto group = std::make_unique<InterlockGroup>();
    for (const RelayRef& member : members) {
      if (member.slot < 0 || member.slot >= kSlotCount) return facts.recall_failed;
      if (saved[member.slot] != installed[member.slot]) {
        DeleteAllInterlockGroups(side);
        char text[kEventTextSize];
        std::snprintf(text, sizeof text,
                      "error recalling %s list.  Slot %d card type saved = %X, type installed = %X",
                      facts.word, member.slot, saved[member.slot], installed[member.slot]);
        LogEvent(text);
        return facts.recall_failed;
      }
      // A channel the card refuses, or one a damaged file names twice, joins no group.
      if (CardChannelToIndex(member.slot, member.channel, 0) < 0 ||
          GroupOf(side, member.slot, member.channel) != nullptr ||
          std::find(group->members.begin(), group->members.end(), member) !=
              group->members.end()) {
        result = facts.recall_failed;
        continue;
      }
      group->members.push_back(member);
    }
    if (group->members.size() < 2) continue;
    const int32_t adopted = Adopt(side, std::move(group));
    if (adopted != 0) return adopted == err::kOutOfMemory ? adopted : facts.recall_failed;
  }
  return result;
}

// A missing or malformed settings file is a failure of the power-on recall here.
int32_t PowerOnRecall(InterlockSide side) {
  int value = 0;
  const AutoRecallRead read = ReadAutoRecall(Facts(side).settings_file, &value);
  if (read == AutoRecallRead::kMissing || read == AutoRecallRead::kMalformed) {
    return Facts(side).recall_failed;
  }
  g_auto_recall[static_cast<int>(side)] = value != 0;
  return value == 1 ? RecallInterlockList(side) : 0;
}

}  // namespace

const InterlockGroup* InterlockGroupOf(InterlockSide side, int slot, int32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  return GroupOf(side, slot, channel);
}

int32_t MakeInterlockGroup(InterlockSide side, const ChannelList& list) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  try {
    auto group = std::make_unique<InterlockGroup>();
    for (const ChannelListElement& element : list.close) {
      if (GroupOf(side, element.slot, element.channel) != nullptr) {
        return Facts(side).already_grouped;
      }
      group->members.push_back({element.slot, element.channel});
    }
    return Adopt(side, std::move(group));
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  return 0;
}

void RemoveFromInterlockGroup(InterlockSide side, int slot, int32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  InterlockGroup* group = GroupOf(side, slot, channel);
  if (group == nullptr) return;
  std::erase(group->members, RelayRef{slot, channel});
  SetGroup(side, slot, channel, nullptr);
  if (group->members.size() < 2) Dissolve(side, group);
}

void DeleteAllInterlockGroups(InterlockSide side) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  while (!Groups(side).empty()) Dissolve(side, Groups(side).back().get());
}

int32_t ListInterlockGroups(InterlockSide side, const ChannelList* list, std::string* text) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  text->clear();
  std::unordered_set<const InterlockGroup*> listed;
  int32_t result = 0;
  auto visit = [&](int slot, int32_t channel) {
    if (result != 0) return;
    const InterlockGroup* group = GroupOf(side, slot, channel);
    if (group == nullptr || !listed.insert(group).second) return;
    if (!text->empty()) text->push_back(',');
    AppendGroup(*group, text);
    if (text->size() > kListReplyLimit) result = err::kTooMuchData;
  };
  try {
    if (list != nullptr) {
      for (const ChannelListElement& element : list->close) visit(element.slot, element.channel);
    } else {
      ForEachInstalledChannel(visit);
    }
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
  return result;
}

int32_t StoreInterlockList(InterlockSide side) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  const SideFacts& facts = Facts(side);
  try {
    std::string contents;
    char line[48];
    for (int slot = 0; slot < kSlotCount; ++slot) {
      uint32_t type_id = 0;
      if (!InstalledTypeId(slot, &type_id)) return facts.store_failed;
      std::snprintf(line, sizeof line, "SLOT %d: %u\n", slot, type_id);
      contents += line;
    }
    std::unordered_set<const InterlockGroup*> stored;
    ForEachInstalledChannel([&](int slot, int32_t channel) {
      const InterlockGroup* group = GroupOf(side, slot, channel);
      if (group == nullptr || !stored.insert(group).second) return;
      AppendGroup(*group, &contents);
      contents.push_back('\n');
    });
    if (stored.empty()) contents += "NONE\n";
    return ReplaceStoredFile(facts.list_file, contents) == 0 ? 0 : facts.store_failed;
  } catch (const std::bad_alloc&) {
    return facts.store_failed;
  }
}

int32_t RecallInterlockList(InterlockSide side) {
  std::lock_guard<std::recursive_mutex> lock(CardStateLock());
  try {
    return RecallLocked(side);
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
}

int32_t SetInterlockAutoRecall(InterlockSide side, bool on) {
  g_auto_recall[static_cast<int>(side)] = on;
  return WriteAutoRecall(Facts(side).settings_file, on) == 0 ? 0 : Facts(side).store_failed;
}

bool InterlockAutoRecall(InterlockSide side) { return g_auto_recall[static_cast<int>(side)]; }

int32_t PowerOnInterlockRecall() {
  const int32_t excluded = PowerOnRecall(InterlockSide::kExclude);
  const int32_t included = PowerOnRecall(InterlockSide::kInclude);
  return excluded != 0 ? excluded : included;
}

void ResetInterlocksForTest() {
  DeleteAllInterlockGroups(InterlockSide::kInclude);
  DeleteAllInterlockGroups(InterlockSide::kExclude);
  g_auto_recall[0] = g_auto_recall[1] = false;
}

const char* InterlockListFile(InterlockSide side) { return Facts(side).list_file; }
const char* InterlockSettingsFile(InterlockSide side) { return Facts(side).settings_file; }
