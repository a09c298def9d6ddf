// `vchassis watch`: a live view of a running virtual chassis in the terminal. One row
// per slot with its model and its energised relays (by drive bit) or, for a digital
// card, its ports' bytes; then the fans, the LAN and the trigger output. The view is
// redrawn when it changes, fits an 80-column terminal, and leaves the terminal as it
// found it when Ctrl-C (or SIGTERM, SIGHUP) ends it.
#pragma once

#include <string>

namespace sim {

inline constexpr int kWatchColumns = 80;

// One frame of the chassis CHASSIS_ROOT names, each line at most kWatchColumns wide.
// 0, or -1 with the reason (one line) in *frame when the chassis cannot be reached.
int WatchFrame(std::string* frame);

// `once`: prints one frame and returns 0 (1 when the chassis cannot be reached).
// Otherwise redraws until a stop signal, then restores the terminal; 0.
int Watch(bool once);

}  // namespace sim
