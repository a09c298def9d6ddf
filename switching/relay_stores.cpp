// Verify masks, module names and saved relay states (see relay_stores.h). Every file is
// written whole and read back whole, however long its lines.
#include "switching/relay_stores.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "core/stored_file.h"
#include "devices/slots.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_params.h"
#include "scpi/slot_notifications.h"
#include "switching/auto_recall.h"
#include "switching/card_channels.h"
#include "switching/stored_text.h"

namespace {

constexpr const char* kMaskFile = "/mnt/nonv/config/verify_masks/verify_mask_data";
constexpr const char* kMaskAutoRecallFile =
    "/mnt/nonv/config/verify_masks/verify_mask_autorecall";
constexpr const char* kNameFile = "/mnt/nonv/config/module_names/module_name_defs";
constexpr const char* kNameAutoRecallFile =
    "/mnt/nonv/config/module_names/module_name_autorecall";
constexpr const char* kStateFolder = "/mnt/nonv/config/states";

constexpr std::size_t kMaskReplyLimit = 10235;
constexpr std::size_t kVerifyReplyLimit = 10237;

std::string g_module_names[kSlotCount];


// "<prefix> %d: %X" at the start of a line: its slot and type id, and where the text
// after the second ':' begins. False when the line does not start so.
bool ParseSlotHeader(const std::string& line, const char* prefix, int* slot, uint32_t* type_id,
                     std::size_t* rest) {
  const std::size_t prefix_length = std::strlen(prefix);
  if (line.compare(0, prefix_length, prefix) != 0) return false;
  const char* start = line.c_str() + prefix_length;
  char* end = nullptr;
  const long number = std::strtol(start, &end, 10);
  if (end == start || *end != ':' || number < 0 || number > 0xFFFF) return false;
  const char* id_start = end + 1;
  const unsigned long id = std::strtoul(id_start, &end, 16);
  if (end == id_start || id > 0xFFFFFFFFul) return false;
  *slot = static_cast<int>(number);
  *type_id = static_cast<uint32_t>(id);
  *rest = *end == ':' ? static_cast<std::size_t>(end + 1 - line.c_str()) : line.size();
  return true;
}

char MaskLetter(int32_t mode) {
  switch (mode) {
    case kVerifyNormal: return '0';
    case kVerifyInverted: return '1';
    case kVerifyNone: return 'X';
    case kVerifyRestoredOnly: return 'N';
    default: return 'X';
  }
}

// Appends "slot : channel" for a relay whose readback disagrees; a card's error ends
// the walk.
int32_t VerifyOne(int slot, int32_t channel, std::string* reply, bool* all_agree) {
  const int32_t verified = CardVerifyChannel(slot, channel);
  if (verified < 0) return verified;
  if (verified != 1) {
    char item[32];
    std::snprintf(item, sizeof item, "%s%d : %d", *all_agree ? "" : ",", slot, channel);
    *reply += item;
    *all_agree = false;
  }
  return 0;
}

int32_t PowerOnRecall(const char* autorecall_file, int32_t malformed, int32_t (*recall)()) {
  switch (ReadAutoRecall(autorecall_file)) {
    case AutoRecallRead::kOn: return recall();
    case AutoRecallRead::kMalformed: return malformed;
    case AutoRecallRead::kOff:
    case AutoRecallRead::kMissing: break;
  }
  return 0;
}

bool SameName(const std::string& a, const char* b) {
  return !a.empty() && strcasecmp(a.c_str(), b) == 0;
}

std::string StateFile(int32_t number) {
  char path[96];
  std::snprintf(path, sizeof path, "%s/state%d.txt", kStateFolder, number);
  return path;
}

}  // namespace

// ---- Verify masks ------------------------------------------------------------------

void SetVerifyMasks(const ChannelList& list, int32_t mode) {
  for (const ChannelListElement& element : list.close) {
    if (element.path == 0) SetChannelVerifyMode(element.slot, element.channel, mode);
  }
}

