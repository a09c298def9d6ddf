// Tests of the stand-in network tools, run for real as the firmware runs them: through
// the command runner, with the chassis root's tool folder as the whole PATH and the
// firmware's own command texts. Each test gets a fresh root with the stand-ins
// installed as `vchassis run` installs them, and checks the state files the tools
// leave, what they print (byte for byte where the firmware parses it) and their exit
// statuses.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/command_runner.h"
#include "platform/paths.h"
#include "platform/test_support.h"
#include "sim/lan_state.h"
#include "sim/vchassis_control.h"
#include "sim/vchassis_devices.h"
#include "sim/vchassis_root.h"

namespace sim {
namespace {

// The file's text, or "<missing>".
std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return file ? text.str() : "<missing>";
}

// The state letter and parent of a process from /proc; false when there is none.
bool ProcessStat(pid_t pid, char* state, int* parent) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = stat.rfind(')');
  return end != std::string::npos && std::sscanf(stat.c_str() + end + 1, " %c %d", state, parent) == 2;
}

// Ended: gone, or a zombie its new parent has not reaped yet.
bool Ended(pid_t pid) {
  char state = 0;
  int parent = 0;
  return !ProcessStat(pid, &state, &parent) || state == 'Z' || state == 'X';
}

// The live children of `parent`.
std::vector<pid_t> LiveChildren(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    char state = 0;
    int of = 0;
    if (ProcessStat(pid, &state, &of) && of == parent && !Ended(pid)) children.push_back(pid);
  }
  return children;
}

// Polls `done` every 10 ms for up to 5 s.
template <typename Condition>
bool Eventually(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class StandIns : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.path().empty());
    ASSERT_EQ(PrepareRoot(root_.path()), 0);
    ASSERT_EQ(InstallStandIns(CHASSIS_STAND_INS, platform::StandInFolder()), 0);
    ASSERT_EQ(InstallRootStandIns(std::string(CHASSIS_STAND_INS) + "/" + kRootStandInFolder,
                                  root_.path()),
              0);
  }

  void TearDown() override {
    // A service still running must end (with its sleep) before its root goes away.
    for (pid_t pid : started_) {
      if (!Ended(pid) && kill(pid, SIGTERM) == 0 && !Eventually([&] { return Ended(pid); })) {
        kill(pid, SIGKILL);
      }
    }
  }

  // The exit status of the command text, run as the firmware runs it.
  int Run(const std::string& command) {
    const int status = platform::RunCommand(command);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // What the command prints on its standard output; its exit status in *status.
  std::string Output(const std::string& command, int* status = nullptr) {
    const std::string out = root_.path() + "/out";
    const int result = Run(command + " > " + out);
    if (status != nullptr) *status = result;
    return ReadText(out);
  }

  // A value of the simulated interface, "<missing>" when its file is absent.
  std::string Value(const std::string& key) {
    return ReadText(LanStateFolder(FramFolder(root_.path())) + "/" + key);
  }

  // Several values, "|" between them: Values("link address") gives "up|10.1.2.3".
  std::string Values(const std::string& keys) {
    std::istringstream words(keys);
    std::string joined;
    for (std::string key; words >> key;) joined += "|" + Value(key);
    return joined.substr(1);
  }

  void SetValue(const std::string& key, const std::string& value) {
    std::string error;
    ASSERT_EQ(WriteLanValue(LanStateFolder(FramFolder(root_.path())), key, value, &error), 0)
        << error;
  }

  std::string Log() { return ReadText(CommandLogFile(FramFolder(root_.path()))); }

  // Starts the discovery service as the firmware does and waits until it has written
  // its pid file. Its pid, or 0.
  pid_t StartDiscoveryService(const std::string& host, const std::string& service) {
    const std::string pid_file = platform::ResolvePath("/tmp/avahi/var/run/avahi-daemon/pid");
    const std::string before = ReadText(pid_file);
    const std::string command =
        platform::FormatCommand("%p 1.2.3 SN42 ", {"/tmp/avahi/bin/lxi-avahi-service"}) + host +
        " \"" + service + "\" 1>/dev/null 2>&1 &";
    if (Run(command) != 0) return 0;
    pid_t pid = 0;
    Eventually([&] {
      const std::string text = ReadText(pid_file);
      if (text == "<missing>" || text == before) return false;
      pid = static_cast<pid_t>(std::stol(text));
      return true;
    });
    if (pid > 0) started_.push_back(pid);
    return pid;
  }

  platform::TempFolder root_;
  platform::ScopedEnv env_{"CHASSIS_ROOT", root_.path().c_str()};
  std::vector<pid_t> started_;
};

