// Autorecall settings files (see auto_recall.h).
#include "switching/auto_recall.h"

#include <cstdio>
#include <string>

#include "core/stored_file.h"

int WriteAutoRecall(const char* fixed_path, bool on) {
  return ReplaceStoredFile(fixed_path, on ? "AUTORECALL=1" : "AUTORECALL=0") == 0 ? 0 : -1;
}

AutoRecallRead ReadAutoRecall(const char* fixed_path, int* value) {
  std::string text;
  const StoredFileRead read = ReadStoredFile(fixed_path, &text);
  if (read == StoredFileRead::kMissing || (read == StoredFileRead::kRead && text.empty())) {
    return AutoRecallRead::kMissing;
  }
  int number = 0;
  char extra = 0;
  // White space after the number (a line end a person added) is no damage.
  if (read != StoredFileRead::kRead ||
      std::sscanf(text.c_str(), "AUTORECALL=%d %c", &number, &extra) != 1) {
    return AutoRecallRead::kMalformed;
  }
  if (value != nullptr) *value = number;
  return number != 0 ? AutoRecallRead::kOn : AutoRecallRead::kOff;
}
