// Fuzz target for the recalls of the verify masks, the module names and a saved relay
// state, against the default cage: the first input byte picks the file, the rest is its
// contents. Whatever a file holds, the recall leaves the stores whole (module names
// valid and unique, no relay left pending), and storing what it left and recalling
// that gives the same stores back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cards/card_manager.h"
#include "cards/channel_attributes.h"
#include "core/stored_file.h"
#include "fuzz/switching_cage.h"
#include "switching/card_channels.h"
#include "switching/relay_stores.h"

namespace {

constexpr std::size_t kLongestInput = 64 * 1024;
constexpr int32_t kFuzzedState = 7;
constexpr int32_t kCheckState = 8;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "relay_store_files: %s: %s\n", what, detail.c_str());
  std::abort();
}

// Every relay's state, or every channel's verify mode, of the cage as text.
template <typename Read>
std::string Cage(Read read) {
  std::string text;
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    if (!IsCardPresent(slot)) continue;
    ForEachCardChannel(slot, [&](int32_t channel) { text += std::to_string(read(slot, channel)); });
    text += '|';
  }
  return text;
}

std::string Masks() { return Cage([](int slot, int32_t channel) { return GetChannelVerifyMode(slot, channel); }); }
std::string States() { return Cage([](int slot, int32_t channel) { return CardGetRelayState(slot, channel); }); }

std::string Names() {
  std::string names;
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& name = ModuleName(slot);
    if (!name.empty() && FindModuleName(name.c_str()) != slot) Fail("a name on two slots", name);
    names += name + ":";
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallSwitchingCage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > kLongestInput) return 0;
  const std::string contents(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      if (ReplaceStoredFile("/mnt/nonv/config/verify_masks/verify_mask_data", contents) != 0) {
        Fail("the file", "");
      }
      RecallVerifyMasks();
      const std::string masks = Masks();
      if (StoreVerifyMasks() != 0 || RecallVerifyMasks() != 0) Fail("mask round trip", masks);
      if (Masks() != masks) Fail("the masks changed through store and recall", masks);
      break;
    }
    case 1: {
      if (ReplaceStoredFile("/mnt/nonv/config/module_names/module_name_defs", contents) != 0) {
        Fail("the file", "");
      }
      RecallModuleNames();
      const std::string names = Names();
      if (StoreModuleNames() != 0) Fail("the store failed", names);
      DeleteAllModuleNames();
      if (RecallModuleNames() != 0) Fail("the stored names did not recall", names);
      if (Names() != names) Fail("the names changed through store and recall", names);
      break;
    }
    default: {
      if (ReplaceStoredFile("/mnt/nonv/config/states/state7.txt", contents) != 0) {
        Fail("the file", "");
      }
      RecallRelayState(kFuzzedState);
      for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
        if (GetPendingChange(slot)) Fail("a relay left pending", std::to_string(slot));
      }
      const std::string states = States();
      if (SaveRelayState(kCheckState) != 0 || RecallRelayState(kCheckState) != 0) {
        Fail("state round trip", states);
      }
      if (States() != states) Fail("the relays changed through save and recall", states);
      break;
    }
  }
  return 0;
}
