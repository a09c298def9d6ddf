// Load and fault harness for a running chassis. It starts its own virtual chassis on
// free ports (or talks to one given by --host and --port-base) and runs N well-behaved
// clients at once, half on the command port and half on the raw port, each sending a
// bounded mix of program messages that touch every subsystem: its own status bytes
// (*ESE, *SRE, *STB?, *ESR?), its own error queue (SYST:ERR? after a deliberate error
// of its own kind), the identity, the event log, local-bus reads and module lists;
// command-port clients also hold an event registration. It checks that every reply
// arrives exactly once, on the right connection and in order, and that each client's
// error queue and status bytes are its own. With --faults it runs, at the same time,
// a client that leaves before its replies, one that never reads, one that floods
// without a line feed and one that opens 200 connections at once.
//
// It prints messages per second, the largest reply latency and the resident memory of
// each firmware process at start, at its peak and at the end, with the end's ratio to
// the start, and exits nonzero on any
// mismatch (never on a figure: the figures are a report).
//   load_test [--clients N] [--messages M] [--window W] [--faults] [--flood-mb MB]
//             [--host H --port-base B [--root R]]
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/line_client.h"
#include "sim/vchassis_host.h"
#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long any one reply may take before the harness calls it missing. A bound on a
// hang, not a speed goal.
constexpr int kReplyWaitMs = 60000;
constexpr const char* kNoError = "0,\"No error\"";

struct Settings {
  int clients = 64;
  int messages = 200;  // lines each client sends
  int window = 4;      // lines a client may have sent ahead of its replies
  bool faults = false;
  int flood_mb = 50;
  std::string host = "127.0.0.1";
  int port_base = 0;  // 0: start an own virtual chassis
  std::string root;   // the chassis root, for memory figures and the bus clients
};

// The chassis' TCP client, with the longer waits of a loaded chassis.
class Connection : public sim::LineClient {
 public:
  bool Open(const std::string& host, uint16_t port, int receive_buffer = 0) {
    return Connect(host, port, receive_buffer);
  }
  bool ReadLine(std::string* line, int timeout_ms = kReplyWaitMs) {
    return LineClient::ReadLine(line, timeout_ms);
  }
  bool ReadExactly(std::size_t count, std::string* out, int timeout_ms = kReplyWaitMs) {
    return LineClient::ReadExactly(count, out, timeout_ms);
  }
};

// What the chassis answers to the shared queries, learned from it before the run, and
// the deliberate errors the clients make: the line, the queue entry it leaves and the
// standard event status bit it sets.
struct Reference {
  std::string identity;
  std::string event_count;
  std::string first_event;  // empty when the log is empty
  std::vector<std::pair<int, std::string>> local_bus;     // slot, reply of DIAG:LBUS:READ?
  std::vector<std::pair<int, std::string>> module_lists;  // slot, SYST:MOD:CHAN:LIST?
  struct Error {
    std::string line;
    std::string entry;
    int esr_bit;
  };
  std::vector<Error> errors;
};

// Sends `query` and a sentinel *IDN?: the query's reply, or false when it had none
// (it failed; its error is taken out of the queue). No wait on silence is needed.
bool QueryOrNothing(Connection& c, const std::string& identity, const std::string& query,
                    std::string* reply) {
  std::string line;
  if (!c.Send(query + "\n*IDN?\n") || !c.ReadLine(&line)) return false;
  if (line == identity) {
    c.Send("SYST:ERR?\n");
    c.ReadLine(&line);
    return false;
  }
  *reply = line;
  std::string sentinel, error;
  return c.ReadLine(&sentinel) && sentinel == identity && c.Send("SYST:ERR?\n") &&
         c.ReadLine(&error) && error == kNoError;
}

