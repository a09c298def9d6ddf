// The board's Ethernet interface "eth0": bring-up with DHCP or a stored static address
// (checked for duplicates), the LAN status indicator, the ping and keepalive settings,
// the DHCP client configuration, the mDNS discovery service and the embedded web
// server. Every action on the system is an outside command run through the command
// runner, with its fixed paths resolved; every value put into a command text has been
// checked against its rule first.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

inline constexpr const char* kLanInterface = "eth0";

// The start-up sequence (at_boot 1), also run by SYSTem:COMMunicate:LAN:RESet (0).
int InitLanOnBootup(int at_boot);
// Brings the interface up in the requested mode (use_current 0) or the mode in effect
// (1); takes it down when the LAN is disabled. 0, or -1.
int ActionUp(int use_current);
// LAN enable: on stores "1" and brings the interface up in the mode in effect; off
// stores "0" and takes it down. 0, or -1.
int LanEnable(int on);
// Web server enable: stores the setting and starts or stops the server. 0, or -1.
int WebEnable(int on);
// The web server the controller started last and expects to run ("/tmp/web_pid", which
// it writes once it serves), or 0 while none is expected.
pid_t WebServerPid();
// Starts the web server again after the expected one (`ended`) ended on its own: only
// while it is enabled and no start or stop replaced it meanwhile. True when it serves.
bool RestartWebServer(pid_t ended);
// The LAN server is left stopped: the LAN indicator shows a fault from now on.
void ShowLanServerStopped();
// The LAN configuration reset of the front-panel button: the factory web user list
// copied over the stored one, then "lanconfig lci". 0, or the command's failure.
int DoLCI();
// The web server's user list, and its factory default that the LAN reset restores.
inline constexpr const char* kWebUsersFile = "/mnt/nonv/appweb/users.db";
int RestoreWebUsers();  // 0, or -1 when the default cannot be read or stored
// Identify: on makes the LAN indicator blink ("lanstatind -b") until it is turned off,
// which checks the link and shows its state again. 0, or -1.
int SetIdentify(bool on);
bool GetIdentify();
// Tells the outside LAN tool the mode ("automatic" or "manual"). 0, or -errno when the
// tool is missing.
int EditLanConfigMode(const char* mode);

// Ping (1 answer echo requests) and keepalive (seconds; 0 is stored as -1): applied
// with sysctl, then stored. 0, or -1.
int lan_set_ping(int on);
int lan_set_keepalive(int32_t seconds);
// Applies a MAC address to the interface ("ifconfig eth0 hw ether ..."). 0, or -1.
int set_mac_address(const uint8_t mac[6]);

// The discovery service: stop it (only processes of this chassis), or start it and
// store the names it resolved. 0, or -1.
int StopDiscoveryService();
int StartDiscoveryService(int already_stopped);

// The published name in one line of the discovery service's log ("Established under
// name '...'"): true and the name when the line holds one.
bool ParseEstablishedName(const std::string& line, std::string* name);

// The interface as it is now. 0 and the text, or -1 when it cannot be read.
int lan_get_live_address(std::string* address);
int lan_get_live_mac(std::string* mac);
int lan_get_live_netmask(std::string* mask);
int lan_get_live_gateway(std::string* gateway);
// The host name to report: the reverse DNS name of the address in effect when the DNS
// server is marked available and the name leads back to the same address, else the
// address itself (empty when there is none). A reverse lookup that fails after more
// than 2 seconds marks the DNS server unavailable, so later calls skip the lookup.
std::string lan_get_reported_hostname();
// The name servers of "/etc/resolv.conf", joined with commas; empty for none.
std::string lan_get_live_dns();

// The waits of the bring-up (the duplicate-address checks a second apart, the
// discovery service's polls); tests put their own in place. Null restores sleep(3).
using LanSleep = void (*)(unsigned seconds);
void SetLanSleepForTest(LanSleep sleeper);
