// Making, furnishing and removing the root folder of a virtual chassis.
#include "sim/vchassis_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace sim {
namespace {

// The fixed folders the firmware writes into without creating them first (the
// discovery service's run folder is part of the board's installed system).
constexpr const char* kRootFolders[] = {
    "/tmp", "/dev", "/mnt/nonv", "/etc/sysinfo", "/var/www/controls", "/lib/webctrls",
    "/tmp/avahi/var/run/avahi-daemon",
};

// mkdir -p; 0 or a negated errno.
int MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return -errno;
  }
  return 0;
}

int CopyFile(const std::string& from, const std::string& to, mode_t mode) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -errno;
  // A fresh file: replacing a copy that a running chassis executes must not change it
  // under that chassis' feet.
  std::string temporary = to + ".new";
  int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (out < 0) {
    int error = errno;
    close(in);
    return -error;
  }
  int result = 0;
  char buffer[8192];
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      result = -errno;
      break;
    }
    for (ssize_t put = 0; put < got;) {
      ssize_t wrote = write(out, buffer + put, static_cast<size_t>(got - put));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0) {
        result = -errno;
        break;
      }
      put += wrote;
    }
    if (result != 0) break;
  }
  close(in);
  if (fchmod(out, mode) != 0 && result == 0) result = -errno;
  if (close(out) != 0 && result == 0) result = -errno;
  if (result == 0 && rename(temporary.c_str(), to.c_str()) != 0) result = -errno;
  if (result != 0) unlink(temporary.c_str());
  return result;
}

}  // namespace

int MakeFreshRoot(std::string* root) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp");
  pattern += "/vchassis-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return -errno;
  *root = pattern;
  return 0;
}

int PrepareRoot(const std::string& root) {
  if (root.empty() || root.front() != '/') return -EINVAL;
  int result = MakeFolders(root);
  for (const char* folder : kRootFolders) {
    if (result != 0) break;
    result = MakeFolders(root + folder);
  }
  return result;
}

namespace {

// Links `link` to the host's `tool` from the system folders (never from the caller's
// PATH, which may hold anything). A tool the host lacks is left out.
int LinkHostTool(const char* tool, const std::string& link) {
  for (const char* folder : {"/usr/bin", "/bin"}) {
    const std::string target = std::string(folder) + "/" + tool;
    if (access(target.c_str(), X_OK) != 0) continue;
    if (unlink(link.c_str()) != 0 && errno != ENOENT) return -errno;
    return symlink(target.c_str(), link.c_str()) == 0 ? 0 : -errno;
  }
  return 0;
}

}  // namespace

int InstallStandIns(const std::string& from_folder, const std::string& to_folder) {
  int result = MakeFolders(to_folder);
  if (result != 0) return result;
  DIR* folder = opendir(from_folder.c_str());
  if (folder == nullptr) return -errno;
  std::vector<std::string> installed;
  while (dirent* entry = readdir(folder)) {
    std::string from = from_folder + "/" + entry->d_name;
    struct stat info {};
    if (stat(from.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    result = CopyFile(from, to_folder + "/" + entry->d_name, 0755);
    if (result != 0) break;
    installed.emplace_back(entry->d_name);
  }
  closedir(folder);
  for (const char* tool : kHostTools) {
    if (result != 0) break;
    if (std::find(installed.begin(), installed.end(), tool) != installed.end()) continue;
    result = LinkHostTool(tool, to_folder + "/" + tool);
  }
  return result;
}

int InstallRootStandIns(const std::string& from_folder, const std::string& root) {
  DIR* folder = opendir(from_folder.c_str());
  if (folder == nullptr) return -errno;
  int result = MakeFolders(root);
  while (result == 0) {
    const dirent* entry = readdir(folder);
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    const std::string from = from_folder + "/" + entry->d_name;
    const std::string to = root + "/" + entry->d_name;
    struct stat info {};
    if (stat(from.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      result = InstallRootStandIns(from, to);
    } else if (S_ISREG(info.st_mode)) {
      result = CopyFile(from, to, (info.st_mode & S_IXUSR) != 0 ? 0755 : 0644);
    }
  }
  closedir(folder);
  return result;
}

int InstallWebServer(const std::string& program_folder, const std::string& root) {
  const std::string program = program_folder + "/weblink";
  const std::string link = root + "/sim/weblink";
  if (unlink(link.c_str()) != 0 && errno != ENOENT) return -errno;
  if (access(program.c_str(), X_OK) != 0) return 0;
  int result = MakeFolders(root + "/sim");
  if (result == 0 && symlink(program.c_str(), link.c_str()) != 0) result = -errno;
  if (result == 0) result = InstallRootStandIns(program_folder + "/webctrls", root + "/lib/webctrls");
  return result;
}

int BuildNonvolatileTree(const std::string& program_folder, const std::string& root,
                         std::string* error) {
  if (access((root + "/mnt/nonv/config").c_str(), F_OK) == 0) return 0;
  const std::string program = program_folder + "/" + kNonvolatileBuilder;
  if (access(program.c_str(), X_OK) != 0) return 0;
  std::fflush(nullptr);  // the child must not repeat buffered output
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string(kNonvolatileBuilder) + ": fork: " + std::strerror(errno);
    return -1;
  }
  if (pid == 0) {
    // The builder gets the signals the caller may hold back for its own waits.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    setenv("CHASSIS_ROOT", root.c_str(), 1);
    execl(program.c_str(), kNonvolatileBuilder, static_cast<char*>(nullptr));
    std::perror(program.c_str());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = std::string(kNonvolatileBuilder) + ": wait: " + std::strerror(errno);
      return -1;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  char how[64];
  if (WIFEXITED(status)) {
    std::snprintf(how, sizeof how, "exit status %d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    std::snprintf(how, sizeof how, "signal %d", WTERMSIG(status));
  } else {
    std::snprintf(how, sizeof how, "status 0x%x", static_cast<unsigned>(status));
  }
  *error = std::string(kNonvolatileBuilder) + " failed (" + how +
           "); the nonvolatile tree may be incomplete";
  return -1;
}

void RemoveChassisFifos(const std::string& root) {
  std::string folder = root + "/tmp";
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (dirent* entry = readdir(listing)) {
    std::string path = folder + "/" + entry->d_name;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) unlink(path.c_str());
  }
  closedir(listing);
}

int RemoveTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : -errno;
  if (!S_ISDIR(info.st_mode)) return unlink(path.c_str()) == 0 ? 0 : -errno;
  DIR* listing = opendir(path.c_str());
  if (listing == nullptr) return -errno;
  int result = 0;
  while (dirent* entry = readdir(listing)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    int removed = RemoveTree(path + "/" + entry->d_name);
    if (result == 0) result = removed;
  }
  closedir(listing);
  if (rmdir(path.c_str()) != 0 && result == 0) result = -errno;
  return result;
}

std::string ProgramFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string program(path, static_cast<std::size_t>(length));
  std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace sim
