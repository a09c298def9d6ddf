// Bring-up of the Ethernet interface and the services on it (see lan_config.h).
#include "lan/lan_config.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "core/diag_print.h"
#include "core/stored_file.h"
#include "hardware/fram.h"
#include "lan/identity.h"
#include "lan/lan_settings.h"
#include "lan/nonvol_defaults.h"
#include "lan/serial_number.h"
#include "platform/command_runner.h"
#include "platform/paths.h"

namespace {

constexpr const char* kIfconfigOut = "/tmp/ifconfig.out";
constexpr const char* kRouteOut = "/tmp/route.output";
constexpr const char* kIfplugOut = "/tmp/ifplugstatus.txt";
constexpr const char* kLanDownFile = "/tmp/lan_down_occurred";
constexpr const char* kActiveHostnameFile = "/tmp/lxi-avahi-active-hostname";
constexpr const char* kServiceLog = "/tmp/lxi-avahi-services-service-log";
constexpr const char* kServiceNameFile = "/tmp/service-name";
constexpr const char* kServiceNameCount = "/tmp/service-name-wc";
constexpr const char* kDaemonPidFile = "/tmp/avahi/var/run/avahi-daemon/pid";
constexpr const char* kServicePidFile = "/tmp/avahi/var/run/lxi-service-pid";
constexpr const char* kDiscoveryService = "/tmp/avahi/bin/lxi-avahi-service";
constexpr const char* kResolvConf = "/etc/resolv.conf";
constexpr const char* kEditLanConfig = "/etc/editlanconfig";
constexpr const char* kAppwebFolder = "/etc/appweb";
// Where the web server writes its pid once it serves.
constexpr const char* kWebPidFile = "/tmp/web_pid";
constexpr int kDuplicateChecks = 8;
constexpr unsigned kDiscoveryWaitSeconds = 10;
constexpr auto kSlowLookup = std::chrono::seconds(2);

void SleepSeconds(unsigned seconds) { sleep(seconds); }
std::atomic<LanSleep> lan_sleep{SleepSeconds};
void Wait(unsigned seconds) { lan_sleep.load()(seconds); }

// What system() gave: -1 when it could not run the shell, else the exit status (or
// the raw status for a command killed by a signal).
struct Outcome {
  bool ran;
  int status;
};
Outcome Run(const std::string& command) {
  const int status = platform::RunCommand(command);
  if (status == -1) return {false, -1};
  return {true, WIFEXITED(status) ? WEXITSTATUS(status) : status};
}

std::string Resolved(const char* fixed_path) { return platform::ResolvePath(fixed_path); }

bool FileExists(const char* fixed_path) {
  struct stat info {};
  return stat(Resolved(fixed_path).c_str(), &info) == 0;
}

void RemoveFile(const char* fixed_path) { std::remove(Resolved(fixed_path).c_str()); }

// The first line of a file (without its line feed), at most `most` characters.
bool FirstLine(const char* fixed_path, size_t most, std::string* line) {
  std::ifstream file(Resolved(fixed_path));
  if (!file || !std::getline(file, *line)) return false;
  if (line->size() > most) line->resize(most);
  return true;
}

int Indicator(const char* option, const char* caller) {
  const Outcome outcome = Run(std::string("lanstatind ") + option);
  if (!outcome.ran) {
    std::printf("**ERR: system lanstatind returned %d\n", outcome.status);
    return -1;
  }
  if (outcome.status != 0) std::printf("%s: lanstatind %s returned %d\n", caller, option, outcome.status);
  return outcome.status == 0 ? 0 : -1;
}
// While the instrument identifies itself, the indicator blinks: the link state is
// still checked and recorded, and shown once identify ends.
std::atomic<bool> identifying{false};

// The LAN server is left stopped: the instrument cannot be reached over the LAN
// whatever the link, so the indicator shows a fault until the next start.
std::atomic<bool> lan_server_stopped{false};

int lan_stat_off() { return identifying ? 0 : Indicator("-o", "lan_stat_off"); }
int lan_stat_normal() {
  if (identifying) return 0;
  return lan_server_stopped ? Indicator("-f", "lan_stat_normal") : Indicator("-n", "lan_stat_normal");
}
int lan_stat_fault() { return identifying ? 0 : Indicator("-f", "lan_stat_fault"); }

void ShowFault() {
  if (!FileExists(kLanDownFile)) ReplaceStoredFile(kLanDownFile, "1");
  lan_stat_fault();
}

int TakeInterfaceDown() {
  const Outcome outcome = Run(std::string("ifconfig ") + kLanInterface + " down");
  if (!outcome.ran || outcome.status != 0) {
    std::printf("**ERR: system ifconfig returned %d\n", outcome.status);
    return -1;
  }
  lan_set_dns_available(1);
  return 0;
}

void StopDhcpClient() {
  const Outcome outcome = Run("dhclient -r 1>/dev/null 2>&1");
  if (!outcome.ran || outcome.status != 0) {
    std::printf("*ERR: stop_dhcp_client returned %d\n", outcome.status);
  }
}

void CheckLink() {
  const Outcome outcome =
      Run(platform::FormatCommand(std::string("ifplugstatus ") + kLanInterface + " > %p", {kIfplugOut}));
  if (!outcome.ran) std::printf("**ERR: system ifplugstatus returned %d\n", outcome.status);
  std::string line;
  if (FirstLine(kIfplugOut, 100, &line) && line.find("link beat detected") != std::string::npos) {
    lan_stat_normal();
  } else {
    ShowFault();
  }
  // The VISA resource of the VXI-11 instrument follows the address the interface has.
  std::string address;
  if (lan_get_live_address(&address) == 0 && IsValidIpAddress(address)) {
    WriteSysInfoFile("tcpip_visa_resource", "TCPIP::" + address + "::INSTR");
  }
}

int DhcpUp() {
  StopDhcpClient();
  const Outcome outcome = Run(std::string("dhclient ") + kLanInterface + " 1>/dev/null 2>&1");
  if (!outcome.ran) std::printf("**ERR: system dhclient returned %d\n", outcome.status);
  lan_set_current_mode(0);
  CheckLink();
  return 0;
}

// Exit status 0 of arping: nobody else answers for the address.
bool AddressIsFree(const std::string& address) {
  for (int check = 0; check < kDuplicateChecks; ++check) {
    if (check > 0) Wait(1);
    const Outcome outcome = Run("arping -D -c 1 " + address + " -I " + kLanInterface + " >/dev/null");
    if (!outcome.ran) {
      std::printf("**ERR: detect_duplicate_ip_addr's call to arping returned %d\n", outcome.status);
      return false;
    }
    if (outcome.status == 1) return false;
    if (outcome.status != 0) {
      std::printf("**ERR: detect_duplicate_ip_addr's call to arping returned unknown status: %d\n",
                  outcome.status);
      return false;
    }
  }
  return true;
}

void WriteResolvConf(const std::string& list) {
  std::string text;
  std::string entry;
  for (size_t at = 0; at <= list.size(); ++at) {
    const char c = at < list.size() ? list[at] : ' ';
    if (c == ' ' || c == ',' || c == '\n' || c == '\t') {
      if (!entry.empty()) text += "nameserver " + entry + "\n";
      entry.clear();
    } else {
      entry.push_back(c);
    }
  }
  ReplaceStoredFile(kResolvConf, text);
}

int StaticUp() {
  StopDhcpClient();
  const std::string address = lan_get_ipaddress();
  const std::string mask = lan_get_subnetmask();
  const std::string dns = lan_get_dns();
  const std::string gateway = lan_get_gateway();
  // An address or mask that is missing (or was invalid) cannot be configured.
  const Outcome up = address.empty() || mask.empty()
                         ? Outcome{true, 1}
                         : Run(std::string("ifconfig ") + kLanInterface + " " + address +
                               " netmask " + mask + " >/dev/null");
  if (!up.ran || up.status != 0) {
    std::printf("**ERR: system ifconfig returned %d\n", up.status);
    std::puts("up_eth_interface failed");
    TakeInterfaceDown();
    ShowFault();
    return -1;
  }
  Run("route del default 1>/dev/null 2>&1");
  if (!gateway.empty()) {
    const Outcome route =
        Run("route add default gw " + gateway + " " + kLanInterface + " 1>/dev/null 2>&1");
    if (!route.ran || route.status != 0) {
      std::printf("**ERR: system route add default gw returned %d\n", route.ran ? 0 : -1);
      std::printf("status = %d\n", route.status);
    }
  }
  WriteResolvConf(dns);
  if (!AddressIsFree(address)) {
    TakeInterfaceDown();
    ShowFault();
    return -1;
  }
  lan_set_current_mode(1);
  CheckLink();
  return 0;
}

// "-%d" (or, with `service`, blanks then "#%d" or "(%d)") right after `name` in `text`.
bool FollowedByNumber(const std::string& text, const std::string& name, bool service) {
  if (name.empty()) return false;
  std::string lower_text = text;
  std::string lower_name = name;
  for (char& c : lower_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : lower_name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = service ? text.find(name) : lower_text.find(lower_name);
  if (at == std::string::npos) return false;
  size_t next = at + name.size();
  if (service) {
    while (next < text.size() && text[next] == ' ') ++next;
    if (next < text.size() && text[next] == '(') {
      size_t digits = next + 1;
      while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
      return digits > next + 1 && digits < text.size() && text[digits] == ')';
    }
    if (next >= text.size() || text[next] != '#') return false;
  } else if (next >= text.size() || text[next] != '-') {
    return false;
  }
  return next + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[next + 1]));
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The stored name, or its default built from the serial number when none or an
// invalid one is stored; the name the discovery service last resolved only where it is
// that name with the number the service added to make it unique. A name resolved
// from an older name (another serial number, an earlier setting) is not published.
std::string PublishedHostname() {
  const std::string stored = lan_get_hostname();
  const std::string resolved = lan_get_resolved_hostname();
  if (!EqualIgnoringCase(resolved, stored) && FollowedByNumber(resolved, stored, false)) return resolved;
  return stored;
}

std::string PublishedServiceName() {
  const std::string stored = lan_get_servicename();
  const std::string resolved = lan_get_resolved_servicename();
  if (resolved != stored && FollowedByNumber(resolved, stored, true)) return resolved;
  return stored;
}

// A process the discovery-service stop may signal: on the virtual chassis only one of
// its own (its command line names the chassis root), never another process.
bool OwnedProcess(int pid) {
  if (pid < 1) return false;
  const std::string root = platform::Root();
  if (root.empty()) return true;
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::stringstream text;
  text << cmdline.rdbuf();
  return text.str().find(root) != std::string::npos;
}

int ReadPid(const char* fixed_path) {
  std::string line;
  if (!FirstLine(fixed_path, 32, &line)) return 0;
  return std::atoi(line.c_str());
}

// The word after `label` in what "ifconfig eth0" prints ("inet addr:", "HWaddr",
// "Mask:"). 0, or -1 when the interface does not show it.
int IfconfigField(const char* label, std::string* value) {
  Run(platform::FormatCommand(std::string("ifconfig ") + kLanInterface + ">%p", {kIfconfigOut}));
  std::ifstream file(Resolved(kIfconfigOut));
  for (std::string line; std::getline(file, line);) {
    size_t at = line.find(label);
    if (at == std::string::npos) continue;
    at = line.find_first_not_of(' ', at + std::strlen(label));
    if (at == std::string::npos) return -1;
    *value = line.substr(at, line.find(' ', at) - at);
    return 0;
  }
  return -1;
}

}  // namespace

