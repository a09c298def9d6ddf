// Whole files of bytes for the simulated hardware that persists under a chassis root
// (the FRAM of the cards and of the controller board).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Reads the file whole. 0, or -1 with *error ("<path>: <reason>").
int ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Replaces the file whole (a temporary file beside it, then a rename), so that a
// chassis killed while saving leaves the old contents rather than half of the new.
// 0, or -1 with *error.
int ReplaceFileBytes(const std::string& path, const uint8_t* bytes, size_t size, std::string* error);

}  // namespace sim
