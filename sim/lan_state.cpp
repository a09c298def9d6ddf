// The simulated interface's state files (see lan_state.h).
#include "sim/lan_state.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/paths.h"
#include "sim/file_bytes.h"

namespace sim {
namespace {

// The pid file the discovery service writes, as the daemon it plays would.
constexpr const char* kDiscoveryPidFile = "/tmp/avahi/var/run/avahi-daemon/pid";

// Guards this process's writes of the state files: control requests are served
// concurrently, and adding a duplicate reads the list before it replaces it. (The
// stand-ins never write the files this process writes.)
std::mutex g_writes;

// The file's text, or `fallback` when it cannot be read. A line end a hand-edited
// file may carry is not part of the value.
std::string ReadValue(const std::string& path, const std::string& fallback) {
  std::vector<uint8_t> bytes;
  std::string ignored;
  if (ReadFileBytes(path, &bytes, &ignored) != 0) return fallback;
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int WriteLocked(const std::string& folder, const std::string& key, const std::string& value,
                std::string* error) {
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = folder + ": " + std::strerror(errno);
    return -1;
  }
  return ReplaceFileBytes(folder + "/" + key, reinterpret_cast<const uint8_t*>(value.data()),
                          value.size(), error);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string LanStateFolder(const std::string& fram_folder) { return fram_folder + "/lan"; }

LanState ReadLanState(const std::string& folder) {
  LanState state;
  struct Field {
    const char* key;
    std::string* value;
  };
  const Field fields[] = {
      {"link", &state.link},           {"cable", &state.cable},
      {"address", &state.address},     {"netmask", &state.netmask},
      {"gateway", &state.gateway},     {"mac", &state.mac},
      {"dhcp", &state.dhcp},           {"lease", &state.lease},
      {"indicator", &state.indicator}, {"ping", &state.ping},
      {"keepalive", &state.keepalive}, {"hostname", &state.hostname},
      {"service", &state.service},     {"web", &state.web},
  };
  for (const Field& field : fields) {
    *field.value = ReadValue(folder + "/" + field.key, *field.value);
  }
  state.duplicates = Lines(ReadValue(folder + "/duplicates", ""));
  return state;
}

int WriteLanValue(const std::string& folder, const std::string& key, const std::string& value,
                  std::string* error) {
  std::lock_guard<std::mutex> hold(g_writes);
  return WriteLocked(folder, key, value, error);
}

int AddDuplicateAddress(const std::string& folder, const std::string& address, bool* added,
                        std::string* error) {
  std::lock_guard<std::mutex> hold(g_writes);
  std::vector<std::string> duplicates = Lines(ReadValue(folder + "/duplicates", ""));
  *added = std::find(duplicates.begin(), duplicates.end(), address) == duplicates.end();
  if (!*added) return 0;
  duplicates.push_back(address);
  std::string text;
  for (const std::string& each : duplicates) text += each + "\n";
  return WriteLocked(folder, "duplicates", text, error);
}

bool DiscoveryServiceRunning() {
  const std::string root = platform::Root();
  if (root.empty()) return false;
  const std::string pid_text = ReadValue(platform::ResolvePath(kDiscoveryPidFile), "");
  char* end = nullptr;
  const long pid = std::strtol(pid_text.c_str(), &end, 10);
  if (pid_text.empty() || *end != '\0' || pid <= 0) return false;
  // An ended process (or a zombie) has no command line; a reused number names
  // another program, whose command line does not hold the root.
  std::string command = ReadValue("/proc/" + std::to_string(pid) + "/cmdline", "");
  std::replace(command.begin(), command.end(), '\0', ' ');
  return command.find(root + "/") != std::string::npos;
}

bool IsDottedIpv4(std::string_view text) {
  const std::string copy(text);
  int part[4];
  if (std::sscanf(copy.c_str(), "%d.%d.%d.%d", &part[0], &part[1], &part[2], &part[3]) != 4) {
    return false;
  }
  for (int each : part) {
    if (each < 0 || each > 255) return false;
  }
  char printed[16];
  std::snprintf(printed, sizeof printed, "%d.%d.%d.%d", part[0], part[1], part[2], part[3]);
  return copy == printed;
}

std::string DescribeLan(const LanState& state, bool discovery_running) {
  const std::pair<const char*, std::string> lines[] = {
      {"link", state.link},
      {"address", state.address},
      {"netmask", state.netmask},
      {"gateway", state.gateway},
      {"mac", state.mac},
      {"dhcp", state.dhcp},
      {"indicator", state.indicator},
      {"ping", state.ping},
      {"keepalive", state.keepalive},
      {"mdns", discovery_running ? "running" : "stopped"},
      {"hostname", state.hostname},
      {"service", state.service},
      {"web", state.web},
  };
  std::string text;
  for (const auto& [key, value] : lines) {
    if (!text.empty()) text += "\n";
    text += std::string(key) + ": " + (value.empty() ? "none" : value);
  }
  return text;
}

}  // namespace sim
