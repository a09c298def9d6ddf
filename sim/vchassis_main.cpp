// vchassis: the virtual chassis program. `vchassis run` starts a chassis and its
// firmware on this PC; the other subcommands act as the GPIB bus controller or the USB
// host of a running chassis, named by its root, or act on its hardware through its
// control device.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

#include "sim/chassis_description.h"
#include "sim/vchassis_control.h"
#include "sim/vchassis_host.h"
#include "sim/vchassis_root.h"
#include "sim/vchassis_run.h"
#include "sim/vchassis_watch.h"

namespace {

constexpr int kDefaultTimeoutS = 5;

// The subcommands vchassis itself carries out; the control subcommands come from the
// control table.
struct OwnUsage {
  const char* name;
  const char* text;
};
constexpr OwnUsage kOwnUsage[] = {
    {"run",
     "vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]\n"
     "         starts a virtual chassis and its firmware; Ctrl-C stops it\n"},
    {"gpib",
     "vchassis gpib send \"<message>\" [--timeout S] [--root DIR]\n"
     "       vchassis gpib poll [--root DIR]\n"
     "       vchassis gpib wait-srq [--timeout S] [--root DIR]\n"
     "         the GPIB bus controller: send a program message and print the reply,\n"
     "         serial-poll the status byte, wait for a service request\n"},
    {"usb",
     "vchassis usb send \"<message>\" [--timeout S] [--root DIR]\n"
     "         the USB host: send a program message and print the reply\n"},
    {"watch",
     "vchassis watch [--once] [--root DIR]\n"
     "         a live view of the cage: each slot's energised relays or ports, the fans,\n"
     "         the LAN and the trigger output; Ctrl-C ends it (--once: one frame)\n"},
    {"help", "vchassis help SUBCOMMAND\n         how to use one subcommand\n"},
};

void FullUsage(FILE* out) {
  std::fprintf(out, "usage: ");
  for (const OwnUsage& own : kOwnUsage) {
    std::fprintf(out, "%s%s", &own == kOwnUsage ? "" : "       ", own.text);
  }
  std::fprintf(out,
               "%s"
               "Without --chassis, run takes the cards from %s beside the program.\n"
               "Without --root the other subcommands use the chassis CHASSIS_ROOT names.\n",
               sim::ControlUsage().c_str(), sim::kDefaultChassisFile);
}

// The usage of the subcommand `words` name, or empty when they name none.
std::string SubcommandUsage(const std::vector<std::string>& words) {
  if (words.empty()) return "";
  for (const OwnUsage& own : kOwnUsage) {
    if (words[0] == own.name) return std::string("usage: ") + own.text;
  }
  return sim::ControlSubcommandUsage(words);
}

// A wrong invocation: one line saying what is wrong, then how the subcommand is used
// (or every subcommand, when none was named). Exit status 2.
int Wrong(const std::string& what, const std::vector<std::string>& words) {
  std::fprintf(stderr, "vchassis: %s\n", what.c_str());
  const std::string usage = SubcommandUsage(words);
  if (usage.empty()) {
    FullUsage(stderr);
  } else {
    std::fputs(usage.c_str(), stderr);
  }
  return 2;
}

struct Arguments {
  std::vector<std::string> words;  // subcommand words and the message, in order
  bool help = false;               // --help or -h
  bool once = false;               // --once (watch)
  std::string wrong;               // what was wrong with the options, if anything
  std::string root;
  std::string bind = "127.0.0.1";
  std::string chassis;
  long port_base = 4444;
  long timeout_s = kDefaultTimeoutS;
};

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  long number = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < low || number > high) return false;
  *value = number;
  return true;
}

void Parse(int argc, char** argv, Arguments* out) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    bool has_value = i + 1 < argc;
    if (word == "--root" && has_value) {
      out->root = argv[++i];
    } else if (word == "--bind" && has_value) {
      out->bind = argv[++i];
      in_addr address{};
      if (inet_pton(AF_INET, out->bind.c_str(), &address) != 1) {
        out->wrong = "--bind wants an IPv4 address";
      }
    } else if (word == "--chassis" && has_value) {
      out->chassis = argv[++i];
    } else if (word == "--port-base" && has_value) {
      if (!ParseNumber(argv[++i], 1, 65533, &out->port_base)) {
        out->wrong = "--port-base wants a number from 1 to 65533";
      }
    } else if (word == "--timeout" && has_value) {
      if (!ParseNumber(argv[++i], 0, 86400, &out->timeout_s)) {
        out->wrong = "--timeout wants seconds from 0 to 86400";
      }
    } else if (word == "--help" || word == "-h") {
      out->help = true;
    } else if (word == "--once") {
      out->once = true;
    } else if (word.rfind("--", 0) == 0) {
      if (out->wrong.empty()) out->wrong = "unknown or incomplete option " + word;
    } else {
      out->words.push_back(word);
    }
  }
}