bool Learn(const Settings& settings, uint16_t raw_port, Reference* reference) {
  Connection c;
  if (!c.Open(settings.host, raw_port)) return false;
  std::string line;
  auto ask = [&](const std::string& query, std::string* reply) {
    return c.Send(query + "\n") && c.ReadLine(reply);
  };
  // The first *ESR? anywhere reports power-on: taken here, before the clients start.
  if (!ask("*IDN?", &reference->identity) || !ask("*ESR?", &line) ||
      !ask("SYST:EVEN:COUN?", &reference->event_count)) {
    return false;
  }
  if (std::atoi(reference->event_count.c_str()) > 0 &&
      !ask("SYST:EVEN? 1", &reference->first_event)) {
    return false;
  }
  for (int slot = 0; slot <= 12; ++slot) {
    std::string reply;
    if (QueryOrNothing(c, reference->identity, "DIAG:LBUS:READ? " + std::to_string(slot) + ",1",
                       &reply)) {
      reference->local_bus.emplace_back(slot, reply);
    }
    if (QueryOrNothing(c, reference->identity, "SYST:MOD:CHAN:LIST? " + std::to_string(slot),
                       &reply)) {
      reference->module_lists.emplace_back(slot, reply);
    }
  }
  // Errors of four kinds: an unknown header, a value out of range, a missing value,
  // and a byte the pipe protocol reserves (refused by the server itself). The slots
  // that answered nothing above left their bits in ESR: cleared first.
  if (!ask("*ESR?", &line)) return false;
  for (const char* error : {"NO:SUCH:NODE", "*ESE 300", "*ESE", "*ESE 1\x01" "2"}) {
    Reference::Error entry{error, "", 0};
    std::string esr;
    if (!c.Send(entry.line + "\n") || !ask("SYST:ERR?", &entry.entry) ||
        !ask("*ESR?", &esr) || !ask("SYST:ERR?", &line) || line != kNoError) {
      return false;
    }
    entry.esr_bit = std::atoi(esr.c_str()) & 0x7F;
    if (entry.entry == kNoError || entry.esr_bit == 0) return false;
    reference->errors.push_back(entry);
  }
  return !reference->local_bus.empty() && !reference->module_lists.empty();
}

// What one client saw.
struct ClientResult {
  uint64_t lines = 0;
  uint64_t replies = 0;
  uint64_t mismatches = 0;
  std::vector<double> latencies_ms;
  std::string first_problem;
};

void Problem(ClientResult* result, const std::string& text) {
  ++result->mismatches;
  if (result->first_problem.empty()) result->first_problem = text;
}

// A well-behaved client's script: its own ESE and SRE, then cycles of queries whose
// replies it predicts from the reference and its own state.
class Script {
 public:
  Script(const Reference& reference, int id)
      : reference_(reference),
        id_(id),
        ese_(1 + id % 255),  // unique per client (up to 255), some with bit 5 (errors)
        // Only bits whose part in the status byte the script predicts: the summary bit
        // (5) and three the chassis leaves clear; message available (4) would raise a
        // service request as each reply is made.
        sre_((id * 37 + 11) % 256 & 0x27) {}

  // The next line and, when it is answered, the reply expected.
  std::string Next(std::string* expected, bool* answered) {
    *answered = true;
    if (step_ == 0) {
      ++step_;
      *expected = std::to_string(ese_) + ";" + std::to_string(sre_);
      return "*ESE " + std::to_string(ese_) + ";*SRE " + std::to_string(sre_) + ";*ESE?;*SRE?";
    }
    const int cycle = (step_ - 1) / kCycle;
    const int at = (step_ - 1 + id_) % kCycle;  // clients are out of step with each other
    ++step_;
    const auto& bus = reference_.local_bus[static_cast<std::size_t>(cycle + id_) %
                                           reference_.local_bus.size()];
    const auto& list = reference_.module_lists[static_cast<std::size_t>(cycle * 3 + id_) %
                                               reference_.module_lists.size()];
    const Reference::Error& error =
        reference_.errors[static_cast<std::size_t>(id_) % reference_.errors.size()];
    switch (at) {
      case 0:
        *expected = reference_.identity;
        return "*IDN?";
      case 1:
        *expected = std::to_string(ese_) + ";" + std::to_string(sre_);
        return "*ESE?;*SRE?";
      case 2:
        *expected = bus.second;
        return "DIAG:LBUS:READ? " + std::to_string(bus.first) + ",1";
      case 3:
        *expected = list.second;
        return "SYST:MOD:CHAN:LIST? " + std::to_string(list.first);
      case 4:
        *expected = reference_.event_count;
        return "SYST:EVEN:COUN?";
      case 5:
        if (reference_.first_event.empty()) {
          *expected = reference_.identity;
          return "*IDN?";
        }
        *expected = reference_.first_event;
        return "SYST:EVEN? 1";
      case 6:
        *answered = false;
        esr_ |= error.esr_bit;
        errors_.push_back(error.entry);
        return error.line;
      case 7:
        *expected = std::to_string(StatusByte());
        return "*STB?";
      case 8:
      case 9:
        if (errors_.empty()) {
          *expected = kNoError;
        } else {
          *expected = errors_.front();
          errors_.pop_front();
        }
        return "SYST:ERR?";
      case 10:
        *expected = std::to_string(esr_);
        esr_ = 0;
        return "*ESR?";
      default:
        *expected = std::to_string(StatusByte());
        return "*STB?";
    }
  }
  // The last check: the client's own bytes, once more.
  std::string Final(std::string* expected) const {
    *expected = std::to_string(ese_) + ";" + std::to_string(sre_);
    return "*ESE?;*SRE?";
  }
  static bool MasksPowerOn(const std::string& line) { return line == "*ESR?"; }

