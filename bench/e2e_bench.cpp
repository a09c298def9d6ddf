// End-to-end benchmark of a whole virtual chassis, run by hand (not by CTest). It
// starts its own chassis on free ports and measures, each against its goal:
//   - the round trip of *IDN? on the raw port and on the command port (median and
//     99th percentile), next to two yardsticks measured in the same run: a minimal
//     loopback TCP echo, and a minimal chain of the same shape as the chassis (TCP
//     client -> server process -> FIFO -> worker process -> FIFO -> back);
//     goal: median *IDN? on the raw port at most twice the minimal chain's; and the
//     same query as a VXI-11 client sends it (device_write, device_read), goal: at
//     most 1.5 times the raw port's median;
//   - the switching commands' overhead: ROUT:CLOS and ROUT:OPEN of one channel, each
//     followed by *OPC?, on the raw port, as the round trip minus the card's settle
//     time (goal: at most 3 times the *IDN? round trip), and of a 500-channel list over
//     seven cards (goal: its overhead at most 20 times the one channel's);
//   - a scan of 100 channels on one SM-MT816 with source BUS, stepped by *TRG as fast as
//     the client can send them: steps per second, and the overhead per step beyond the
//     settle waits the card requires (goal: at most 3 times the *IDN? round trip). A
//     scan with source IMMediate is not measured: an IMMediate scan steps only on TRIGger
//     or *TRG like any other, it does not run by itself;
//   - pipelined *IDN? queries per second on one connection (goal >= 25,000) and on
//     16 connections at once;
//   - idle CPU of all chassis processes over 10 s (goal < 0.5 % of one core);
//   - resident memory of each firmware process with 16 clients connected (< 6 MB).
//
// Run it pinned to one core, from a release build, for figures that compare:
//   taskset -c 0 build-release/bin/e2e_bench [--rounds N] [--pipelined N] [--idle-seconds S]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lanserver/vxi11_client.h"
#include "sim/line_client.h"
#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  int rounds = 2000;       // round trips per latency figure
  int pipelined = 40000;   // queries of the one-connection throughput run
  int idle_seconds = 10;
};

struct Latency {
  double median_us = 0;
  double p99_us = 0;
  bool ok = false;
};

// Times `rounds` calls of `round_trip` after a short warm-up.
Latency Measure(int rounds, const std::function<bool()>& round_trip) {
  Latency result;
  for (int i = 0; i < rounds / 10 + 1; ++i) {
    if (!round_trip()) return result;
  }
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (!round_trip()) return result;
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  result.median_us = samples[samples.size() / 2];
  result.p99_us = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  result.ok = true;
  return result;
}

void PrintLatency(const char* name, const Latency& latency) {
  if (!latency.ok) {
    std::printf("%-28s failed\n", name);
    return;
  }
  std::printf("%-28s median %8.1f us   p99 %8.1f us\n", name, latency.median_us, latency.p99_us);
}

void PrintGoal(const char* what, bool met) {
  std::printf("  goal: %-58s %s\n", what, met ? "met" : "NOT MET");
}

