// Fuzz target for the recall of the stored path definitions: the input is the
// definitions file, recalled onto the default cage. Every path the recall keeps must
// name only channels its cards accept, and storing the table and recalling the stored
// file must give the same paths back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cards/card_manager.h"
#include "core/stored_file.h"
#include "fuzz/switching_cage.h"
#include "switching/paths.h"

namespace {

constexpr std::size_t kLongestInput = 64 * 1024;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "path_file: %s: %s\n", what, detail.c_str());
  std::abort();
}

// Every path's name and definition, checking each channel on the way.
std::string Table() {
  std::string table;
  for (const char* name = FirstPathName(); name != nullptr; name = NextPathName()) {
    const ChannelList* lists = FindPathChannels(name);
    if (lists == nullptr) Fail("a listed path cannot be found", name);
    for (const auto* elements : {&lists->close, &lists->open}) {
      for (const ChannelListElement& element : *elements) {
        if (CardChannelToIndex(element.slot, element.channel, 0) < 0) {
          Fail("a path names a channel its card refuses", name);
        }
      }
    }
    std::string definition;
    if (PathDefinitionText(name, &definition) != 0) Fail("no definition", name);
    table += std::string(name) + " " + definition + "\n";
  }
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InstallSwitchingCage();
  ConnectPathTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  const std::string contents(reinterpret_cast<const char*>(data), size);
  if (ReplaceStoredFile("/mnt/nonv/paths/path_defs", contents) != 0) Fail("the file", "");
  DeleteAllPaths();
  RecallPaths();
  const std::string table = Table();
  if (StorePaths() != 0) Fail("the store failed", table);
  DeleteAllPaths();
  if (RecallPaths() != 0) Fail("the stored definitions did not recall", table);
  if (Table() != table) Fail("the paths changed through store and recall", table);
  DeleteAllPaths();
  return 0;
}
