// The default nonvolatile tree (see nonvol_defaults.h).
#include "lan/nonvol_defaults.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <utility>

#include "core/diag_print.h"
#include "core/stored_file.h"

namespace {

constexpr const char* kSource = "_system/nonvol_file_system";

void Failed(int line, const std::string& path) {
  diag_error_line(kSource, "create_default_nonvol_file_system", line, "Failed to create %s\n",
                  path.c_str());
}

void MakeFolder(const std::string& path, int line) {
  if (mkdir(path.c_str(), 0775) != 0) Failed(line, path);
}

void WriteFile(const std::string& path, const std::string& text, int line) {
  if (ReplaceFileWhole(path, text, 0644) != 0) Failed(line, path);
}

}  // namespace

int create_default_nonvol_file_system(const std::string& root) {
  struct stat info {};
  if (stat(root.c_str(), &info) != 0) MakeFolder(root, __LINE__);

  MakeFolder(root + "/appweb", __LINE__);
  std::string users;
  if (ReadStoredFile(kFactoryUsersFile, &users) == StoredFileRead::kRead) {
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
