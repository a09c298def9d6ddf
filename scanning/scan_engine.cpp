// Trigger settings, scan compilation and execution (see scan_engine.h).
#include "scanning/scan_engine.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/seam.h"
#include "devices/fpga_registers.h"
#include "hardware/delay.h"
#include "hardware/fpga_utils.h"
#include "scanning/scan_list.h"
#include "scpi/error_codes.h"
#include "scpi/status.h"
#include "switching/relay_operations.h"

namespace {

// OPERation condition bits of the scan.
constexpr uint16_t kWaitingForTrigger = 0x20;  // bit 5: initiated, waiting for a trigger
constexpr uint16_t kScanEnded = 0x40;          // bit 6: the scan stopped
constexpr uint16_t kAllOperationBits = 0x7FFF;
constexpr double kTicksPerSecond = 10000000.0;  // delays are held as multiples of 100 ns

struct Settings {
  TriggerSource source = TriggerSource::kImmediate;
  int32_t count = 1;
  double delay = 0;
  bool output = true;  // on at power-up, off after a reset
  double output_delay = 0;
  bool continuous = false;
};

struct RunState {
  bool running = false;
  int64_t remaining = 0;
  std::vector<ScanStep> steps;
  bool compiled = false;
  std::size_t current = 0;
  int64_t executed = 0;
  RelayRefs last_close;  // the last element's close set, opened again on wrapping
};

Settings g_settings;
RunState g_run;
Seam<void(bool)> g_scan_event_notice;

void Announce(bool started) {
  if (ScanEventNotice notice = g_scan_event_notice.function()) notice(started);
}

double RoundedDelay(double seconds) {
  seconds = std::clamp(seconds, 0.0, kTriggerDelayMax);
  return std::floor(seconds * kTicksPerSecond + 0.5) / kTicksPerSecond;
}

uint32_t WholeMicroseconds(double seconds) {
  return static_cast<uint32_t>(seconds * 1000000.0);
}

// Sets or clears the trigger routing bit of the control register; a failed read or
// write is tried once more.
int RouteExternalTrigger(bool armed) {
  int result = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t control = 0;
    result = ReadFPGAregister(kFpgaControl, &control);
    if (result == 0) {
      const uint32_t wanted =
          armed ? control | kFpgaControlTrigger : control & ~kFpgaControlTrigger;
      result = WriteFPGAregister(kFpgaControl, wanted);
    }
    if (result == 0) break;
  }
  return result;
}

// The external trigger input armed with the trigger delay (on the delay timer), or
// disarmed.
void ArmExternalTrigger(bool armed) {
  if (armed) SetDelayTimer(g_settings.delay);
  RouteExternalTrigger(armed);
}

void ClearSteps() {
  g_run.steps.clear();
  g_run.compiled = false;
  g_run.last_close.clear();
}

// One step of the initiated scan, as a counted trigger and TRIGger run it.
int32_t ExecuteStep() {
  if (!g_run.compiled || g_run.steps.empty()) return 0;
  const ScanStep& step = g_run.steps[g_run.current];
  int32_t first = 0;
  auto keep = [&first](int32_t result) {
    if (result != 0 && first == 0) first = result;
  };
  if (g_run.current == 0 && g_run.executed > 0) keep(SetPendingList(g_run.last_close, 0));
  keep(SetPendingList(step.open, 0));
  const int32_t opened = CommitRelays();
  keep(opened);
  keep(SetPendingList(step.close, 1));
  const int32_t closed = CommitRelays();
  const int32_t triggered = PulseAfterSwitching();
  ++g_run.executed;
  g_run.current = (g_run.current + 1) % g_run.steps.size();
  if (first != 0) return first;
  return closed != 0 ? closed : triggered;
}

}  // namespace

// ---- Settings --------------------------------------------------------------------------

void SetTriggerSource(TriggerSource source) { g_settings.source = source; }
TriggerSource GetTriggerSource() { return g_settings.source; }
void SetTriggerCount(int64_t count) {
  g_settings.count = static_cast<int32_t>(std::clamp<int64_t>(count, 1, kTriggerCountMax));
}
int32_t TriggerCount() { return g_settings.count; }
void SetTriggerDelay(double seconds) { g_settings.delay = RoundedDelay(seconds); }
double TriggerDelay() { return g_settings.delay; }
void SetOutputTriggerState(bool on) { g_settings.output = on; }
bool OutputTriggerState() { return g_settings.output; }
void SetOutputTriggerDelay(double seconds) { g_settings.output_delay = RoundedDelay(seconds); }
double OutputTriggerDelay() { return g_settings.output_delay; }
void SetContinuous(bool on) { g_settings.continuous = on; }
bool Continuous() { return g_settings.continuous; }

// ---- Compilation -----------------------------------------------------------------------

