// Fuzz target for the recall of a stored interlock list: the input is the list file,
// recalled onto the default cage on the exclude side. Whatever the file holds, the
// groups that result must be whole (two or more members, each member's record pointing
// at its own group, no relay in two groups), and storing them and recalling the stored
// file must give the same groups back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <set>
#include <string>

#include "core/stored_file.h"
#include "fuzz/switching_cage.h"
#include "switching/interlocks.h"

namespace {

constexpr std::size_t kLongestInput = 64 * 1024;
constexpr InterlockSide kSide = InterlockSide::kExclude;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "interlock_list: %s: %s\n", what, detail.c_str());
  std::abort();
}

// The groups as listed, after checking every relay of the cage and every group.
std::string CheckedGroups() {
  std::set<const InterlockGroup*> groups;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (!IsCardPresent(slot)) continue;
    const int32_t count = CardChannelCount(slot, 0);
    int32_t channel = CardFirstChannel(slot, 0);
    for (int32_t i = 0; i < count && channel >= 0; ++i) {
      if (const InterlockGroup* group = InterlockGroupOf(kSide, slot, channel)) {
        groups.insert(group);
        if (std::find(group->members.begin(), group->members.end(), RelayRef{slot, channel}) ==
            group->members.end()) {
          Fail("a relay points at a group without it", "");
        }
      }
      channel = CardNextChannel(slot, channel, 0);
    }
  }
  for (const InterlockGroup* group : groups) {
    if (group->members.size() < 2) Fail("a group of one", "");
    for (const RelayRef& member : group->members) {
      if (InterlockGroupOf(kSide, member.slot, member.channel) != group) {
        Fail("a member outside its group", "");
      }
    }
  }
  std::string listed;
  ListInterlockGroups(kSide, nullptr, &listed);
  return listed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallSwitchingCage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  const std::string contents(reinterpret_cast<const char*>(data), size);
  if (ReplaceStoredFile(InterlockListFile(kSide), contents) != 0) Fail("the file", "");
  RecallInterlockList(kSide);
  const std::string groups = CheckedGroups();
  if (StoreInterlockList(kSide) != 0) Fail("the store failed", groups);
  if (RecallInterlockList(kSide) != 0) Fail("the stored list did not recall", groups);
  if (CheckedGroups() != groups) Fail("the groups changed through store and recall", groups);
  DeleteAllInterlockGroups(kSide);
  return 0;
}
