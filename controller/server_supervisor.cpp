// The controller's watch over its server programs (see server_supervisor.h).
#include "controller/server_supervisor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/diag_print.h"
#include "core/run_state.h"
#include "hardware/event_log.h"
#include "lan/lan_config.h"

namespace {

constexpr const char* kSource = "_exec/instctl";

using Clock = std::chrono::steady_clock;

// A server that ended as a stop ends it waits this long for the controller's own stop.
constexpr std::chrono::milliseconds kStopGrace{500};

enum class Watch {
  kRunning,     // serving, or stopped on purpose (its pid then reads 0)
  kRestarting,  // ended; waits for its channel, or for the grace
  kLeftStopped,
};

struct Watched {
  SupervisedServer server{};
  Watch watch = Watch::kRunning;
  RestartBudget budget;
  pid_t ended_pid = 0;
  std::string how;              // how it ended, for the event log
  bool channel_gone = false;    // its channel has dropped what the dead server left
  Clock::time_point not_before; // the grace of a stop-like end
};

void Log(const std::string& text) {
  LogEvent(text.c_str());
  std::printf("instctl: %s\n", text.c_str());
  std::fflush(stdout);
}

// Drains an eventfd; true when it had been signalled.
bool TakeEvent(int fd) {
  uint64_t count = 0;
  return read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && count > 0;
}

void OnEnded(Watched* watched, pid_t pid, int status) {
  watched->ended_pid = pid;
  watched->how = DescribeEnd(status);
  const std::string name = watched->server.name;
  if (!watched->budget.Allow(Clock::now())) {
    watched->watch = Watch::kLeftStopped;
    Log("Server " + name + " ended (" + watched->how + ") " +
        std::to_string(RestartBudget::kMostRestarts + 1) + " times within a minute, left stopped");
    if (watched->server.lan) ShowLanServerStopped();
    return;
  }
  watched->watch = Watch::kRestarting;
  const bool stop_like =
      (WIFEXITED(status) && WEXITSTATUS(status) == 0) ||
      (WIFSIGNALED(status) && (WTERMSIG(status) == SIGTERM || WTERMSIG(status) == SIGINT));
  watched->not_before = Clock::now() + (stop_like ? kStopGrace : Clock::duration::zero());
}

bool ReadyToRestart(const Watched& watched) {
  return watched.watch == Watch::kRestarting &&
         (watched.server.channel_gone_fd < 0 || watched.channel_gone ||
          (watched.server.channel_awaiting != nullptr && watched.server.channel_awaiting->load())) &&
         Clock::now() >= watched.not_before;
}

void Restart(Watched* watched) {
  const SupervisedServer& server = watched->server;
  watched->watch = Watch::kRunning;
  watched->channel_gone = false;
  // A signal left from an end that the restart no longer waits for (the channel was
  // waiting already) must not let the next end's restart go before its drop.
  if (server.channel_gone_fd >= 0) TakeEvent(server.channel_gone_fd);
  if (server.before_restart != nullptr) server.before_restart(server.index);
  const std::string start = std::string("Server ") + server.name + " ended (" + watched->how + ")";
  if (server.restart(server.index, watched->ended_pid)) {
    Log(start + ", restarted");
  } else {
    Log(start + ", could not be restarted");
  }
}

// Reaps every ended child of this thread; the servers' ends start their restarts,
// other children (orphans the controller inherited) are only reaped.
void Reap(std::vector<Watched>* all) {
  int status = 0;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG | __WNOTHREAD)) > 0) {
    for (Watched& watched : *all) {
      if (watched.watch == Watch::kRunning &&
          watched.server.current_pid(watched.server.index) == pid) {
        OnEnded(&watched, pid, status);
        break;
      }
    }
  }
}

}  // namespace

bool RestartBudget::Allow(Clock::time_point now) {
  while (!restarts_.empty() && now - restarts_.front() >= kWindow) restarts_.pop_front();
  if (static_cast<int>(restarts_.size()) >= kMostRestarts) return false;
  restarts_.push_back(now);
  return true;
}

std::string DescribeEnd(int status) {
  char text[96];
  if (WIFEXITED(status)) {
    std::snprintf(text, sizeof text, "exited with status %d", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    const char* name = sigabbrev_np(WTERMSIG(status));
    std::snprintf(text, sizeof text, "killed by signal %d%s%s", WTERMSIG(status),
                  name != nullptr ? " SIG" : "", name != nullptr ? name : "");
  } else {
    std::snprintf(text, sizeof text, "wait status 0x%x", static_cast<unsigned>(status));
  }
  return text;
}

void SuperviseServers(std::vector<SupervisedServer> servers) {
  sigset_t child;
  sigemptyset(&child);
  sigaddset(&child, SIGCHLD);
  const int child_fd = signalfd(-1, &child, SFD_CLOEXEC | SFD_NONBLOCK);
  const int stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (child_fd < 0 || stop_fd < 0 || RegisterWakeFd(stop_fd) != 0) {
    diag_error_line(kSource, "SuperviseServers", __LINE__, "cannot watch the servers: %s\n",
                    std::strerror(errno));
    if (child_fd >= 0) close(child_fd);
    if (stop_fd >= 0) close(stop_fd);
    return;
  }
  std::vector<Watched> all;
  for (const SupervisedServer& server : servers) {
    Watched watched;
    watched.server = server;
    all.push_back(watched);
  }

  // Ends that came before the watch began wait as pending SIGCHLD, or as zombies.
  Reap(&all);
  while (IsRunning()) {
    std::vector<pollfd> waits = {{child_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    std::vector<Watched*> waiting_channel;
    int timeout_ms = -1;
    for (Watched& watched : all) {
      if (watched.watch != Watch::kRestarting) continue;
      if (watched.server.channel_gone_fd >= 0 && !watched.channel_gone) {
        waits.push_back({watched.server.channel_gone_fd, POLLIN, 0});
        waiting_channel.push_back(&watched);
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          watched.not_before - Clock::now());
      const int ms = left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
      timeout_ms = timeout_ms < 0 ? ms : std::min(timeout_ms, ms);
    }
    if (poll(waits.data(), waits.size(), timeout_ms) < 0 && errno != EINTR) {
      diag_error_line(kSource, "SuperviseServers", __LINE__, "poll: %s\n", std::strerror(errno));
      break;
    }
    if (!IsRunning()) break;
    signalfd_siginfo info;
    while (read(child_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    Reap(&all);
    for (std::size_t i = 0; i < waiting_channel.size(); ++i) {
      if ((waits[i + 2].revents & POLLIN) != 0 && TakeEvent(waits[i + 2].fd)) {
        waiting_channel[i]->channel_gone = true;
      }
    }
    for (Watched& watched : all) {
      if (IsRunning() && ReadyToRestart(watched)) Restart(&watched);
    }
  }
  close(child_fd);
  // stop_fd stays open: the stop may still write to it.
}
