// The chassis fans and the bus-board fan, each regulated from the controller board's
// temperature sensors by its own loop: every 5 seconds the mean temperature is compared
// with the loop's threshold (a small text file), with 5 degrees of hysteresis. Above
// the threshold the fans go on (the chassis fans forced on through the fan device, the
// bus-board fan by its FPGA control bit); below threshold - 5 they go back (automatic
// control, off); in between they stay as they are. A diagnostic override keeps the
// chassis fans forced on.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr const char* kFanThresholdFile = "/mnt/nonv/config/fan/temp_threshold";
inline constexpr const char* kGpibFanThresholdFile = "/mnt/nonv/config/fan/gpib_temp_threshold";
inline constexpr int32_t kDefaultFanThreshold = 70;
inline constexpr int32_t kDefaultGpibFanThreshold = 38;
inline constexpr int32_t kFanHysteresis = 5;
inline constexpr int32_t kLargestFanThreshold = 9999999;
inline constexpr int kFanPeriodSeconds = 5;

// The fan device's two requests on an open descriptor. 0, or -1 after the system error.
int FansOn(int fan_fd);
int FansAuto(int fan_fd);

// The override of the chassis fans (off at start).
void SetFanOverride(bool on);
// What the chassis fans were last told (-1 nothing yet, 0 automatic, 1 forced on), and
// the bus-board fan's state (-1 never switched, 0 off, 1 on).
int ChassisFansState();
int GpibFanState();
bool FanOverride();

// The threshold a file's text gives: its first 7 characters as a decimal number, or
// `fallback` when they hold none.
int32_t ParseFanThreshold(std::string_view text, int32_t fallback);
// The stored thresholds, or their defaults (70 and 38) when the file cannot be read.
int32_t FanTempThreshold();
int32_t GpibFanTempThreshold();
// Stores a threshold as decimal text. 0; -1 after the "too large" line for a value
// above 9,999,999, or when the file could not be written.
int SetFanTempThreshold(int32_t degrees);
int SetGpibFanTempThreshold(int32_t degrees);

// One decision of the chassis fan loop. 0, or -1 when FansOn or FansAuto failed on a
// temperature decision (the loop then ends); under the override a failure is reported
// and the loop goes on.
int FanControlStep(int fan_fd);
// One decision of the bus-board fan loop.
void GpibFanControlStep();
// Switches the bus-board fan by read-modify-write of its FPGA bit, only when `on`
// differs from the last state written (the first call always writes). 0, or the
// register access' error.
int SetGpibFan(bool on);
// Forgets the last written state and the override, as a fresh process has none.
void ResetFansForTest();

// Makes the wait between decisions end at once on the stop: an eventfd that the stop
// signals (a signal alone could land while a loop is between decisions and be missed).
// Call once, before the loops start. 0, or -1 when no eventfd could be made (the wait
// then ends only on the stop's signal or after the period).
int PrepareFanLoopWake();
// The wait between decisions (5 s, or until the stop); tests put their own in place.
// Null restores it.
using FanPeriodWait = void (*)();
void SetFanPeriodWaitForTest(FanPeriodWait wait);

// Thread bodies: the decisions, one per period, while the running flag is set.
// FanControlLoop returns -1 (as its result pointer) when the fan device cannot be
// opened or a fan request fails, else 0.
void* FanControlLoop(void*);
void* GpibFanControlLoop(void*);
