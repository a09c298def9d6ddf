// The interrupt monitor: the controller thread that waits for hardware events from the
// chassis bus driver and acts on them: card interrupts go to the cards' handlers, the
// external trigger input is acknowledged and may advance a running scan, a power
// failure goes to its handler. The scan step and the power-fail handler belong to
// other subsystems, which hook themselves in; until they do, those events are read
// (which acknowledges them at the driver) and acknowledged in the FPGA where needed.
#pragma once

#include <cstdint>

// Thread body: runs until the controller stops. Ends at once when the bus driver
// cannot be opened (the chassis then handles no hardware events).
void* MonitorXbusEvents(void* argument);

// Acts on one event code; 0, or the first error of its FPGA accesses.
int32_t HandleXbusEvent(uint32_t code);

// Called for an external trigger, after its acknowledge; it decides whether a scan
// runs that waits for that input. Null: none.
using ExternalTriggerStep = void (*)();
void SetExternalTriggerStep(ExternalTriggerStep step);
// Called for a power-down or power-failure event. Null: none.
using PowerFailHandler = void (*)();
void SetPowerFailHandler(PowerFailHandler handler);
