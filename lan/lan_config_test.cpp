// Tests of the LAN bring-up against the virtual chassis' stand-in tools: for each
// combination of settings, the exact outside commands the start-up runs (read from the
// stand-ins' log) and what they leave on the simulated interface.
#include "lan/lan_config.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/stored_file.h"
#include "hardware/fram.h"
#include "lan/lan_settings.h"
#include "lan/lan_test_support.h"
#include "lan/nonvol_defaults.h"
#include "platform/command_runner.h"
#include "sim/lan_state.h"
#include "sim/vchassis_root.h"

namespace {

using Lines = std::vector<std::string>;

// The waits shrink to 20 ms a second: long enough for the background discovery
// service to answer within its ten polls, short enough for eight duplicate checks.
void ShortSleep(unsigned seconds) { usleep(seconds * 20000); }

class LanConfigTest : public LanTest {
 protected:
  void SetUp() override {
    LanTest::SetUp();
    ASSERT_EQ(sim::PrepareRoot(root_.path()), 0);
    ASSERT_EQ(sim::InstallStandIns(CHASSIS_STAND_INS, platform::StandInFolder()), 0);
    ASSERT_EQ(sim::InstallRootStandIns(std::string(CHASSIS_STAND_INS) + "/" + sim::kRootStandInFolder,
                                       root_.path()),
              0);
    testing::internal::CaptureStdout();
    create_default_nonvol_file_system(root_.path() + kNonvolRoot);
    testing::internal::GetCapturedStdout();
    bridge_->Write(kFramControllerChip, kFramMacAddress, {0x00, 0x5A, 0x7C, 0x01, 0x02, 0x03});
    SetLanSleepForTest(ShortSleep);
    ForgetMacAddressForTest();
  }
  void TearDown() override {
    StopDiscoveryService();  // no service outlives its root
    SetLanSleepForTest(nullptr);
    LanTest::TearDown();
  }

  // The command lines logged since the last call.
  Lines Commands() {
    std::ifstream log(root_.path() + "/sim/commands.log");
    Lines lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    Lines fresh(lines.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, lines.size())), lines.end());
    seen_ = lines.size();
    return fresh;
  }
  // The simulated interface's value of `key`.
  std::string Interface(const std::string& key) { return File("/sim/lan/" + key); }

  Lines Run(int at_boot) {
    Commands();
    testing::internal::CaptureStdout();
    InitLanOnBootup(at_boot);
    printed_ = testing::internal::GetCapturedStdout();
    return Commands();
  }

  void SetStatic() {
    ASSERT_EQ(lan_set_ipaddress("192.168.0.50"), 0);
    ASSERT_EQ(lan_set_subnetmask("255.255.255.0"), 0);
    ASSERT_EQ(lan_set_gateway("192.168.0.1"), 0);
    ASSERT_EQ(lan_set_dns("192.168.0.2,192.168.0.3"), 0);
    ASSERT_EQ(lan_set_mode(1), 0);
  }

  size_t seen_ = 0;
  std::string printed_;
};

const Lines kSettings = {
    "lanstatind -o",
    "sysctl -w net.ipv4.icmp_echo_ignore_all=0",
    "sysctl -w net.ipv4.tcp_keepalive_probes=1",
    "sysctl -w net.ipv4.tcp_keepalive_time=3600",
    "sysctl -w net.ipv4.tcp_keepalive_intvl=3600",
    "ifconfig eth0 hw ether 005a7c010203",
};
const std::string kService =
    "lxi-avahi-service 1.6.8 SN12345 C-4410X-SN12345 Corvane Switch System 4410X - SN12345";

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(LanConfigTest, AutomaticModeRunsDhcpAndPublishesTheInstrument) {
  EXPECT_EQ(Run(1), Join({kSettings,
                          {"dhclient -r", "dhclient eth0", "ifplugstatus eth0", "lanstatind -n",
                           "ifconfig eth0", "ps", kService, "appweb -b -f appweb.conf"}}));
  EXPECT_EQ(Interface("address"), "192.168.7.50");
  EXPECT_EQ(Interface("indicator"), "normal");
  EXPECT_EQ(File(kLanCurrentModeFile), "automatic");
  EXPECT_EQ(File(kLanMdnsActiveFile), "1");
  EXPECT_EQ(File(kLanResolvedHostnameFile), "C-4410X-SN12345");
  EXPECT_EQ(File(kLanResolvedServiceNameFile), "Corvane Switch System 4410X - SN12345");
  EXPECT_EQ(File("/etc/sysinfo/tcpip_visa_resource"), "TCPIP::192.168.7.50::INSTR");

  // A reset (not at boot) also stops the web server first and stops the running service.
  const Lines again = Run(0);
  ASSERT_GE(again.size(), 13u);
  EXPECT_EQ(again[11], "killall -9 appweb");
  EXPECT_EQ(again[12], "ps");
  EXPECT_EQ(again.back(), "appweb -b -f appweb.conf");
  EXPECT_EQ(Interface("web"), "running");
}

