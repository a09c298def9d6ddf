// The live view of a running virtual chassis (see vchassis_watch.h). Each frame is
// made of the same control requests a person would type: cards, coils or dio for each
// slot, fans, lan and trigger-out.
#include "sim/vchassis_watch.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>
#include <vector>

#include "platform/paths.h"
#include "sim/channel_maps.h"
#include "sim/vchassis_control.h"

namespace sim {
namespace {

constexpr int kRedrawMs = 250;
// Terminal controls: the alternate screen, the cursor, clear and home.
constexpr const char* kEnterScreen = "\x1b[?1049h\x1b[?25l";
constexpr const char* kLeaveScreen = "\x1b[?25h\x1b[?1049l";
constexpr const char* kClearScreen = "\x1b[H\x1b[2J";

// The answer of a control request, without its last line feed; false when refused.
bool Ask(const std::vector<std::string>& words, std::string* answer) {
  const bool answered = SendControlRequest(words, answer) == 0;
  if (!answer->empty() && answer->back() == '\n') answer->pop_back();
  return answered;
}

std::string Fit(std::string line) {
  if (line.size() > static_cast<size_t>(kWatchColumns)) {
    line.resize(kWatchColumns - 3);
    line += "...";
  }
  return line + "\n";
}

// "0 out 0x0F" lines of `vchassis dio` as "0F> 00<", port 0 first: '>' an output, '<'
// an input. Twelve ports fit beside the slot and model in 80 columns.
std::string Ports(const std::string& dio) {
  std::istringstream lines(dio);
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string port, direction, value;
    if (!(words >> port >> direction >> value) || (direction != "out" && direction != "in")) continue;
    text += (text.empty() ? "" : " ") + value.substr(value.size() - 2) +
            (direction == "out" ? ">" : "<");
  }
  return text;
}

// `vchassis coils` of a card as the view shows it: "ch 100 207" where the simulator knows
// the model's relay map, "bit 0 15" where it does not, "none" when nothing is energised.
std::string Relays(const std::string& model, const std::string& coils) {
  std::istringstream words(coils);
  std::vector<int> bits;
  for (int bit; words >> bit;) bits.push_back(bit);
  if (bits.empty()) return coils;
  std::vector<int> channels;
  const bool mapped = ChannelsOfDriveBits(model, bits, &channels);
  std::string text = mapped ? "ch" : "bit";
  for (int number : mapped ? channels : bits) text += " " + std::to_string(number);
  return text;
}

// The `key: value` lines of an answer.
std::map<std::string, std::string> Values(const std::string& answer) {
  std::map<std::string, std::string> values;
  std::istringstream lines(answer);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return values;
}

volatile sig_atomic_t stop_signal = 0;
void OnStop(int signal) { stop_signal = signal; }

}  // namespace

int WatchFrame(std::string* frame) {
  std::string cards;
  if (!Ask({"cards"}, &cards)) {
    *frame = cards;
    return -1;
  }
  char clock[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  std::string text = Fit("vchassis watch  " + platform::Root() + "  " + clock);
  text += Fit("slot model          energised: ch channels, bit drive bits; ports >out <in");
  std::istringstream lines(cards);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string slot, model;
    if (!(words >> slot >> model)) continue;
    std::string state;
    std::string dio;
    if (Ask({"dio", slot}, &dio)) {
      state = Ports(dio);
    } else if (Ask({"coils", slot}, &state)) {
      state = Relays(model, state);
    } else {
      state = "-";
    }
    char head[32];
    std::snprintf(head, sizeof head, "%4s %-14s ", slot.c_str(), model.c_str());
    text += Fit(head + state);
  }
  std::string fans, lan, pulses;
  Ask({"fans"}, &fans);
  Ask({"lan"}, &lan);
  Ask({"trigger-out"}, &pulses);
  const auto fan = Values(fans);
  const auto net = Values(lan);
  auto get = [](const std::map<std::string, std::string>& values, const char* key) {
    const auto found = values.find(key);
    return found == values.end() ? std::string("?") : found->second;
  };
  text += Fit("fans: chassis " + get(fan, "chassis") + ", bus-board " + get(fan, "bus-board"));
  text += Fit("LAN: link " + get(net, "link") + " " + get(net, "address") + ", indicator " +
              get(net, "indicator") + ", mDNS " + get(net, "mdns") + ", web " + get(net, "web"));
  text += Fit("trigger out: " + pulses);
  *frame = text;
  return 0;
}

int Watch(bool once) {
  std::string frame;
  if (once) {
    if (WatchFrame(&frame) != 0) {
      std::fprintf(stderr, "vchassis: %s\n", frame.c_str());
      return 1;
    }
    std::fputs(frame.c_str(), stdout);
    return 0;
  }
  // Keys typed while watching must not scribble over the view: no echo, no line
  // editing, both given back at the end.
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::fputs(kEnterScreen, stdout);
  std::string shown;
  while (stop_signal == 0) {
    if (WatchFrame(&frame) != 0) frame = "vchassis watch: " + frame + "\n(retrying)\n";
    // The clock line changes every second; redraw then, or when anything else does.
    if (frame != shown) {
      std::fputs(kClearScreen, stdout);
      std::fputs(frame.c_str(), stdout);
      std::fflush(stdout);
      shown = frame;
    }
    usleep(kRedrawMs * 1000);
  }
  std::fputs(kLeaveScreen, stdout);
  std::fflush(stdout);
  if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return 0;
}

}  // namespace sim
