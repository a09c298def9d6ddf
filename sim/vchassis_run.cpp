// `vchassis run`: bring a virtual chassis up, wait for a stop, take it down cleanly.
#include "sim/vchassis_run.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "devices/ipc_names.h"
#include "platform/command_runner.h"
#include "platform/paths.h"
#include "sim/chassis_description.h"
#include "sim/device_server.h"
#include "sim/vchassis_control.h"
#include "sim/vchassis_devices.h"
#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"

namespace sim {
namespace {

constexpr int kReadyTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kKillTimeoutMs = 2000;
constexpr int kWaitSliceMs = 20;

// The signals vchassis waits for instead of being interrupted by them.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGUSR1);  // a controller restart is asked for
  return set;
}

// Waits up to `ms` for one of the watched signals. The signal, or 0 on timeout.
int WaitSignal(const sigset_t& set, int ms) {
  timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  int signal = sigtimedwait(&set, nullptr, &wait);
  return signal > 0 ? signal : 0;
}

void Describe(int status, char* text, std::size_t size) {
  if (WIFEXITED(status)) {
    std::snprintf(text, size, "exit status %d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    std::snprintf(text, size, "signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
  } else {
    std::snprintf(text, size, "status 0x%x", status);
  }
}

// A controller restart asked for by a control request (served on a device thread) and
// carried out by the serving loop, which owns the controller's process.
struct RestartRequests {
  std::mutex lock;
  std::condition_variable done_changed;
  unsigned asked = 0;
  unsigned done = 0;
  int result = 0;
  std::string answer;
};
RestartRequests g_restarts;

int AskControllerRestart(std::string* answer) {
  std::unique_lock<std::mutex> hold(g_restarts.lock);
  const unsigned ticket = ++g_restarts.asked;
  kill(getpid(), SIGUSR1);
  if (!g_restarts.done_changed.wait_for(hold, std::chrono::seconds(60),
                                        [&] { return g_restarts.done >= ticket; })) {
    *answer = "the controller did not come back within 60 s\n";
    return -1;
  }
  *answer = g_restarts.answer;
  return g_restarts.result;
}

class Chassis {
 public:
  explicit Chassis(const RunOptions& options) : options_(options), signals_(WatchedSignals()) {}

  int Run() {
    int result = BringUp();
    if (result == 0) result = Serve();
    TakeDown();
    return result;
  }

 private:
  int Fail(const char* what, int error) {
    std::fprintf(stderr, "vchassis: %s: %s\n", what, std::strerror(error));
    return 1;
  }

  int BringUp() {
    const std::string chassis_file = options_.chassis_file.empty()
                                         ? options_.program_folder + "/" + kDefaultChassisFile
                                         : options_.chassis_file;
    ChassisDescription description;
    std::string error;
    if (LoadChassisDescription(chassis_file, &description, &error) != 0) {
      std::fprintf(stderr, "vchassis: chassis description %s\n", error.c_str());
      return 1;
    }
    if (PortsListening({ports_[0]}) || PortsListening({ports_[1]}) ||
        PortsListening({ports_[2]})) {
      std::fprintf(stderr, "vchassis: a port of %u .. %u is already in use\n", ports_[0],
                   ports_[2]);
      return 1;
    }
    root_ = options_.root;
    if (root_.empty()) {
      int made = MakeFreshRoot(&root_);
      if (made != 0) return Fail("cannot make a root folder", -made);
      fresh_root_ = true;
    }
    int prepared = PrepareRoot(root_);
    if (prepared != 0) return Fail(root_.c_str(), -prepared);
    setenv("CHASSIS_ROOT", root_.c_str(), 1);
    setenv("CHASSIS_PORT_BASE", std::to_string(options_.port_base).c_str(), 1);
    setenv("CHASSIS_BIND_ADDR", options_.bind_address.c_str(), 1);

    int installed = InstallStandIns(options_.program_folder + "/stand-ins",
                                    platform::StandInFolder());
    if (installed != 0) return Fail("cannot install the stand-in tools", -installed);
    installed = InstallRootStandIns(
        options_.program_folder + "/stand-ins/" + kRootStandInFolder, root_);
    if (installed != 0) return Fail("cannot install the stand-ins under the root", -installed);
    installed = InstallWebServer(options_.program_folder, root_);
    if (installed != 0) return Fail("cannot install the web server", -installed);
    unlink((root_ + "/tmp/web_port").c_str());  // a port from an earlier run is no answer
    // A builder that fails is reported and the chassis starts all the same: the
    // firmware creates its files as it needs them.
    if (BuildNonvolatileTree(options_.program_folder, root_, &error) != 0) {
      std::fprintf(stderr, "vchassis: %s\n", error.c_str());
    }

    if (BuildHardware(description, FramFolder(root_), &hardware_, &error) != 0) {
      std::fprintf(stderr, "vchassis: %s\n", error.c_str());
      return 1;
    }
    std::printf("vchassis: cards from %s: %s\n", chassis_file.c_str(),
                CageSummary(description).c_str());
    std::fflush(stdout);
    int served = AddSimulatedDevices(&devices_, hardware_);
    if (served == 0) served = devices_.Start();
    if (served != 0) return Fail("cannot serve the simulated devices", -served);
    return StartController();
  }

  int StartController() {
    std::string program = options_.program_folder + "/instctl";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return Fail("fork", errno);
    if (pid == 0) {
      setpgid(0, 0);
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // a vchassis that is killed takes instctl along
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      signal(SIGPIPE, SIG_DFL);
      if (chdir(options_.program_folder.c_str()) != 0) {
        std::perror("vchassis: chdir");
        _exit(127);
      }
      execl(program.c_str(), "instctl", static_cast<char*>(nullptr));
      std::perror("vchassis: exec instctl");
      _exit(127);
    }
    setpgid(pid, pid);
    controller_ = pid;
    return 0;
  }

  // Reaps every ended child (instctl, and its servers once they are orphaned: vchassis
  // is their subreaper). True when instctl itself has ended.
  bool Reap() {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
      if (pid == controller_) {
        controller_status_ = status;
        controller_ended_ = true;
      }
    }
    return controller_ended_;
  }

  // Waits for the SCPI ports of a controller just started. 0, or 1 when it ended or
  // did not open them in time (and says so), or 2 on a stop signal.
  int WaitReady() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (!PortsListening({ports_[0], ports_[1], ports_[2]})) {
      int signal = WaitSignal(signals_, kWaitSliceMs);
      if (signal == SIGCHLD && Reap()) {
        ReportControllerEnd();
        return 1;
      }
      if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) return 2;
      if (std::chrono::steady_clock::now() > deadline) {
        std::fprintf(stderr, "vchassis: the SCPI ports did not open within %d s\n",
                     kReadyTimeoutMs / 1000);
        return 1;
      }
    }
    return 0;
  }

  // The controller and every process of its group go at once (SIGKILL: whatever it was
  // doing, a store among them, stops where it was); the simulated hardware stays as it
  // is, and a new controller starts on the same root. 0 when it serves again, 1 when
  // it cannot, 2 on a stop signal meanwhile.
  int RestartController(std::string* answer) {
    const pid_t old = controller_;
    if (controller_ > 0) kill(-controller_, SIGKILL);
    if (!WaitGroupGone(kKillTimeoutMs)) {
      *answer = "the old controller's processes did not end\n";
      return 1;
    }
    controller_ended_ = false;
    controller_status_ = 0;
    const std::string web_port = root_ + "/tmp/web_port";
    unlink(web_port.c_str());
    if (StartController() != 0) {
      *answer = "cannot start instctl\n";
      return 1;
    }
    const int ready = WaitReady();
    if (ready != 0) {
      *answer = "instctl did not come back\n";
      return ready;
    }
    *answer = "instctl " + std::to_string(old) + " killed, instctl " + std::to_string(controller_) +
              " serves\n";
    std::printf("vchassis: %s", answer->c_str());
    std::fflush(stdout);
    return 0;
  }

  // Carries out the restarts asked for, those that come while one is carried out
  // among them (their signals were taken by its waits). Returns what RestartController
  // returned for the last (0 when none was asked).
  int ServeRestarts() {
    int result = 0;
    std::unique_lock<std::mutex> hold(g_restarts.lock);
    while (result == 0 && g_restarts.done != g_restarts.asked) {
      const unsigned asked = g_restarts.asked;
      hold.unlock();
      std::string answer;
      result = RestartController(&answer);
      hold.lock();
      g_restarts.done = asked;
      g_restarts.result = result == 0 ? 0 : -1;
      g_restarts.answer = answer;
      g_restarts.done_changed.notify_all();
    }
    return result;
  }

  bool GroupGone() { return controller_ <= 0 || (kill(-controller_, 0) != 0 && errno == ESRCH); }

  void ReportControllerEnd() {
    char how[96];
    Describe(controller_status_, how, sizeof how);
    std::fprintf(stderr, "vchassis: instctl ended (%s); stopping the chassis\n", how);
  }

  // The VXI-11 resource and its lxi-tools command, once the LAN server has said where
  // its core channel is and who answers the port mapper ("core=%u abort=%u
  // portmapper=own|system|none" in /tmp/vxi11_ports).
  void PrintVxi11(const std::string& host) {
    const std::string path = root_ + "/tmp/vxi11_ports";
    unsigned core = 0;
    unsigned abort = 0;
    char mapper[16] = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      if (FILE* file = std::fopen(path.c_str(), "r")) {
        const int read = std::fscanf(file, "core=%u abort=%u portmapper=%15s", &core, &abort, mapper);
        std::fclose(file);
        if (read == 3) break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        std::printf("vchassis: VXI-11 resource  none: the LAN server did not open its core channel\n");
        return;
      }
      usleep(20000);  // the signals stay pending for the serving loop
    }
    const char* who = std::strcmp(mapper, "own") == 0      ? "this chassis"
                      : std::strcmp(mapper, "system") == 0 ? "this machine's rpcbind"
                                                           : nullptr;
    std::printf("vchassis: VXI-11 lxi-tools lxi scpi --address %s \"*IDN?\"\n", host.c_str());
    if (who != nullptr) {
      std::printf("vchassis: VXI-11 resource  TCPIP::%s::INSTR (core channel port %u, port mapper on "
                  "111: %s)\n", host.c_str(), core, who);
    } else {
      std::printf("vchassis: VXI-11 resource  TCPIP::%s::INSTR needs a port mapper on 111: run as "
                  "root or start rpcbind (core channel port %u)\n", host.c_str(), core);
    }
  }

  // The web pages' address, once the web server has said which port it serves
  // ("http=%u" in /tmp/web_port); it is started only while the web interface is enabled.
  void PrintWeb(const std::string& host) {
    const std::string path = root_ + "/tmp/web_port";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    unsigned port = 0;
    for (;;) {
      if (FILE* file = std::fopen(path.c_str(), "r")) {
        const int read = std::fscanf(file, "http=%u", &port);
        std::fclose(file);
        if (read == 1) break;
      }
      std::string enabled;
      if (FILE* file = std::fopen((root_ + "/mnt/nonv/config/comm/web/enable").c_str(), "r")) {
        enabled = std::fgetc(file) == '0' ? "0" : "1";
        std::fclose(file);
      }
      if (enabled == "0") {
        std::printf("vchassis: web pages        none: the web interface is off (SYST:COMM:ENAB ON,WEB)\n");
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        std::printf("vchassis: web pages        none: the web server did not start\n");
        return;
      }
      usleep(20000);
    }
    std::printf("vchassis: web pages        http://%s:%u/\n", host.c_str(), port);
  }

  int Serve() {
    const int ready = WaitReady();
    if (ready != 0) return ready == 2 ? 0 : 1;
    SetControllerRestart(AskControllerRestart);
    std::printf(
        "vchassis: ready, SCPI on %s ports %u (commands) %u (events) %u (raw), root %s\n",
        options_.bind_address.c_str(), ports_[0], ports_[1], ports_[2], root_.c_str());
    // Three lines to paste: a PyVISA resource, an lxi-tools command, the live view.
    const std::string host =
        options_.bind_address == "0.0.0.0" ? std::string("127.0.0.1") : options_.bind_address;
    std::printf("vchassis: PyVISA resource  TCPIP::%s::%u::SOCKET\n", host.c_str(), ports_[2]);
    std::printf("vchassis: lxi-tools        lxi scpi --address %s --port %u --raw \"*IDN?\"\n",
                host.c_str(), ports_[2]);
    std::printf("vchassis: live view        %s/vchassis watch --root %s\n",
                options_.program_folder.c_str(), root_.c_str());
    PrintVxi11(host);
    PrintWeb(host);
    std::fflush(stdout);
    for (;;) {
      int signal = sigwaitinfo(&signals_, nullptr);
      if (signal == SIGUSR1) {
        const int restarted = ServeRestarts();
        if (restarted == 2) return 0;
        if (restarted != 0) return 1;
        continue;
      }
      if (signal == SIGCHLD && Reap()) {
        ReportControllerEnd();
        return 1;
      }
      if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) return 0;
    }
  }

  // Stops every process of the chassis: SIGTERM to instctl's group (instctl and its
  // three servers), SIGKILL for what is still there after the grace time.
  void StopProcesses() {
    if (controller_ <= 0) return;
    kill(-controller_, SIGTERM);
    if (WaitGroupGone(kStopTimeoutMs)) return;
    std::fprintf(stderr, "vchassis: processes still running after %d s, killing them\n",
                 kStopTimeoutMs / 1000);
    kill(-controller_, SIGKILL);
    WaitGroupGone(kKillTimeoutMs);
  }

  bool WaitGroupGone(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      Reap();
      if (GroupGone()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      WaitSignal(signals_, kWaitSliceMs);
    }
  }

  void TakeDown() {
    SetControllerRestart(nullptr);
    {
      // A restart asked for meanwhile gets its answer: the chassis is going.
      std::lock_guard<std::mutex> hold(g_restarts.lock);
      g_restarts.done = g_restarts.asked;
      g_restarts.result = -1;
      g_restarts.answer = "the chassis is stopping\n";
      g_restarts.done_changed.notify_all();
    }
    StopProcesses();
    devices_.Stop();
    // The firmware is gone and nothing reaches the cards any more: their FRAM is final.
    // (Hardware never built has no FRAM folder, and nothing is saved.)
    std::string error;
    if (SaveFramImages(hardware_, &error) != 0) {
      std::fprintf(stderr, "vchassis: cannot keep the cards' FRAM: %s\n", error.c_str());
    }
    if (root_.empty()) return;
    RemoveChassisFifos(root_);
    const std::string shared_block = platform::GlobalName(kSharedBlockName);
    if (shm_unlink(shared_block.c_str()) != 0 && errno != ENOENT) {
      std::perror("vchassis: shm_unlink");
    }
    if (fresh_root_) {
      int removed = RemoveTree(root_);
      if (removed != 0) {
        std::fprintf(stderr, "vchassis: cannot remove %s: %s\n", root_.c_str(),
                     std::strerror(-removed));
      }
    }
  }

  RunOptions options_;
  sigset_t signals_;
  uint16_t ports_[3] = {options_.port_base, static_cast<uint16_t>(options_.port_base + 1),
                        static_cast<uint16_t>(options_.port_base + 2)};
  std::string root_;
  bool fresh_root_ = false;
  SimulatedHardware hardware_;
  DeviceServer devices_;
  pid_t controller_ = -1;
  int controller_status_ = 0;
  bool controller_ended_ = false;
};

}  // namespace

int RunChassis(const RunOptions& options) {
  // Before any thread exists: every thread inherits the mask, so the watched signals
  // reach only sigtimedwait and never interrupt a device server thread.
  sigset_t watched = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);
  signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  Chassis chassis(options);
  return chassis.Run();
}

}  // namespace sim
