// Fixed paths, machine-global names, ports and bind address, read from the environment
// on each call so that tests and the virtual chassis can change them at run time.
#include "platform/paths.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

// FNV-1a: stable across runs and builds, so one root always gets the same names.
uint64_t Fnv1a(std::string_view text) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

std::string Root() {
  std::string root(Env("CHASSIS_ROOT"));
  if (!root.empty() && root.front() != '/') {
    // A relative root is made absolute against the working directory, so that the
    // paths handed on (command texts, socket names) name the same place anywhere.
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) root = std::string(cwd) + "/" + root;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") root.clear();  // "/" as root is the board's own layout
  return root;
}

std::string ResolvePath(std::string_view fixed_path) {
  std::string root = Root();
  if (root.empty() || fixed_path.empty() || fixed_path.front() != '/') {
    return std::string(fixed_path);
  }
  root.append(fixed_path);
  return root;
}

std::string GlobalName(std::string_view name) {
  const std::string root = Root();
  if (root.empty()) return std::string(name);

  char suffix[18];
  std::snprintf(suffix, sizeof suffix, ".%016llx",
                static_cast<unsigned long long>(Fnv1a(root)));

  // A POSIX shm name is one leading '/' and no other: later slashes become '_'.
  std::string result;
  size_t start = 0;
  if (!name.empty() && name.front() == '/') {
    result.push_back('/');
    start = 1;
  }
  for (size_t i = start; i < name.size(); ++i) {
    result.push_back(name[i] == '/' ? '_' : name[i]);
  }
  constexpr size_t kNameMax = 255;
  const size_t suffix_len = sizeof suffix - 1;
  if (result.size() + suffix_len > kNameMax) result.resize(kNameMax - suffix_len);
  result.append(suffix);
  return result;
}

uint16_t PortBase() {
  const std::string_view text = Env("CHASSIS_PORT_BASE");
  if (text.empty() || text.size() > 5) return kDefaultPortBase;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kDefaultPortBase;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  // base+2 must still be a port.
  if (value < 1 || value > 65533) return kDefaultPortBase;
  return static_cast<uint16_t>(value);
}

uint16_t CommandPort() { return PortBase(); }
uint16_t EventPort() { return static_cast<uint16_t>(PortBase() + 1); }
uint16_t RawPort() { return static_cast<uint16_t>(PortBase() + 2); }
uint16_t WebPort() {
  if (Root().empty()) return 80;
  return static_cast<uint16_t>(std::min(PortBase() + 8, 65535));
}

std::string BindAddress() {
  const std::string text(Env("CHASSIS_BIND_ADDR"));
  in_addr parsed{};
  if (!text.empty() && inet_pton(AF_INET, text.c_str(), &parsed) == 1) return text;
  return "0.0.0.0";
}

std::string FormatCommand(std::string_view pattern,
                          std::initializer_list<std::string_view> paths) {
  std::string out;
  auto next = paths.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == 'p') {
        if (next != paths.end()) out += ResolvePath(*next++);
        ++i;
        continue;
      }
      if (pattern[i + 1] == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
    }
    out.push_back(pattern[i]);
  }
  return out;
}

}  // namespace platform
