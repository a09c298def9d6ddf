// Fuzz target for the recall of the stored scan list: the input is the scan-list file,
// recalled onto the default cage with two named paths defined. A recall either keeps
// the old list or installs one whose channels its cards accept and whose paths exist;
// storing that list and recalling it gives the same list back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cards/card_manager.h"
#include "core/stored_file.h"
#include "fuzz/switching_cage.h"
#include "scanning/scan_list.h"
#include "switching/paths.h"

namespace {

constexpr std::size_t kLongestInput = 64 * 1024;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "scan_list: %s: %s\n", what, detail.c_str());
  std::abort();
}

// The scan list as ROUTe:SCAN? would show it (unbounded), after checking it.
std::string Listed() {
  const ChannelList* list = ScanList();
  if (list == nullptr) return "";
  if (list->close.empty()) Fail("an empty list was installed", "");
  for (const ChannelListElement& element : list->close) {
    if (element.path != 0) {
      if (FindPathChannels(element.name.c_str()) == nullptr) Fail("an undefined path", element.name);
    } else if (!IsCardPresent(element.slot) ||
               CardChannelToIndex(element.slot, element.channel, 0) < 0) {
      Fail("a channel its card refuses", std::to_string(element.channel));
    }
  }
  std::string text(16 + 300 * list->close.size(), '\0');
  BuildChannelListText(list->close, text.data(), text.size());
  text.resize(std::char_traits<char>::length(text.c_str()));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallSwitchingCage();
  ConnectPathTable();
  if (DefinePath("FEED", "(@1(100),1(101))", "(@1(102))") != 0 ||
      DefinePath("P2", "(@2(0))", nullptr) != 0) {
    Fail("the paths", "");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  const std::string contents(reinterpret_cast<const char*>(data), size);
  if (ReplaceStoredFile("/mnt/nonv/scanlists/scanlist.scn", contents) != 0) Fail("the file", "");
  ReplaceScanList(nullptr, false);
  RecallScanList();
  const std::string listed = Listed();
  if (StoreScanList() != 0) Fail("the store failed", listed);
  ReplaceScanList(nullptr, false);
  if (RecallScanList() != 0) Fail("the stored list did not recall", listed);
  if (Listed() != listed) Fail("the list changed through store and recall", listed);
  return 0;
}
