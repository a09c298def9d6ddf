// Whole-file stores and recalls under the chassis root (see stored_file.h).
#include "core/stored_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/paths.h"

namespace {

// Makes every missing folder of `path` (an resolved, absolute or relative path).
int MakeFolders(const std::string& path) {
  if (path.empty()) return 0;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : -1;
  const std::string::size_type slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeFolders(path.substr(0, slash)) != 0) {
    return -1;
  }
  if (mkdir(path.c_str(), 0775) != 0 && errno != EEXIST) return -1;
  return 0;
}

bool WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

int MakeStoredFolder(const char* fixed_path) {
  return MakeFolders(platform::ResolvePath(fixed_path));
}

int ReplaceFileWhole(const std::string& path, std::string_view contents, mode_t mode) {
  const std::string temporary = path + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  bool written = WriteAll(fd, contents) && fsync(fd) == 0;
  if (close(fd) != 0) written = false;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

int ReplaceStoredFile(const char* fixed_path, std::string_view contents) {
  const std::string path = platform::ResolvePath(fixed_path);
  const std::string::size_type slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeFolders(path.substr(0, slash)) != 0) {
    return -1;
  }
  return ReplaceFileWhole(path, contents, 0664);
}

StoredFileRead ReadFileWhole(const std::string& path, std::string* contents) {
  contents->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? StoredFileRead::kMissing : StoredFileRead::kFailed;
  char buffer[8192];
  StoredFileRead result = StoredFileRead::kRead;
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = StoredFileRead::kFailed;
      contents->clear();
      break;
    }
    if (got == 0) break;
    contents->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return result;
}

StoredFileRead ReadStoredFile(const char* fixed_path, std::string* contents) {
  return ReadFileWhole(platform::ResolvePath(fixed_path), contents);
}
