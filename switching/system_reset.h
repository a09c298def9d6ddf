// The instrument reset that *RST, *TST?, SYSTem:PRESet and power-on share:
//   1-4. the scan's steps (stop a running scan, timing and trigger settings to their
//        reset values, the bus-trigger wait and the OPERation bits cleared), which the
//        scanning work connects; none until then;
//   5.   the FPGA register defaults, the delay timer at 1 s, 0xFFFF to the reset mask
//        register, and a pulse of the cards' reset line (0, 100 ms, 0xFFFF, 100 ms);
//   6.   in the full form only (*RST): the scan list released, the interlock groups
//        dissolved and the named paths deleted;
//   7.   every installed card's own reset (its relays open, its relay mode BBM; each
//        card announces its relay change).
#pragma once

#include <cstdint>

enum class ResetForm {
  kFull,     // *RST
  kBasic,    // SYSTem:PRESet, *TST?: without step 6
  kPowerOn,  // the card scan's restore: steps 5 and 7 only, so that the trigger
             // settings keep their power-up values (the output trigger on)
};

// The first failure of its steps, or 0.
int32_t SystemReset(ResetForm form);

// Steps 1 to 4, and the scan-list release of step 6 (full is true for *RST).
using ScanResetSteps = void (*)(bool full);
void SetScanResetSteps(ScanResetSteps steps);
