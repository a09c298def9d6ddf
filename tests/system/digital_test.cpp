// Digital I/O on a running virtual chassis: a synchronous run over TCP clocked by
// `vchassis dio-clock`, with input bytes presented by `vchassis dio-input`, and a run of
// 256 points at the fastest clock the virtual chassis gives, checked byte by byte.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Digital = ChassisTest;

TEST_F(Digital, ASynchronousRunDrivesAndRecordsOneByteAPortPerEdge) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("DIG:OUTP:STATE ON,(@6(0,1));:DIG:CONF (@6(3))\n"));
  ASSERT_TRUE(client.Send("DIG:SYNC:DATA (@6(0)),17,18,19;:DIG:SYNC:DATA (@6(1)),33,34\n"));
  ASSERT_TRUE(client.Send("DIG:SYNC:POIN (@6(2)),3;:DIG:SYNC:STATE ON,(@6)\n"));
  ASSERT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  const char* presented[] = {"0xA1", "0xA2", "0xA3"};
  const char* driven[] = {"edge 1: 0 0x11 1 0x21\n", "edge 1: 0 0x12 1 0x22\n",
                          "edge 1: 0 0x13 1 0x22\n"};
  for (int edge = 0; edge < 3; ++edge) {
    Control({"dio-input", "6", "2", presented[edge]});
    EXPECT_EQ(Control({"dio-clock", "6"}), driven[edge]);
  }
  EXPECT_EQ(client.Query("DIG:SYNC:DATA? (@6(2))"), "161,162,163");
  EXPECT_EQ(client.Query("DIG:SYNC:STAT? (@6)"), "0") << "the run left sync mode";
  const std::string ports = Control({"dio", "6"});
  EXPECT_NE(ports.find("0 out 0x13\n1 out 0x22\n2 in 0xA3\n"), std::string::npos) << ports;
  EXPECT_NE(ports.find("sync 3 control 0x2"), std::string::npos) << ports << " (disarmed)";

  // An edge while disarmed is logged and changes nothing.
  const Outcome unarmed = Vchassis({"dio-clock", "6"}, root_);
  EXPECT_EQ(unarmed.status, 1);
  const std::string count = client.Query("SYST:EVEN:COUN?");
  EXPECT_NE(client.Query("SYST:EVEN? " + count)
                .find("SM-DIO12 Card Interrupt triggered on slot 6, but interrupt is not enabled."),
            std::string::npos);
  EXPECT_NE(Control({"dio", "6"}).find("0 out 0x13\n"), std::string::npos);
}

TEST_F(Digital, A256PointRunAtTheFastestClockLosesAndRepeatsNothing) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  std::string data = "DIG:SYNC:DATA (@6(0))";
  for (int i = 0; i < 256; ++i) data += "," + std::to_string(i);
  ASSERT_TRUE(client.Send("DIG:OUTP:STATE ON,(@6(0));:DIG:CONF (@6(1))\n"));
  ASSERT_TRUE(client.Send(data + "\n"));
  ASSERT_TRUE(client.Send("DIG:SYNC:STATE ON,(@6)\n"));
  ASSERT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  const Outcome run = Vchassis({"dio-clock", "6", "256"}, root_);
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  int edge = 0;
  while (std::getline(lines, line)) {
    char expected[48];
    std::snprintf(expected, sizeof expected, "edge %d: 0 0x%02X", edge + 1, edge);
    EXPECT_EQ(line, expected);
    ++edge;
  }
  EXPECT_EQ(edge, 256);
  EXPECT_EQ(client.Query("DIG:SYNC:STAT? (@6)"), "0");
}

}  // namespace
}  // namespace systest
