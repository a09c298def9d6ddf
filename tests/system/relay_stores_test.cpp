// Named paths, verification, saved states and the instrument reset on a running virtual
// chassis over TCP, checked against the coils `vchassis coils` reads, and what a chassis
// brings back when it starts again on the root it left.
#include <string>
#include <vector>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using RelayStores = ChassisTest;

// Every relay card of the default cage with some relays closed, as channel lists.
const std::vector<std::pair<int, std::string>> kClosedPerCard = {
    {1, "100,207,1200"}, {2, "0,1507"}, {3, "13,250"}, {4, "0,101"},
    {8, "1,32"},         {9, "0,100"},  {12, "0,51"},
};

std::string ClosedList() {
  std::string list = "(@";
  for (const auto& [slot, channels] : kClosedPerCard) {
    list += (list.size() > 2 ? "," : "") + std::to_string(slot) + "(" + channels + ")";
  }
  return list + ")";
}

TEST_F(RelayStores, ASavedStateComesBackOnEveryRelayCardWithTheCoils) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("CLOS " + ClosedList() + "\n"));
  ASSERT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  std::vector<std::string> coils;
  for (const auto& [slot, channels] : kClosedPerCard) {
    coils.push_back(Control({"coils", std::to_string(slot)}));
    EXPECT_NE(coils.back(), "none\n") << slot;
  }
  ASSERT_TRUE(client.Send("*SAV 3;*RST\n"));
  EXPECT_EQ(client.Query("CLOS? " + ClosedList()), "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
  for (const auto& [slot, channels] : kClosedPerCard) {
    EXPECT_EQ(Control({"coils", std::to_string(slot)}), "none\n") << "*RST opens slot " << slot;
  }
  ASSERT_TRUE(client.Send("*RCL 3\n"));
  EXPECT_EQ(client.Query("CLOS? " + ClosedList()), "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1");
  for (std::size_t i = 0; i < kClosedPerCard.size(); ++i) {
    EXPECT_EQ(Control({"coils", std::to_string(kClosedPerCard[i].first)}), coils[i]);
  }
  ASSERT_TRUE(client.Send("*RCL 4\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"),
            "-200,\"Execution error ; the *RCL state could not be recalled because it has not "
            "been saved with *SAV command\"");
  EXPECT_EQ(client.Query("*TST?"), "0");
  EXPECT_EQ(client.Query("*TST? 2"), "-301");
}

TEST_F(RelayStores, PathsSwitchTheCoilsAndVerifyFindsAStuckRelay) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("PATH:DEF DMM_TO_DUT3,(@1(103),2(3)),(@1(104))\n"));
  ASSERT_TRUE(client.Send("CLOS (@1(104));:CLOS (@DMM_TO_DUT3)\n"));
  EXPECT_EQ(client.Query("CLOS? (@1(103),DMM_TO_DUT3,1(104))"), "1 1 0");
  EXPECT_EQ(Control({"coils", "1"}), "3\n");
  EXPECT_EQ(Control({"coils", "2"}), "3\n");

  // The simulated cards read back active low: the inverted mask verifies them.
  ASSERT_TRUE(client.Send("VER:MASK (@1(100:1207)),INV\n"));
  EXPECT_EQ(client.Query("VER? (@1(103,104))"), "OK");
  EXPECT_EQ(Control({"stick", "1", "3"}), "slot 1 (SM-RD96) coil 3 stuck energised\n");
  ASSERT_TRUE(client.Send("OPEN (@DMM_TO_DUT3)\n"));
  EXPECT_EQ(client.Query("CLOS? (@1(103))"), "0");
  EXPECT_EQ(client.Query("VER? (@1(103,104))"), "1 : 103");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(RelayStores, ARestartOnTheSameRootBringsBackWhatWasAskedFor) {
  {
    TcpClient client;
    ASSERT_GE(ConnectCommand(&client), 0);
    ASSERT_TRUE(client.Send("CLOS (@1(100),9(1));*SAV 0\n"));
    ASSERT_TRUE(client.Send("INCL (@2(0),2(1));:INCL:STOR;:INCL:REC:AUTO ON\n"));
    ASSERT_TRUE(client.Send("VER:MASK (@1(100)),INV;:VER:STOR;:VER:REC:STAT ON\n"));
    ASSERT_TRUE(client.Send("MOD:DEF PSU,9;:MOD:SAVE;:MOD:REC:STAT ON\n"));
    ASSERT_TRUE(client.Send("PATH:DEF FEED,(@1(101));:PATH:STOR\n"));
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  }
  ASSERT_NO_FATAL_FAILURE(RestartChassis());
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  // State 0 is the power-on state; the lists with autorecall come back, paths do not.
  EXPECT_EQ(client.Query("CLOS? (@1(100),9(1),1(101))"), "1 1 0");
  EXPECT_EQ(Control({"coils", "1"}), "0\n");
  EXPECT_EQ(client.Query("INCL?"), "(@2(0),2(1))");
  EXPECT_EQ(client.Query("VER:MASK? (@1(100:101))"), "1 X");
  EXPECT_EQ(client.Query("MOD:CAT?"), "PSU");
  EXPECT_EQ(client.Query("CLOS? (@PSU(1))"), "1");
  EXPECT_EQ(client.Query("PATH:CAT?"), "");
  ASSERT_TRUE(client.Send("PATH:REC\n"));
  EXPECT_EQ(client.Query("PATH:CAT?"), "FEED");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

}  // namespace
}  // namespace systest
