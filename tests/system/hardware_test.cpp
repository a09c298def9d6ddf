// The chassis hardware seen over the LAN: the event log that start-up writes, the
// service commands that read the simulated FPGA and the cards' local bus, the board's
// FRAM records, the fans following the temperature, the LAN reset button and a power
// failure recorded before the power goes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Hardware = ChassisTest;

TEST_F(Hardware, StartUpLogsPowerOnAndTheLogCanBeCleared) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("SYST:EVEN:COUN?"), "1");
  std::string entry = client.Query("SYST:EVEN? 1");
  EXPECT_EQ(entry.rfind("1,", 0), 0u) << entry;
  EXPECT_NE(entry.find("Power-on"), std::string::npos) << entry;
  ASSERT_TRUE(client.Send("SYST:EVEN? 51\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "-222,\"Data out of range\"");
  ASSERT_TRUE(client.Send("SYST:EVEN:CLE:ALL\n"));
  EXPECT_EQ(client.Query("SYST:EVEN:COUN?"), "0");
}

TEST_F(Hardware, ServiceCommandsReachTheFpgaAndTheLocalBus) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("DIAG:FPGA:READ? #H401C").rfind("#H", 0), 0u);
  // The empty slot of the default cage answers 0xFF on its local bus.
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 11,0"), "#HFF");
  ASSERT_TRUE(client.Send("DIAG:LBUS:READ? 13,0\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "-222,\"Data out of range\"");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

// Polls `read` until it gives `expected` or `seconds` have passed; the last answer.
template <typename Read>
std::string AwaitAnswer(Read read, const std::string& expected, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::string answer = read();
  while (answer != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    answer = read();
  }
  return answer;
}

TEST_F(Hardware, FansFollowTheTemperatureWithinTwoPeriods) {
  auto fans = [this] { return Control({"fans"}); };
  EXPECT_EQ(AwaitAnswer(fans, "chassis: auto\nbus-board: off\n", 11), "chassis: auto\nbus-board: off\n");
  Control({"temperature", "80"});
  EXPECT_EQ(AwaitAnswer(fans, "chassis: on\nbus-board: on\n", 11), "chassis: on\nbus-board: on\n");
  Control({"temperature", "25"});
  EXPECT_EQ(AwaitAnswer(fans, "chassis: auto\nbus-board: off\n", 11), "chassis: auto\nbus-board: off\n");
}

TEST_F(Hardware, MacAddressAndSerialNumberLiveInTheBoardFram) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  // The factory programmed the board with an address of the maker's OUI.
  EXPECT_EQ(client.Query("DIAG:MAC:ADDR:READ?").rfind("00.5A.7C.", 0), 0u);
  ASSERT_TRUE(client.Send("DIAG:MAC:ADDR:WRIT '00.5A.7C.12.34.56'\n"));
  EXPECT_EQ(client.Query("DIAG:MAC:ADDR:READ?"), "00.5A.7C.12.34.56");
  EXPECT_EQ(Control({"fram", "read", "0", "0", "6"}), "00 5A 7C 12 34 56\n");
  ASSERT_TRUE(client.Send("DIAG:SER:WRIT \"SN12345\"\n"));
  EXPECT_EQ(client.Query("DIAG:SER:READ?"), "SN12345");
  ASSERT_TRUE(client.Send("DIAG:MAC:ADDR:WRIT 00.5A.7C.12.34\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"),
            "-224,\"illegal parameter value;invalid parameter format, expecting XX.XX.XX.XX.XX.XX\"");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Hardware, AFiveSecondLanButtonPressResetsTheLanConfiguration) {
  auto resets = [this] {
    const std::string commands = Control({"commands"});
    return commands.find("lanconfig lci") != std::string::npos ? "reset" : "none";
  };
  Control({"lan-button", "press"});
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  Control({"lan-button", "release"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(std::string(resets()), "none") << "a two-second press does nothing";
  Control({"lan-button", "press"});
  std::this_thread::sleep_for(std::chrono::milliseconds(5300));
  Control({"lan-button", "release"});
  EXPECT_EQ(AwaitAnswer([&] { return std::string(resets()); }, "reset", 5), "reset");
}

TEST_F(Hardware, APowerFailureIsLoggedBeforeTheNextPowerOn) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("SYST:EVEN:CLE:ALL\n"));
  ASSERT_TRUE(client.Send("DIAG:SER:WRIT 'SN-BEFORE'\n"));
  EXPECT_EQ(client.Query("*OPC?"), "1");
  Control({"power-fail"});
  Control({"power-fail"});
  client.Close();
  ASSERT_NO_FATAL_FAILURE(RestartChassis());
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("SYST:EVEN:COUN?"), "2") << "one power-down record for two events";
  EXPECT_NE(client.Query("SYST:EVEN? 1").find("Power down/failure"), std::string::npos);
  EXPECT_NE(client.Query("SYST:EVEN? 2").find("Power-on"), std::string::npos);
  EXPECT_EQ(client.Query("DIAG:SER:READ?"), "SN-BEFORE") << "the FRAM keeps it across the restart";
}

}  // namespace
}  // namespace systest
