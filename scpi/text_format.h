// Small number formatters for replies and error texts. The engine formats a handful
// of integers per message; these avoid the cost of the printf machinery on that path.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest text FormatDecimal writes, NUL excluded.
inline constexpr std::size_t kDecimalMax = 20;

// Writes value in decimal ("%ld") to out, which holds at least kDecimalMax + 1 bytes;
// NUL-terminates it and returns its length.
std::size_t FormatDecimal(int64_t value, char* out);
