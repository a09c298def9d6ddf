// The error table: every code the controller can report and its text, in the order
// the lookup walks them. Texts are kept exactly as users and their scripts have
// always seen them, odd blanks and spellings included, because clients match on them.
// The entries are expanded from CHASSIS_ERROR_LIST in error_codes.h, the same list the
// err:: constants come from; the checks below hold the two to each other.
#include "scpi/error_table.h"

#include <iterator>

#include "scpi/error_codes.h"

// The list's comments mark its groups: SCPI standard codes, internal errors of the
// engine, and device-specific codes whose leading digits are the SCPI class.
#define CHASSIS_ERROR_ENTRY(name, code, text) {code, text},
constexpr ErrorEntry kErrorTable[] = {CHASSIS_ERROR_LIST(CHASSIS_ERROR_ENTRY)};
#undef CHASSIS_ERROR_ENTRY

static_assert(std::size(kErrorTable) == kErrorTableSize);

namespace {

// A code listed twice would leave its second text unreachable.
constexpr bool EveryCodeOnce() {
  for (size_t i = 0; i < std::size(kErrorTable); ++i) {
    for (size_t j = i + 1; j < std::size(kErrorTable); ++j) {
      if (kErrorTable[i].code == kErrorTable[j].code) return false;
    }
  }
  return true;
}
static_assert(EveryCodeOnce());

// Every named constant, as the err:: namespace holds it (not as the list spells it), so a
// constant that no longer matches a table entry fails the build.
#define CHASSIS_ERROR_NAMED(name, code, text) err::name,
constexpr int32_t kNamedCodes[] = {CHASSIS_ERROR_LIST(CHASSIS_ERROR_NAMED)};
#undef CHASSIS_ERROR_NAMED
static_assert(std::size(kNamedCodes) == kErrorTableSize);

constexpr bool InTable(int32_t code) {
  for (const ErrorEntry& entry : kErrorTable) {
    if (entry.code == code) return true;
  }
  return false;
}

constexpr bool EveryNamedCodeInTable() {
  for (int32_t code : kNamedCodes) {
    if (!InTable(code)) return false;
  }
  return true;
}
static_assert(EveryNamedCodeInTable());

// Cheap guards on the two ends of the order; the tests check the rest of it.
static_assert(kErrorTable[0].code == err::kNoError && err::kNoError == 0);
static_assert(kErrorTable[kErrorTableSize - 1].code == err::kNotImplemented &&
              err::kNotImplemented == -999);

}  // namespace

const ErrorEntry* FindErrorEntry(int32_t code) {
  for (const ErrorEntry& entry : kErrorTable) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}
