// Channel lists and module lists: the text every switching command names relays with,
// such as (@1(2),3(5:8),DMM_PATH), parsed against the cards installed now.
//
// A parsed ChannelList is two lists in text order: the channels to close and, for named
// paths, the channels to open. Each element is a card channel (slot, channel number as
// written, and the index the card gave it) or, when paths are kept whole, a named path
// carrying its own close and open channels. Module lists such as (@1,3:5,PSU_A) name
// slots for the relay-mode and digital commands.
//
// Paths and module names are looked up through two small interfaces that the path table
// and the module names fill in; until then nothing is found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scpi/scpi_params.h"

struct CommandContext;
struct ChannelList;

struct ChannelListElement {
  uint8_t path = 0;             // 1: a named path element; 0: a channel element
  uint8_t second_marker = 0;    // set by the scan list only
  uint8_t sequence_marker = 0;  // set by the scan list when a sequence is attached
  std::string name;             // path elements: the path's name
  int32_t slot = -1;            // 0..12; -1 in a path element
  int32_t channel = -1;         // as written; -1 for a whole module and in a path element
  int32_t position = -1;
  int32_t index = -1;           // the card's index of the channel; -1 in a path element
  // Path elements kept whole: the path's own close and open channels.
  std::shared_ptr<const ChannelList> path_lists;

  bool IsPlainChannel() const { return path == 0 && second_marker == 0 && sequence_marker == 0; }
};

struct ChannelList {
  std::vector<ChannelListElement> close;
  std::vector<ChannelListElement> open;
};

// ---- Lookups ---------------------------------------------------------------------
// A named path's channels by name (the path table decides how names compare), or null.
using PathLookup = const ChannelList* (*)(const char* name);
// The slot (1..12) that carries a module name, compared without regard to case, or -1.
using ModuleNameLookup = int (*)(const char* name);
// Null restores "nothing found".
void SetPathLookup(PathLookup lookup);
void SetModuleNameLookup(ModuleNameLookup lookup);
// The path's channels through the path lookup, or null.
const ChannelList* LookupPath(const char* name);

// ---- Parsing ---------------------------------------------------------------------
inline constexpr std::size_t kPathNameMax = 256;

// Parses `text` (upper case, without white space) into *out, which is emptied first.
// The outcome is returned; a command stores it through ParseChannelListParam.
// keep_paths 1 keeps each named path as one element and every duplicate; 0 expands
// paths into their channels and drops a channel already on the list it joins or on
// the seed (null for none). The channel flag goes unchanged to the cards' channel
// operations. 0, or the error code of the first fault (then *out is empty):
// the syntax and lookup codes of the grammar, -10220 for a path range whose names do
// not split into a prefix and two numbers, -225 when memory ran out.
int32_t ParseChannelList(bool keep_paths, const char* text, const ChannelList* seed,
                             ChannelList* out, uint8_t channel_flag);

// Parses the text as the command's channel list and keeps the list in the context until
// the program message ends (ContextChannelList). Without allow_sequences a list with an
// element carrying the sequence marker fails with -20024. 0 or the error code, which
// is also stored in the context.
int32_t ParseChannelListParam(CommandContext* context, const char* text, bool keep_paths,
                              bool allow_sequences, uint8_t channel_flag);
// The list kept in the context, slot 0 or 1, else null.
ChannelList* ContextChannelList(CommandContext* context, int which = 0);
// Keeps `list` in the context (slot `which`) until the message ends; 0 or -225.
int32_t KeepChannelList(CommandContext* context, std::unique_ptr<ChannelList> list,
                        int which = 0);
// Releases a list the context kept; the engine calls it after the message.
void ReleaseChannelList(void* list);

// Module lists: up to 12 modules 1..12 in text order, ended by 0 in modules[n].
inline constexpr int kModuleListSize = 14;
int32_t ParseModuleList(const char* text, int32_t modules[kModuleListSize]);

// 1 when every element is a path element or a plain channel element the card calls a
// relay channel (IsValidChannel); else 0.
int AllRelayChannels(const ChannelList& list);
// The same with the card's digital-port test.
int AllDigitalChannels(const ChannelList& list);

// "(@...)" for the close list: channel elements as "%d(%d)", path elements and marked
// elements by name, separated by ','. Written into out (size characters with the NUL);
// a long list is cut so that its closing parenthesis and the NUL still fit. Fewer than
// 16 characters: nothing is written (out[0] is NUL when size > 0).
void BuildChannelListText(const std::vector<ChannelListElement>& list, char* out,
                          std::size_t size);

// ---- Engine helpers for commands that take channel lists -------------------------
// Exactly one parameter, a channel list (kept in the context).
int32_t ValidateChannelList(CommandContext* context, bool keep_paths = false,
                            uint8_t channel_flag = 0);
// None, or one channel list.
int32_t ValidateOptionalChannelList(CommandContext* context, bool keep_paths = false);
// An integer in [minimum, maximum] and a channel list.
int32_t ValidateIntegerAndChannelList(CommandContext* context, int32_t minimum,
                                      int32_t maximum, int32_t* out = nullptr);
// A keyword of `keywords` (the list is left to the conclusion), or else a channel list
// as the second parameter: its error, or -224 when it is a valid list.
int32_t ValidateKeywordAndChannelList(CommandContext* context, const KeywordValue* keywords);

// Card-directed commands: the command's last parameter is a channel list without
// paths; each of its cards validates (and then executes) the command through its own
// hooks. -109 without parameters, -10223 for a path, -30002 for an empty slot, -20036
// for a card without the hook, else the first nonzero answer of a card.
int32_t ValidateCardCommand(int32_t command_id, CommandContext* context);
int32_t ExecuteCardCommand(int32_t command_id, CommandContext* context);
