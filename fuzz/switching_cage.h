// For the switching fuzz targets: the default cage of the virtual chassis installed in
// process by the slot scan (as start-up installs it), commits that never wait, and a
// small path table and module name for the channel-list lookups. Set up once per
// process, in LLVMFuzzerInitialize.
#pragma once

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "cards/card_manager.h"
#include "fuzz/simulated_chassis.h"
#include "hardware/event_log.h"
#include "sim/card_models.h"
#include "sim/chassis_description.h"
#include "switching/channel_list.h"
#include "switching/relay_operations.h"

namespace fuzz {

// Paths P1, P2, P3 (close channels only) and MAIN (with channels to open); module
// name PSU is slot 1.
inline const std::map<std::string, ChannelList>& CagePaths() {
  static const std::map<std::string, ChannelList> paths = [] {
    auto channel = [](int slot, int32_t number) {
      ChannelListElement element;
      element.slot = slot;
      element.channel = number;
      element.index = CardChannelToIndex(slot, number, 0);
      return element;
    };
    std::map<std::string, ChannelList> made;
    made["P1"].close = {channel(1, 100)};
    made["P2"].close = {channel(1, 101), channel(2, 0)};
    made["P3"].close = {channel(2, 1)};
    made["MAIN"].close = {channel(2, 100), channel(1, 100)};
    made["MAIN"].open = {channel(2, 101), channel(9, 1)};
    return made;
  }();
  return paths;
}

inline void InstallSwitchingCage() {
  SilenceStandardOutput();
  SimulatedChassis& chassis = Chassis();
  sim::ChassisDescription cage;
  std::string error;
  if (sim::LoadChassisDescription(CHASSIS_DEFAULT_DESCRIPTION, &cage, &error) != 0) {
    std::fprintf(stderr, "fuzz: the default chassis description: %s\n", error.c_str());
    std::abort();
  }
  for (int slot = sim::kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& name = cage.models[static_cast<std::size_t>(slot)];
    if (!name.empty()) chassis.xbus->Plug(slot, sim::MakeCardModel(name));
  }
  StartEventLog();
  InstallCard(0, kChassisTypeId);
  if (ScanCardSlots() != 0) {
    std::fprintf(stderr, "fuzz: the slot scan failed\n");
    std::abort();
  }
  SetSettleWaitForTest([](uint32_t) {});
  CagePaths();
  SetPathLookup([](const char* name) -> const ChannelList* {
    const auto found = CagePaths().find(name);
    return found != CagePaths().end() ? &found->second : nullptr;
  });
  SetModuleNameLookup([](const char* name) { return strcasecmp(name, "PSU") == 0 ? 1 : -1; });
}

}  // namespace fuzz
