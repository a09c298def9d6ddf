// Fuzz target for the reload of the chassis event log: the input is what start-up
// finds on the flash, written under a temporary chassis root before the load. Up to
// the first form feed it is the log file; the rest, when there is a form feed, is the
// power-down file that start-up folds into the log. Whatever was loaded must survive
// the next save and a second load unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "hardware/event_log.h"
#include "platform/paths.h"
#include "platform/test_support.h"

namespace {

// Longer inputs say nothing new about a 50-line file and only slow the run down.
constexpr std::size_t kLongestInput = 64 * 1024;

void Fail(const char* what) {
  std::fprintf(stderr, "event_log: %s\n", what);
  std::abort();
}

int FixedClock(EventLogEntry* stamp) {
  stamp->year = 2026;
  stamp->month = 3;
  stamp->day = 7;
  stamp->hour = 9;
  stamp->minute = 5;
  stamp->second = 0;
  return 0;
}

void WriteFile(const char* fixed_path, std::string_view bytes) {
  std::FILE* file = std::fopen(platform::ResolvePath(fixed_path).c_str(), "wb");
  if (file == nullptr) Fail("cannot write the stored file");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    Fail("short write of the stored file");
  }
  std::fclose(file);
}

std::vector<std::string> Entries() {
  std::vector<std::string> entries;
  const int32_t count = GetEventCount();
  if (count < 0 || count > kEventLogCapacity) Fail("event count outside 0 .. 50");
  char reply[kEventReplySize];
  for (int32_t n = 1; n <= count; ++n) {
    GetEvent(n, reply);
    if (std::strchr(reply, '\n') != nullptr) Fail("an entry holding a line feed");
    entries.emplace_back(reply);
  }
  return entries;
}

platform::TempFolder* g_root = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_root = new platform::TempFolder;
  if (g_root->path().empty()) Fail("no temporary root");
  setenv("CHASSIS_ROOT", g_root->path().c_str(), 1);
  std::filesystem::create_directories(platform::ResolvePath(kEventLogDirectory));
  SetEventClock(FixedClock);
  std::atexit([] { delete g_root; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t form_feed = input.find('\f');
  WriteFile(kEventLogFile, input.substr(0, form_feed));
  std::remove(platform::ResolvePath(kPowerDownFile).c_str());
  if (form_feed != std::string_view::npos) WriteFile(kPowerDownFile, input.substr(form_feed + 1));

  LoadEventLog();
  FoldPowerDownEvent();
  const std::vector<std::string> loaded = Entries();

  // The next change saves the log: one more event, or, in a full log (which drops new
  // events unsaved), the deletion of its last entry. The reload gives back the rest.
  std::size_t kept = loaded.size();
  if (kept < kEventLogCapacity) {
    LogEvent("Power-on");
  } else {
    DeleteEvent(kEventLogCapacity);
    --kept;
  }
  if (LoadEventLog() != 0) Fail("the saved log does not load");
  const std::vector<std::string> reloaded = Entries();
  const std::size_t expected = loaded.size() < kEventLogCapacity ? kept + 1 : kept;
  if (reloaded.size() != expected) Fail("the reload has another number of entries");
  for (std::size_t i = 0; i < kept; ++i) {
    if (reloaded[i] != loaded[i]) Fail("an entry changed through save and reload");
  }
  return 0;
}
