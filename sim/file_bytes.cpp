// Whole files of bytes (see file_bytes.h).
#include "sim/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace sim {

int ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  bytes->clear();
  uint8_t buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  if (std::ferror(file.get())) {
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  return 0;
}

int ReplaceFileBytes(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
  const std::string temporary = path + ".new";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  bool written = file != nullptr && std::fwrite(bytes, 1, size, file) == size;
  int saved_errno = errno;
  if (file != nullptr && std::fclose(file) != 0 && written) {
    written = false;
    saved_errno = errno;
  }
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return 0;
  if (written) saved_errno = errno;
  std::remove(temporary.c_str());
  *error = path + ": " + std::strerror(saved_errno);
  return -1;
}

}  // namespace sim
