// The default nonvolatile tree (see nonvol_defaults.h).
#include "lan/nonvol_defaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "core/diag_print.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSource = "_system/nonvol_file_system";

void Failed(int line, const std::string& path) {
  diag_error_line(kSource, "create_default_nonvol_file_system", line, "Failed to create %s\n",
                  path.c_str());
}

void MakeFolder(const std::string& path, int line) {
  if (mkdir(path.c_str(), 0775) != 0) Failed(line, path);
}

// Replaces the file whole with `text` (mode 0644): a temporary file, then a rename.
bool WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = fsync(fd) == 0 && written;
  written = close(fd) == 0 && written;
  if (written && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

void WriteFile(const std::string& path, const std::string& text, int line) {
  if (!WriteWhole(path, text)) Failed(line, path);
}

bool ReadWhole(const std::string& path, std::string* text) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

}  // namespace

int create_default_nonvol_file_system(const std::string& root) {
  struct stat info {};
  if (stat(root.c_str(), &info) != 0) MakeFolder(root, __LINE__);

  MakeFolder(root + "/appweb", __LINE__);
  std::string users;
  if (ReadWhole(platform::ResolvePath(kFactoryUsersFile), &users)) {
    WriteFile(root + "/appweb/users.db", users, __LINE__);
  } else {
    Failed(__LINE__, root + "/appweb/users.db");
  }

  for (const char* folder : {"/caldata", "/config", "/config/comm"}) MakeFolder(root + folder, __LINE__);
  for (const char* interface : {"lan", "gpib", "usbdev", "web"}) {
    const std::string folder = root + "/config/comm/" + interface;
    MakeFolder(folder, __LINE__);
    WriteFile(folder + "/enable", "1", __LINE__);
  }

  MakeFolder(root + "/config/lan", __LINE__);
  const std::pair<const char*, const char*> lan[] = {
      {"currentmode", "automatic"}, {"description", "Backup Firmware"}, {"dns", ""},
      {"domain", ""},               {"gateway", ""},                    {"hostname", ""},
      {"ipaddress", ""},            {"mode", "automatic"},              {"keepalive", "3600"},
      {"ping", "1"},                {"preserveconn", "1"},              {"subnetmask", ""},
  };
  for (const auto& [name, value] : lan) WriteFile(root + "/config/lan/" + name, value, __LINE__);

  MakeFolder(root + "/config/sequence", __LINE__);
  const std::pair<const char*, const char*> sequence[] = {
      {"autopoweron", "0"}, {"autorecall", "0"}, {"poweronseq", "NONE"}};
  for (const auto& [name, value] : sequence) {
    WriteFile(root + "/config/sequence/" + name, value, __LINE__);
  }

  for (const char* folder : {"/data", "/dhcp", "/paths", "/scanlists", "/sequences"}) {
    MakeFolder(root + folder, __LINE__);
  }
  return 0;
}
