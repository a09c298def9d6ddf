// The autorecall settings of the stored lists: a small file holding "AUTORECALL=%d"
// (no line end) that says whether the list comes back at power-on.
#pragma once

enum class AutoRecallRead {
  kOn,         // a nonzero value
  kOff,        // zero
  kMissing,    // no file, or an empty one
  kMalformed,  // anything else
};

// Writes "AUTORECALL=1" or "AUTORECALL=0" (folders made when missing). 0 or -1.
int WriteAutoRecall(const char* fixed_path, bool on);
// `value` (when given) receives the number read, for callers that need more than on/off.
AutoRecallRead ReadAutoRecall(const char* fixed_path, int* value = nullptr);
