// instctl: the controller program. It brings the board's devices up, starts the three
// I/O servers (lanlink, usblink, buslink) as children from its own working directory,
// opens a command channel to each and the event FIFOs, runs the long-lived threads, and
// then watches its servers from the main thread, starting again any that ends on its own,
// until the stop. SIGTERM or SIGINT clears the running flag and wakes every thread with
// SIGALRM; the children end on their own stop signals.
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <pthread.h>

#include "cards/card_manager.h"
#include "cards/xbus_monitor.h"
#include "controller/command_channel.h"
#include "controller/event_channel.h"
#include "controller/server_supervisor.h"
#include "controller/wiring.h"
#include "core/diag_print.h"
#include "core/gpibdev_utils.h"
#include "core/run_state.h"
#include "hardware/board_signals.h"
#include "hardware/event_log.h"
#include "hardware/fans.h"
#include "hardware/i2c_bus.h"
#include "hardware/sensors.h"
#include "lan/identity.h"
#include "lan/lan_config.h"
#include "lan/lan_settings.h"
#include "lan/usb_device.h"
#include "platform/command_runner.h"

// The controller's process id, for the parts that report or signal it.
pid_t g_instctl_pid = 0;

namespace {

constexpr const char* kSource = "_exec/instctl";

constexpr std::size_t kProgramNameSize = 512;
constexpr std::size_t kDirectorySize = 4096;

struct ServerEntry {
  char program[kProgramNameSize + 1];
  int channel_type;  // 2 LAN, 3 USB, 1 GPIB
  pid_t pid;
};

// Started in this order; the channels are set up in the same order.
ServerEntry g_servers[] = {
    {"/lanlink", 2, 0},
    {"/usblink", 3, 0},
    {"/buslink", 1, 0},
};
constexpr int kServerCount = sizeof g_servers / sizeof g_servers[0];

CommandChannel g_channels[kServerCount];
ChannelHandle g_handles[kServerCount];

// The thread table: three command channel threads, then the fan loop, the LAN reset
// button loop, the interrupt monitor and the GPIB-section fan loop. A slot whose body
// is not part of this build stays empty and is skipped when joining.
constexpr int kThreadCount = 7;
struct ThreadSlot {
  void* (*body)(void*);
  void* argument;
  pthread_t handle;
  bool started;
};

// Thread body of a command channel: serves program messages until the stop. The idle
// task returns on the stop, or when its FIFO failed for good (a read error, or a
// server that closed its end and cannot be waited for again); calling it again then
// would only spin on the same failure, so the thread reports it and ends.
void* CommandChannelThread(void* argument) {
  int index = static_cast<int>(reinterpret_cast<intptr_t>(argument));
  slave_msgrout_do_IDLE_task(&g_channels[index], &g_handles[index]);
  if (IsRunning()) {
    diag_error_line(kSource, "CommandChannelThread", __LINE__, "%s channel failed, thread ends\n",
                    g_servers[index].program);
  }
  return nullptr;
}

void* ChannelArgument(int index) { return reinterpret_cast<void*>(static_cast<intptr_t>(index)); }

ThreadSlot g_threads[kThreadCount] = {
    {CommandChannelThread, ChannelArgument(0), {}, false},
    {CommandChannelThread, ChannelArgument(1), {}, false},
    {CommandChannelThread, ChannelArgument(2), {}, false},
    {FanControlLoop, nullptr, {}, false},
    {LCIMonitorLoop, nullptr, {}, false},
    {MonitorXbusEvents, nullptr, {}, false},
    {GpibFanControlLoop, nullptr, {}, false},
};

// Sets or clears SA_RESTART on the stop handler. While the main thread waits in the
// start-up's FIFO opens, a stop signal lands on that very thread; with SA_RESTART the
// kernel would restart the open after the handler, so the open would never see the
// stop. Start-up therefore runs with the flag cleared and sets it once the threads run.
void SetStopRestart(bool restart) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    struct sigaction action {};
    if (sigaction(signal_number, nullptr, &action) != 0) continue;
    if (restart) {
      action.sa_flags |= SA_RESTART;
    } else {
      action.sa_flags &= ~SA_RESTART;
    }
    sigaction(signal_number, &action, nullptr);
  }
}

// Device bring-up. A failed step is printed and start-up goes on. Steps whose
// subsystem is not part of this build are absent; the order of the others holds.
void init() {
  if (InstallStopHandlers() != 0) std::perror("sigaction");
  SetStopRestart(false);
  // The stop also wakes the main thread while it is blocked in start-up.
  RegisterWakeThread(pthread_self());
  if (InitLanOnBootup(1) != 0) diag_error_line(kSource, "init", __LINE__, "InitLanOnBootup failed\n");
  if (UsbDevInit() != 0) diag_error_line(kSource, "init", __LINE__, "UsbDevInit failed\n");
  if (GPIBDevInit() != 0) diag_error_line(kSource, "init", __LINE__, "GPIBDevInit failed\n");
  if (i2c_initialize() != 0) diag_error_line(kSource, "init", __LINE__, "i2c_initialize failed\n");
  if (max1039_initialize() != 0) {
    diag_error_line(kSource, "init", __LINE__, "max1039_initialize failed\n");
  }
  if (fpga_i2c_initialize() != 0) {
    diag_error_line(kSource, "init", __LINE__, "fpga_i2c_initialize failed\n");
  }
  if (!IsGPIBEnabled()) EnableGPIB(1);
  // The interfaces come up enabled at every start: a disabled LAN, web server or USB
  // device would leave no way to reach the instrument.
  if (!lan_get_enable()) LanEnable(1);
  if (!web_get_enable()) WebEnable(1);
  if (UsbDevEnabled() == 0) UsbDevEnable();
  if (InitSysInfo() != 0) diag_error_line(kSource, "init", __LINE__, "InitSysInfo failed\n");
  PrepareFanLoopWake();
  // Loaded before anything can log: no other thread runs yet.
  StartEventLog();
}

