// Fixed paths, machine-global names, TCP ports and the listening address.
//
// The firmware refers to its files and devices by the paths the board uses
// ("/mnt/nonv/...", "/tmp/...", "/etc/sysinfo", "/dev/..."). On the board they are
// used as written. On a PC the environment variable CHASSIS_ROOT names a folder under
// which every such path lives, so that several virtual chassis can run side by side;
// names that are global to the machine (POSIX shared memory and the like) then carry a
// suffix derived from that root. Code never opens a fixed path without ResolvePath().
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// The folder every fixed path is resolved under: CHASSIS_ROOT without trailing '/'
// (made absolute when given relative), or empty when unset, empty or "/" (the board).
std::string Root();

// `fixed_path` as this process must open it: the root joined with the absolute path
// when a root is set, else the path unchanged. Relative paths are never rewritten.
std::string ResolvePath(std::string_view fixed_path);

// A machine-global name (for example the shared memory name "/instshm") made unique to
// this root: unchanged without a root; otherwise a short suffix derived from the root is
// appended. A leading '/' is kept, and the result stays a valid POSIX shm name (one
// leading '/', no other '/', at most 255 characters).
std::string GlobalName(std::string_view name);

// Default first TCP port; the three servers listen on base, base+1 and base+2.
inline constexpr uint16_t kDefaultPortBase = 4444;

// CHASSIS_PORT_BASE when it is a decimal number from 1 to 65533, else kDefaultPortBase
// (a bad value is ignored, so the chassis still comes up on its usual ports).
uint16_t PortBase();

// The three service ports: commands (base), events (base+1), raw transfers (base+2).
uint16_t CommandPort();
uint16_t EventPort();
uint16_t RawPort();
// The web server's port: 80 on the board (no root); on a virtual chassis the first it
// tries is base+8, after the ports of the LAN server's protocols (never past 65535).
uint16_t WebPort();

// CHASSIS_BIND_ADDR when it is a valid dotted IPv4 address, else "0.0.0.0" (any).
std::string BindAddress();

// Formats a command text whose fixed paths must be resolved. Each "%p" in `pattern`
// takes the next path of `paths` passed through ResolvePath(); "%%" is a literal '%'.
// Any other character is copied. Missing paths format as empty text.
std::string FormatCommand(std::string_view pattern,
                          std::initializer_list<std::string_view> paths);

}  // namespace platform
