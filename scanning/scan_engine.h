// Scan execution: the trigger settings, the run state, the compilation of the scan list
// into steps, and the steps themselves.
//
// A step opens what the previous element closed and this one does not need, together
// with this element's own open and exclude relays, then closes what it adds; relays
// shared by consecutive elements stay closed. Counted triggers (*TRG on a BUS source,
// the external trigger input on an EXTernal source) step an initiated scan until its
// count runs out; TRIGger steps it without counting.
//
// The scan runs under the engine's execution lock: commands hold it, and the external
// trigger step takes it (the controller connects that), so that a step never runs
// beside a command.
#pragma once

#include <cstdint>

#include "switching/relay_refs.h"

enum class TriggerSource : int32_t { kImmediate = 0, kBus = 1, kExternal = 2, kHold = 3 };

inline constexpr int32_t kTriggerCountMax = 2000000000;
inline constexpr double kTriggerDelayMax = 10.0;

// ---- Settings ------------------------------------------------------------------------
void SetTriggerSource(TriggerSource source);
TriggerSource GetTriggerSource();
// Clamped to 1..2,000,000,000.
void SetTriggerCount(int64_t count);
int32_t TriggerCount();
// Clamped to 0..10 s and rounded to 100 ns.
void SetTriggerDelay(double seconds);
double TriggerDelay();
void SetOutputTriggerState(bool on);
bool OutputTriggerState();
void SetOutputTriggerDelay(double seconds);
double OutputTriggerDelay();
void SetContinuous(bool on);
bool Continuous();

// ---- Running ---------------------------------------------------------------------------
bool ScanInitiated();
// 0, or -284 while initiated; without a scan list nothing is initiated (0).
int32_t InitiateScan();
// Ends an initiated scan (OPERation bit 5 off, bit 6 on, the end announced).
void StopScan();
// ABORt: the executed-step count cleared; with a scan list, bit 5 off and bit 6 on;
// the scan stopped.
void AbortScan();
// A counted trigger: *TRG on a BUS source, the external trigger on an EXTernal one.
// 0, or the step's failure.
int32_t CountedTrigger(TriggerSource from);
// TRIGger: one step of an initiated scan, not counted; its result is dropped.
void ImmediateTrigger();
// The switch-completion trigger (PulseAfterSwitching): after every scan step and relay command, when the
// output trigger is on, its delay and then a pulse of the trigger output.
int32_t PulseAfterSwitching();
// The external trigger input's step, for the interrupt monitor.
void StepOnExternalTrigger();

// Steps 1 to 4 of the instrument reset (scan stopped, timing and trigger settings to
// their reset values, OPERation bits cleared) and, with `full`, the scan list released.
void ResetScanning(bool full);
// The scan list changed: compiled steps are dropped; an initiated scan steps the new
// list from its first element at the next trigger, with the trigger count started anew
// when `restart` is set and the count it has left when not; an empty list ends it.
void ScanListReplaced(bool restart);

// The steps compiled from the scan list, for tests: each step's open and close sets.
struct ScanStep {
  RelayRefs open;
  RelayRefs close;
};
// Compiles the current scan list into `steps` (the engine's own are untouched). 0, or
// -291 when memory runs out.
int32_t CompileScanList(std::vector<ScanStep>* steps, RelayRefs* last_close);

// Announces a scan's start (true) and end (false) on the event channel.
using ScanEventNotice = void (*)(bool started);
void SetScanEventNotice(ScanEventNotice notice);

// Power-up values of every setting and an idle engine, as a fresh process has them.
void ResetScanEngineForTest();
