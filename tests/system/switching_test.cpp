// Switching on a running virtual chassis, as a test engineer drives it over TCP: relays
// closed and opened on several cards agree with the coils `vchassis coils` reads, a
// failing local bus reaches the client's error queue, a stuck relay shows in the coil
// readback while CLOSe? answers what was commanded, interlock lists survive a restart
// when asked to, and a relay change is announced on the event port.
#include <string>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Switching = ChassisTest;

TEST_F(Switching, ClosedRelaysAreTheCoilsTheCardsEnergise) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  // SM-RD96 channel 100 + 100b + r drives bit 8b + r; SM-MT816 channel 0 drives bit 0.
  ASSERT_TRUE(client.Send("ROUT:CLOS (@1(100,207),2(0),1(1200))\n"));
  EXPECT_EQ(client.Query("CLOS? (@1(100,101,207,1200),2(0))"), "1 0 1 1 1");
  EXPECT_EQ(Control({"coils", "1"}), "0 15 88\n");
  EXPECT_EQ(Control({"coils", "2"}), "0\n");

  ASSERT_TRUE(client.Send("OPEN (@1(207),2(0))\n"));
  EXPECT_EQ(client.Query("OPEN? (@1(100,207),2(0))"), "0 1 1");
  EXPECT_EQ(Control({"coils", "1"}), "0 88\n");
  EXPECT_EQ(Control({"coils", "2"}), "none\n");
  ASSERT_TRUE(client.Send("OPEN:ALL\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");  // also: OPEN:ALL has run
  EXPECT_EQ(Control({"coils", "1"}), "none\n");
}

TEST_F(Switching, AFailingLocalBusIsTheClientsErrorAndAStuckRelayShowsInTheReadback) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(Control({"lbus-fail", "1"}), "slot 1 local bus failing\n");
  ASSERT_TRUE(client.Send("CLOS (@1(100))\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"),
            "-300,\"Device-specifiec error ; an error occurred during an I/O operation with "
            "the FPGA interface\"");
  EXPECT_EQ(Control({"lbus-restore", "1"}), "slot 1 local bus working\n");
  ASSERT_TRUE(client.Send("CLOS (@1(101))\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  EXPECT_EQ(Control({"coils", "1"}), "0 1\n");

  // Coil 1 sticks: the relay is commanded open and CLOSe? says so, but the coil stays.
  EXPECT_EQ(Control({"stick", "1", "1"}), "slot 1 (SM-RD96) coil 1 stuck energised\n");
  ASSERT_TRUE(client.Send("OPEN (@1(100,101))\n"));
  EXPECT_EQ(client.Query("CLOS? (@1(100,101))"), "0 0");
  EXPECT_EQ(Control({"coils", "1"}), "1\n");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Switching, TheEventPortAnnouncesEachMessageThatChangedRelays) {
  TcpClient command, events;
  const int number = ConnectCommand(&command);
  ASSERT_GE(number, 0);
  ASSERT_TRUE(events.Connect(event_port()));
  ASSERT_NO_FATAL_FAILURE(Register(&events, number, "1FFE"));  // slots 0..11
  ASSERT_EQ(command.Query("*IDN?"), kIdentity);

  ASSERT_TRUE(command.Send("CLOS (@1(100));CLOS (@2(0))\n"));
  std::string notice;
  ASSERT_TRUE(events.ReadExactly(5, &notice));
  // Relay change (bit 29) for slots 1 and 2 (bits 3 and 4).
  EXPECT_EQ(notice, std::string("\x18\x00\x00\x20\n", 5));
  // A query and a command that changes nothing announce nothing.
  EXPECT_EQ(command.Query("CLOS? (@1(100))"), "1");
  ASSERT_TRUE(command.Send("CLOS (@1(100))\n"));
  EXPECT_EQ(command.Query("*OPC?"), "1");
  EXPECT_TRUE(events.Silent(200));
  ASSERT_TRUE(command.Send("ATT 30,(@5(0))\n"));
  ASSERT_TRUE(events.ReadExactly(5, &notice));
  EXPECT_EQ(notice, std::string("\x80\x00\x00\x20\n", 5));  // slot 5: bit 7
}

TEST_F(Switching, InterlockListsComeBackAfterARestartWhenAskedTo) {
  {
    TcpClient client;
    ASSERT_GE(ConnectCommand(&client), 0);
    ASSERT_TRUE(client.Send("EXCL (@1(100,101));INCL (@2(0),2(1));EXCL:STOR;:INCL:STOR\n"));
    ASSERT_TRUE(client.Send("EXCL:REC:AUTO ON;:INCL:REC:AUTO OFF\n"));
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  }
  ASSERT_NO_FATAL_FAILURE(RestartChassis());

  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("EXCL?;:INCL?"), "(@1(100),1(101));");
  EXPECT_EQ(client.Query("EXCL:REC:AUTO?;:INCL:REC:AUTO?"), "1;0");
  ASSERT_TRUE(client.Send("CLOS (@1(100));CLOS (@1(101))\n"));
  EXPECT_EQ(client.Query("CLOS? (@1(100:101))"), "0 1");
}

}  // namespace
}  // namespace systest
