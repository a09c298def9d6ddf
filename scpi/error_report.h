// Reporting the first error of a program message: the code is looked up in the error
// table, turned into the number the user sees (its SCPI class for device-specific
// codes), formatted as an error queue entry, pushed to the client's error queue and
// recorded in its standard event status register.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scpi/channel_handle.h"

// A server's error queue entry holds this many bytes, NUL included.
inline constexpr std::size_t kErrorEntrySize = 256;

// The number a code is reported as: positive codes made negative, then codes below
// -99999 divided by 10000 and codes below -999 by 100 (-22255 -> -222, 926 -> -926).
int32_t ReportedErrorNumber(int32_t code);

// Formats the queue entry for code and detail (null or empty for none) into out
// (kErrorEntrySize bytes): "%d,\"%s\"", "%d,\"%s;%s\"", or "%d,ERROR %d NOT RECOGNIZED"
// for a code the table lacks. A text too long for the entry is cut inside the quotes,
// so the entry still begins with its number and ends with the closing quote. Returns
// the reported number, or 0 for an unknown code.
int32_t FormatErrorEntry(int32_t code, const char* detail, char* out);

void ReportError(ChannelHandle* handle, int32_t code, const char* detail);