 private:
  static constexpr int kCycle = 12;
  // The summary bit follows ESR & ESE, the service request bit follows it and SRE.
  int StatusByte() const {
    int esb = (esr_ & ese_) != 0 ? 0x20 : 0;
    return esb | ((esb & sre_) != 0 ? 0x40 : 0);
  }

  const Reference& reference_;
  int id_;
  int ese_;
  int sre_;
  int esr_ = 0;
  std::deque<std::string> errors_;
  int step_ = 0;
};

// Registers an event socket for command connection `number`.
bool RegisterEvents(Connection& events, const std::string& host, uint16_t port, int number) {
  std::string ack;
  return events.Open(host, port) && events.ReadExactly(2, &ack) && ack == "\x06\n" &&
         events.Send(std::to_string(number) + "\n") && events.ReadExactly(2, &ack) &&
         ack == "\x06\n" && events.Send("1") && events.ReadExactly(2, &ack) && ack == "\x06\n";
}

void RunClient(const Settings& settings, const Reference& reference, int id,
               ClientResult* result) {
  const bool command = id % 2 == 0;
  const uint16_t port = static_cast<uint16_t>(settings.port_base + (command ? 0 : 2));
  Connection c;
  Connection events;
  if (!c.Open(settings.host, port)) {
    Problem(result, "could not connect");
    return;
  }
  if (command) {
    std::string ack, number;
    if (!c.ReadExactly(2, &ack) || ack != "\x06\n" || !c.ReadLine(&number)) {
      Problem(result, "no greeting");
      return;
    }
    if (!RegisterEvents(events, settings.host, static_cast<uint16_t>(settings.port_base + 1),
                        std::atoi(number.c_str()))) {
      Problem(result, "event registration failed");
    }
  }
  Script script(reference, id);
  struct Waiting {
    std::string expected;
    std::string line;
    Clock::time_point sent;
  };
  std::deque<Waiting> waiting;
  int sent = 0;
  bool finished = false;
  while (!finished || !waiting.empty()) {
    if (!finished && static_cast<int>(waiting.size()) < settings.window) {
      std::string expected;
      bool answered = true;
      std::string line;
      if (sent < settings.messages) {
        line = script.Next(&expected, &answered);
        ++sent;
      } else {
        line = script.Final(&expected);
        finished = true;
      }
      if (!c.Send(line + "\n")) {
        Problem(result, "send failed");
        return;
      }
      ++result->lines;
      if (answered) waiting.push_back({expected, line, Clock::now()});
      continue;
    }
    std::string reply;
    if (!c.ReadLine(&reply)) {
      Problem(result, "no reply to \"" + waiting.front().line + "\"");
      return;
    }
    const Waiting& front = waiting.front();
    result->latencies_ms.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - front.sent).count());
    ++result->replies;
    if (Script::MasksPowerOn(front.line)) {
      reply = std::to_string(std::atoi(reply.c_str()) & 0x7F);
    }
    if (reply != front.expected) {
      Problem(result, "\"" + front.line + "\" answered \"" + reply.substr(0, 80) +
                          "\", expected \"" + front.expected.substr(0, 80) + "\"");
    }
    waiting.pop_front();
  }
}

