// The instrument reset (see system_reset.h).
#include "switching/system_reset.h"

#include "cards/card_manager.h"
#include "core/seam.h"
#include "devices/fpga_registers.h"
#include "devices/slots.h"
#include "hardware/fpga_utils.h"
#include "switching/interlocks.h"
#include "switching/paths.h"

namespace {

Seam<void(bool)> g_scan_reset_steps;

constexpr uint32_t kAllOnes16 = 0xFFFF;
constexpr double kResetDelayTimerSeconds = 1.0;

}  // namespace

void SetScanResetSteps(ScanResetSteps steps) { g_scan_reset_steps.Connect(steps); }

int32_t SystemReset(ResetForm form) {
  const bool full = form == ResetForm::kFull;
  if (ScanResetSteps steps = g_scan_reset_steps.function();
      steps != nullptr && form != ResetForm::kPowerOn) {
    steps(full);
  }
  int32_t first_failure = SetFPGARegisterDefaults();
  auto keep = [&first_failure](int32_t result) {
    if (result != 0 && first_failure == 0) first_failure = result;
  };
  keep(SetDelayTimer(kResetDelayTimerSeconds));
  keep(WriteFPGAregister(kFpgaResetMask, kAllOnes16));
  keep(PulseCardReset());
  if (full) {
    DeleteAllInterlockGroups(InterlockSide::kInclude);
    DeleteAllInterlockGroups(InterlockSide::kExclude);
    DeleteAllPaths();
  }
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (IsCardPresent(slot)) keep(CardReset(slot));
  }
  return first_failure;
}
