// The chassis event log: entries in memory, the log file and the power-down file, and
// the start-up that reloads them. See event_log.h.
#include "hardware/event_log.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "core/stored_file.h"
#include "hardware/fpga_utils.h"
#include "platform/paths.h"
#include "scpi/error_codes.h"

namespace {

constexpr char kOverflowText[] = "Queue overflow";

// Guards everything below and both files: the command threads and the event monitor
// log at the same time.
std::mutex g_lock;
EventLogEntry g_entries[kEventLogCapacity];
int32_t g_count = 0;
EventLogEntry g_power_down;
EventClockFunction g_clock = ReadFPGAEventClock;

// Copies at most 255 characters of text. Line breaks at the end are dropped and those
// inside become spaces: the file keeps one entry per line.
void CopyEventText(char* out, const char* text) {
  if (text == nullptr) text = "";
  std::size_t length = strnlen(text, kEventTextSize - 1);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  for (std::size_t i = 0; i < length; ++i) {
    out[i] = (text[i] == '\n' || text[i] == '\r') ? ' ' : text[i];
  }
  out[length] = '\0';
}

// A failed clock read leaves the date and time zero; the event is still worth keeping.
void StampEntry(EventLogEntry* entry, const char* text) {
  *entry = EventLogEntry{};
  if (g_clock(entry) != 0) {
    entry->year = entry->month = entry->day = 0;
    entry->hour = entry->minute = entry->second = 0;
  }
  CopyEventText(entry->text, text);
}

// The entry's line in the log file.
std::string EntryLine(const EventLogEntry& entry) {
  char line[kEventTextSize + 64];
  std::snprintf(line, sizeof line, "%d/%d/%d %d:%d:%d,%s\n", entry.year, entry.month, entry.day,
                entry.hour, entry.minute, entry.second, entry.text);
  return line;
}

// "%d/%d/%d %d:%d:%d,<text>" into entry; false unless all six numbers and the comma are
// there. The text may be empty; beyond 255 characters it is cut.
bool ParseEntry(const std::string& line, EventLogEntry* entry) {
  int consumed = 0;
  EventLogEntry parsed{};
  if (std::sscanf(line.c_str(), "%d/%d/%d %d:%d:%d,%n", &parsed.year, &parsed.month, &parsed.day,
                  &parsed.hour, &parsed.minute, &parsed.second, &consumed) != 6 ||
      consumed == 0) {
    return false;
  }
  CopyEventText(parsed.text, line.c_str() + consumed);
  *entry = parsed;
  return true;
}

int32_t SaveLocked() {
  std::string text = "NUMBER OF EVENTS = " + std::to_string(g_count) + "\n";
  for (int32_t i = 0; i < g_count; ++i) text += EntryLine(g_entries[i]);
  return ReplaceStoredFile(kEventLogFile, text) == 0 ? 0 : err::kEventListStoreFailed;
}

// The 50th place holds the overflow marker instead of the event.
void AppendLocked(const EventLogEntry& entry) {
  EventLogEntry& slot = g_entries[g_count];
  slot = entry;
  if (g_count == kEventLogCapacity - 1) CopyEventText(slot.text, kOverflowText);
  ++g_count;
}

}  // namespace

int ReadFPGAEventClock(EventLogEntry* stamp) {
  int result = GetFPGADate(&stamp->year, &stamp->month, &stamp->day);
  if (result != 0) return result;
  return GetFPGATime(&stamp->hour, &stamp->minute, &stamp->second);
}

void SetEventClock(EventClockFunction clock) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_clock = clock != nullptr ? clock : ReadFPGAEventClock;
}

int32_t LogEvent(const char* text) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_count >= kEventLogCapacity) return 0;
  EventLogEntry entry;
  StampEntry(&entry, text);
  AppendLocked(entry);
  SaveLocked();  // the log in memory stays updated either way
  return 0;
}

int32_t LogPowerDownEvent(const char* text) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_count >= kEventLogCapacity) return 0;
  StampEntry(&g_power_down, text);
  return ReplaceStoredFile(kPowerDownFile, EntryLine(g_power_down)) == 0
             ? 0
             : err::kEventListStoreFailed;
}

void GetEvent(int32_t n, char* out) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (n >= 1 && n <= g_count) {
    std::snprintf(out, kEventReplySize, "%d,%s", n, g_entries[n - 1].text);
  } else {
    std::snprintf(out, kEventReplySize, "%d,Event %d is not valid", n, n);
  }
}

int32_t GetEventCount() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_count;
}

int32_t DeleteEvent(int32_t n) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (n < 1 || n > g_count) return 0;
  for (int32_t i = n; i < g_count; ++i) g_entries[i - 1] = g_entries[i];
  --g_count;
  return SaveLocked();
}

int32_t ClearEventLog() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_count = 0;
  return SaveLocked();
}

int32_t LoadEventLog() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_count = 0;
  std::ifstream file(platform::ResolvePath(kEventLogFile));
  if (!file) return err::kEventListRecallFailed;
  std::string line;
  int declared = 0;
  if (!std::getline(file, line) ||
      std::sscanf(line.c_str(), "NUMBER OF EVENTS = %d", &declared) != 1 || declared < 0) {
    return err::kEventListRecallFailed;
  }
  // A count beyond the log's size is damage; the entries that fit are still kept.
  int32_t result = declared > kEventLogCapacity ? err::kEventListRecallFailed : 0;
  int32_t wanted = declared > kEventLogCapacity ? kEventLogCapacity : declared;
  while (g_count < wanted) {
    if (!std::getline(file, line) || !ParseEntry(line, &g_entries[g_count])) {
      return err::kEventListRecallFailed;
    }
    ++g_count;
  }
  return result;
}

int32_t FoldPowerDownEvent() {
  std::lock_guard<std::mutex> guard(g_lock);
  std::string path = platform::ResolvePath(kPowerDownFile);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || g_count >= kEventLogCapacity) return 0;
  std::ifstream file(path);
  std::string line;
  EventLogEntry entry;
  if (!file || !std::getline(file, line) || !ParseEntry(line, &entry)) {
    return err::kEventListRecallFailed;
  }
  AppendLocked(entry);
  int32_t saved = SaveLocked();
  // Without a saved log the power-down file is the entry's only copy on disk.
  if (saved != 0) return saved;
  return std::remove(path.c_str()) == 0 ? 0 : -1;
}

void StartEventLog() {
  LoadEventLog();  // a first start has no log yet
  FoldPowerDownEvent();
  LogEvent("Power-on");
}