int lan_set_ping(int on) {
  if (on != 0 && on != 1) {
    std::printf("lan_set_ping: invalid parameter\n");
    return -1;
  }
  const Outcome outcome = Run("sysctl -w net.ipv4.icmp_echo_ignore_all=" +
                              std::to_string(on ? 0 : 1) + ">/dev/null 2>&1");
  if (!outcome.ran || outcome.status != 0) {
    std::printf("lan_set_ping: error from sysctl = %d\n", outcome.status);
  }
  return lan_store_ping(on);
}

int lan_set_keepalive(int32_t seconds) {
  if (seconds == 0) seconds = -1;
  const std::string value = std::to_string(seconds);
  Run("sysctl -w net.ipv4.tcp_keepalive_probes=1>/dev/null");
  Run("sysctl -w net.ipv4.tcp_keepalive_time=" + value + ">/dev/null");
  Run("sysctl -w net.ipv4.tcp_keepalive_intvl=" + value + ">/dev/null");
  return lan_store_keepalive(seconds);
}

int set_mac_address(const uint8_t mac[6]) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2x%.2x%.2x%.2x%.2x%.2x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  const Outcome outcome = Run(std::string("ifconfig ") + kLanInterface + " hw ether " + text);
  if (!outcome.ran || outcome.status != 0) {
    std::printf("**ERR: set_mac_address's call to ifconfig returned %d\n", outcome.status);
    return -1;
  }
  return 0;
}

