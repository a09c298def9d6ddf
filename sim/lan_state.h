// The simulated Ethernet interface eth0 of a virtual chassis. The stand-in network
// tools (ifconfig, route, dhclient, sysctl, lanstatind, the discovery service, ...)
// keep its state under the root as one value per file, without a line end, in
// "<root>/sim/lan/" (the folder of LanStateFolder()); each file is replaced whole. This
// unit reads that state for `vchassis lan` and writes what a person or a test changes
// around the interface: the cable, the DHCP server's answer, another host that
// answers for an address. A missing file holds its default (LanState's initial values).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The state folder under a chassis' FRAM folder ("<root>/sim").
std::string LanStateFolder(const std::string& fram_folder);

struct LanState {
  std::string link = "down";        // up, down: the interface is configured up
  std::string cable = "plugged";    // plugged, unplugged
  std::string address;              // dotted IPv4, or empty
  std::string netmask;
  std::string gateway;              // the default route's gateway
  std::string mac;                  // "00:5A:7C:01:02:03", or empty
  std::string dhcp = "stopped";     // running, stopped: the DHCP client
  std::string lease = "lease";      // lease, none: whether the DHCP server grants one
  std::string indicator = "off";    // normal, fault, off, blink
  std::string ping;                 // the last net.ipv4.icmp_echo_ignore_all value
  std::string keepalive;            // the last net.ipv4.tcp_keepalive_time value
  std::string hostname;             // what the discovery service published
  std::string service;
  std::string web = "stopped";      // running, stopped
  std::vector<std::string> duplicates;  // addresses another host answers for
};

// Reads the state whole; a missing or unreadable file leaves its default.
LanState ReadLanState(const std::string& folder);

// Replaces the file of `key` with `value` (creating the folder when missing). 0, or -1
// with *error.
int WriteLanValue(const std::string& folder, const std::string& key, const std::string& value,
                  std::string* error);

// Adds `address` to the duplicates unless it is there already (*added says which).
// 0, or -1 with *error.
int AddDuplicateAddress(const std::string& folder, const std::string& address, bool* added,
                        std::string* error);

// Whether the discovery service of the root CHASSIS_ROOT names runs: its pid file
// names a live process whose command line holds that root.
bool DiscoveryServiceRunning();

// "%d.%d.%d.%d" with four numbers 0..255 that print back as the same text.
bool IsDottedIpv4(std::string_view text);

// The `vchassis lan` answer: "key: value" lines (link, address, netmask, gateway,
// mac, dhcp, indicator, ping, keepalive, mdns, hostname, service, web), an empty
// value as "none", without a line end after the last.
std::string DescribeLan(const LanState& state, bool discovery_running);

}  // namespace sim