std::string VerifyMaskText(const ChannelList& list) {
  std::string text;
  for (const ChannelListElement& element : list.close) {
    if (text.size() >= kMaskReplyLimit) break;
    char letter = '-';
    if (element.path == 0 && CardSupportsVerify(element.slot)) {
      const int32_t mode = GetChannelVerifyMode(element.slot, element.channel);
      letter = mode == kVerifyRestoredOnly ? '-'
               : mode >= kVerifyNormal && mode <= kVerifyNone ? MaskLetter(mode)
                                                              : '?';
    }
    if (!text.empty()) text += ' ';
    text += letter;
  }
  return text;
}

int32_t VerifyRelays(const ChannelList& list, std::string* reply) {
  reply->clear();
  bool all_agree = true;
  for (const ChannelListElement& element : list.close) {
    if (reply->size() >= kVerifyReplyLimit) break;
    const int32_t result = VerifyOne(element.slot, element.channel, reply, &all_agree);
    if (result < 0) return result;
  }
  if (all_agree) *reply = "OK";
  return 0;
}

int32_t VerifyAllRelays(std::string* reply) {
  reply->clear();
  bool all_agree = true;
  int32_t result = 0;
  for (int slot = 0; slot < kSlotCount && result == 0; ++slot) {
    if (!IsCardPresent(slot) || !CardSupportsVerify(slot)) continue;
    ForEachCardChannel(slot, [&](int32_t channel) {
      if (result != 0 || reply->size() >= kVerifyReplyLimit) return;
      if (CardIsValidChannel(slot, channel) == 1) {
        result = VerifyOne(slot, channel, reply, &all_agree);
      }
    });
  }
  if (result < 0) return result;
  if (all_agree) *reply = "OK";
  return 0;
}

int32_t StoreVerifyMasks() {
  try {
    std::string contents;
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      uint32_t type_id = 0;
      if (!InstalledTypeId(slot, &type_id)) return err::kVerifyMasksStoreFailed;
      char header[48];
      std::snprintf(header, sizeof header, "SLOT %d: %X: ", slot, type_id);
      contents += header;
      if (IsCardPresent(slot)) {
        ForEachCardChannel(slot, [&](int32_t channel) {
          contents += MaskLetter(GetChannelVerifyMode(slot, channel));
          contents += ' ';
        });
      }
      contents += '\n';
    }
    return ReplaceStoredFile(kMaskFile, contents) == 0 ? 0 : err::kVerifyMasksStoreFailed;
  } catch (const std::bad_alloc&) {
    return err::kVerifyMasksStoreFailed;
  }
}

int32_t RecallVerifyMasks() {
  std::string contents;
  if (ReadStoredFile(kMaskFile, &contents) != StoredFileRead::kRead) {
    return err::kVerifyMasksRecallFailed;
  }
  const std::vector<std::string> lines = StoredLines(contents);
  int32_t result = 0;
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    int line_slot = 0;
    uint32_t saved = 0;
    std::size_t rest = 0;
    const std::size_t index = static_cast<std::size_t>(slot - kFirstCardSlot);
    if (index >= lines.size() || !ParseSlotHeader(lines[index], "SLOT ", &line_slot, &saved, &rest)) {
      return err::kVerifyMasksRecallFailed;
    }
    if (!IsCardPresent(slot)) continue;
    uint32_t installed = 0;
    if (line_slot != slot || !InstalledTypeId(slot, &installed) || saved != installed) {
      result = err::kVerifyMasksPartlyRecalled;  // the slot keeps its masks
      continue;
    }
    const std::string& line = lines[index];
    std::size_t at = rest;
    ForEachCardChannel(slot, [&](int32_t channel) {
      while (at < line.size() && line[at] == ' ') ++at;
      if (at >= line.size()) {
        result = err::kVerifyMasksPartlyRecalled;  // fewer masks than channels
        return;
      }
      int32_t mode = kVerifyNone;
      switch (line[at++]) {
        case '0': mode = kVerifyNormal; break;
        case '1': mode = kVerifyInverted; break;
        case 'X': mode = kVerifyNone; break;
        case 'N': mode = kVerifyRestoredOnly; break;
        default: result = err::kVerifyMasksPartlyRecalled; break;
      }
      SetChannelVerifyMode(slot, channel, mode);
    });
  }
  return result;
}