int ActionUp(int use_current) {
  if (!lan_get_enable()) return TakeInterfaceDown();
  std::string mode;
  const int read = use_current ? lan_get_current_mode(&mode) : lan_get_mode(&mode);
  if (read == 0 && mode == "automatic") return DhcpUp();
  if (read == 0 && mode == "manual") return StaticUp();
  if (mode.empty() || !FileExists(use_current ? kLanCurrentModeFile : kLanModeFile)) {
    std::printf("ERR: action_up - lan_get_mode - returned error: %d\n", -1);
  } else {
    std::printf("action_up: lan_get_mode returned bogus mode \"%.32s\"\n", mode.c_str());
  }
  StopDiscoveryService();
  lan_set_mode(0);
  DhcpUp();
  if (lan_get_mdns_enable()) StartDiscoveryService(1);
  return 0;
}

int LanEnable(int on) {
  if (on) {
    lan_set_dns_available(1);
    if (lan_set_enable_flag(1) != 0) return -1;
    return ActionUp(1);
  }
  if (lan_set_enable_flag(0) != 0) return -1;
  return TakeInterfaceDown();
}

namespace {

// The web server's pid as it wrote it once serving, 0 while none is expected to run:
// the controller's watch restarts only the server it expects. Starts and stops hold
// the lock, so the watch never restarts a server that a LAN reset is replacing.
std::mutex web_server_lock;
pid_t web_server_pid = 0;

Outcome StartWebServerLocked() {
  RemoveFile(kWebPidFile);
  const Outcome outcome =
      Run(platform::FormatCommand("cd %p && ./appweb -b -f appweb.conf 1>/dev/null 2>&1", {kAppwebFolder}));
  std::string line;
  web_server_pid = FirstLine(kWebPidFile, 16, &line) ? std::atoi(line.c_str()) : 0;
  return outcome;
}

Outcome StopWebServerLocked() {
  web_server_pid = 0;
  return Run("killall -9 appweb 1>/dev/null 2>&1");
}

}  // namespace

