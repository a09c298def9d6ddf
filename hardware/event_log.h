// The chassis event log: a short list of time-stamped chassis events (power-on,
// power-down, card interrupts nobody handles, recall problems) kept in memory and
// rewritten whole to "/mnt/nonv/events/eventlist.evt" after every change, so that it
// survives a restart. A power-down goes to its own one-line file
// "/mnt/nonv/events/eventlist.pdn" first, because at that moment a full rewrite may not
// finish; the next start-up folds it into the log. Also the four SYSTem:EVENt handlers.
//
// The log is written by the command threads and by the event monitor thread, so one
// lock guards the entries and their files. Files are written to a temporary name and
// renamed over the old one, so a crash mid-write leaves the previous file whole.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandContext;

inline constexpr int32_t kEventLogCapacity = 50;
inline constexpr std::size_t kEventTextSize = 256;  // 255 characters and the NUL
// "%d,%s" of an entry, or the "is not valid" text, with the NUL.
inline constexpr std::size_t kEventReplySize = kEventTextSize + 16;

inline constexpr const char* kEventLogDirectory = "/mnt/nonv/events";
inline constexpr const char* kEventLogFile = "/mnt/nonv/events/eventlist.evt";
inline constexpr const char* kPowerDownFile = "/mnt/nonv/events/eventlist.pdn";

struct EventLogEntry {
  int32_t year;  // four digits
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  char text[kEventTextSize];
};

// Fills the date and time fields of an entry; 0 or a negative code. The default reads
// the FPGA clock; tests put their own clock in place.
using EventClockFunction = int (*)(EventLogEntry* stamp);
int ReadFPGAEventClock(EventLogEntry* stamp);
// A null clock restores the FPGA clock.
void SetEventClock(EventClockFunction clock);

// Appends an entry stamped now and saves the log. The 50th entry reads "Queue
// overflow" instead of the event's text and later events are dropped until entries are
// deleted. Text beyond 255 characters is cut; line breaks, which would split the
// entry's line in the file, are dropped at the end and become spaces inside. Always 0:
// the in-memory log stays updated even when the save fails.
int32_t LogEvent(const char* text);
// While the log has room: stamps the power-down entry and writes the power-down file.
// 0, or err::kEventListStoreFailed when the file could not be written.
int32_t LogPowerDownEvent(const char* text);

// "%d,%s" with n and entry n's text for 1 <= n <= count, else "%d,Event %d is not
// valid". out holds kEventReplySize bytes.
void GetEvent(int32_t n, char* out);
int32_t GetEventCount();
// Removes entry n (1 .. count) and saves; any other n does nothing. 0 or the save's code.
int32_t DeleteEvent(int32_t n);
// Empties the log and saves. 0 or the save's code.
int32_t ClearEventLog();

// Start-up: reads the log file. err::kEventListRecallFailed when it is missing or
// damaged; a damaged file keeps the entries before its first bad line.
int32_t LoadEventLog();
// Start-up, after the load: moves a waiting power-down entry into the log (as "Queue
// overflow" when it takes the 50th place) and deletes its file. 0 without a file or
// with a full log; err::kEventListRecallFailed when the file cannot be read (it stays);
// the save's code when the log could not be saved (the file stays, so the entry is
// not lost); -1 when the file could not be deleted.
int32_t FoldPowerDownEvent();
// The start-up sequence: load, fold the power-down entry, log "Power-on".
void StartEventLog();

// SYSTem:EVENt? <n>
int32_t SYST_EVENTQuery_DoContextValidation(CommandContext* context);
int32_t SYST_EVENTQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:EVENt:COUNt?
int32_t SYST_EVENT_COUNTQuery_DoContextValidation(CommandContext* context);
int32_t SYST_EVENT_COUNTQuery_DoExecutionConclusion(CommandContext* context);
// SYSTem:EVENt:CLEar <n>
int32_t SYST_EVENT_CLEAR_DoContextValidation(CommandContext* context);
int32_t SYST_EVENT_CLEAR_DoExecutionConclusion(CommandContext* context);
// SYSTem:EVENt:CLEar:ALL
int32_t SYST_EVENT_CLEAR_ALL_DoContextValidation(CommandContext* context);
int32_t SYST_EVENT_CLEAR_ALL_DoExecutionConclusion(CommandContext* context);
