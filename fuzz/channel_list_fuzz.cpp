// Fuzz target for channel lists and module lists against the default cage: the first
// input byte picks the parse (bit 0: paths kept whole, bit 1: the relay-cycle channel
// numbering), the rest is the list text. A parsed list must hold only channels its cards
// accept, no duplicate when paths are expanded, and must come back unchanged from the
// text the list builder writes for it. A module list must name 1 to 12 slots from 1..12.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cards/card_manager.h"
#include "fuzz/switching_cage.h"
#include "switching/channel_list.h"

namespace {

constexpr std::size_t kLongestInput = 16 * 1024;

void Fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "channel_list: %s: %s\n", what, text.c_str());
  std::abort();
}

std::vector<std::pair<int32_t, int32_t>> Channels(const std::vector<ChannelListElement>& list) {
  std::vector<std::pair<int32_t, int32_t>> channels;
  for (const ChannelListElement& element : list) channels.emplace_back(element.slot, element.channel);
  return channels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallSwitchingCage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1 || size > kLongestInput) return 0;
  const bool keep_paths = (data[0] & 1) != 0;
  const uint8_t channel_flag = (data[0] >> 1) & 1;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  ChannelList list;
  const int32_t parsed = ParseChannelList(keep_paths, text.c_str(), nullptr, &list, channel_flag);
  if (parsed != 0 && !(list.close.empty() && list.open.empty())) Fail("a failed parse kept elements", text);
  if (parsed > 0) Fail("a positive result", text);
  if (parsed == 0) {
    std::set<std::pair<int32_t, int32_t>> seen;
    for (const ChannelListElement& element : list.close) {
      if (element.path != 0) {
        if (!keep_paths || element.path_lists == nullptr) Fail("a path element", text);
        continue;
      }
      if (!IsCardPresent(element.slot) || element.index < 0 ||
          CardChannelToIndex(element.slot, element.channel, channel_flag) != element.index) {
        Fail("a channel its card does not accept", text);
      }
      if (!keep_paths && !seen.insert({element.slot, element.channel}).second) {
        Fail("a duplicate", text);
      }
    }
    if (channel_flag == 0) {
      static char built[256 * 1024];
      BuildChannelListText(list.close, built, sizeof built);
      ChannelList back;
      if (ParseChannelList(keep_paths, built, nullptr, &back, 0) != 0 ||
          Channels(back.close) != Channels(list.close)) {
        Fail("the built text does not parse back", text + " -> " + built);
      }
    }
  }

  int32_t modules[kModuleListSize];
  if (ParseModuleList(text.c_str(), modules) == 0) {
    int count = 0;
    for (; modules[count] != 0; ++count) {
      if (count >= kModuleListSize - 2 || modules[count] < 1 || modules[count] > kLastCardSlot) {
        Fail("a module list entry", text);
      }
    }
    if (count == 0) Fail("an empty module list", text);
  }
  return 0;
}