int32_t SetVerifyMaskAutoRecall(bool on) {
  return WriteAutoRecall(kMaskAutoRecallFile, on) == 0 ? 0 : err::kVerifyMasksRecallFailed;
}

bool VerifyMaskAutoRecall() { return ReadAutoRecall(kMaskAutoRecallFile) == AutoRecallRead::kOn; }

int32_t PowerOnVerifyMaskRecall() {
  return PowerOnRecall(kMaskAutoRecallFile, err::kVerifyMasksRecallFailed, RecallVerifyMasks);
}

// ---- Module names ------------------------------------------------------------------

int FindModuleName(const char* name) {
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (SameName(g_module_names[slot], name)) return slot;
  }
  return -1;
}

int32_t DefineModuleName(const char* name, int slot) {
  if (std::strlen(name) > kModuleNameMax || !IsValidLongName(name)) {
    return err::kMissingOrInvalidModuleName;
  }
  if (!IsCardSlot(slot)) return err::kSlotOutOfRange;
  if (FindModuleName(name) >= 0) return err::kReferencedNameAlreadyExists;
  g_module_names[slot] = name;
  return 0;
}

int32_t DeleteModuleName(const char* name) {
  const int slot = FindModuleName(name);
  if (slot < 0) return err::kReferencedNameDoesNotExist;
  g_module_names[slot].clear();
  return 0;
}

void DeleteAllModuleNames() {
  for (std::string& name : g_module_names) name.clear();
}

std::string ModuleNameCatalog() {
  std::string text;
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (g_module_names[slot].empty()) continue;
    if (!text.empty()) text += ',';
    text += g_module_names[slot];
  }
  return text;
}

const std::string& ModuleName(int slot) {
  static const std::string kNone;
  return IsCardSlot(slot) ? g_module_names[slot] : kNone;
}

int32_t StoreModuleNames() {
  std::string contents;
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    char header[32];
    std::snprintf(header, sizeof header, "SLOT %d :", slot);
    contents += header;
    contents += g_module_names[slot];
    contents += ":\n";
  }
  return ReplaceStoredFile(kNameFile, contents) == 0 ? 0 : err::kModuleNamesStoreFailed;
}

// The n-th line's name goes to slot n; a name another slot carries is not set; a
// line that is not "SLOT %d :<name>:" ends the recall (earlier names stay set).
int32_t RecallModuleNames() {
  std::string contents;
  if (ReadStoredFile(kNameFile, &contents) != StoredFileRead::kRead) {
    return err::kModuleNamesRecallFailed;
  }
  const std::vector<std::string> lines = StoredLines(contents);
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    const std::size_t index = static_cast<std::size_t>(slot - kFirstCardSlot);
    if (index >= lines.size()) return err::kModuleNamesRecallFailed;
    const std::string& line = lines[index];
    int line_slot = 0;
    int consumed = 0;
    if (std::sscanf(line.c_str(), "SLOT %d :%n", &line_slot, &consumed) != 1 || consumed == 0) {
      return err::kModuleNamesRecallFailed;
    }
    const std::size_t close = line.find(':', static_cast<std::size_t>(consumed));
    if (close == std::string::npos) return err::kModuleNamesRecallFailed;
    const std::string name = line.substr(static_cast<std::size_t>(consumed),
                                         close - static_cast<std::size_t>(consumed));
    if (name.empty()) {
      g_module_names[slot].clear();
      continue;
    }
    if (name.size() > kModuleNameMax || !IsValidLongName(name.c_str())) {
      return err::kModuleNamesRecallFailed;
    }
    const int carrier = FindModuleName(name.c_str());
    if (carrier < 0 || carrier == slot) g_module_names[slot] = name;
  }
  return 0;
}

int32_t SetModuleNameAutoRecall(bool on) {
  return WriteAutoRecall(kNameAutoRecallFile, on) == 0 ? 0 : err::kModuleNamesRecallFailed;
}

bool ModuleNameAutoRecall() { return ReadAutoRecall(kNameAutoRecallFile) == AutoRecallRead::kOn; }

int32_t PowerOnModuleNameRecall() {
  return PowerOnRecall(kNameAutoRecallFile, err::kModuleNamesRecallFailed, RecallModuleNames);
}