int32_t CompileScanList(std::vector<ScanStep>* steps, RelayRefs* last_close) {
  steps->clear();
  last_close->clear();
  const ChannelList* list = ScanList();
  if (list == nullptr) return 0;
  try {
    RelayRefs previous;
    bool has_previous = false;
    for (const ChannelListElement& element : list->close) {
      RelayRefs close_refs;
      RelayRefs open_refs;
      if (element.path != 0) {
        if (element.path_lists != nullptr) {
          close_refs = ToRelayRefs(element.path_lists->close);
          open_refs = ToRelayRefs(element.path_lists->open);
        }
      } else {
        close_refs.push_back({element.slot, element.channel});
      }
      RelayRefs close = IncludeClosure(std::move(close_refs));
      RelayRefs open = IncludeClosure(std::move(open_refs));
      const RelayRefs excluded = ExcludeSet(close);
      open.insert(open.end(), excluded.begin(), excluded.end());
      open = DedupeRefs(std::move(open));
      close = SubtractRefs(open, std::move(close));
      ScanStep step;
      if (has_previous) {
        step.close = SubtractRefs(previous, close);
        RelayRefs opening = open;
        const RelayRefs left_behind = SubtractRefs(close, previous);
        opening.insert(opening.end(), left_behind.begin(), left_behind.end());
        step.open = DedupeRefs(std::move(opening));
      } else {
        step.close = close;
        step.open = open;
      }
      steps->push_back(std::move(step));
      previous = std::move(close);
      has_previous = true;
    }
    *last_close = std::move(previous);
  } catch (const std::bad_alloc&) {
    steps->clear();
    last_close->clear();
    return err::kOutOfNamedMemory;
  }
  return 0;
}

// ---- Running ---------------------------------------------------------------------------

bool ScanInitiated() { return g_run.running; }

namespace {

// Compiles the scan list to be stepped from its first element; the caller has checked
// that a list exists. 0 or the compilation's failure.
int32_t CompileSteps() {
  ClearSteps();
  const int32_t compiled = CompileScanList(&g_run.steps, &g_run.last_close);
  if (compiled != 0) {
    ClearSteps();
    return compiled;
  }
  g_run.compiled = true;
  g_run.current = 0;
  g_run.executed = 0;
  return 0;
}

// The same, with the trigger count started anew.
int32_t BeginSteps() {
  g_run.remaining = g_settings.count;
  return CompileSteps();
}

}  // namespace

int32_t InitiateScan() {
  if (g_run.running) return err::kProgramCurrentlyRunning;
  g_run.remaining = g_settings.count;
  ClearConditionBits(StatusRegister::kOperation, kScanEnded);
  if (ScanList() == nullptr) {
    ClearConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
    return 0;
  }
  const int32_t begun = BeginSteps();
  if (begun != 0) return begun;
  ArmExternalTrigger(g_settings.source == TriggerSource::kExternal);
  if (g_settings.output) {
    WriteFPGAregister(kFpgaTriggerOutputDelay, WholeMicroseconds(g_settings.output_delay));
  }
  g_run.running = true;
  ClearConditionBits(StatusRegister::kOperation, kScanEnded);
  SetConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
  Announce(true);
  return 0;
}

void StopScan() {
  if (!g_run.running) return;
  g_run.running = false;
  ArmExternalTrigger(false);
  ClearConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
  SetConditionBits(StatusRegister::kOperation, kScanEnded);
  Announce(false);
}

void AbortScan() {
  g_run.executed = 0;
  if (ScanList() != nullptr) {
    ClearConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
    SetConditionBits(StatusRegister::kOperation, kScanEnded);
  }
  StopScan();
}

int32_t CountedTrigger(TriggerSource from) {
  if (!g_run.running || g_settings.source != from || ScanList() == nullptr || !g_run.compiled ||
      g_run.remaining < 1) {
    return 0;
  }
  ClearConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
  if (g_settings.delay > 0) DelayMicroseconds(WholeMicroseconds(g_settings.delay));
  const int32_t result = ExecuteStep();
  if (--g_run.remaining <= 0) {
    StopScan();
  } else {
    SetConditionBits(StatusRegister::kOperation, kWaitingForTrigger);
  }
  return result;
}

void ImmediateTrigger() {
  ClearConditionBits(StatusRegister::kOperation, kWaitingForTrigger | kScanEnded);
  if (!g_run.running || ScanList() == nullptr || !g_run.compiled) return;
  if (g_settings.delay > 0) DelayMicroseconds(WholeMicroseconds(g_settings.delay));
  const bool continuous = g_settings.continuous;
  g_settings.continuous = true;  // forced on for the step, as TRIGger does
  ExecuteStep();
  g_settings.continuous = continuous;
}

int32_t PulseAfterSwitching() {
  if (!g_settings.output) return 0;
  if (g_settings.output_delay > 0) DelayMicroseconds(WholeMicroseconds(g_settings.output_delay));
  return WriteFPGAregister(kFpgaTriggerOutputPulse, 1);
}

void StepOnExternalTrigger() { CountedTrigger(TriggerSource::kExternal); }

void ResetScanning(bool full) {
  StopScan();
  g_settings.source = TriggerSource::kImmediate;
  g_settings.count = 1;
  g_settings.delay = 0;
  g_settings.output = false;
  g_settings.output_delay = 0;
  ClearConditionBits(StatusRegister::kOperation, kAllOperationBits);
  if (full) ReplaceScanList(nullptr, false);
}

void ScanListReplaced(bool restart) {
  ClearSteps();
  g_run.executed = 0;
  if (!g_run.running) return;
  // An initiated scan goes on from the first step of the new list, announced once: it
  // never stopped. A new list restarts it (its trigger count anew); a recalled one is
  // stepped from the next trigger with the count it has left. Without a list it has
  // nothing to step, and ends.
  if (ScanList() != nullptr && (restart ? BeginSteps() : CompileSteps()) == 0) return;
  StopScan();
}

void SetScanEventNotice(ScanEventNotice notice) { g_scan_event_notice.Connect(notice); }

void ResetScanEngineForTest() {
  g_run.running = false;
  ClearSteps();
  g_run.executed = 0;
  g_run.remaining = 0;
  g_settings = Settings{};
}
