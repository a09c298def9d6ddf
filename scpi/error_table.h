// The controller's one table of error codes and texts: negative SCPI codes, the
// device-specific codes whose leading digits give their SCPI class, and the internal
// error numbers. Reporting an error (queueing "%d,\"%s\"") is the engine's business;
// this unit only holds the table and finds an entry by code.
#pragma once

#include <cstddef>
#include <cstdint>

struct ErrorEntry {
  int32_t code;
  const char* text;
};

extern const ErrorEntry kErrorTable[];
inline constexpr size_t kErrorTableSize = 453;

// The first entry with this code (some codes appear twice; the first text is the one
// reported), or nullptr when the table has none.
const ErrorEntry* FindErrorEntry(int32_t code);
