// Channel-list and module-list parsing, the list text builder and the engine helpers
// for commands that take channel lists (see channel_list.h).
//
// Parsing is one left-to-right pass. Every channel is checked with its card as it is
// met, and ranges step through the card's own numbering. The duplicate test of the
// expanding form keeps a set of the (slot, channel) pairs already on each list, so a
// long list costs time in proportion to its length.
#include "switching/channel_list.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_set>

#include "cards/card_manager.h"
#include "core/seam.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"

namespace {

Seam<const ChannelList*(const char*)> g_path_lookup;
Seam<int(const char*)> g_module_name_lookup;

constexpr int kModuleDigitsMax = 4;
constexpr int kChannelDigitsMax = 9;
constexpr int32_t kChannelMax = 0xFFFFFF;
// Module-list names.
constexpr std::size_t kModuleNameMax = 12;
constexpr int kModulesMax = kModuleListSize - 2;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsNameCharacter(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }

uint64_t PairKey(int32_t slot, int32_t channel) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(slot)) << 32) |
         static_cast<uint32_t>(channel);
}

const ChannelList* FindPath(const char* name) {
  PathLookup lookup = g_path_lookup.function();
  return lookup != nullptr ? lookup(name) : nullptr;
}

int FindModuleName(const char* name) {
  ModuleNameLookup lookup = g_module_name_lookup.function();
  return lookup != nullptr ? lookup(name) : -1;
}

// What the text held last when it ends too early: the code depends on it.
enum class Begun { kNothing, kModule, kName };

class ChannelListParser {
 public:
  ChannelListParser(bool keep_paths, const char* text, const ChannelList* seed,
                    ChannelList* out, uint8_t channel_flag)
      : keep_paths_(keep_paths), text_(text), out_(out), flag_(channel_flag) {
    if (!keep_paths_ && seed != nullptr) {
      for (const ChannelListElement& element : seed->close) {
        if (element.path == 0) close_seen_.insert(PairKey(element.slot, element.channel));
      }
      for (const ChannelListElement& element : seed->open) {
        if (element.path == 0) open_seen_.insert(PairKey(element.slot, element.channel));
      }
    }
  }

  int32_t Run() {
    if (text_[0] != '(') return err::kMissingLeftParenthesis;
    if (text_[1] != '@') return err::kMissingAtCharacter;
    p_ = 2;
    Begun begun = Begun::kNothing;
    for (;;) {
      const char c = text_[p_];
      if (c == '\0') return EndedEarly(begun);
      if (IsDigit(c)) {
        begun = Begun::kModule;
        const int32_t result = ModuleByNumber();
        if (result != 0) return result;
      } else if (IsLetter(c)) {
        begun = Begun::kName;
        const int32_t result = Named(&begun);
        if (result != 0) return result;
      } else {
        return err::kMissingModuleOrPathName;
      }
      if (after_group_) {
        // After a module group the comma is optional.
        after_group_ = false;
        if (text_[p_] == ',') {
          ++p_;
        } else if (text_[p_] == ')') {
          break;
        }
        continue;
      }
      // Whole modules and paths end at ',' or ')'.
      if (text_[p_] == ')') break;
      ++p_;
    }
    ++p_;
    return text_[p_] == '\0' ? 0 : err::kSyntaxError;
  }

 private:
  static int32_t EndedEarly(Begun begun) {
    switch (begun) {
      case Begun::kModule:
        return err::kMissingSeparatorAfterModuleNumber;
      case Begun::kName:
        return err::kMissingSeparatorAfterPathName;
      case Begun::kNothing:
        break;
    }
    return err::kMissingModuleOrPathName;
  }

  // A module number: a group, or a whole module before ',' or ')'.
  int32_t ModuleByNumber() {
    const std::size_t start = p_;
    int32_t module = 0;
    while (IsDigit(text_[p_])) {
      if (p_ - start == kModuleDigitsMax) return err::kMissingSeparatorAfterModuleNumber;
      module = module * 10 + (text_[p_] - '0');
      ++p_;
    }
    const char next = text_[p_];
    if (next == '\0') return err::kMissingSeparatorAfterModuleNumber;
    if (next != '(' && next != ',' && next != ')') return err::kErrorAfterModuleOrPathName;
    if (module > kLastCardSlot) return err::kSlotOutOfRange;
    if (!IsCardPresent(module)) return err::kNoModule;
    if (next == '(') return ModuleGroup(module);
    const int32_t index = CardChannelToIndex(module, -1, flag_);
    if (index < 0) return err::kMissingChannelNumber;
    AddChannel(module, -1, index);
    return 0;
  }

