// The chassis description: a small text file that names the card model in each slot of
// the virtual chassis' cage. One slot a line, "<slot> <MODEL>" with slot 1..12 and a
// model of the card catalogue (case does not matter); '#' starts a comment, blank lines
// are ignored, and a slot the file does not name stays empty. A line that names an
// unknown model or a bad slot, or a slot named twice, makes the whole file unusable:
// the chassis refuses to start rather than run with a cage nobody asked for.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "devices/slots.h"

namespace sim {

inline constexpr int kFirstCageSlot = 1;

struct ChassisDescription {
  // By slot number; index 0 (the chassis itself) stays empty. An empty name: no card.
  std::array<std::string, kLastCardSlot + 1> models;
};

// Parses a description. 0, or -1 with *error naming the line ("line 3: ...").
int ParseChassisDescription(std::string_view text, ChassisDescription* out, std::string* error);

// Reads and parses the file at `path`. 0, or -1 with *error naming the file and, for a
// bad line, the line.
int LoadChassisDescription(const std::string& path, ChassisDescription* out, std::string* error);

// One line for people: "1 SM-RD96, 2 SM-MT816, ...; empty: 11" ("no cards" for an
// empty cage).
std::string CageSummary(const ChassisDescription& description);

// The name of the default description, shipped next to the programs.
inline constexpr const char* kDefaultChassisFile = "default.chassis";

}  // namespace sim
