// The controller's one table of error codes and texts: negative SCPI codes, the
// device-specific codes whose leading digits give their SCPI class, and the internal
// error numbers. Reporting an error (queueing "%d,\"%s\"") is the engine's business;
// this unit only holds the table and finds an entry by code. The codes and texts come
// from the one list in error_codes.h, whose err:: names callers use for the codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/error_codes.h"

struct ErrorEntry {
  int32_t code;
  const char* text;
};

extern const ErrorEntry kErrorTable[];
inline constexpr size_t kErrorTableSize = 449;

// The entry with this code, or nullptr when the table has none. Linear: the table is
// only searched when an error is reported.
const ErrorEntry* FindErrorEntry(int32_t code);