  // A name: a module name before '(', a path before ',' or ')', or a path range.
  int32_t Named(Begun* begun) {
    std::string name;
    const int32_t read = ReadName(&name);
    if (read != 0) return read;
    const char next = text_[p_];
    if (next == '(') {
      *begun = Begun::kModule;
      const int slot = FindModuleName(name.c_str());
      if (slot < 0) return err::kReferencedNameDoesNotExist;
      if (!IsCardPresent(slot)) return err::kNoModule;
      return ModuleGroup(slot);
    }
    if (next == ',' || next == ')') return AddPath(name);
    if (next == '\0') return err::kMissingSeparatorAfterPathName;
    if (next != ':') return err::kErrorAfterModuleOrPathName;
    ++p_;
    std::string last;
    if (IsLetter(text_[p_])) {
      const int32_t second = ReadName(&last);
      if (second != 0) return second;
    }
    const char after = text_[p_];
    if (after == '\0') return err::kMissingSeparatorAfterPathName;
    if (after != ',' && after != ')') return err::kErrorAfterModuleOrPathName;
    return PathRange(name, last);
  }

  int32_t ReadName(std::string* name) {
    const std::size_t start = p_;
    while (IsNameCharacter(text_[p_])) ++p_;
    if (p_ - start > kPathNameMax) return err::kMissingSeparatorAfterPathName;
    name->assign(text_ + start, p_ - start);
    return 0;
  }

  // Reads a channel number at p_ (a digit is there). 0 or -22201.
  int32_t ReadChannel(int32_t* channel) {
    const std::size_t start = p_;
    int64_t value = 0;
    while (IsDigit(text_[p_])) {
      if (p_ - start == kChannelDigitsMax) return err::kChannelNotValid;
      value = value * 10 + (text_[p_] - '0');
      ++p_;
    }
    if (value > kChannelMax) return err::kChannelNotValid;
    *channel = static_cast<int32_t>(value);
    return 0;
  }

  // p_ at '('; on success p_ is past the group's ')'.
  int32_t ModuleGroup(int slot) {
    ++p_;
    bool any_digit = false;
    for (;;) {
      if (text_[p_] == '\0') {
        return any_digit ? err::kMissingSeparatorAfterChannelNumber : err::kMissingChannelNumber;
      }
      if (!IsDigit(text_[p_])) return err::kMissingChannelNumber;
      any_digit = true;
      int32_t first = 0;
      int32_t read = ReadChannel(&first);
      if (read != 0) return read;
      if (text_[p_] == ':') {
        ++p_;
        if (text_[p_] == '\0') return err::kMissingSeparatorAfterChannelNumber;
        if (!IsDigit(text_[p_])) return err::kMissingChannelNumber;
        int32_t last = 0;
        read = ReadChannel(&last);
        if (read != 0) return read;
        if (text_[p_] == ':') return err::kImproperChannelRange;
        if (text_[p_] != ',' && text_[p_] != ')') return err::kMissingSeparatorAfterChannelNumber;
        const int32_t added = AddRange(slot, first, last);
        if (added != 0) return added;
      } else {
        if (text_[p_] != ',' && text_[p_] != ')') return err::kMissingSeparatorAfterChannelNumber;
        const int32_t index = CardChannelToIndex(slot, first, flag_);
        if (index < 0) return err::kChannelNotValid;
        AddChannel(slot, first, index);
      }
      if (text_[p_++] == ')') break;
    }
    after_group_ = true;
    return 0;
  }

  // first, then each channel the card's numbering reaches on the way to last. A walk
  // longer than the card has channels is going round and is refused.
  int32_t AddRange(int slot, int32_t first, int32_t last) {
    const int32_t first_index = CardChannelToIndex(slot, first, flag_);
    if (first_index < 0) return err::kChannelNotValid;
    if (CardChannelToIndex(slot, last, flag_) < 0) return err::kChannelNotValid;
    AddChannel(slot, first, first_index);
    const int32_t count = CardChannelCount(slot, flag_);
    const int64_t steps_allowed = count > 0 ? count : 65536;
    int64_t steps = 0;
    for (int32_t channel = first; channel != last;) {
      if (++steps > steps_allowed) return err::kMissingChannelNumber;
      channel = first < last ? CardNextChannel(slot, channel, flag_)
                             : CardPrevChannel(slot, channel, flag_);
      if (channel < 0) return err::kMissingChannelNumber;
      const int32_t index = CardChannelToIndex(slot, channel, flag_);
      if (index < 0) return err::kMissingChannelNumber;
      AddChannel(slot, channel, index);
    }
    return 0;
  }

