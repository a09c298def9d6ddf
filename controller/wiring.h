// The controller's wiring unit: the one place where the subsystems are connected to
// one another. The engine receives the command tree; every late-bound seam (the
// command channels' program-message engine, the slot notification broadcast, and
// those the subsystems above the cards connect as they land) is set here.
#pragma once

// Connects everything once, at start-up, before any thread that could use it runs.
void ConnectController();
