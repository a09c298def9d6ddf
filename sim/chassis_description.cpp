// Reading the chassis description (see chassis_description.h).
#include "sim/chassis_description.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "sim/card_models.h"

namespace sim {
namespace {

// The catalogue's spelling of `word`, or empty when no model has that name.
std::string CatalogueName(const std::string& word) {
  for (const std::string& name : CardModelNames()) {
    if (strcasecmp(name.c_str(), word.c_str()) == 0) return name;
  }
  return {};
}

// A slot number written in decimal, or 0 when `word` is not one of the cage's slots.
int SlotNumber(const std::string& word) {
  if (word.empty() || word.size() > 2) return 0;
  int slot = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return 0;
    slot = slot * 10 + (c - '0');
  }
  return slot >= kFirstCageSlot && slot <= kLastCardSlot ? slot : 0;
}

int LineError(int line, const std::string& what, std::string* error) {
  *error = "line " + std::to_string(line) + ": " + what;
  return -1;
}

}  // namespace

int ParseChassisDescription(std::string_view text, ChassisDescription* out, std::string* error) {
  ChassisDescription description;
  std::array<int, kLastCardSlot + 1> named_on{};  // the line that named each slot
  std::istringstream lines{std::string(text)};
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    if (fields.empty()) continue;
    if (fields.size() != 2) return LineError(number, "expected \"<slot> <model>\"", error);
    const int slot = SlotNumber(fields[0]);
    if (slot == 0) {
      return LineError(number, "\"" + fields[0] + "\" is not a slot from 1 to 12", error);
    }
    const std::string model = CatalogueName(fields[1]);
    if (model.empty()) return LineError(number, "unknown card model \"" + fields[1] + "\"", error);
    if (named_on[slot] != 0) {
      return LineError(number,
                       "slot " + std::to_string(slot) + " is already named on line " +
                           std::to_string(named_on[slot]),
                       error);
    }
    named_on[slot] = number;
    description.models[slot] = model;
  }
  *out = std::move(description);
  return 0;
}

int LoadChassisDescription(const std::string& path, ChassisDescription* out, std::string* error) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) {
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  if (std::ferror(file.get())) {  // a folder, or a read error
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  std::string why;
  if (ParseChassisDescription(text, out, &why) != 0) {
    *error = path + ": " + why;
    return -1;
  }
  return 0;
}

std::string CageSummary(const ChassisDescription& description) {
  std::string cards, empty;
  for (int slot = kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& model = description.models[static_cast<size_t>(slot)];
    std::string& list = model.empty() ? empty : cards;
    if (!list.empty()) list += ", ";
    list += std::to_string(slot);
    if (!model.empty()) list += " " + model;
  }
  if (cards.empty()) return "no cards";
  return empty.empty() ? cards : cards + "; empty: " + empty;
}

}  // namespace sim