  void AddChannel(int32_t slot, int32_t channel, int32_t index) {
    if (!keep_paths_ && !close_seen_.insert(PairKey(slot, channel)).second) return;
    ChannelListElement element;
    element.slot = slot;
    element.channel = channel;
    element.index = index;
    out_->close.push_back(std::move(element));
  }

  // Copies a path's channels into `list`, skipping those already on it.
  static void Expand(const std::vector<ChannelListElement>& from,
                     std::vector<ChannelListElement>* list,
                     std::unordered_set<uint64_t>* seen) {
    for (const ChannelListElement& element : from) {
      if (element.path == 0 && !seen->insert(PairKey(element.slot, element.channel)).second) {
        continue;
      }
      list->push_back(element);
    }
  }

  int32_t AddPath(const std::string& name) {
    const ChannelList* path = FindPath(name.c_str());
    if (path == nullptr) return err::kReferencedNameDoesNotExist;
    if (keep_paths_) {
      ChannelListElement element;
      element.path = 1;
      element.name = name;
      element.path_lists = std::make_shared<const ChannelList>(*path);
      out_->close.push_back(std::move(element));
      return 0;
    }
    Expand(path->close, &out_->close, &close_seen_);
    Expand(path->open, &out_->open, &open_seen_);
    return 0;
  }

  // The first path, then the names prefix+n for every n after the first's number up to
  // the last's.
  int32_t PathRange(const std::string& first, const std::string& last) {
    const int32_t added = AddPath(first);
    if (added != 0) return added;
    std::size_t common = 0;
    while (common < first.size() && common < last.size() && first[common] == last[common] &&
           !IsDigit(first[common])) {
      ++common;
    }
    int32_t from = 0;
    int32_t to = 0;
    if (!LeadingNumber(first, common, &from) || !LeadingNumber(last, common, &to)) {
      return err::kMissingOrInvalidPathName;
    }
    const std::string prefix = first.substr(0, common);
    const int32_t step = to >= from ? 1 : -1;
    for (int64_t n = int64_t{from} + step; step > 0 ? n <= to : n >= to; n += step) {
      std::string name = prefix;
      name += std::to_string(n);
      const int32_t result = AddPath(name);
      if (result != 0) return result;
    }
    return 0;
  }

  // The decimal number that begins name[at...]; false when there is none or it
  // does not fit an int.
  static bool LeadingNumber(const std::string& name, std::size_t at, int32_t* number) {
    if (at >= name.size() || !IsDigit(name[at])) return false;
    int64_t value = 0;
    for (; at < name.size() && IsDigit(name[at]); ++at) {
      value = value * 10 + (name[at] - '0');
      if (value > INT32_MAX) return false;
    }
    *number = static_cast<int32_t>(value);
    return true;
  }

  const bool keep_paths_;
  const char* const text_;
  ChannelList* const out_;
  const uint8_t flag_;
  std::size_t p_ = 0;
  bool after_group_ = false;
  std::unordered_set<uint64_t> close_seen_;
  std::unordered_set<uint64_t> open_seen_;
};

// A module-list entry at *p: a module number 1..12 or a module name. The slot, or
// the error.
int32_t ModuleEntry(const char* text, std::size_t* p, int32_t* slot) {
  std::size_t at = *p;
  if (IsDigit(text[at])) {
    int64_t value = 0;
    for (; IsDigit(text[at]); ++at) {
      if (value <= kLastCardSlot) value = value * 10 + (text[at] - '0');
    }
    if (value < kFirstCardSlot || value > kLastCardSlot) return err::kSlotOutOfRange;
    const char next = text[at];
    if (next != ',' && next != ':' && next != ')') return err::kMissingRightParenthesis;
    *slot = static_cast<int32_t>(value);
    *p = at;
    return 0;
  }
  if (!IsLetter(text[at])) return err::kMissingOrInvalidModuleName;
  const std::size_t start = at;
  while ((text[at] >= 'A' && text[at] <= 'Z') || IsDigit(text[at]) || text[at] == '_') ++at;
  const char next = text[at];
  if (at - start > kModuleNameMax || (next != ',' && next != ':' && next != ')')) {
    return err::kMissingOrInvalidModuleName;
  }
  const std::string name(text + start, at - start);
  const int found = FindModuleName(name.c_str());
  if (found < kFirstCardSlot || found > kLastCardSlot) return err::kReferencedNameDoesNotExist;
  *slot = found;
  *p = at;
  return 0;
}

