// Fuzz target for the SCPI engine, parser to handlers: the input, cut at line feeds, is a
// client's stream of program messages, each executed through the fake channel against
// the controller's command tree and the default cage of simulated cards (installed once,
// in process, by the slot scan). The client reads each response before it sends the
// next message, unless an empty line says it does not. Every error queue entry must
// begin with its number and end with its closing quote, as the servers' queues expect.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cards/card_manager.h"
#include "controller/command_table.h"
#include "fuzz/simulated_chassis.h"
#include "hardware/event_log.h"
#include "scpi/command_tree.h"
#include "scpi/fake_channel_test_support.h"
#include "sim/card_models.h"
#include "sim/chassis_description.h"
#include "switching/relay_operations.h"

namespace {

// A client's burst of messages; longer inputs only slow each run down.
constexpr std::size_t kLongestInput = 64 * 1024;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "program_message: %s: %s\n", what, detail.c_str());
  std::abort();
}

// "<number>,\"<text>\"" or "<number>,ERROR <number> NOT RECOGNIZED".
void CheckErrorEntry(const std::string& entry) {
  std::size_t i = entry[0] == '-' ? 1 : 0;
  const std::size_t digits = i;
  while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9') ++i;
  if (i == digits || i >= entry.size() || entry[i] != ',') Fail("entry without number", entry);
  const std::string_view rest = std::string_view(entry).substr(i + 1);
  const bool quoted = rest.size() >= 2 && rest.front() == '"' && rest.back() == '"';
  const bool unknown = rest.rfind("ERROR ", 0) == 0 && rest.size() > 16 &&
                       rest.substr(rest.size() - 16) == " NOT RECOGNIZED";
  if (!quoted && !unknown) Fail("entry without its quotes", entry);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStandardOutput();
  fuzz::SimulatedChassis& chassis = fuzz::Chassis();
  // The cage a virtual chassis starts with when given no description of its own.
  sim::ChassisDescription cage;
  std::string error;
  if (sim::LoadChassisDescription(CHASSIS_DEFAULT_DESCRIPTION, &cage, &error) != 0) {
    Fail("the default chassis description", error);
  }
  for (int slot = sim::kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& name = cage.models[static_cast<std::size_t>(slot)];
    if (!name.empty()) chassis.xbus->Plug(slot, sim::MakeCardModel(name));
  }
  ConnectCommandTable();
  SetSettleWaitForTest([](uint32_t) {});  // relay commands run without their settle waits
  StartEventLog();
  if (ScanCardSlots() != 0) Fail("the slot scan failed", "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  auto channel = std::make_unique<FakeChannel>();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    end = end == std::string_view::npos ? input.size() : end + 1;
    const std::string message(input.substr(start, end - start));
    start = end;
    if (message == "\n") continue;  // the client leaves the last response unread
    channel->Send(message.c_str());
    if (std::strlen(channel->response()) >= kCommandTextSize) Fail("response overflow", "");
    const bool read_it = input.substr(start, 1) != "\n";
    if (read_it) channel->TakeResponse();
  }
  while (channel->error_count() > 0) CheckErrorEntry(channel->PopError());
  return 0;
}