void ConnectModuleNames() { SetModuleNameLookup(FindModuleName); }

// ---- Saved relay states ------------------------------------------------------------

int32_t SaveRelayState(int32_t number) {
  try {
    std::string contents;
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      if (!IsCardPresent(slot)) {
        char line[32];
        std::snprintf(line, sizeof line, "Slot %d: 0: NONE\n", slot);
        contents += line;
        continue;
      }
      uint32_t type_id = 0;
      if (GetCardTypeId(slot, &type_id) != 0) return err::kSaveStateFailed;
      char header[48];
      std::snprintf(header, sizeof header, "Slot %d: %X: ", slot, type_id);
      std::string closed;
      ForEachCardChannel(slot, [&](int32_t channel) {
        if (CardGetRelayState(slot, channel) > 0) closed += std::to_string(channel) + " ";
      });
      contents += header;
      contents += closed.empty() ? std::string("NONE") : closed;
      contents += '\n';
    }
    const std::string path = StateFile(number);
    return ReplaceStoredFile(path.c_str(), contents) == 0 ? 0 : err::kSaveStateFailed;
  } catch (const std::bad_alloc&) {
    return err::kSaveStateFailed;
  }
}

int32_t RecallRelayState(int32_t number) {
  std::string contents;
  const std::string path = StateFile(number);
  switch (ReadStoredFile(path.c_str(), &contents)) {
    case StoredFileRead::kMissing: return err::kRecallStateNotSaved;
    case StoredFileRead::kFailed: return err::kRecallStateFailed;
    case StoredFileRead::kRead: break;
  }
  const std::vector<std::string> lines = StoredLines(contents);
  struct Parsed {
    int slot;
    uint32_t saved;
    std::size_t rest;
  } parsed[kSlotCount] = {};

  // The check pass: nothing switches unless the whole file fits this cage.
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    const std::size_t index = static_cast<std::size_t>(slot - kFirstCardSlot);
    Parsed& line = parsed[slot];
    uint32_t installed = 0;
    if (index >= lines.size() ||
        !ParseSlotHeader(lines[index], "Slot ", &line.slot, &line.saved, &line.rest) ||
        !InstalledTypeId(slot, &installed)) {
      return err::kRecallStateFailed;
    }
    if (line.saved != 0 && line.saved != installed &&
        lines[index].find("NONE") == std::string::npos) {
      return err::kRecallStateCardChanged;
    }
  }

  // The apply pass: every relay card's channels marked open, its saved ones closed.
  auto drop = [](int32_t code) {
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      if (IsCardPresent(slot) && GetPendingChange(slot)) CardRevertPending(slot);
    }
    ClearAllPendingChanges();
    return code;
  };
  auto relay_card = [](int slot) { return IsCardPresent(slot) && CardDigitalOp(slot, 0) == 0; };
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (!relay_card(slot)) continue;
    const Parsed& line = parsed[slot];
    if (line.slot != slot) return drop(err::kRecallStateFailed);
    int32_t opened = 0;
    ForEachCardChannel(slot, [&](int32_t channel) {
      if (opened == 0) opened = CardSetPending(slot, channel, 0) < 0 ? -1 : 0;
    });
    if (opened != 0) return drop(err::kRecallStateFailed);
    const char* p = lines[static_cast<std::size_t>(slot - kFirstCardSlot)].c_str() + line.rest;
    for (;;) {
      char* end = nullptr;
      const long channel = std::strtol(p, &end, 10);
      if (end == p) break;  // "NONE", or the end of the line
      if (channel >= 0 && channel <= INT32_MAX) {
        CardSetPending(slot, static_cast<int32_t>(channel), 1);  // refused ones pass
      }
      p = end;
    }
  }
  // Every card switches at once, without the relay-mode order of a commit.
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (!relay_card(slot)) continue;
    if (CardApplyPending(slot, 3) > 0) FlagSlotNotification(slot);
    CardWriteHardware(slot);
    ClearPendingChange(slot);
  }
  return 0;
}

void ResetRelayStoresForTest() { DeleteAllModuleNames(); }
