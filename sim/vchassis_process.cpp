// Ports, chassis processes and the launcher of `vchassis run`.
#include "sim/vchassis_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace sim {
namespace {

constexpr std::size_t kOutputKept = 1 << 20;  // the launcher keeps the last MiB printed
constexpr const char* kReadyPrefix = "vchassis: ready";
constexpr const char* kRootField = ", root ";  // the ready line's last field

// Adds the ports of `table` ("/proc/net/tcp" or "tcp6") that are in the LISTEN state.
void ListeningPorts(const char* table, std::vector<uint16_t>* ports) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    std::size_t colon = local.rfind(':');
    if (state != "0A" || colon == std::string::npos) continue;
    ports->push_back(static_cast<uint16_t>(std::strtoul(local.c_str() + colon + 1, nullptr, 16)));
  }
}

// Binds a TCP socket to 127.0.0.1:`port`; the descriptor, or -1 when the port is taken.
int Claim(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool EnvironmentNames(pid_t pid, const std::string& entry) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  std::string variable;
  while (std::getline(in, variable, '\0')) {
    if (variable == entry) return true;
  }
  return false;
}

}  // namespace

bool PortsListening(const std::vector<uint16_t>& ports) {
  std::vector<uint16_t> listening;
  ListeningPorts("/proc/net/tcp", &listening);
  ListeningPorts("/proc/net/tcp6", &listening);
  for (uint16_t port : ports) {
    bool found = false;
    for (uint16_t open : listening) found = found || open == port;
    if (!found) return false;
  }
  return true;
}

uint16_t FindFreePortBase() {
  // Below the kernel's ephemeral range (32768 and up), so that the clients' own
  // outgoing connections never take a port between the check and the chassis' bind.
  std::mt19937 random(static_cast<unsigned>(getpid()) ^
                      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> pick(20000, 32000);
  for (int attempt = 0; attempt < 50; ++attempt) {
    uint16_t base = static_cast<uint16_t>(pick(random));
    int fds[3];
    int claimed = 0;
    while (claimed < 3 && (fds[claimed] = Claim(static_cast<uint16_t>(base + claimed))) >= 0) {
      ++claimed;
    }
    for (int i = 0; i < claimed; ++i) close(fds[i]);
    if (claimed == 3 && !PortsListening({base})) return base;
  }
  return 0;
}

std::vector<pid_t> ChassisProcesses(const std::string& root) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  const std::string entry = "CHASSIS_ROOT=" + root;
  while (dirent* item = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(item->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == getpid()) continue;
    if (EnvironmentNames(static_cast<pid_t>(pid), entry)) found.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return found;
}

ChassisLauncher::~ChassisLauncher() {
  if (pid_ > 0 && !Exited()) Stop(5000);
  KillStrays();
  if (collector_.joinable()) collector_.join();
}

int ChassisLauncher::Start(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& root) {
  if (pid_ > 0) return -EBUSY;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    root_ = root;
  }
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return -errno;
  std::vector<std::string> words{program, "run"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    int error = errno;
    close(output[0]);
    close(output[1]);
    return -error;
  }
  if (pid == 0) {
    setpgid(0, 0);
    // A test or benchmark that dies without its clean-up still stops its chassis.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    std::perror("execv");
    _exit(127);
  }
  setpgid(pid, pid);  // also here, so that a kill of the group right away finds it
  close(output[1]);
  pid_ = pid;
  reaped_ = false;
  collector_ = std::thread(&ChassisLauncher::Collect, this, output[0]);
  return 0;
}

void ChassisLauncher::Collect(int fd) {
  char buffer[4096];
  std::string line;
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> hold(mutex_);
    output_.append(buffer, static_cast<std::size_t>(got));
    if (output_.size() > kOutputKept) output_.erase(0, output_.size() - kOutputKept);
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      if (ready_line_.empty() && line.rfind(kReadyPrefix, 0) == 0) {
        ready_line_ = line;
        std::size_t named = line.rfind(kRootField);
        if (root_.empty() && named != std::string::npos) {
          root_ = line.substr(named + std::strlen(kRootField));
        }
      }
      line.clear();
    }
    changed_.notify_all();
  }
  close(fd);
  std::lock_guard<std::mutex> hold(mutex_);
  output_closed_ = true;
  changed_.notify_all();
}

bool ChassisLauncher::WaitReady(int timeout_ms, std::string* line) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock<std::mutex> hold(mutex_);
  while (ready_line_.empty() && !output_closed_) {
    if (changed_.wait_until(hold, deadline) == std::cv_status::timeout) break;
  }
  if (ready_line_.empty()) return false;
  if (line != nullptr) *line = ready_line_;
  return true;
}

bool ChassisLauncher::Exited() {
  if (pid_ <= 0 || reaped_) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    reaped_ = true;
  }
  return reaped_;
}

int ChassisLauncher::WaitExit(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!Exited()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Its last words may still be in the pipe when it is reaped: they are all collected
  // once the output closes. A child that outlives it may hold the output open, so the
  // wait also ends at the deadline.
  std::unique_lock<std::mutex> hold(mutex_);
  changed_.wait_until(hold, deadline, [this] { return output_closed_; });
  return status_;
}

int ChassisLauncher::Stop(int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (!Exited()) kill(pid_, SIGTERM);
  int status = WaitExit(timeout_ms);
  if (status == -1) {
    kill(-pid_, SIGKILL);
    KillStrays();
    WaitExit(timeout_ms);
  }
  return status;
}

long ResidentKb(pid_t pid, std::string* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  long kb = 0;
  while (std::getline(in, line)) {
    if (line.rfind("Name:", 0) == 0) *name = line.substr(line.find_first_not_of(" \t", 5));
    if (line.rfind("VmRSS:", 0) == 0) kb = std::atol(line.c_str() + 6);
  }
  return kb;
}

void ChassisLauncher::KillStrays() {
  std::string chassis_root = root();
  if (chassis_root.empty()) return;
  for (pid_t stray : ChassisProcesses(chassis_root)) kill(stray, SIGKILL);
}

std::string ChassisLauncher::root() {
  std::lock_guard<std::mutex> hold(mutex_);
  return root_;
}

std::string ChassisLauncher::Output() {
  std::lock_guard<std::mutex> hold(mutex_);
  return output_;
}

}  // namespace sim