// Whether the card calls each element's channel what `test` asks for.
template <typename Test>
int AllChannels(const ChannelList& list, Test test) {
  for (const auto* elements : {&list.close, &list.open}) {
    for (const ChannelListElement& element : *elements) {
      if (element.path != 0) continue;
      if (!element.IsPlainChannel() || !test(element.slot, element.channel)) return 0;
    }
  }
  return 1;
}


}  // namespace

void SetPathLookup(PathLookup lookup) { g_path_lookup.Connect(lookup); }
void SetModuleNameLookup(ModuleNameLookup lookup) { g_module_name_lookup.Connect(lookup); }
const ChannelList* LookupPath(const char* name) { return FindPath(name); }

int32_t ParseChannelList(bool keep_paths, const char* text, const ChannelList* seed,
                             ChannelList* out, uint8_t channel_flag) {
  out->close.clear();
  out->open.clear();
  if (text == nullptr) return err::kMissingLeftParenthesis;
  int32_t result = 0;
  try {
    ChannelListParser parser(keep_paths, text, seed, out, channel_flag);
    result = parser.Run();
  } catch (const std::bad_alloc&) {
    result = err::kOutOfMemory;
  }
  if (result != 0) {
    out->close.clear();
    out->open.clear();
  }
  return result;
}

int32_t KeepChannelList(CommandContext* context, std::unique_ptr<ChannelList> list, int which) {
  if (context == nullptr || which < 0 || which > 1) return err::kSystemError;
  if (context->channel_list[which] != nullptr) ReleaseChannelList(context->channel_list[which]);
  context->channel_list[which] = list.release();
  return 0;
}

ChannelList* ContextChannelList(CommandContext* context, int which) {
  if (context == nullptr || which < 0 || which > 1) return nullptr;
  return static_cast<ChannelList*>(context->channel_list[which]);
}

void ReleaseChannelList(void* list) { delete static_cast<ChannelList*>(list); }

int32_t ParseChannelListParam(CommandContext* context, const char* text, bool keep_paths,
                              bool allow_sequences, uint8_t channel_flag) {
  std::unique_ptr<ChannelList> list(new (std::nothrow) ChannelList);
  int32_t code = list == nullptr ? err::kOutOfMemory
                                 : ParseChannelList(keep_paths, text, nullptr, list.get(),
                                                        channel_flag);
  if (code == 0 && !allow_sequences) {
    for (const auto* elements : {&list->close, &list->open}) {
      for (const ChannelListElement& element : *elements) {
        if (element.sequence_marker != 0) code = err::kSequenceInChannelListNotSupported;
      }
    }
  }
  if (code == 0) code = KeepChannelList(context, std::move(list));
  const int32_t stored = ConcludeValidation(context, code, kCommandValidatedList);
  return stored;
}

int32_t ParseModuleList(const char* text, int32_t modules[kModuleListSize]) {
  modules[0] = 0;
  if (text == nullptr || text[0] != '(') return err::kMissingLeftParenthesis;
  if (text[1] != '@') return err::kMissingAtCharacter;
  const std::size_t length = std::strlen(text);
  if (text[length - 1] != ')') return err::kMissingRightParenthesis;
  int count = 0;
  auto add = [&](int32_t slot) {
    if (count == kModulesMax) return false;
    modules[count++] = slot;
    return true;
  };
  std::size_t p = 2;
  for (;;) {
    int32_t first = 0;
    int32_t result = ModuleEntry(text, &p, &first);
    if (result != 0) return result;
    if (text[p] == ':') {
      ++p;
      int32_t last = 0;
      result = ModuleEntry(text, &p, &last);
      if (result != 0) return result;
      if (text[p] == ':') return err::kImproperModuleRange;
      const int32_t step = last >= first ? 1 : -1;
      for (int32_t slot = first;; slot += step) {
        if (!add(slot)) return err::kTooManyModules;
        if (slot == last) break;
      }
    } else if (!add(first)) {
      return err::kTooManyModules;
    }
    if (text[p] == ')') break;
    ++p;  // ','
  }
  modules[count] = 0;
  return text[p + 1] == '\0' ? 0 : err::kImproperModuleRange;
}

int AllRelayChannels(const ChannelList& list) {
  return AllChannels(list, [](int slot, int32_t channel) {
    return CardIsValidChannel(slot, channel) == 1;
  });
}

int AllDigitalChannels(const ChannelList& list) {
  return AllChannels(list, [](int slot, int32_t channel) {
    return CardDigitalOp(slot, channel) == 1;
  });
}