// Forks and execs one server from `directory`. The child gets an empty argument list,
// not even a program name. Returns false when fork failed.
bool StartServer(ServerEntry* server, const char* directory) {
  char path[kDirectorySize + kProgramNameSize + 1];
  std::snprintf(path, sizeof path, "%s%s", directory, server->program);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // The server starts with no signal blocked, whichever thread started it.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // A server started again while the controller runs gets none of its descriptors
    // (FIFO ends, device connections): they would outlive the controller's own.
    if (close_range(3, ~0U, 0) != 0) {
      for (long fd = sysconf(_SC_OPEN_MAX) - 1; fd >= 3; --fd) close(static_cast<int>(fd));
    }
    // execlp(path, NULL) in vector form: the library marks execlp's first argument
    // non-null, and the servers are started with an argument list that is empty.
    char* const no_arguments[] = {nullptr};
    execvp(path, no_arguments);
    std::perror("execlp");
    _exit(0);
  }
  server->pid = pid;
  return true;
}

// What the watch needs of the three servers and the web server.
char g_directory[kDirectorySize];

pid_t ServerPid(int index) { return g_servers[index].pid; }

bool RestartServer(int index, pid_t) {
  std::fflush(stdout);
  return StartServer(&g_servers[index], g_directory);
}

void DropUnreadEvents(int index) { EventChannelDropUnread(&g_event_channel, g_servers[index].channel_type); }

pid_t WebPid(int) { return WebServerPid(); }
bool RestartWeb(int, pid_t ended) { return RestartWebServer(ended); }

void WaitForChild(pid_t pid) {
  if (pid <= 0) return;
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

int main() {
  // The main thread watches the servers: SIGCHLD is taken from a signalfd, so every
  // thread keeps it blocked; and the web server, a daemon, is inherited as an orphan.
  sigset_t child_signal;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &child_signal, nullptr);
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  platform::RunCommand("lanstatind -b");

  char* directory = g_directory;
  if (getcwd(directory, kDirectorySize) == nullptr) {
    std::printf("getwd failed\n");
    directory[0] = '\0';
  }

  g_instctl_pid = getpid();
  init();
  ConnectController();
  std::fflush(stdout);  // the children must not inherit buffered output

  for (ServerEntry& server : g_servers) {
    if (!StartServer(&server, directory)) {
      std::printf("FATAL FAULT:  Unable to fork child processes\n");
      std::exit(-1);
    }
  }

  bool channel_ready[kServerCount] = {};
  for (int i = 0; i < kServerCount && IsRunning(); ++i) {
    channel_ready[i] =
        CommandChannelSetup(&g_channels[i], &g_handles[i], g_servers[i].channel_type) == 0;
  }
  if (IsRunning()) EventChannelSetup(&g_event_channel);

  // The chassis and its cards, before any command is served: a client never sees a
  // cage half installed, nor a card whose start-up writes are still going on.
  if (IsRunning()) {
    InstallCard(0, kChassisTypeId);
    ScanCardSlots();
    std::fflush(stdout);
  }

  // A stop between creating a thread and registering it for the wake-up would leave
  // that thread asleep: hold stop signals back until the table is registered.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  for (int i = 0; i < kThreadCount && IsRunning(); ++i) {
    ThreadSlot& slot = g_threads[i];
    if (slot.body == nullptr) continue;
    if (slot.body == CommandChannelThread &&
        !channel_ready[static_cast<int>(reinterpret_cast<intptr_t>(slot.argument))]) {
      continue;  // its FIFOs never opened: nothing to serve
    }
    int result = pthread_create(&slot.handle, nullptr, slot.body, slot.argument);
    if (result != 0) {
      diag_call_error(DiagCall::pthread_create, "pthread_create", result);
      return result;
    }
    slot.started = true;
    RegisterWakeThread(slot.handle);
  }
  SetStopRestart(true);
  pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);

  std::vector<SupervisedServer> watched;
  for (int i = 0; i < kServerCount; ++i) {
    watched.push_back({.name = g_servers[i].program + 1,
                       .current_pid = ServerPid,
                       .restart = RestartServer,
                       .channel_gone_fd = channel_ready[i] ? g_channels[i].gone_fd : -1,
                       .channel_awaiting =
                           channel_ready[i] ? &g_channels[i].awaiting_server : nullptr,
                       .before_restart = DropUnreadEvents,
                       .lan = g_servers[i].channel_type == 2,
                       .index = i});
  }
  watched.push_back({.name = "appweb",
                     .current_pid = WebPid,
                     .restart = RestartWeb,
                     .channel_gone_fd = -1,
                     .channel_awaiting = nullptr,
                     .before_restart = nullptr,
                     .lan = false,
                     .index = 0});
  SuperviseServers(std::move(watched));

  for (ThreadSlot& slot : g_threads) {
    if (slot.started) JoinThread(slot.handle);
  }
  for (ServerEntry& server : g_servers) WaitForChild(server.pid);

  for (CommandChannel& channel : g_channels) CommandChannelTeardown(&channel);
  EventChannelClose(&g_event_channel);
  return 0;
}