TEST_F(StandIns, IfconfigConfiguresEth0AndPrintsItInTheNetToolsLayout) {
  EXPECT_EQ(Output("ifconfig eth0"),
            "eth0      Link encap:Ethernet  HWaddr 00:00:00:00:00:00  \n"
            "          BROADCAST MULTICAST  MTU:1500  Metric:1\n");

  EXPECT_EQ(Run("ifconfig eth0 hw ether 005a7c0102ab"), 0);
  EXPECT_EQ(Run("ifconfig eth0 10.1.2.3 netmask 255.255.240.0 >/dev/null"), 0);
  EXPECT_EQ(Values("mac link address netmask"), "00:5A:7C:01:02:AB|up|10.1.2.3|255.255.240.0");
  EXPECT_EQ(Output("ifconfig eth0"),
            "eth0      Link encap:Ethernet  HWaddr 00:5A:7C:01:02:AB  \n"
            "          inet addr:10.1.2.3  Bcast:10.1.15.255  Mask:255.255.240.0\n"
            "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");

  // Without a cable the interface is up but not running.
  SetValue("cable", "unplugged");
  EXPECT_NE(Output("ifconfig eth0").find("\n          UP BROADCAST MULTICAST  MTU:1500"),
            std::string::npos);

  SetValue("gateway", "10.1.0.1");
  EXPECT_EQ(Run("ifconfig eth0 down"), 0);
  EXPECT_EQ(Values("link address netmask gateway mac"), "down||||00:5A:7C:01:02:AB");
  EXPECT_EQ(Output("ifconfig eth0"),
            "eth0      Link encap:Ethernet  HWaddr 00:5A:7C:01:02:AB  \n"
            "          BROADCAST MULTICAST  MTU:1500  Metric:1\n");

  // Unknown forms and bad values are refused with a reason and change nothing.
  for (const char* command :
       {"ifconfig eth0 hw ether 005a7c0102", "ifconfig eth0 hw ether 005a7c01020g",
        "ifconfig eth0 192.168.7.256 netmask 255.255.255.0",
        "ifconfig eth0 192.168.7.5 netmask 255.255.255", "ifconfig eth0 up", "ifconfig eth1"}) {
    EXPECT_EQ(Run(command + std::string(" 2>") + root_.path() + "/err"), 1) << command;
    EXPECT_NE(ReadText(root_.path() + "/err"), "") << command;
  }
  EXPECT_EQ(Values("link address mac"), "down||00:5A:7C:01:02:AB");
}