// A client on the GPIB or USB bus: its own ESE and an error of its own, lock-step.
void RunBusClient(sim::HostBus bus, int messages, int ese, ClientResult* result) {
  auto ask = [&](const std::string& line, const std::string& expected) {
    std::string reply;
    auto start = Clock::now();
    ++result->lines;
    if (sim::HostSend(bus, line, kReplyWaitMs, &reply) != 0) {
      Problem(result, "no reply to \"" + line + "\"");
      return false;
    }
    if (expected.empty()) return true;
    ++result->replies;
    result->latencies_ms.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (reply != expected + "\n") Problem(result, "\"" + line + "\" answered \"" + reply + "\"");
    return true;
  };
  if (!ask("*ESE " + std::to_string(ese) + ";*ESE?", std::to_string(ese))) return;
  for (int i = 0; i < messages; i += 4) {
    if (!ask("*ESE?", std::to_string(ese)) || !ask("*ESE 300", "") ||
        !ask("SYST:ERR?", "-222,\"Data out of range\"") || !ask("SYST:ERR?", kNoError)) {
      return;
    }
  }
}

// The misbehaving clients of --faults, and what became of them.
struct FaultReport {
  std::atomic<int> leavers{0};
  std::atomic<uint64_t> unread_queries{0};
  std::atomic<bool> flooder_served{false};
  std::atomic<uint64_t> flooded{0};
  double opener_ms = 0;
  std::atomic<int> opener_answered{0};
  std::atomic<int> opener_opened{0};
};

// Connects, asks for a long reply and leaves without reading it, again and again.
void Leaver(const Settings& s, const std::atomic<bool>& stop, FaultReport* report) {
  for (int i = 0; i < 2000 && !stop; ++i) {
    Connection c;
    const uint16_t port = static_cast<uint16_t>(s.port_base + (i % 2 == 0 ? 0 : 2));
    if (!c.Open(s.host, port)) continue;
    c.Send("SYST:MOD:CHAN:LIST? 4;*IDN?\n*IDN?\n");
    report->leavers++;
  }
}

// Sends queries with long replies and never reads one, until the run ends.
void NeverReader(const Settings& s, const std::atomic<bool>& stop, FaultReport* report) {
  Connection c;
  if (!c.Open(s.host, static_cast<uint16_t>(s.port_base + 2), 4096)) return;
  fcntl(c.fd(), F_SETFL, fcntl(c.fd(), F_GETFL) | O_NONBLOCK);
  const std::string query = "SYST:MOD:CHAN:LIST? 4\n";
  while (!stop) {
    ssize_t sent = send(c.fd(), query.data(), query.size(), MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(query.size())) {
      report->unread_queries++;
    } else {
      std::this_thread::sleep_for(20ms);  // held back by the server: it reads no more
    }
  }
}

// Floods without a line feed, then ends the line and asks to be served again.
void Flooder(const Settings& s, FaultReport* report) {
  Connection c;
  std::string skip;
  if (!c.Open(s.host, static_cast<uint16_t>(s.port_base)) || !c.ReadExactly(2, &skip) ||
      !c.ReadLine(&skip)) {
    return;
  }
  const std::string piece(65536, 'x');
  const uint64_t total = static_cast<uint64_t>(s.flood_mb) << 20;
  while (report->flooded < total && c.Send(piece)) report->flooded += piece.size();
  std::string line;
  // The cut line is refused by the engine; the identity follows.
  report->flooder_served =
      c.Send("\n*IDN?\n") && c.ReadLine(&line) && !line.empty() && line.find("Tellwin") == 0;
}

// Opens 200 raw connections at once, then asks each for the identity.
void Opener(const Settings& s, const std::string& identity, FaultReport* report) {
  constexpr int kConnections = 200;
  std::vector<std::unique_ptr<Connection>> connections;
  auto start = Clock::now();
  for (int i = 0; i < kConnections; ++i) {
    auto c = std::make_unique<Connection>();
    if (c->Open(s.host, static_cast<uint16_t>(s.port_base + 2))) {
      connections.push_back(std::move(c));
    }
  }
  report->opener_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  report->opener_opened = static_cast<int>(connections.size());
  for (auto& c : connections) c->Send("*IDN?\n");
  for (auto& c : connections) {
    std::string line;
    if (c->ReadLine(&line) && line == identity) report->opener_answered++;
  }
}