TEST_F(LanConfigTest, ManualModeChecksTheAddressEightTimes) {
  SetStatic();
  const Lines arpings(8, "arping -D -c 1 192.168.0.50 -I eth0");
  EXPECT_EQ(Run(1), Join({kSettings,
                          {"dhclient -r", "ifconfig eth0 192.168.0.50 netmask 255.255.255.0",
                           "route del default", "route add default gw 192.168.0.1 eth0"},
                          arpings,
                          {"ifplugstatus eth0", "lanstatind -n", "ifconfig eth0", "ps", kService,
                           "appweb -b -f appweb.conf"}}));
  EXPECT_EQ(Interface("address"), "192.168.0.50");
  EXPECT_EQ(File("/etc/sysinfo/tcpip_visa_resource"), "TCPIP::192.168.0.50::INSTR")
      << "the VISA resource follows the address";
  EXPECT_EQ(Interface("gateway"), "192.168.0.1");
  EXPECT_EQ(File("/etc/resolv.conf"), "nameserver 192.168.0.2\nnameserver 192.168.0.3\n");
  EXPECT_EQ(File(kLanCurrentModeFile), "manual");
}

TEST_F(LanConfigTest, ADuplicateAddressTakesTheInterfaceDownAndShowsTheFault) {
  SetStatic();
  bool added = false;
  std::string error;
  ASSERT_EQ(sim::AddDuplicateAddress(sim::LanStateFolder(root_.path() + "/sim"), "192.168.0.50",
                                     &added, &error),
            0)
      << error;
  EXPECT_EQ(Run(1), Join({kSettings,
                          {"dhclient -r", "ifconfig eth0 192.168.0.50 netmask 255.255.255.0",
                           "route del default", "route add default gw 192.168.0.1 eth0",
                           "arping -D -c 1 192.168.0.50 -I eth0", "ifconfig eth0 down",
                           "lanstatind -f", "ps", kService, "appweb -b -f appweb.conf"}}));
  EXPECT_EQ(Interface("link"), "down");
  EXPECT_EQ(Interface("indicator"), "fault");
  EXPECT_EQ(File("/tmp/lan_down_occurred"), "1");
  EXPECT_EQ(File(kLanCurrentModeFile), "automatic") << "the mode in effect stays as it was";
}

TEST_F(LanConfigTest, DisabledLanMdnsAndWebServerAreLeftOut) {
  ASSERT_EQ(lan_set_enable_flag(0), 0);
  ASSERT_EQ(lan_set_mdns_enable(0), 0);
  ASSERT_EQ(web_set_enable_flag(0), 0);
  // A disabled LAN is not brought up (nor taken down) at start-up.
  EXPECT_EQ(Run(1), Join({kSettings, {"ps"}}));
  EXPECT_EQ(File(kLanMdnsActiveFile), "0");
  EXPECT_NE(Interface("web"), "running");
  ASSERT_EQ(LanEnable(0), 0);
  EXPECT_EQ(Commands(), Lines{"ifconfig eth0 down"});

  ASSERT_EQ(WebEnable(1), 0);
  EXPECT_EQ(Commands(), Lines{"appweb -b -f appweb.conf"});
  EXPECT_EQ(Interface("web"), "running");
  ASSERT_EQ(WebEnable(0), 0);
  EXPECT_EQ(Commands(), Lines{"killall -9 appweb"});
  EXPECT_EQ(File(kWebEnableFile), "0");
}

TEST_F(LanConfigTest, MdnsOrWebDisabledAloneLeavesOnlyItsCommandOut) {
  const Lines dhcp = {"dhclient -r", "dhclient eth0", "ifplugstatus eth0", "lanstatind -n",
                      "ifconfig eth0", "ps"};
  ASSERT_EQ(lan_set_mdns_enable(0), 0);
  EXPECT_EQ(Run(1), Join({kSettings, dhcp, {"appweb -b -f appweb.conf"}}));
  ASSERT_EQ(lan_set_mdns_enable(1), 0);
  ASSERT_EQ(web_set_enable_flag(0), 0);
  EXPECT_EQ(Run(1), Join({kSettings, dhcp, {kService}}));
}

TEST_F(LanConfigTest, AnUnknownModeFallsBackToDhcp) {
  Store(kLanModeFile, "sideways");
  const Lines commands = Run(1);
  EXPECT_NE(printed_.find("action_up: lan_get_mode returned bogus mode \"sideways\""), std::string::npos)
      << printed_;
  EXPECT_EQ(File(kLanModeFile), "automatic");
  EXPECT_EQ(Interface("address"), "192.168.7.50");
  EXPECT_NE(std::find(commands.begin(), commands.end(), "dhclient eth0"), commands.end());
}

