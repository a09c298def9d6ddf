// Scans on a running virtual chassis over TCP: the start and end notices on the event
// port, a scan stepped by the external trigger input (`vchassis trigger`) with the
// coils and the output-trigger pulses (`vchassis trigger-out`) following it, and the
// scan list coming back after a restart on the same root.
#include <chrono>
#include <string>
#include <thread>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Scanning = ChassisTest;

TEST_F(Scanning, TheEventPortAnnouncesTheStartAndTheEndOfAScan) {
  TcpClient command, events;
  const int number = ConnectCommand(&command);
  ASSERT_GE(number, 0);
  ASSERT_TRUE(events.Connect(event_port()));
  ASSERT_NO_FATAL_FAILURE(Register(&events, number, "1"));  // scan start and end
  ASSERT_TRUE(command.Send("TRIG:SOUR BUS;COUN 2;:ROUT:SCAN (@1(100:101));:INIT\n"));
  std::string notice;
  ASSERT_TRUE(events.ReadExactly(5, &notice));
  EXPECT_EQ(notice, std::string("\x01\x00\x00\x00\n", 5));
  ASSERT_TRUE(command.Send("*TRG\n"));
  EXPECT_EQ(command.Query("STAT:OPER:COND?"), "32");
  EXPECT_TRUE(events.Silent(100)) << "one step is no end";
  ASSERT_TRUE(command.Send("*TRG\n"));
  ASSERT_TRUE(events.ReadExactly(5, &notice));
  EXPECT_EQ(notice, std::string("\x02\x00\x00\x00\n", 5));
  EXPECT_EQ(command.Query("STAT:OPER:COND?"), "64");
  EXPECT_EQ(command.Query("*OPC?"), "1");
  EXPECT_EQ(command.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(Scanning, TheExternalTriggerStepsTheScanAndTheTriggerOutputPulses) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("OUTP:TRIG?"), "1") << "on at power-up";
  EXPECT_EQ(Control({"trigger-out"}), "0 pulses\n");
  ASSERT_TRUE(client.Send("TRIG:SOUR EXT;COUN 3;:ROUT:SCAN (@1(100:102));:INIT\n"));
  ASSERT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  const char* expected[] = {"0\n", "1\n", "2\n"};
  for (const char* coils : expected) {
    EXPECT_EQ(Control({"trigger"}), "external trigger fired\n");
    // The step runs on the firmware's interrupt monitor; wait for the coils.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    std::string now = Control({"coils", "1"});
    while (now != coils && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      now = Control({"coils", "1"});
    }
    EXPECT_EQ(now, coils);
  }
  EXPECT_EQ(client.Query("STAT:OPER:COND?"), "64") << "the count ran out";
  const std::string pulses = Control({"trigger-out"});
  EXPECT_EQ(pulses.rfind("3 pulses, last at ", 0), 0u) << pulses;
  // A fourth trigger finds no scan.
  EXPECT_EQ(Control({"trigger"}), "external trigger fired\n");
  EXPECT_EQ(client.Query("*OPC?"), "1");
  EXPECT_EQ(Control({"coils", "1"}), "2\n");
  ASSERT_TRUE(client.Send("*RST\n"));
  EXPECT_EQ(client.Query("OUTP:TRIG?"), "0");
}

TEST_F(Scanning, TheScanListComesBackAfterARestartWithAutorecallOn) {
  {
    TcpClient client;
    ASSERT_GE(ConnectCommand(&client), 0);
    ASSERT_TRUE(client.Send("PATH:DEF FEED,(@2(0));:PATH:STOR\n"));
    ASSERT_TRUE(client.Send("ROUT:SCAN (@1(100),FEED,9(1));:ROUT:SCAN:STOR;:ROUT:SCAN:REC:AUTO ON\n"));
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  }
  ASSERT_NO_FATAL_FAILURE(RestartChassis());
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("ROUT:SCAN?"), "(@1(100),FEED,9(1))");
  EXPECT_EQ(client.Query("ROUT:SCAN:REC:AUTO?"), "1");
  EXPECT_EQ(client.Query("PATH:CAT?"), "FEED") << "the scan list brought its path back";
}

}  // namespace
}  // namespace systest