// A listening socket on a free loopback port; the port in *port.
int Listen(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

int AcceptOne(int listener) {
  int fd = accept(listener, nullptr, nullptr);
  int one = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Forks a process that runs `body` and exits.
pid_t Spawn(const std::function<void()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  return pid;
}

void Reap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// Connects to `port` and, when the port sends one (the command port), reads the
// greeting: the acknowledge bytes and the descriptor number.
bool ConnectTo(sim::LineClient* client, uint16_t port, bool greeting) {
  std::string skip;
  return client->Connect(port) &&
         (!greeting || (client->ReadExactly(2, &skip) && client->ReadLine(&skip)));
}

// Round trips of *IDN? on a new connection to `port`.
Latency MeasureIdn(uint16_t port, bool greeting, int rounds) {
  sim::LineClient client;
  if (!ConnectTo(&client, port, greeting)) return {};
  return Measure(rounds, [&client] { return !client.Query("*IDN?").empty(); });
}

// *IDN? as a VXI-11 client sends it: device_write with END, then device_read to END,
// straight to the core channel.
Latency MeasureIdnVxi11(const std::string& root, int rounds) {
  lan::Vxi11Client client;
  for (int wait = 0; wait < 100 && lan::Vxi11CorePort(root) == 0; ++wait) usleep(20000);
  if (!client.Open(lan::Vxi11CorePort(root))) return {};
  std::string response;
  return Measure(rounds, [&] { return client.Write("*IDN?") && client.Read(&response); });
}

// The default cage's relays for the switching figures: SM-RD96 channel 100 (settle
// 1 ms), and 500 channels over seven cards whose slowest settles in 4 ms. Each step
// of a commit waits once, for its slowest card; a close or an open of these BBM cards
// is one step.
constexpr double kOneChannelSettleUs = 1000;
constexpr double kListSettleUs = 4000;

std::string FiveHundredChannels() {
  std::string list = "(@1(100:1207),2(0:1507),9(0:1003),12(0:51)";  // 96 + 128 + 75 + 52
  list += ",4(";  // SM-MX12H: the low half of each multiplexer, and 5000-5007, 6000-6003
  for (int mux = 0; mux < 12; ++mux) list += std::to_string(100 * mux) + ":" + std::to_string(100 * mux + 7) + ",";
  list += "5000:5007,6000:6003)";
  list += ",3(";  // SM-MX26Q: one channel per multiplexer
  for (int mux = 0; mux < 26; ++mux) list += (mux > 0 ? "," : "") + std::to_string(10 * mux);
  list += "),8(1:12,21:23))";  // the generic card: 15 of its 24
  return list;
}

// Round trips of "ROUT:CLOS <list>;*OPC?" and "ROUT:OPEN <list>;*OPC?" in turn, so
// that every command switches; the settle wait is taken off each sample.
Latency MeasureSwitching(uint16_t port, const std::string& list, double settle_us, int rounds) {
  sim::LineClient client;
  if (!ConnectTo(&client, port, false)) return {};
  const std::string close = "ROUT:CLOS " + list + ";*OPC?";
  const std::string open = "ROUT:OPEN " + list + ";*OPC?";
  bool closing = true;
  Latency latency = Measure(rounds, [&] {
    const bool ok = client.Query(closing ? close : open) == "1";
    closing = !closing;
    return ok;
  });
  // A command the chassis refused would answer quickly and wrongly: make sure it ran.
  if (client.Query("SYST:ERR?") != "0,\"No error\"") return {};
  latency.median_us -= settle_us;
  latency.p99_us -= settle_us;
  return latency;
}

// A BUS scan of 100 channels of the SM-MT816 in slot 2 (0-7, 100-107, ..., 1200-1203).
// Each step after the first opens the previous channel and closes the next, each a
// commit that waits the card's 2 ms settle time.
constexpr double kScanStepSettleUs = 4000;

// Round trips of "*TRG;:TRIG:COUN?" with the settle waits taken off. The query only
// shows that the step has run; it reads no status byte (*ESE? would ask the server for
// them), and *OPC? would wait for the scan's end.
Latency MeasureScanSteps(uint16_t port, int rounds) {
  sim::LineClient client;
  if (!ConnectTo(&client, port, false)) return {};
  if (client.Query("TRIG:SOUR BUS;COUN MAX;:ROUT:SCAN (@2(0:1203));:INIT;:TRIG:COUN?").empty()) {
    return {};
  }
  client.Query("*TRG;:TRIG:COUN?");  // the first step closes only
  Latency latency = Measure(rounds, [&client] { return !client.Query("*TRG;:TRIG:COUN?").empty(); });
  if (client.Query("ABOR;:ROUT:SCAN:CLE;:SYST:ERR?") != "0,\"No error\"") return {};
  latency.median_us -= kScanStepSettleUs;
  latency.p99_us -= kScanStepSettleUs;
  return latency;
}

// Yardstick 1: an echo server process on loopback TCP.
Latency MeasureEcho(int rounds) {
  uint16_t port = 0;
  int listener = Listen(&port);
  if (listener < 0) return {};
  pid_t server = Spawn([listener] {
    int fd = AcceptOne(listener);
    char buffer[512];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
      if (write(fd, buffer, static_cast<size_t>(got)) != got) break;
    }
  });
  close(listener);
  Latency latency = MeasureIdn(port, false, rounds);
  Reap(server);
  return latency;
}

// Yardstick 2: the chassis' shape without its work. A server process reads a line
// from TCP, passes it through one FIFO to a worker process, which answers through a
// second FIFO with a reply as long as the identity; the server sends it back.
Latency MeasureChain(int rounds, const std::string& folder) {
  std::string to_worker = folder + "/to_worker";
  std::string to_server = folder + "/to_server";
  if (mkfifo(to_worker.c_str(), 0600) != 0 || mkfifo(to_server.c_str(), 0600) != 0) return {};
  uint16_t port = 0;
  int listener = Listen(&port);
  if (listener < 0) return {};
  pid_t worker = Spawn([&] {
    int in = open(to_worker.c_str(), O_RDONLY);
    int out = open(to_server.c_str(), O_WRONLY);
    const std::string reply = "Tellwin Instruments 4410 Switch System, 1.6.8\n";
    char buffer[512];
    while (read(in, buffer, sizeof buffer) > 0) {
      if (write(out, reply.data(), reply.size()) < 0) break;
    }
  });
  pid_t server = Spawn([&] {
    int out = open(to_worker.c_str(), O_WRONLY);
    int in = open(to_server.c_str(), O_RDONLY);
    int fd = AcceptOne(listener);
    char buffer[512];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
      if (write(out, buffer, static_cast<size_t>(got)) != got) break;
      got = read(in, buffer, sizeof buffer);
      if (got <= 0 || write(fd, buffer, static_cast<size_t>(got)) != got) break;
    }
  });
  close(listener);
  Latency latency = MeasureIdn(port, false, rounds);
  Reap(server);
  Reap(worker);
  return latency;
}

