// The two chassis signals that reach the controller as edges: the front-panel LAN
// configuration reset button, watched by its own thread through "/dev/lci0", and the
// power-fail warning, which the interrupt monitor hands to RecordPowerFailure.
//
// A button press is measured from one edge to the next: held between 5 and 60 seconds
// it resets the LAN configuration (DoLCI); released sooner it does nothing; held 60
// seconds or more, timing starts anew from that late edge.
#pragma once

// The button's state between edges.
struct LciButton {
  int state = 0;          // 0 idle, 1 pressed
  double press_time = 0;  // seconds, when state is 1
};

// What one edge at time `now` (seconds) does to the button: 0, or -1 on an impossible
// state (after the "default case" line). Runs the LAN configuration reset when a press
// of 5 to 60 seconds ends.
int LciButtonEdge(LciButton* button, double now);

// The LAN configuration reset belongs to the LAN layer, which connects it: 0, or
// nonzero on failure. Unconnected, a press does nothing but report the failure.
using LanConfigurationReset = int (*)();
void SetLanConfigurationReset(LanConfigurationReset reset);

// The clock the button loop reads, in seconds: a monotonic clock, so that a change of
// the wall clock during a press does not fake a long or short one. Tests put their own
// in place; null restores it.
using LciClock = double (*)();
void SetLciClockForTest(LciClock clock);

// Thread body: waits for button edges while the running flag is set. Returns -1 (as
// its result pointer) when the device cannot be opened or the state is impossible,
// else 0.
void* LCIMonitorLoop(void*);

// The power-fail event: records "Power down/failure" in the event log's power-down
// file, at most once a second.
void RecordPowerFailure();
// Ends a suppression second at once, as a fresh process has none (tests).
void ResetPowerFailForTest();