// VmRSS in kB of the firmware processes of `root`, by program name.
std::map<std::string, long> Resident(const std::string& root) {
  std::map<std::string, long> sizes;
  if (root.empty()) return sizes;
  for (pid_t pid : sim::ChassisProcesses(root)) {
    std::string name;
    const long kb = sim::ResidentKb(pid, &name);
    if (name == "instctl" || name == "lanlink" || name == "buslink" || name == "usblink" ||
        name == "weblink") {
      sizes[name] = kb;
    }
  }
  return sizes;
}

bool ParseArguments(int argc, char** argv, Settings* s) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--faults") {
      s->faults = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    int number = std::atoi(value.c_str());
    if (option == "--host") {
      s->host = value;
    } else if (option == "--root") {
      s->root = value;
    } else if (number <= 0) {
      return false;
    } else if (option == "--clients") {
      s->clients = number;
    } else if (option == "--messages") {
      s->messages = number;
    } else if (option == "--window") {
      s->window = number;
    } else if (option == "--flood-mb") {
      s->flood_mb = number;
    } else if (option == "--port-base") {
      s->port_base = number;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArguments(argc, argv, &settings)) {
    std::fprintf(stderr,
                 "usage: load_test [--clients N] [--messages M] [--window W] [--faults]\n"
                 "                 [--flood-mb MB] [--host H --port-base B [--root R]]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  sim::ChassisLauncher chassis;
  const bool own = settings.port_base == 0;
  if (own) {
    uint16_t base = sim::FindFreePortBase();
    std::string ready;
    if (base == 0 ||
        chassis.Start(sim::ProgramFolder() + "/vchassis", {"--port-base", std::to_string(base)},
                      "") != 0 ||
        !chassis.WaitReady(60000, &ready)) {
      std::fprintf(stderr, "load_test: the virtual chassis did not start\n%s",
                   chassis.Output().c_str());
      return 1;
    }
    settings.port_base = base;
    settings.root = chassis.root();
    std::printf("%s\n", ready.c_str());
  }
  // The bus clients reach the chassis' simulated devices through its root.
  if (!settings.root.empty()) setenv("CHASSIS_ROOT", settings.root.c_str(), 1);
  const uint16_t raw_port = static_cast<uint16_t>(settings.port_base + 2);

  Reference reference;
  if (!Learn(settings, raw_port, &reference)) {
    std::fprintf(stderr, "load_test: could not learn the chassis' replies\n");
    if (own) std::fprintf(stderr, "%s", chassis.Output().c_str());
    return 1;
  }
  std::printf("load_test: %d clients x %d messages on ports %d (commands) and %d (raw)%s\n",
              settings.clients, settings.messages, settings.port_base, raw_port,
              settings.faults ? ", with faults" : "");

  const std::map<std::string, long> start_memory = Resident(settings.root);
  std::map<std::string, long> peak_memory = start_memory;
  std::mutex peak_lock;
  std::atomic<bool> stop{false};
  std::thread sampler([&] {
    while (!stop) {
      std::map<std::string, long> now = Resident(settings.root);
      std::lock_guard<std::mutex> hold(peak_lock);
      for (const auto& [name, kb] : now) peak_memory[name] = std::max(peak_memory[name], kb);
      std::this_thread::sleep_for(50ms);
    }
  });

  FaultReport faults;
  std::atomic<bool> faults_stop{false};
  std::vector<std::thread> fault_threads;
  if (settings.faults) {
    fault_threads.emplace_back([&] { Leaver(settings, faults_stop, &faults); });
    fault_threads.emplace_back([&] { NeverReader(settings, faults_stop, &faults); });
    fault_threads.emplace_back([&] { Flooder(settings, &faults); });
    fault_threads.emplace_back([&] { Opener(settings, reference.identity, &faults); });
  }

  std::vector<ClientResult> results(static_cast<std::size_t>(settings.clients) + 2);
  std::vector<std::thread> threads;
  auto begin = Clock::now();
  for (int id = 0; id < settings.clients; ++id) {
    threads.emplace_back([&, id] {
      RunClient(settings, reference, id, &results[static_cast<std::size_t>(id)]);
    });
  }
  const bool buses = !settings.root.empty();
  if (buses) {
    const int bus_messages = std::max(8, settings.messages / 10);
    threads.emplace_back([&results, bus_messages] {
      RunBusClient(sim::HostBus::kGpib, bus_messages, 101, &results[results.size() - 2]);
    });
    threads.emplace_back([&results, bus_messages] {
      RunBusClient(sim::HostBus::kUsb, bus_messages, 102, &results[results.size() - 1]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  faults_stop = true;
  for (std::thread& thread : fault_threads) thread.join();

  // After the faults: a fresh client is still served.
  bool served_after = false;
  {
    Connection c;
    std::string line;
    served_after = c.Open(settings.host, raw_port) && c.Send("*IDN?\n") && c.ReadLine(&line) &&
                   line == reference.identity;
  }
  std::this_thread::sleep_for(500ms);  // the server frees the clients that left
  stop = true;
  sampler.join();
  const std::map<std::string, long> end_memory = Resident(settings.root);

  uint64_t lines = 0, replies = 0, mismatches = 0;
  std::vector<double> latencies;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const ClientResult& r = results[i];
    lines += r.lines;
    replies += r.replies;
    mismatches += r.mismatches;
    latencies.insert(latencies.end(), r.latencies_ms.begin(), r.latencies_ms.end());
    if (!r.first_problem.empty()) {
      std::printf("  client %zu: %llu mismatch(es), first: %s\n", i,
                  static_cast<unsigned long long>(r.mismatches), r.first_problem.c_str());
    }
  }
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
  const double largest = latencies.empty() ? 0 : latencies.back();
  const double rate = seconds > 0 ? static_cast<double>(lines) / seconds : 0;
  std::printf("messages           %llu sent, %llu replies, %llu mismatches%s\n",
              static_cast<unsigned long long>(lines), static_cast<unsigned long long>(replies),
              static_cast<unsigned long long>(mismatches), buses ? " (GPIB and USB included)" : "");
  std::printf("throughput         %.0f messages/s over %.2f s\n", rate, seconds);
  std::printf("reply latency      median %.2f ms, largest %.2f ms\n", median, largest);
  if (settings.faults) {
    std::printf("faults             %d connections left before their replies; "
                "%llu queries sent by a client that never reads;\n",
                faults.leavers.load(), static_cast<unsigned long long>(faults.unread_queries));
    std::printf("                   %llu MB flooded without line feed, flooder served after: %s;\n",
                static_cast<unsigned long long>(faults.flooded >> 20),
                faults.flooder_served ? "yes" : "no");
    std::printf("                   %d of 200 connections opened in %.0f ms, %d answered\n",
                faults.opener_opened.load(), faults.opener_ms, faults.opener_answered.load());
  }
  std::printf("served afterwards  %s\n", served_after ? "yes" : "NO");
  if (!start_memory.empty()) {
    std::printf("resident memory    %-8s %10s %10s %10s %10s\n", "", "start kB", "peak kB", "end kB",
                "end/start");
    for (const auto& [name, kb] : start_memory) {
      const long end = end_memory.count(name) ? end_memory.at(name) : 0L;
      std::printf("                   %-8s %10ld %10ld %10ld %10.3f\n", name.c_str(), kb,
                  peak_memory[name], end, kb > 0 ? static_cast<double>(end) / static_cast<double>(kb) : 0.0);
    }
  }
  const double long_lines = 64.0 * 15625;
  std::printf("long run           load_test --clients 64 --messages 15625 --faults "
              "(about %.0f messages, %.0f s at this rate)\n",
              long_lines, rate > 0 ? long_lines / rate : 0);

  bool ok = mismatches == 0 && served_after;
  if (settings.faults) ok = ok && faults.opener_answered == faults.opener_opened;
  if (own) {
    int status = chassis.Stop(20000);
    const std::string output = chassis.Output();
    for (const char* finding : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                "runtime error:", "WARNING: ThreadSanitizer"}) {
      if (output.find(finding) != std::string::npos) {
        std::printf("chassis output holds \"%s\"\n%s\n", finding, output.c_str());
        ok = false;
      }
    }
    if (status != 0) {
      std::printf("the virtual chassis did not stop cleanly (%d)\n", status);
      ok = false;
    }
  }
  std::printf("result             %s\n", ok ? "every reply arrived, once, in order" : "FAILED");
  return ok ? 0 : 1;
}