void BuildChannelListText(const std::vector<ChannelListElement>& list, char* out,
                          std::size_t size) {
  if (size > 0) out[0] = '\0';
  if (size < 16) return;
  std::size_t length = 0;
  auto put = [&](std::string_view piece) {
    std::memcpy(out + length, piece.data(), piece.size());
    length += piece.size();
  };
  put("(@");
  bool first = true;
  for (const ChannelListElement& element : list) {
    char item[40];
    std::string_view piece;
    if (element.IsPlainChannel()) {
      // A whole-module element is written as its module, as it was given.
      const int n = element.channel < 0
                        ? std::snprintf(item, sizeof item, "%d", element.slot)
                        : std::snprintf(item, sizeof item, "%d(%d)", element.slot, element.channel);
      piece = std::string_view(item, static_cast<std::size_t>(n));
    } else {
      piece = element.name;
    }
    // The element, its separator, the closing ')' and the NUL must fit; a longer
    // list ends at the last element that does.
    const std::size_t separator = first ? 0 : 1;
    if (length + separator + piece.size() + 2 > size) break;
    if (!first) put(",");
    put(piece);
    first = false;
  }
  put(")");
  out[length] = '\0';
}

int32_t ValidateChannelList(CommandContext* context, bool keep_paths, uint8_t channel_flag) {
  const int32_t count = CheckParameterCount(context, 1, 1);
  if (count != 0) return ConcludeValidation(context, count);
  return ParseChannelListParam(context, context->parameters[0], keep_paths, true, channel_flag);
}

int32_t ValidateOptionalChannelList(CommandContext* context, bool keep_paths) {
  const int32_t count = CheckParameterCount(context, 0, 1);
  if (count != 0 || context->parameter_count == 0) return ConcludeValidation(context, count);
  const int32_t code = ParseChannelListParam(context, context->parameters[0], keep_paths, true, 0);
  return ConcludeValidation(context, code);
}

int32_t ValidateIntegerAndChannelList(CommandContext* context, int32_t minimum,
                                      int32_t maximum, int32_t* out) {
  int32_t code = CheckParameterCount(context, 2, 2);
  int32_t value = 0;
  if (code == 0) code = ParseInteger(context->parameters[0], minimum, maximum, &value);
  if (code == 0) code = ParseChannelListParam(context, context->parameters[1], false, true, 0);
  if (code == 0 && out != nullptr) *out = value;
  return ConcludeValidation(context, code);
}

int32_t ValidateKeywordAndChannelList(CommandContext* context, const KeywordValue* keywords) {
  int32_t code = CheckParameterCount(context, 2, 2);
  if (code == 0 && LookupKeywordValue(keywords, context->parameters[0]) < 0) {
    code = ParseChannelListParam(context, context->parameters[1], false, true, 0);
    if (code == 0) code = err::kIllegalParameterValue;
  }
  return ConcludeValidation(context, code);
}

namespace {

// The cards' hook entries of the command's channel list.
std::vector<CardHookEntry> HookEntries(CommandContext* context) {
  std::vector<CardHookEntry> entries;
  if (const ChannelList* list = ContextChannelList(context)) {
    for (const ChannelListElement& element : list->close) {
      entries.push_back({element.slot, element.channel, 0});
    }
  }
  return entries;
}

}  // namespace

int32_t ValidateCardCommand(int32_t command_id, CommandContext* context) {
  if (context->parameter_count < 1) return ConcludeValidation(context, err::kMissingParameter);
  int32_t code = ParseChannelListParam(context, context->parameters[context->parameter_count - 1],
                                       true, true, 0);
  if (code != 0) return code;
  const ChannelList* list = ContextChannelList(context);
  for (const ChannelListElement& element : list->close) {
    if (element.path != 0) return ConcludeValidation(context, err::kPathNotSupported);
  }
  try {
    const std::vector<CardHookEntry> entries = HookEntries(context);
    code = CardValidateHooks(command_id, entries.data(), static_cast<int>(entries.size()), false,
                             context);
  } catch (const std::bad_alloc&) {
    code = err::kOutOfMemory;
  }
  if (code != 0) return ConcludeValidation(context, code);
  // A hook may have stored its own outcome; keep a failure it recorded.
  return context->command->status == kCommandFailed ? context->command->execution->error_code
                                                     : ConcludeValidation(context, 0);
}

int32_t ExecuteCardCommand(int32_t command_id, CommandContext* context) {
  try {
    const std::vector<CardHookEntry> entries = HookEntries(context);
    return CardExecuteHooks(command_id, entries.data(), static_cast<int>(entries.size()), false,
                            context);
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  }
}
