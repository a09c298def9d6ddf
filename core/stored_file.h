// Stored files: the settings and lists the firmware keeps under its nonvolatile root.
// A store replaces the file whole: the text goes to a temporary file beside the target,
// is flushed to the medium and renamed over the target, so that a power loss leaves the
// old file or the new one, never a part. A recall reads the file back whole, however
// long its writer made it. Paths are the fixed paths the board uses; both functions
// resolve them under the chassis root.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Writes `contents` as the whole of `fixed_path`, making the missing folders above it
// (mode 0775) first. 0, or -1 when any step failed (the old file then stays as it was).
int ReplaceStoredFile(const char* fixed_path, std::string_view contents);

enum class StoredFileRead {
  kRead,     // *contents holds the whole file
  kMissing,  // there is no such file
  kFailed,   // it exists but could not be read
};
// Reads `fixed_path` whole into *contents (emptied first).
StoredFileRead ReadStoredFile(const char* fixed_path, std::string* contents);

// The same two for a path as this process opens it (already resolved): no folders are
// made. The replaced file gets `mode`.
int ReplaceFileWhole(const std::string& path, std::string_view contents, mode_t mode);
StoredFileRead ReadFileWhole(const std::string& path, std::string* contents);

// The folder `fixed_path` and its missing parents (mode 0775). 0 or -1.
int MakeStoredFolder(const char* fixed_path);
