// Time per channel element of the channel-list parser, in process, against a cage of
// twelve simulated relay cards installed by the slot scan: lists of 10, 500 and 5,000
// channels spread over the cards, parsed as CLOSe parses them (paths expanded,
// duplicates dropped). A list longer than the cage's 1,578 channels names them again,
// so the duplicate test is met on every element. The goal: time per element about
// the same at every length (a 5,000-channel list about ten times a 500-channel one).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "devices/fpga_registers.h"
#include "devices/xbus_requests.h"
#include "platform/device.h"
#include "platform/test_support.h"
#include "sim/card_models.h"
#include "sim/fpga_model.h"
#include "sim/xbus_model.h"
#include "switching/channel_list.h"

namespace {

constexpr const char* kCage[] = {"SM-RD96",  "SM-MT816", "SM-MT436", "SM-MX12H",
                                 "SM-MT9Q",  "SM-MT3W",  "SM-MT2W",  "SM-MT2E",
                                 "SM-MT12",  "SM-SC64",  "SM-SW80",  "SM-MX52"};

// The simulated board with the cage installed, once per process.
struct Cage {
  platform::TempFolder root;
  std::vector<std::pair<int, int32_t>> channels;  // every (slot, channel) of the cage

  Cage() {
    setenv("CHASSIS_ROOT", root.path().c_str(), 1);
    auto fpga = std::make_shared<sim::FpgaModel>([] { return int64_t{1136073598}; });
    auto xbus = std::make_shared<sim::XbusModel>();
    platform::RegisterDeviceModel(kFpgaMemoryPath, fpga);
    platform::RegisterDeviceModel(kXbusDevicePath, xbus);
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      xbus->Plug(slot, sim::MakeCardModel(kCage[slot - 1]));
    }
    // The scan prints a line per card; the report stays readable without them.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    InstallCard(0, kChassisTypeId);
    ScanCardSlots();
    std::fflush(stdout);
    if (saved >= 0) dup2(saved, STDOUT_FILENO);
    for (int fd : {saved, null}) {
      if (fd >= 0) close(fd);
    }
    for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
      const int32_t count = CardChannelCount(slot, 0);
      int32_t channel = CardFirstChannel(slot, 0);
      for (int32_t i = 0; i < count && channel >= 0; ++i) {
        channels.emplace_back(slot, channel);
        channel = CardNextChannel(slot, channel, 0);
      }
    }
  }
};

Cage& TheCage() {
  static Cage cage;
  return cage;
}

// "(@s(c,c,...),s(...),...)" naming `count` channels of the cage in its order, round
// and round.
std::string ListText(std::size_t count) {
  const auto& channels = TheCage().channels;
  std::string text = "(@";
  int open_slot = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [slot, channel] = channels[i % channels.size()];
    if (slot != open_slot) {
      if (open_slot >= 0) text += "),";
      text += std::to_string(slot) + "(";
      open_slot = slot;
    } else {
      text += ",";
    }
    text += std::to_string(channel);
  }
  return text + "))";
}

void BM_ParseChannelList(benchmark::State& state) {
  const std::string text = ListText(static_cast<std::size_t>(state.range(0)));
  ChannelList list;
  for (auto _ : state) {
    if (ParseChannelList(false, text.c_str(), nullptr, &list, 0) != 0) {
      state.SkipWithError("the list did not parse");
      break;
    }
    benchmark::DoNotOptimize(list.close.data());
  }
  // Items are channel elements of the text; "per_element" is seconds per element.
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["per_element"] =
      benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_ParseChannelList)->Arg(10)->Arg(500)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