int WebEnable(int on) {
  if (web_set_enable_flag(on ? 1 : 0) != 0) return -1;
  std::lock_guard<std::mutex> hold(web_server_lock);
  const Outcome outcome = on ? StartWebServerLocked() : StopWebServerLocked();
  return outcome.ran ? 0 : -1;
}

pid_t WebServerPid() {
  std::lock_guard<std::mutex> hold(web_server_lock);
  return web_server_pid;
}

bool RestartWebServer(pid_t ended) {
  std::lock_guard<std::mutex> hold(web_server_lock);
  if (web_server_pid != ended || !web_get_enable()) return false;
  StartWebServerLocked();
  return web_server_pid > 0;
}

void ShowLanServerStopped() {
  lan_server_stopped = true;
  lan_stat_fault();
}

int SetIdentify(bool on) {
  if (on) {
    identifying = true;
    return Indicator("-b", "lan_stat_identify");
  }
  if (identifying.exchange(false)) CheckLink();
  return 0;
}
bool GetIdentify() { return identifying; }

int RestoreWebUsers() {
  std::string users;
  if (ReadStoredFile(kFactoryUsersFile, &users) != StoredFileRead::kRead) return -1;
  return ReplaceStoredFile(kWebUsersFile, users) == 0 ? 0 : -1;
}