// The absolute form of a root given on the command line: the firmware resolves its
// fixed paths under it from another working directory.
std::string Absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char here[4096];
  if (getcwd(here, sizeof here) == nullptr) return path;
  return std::string(here) + "/" + path;
}

int Run(const Arguments& arguments) {
  sim::RunOptions options;
  options.root = Absolute(arguments.root);
  options.port_base = static_cast<uint16_t>(arguments.port_base);
  options.bind_address = arguments.bind;
  options.chassis_file = arguments.chassis;
  options.program_folder = sim::ProgramFolder();
  if (options.program_folder.empty()) {
    std::fprintf(stderr, "vchassis: cannot tell where the firmware programs are\n");
    return 1;
  }
  return sim::RunChassis(options);
}

int Failed(const char* what) {
  std::fprintf(stderr, "vchassis: %s: %s\n", what,
               errno == ETIMEDOUT ? "no answer in time" : std::strerror(errno));
  return 1;
}

// Points the platform layer at the chassis named by --root or CHASSIS_ROOT. False
// (after saying so) when neither names one.
bool FindChassis(const Arguments& arguments) {
  if (!arguments.root.empty()) setenv("CHASSIS_ROOT", Absolute(arguments.root).c_str(), 1);
  const char* root = std::getenv("CHASSIS_ROOT");
  if (root != nullptr && root[0] != '\0') return true;
  std::fprintf(stderr, "vchassis: name the chassis with --root DIR\n");
  return false;
}

int Control(const Arguments& arguments) {
  if (!FindChassis(arguments)) return 2;
  std::string answer;
  if (sim::SendControlRequest(arguments.words, &answer) != 0) {
    std::fprintf(stderr, "vchassis: %s", answer.c_str());
    return 1;
  }
  std::fputs(answer.c_str(), stdout);
  return 0;
}

int Bus(const Arguments& arguments) {
  if (!FindChassis(arguments)) return 2;
  const std::vector<std::string>& words = arguments.words;
  int timeout_ms = static_cast<int>(arguments.timeout_s * 1000);
  sim::HostBus bus = words[0] == "gpib" ? sim::HostBus::kGpib : sim::HostBus::kUsb;
  if (words.size() == 3 && words[1] == "send") {
    std::string reply;
    if (sim::HostSend(bus, words[2], timeout_ms, &reply) != 0) return Failed("send");
    std::fputs(reply.c_str(), stdout);
    return 0;
  }
  if (bus == sim::HostBus::kGpib && words.size() == 2 && words[1] == "poll") {
    uint8_t status_byte = 0;
    if (sim::HostSerialPoll(&status_byte) != 0) return Failed("serial poll");
    std::printf("%u\n", status_byte);
    return 0;
  }
  if (bus == sim::HostBus::kGpib && words.size() == 2 && words[1] == "wait-srq") {
    if (sim::HostWaitSrq(timeout_ms) != 0) return Failed("wait for SRQ");
    std::printf("SRQ\n");
    return 0;
  }
  return Wrong(words[0] == "gpib" ? "gpib wants send \"<message>\", poll or wait-srq"
                                  : "usb wants send \"<message>\"",
               words);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  Parse(argc, argv, &arguments);
  std::vector<std::string>& words = arguments.words;
  // vchassis --help, vchassis help, vchassis help SUBCOMMAND, vchassis SUBCOMMAND --help
  const bool asked = arguments.help || (!words.empty() && words[0] == "help");
  if (asked) {
    std::vector<std::string> topic = words;
    // "vchassis help --help" is about help itself.
    if (!topic.empty() && topic[0] == "help" && !(arguments.help && topic.size() == 1)) {
      topic.erase(topic.begin());
    }
    if (topic.empty()) {
      FullUsage(stdout);
      return 0;
    }
    const std::string usage = SubcommandUsage(topic);
    if (usage.empty()) return Wrong("no subcommand \"" + topic[0] + "\"", {});
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  if (words.empty()) return Wrong("name a subcommand", {});
  if (!arguments.wrong.empty()) return Wrong(arguments.wrong, words);
  const std::string& command = words[0];
  if (command == "run") {
    if (words.size() != 1) return Wrong("run takes options only, not \"" + words[1] + "\"", words);
    return Run(arguments);
  }
  if (command == "gpib" || command == "usb") {
    if (words.size() < 2) return Wrong(command + " wants a request", words);
    return Bus(arguments);
  }
  if (command == "watch") {
    if (words.size() != 1) return Wrong("watch takes options only, not \"" + words[1] + "\"", words);
    if (!FindChassis(arguments)) return 2;
    return sim::Watch(arguments.once);
  }
  if (sim::IsControlRequest(words)) return Control(arguments);
  const std::string problem = sim::ControlArgumentProblem(words);
  if (!problem.empty()) return Wrong(problem, words);
  return Wrong("no subcommand \"" + command + "\"", {});
}
