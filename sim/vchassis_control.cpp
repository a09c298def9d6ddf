// Control requests on a running virtual chassis' hardware (see vchassis_control.h).
#include "sim/vchassis_control.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "platform/device.h"
#include "platform/paths.h"
#include "sim/board_models.h"
#include "sim/card_models.h"
#include "sim/fpga_model.h"
#include "sim/lan_state.h"

namespace sim {
namespace {

using Words = std::vector<std::string>;
using Handler = int (*)(const SimulatedHardware& hardware, const Words& arguments,
                        std::string* answer);

constexpr const char* kReplyOk = "OK\n";
constexpr const char* kReplyError = "ERROR\n";

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

int Refuse(std::string reason, std::string* answer) {
  *answer = std::move(reason) + "\n";
  return -1;
}

int Answer(std::string text, std::string* answer) {
  *answer = std::move(text) + "\n";
  return 0;
}

// An unsigned number, decimal or with a 0x prefix hexadecimal, up to `most`.
bool ParseNumber(const std::string& word, uint32_t most, uint32_t* value) {
  const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  const std::string digits = hex ? word.substr(2) : word;
  if (digits.empty() || digits.size() > 10) return false;
  uint64_t number = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
  }
  if (number > most) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// The slot a word names: 1..12, else 0 and the reason in *answer.
int Slot(const std::string& word, std::string* answer) {
  uint32_t slot = 0;
  if (!ParseNumber(word, kLastCardSlot, &slot) || slot < kFirstCageSlot) {
    Refuse("\"" + word + "\" is not a slot from 1 to 12", answer);
    return 0;
  }
  return static_cast<int>(slot);
}

// "slot 3 (SM-MX26Q)"
std::string Named(int slot, const CardModel& card) {
  return "slot " + std::to_string(slot) + " (" + card.traits().model + ")";
}

// The card in the slot a word names, else null and the reason in *answer.
CardModel* Card(const SimulatedHardware& hardware, const std::string& word, int* slot,
                std::string* answer) {
  *slot = Slot(word, answer);
  if (*slot == 0) return nullptr;
  CardModel* card = hardware.cards[static_cast<size_t>(*slot)].get();
  if (card == nullptr) Refuse("slot " + std::to_string(*slot) + " is empty", answer);
  return card;
}

// The relay card in the slot a word names, else null and the reason in *answer.
CardModel* RelayCard(const SimulatedHardware& hardware, const std::string& word, int* slot,
                     std::string* answer) {
  CardModel* card = Card(hardware, word, slot, answer);
  if (card != nullptr && card->traits().drive_bytes == 0) {
    Refuse(Named(*slot, *card) + " has no relay coils", answer);
    return nullptr;
  }
  return card;
}

// The FPGA interrupt source of a card slot: slots 1..5 are bits 4..0, slots 6..12
// bits 5..11.
uint32_t SlotInterruptSource(int slot) { return slot > 5 ? 1u << (slot - 1) : 1u << (5 - slot); }

int Cards(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  std::string list;
  for (int slot = kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const CardModel* card = hardware.cards[static_cast<size_t>(slot)].get();
    if (card == nullptr) continue;
    if (!list.empty()) list += "\n";
    list += std::to_string(slot) + " " + card->traits().model + " " + Hex(card->traits().type_id, 4);
  }
  return Answer(list.empty() ? "no cards" : list, answer);
}

int Coils(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  int slot = 0;
  CardModel* card = RelayCard(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  std::string list;
  for (int bit : card->EnergisedCoils()) list += (list.empty() ? "" : " ") + std::to_string(bit);
  return Answer(list.empty() ? "none" : list, answer);
}

int SetStuck(const SimulatedHardware& hardware, const Words& arguments, bool stuck,
             std::string* answer) {
  int slot = 0;
  CardModel* card = RelayCard(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  const int coils = card->traits().drive_bytes * 8;
  uint32_t bit = 0;
  if (!ParseNumber(arguments[1], UINT32_MAX, &bit) ||
      !card->StickRelay(static_cast<int>(bit), stuck)) {
    return Refuse(Named(slot, *card) + " has no relay coil " + arguments[1] +
                      "; its coils are 0 to " + std::to_string(coils - 1),
                  answer);
  }
  const std::string coil = Named(slot, *card) + " coil " + std::to_string(bit);
  if (!stuck) return Answer(coil + " follows its drive again", answer);
  return Answer(
      coil + " stuck " + (card->CoilEnergised(static_cast<int>(bit)) ? "energised" : "released"),
      answer);
}

int Stick(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  return SetStuck(hardware, arguments, true, answer);
}

int Unstick(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  return SetStuck(hardware, arguments, false, answer);
}

int SetFailing(const SimulatedHardware& hardware, const Words& arguments, bool failing,
               std::string* answer) {
  const int slot = Slot(arguments[0], answer);
  if (slot == 0) return -1;
  hardware.xbus->SetSlotFailing(slot, failing);
  return Answer("slot " + std::to_string(slot) + " local bus " + (failing ? "failing" : "working"),
                answer);
}

int LocalBusFail(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  return SetFailing(hardware, arguments, true, answer);
}

int LocalBusRestore(const SimulatedHardware& hardware, const Words& arguments,
                    std::string* answer) {
  return SetFailing(hardware, arguments, false, answer);
}

int Interrupt(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  int slot = 0;
  CardModel* card = Card(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  const uint8_t own = card->traits().interrupt_bits;
  if (own == 0) return Refuse(Named(slot, *card) + " raises no interrupts", answer);
  uint32_t bits = own;
  // The card takes only bits it owns.
  if ((arguments.size() > 1 && !ParseNumber(arguments[1], 0xFF, &bits)) ||
      !card->RaiseInterrupt(static_cast<uint8_t>(bits))) {
    return Refuse(Named(slot, *card) + " raises only the interrupt bits " + Hex(own, 2) + ", not " +
                      arguments[1],
                  answer);
  }
  hardware.fpga->RaiseInterrupt(SlotInterruptSource(slot));
  return Answer(Named(slot, *card) + " interrupt " + Hex(bits, 2) + " raised", answer);
}

int Trigger(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  hardware.fpga->RaiseInterrupt(kFpgaChassisInterrupt);
  return Answer("external trigger fired", answer);
}

// The digital card in the slot a word names, else null and the reason in *answer.
CardModel* DigitalCard(const SimulatedHardware& hardware, const std::string& word, int* slot,
                       std::string* answer) {
  CardModel* card = Card(hardware, word, slot, answer);
  if (card != nullptr && !card->traits().digital) {
    Refuse(Named(*slot, *card) + " is not a digital I/O card", answer);
    return nullptr;
  }
  return card;
}

int PortCount(const CardModel& card) {
  return card.traits().port_count > 0 ? card.traits().port_count : 12;
}

// One line per port ("0 out 0x0F"), then "sync N control 0xC".
int Dio(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  int slot = 0;
  CardModel* card = DigitalCard(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  std::string text;
  for (int port = 0; port < PortCount(*card); ++port) {
    text += std::to_string(port) + (card->PortIsOutput(port) ? " out " : " in ") +
            Hex(card->PortValue(port), 2) + "\n";
  }
  text += "sync " + std::to_string(card->SyncCount()) + " control " + Hex(card->ControlBits(), 1);
  return Answer(text, answer);
}

int DioInput(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  int slot = 0;
  CardModel* card = DigitalCard(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  uint32_t port = 0;
  uint32_t value = 0;
  if (!ParseNumber(arguments[1], static_cast<uint32_t>(PortCount(*card) - 1), &port)) {
    return Refuse(Named(slot, *card) + " has no port " + arguments[1], answer);
  }
  if (!ParseNumber(arguments[2], 0xFF, &value)) {
    return Refuse("\"" + arguments[2] + "\" is not a byte", answer);
  }
  card->DrivePortInput(static_cast<int>(port), static_cast<uint8_t>(value));
  return Answer(Named(slot, *card) + " port " + std::to_string(port) + " presents " +
                    Hex(value, 2),
                answer);
}

// EDGES clock edges: each raises the card's interrupt and waits, at most 2 s, for the
// firmware to acknowledge it; then one line with the bytes on the synchronous output
// ports ("edge 1: 0 0x11 1 0x21").
int DioClock(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  int slot = 0;
  CardModel* card = DigitalCard(hardware, arguments[0], &slot, answer);
  if (card == nullptr) return -1;
  uint32_t edges = 1;
  if (arguments.size() > 1 && (!ParseNumber(arguments[1], 100000, &edges) || edges == 0)) {
    return Refuse("\"" + arguments[1] + "\" is not a number of edges", answer);
  }
  std::string text;
  for (uint32_t edge = 1; edge <= edges; ++edge) {
    card->RaiseInterrupt(kDigitalInterruptBits);
    hardware.fpga->RaiseInterrupt(SlotInterruptSource(slot));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (card->PendingInterrupt() != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (card->PendingInterrupt() != 0) {
      return Refuse(text + "edge " + std::to_string(edge) +
                        ": the firmware did not acknowledge the interrupt",
                    answer);
    }
    text += "edge " + std::to_string(edge) + ":";
    for (int port = 0; port < card->SyncCount() && port < PortCount(*card); ++port) {
      if (card->PortIsOutput(port)) {
        text += " " + std::to_string(port) + " " + Hex(card->PortValue(port), 2);
      }
    }
    if (edge < edges) text += "\n";
  }
  return Answer(text, answer);
}

// "3 pulses, last at 2026-12-08 11:05:12.345 UTC", or "0 pulses".
int TriggerOut(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  std::chrono::system_clock::time_point last;
  const int64_t pulses = hardware.fpga->TriggerPulses(&last);
  std::string text = std::to_string(pulses) + (pulses == 1 ? " pulse" : " pulses");
  if (pulses > 0) {
    const auto since_epoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(last.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(since_epoch / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[48];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(since_epoch % 1000));
    text += ", last at ";
    text += stamp;
    text += millis;
    text += " UTC";
  }
  return Answer(text, answer);
}

int PowerFail(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  const size_t before = hardware.xbus->QueuedEvents();
  if (before >= XbusModel::kEventQueueDepth) {
    return Refuse("the bus driver's event queue is full; the power failure was not queued", answer);
  }
  hardware.xbus->PostEvent(kXbusEventPowerFail);
  return Answer("power failure queued", answer);
}

int FpgaRead(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  uint32_t offset = 0;
  if (!ParseNumber(arguments[0], kFpgaWindowLength - 4, &offset) || offset % 4 != 0) {
    return Refuse("\"" + arguments[0] +
                      "\" is not an FPGA register: offsets are multiples of 4 below " +
                      Hex(kFpgaWindowLength, 4),
                  answer);
  }
  return Answer(Hex(hardware.fpga->Peek(offset), 8), answer);
}

// The LM35's range, in degrees.
constexpr double kColdest = -55;
constexpr double kHottest = 150;

// "temperature DEGREES [SENSOR]": both sensors, or sensor 1 or 2.
int Temperature(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  char* end = nullptr;
  const double degrees = std::strtod(arguments[0].c_str(), &end);
  if (end == arguments[0].c_str() || *end != '\0' || !(degrees >= kColdest && degrees <= kHottest)) {
    return Refuse("\"" + arguments[0] + "\" is not a temperature from -55 to 150 degrees", answer);
  }
  uint32_t sensor = 0;
  if (arguments.size() > 1 && (!ParseNumber(arguments[1], 2, &sensor) || sensor == 0)) {
    return Refuse("\"" + arguments[1] + "\" is not sensor 1 or 2", answer);
  }
  std::string text;
  for (int each = 1; each <= 2; ++each) {
    if (sensor != 0 && static_cast<int>(sensor) != each) continue;
    hardware.adc->SetTemperature(each, degrees);
    char line[64];
    std::snprintf(line, sizeof line, "%ssensor %d: %.1f degrees", text.empty() ? "" : "\n", each,
                  degrees);
    text += line;
  }
  return Answer(text, answer);
}

// "chassis: on|auto|none" and "bus-board: on|off".
int Fans(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  const char* chassis = "none";
  switch (hardware.fans->Last()) {
    case FanDevice::Request::kOn:
      chassis = "on";
      break;
    case FanDevice::Request::kAuto:
      chassis = "auto";
      break;
    case FanDevice::Request::kNone:
      break;
  }
  return Answer(std::string("chassis: ") + chassis + "\nbus-board: " +
                    (hardware.fpga->FanOn() ? "on" : "off"),
                answer);
}

int LanButton(const SimulatedHardware& hardware, const char* edge, std::string* answer) {
  hardware.lan_button->Edge();
  return Answer(std::string("LAN button ") + edge, answer);
}

int LanButtonPress(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  return LanButton(hardware, "pressed", answer);
}

int LanButtonRelease(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  return LanButton(hardware, "released", answer);
}

// The chip and address words of a FRAM request. False with the reason in *answer.
bool FramPlace(const Words& arguments, uint32_t* chip, uint32_t* address, std::string* answer) {
  if (!ParseNumber(arguments[0], kFramChipCount - 1, chip)) {
    Refuse("\"" + arguments[0] + "\" is not a FRAM chip from 0 to " +
               std::to_string(kFramChipCount - 1),
           answer);
    return false;
  }
  if (!ParseNumber(arguments[1], kFramChipSize - 1, address)) {
    Refuse("\"" + arguments[1] + "\" is not an address from 0 to " +
               std::to_string(kFramChipSize - 1),
           answer);
    return false;
  }
  return true;
}

// "fram read CHIP ADDRESS [COUNT]": the bytes in hex, sixteen to a line.
int FramRead(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  uint32_t chip = 0;
  uint32_t address = 0;
  if (!FramPlace(arguments, &chip, &address, answer)) return -1;
  uint32_t count = 1;
  if (arguments.size() > 2 &&
      (!ParseNumber(arguments[2], kFramChipSize, &count) || count == 0 ||
       address + count > kFramChipSize)) {
    return Refuse("\"" + arguments[2] + "\" bytes from " + std::to_string(address) +
                      " do not fit the chip's " + std::to_string(kFramChipSize),
                  answer);
  }
  std::vector<uint8_t> bytes;
  hardware.bridge->Read(static_cast<int>(chip), static_cast<int>(address), static_cast<int>(count),
                        &bytes);
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    if (i > 0) text += i % 16 == 0 ? "\n" : " ";
    text += hex;
  }
  return Answer(text, answer);
}

// "fram write CHIP ADDRESS BYTE...".
int FramWrite(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  uint32_t chip = 0;
  uint32_t address = 0;
  if (!FramPlace(arguments, &chip, &address, answer)) return -1;
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i < arguments.size(); ++i) {
    uint32_t byte = 0;
    if (!ParseNumber(arguments[i], 0xFF, &byte)) {
      return Refuse("\"" + arguments[i] + "\" is not a byte", answer);
    }
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  if (!hardware.bridge->Write(static_cast<int>(chip), static_cast<int>(address), bytes)) {
    return Refuse(std::to_string(bytes.size()) + " bytes from " + std::to_string(address) +
                      " do not fit the chip's " + std::to_string(kFramChipSize),
                  answer);
  }
  return Answer(std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes") +
                    " written to FRAM chip " + std::to_string(chip) + " at " +
                    std::to_string(address),
                answer);
}

// Every outside command line the firmware ran, in order; "none" before the first.
int Commands(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  std::ifstream log(CommandLogFile(hardware.fram_folder));
  std::string text;
  for (std::string line; std::getline(log, line);) text += (text.empty() ? "" : "\n") + line;
  return Answer(text.empty() ? "none" : text, answer);
}

// The chassis' LAN state folder, else empty and the reason in *answer.
std::string LanFolder(const SimulatedHardware& hardware, std::string* answer) {
  if (hardware.fram_folder.empty()) {
    Refuse("this chassis keeps no LAN state: it has no root folder", answer);
    return {};
  }
  return LanStateFolder(hardware.fram_folder);
}

// The simulated interface eth0, one "key: value" line each.
int Lan(const SimulatedHardware& hardware, const Words&, std::string* answer) {
  const std::string folder = LanFolder(hardware, answer);
  if (folder.empty()) return -1;
  return Answer(DescribeLan(ReadLanState(folder), DiscoveryServiceRunning()), answer);
}

// One of two words of a request, each storing its value under `key` and answering
// its text.
struct Choice {
  const char* word;
  const char* value;
  const char* done;
};

int Choose(const SimulatedHardware& hardware, const char* key, const std::string& word,
           const Choice (&choices)[2], std::string* answer) {
  const std::string folder = LanFolder(hardware, answer);
  if (folder.empty()) return -1;
  for (const Choice& choice : choices) {
    if (word != choice.word) continue;
    std::string error;
    if (WriteLanValue(folder, key, choice.value, &error) != 0) return Refuse(error, answer);
    return Answer(choice.done, answer);
  }
  return Refuse("\"" + word + "\" is not " + choices[0].word + " or " + choices[1].word, answer);
}

int LanCable(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  static constexpr Choice kCable[] = {{"plug", "plugged", "LAN cable plugged in"},
                                      {"unplug", "unplugged", "LAN cable unplugged"}};
  return Choose(hardware, "cable", arguments[0], kCable, answer);
}

int Dhcp(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  static constexpr Choice kLease[] = {{"lease", "lease", "the DHCP server grants a lease"},
                                      {"none", "none", "the DHCP server grants no lease"}};
  return Choose(hardware, "lease", arguments[0], kLease, answer);
}

int LanDuplicate(const SimulatedHardware& hardware, const Words& arguments, std::string* answer) {
  const std::string folder = LanFolder(hardware, answer);
  if (folder.empty()) return -1;
  const std::string& address = arguments[0];
  if (!IsDottedIpv4(address)) {
    return Refuse("\"" + address + "\" is not a dotted IPv4 address", answer);
  }
  bool added = false;
  std::string error;
  if (AddDuplicateAddress(folder, address, &added, &error) != 0) return Refuse(error, answer);
  return Answer(std::string("another host ") + (added ? "" : "already ") + "answers for " + address,
                answer);
}

std::atomic<ControllerRestart> g_controller_restart{nullptr};

int RestartController(const SimulatedHardware&, const Words&, std::string* answer) {
  const ControllerRestart restart = g_controller_restart.load();
  if (restart == nullptr) return Refuse("this chassis runs no controller", answer);
  return restart(answer);
}

struct Command {
  const char* words;      // the subcommand
  const char* arguments;  // its arguments as the usage names them
  size_t least;           // how many arguments it takes
  size_t most;
  Handler run;
  const char* what;
};

constexpr Command kCommands[] = {
    {"cards", "", 0, 0, Cards, "slot, model and type id of each card"},
    {"coils", "SLOT", 1, 1, Coils, "the energised relay coils, by drive bit"},
    {"stick", "SLOT BIT", 2, 2, Stick, "the relay's coil keeps its state"},
    {"unstick", "SLOT BIT", 2, 2, Unstick, "the relay's coil follows its drive again"},
    {"lbus-fail", "SLOT", 1, 1, LocalBusFail, "the slot's local bus refuses every request"},
    {"lbus-restore", "SLOT", 1, 1, LocalBusRestore, "the slot's local bus works again"},
    {"interrupt", "SLOT [BITS]", 1, 2, Interrupt,
     "the card raises its interrupt (default: all its bits)"},
    {"trigger", "", 0, 0, Trigger, "the external trigger input fires"},
    {"dio", "SLOT", 1, 1, Dio, "the digital card's ports, sync count and control bits"},
    {"dio-input", "SLOT PORT VALUE", 3, 3, DioInput, "the byte an input port presents"},
    {"dio-clock", "SLOT [EDGES]", 1, 2, DioClock,
     "synchronisation clock edges, each waited for until acknowledged"},
    {"trigger-out", "", 0, 0, TriggerOut,
     "how many times the trigger output pulsed, and when it last did"},
    {"power-fail", "", 0, 0, PowerFail, "the bus driver reports a power failure"},
    {"fpga read", "OFFSET", 1, 1, FpgaRead, "an FPGA register"},
    {"temperature", "DEGREES [SENSOR]", 1, 2, Temperature,
     "the temperature at both sensors, or at sensor 1 or 2"},
    {"fans", "", 0, 0, Fans, "the chassis fans' last request and the bus-board fan"},
    {"lan-button press", "", 0, 0, LanButtonPress, "the LAN reset button goes down (one edge)"},
    {"lan-button release", "", 0, 0, LanButtonRelease, "the LAN reset button comes up (one edge)"},
    {"fram read", "CHIP ADDRESS [COUNT]", 2, 3, FramRead, "bytes of a FRAM chip, in hex"},
    {"fram write", "CHIP ADDRESS BYTE...", 3, kFramChipSize + 2, FramWrite,
     "bytes into a FRAM chip"},
    {"commands", "", 0, 0, Commands, "the outside command lines the firmware ran, in order"},
    {"lan", "", 0, 0, Lan, "the simulated interface eth0 as the stand-in tools left it"},
    {"lan-cable", "plug|unplug", 1, 1, LanCable, "the LAN cable is plugged in or pulled out"},
    {"dhcp", "lease|none", 1, 1, Dhcp, "whether the DHCP server grants a lease"},
    {"lan-duplicate", "ADDRESS", 1, 1, LanDuplicate, "another host answers for ADDRESS"},
    {"controller-restart", "", 0, 0, RestartController,
     "instctl and all it started are killed; it starts again, the hardware as it was"},
};

Words Split(std::string_view text) {
  std::istringstream stream{std::string(text)};
  Words words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::string Join(const Words& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The command `words` begin with, whatever the number of arguments, and how many
// words its name takes.
const Command* Find(const Words& words, size_t* name_words) {
  for (const Command& command : kCommands) {
    const Words name = Split(command.words);
    if (words.size() >= name.size() && std::equal(name.begin(), name.end(), words.begin())) {
      *name_words = name.size();
      return &command;
    }
  }
  return nullptr;
}

// The command `words` form with a fitting number of arguments, which land in *arguments.
const Command* Match(const Words& words, Words* arguments) {
  size_t name_words = 0;
  const Command* command = Find(words, &name_words);
  if (command == nullptr) return nullptr;
  const size_t count = words.size() - name_words;
  if (count < command->least || count > command->most) return nullptr;
  arguments->assign(words.begin() + static_cast<std::ptrdiff_t>(name_words), words.end());
  return command;
}

}  // namespace

void SetControllerRestart(ControllerRestart restart) { g_controller_restart.store(restart); }

bool IsControlRequest(const std::vector<std::string>& words) {
  Words arguments;
  return Match(words, &arguments) != nullptr;
}

std::string ControlUsage() {
  std::string usage;
  for (const Command& command : kCommands) {
    std::string words =
        std::string(command.words) + (*command.arguments ? " " : "") + command.arguments;
    char line[160];
    std::snprintf(line, sizeof line, "       vchassis %-24s %s\n", words.c_str(), command.what);
    usage += line;
  }
  return usage;
}

std::string ControlSubcommandUsage(const std::vector<std::string>& words) {
  // "lan-button" names both of its forms, "lan-button press 3" the one; when the
  // second word names no form ("lan-button hold"), the first word's forms are shown.
  std::string usage;
  for (size_t compared : {words.size(), size_t{1}}) {
    for (const Command& command : kCommands) {
      const Words name = Split(command.words);
      const size_t common = std::min({name.size(), words.size(), compared});
      if (common == 0 || !std::equal(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(common),
                                     words.begin())) {
        continue;
      }
      const std::string form = std::string("vchassis ") + command.words +
                               (*command.arguments ? " " : "") + command.arguments + " [--root DIR]";
      usage += (usage.empty() ? "usage: " : "       ") + form + "\n         " + command.what + "\n";
    }
    if (!usage.empty()) break;
  }
  return usage;
}

std::string ControlArgumentProblem(const std::vector<std::string>& words) {
  size_t name_words = 0;
  if (const Command* command = Find(words, &name_words)) {
    return std::string(command->words) + " wants " +
           (*command->arguments ? command->arguments : "no arguments");
  }
  // Only the first word names a subcommand: its forms differ in the second.
  std::string forms;
  for (const Command& command : kCommands) {
    const Words name = Split(command.words);
    if (name.size() < 2 || words.empty() || name[0] != words[0]) continue;
    forms += (forms.empty() ? "" : " or ") + name[1];
  }
  return forms.empty() ? "" : words[0] + " wants " + forms;
}

int ChassisControl::Execute(std::string_view request, std::string* answer) {
  const Words words = Split(request);
  Words arguments;
  const Command* command = Match(words, &arguments);
  if (command == nullptr) {
    return Refuse("not a control request: \"" + Join(words).substr(0, 80) + "\"", answer);
  }
  return command->run(hardware_, arguments, answer);
}

void ControlDevice::Close(uint64_t open_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.erase(open_id);
}

ssize_t ControlDevice::Write(uint64_t open_id, const void* buffer, size_t size) {
  std::string answer;
  int result = -1;
  if (size > kLongestRequest) {
    answer = "the request is longer than " + std::to_string(kLongestRequest) + " bytes\n";
  } else {
    result = control_.Execute(std::string_view(static_cast<const char*>(buffer), size), &answer);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[open_id] = (result == 0 ? kReplyOk : kReplyError) + answer;
  return static_cast<ssize_t>(size);
}

ssize_t ControlDevice::Read(uint64_t open_id, void* buffer, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto reply = replies_.find(open_id);
  if (reply == replies_.end()) return 0;
  const size_t count = std::min(size, reply->second.size());
  std::memcpy(buffer, reply->second.data(), count);
  reply->second.erase(0, count);
  if (reply->second.empty()) replies_.erase(reply);
  return static_cast<ssize_t>(count);
}

int SendControlRequest(const std::vector<std::string>& words, std::string* answer) {
  const std::string request = Join(words) + "\n";
  const int fd = platform::DeviceOpen(kControlDevicePath, O_RDWR);
  if (fd < 0) {
    return Refuse("cannot reach the chassis at " + platform::ResolvePath(kControlDevicePath) +
                      ": " + std::strerror(errno),
                  answer);
  }
  std::string reply;
  ssize_t count = platform::DeviceWrite(fd, request.data(), request.size());
  if (count == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    while ((count = platform::DeviceRead(fd, buffer, sizeof buffer)) > 0) {
      reply.append(buffer, static_cast<size_t>(count));
    }
  }
  const int error = errno;
  platform::DeviceClose(fd);
  if (count < 0)
    return Refuse(std::string("the chassis did not answer: ") + std::strerror(error), answer);
  const size_t status_end = reply.find('\n');
  if (status_end == std::string::npos) return Refuse("the chassis gave no answer", answer);
  const std::string status = reply.substr(0, status_end + 1);
  *answer = reply.substr(status_end + 1);
  if (status == kReplyOk) return 0;
  if (status != kReplyError) *answer = "the chassis answered \"" + reply + "\"\n";
  return -1;
}

}  // namespace sim