int DoLCI() {
  lan_set_dns_available(1);
  // The LAN reset also gives the web pages their factory user list back.
  if (RestoreWebUsers() != 0) std::printf("**ERR: DoLCI could not restore %s\n", kWebUsersFile);
  const int status = platform::RunCommand("lanconfig lci");
  if (status == -1) std::printf("**ERR: DoLCI's call to lanconfig failed: %d\n", status);
  return status;
}

int EditLanConfigMode(const char* mode) {
  if (!FileExists(kEditLanConfig)) {
    std::perror("stat");
    return -ENOENT;
  }
  return platform::RunCommand(platform::FormatCommand("%p", {kEditLanConfig}) + " " + mode + " " +
                              kLanInterface);
}

int StopDiscoveryService() {
  int result = 0;
  const int daemon = ReadPid(kDaemonPidFile);
  if (OwnedProcess(daemon)) {
    const Outcome outcome = Run("kill " + std::to_string(daemon));
    if (!outcome.ran) {
      std::printf("**ERR: kill process %d failed: %d\n", daemon, outcome.status);
      result = -1;
    }
  }
  RemoveFile(kServicePidFile);
  Run(platform::FormatCommand("ps | grep lxi-avahi-service > %p", {kServicePidFile}));
  std::string line;
  if (FirstLine(kServicePidFile, 256, &line)) {
    const int service = std::atoi(line.c_str());
    if (line.find(Resolved(kDiscoveryService)) != std::string::npos && OwnedProcess(service)) {
      const Outcome outcome = Run("kill " + std::to_string(service));
      if (!outcome.ran) {
        std::printf("**ERR: kill LXI service process %d failed: %d\n", service, outcome.status);
        result = -1;
      }
    }
  }
  RemoveFile(kServicePidFile);
  lan_set_mdns_active(0);
  return result;
}

int StartDiscoveryService(int already_stopped) {
  if (!already_stopped) StopDiscoveryService();
  if (!lan_get_mdns_enable()) return 0;
  lan_set_mdns_active(1);
  const std::string host = PublishedHostname();
  const std::string service = PublishedServiceName();
  RemoveFile(kActiveHostnameFile);
  RemoveFile(kServiceLog);
  RemoveFile(kServiceNameFile);
  const Outcome started = Run(platform::FormatCommand("%p", {kDiscoveryService}) + " " +
                              GetFirmwareRevision() + " " + SerialForNames() + " " + host +
                              " \"" + service + "\" 1>/dev/null 2>&1 &");
  if (!started.ran) {
    std::printf("**ERR: lxi-avahi-service failed: %d\n", started.status);
    return -1;
  }
  unsigned waited = 0;
  std::string active;
  while (waited < kDiscoveryWaitSeconds && !FirstLine(kActiveHostnameFile, 128, &active)) {
    Wait(1);
    ++waited;
  }
  if (!active.empty()) {
    const size_t local = active.find(".local");
    lan_set_resolved_hostname(active.substr(0, local));
  }
  while (waited < kDiscoveryWaitSeconds && FileExists(kServiceLog)) {
    Run(platform::FormatCommand("grep Established %p >> %p", {kServiceLog, kServiceNameFile}));
    Run(platform::FormatCommand("wc -l  %p > %p", {kServiceNameFile, kServiceNameCount}));
    std::string count;
    if (FirstLine(kServiceNameCount, 32, &count) && std::atoi(count.c_str()) > 0) {
      std::ifstream names(Resolved(kServiceNameFile));
      for (std::string line; std::getline(names, line);) {
        std::string name;
        if (!ParseEstablishedName(line, &name)) continue;
        lan_set_resolved_servicename(name);
        return 0;
      }
    }
    Wait(1);
    ++waited;
  }
  return 0;
}

