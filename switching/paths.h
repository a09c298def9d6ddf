// Named paths: a name standing for the relays to close and the relays to open, kept in
// the path table `pPathHashTable` (uthash, keyed by the exact bytes of the name,
// iterated in the order the paths were added). Channel lists name paths once the
// table is connected as their path lookup (ConnectPathTable).
//
// A path's close and open lists hold channels only, sorted by slot and channel,
// without duplicates and without a relay on both. The definitions are stored in
// "/mnt/nonv/paths/path_defs", one line "PATH:DEF <name> (@...)[,(@...)]" per path, or
// "NONE"; "/mnt/nonv/config/paths/path_autorecall" holds "AUTORECALL=%d".
//
// Everything here runs under the engine's execution lock.
#pragma once

#include <cstdint>
#include <string>

#include "switching/channel_list.h"

// Makes the path table the channel lists' path lookup.
void ConnectPathTable();

// The path's channels, or null.
const ChannelList* FindPathChannels(const char* name);

// Defines a path from its close-list text and, when not null, its open-list text.
// 0, -293 for a name in use, the channel-list errors, -20018 for a channel that is not
// a relay, -20035 for a relay on both lists, -225 when memory runs out.
int32_t DefinePath(const char* name, const char* close_text, const char* open_text);
// "(@...)" of the close list and, when the path opens relays, "," and the open list.
// -292 for an unknown name.
int32_t PathDefinitionText(const char* name, std::string* text);
// 0, or -292 for an unknown name.
int32_t DeletePath(const char* name);
void DeleteAllPaths();
// The names in table order joined by ',', at most `limit` characters.
std::string PathCatalog(std::size_t limit);

// Writes the definitions file. 0 or -20059.
int32_t StorePaths();
// Reads the definitions file, replacing paths of the same names. Good lines are kept;
// 0, or -20058 when a line was skipped. -284 while a scan runs.
int32_t RecallPaths();
// Recalls only the first definition of `name` from the file. 0 when it was added,
// -20058 when it is not there or its line is bad.
int32_t RecallPath(const char* name);
// The autorecall file: "AUTORECALL=%d". The setter's failure is -20058; the reading
// is 0 for a missing, empty or malformed file.
int32_t SetPathAutoRecall(bool on);
bool PathAutoRecall();

// The scan list's sequence name of a path ("NONE" stores the empty text); -292 for
// an unknown name.
int32_t SetPathSequenceName(const char* name, const char* sequence);
// The path's sequence name, or null for an unknown name.
const std::string* PathSequenceName(const char* name);

// A cursor over the names in table order: the first name, then each next one, null
// at the end.
const char* FirstPathName();
const char* NextPathName();

// The ROUTe:MONitor setting, held in memory.
void SetMonitorState(bool on);
bool MonitorState();

// The reset of the paths in the instrument reset, and the start of a fresh process:
// every path deleted (the monitor setting too, for tests).
void ResetPathsForTest();