TEST_F(StandIns, RouteShowsAddsAndRemovesTheDefaultGateway) {
  const std::string header =
      "Kernel IP routing table\n"
      "Destination     Gateway         Genmask         Flags Metric Ref    Use Iface\n";
  EXPECT_EQ(Output("route"), header);
  // The kernel refuses a route through an interface that is down.
  EXPECT_EQ(Run("route add default gw 192.168.7.1 eth0 1>/dev/null 2>&1"), 1);
  EXPECT_EQ(Value("gateway"), "<missing>");

  ASSERT_EQ(Run("ifconfig eth0 192.168.7.20 netmask 255.255.255.0 >/dev/null"), 0);
  EXPECT_EQ(Run("route add default gw 192.168.7.1 eth0 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Value("gateway"), "192.168.7.1");
  EXPECT_EQ(Output("route"),
            header + "default         192.168.7.1     0.0.0.0         UG    0      0        0 eth0\n");
  EXPECT_EQ(Run("route add default gw 192.168.7.300 eth0 1>/dev/null 2>&1"), 1);
  EXPECT_EQ(Value("gateway"), "192.168.7.1");

  EXPECT_EQ(Run("route del default 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Value("gateway"), "");
  EXPECT_EQ(Output("route"), header);
  EXPECT_EQ(Run("route del default 1>/dev/null 2>&1"), 1) << "no default route to delete";
  EXPECT_EQ(Run("route flush 1>/dev/null 2>&1"), 1);
}

TEST_F(StandIns, DhclientWithALeaseConfiguresEth0AndTheNameServerAndGivesItBack) {
  EXPECT_EQ(Run("dhclient eth0 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Values("dhcp link address netmask gateway"),
            "running|up|192.168.7.50|255.255.255.0|192.168.7.1");
  EXPECT_EQ(ReadText(root_.path() + "/etc/resolv.conf"), "nameserver 192.168.7.1\n");
  EXPECT_NE(Output("ifconfig eth0").find("inet addr:192.168.7.50  Bcast:192.168.7.255  "
                                         "Mask:255.255.255.0\n"),
            std::string::npos);

  EXPECT_EQ(Run("dhclient -r 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Values("dhcp address netmask gateway"), "stopped|||");

  // A static address is not the client's to give back.
  ASSERT_EQ(Run("ifconfig eth0 192.168.7.20 netmask 255.255.255.0 >/dev/null"), 0);
  EXPECT_EQ(Run("dhclient -r 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Value("address"), "192.168.7.20");
  EXPECT_EQ(Run("dhclient 1>/dev/null 2>&1"), 1);

  // Without a lease the client runs and configures nothing.
  ASSERT_EQ(Run("ifconfig eth0 down"), 0);
  ASSERT_EQ(std::remove((root_.path() + "/etc/resolv.conf").c_str()), 0);
  SetValue("lease", "none");
  EXPECT_EQ(Run("dhclient eth0 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Values("dhcp link address"), "running|down|");
  EXPECT_EQ(ReadText(root_.path() + "/etc/resolv.conf"), "<missing>");
}

TEST_F(StandIns, ArpingAndIfplugstatusAnswerForTheNetworkAroundTheInterface) {
  const std::string folder = LanStateFolder(FramFolder(root_.path()));
  bool added = false;
  std::string error;
  ASSERT_EQ(AddDuplicateAddress(folder, "192.168.7.60", &added, &error), 0) << error;
  ASSERT_EQ(AddDuplicateAddress(folder, "192.168.7.61", &added, &error), 0) << error;
  EXPECT_EQ(Run("arping -D -c 1 192.168.7.60 -I eth0 >/dev/null"), 1);
  EXPECT_EQ(Run("arping -D -c 1 192.168.7.61 -I eth0 >/dev/null"), 1);
  EXPECT_EQ(Run("arping -D -c 1 192.168.7.6 -I eth0 >/dev/null"), 0) << "a prefix is no match";
  EXPECT_EQ(Run("arping -D -c 1 192.168.7.62 -I eth1 1>/dev/null 2>&1"), 2);

  int status = -1;
  EXPECT_EQ(Output("ifplugstatus eth0", &status), "eth0: link beat detected\n");
  EXPECT_EQ(status, 0);
  SetValue("cable", "unplugged");
  EXPECT_EQ(Output("ifplugstatus eth0", &status), "eth0: unplugged\n");
  EXPECT_EQ(status, 2);
}

TEST_F(StandIns, SysctlKeepsThePingAndKeepaliveSettingsAndIgnoresOthers) {
  EXPECT_EQ(Run("sysctl -w net.ipv4.icmp_echo_ignore_all=1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Value("ping"), "1");
  EXPECT_EQ(Run("sysctl -w net.ipv4.tcp_keepalive_probes=1>/dev/null"), 0);
  EXPECT_EQ(Output("sysctl -w net.ipv4.tcp_keepalive_time=-1"),
            "net.ipv4.tcp_keepalive_time = -1\n");
  EXPECT_EQ(Value("keepalive"), "-1");
  EXPECT_EQ(Run("sysctl net.ipv4.icmp_echo_ignore_all=0 2>/dev/null"), 1);
  EXPECT_EQ(Run("sysctl -w =0 2>/dev/null"), 1);
  EXPECT_EQ(Value("ping"), "1");
  // The redirection glued to the value is the shell's, not part of the command line.
  EXPECT_EQ(Log(),
            "sysctl -w net.ipv4.icmp_echo_ignore_all=1\nsysctl -w net.ipv4.tcp_keepalive_probes=1\n"
            "sysctl -w net.ipv4.tcp_keepalive_time=-1\nsysctl net.ipv4.icmp_echo_ignore_all=0\n"
            "sysctl -w =0\n");
}

TEST_F(StandIns, IndicatorAndWebServerStatesAndTheToolsThatOnlyLog) {
  const std::pair<const char*, const char*> indicator[] = {
      {"-b", "blink"}, {"-n", "normal"}, {"-f", "fault"}, {"-o", "off"}};
  for (const auto& [option, state] : indicator) {
    EXPECT_EQ(Run(std::string("lanstatind ") + option), 0) << option;
    EXPECT_EQ(Value("indicator"), state) << option;
  }
  EXPECT_EQ(Run("lanstatind -x 2>/dev/null"), 1);
  EXPECT_EQ(Value("indicator"), "off");

  const std::string start_web = "cd %p && ./appweb -b -f appweb.conf 1>/dev/null 2>&1";
  EXPECT_EQ(Run(platform::FormatCommand(start_web, {"/etc/appweb"})), 0);
  EXPECT_EQ(Run("killall -9 lanlink 1>/dev/null 2>&1"), 1);
  EXPECT_EQ(Value("web"), "running");
  EXPECT_EQ(Run("killall -9 appweb 1>/dev/null 2>&1"), 0);
  EXPECT_EQ(Value("web"), "stopped");

  EXPECT_EQ(Run(platform::FormatCommand("insmod %p serial=\"SN42\"", {"/lib/modules/g_usbtmc.ko"})),
            0);
  EXPECT_EQ(Run(platform::FormatCommand("%p manual eth0", {"/etc/editlanconfig"})), 0);
  EXPECT_EQ(Log(),
            "lanstatind -b\nlanstatind -n\nlanstatind -f\nlanstatind -o\nlanstatind -x\n"
            "appweb -b -f appweb.conf\nkillall -9 lanlink\nkillall -9 appweb\n"
            "insmod " + root_.path() + "/lib/modules/g_usbtmc.ko serial=SN42\n"
            "editlanconfig manual eth0\n");
}

TEST_F(StandIns, LanconfigLciRestoresTheLanDefaults) {
  const std::string config = root_.path() + "/mnt/nonv/config";
  EXPECT_EQ(Run("lanconfig status"), 0);
  EXPECT_EQ(ReadText(config + "/lan/mode"), "<missing>") << "only lci changes settings";
  std::filesystem::create_directories(config + "/lan");
  std::ofstream(config + "/lan/hostname") << "bench-7";
  std::ofstream(config + "/lan/mode") << "manual";

  EXPECT_EQ(Run("lanconfig lci"), 0);
  const std::pair<const char*, const char*> defaults[] = {
      {"lan/currentmode", "automatic"},  {"lan/description", "Backup Firmware"},
      {"lan/dns", ""},                   {"lan/domain", ""},
      {"lan/gateway", ""},               {"lan/hostname", ""},
      {"lan/ipaddress", ""},             {"lan/mode", "automatic"},
      {"lan/keepalive", "3600"},         {"lan/ping", "1"},
      {"lan/preserveconn", "1"},         {"lan/subnetmask", ""},
      {"comm/lan/enable", "1"},
  };
  for (const auto& [file, value] : defaults) EXPECT_EQ(ReadText(config + "/" + file), value) << file;
  EXPECT_EQ(Log(), "lanconfig status\nlanconfig lci\n");
}

TEST_F(StandIns, WithoutARootTheToolsRefuseAndWriteNothing) {
  for (const char* tool : {"ifconfig eth0 down", "dhclient eth0", "lanstatind -n", "ps"}) {
    const std::string command = "env -u CHASSIS_ROOT " + platform::StandInFolder() + "/" + tool +
                                " 1>/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << tool;
  }
  EXPECT_EQ(Log(), "<missing>");
}

TEST_F(StandIns, PsListsOnlyTheProcessesOfThisRoot) {
  platform::TempFolder other;
  // Idle shells whose command lines name this root, another root, and a longer name
  // that starts with this root's. Each waits in the shell's own "read" (no child that
  // could outlive it) until its input closes.
  const std::string names[] = {root_.path() + "/idle", other.path() + "/idle",
                               root_.path() + "x/idle"};
  std::vector<pid_t> idle;
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  for (const std::string& name : names) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dup2(input[0], 0);
      close(input[1]);
      execl("/bin/sh", "sh", "-c", "read line", name.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    idle.push_back(pid);
  }
  close(input[0]);
  const std::string listing = Output("ps");
  close(input[1]);
  for (pid_t pid : idle) waitpid(pid, nullptr, 0);

  char own[128];
  std::snprintf(own, sizeof own, "%5d root         0 S    sh -c read line %s/idle\n", idle[0],
                root_.path().c_str());
  EXPECT_NE(listing.find(own), std::string::npos) << listing;
  EXPECT_NE(listing.find(root_.path() + "/sim-bin/ps\n"), std::string::npos) << listing;
  // Every row is of this root, in the busybox layout, in the order of the pids.
  std::istringstream lines(listing);
  std::string row;
  ASSERT_TRUE(std::getline(lines, row));
  EXPECT_EQ(row, "  PID USER       VSZ STAT COMMAND");
  for (long previous = 0; std::getline(lines, row);) {
    ASSERT_GT(row.size(), 26u) << row;
    EXPECT_GT(std::stol(row.substr(0, 5)), previous) << listing;
    previous = std::stol(row.substr(0, 5));
    EXPECT_EQ(row.substr(5, 21), " root         0 S    ") << row;
    EXPECT_NE(row.find(root_.path() + "/"), std::string::npos) << row;
  }
}

TEST_F(StandIns, DiscoveryServicePublishesAndWithdrawsWhenStopped) {
  const pid_t pid = StartDiscoveryService("chassis-7", "Corvane Switch System 4410X - SN42");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(ReadText(root_.path() + "/tmp/lxi-avahi-active-hostname"), "chassis-7.local");
  EXPECT_EQ(ReadText(root_.path() + "/tmp/lxi-avahi-services-service-log"),
            "Service 'Corvane Switch System 4410X - SN42' successfully established.\n"
            "Established under name 'Corvane Switch System 4410X - SN42'\n");
  EXPECT_EQ(Values("hostname service"), "chassis-7|Corvane Switch System 4410X - SN42");
  EXPECT_TRUE(DiscoveryServiceRunning());

  // The firmware's own search: the first line names the service by its path.
  const std::string found = platform::FormatCommand(
      "ps | grep lxi-avahi-service > %p", {"/tmp/avahi/var/run/lxi-service-pid"});
  ASSERT_EQ(Run(found), 0);
  const std::string first = ReadText(root_.path() + "/tmp/avahi/var/run/lxi-service-pid");
  EXPECT_EQ(std::atol(first.c_str()), pid) << first;
  EXPECT_NE(first.substr(0, first.find('\n'))
                .find(platform::ResolvePath("/tmp/avahi/bin/lxi-avahi-service")),
            std::string::npos)
      << first;

  std::vector<pid_t> sleeps;
  ASSERT_TRUE(Eventually([&] { return !(sleeps = LiveChildren(pid)).empty(); }));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_TRUE(Eventually([&] { return Ended(pid); }));
  // The service ends its sleep before it exits: the sleep must be gone well before
  // the second it would take to end by itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (pid_t sleep : sleeps) EXPECT_TRUE(Ended(sleep)) << "its sleep " << sleep << " is left";
  EXPECT_EQ(ReadText(root_.path() + "/tmp/avahi/var/run/avahi-daemon/pid"), "<missing>");
  EXPECT_EQ(Values("hostname service"), "|");
  EXPECT_FALSE(DiscoveryServiceRunning());
  EXPECT_EQ(Log().substr(0, Log().find('\n')),
            "lxi-avahi-service 1.2.3 SN42 chassis-7 Corvane Switch System 4410X - SN42");

  // An older instance that ends after a newer one took over leaves its publication.
  const pid_t older = StartDiscoveryService("first", "First");
  const pid_t newer = StartDiscoveryService("second", "Second");
  ASSERT_GT(older, 0);
  ASSERT_GT(newer, 0);
  ASSERT_EQ(kill(older, SIGTERM), 0);
  ASSERT_TRUE(Eventually([&] { return Ended(older); }));
  EXPECT_EQ(Value("hostname"), "second");
  EXPECT_TRUE(DiscoveryServiceRunning());
}

TEST_F(StandIns, TheLanRequestShowsWhatTheToolsLeft) {
  SimulatedHardware hardware;
  std::string error;
  ASSERT_EQ(BuildHardware(ChassisDescription{}, FramFolder(root_.path()), &hardware, &error), 0)
      << error;
  ChassisControl control(hardware);
  std::string answer;

  for (const char* command :
       {"ifconfig eth0 hw ether 005a7c010203", "dhclient eth0 1>/dev/null 2>&1", "lanstatind -n",
        "sysctl -w net.ipv4.icmp_echo_ignore_all=0>/dev/null 2>&1",
        "sysctl -w net.ipv4.tcp_keepalive_time=3600>/dev/null",
        "cd $CHASSIS_ROOT/etc/appweb && ./appweb -b -f appweb.conf"}) {
    ASSERT_EQ(Run(command), 0) << command;
  }
  ASSERT_GT(StartDiscoveryService("chassis-7", "Switch 7"), 0);
  ASSERT_EQ(control.Execute("lan", &answer), 0);
  EXPECT_EQ(answer,
            "link: up\naddress: 192.168.7.50\nnetmask: 255.255.255.0\ngateway: 192.168.7.1\n"
            "mac: 00:5A:7C:01:02:03\ndhcp: running\nindicator: normal\nping: 0\n"
            "keepalive: 3600\nmdns: running\nhostname: chassis-7\nservice: Switch 7\n"
            "web: running\n");
}

}  // namespace
}  // namespace sim