int InitLanOnBootup(int at_boot) {
  lan_stat_off();
  WriteDhcpClientConfig();
  int ping = 1;
  if (lan_get_ping(&ping) == 0) lan_set_ping(ping);
  int32_t keepalive = 0;
  if (lan_get_keepalive(&keepalive) == 0) lan_set_keepalive(keepalive);
  usleep(100000);
  uint8_t mac[6] = {};
  ReadFRAMMacAddr(mac);
  set_mac_address(mac);
  lan_set_dns_available(1);
  if (lan_get_enable()) ActionUp(0);
  std::unique_lock<std::mutex> web(web_server_lock);
  if (!at_boot) StopWebServerLocked();
  web.unlock();
  StopDiscoveryService();
  lan_set_mdns_active(0);
  if (lan_get_mdns_enable()) StartDiscoveryService(1);
  web.lock();
  if (web_get_enable()) StartWebServerLocked();
  return 0;
}

bool ParseEstablishedName(const std::string& line, std::string* name) {
  static constexpr char kEstablished[] = "Established under name '";
  const size_t at = line.find(kEstablished);
  if (at == std::string::npos) return false;
  const size_t start = at + sizeof kEstablished - 1;
  const size_t end = line.find('\'', start);
  // An empty name is no name: the match needs at least one character.
  if (end == start || start >= line.size()) return false;
  *name = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

int lan_get_live_address(std::string* address) { return IfconfigField("inet addr:", address); }
int lan_get_live_mac(std::string* mac) { return IfconfigField("HWaddr", mac); }
int lan_get_live_netmask(std::string* mask) { return IfconfigField("Mask:", mask); }

int lan_get_live_gateway(std::string* gateway) {
  Run(platform::FormatCommand("route>%p", {kRouteOut}));
  std::ifstream file(Resolved(kRouteOut));
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("default", 0) != 0) continue;
    std::istringstream fields(line);
    std::string destination;
    fields >> destination >> *gateway;
    return gateway->empty() ? -1 : 0;
  }
  return -1;
}

std::string lan_get_reported_hostname() {
  std::string address;
  if (lan_get_live_address(&address) != 0) return "";
  if (!lan_get_dns_available()) return address;
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  if (inet_pton(AF_INET, address.c_str(), &socket_address.sin_addr) != 1) return address;
  char name[NI_MAXHOST];
  const auto started = std::chrono::steady_clock::now();
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address, name,
                  sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    if (std::chrono::steady_clock::now() - started > kSlowLookup) lan_set_dns_available(0);
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0) return address;
  bool same = false;
  for (const addrinfo* entry = found; entry != nullptr && !same; entry = entry->ai_next) {
    same = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr ==
           socket_address.sin_addr.s_addr;
  }
  freeaddrinfo(found);
  return same ? std::string(name) : address;
}

std::string lan_get_live_dns() {
  std::ifstream file(Resolved(kResolvConf));
  std::string list;
  for (std::string line; std::getline(file, line);) {
    std::istringstream fields(line);
    std::string keyword;
    std::string address;
    if (fields >> keyword >> address && keyword == "nameserver") {
      list += (list.empty() ? "" : ",") + address;
    }
  }
  return list;
}

void SetLanSleepForTest(LanSleep sleeper) { lan_sleep = sleeper != nullptr ? sleeper : SleepSeconds; }