// Sends `count` *IDN? queries on `client` without waiting and reads every reply.
// False when a reply is missing.
bool Pipeline(sim::LineClient* client, int count) {
  std::atomic<bool> sent_ok{true};
  std::thread writer([&] {
    std::string batch;
    for (int i = 0; i < 100; ++i) batch += "*IDN?\n";
    for (int left = count; left > 0; left -= 100) {
      std::string_view part(batch.data(), static_cast<std::size_t>(std::min(left, 100)) * 6);
      if (!client->Send(part)) {
        sent_ok = false;
        return;
      }
    }
  });
  bool ok = true;
  std::string line;
  for (int i = 0; i < count && ok; ++i) ok = client->ReadLine(&line);
  writer.join();
  return ok && sent_ok;
}

// Queries per second over `connections` connections to `port`, `total` queries.
double Throughput(uint16_t port, bool greeting, int connections, int total) {
  std::vector<std::unique_ptr<sim::LineClient>> clients;
  for (int i = 0; i < connections; ++i) {
    clients.push_back(std::make_unique<sim::LineClient>());
    if (!ConnectTo(clients.back().get(), port, greeting)) return 0;
  }
  std::atomic<bool> ok{true};
  int each = total / connections;
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (auto& client : clients) {
    threads.emplace_back([&ok, each, raw = client.get()] {
      if (!Pipeline(raw, each)) ok = false;
    });
  }
  for (std::thread& thread : threads) thread.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ok ? each * connections / seconds : 0;
}

// utime + stime of a process, in clock ticks (all its threads).
long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t close_paren = text.rfind(')');
  if (close_paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(close_paren + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) utime = std::atoll(field.c_str());
    if (index == 15) {
      stime = std::atoll(field.c_str());
      break;
    }
  }
  return utime + stime;
}