TEST_F(LanConfigTest, LiveValuesAreReadFromTheInterface) {
  Run(1);
  std::string value;
  ASSERT_EQ(lan_get_live_address(&value), 0);
  EXPECT_EQ(value, "192.168.7.50");
  ASSERT_EQ(lan_get_live_mac(&value), 0);
  EXPECT_EQ(value, "00:5A:7C:01:02:03");
  ASSERT_EQ(lan_get_live_netmask(&value), 0);
  EXPECT_EQ(value, "255.255.255.0");
  ASSERT_EQ(lan_get_live_gateway(&value), 0);
  EXPECT_EQ(value, "192.168.7.1");
  EXPECT_EQ(lan_get_live_dns(), "192.168.7.1");

  // Without a DNS server the reported name is the address itself.
  ASSERT_EQ(lan_set_dns_available(0), 0);
  EXPECT_EQ(lan_get_reported_hostname(), "192.168.7.50");

  ASSERT_EQ(lan_set_keepalive(0), 0);
  EXPECT_EQ(File(kLanKeepaliveFile), "-1");
  EXPECT_EQ(Interface("keepalive"), "-1");
  ASSERT_EQ(lan_set_ping(0), 0);
  EXPECT_EQ(Interface("ping"), "1") << "echo requests ignored";

  Store(kWebUsersFile, "intruder:4410X:0123\n");
  ASSERT_EQ(DoLCI(), 0);
  EXPECT_EQ(Commands().back(), "lanconfig lci");
  EXPECT_EQ(File(kWebUsersFile), File("/etc/appweb/factory_default_users.db"))
      << "the LAN reset gives the web pages their factory user list back";
  EXPECT_EQ(File(kLanKeepaliveFile), "3600");
  EXPECT_EQ(EditLanConfigMode("manual"), 0);
  EXPECT_EQ(Commands(), Lines{"editlanconfig manual eth0"});
}

TEST_F(LanConfigTest, IdentifyBlinksUntilTurnedOffThenShowsTheLink) {
  Run(1);
  ASSERT_EQ(SetIdentify(true), 0);
  EXPECT_TRUE(GetIdentify());
  EXPECT_EQ(Interface("indicator"), "blink");
  // A link check meanwhile is recorded, and leaves the indicator blinking.
  ASSERT_EQ(ActionUp(1), 0);
  EXPECT_EQ(Interface("indicator"), "blink");
  ASSERT_EQ(SetIdentify(false), 0);
  EXPECT_FALSE(GetIdentify());
  EXPECT_EQ(Interface("indicator"), "normal");
  const Lines commands = Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "lanstatind -b"), 1);
  const auto last = std::find_if(commands.rbegin(), commands.rend(),
                                 [](const std::string& line) { return line.rfind("lanstatind", 0) == 0; });
  ASSERT_NE(last, commands.rend());
  EXPECT_EQ(*last, "lanstatind -n");
}

// The names the discovery service is started with: the stored ones, or their defaults
// built from the serial number when none or an invalid one is stored; a resolved name
// is published only where it is the stored (or default) name with the number the
// service added, never a name left over from another serial number.
TEST_F(LanConfigTest, PublishedNamesFallBackToTheSerialNumbersDefaults) {
  constexpr const char* kMissing = nullptr;
  const std::string kDefaultService = "Corvane Switch System 4410X - SN12345";
  struct Row {
    const char* host;
    const char* resolved_host;
    const char* service;
    const char* resolved_service;
    std::string published;  // "<host> <service>"
  } rows[] = {
      {kMissing, kMissing, kMissing, kMissing, "C-4410X-SN12345 " + kDefaultService},
      {"", "", "", "", "C-4410X-SN12345 " + kDefaultService},
      {"9rack", kMissing, "a$b", kMissing, "C-4410X-SN12345 " + kDefaultService},
      {"bench7", kMissing, "Rack 3", kMissing, "bench7 Rack 3"},
      // Names the service resolved for an earlier serial number are not published.
      {kMissing, "C-4410X-SN999-2", kMissing, "Corvane Switch System 4410X - SN999 #2",
       "C-4410X-SN12345 " + kDefaultService},
      // The stored (or default) name with the service's number is.
      {"bench7", "bench7-2", kMissing, "Corvane Switch System 4410X - SN12345 #2",
       "bench7-2 " + kDefaultService + " #2"},
  };
  for (const Row& row : rows) {
    for (const auto& [file, value] :
         {std::pair{kLanHostnameFile, row.host}, std::pair{kLanResolvedHostnameFile, row.resolved_host},
          std::pair{kLanServiceNameFile, row.service},
          std::pair{kLanResolvedServiceNameFile, row.resolved_service}}) {
      if (value == kMissing) {
        std::remove((root_.path() + file).c_str());
      } else {
        Store(file, value);
      }
    }
    Commands();
    testing::internal::CaptureStdout();
    StartDiscoveryService(0);
    testing::internal::GetCapturedStdout();
    const Lines commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "lxi-avahi-service 1.6.8 SN12345 " + row.published)
        << (row.host ? row.host : "(missing)");
  }
}

}  // namespace
