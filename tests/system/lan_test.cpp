// The LAN configuration on a virtual chassis: what start-up brings up (DHCP, the
// indicator, the discovery service, the web server), a static address set over SCPI,
// a duplicate address, and the front-panel reset back to the defaults. The simulated
// interface is read with `vchassis lan`.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

class Lan : public ChassisTest {
 protected:
  // A file under the chassis root, whole, or "<missing>".
  std::string File(const std::string& fixed_path) {
    std::ifstream file(root_ + fixed_path, std::ios::binary);
    if (!file) return "<missing>";
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  // `vchassis lan` as key and value.
  std::map<std::string, std::string> Interface() {
    std::map<std::string, std::string> values;
    std::istringstream lines(Control({"lan"}));
    for (std::string line; std::getline(lines, line);) {
      const size_t colon = line.find(": ");
      if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
  }

  // Sends a command that may take long (a LAN reset waits for its checks) and waits
  // for it to end.
  void SendAndWait(TcpClient* client, const std::string& command) {
    ASSERT_TRUE(client->Send(command + ";*OPC?\n"));
    std::string line;
    ASSERT_TRUE(client->ReadLine(&line, 30000)) << command;
    EXPECT_EQ(line, "1") << command;
  }
};

TEST_F(Lan, StartUpBringsTheInterfaceUpWithDhcpAndPublishesTheInstrument) {
  const auto lan = Interface();
  EXPECT_EQ(lan.at("link"), "up");
  EXPECT_EQ(lan.at("address"), "192.168.7.50");
  EXPECT_EQ(lan.at("dhcp"), "running");
  EXPECT_EQ(lan.at("indicator"), "normal");
  EXPECT_EQ(lan.at("ping"), "0") << "echo requests are answered";
  EXPECT_EQ(lan.at("keepalive"), "3600");
  EXPECT_EQ(lan.at("mdns"), "running");
  EXPECT_EQ(lan.at("web"), "running");
  EXPECT_EQ(lan.at("mac").substr(0, 8), "00:5A:7C");

  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  const std::string serial = client.Query("DIAG:SER:READ?");
  EXPECT_EQ(lan.at("hostname"), "C-4410X-" + serial);
  EXPECT_EQ(lan.at("service"), "Corvane Switch System 4410X - " + serial);
  EXPECT_EQ(client.Query("SYST:COMM:LAN:IPAD?"), "192.168.7.50");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:MODE?"), "AUTO");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:GATE?"), "192.168.7.1");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:SMAS?"), "255.255.255.0");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:DNS?"), "192.168.7.1");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:MAC?"), lan.at("mac"));
  EXPECT_EQ(client.Query("SYST:COMM:ENAB? LAN"), "1");
  EXPECT_EQ(client.Query("*IDN?"), std::string(kIdentity));
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");

  // The identity files and the cards' web control folders are there after start-up.
  EXPECT_EQ(File("/etc/sysinfo/serial_number"), serial);
  EXPECT_EQ(File("/etc/sysinfo/model_name"), "4410X");
  EXPECT_EQ(File("/etc/sysinfo/gpib_visa_resource"), "GPIB::1::INSTR");
  EXPECT_EQ(File("/etc/sysinfo/servicename"), "Corvane Switch System 4410X - " + serial);
  EXPECT_EQ(File("/var/www/controls/system/model"), "4410X System");
  EXPECT_EQ(File("/var/www/controls/slot3/model"), "SM-MX26Q");
  EXPECT_EQ(File("/var/www/controls/slot3/slot"), "3");
  // Slot 8 holds a card whose channel table is downloaded: its panel's size is computed.
  EXPECT_EQ(File("/var/www/controls/slot8/class"), "MainForm");
  EXPECT_NE(File("/var/www/controls/slot8/width"), "<missing>");
  EXPECT_NE(File("/var/www/controls/slot8/height"), "<missing>");
  ASSERT_TRUE(client.Send("SYST:COMM:GPIB:ADDR 7\n"));
  EXPECT_EQ(client.Query("SYST:COMM:GPIB:ADDR?"), "7");
  EXPECT_EQ(File("/etc/sysinfo/gpib_visa_resource"), "GPIB::7::INSTR");
}

TEST_F(Lan, AStaticAddressTakesEffectAtTheNextResetAndADuplicateShowsTheFault) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("SYST:COMM:LAN:MAN:IPAD 192.168.0.50;:SYST:COMM:LAN:MAN:SMAS 255.255.255.0;"
                          ":SYST:COMM:LAN:MAN:GATE 192.168.0.1;:SYST:COMM:LAN:MODE MAN\n"));
  EXPECT_EQ(client.Query("SYST:COMM:LAN:MODE?"), "AUTO") << "only stored so far";
  ASSERT_NO_FATAL_FAILURE(SendAndWait(&client, "SYST:COMM:LAN:RES"));
  auto lan = Interface();
  EXPECT_EQ(lan.at("address"), "192.168.0.50");
  EXPECT_EQ(lan.at("gateway"), "192.168.0.1");
  EXPECT_EQ(lan.at("dhcp"), "stopped");
  EXPECT_EQ(lan.at("indicator"), "normal");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:MODE?"), "MAN");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:IPAD?"), "192.168.0.50");

  Control({"lan-duplicate", "192.168.0.50"});
  ASSERT_NO_FATAL_FAILURE(SendAndWait(&client, "SYST:COMM:LAN:RES"));
  lan = Interface();
  EXPECT_EQ(lan.at("link"), "down");
  EXPECT_EQ(lan.at("indicator"), "fault");
  ASSERT_TRUE(client.Send("SYST:COMM:LAN:IPAD?\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "-301,\"System error\"") << "no address in effect";
}

TEST_F(Lan, TheFrontPanelResetRestoresTheDefaultsAndTheNextResetBringsDhcpBack) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("SYST:COMM:LAN:MAN:IPAD 192.168.0.50;:SYST:COMM:LAN:MAN:SMAS 255.255.255.0;"
                          ":SYST:COMM:LAN:MODE MAN\n"));
  Control({"lan-duplicate", "192.168.0.50"});  // the static address would fail at once
  ASSERT_NO_FATAL_FAILURE(SendAndWait(&client, "SYST:COMM:LAN:RES"));
  EXPECT_EQ(Interface().at("indicator"), "fault");

  Control({"lan-button", "press"});
  std::this_thread::sleep_for(std::chrono::milliseconds(5300));
  Control({"lan-button", "release"});
  // The reset tool logs its call before it writes the defaults: wait for those.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string address = client.Query("SYST:COMM:LAN:MAN:IPAD?");
  while (address != "NONE" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    address = client.Query("SYST:COMM:LAN:MAN:IPAD?");
  }
  EXPECT_EQ(address, "NONE");
  EXPECT_NE(Control({"commands"}).find("lanconfig lci"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(SendAndWait(&client, "SYST:COMM:LAN:RES"));
  const auto lan = Interface();
  EXPECT_EQ(lan.at("address"), "192.168.7.50");
  EXPECT_EQ(lan.at("dhcp"), "running");
  EXPECT_EQ(lan.at("indicator"), "normal");
  EXPECT_EQ(client.Query("SYST:COMM:LAN:MODE?"), "AUTO");
}

}  // namespace
}  // namespace systest
