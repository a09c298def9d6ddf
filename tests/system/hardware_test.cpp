// The chassis hardware seen over the LAN: the event log that start-up writes, and the
// service commands that read the simulated FPGA and the cards' local bus.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace systest