bool ParseArguments(int argc, char** argv, Settings* settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    int value = std::atoi(argv[i + 1]);
    if (value <= 0) return false;
    if (option == "--rounds") {
      settings->rounds = value;
    } else if (option == "--pipelined") {
      settings->pipelined = value;
    } else if (option == "--idle-seconds") {
      settings->idle_seconds = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, &settings)) {
    std::fprintf(stderr, "usage: e2e_bench [--rounds N] [--pipelined N] [--idle-seconds S]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  std::string folder = sim::ProgramFolder();
  uint16_t base = sim::FindFreePortBase();
  sim::ChassisLauncher chassis;
  std::string ready;
  if (base == 0 ||
      chassis.Start(folder + "/vchassis", {"--port-base", std::to_string(base)}, "") != 0 ||
      !chassis.WaitReady(30000, &ready)) {
    std::fprintf(stderr, "e2e_bench: the virtual chassis did not start\n%s",
                 chassis.Output().c_str());
    return 1;
  }
  // vchassis made a fresh root and removes it when it stops, however the bench ends.
  const std::string root = chassis.root();
  std::printf("%s\n\n", ready.c_str());
  const uint16_t command_port = base;
  const uint16_t raw_port = static_cast<uint16_t>(base + 2);

  // Round trips.
  Latency echo = MeasureEcho(settings.rounds);
  Latency chain = MeasureChain(settings.rounds, root);
  Latency idn_raw = MeasureIdn(raw_port, false, settings.rounds);
  Latency idn_command = MeasureIdn(command_port, true, settings.rounds);
  Latency idn_vxi11 = MeasureIdnVxi11(root, settings.rounds);
  std::printf("Round trips (%d each)\n", settings.rounds);
  PrintLatency("loopback TCP echo", echo);
  PrintLatency("minimal chain", chain);
  PrintLatency("*IDN? raw port", idn_raw);
  PrintLatency("*IDN? command port", idn_command);
  PrintLatency("*IDN? VXI-11 write + read", idn_vxi11);
  char goal[128];
  std::snprintf(goal, sizeof goal, "*IDN? raw median <= 2 x chain median (%.1f us)",
                2 * chain.median_us);
  PrintGoal(goal, idn_raw.ok && chain.ok && idn_raw.median_us <= 2 * chain.median_us);
  std::snprintf(goal, sizeof goal, "*IDN? VXI-11 median <= 1.5 x raw median (%.1f us)",
                1.5 * idn_raw.median_us);
  PrintGoal(goal, idn_vxi11.ok && idn_raw.ok && idn_vxi11.median_us <= 1.5 * idn_raw.median_us);

  // Switching commands, beyond their settle waits.
  Latency one_channel = MeasureSwitching(raw_port, "(@1(100))", kOneChannelSettleUs, settings.rounds);
  Latency many_channels = MeasureSwitching(raw_port, FiveHundredChannels(), kListSettleUs,
                                           std::max(settings.rounds / 10, 20));
  std::printf("\nSwitching on the raw port, round trip minus settle time\n");
  PrintLatency("CLOS/OPEN 1 channel;*OPC?", one_channel);
  PrintLatency("CLOS/OPEN 500 chans;*OPC?", many_channels);
  std::snprintf(goal, sizeof goal, "1-channel overhead <= 3 x *IDN? raw median (%.1f us)",
                3 * idn_raw.median_us);
  PrintGoal(goal, one_channel.ok && idn_raw.ok && one_channel.median_us <= 3 * idn_raw.median_us);
  std::snprintf(goal, sizeof goal, "500-channel overhead <= 20 x 1-channel (%.1f us)",
                20 * one_channel.median_us);
  PrintGoal(goal, many_channels.ok && one_channel.ok &&
                      many_channels.median_us <= 20 * one_channel.median_us);

  // Scan steps.
  Latency scan = MeasureScanSteps(raw_port, std::max(settings.rounds / 4, 100));
  std::printf("\nBUS scan of 100 channels stepped by *TRG, round trip minus settle time\n");
  PrintLatency("*TRG;:TRIG:COUN? per step", scan);
  if (scan.ok) {
    std::printf("%-28s %10.0f steps/s\n", "steps", 1e6 / (scan.median_us + kScanStepSettleUs));
  }
  std::snprintf(goal, sizeof goal, "step overhead <= 3 x *IDN? raw median (%.1f us)",
                3 * idn_raw.median_us);
  PrintGoal(goal, scan.ok && idn_raw.ok && scan.median_us <= 3 * idn_raw.median_us);

  // Throughput.
  double one = Throughput(command_port, true, 1, settings.pipelined);
  double sixteen = Throughput(command_port, true, 16, settings.pipelined);
  std::printf("\nPipelined *IDN? (%d queries)\n", settings.pipelined);
  std::printf("%-28s %10.0f queries/s\n", "one connection", one);
  std::printf("%-28s %10.0f queries/s\n", "16 connections at once", sixteen);
  PrintGoal(">= 25,000 queries/s on one connection", one >= 25000);

  // Memory with 16 clients connected.
  std::vector<std::unique_ptr<sim::LineClient>> clients;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(std::make_unique<sim::LineClient>());
    if (!clients.back()->Connect(command_port) || clients.back()->Query("*IDN?").empty()) break;
  }
  std::printf("\nResident memory with %zu clients connected\n", clients.size());
  std::vector<pid_t> firmware = sim::ChassisProcesses(root);
  bool small = !firmware.empty();
  for (pid_t pid : firmware) {
    std::string name;
    long kb = sim::ResidentKb(pid, &name);
    std::printf("%-28s %8ld kB\n", name.c_str(), kb);
    small = small && kb < 6 * 1024;
  }
  PrintGoal("each firmware process < 6 MB resident", small);
  clients.clear();

  // Idle CPU of the whole chassis, vchassis included.
  std::vector<pid_t> all = firmware;
  all.push_back(chassis.pid());
  long long before = 0, after = 0;
  for (pid_t pid : all) before += CpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(settings.idle_seconds));
  for (pid_t pid : all) after += CpuTicks(pid);
  double percent = 100.0 * static_cast<double>(after - before) /
                   static_cast<double>(sysconf(_SC_CLK_TCK) * settings.idle_seconds);
  std::printf("\nIdle CPU over %d s\n%-28s %8.2f %% of one core\n", settings.idle_seconds,
              "whole chassis", percent);
  PrintGoal("idle CPU < 0.5 % of one core", percent < 0.5);

  int status = chassis.Stop(10000);
  return status == 0 ? 0 : 1;
}
