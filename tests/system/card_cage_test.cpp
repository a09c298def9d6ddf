// The card cage of a virtual chassis seen from outside: `vchassis` control subcommands
// against a running chassis (the default cage, relay coils and stuck relays, a failing
// local bus, card interrupts and the external trigger) checked against what the
// firmware reports over TCP, and the cards' FRAM kept across runs on one root.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/vchassis_process.h"
#include "sim/vchassis_root.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using CardCage = ChassisTest;

TEST_F(CardCage, CardsListsTheDefaultCageAndBadRequestsAreRefused) {
  EXPECT_NE(ready_line_.find("vchassis: ready"), std::string::npos);
  EXPECT_NE(launcher_->Output().find("1 SM-RD96, 2 SM-MT816, 3 SM-MX26Q"), std::string::npos)
      << "vchassis run names its cage";
  EXPECT_EQ(Control({"cards"}),
            "1 SM-RD96 0x7A01\n"
            "2 SM-MT816 0x7A07\n"
            "3 SM-MX26Q 0x7A13\n"
            "4 SM-MX12H 0x7A10\n"
            "5 SM-AT56 0x7A0A\n"
            "6 SM-DIO12-TTL 0x7A20\n"
            "7 SM-CT1 0x7A12\n"
            "8 GENERIC 0x7B01\n"
            "9 SM-SC64 0x7A06\n"
            "10 SM-RF4D 0x7A14\n"
            "12 SM-MX52 0x7A03\n");

  Outcome empty = Vchassis({"coils", "11"}, root_);
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "vchassis: slot 11 is empty\n");
  EXPECT_EQ(empty.out, "");
  Outcome no_interrupts = Vchassis({"interrupt", "1"}, root_);
  EXPECT_EQ(no_interrupts.status, 1);
  EXPECT_EQ(no_interrupts.err, "vchassis: slot 1 (SM-RD96) raises no interrupts\n");
  Outcome beyond = Vchassis({"stick", "1", "96"}, root_);
  EXPECT_EQ(beyond.status, 1);
  EXPECT_NE(beyond.err.find("has no relay coil 96"), std::string::npos) << beyond.err;
  Outcome missing_slot = Vchassis({"coils"}, root_);
  EXPECT_EQ(missing_slot.status, 2);
  EXPECT_NE(missing_slot.err.find("usage: vchassis"), std::string::npos);
  Outcome unknown = Vchassis({"press-button"}, root_);
  EXPECT_EQ(unknown.status, 2);

  // A root where no chassis runs.
  Outcome nobody = Vchassis({"cards"}, root_ + "/nowhere");
  EXPECT_EQ(nobody.status, 1);
  EXPECT_NE(nobody.err.find("cannot reach the chassis"), std::string::npos) << nobody.err;
}

TEST_F(CardCage, CoilsFollowTheDriveTheFirmwareWritesAndAStuckRelayIsSeenInItsReadback) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(Control({"coils", "1"}), "none\n");
  ASSERT_TRUE(client.Send("DIAG:LBUS:WRIT 1,1,254\n"));
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#H1");  // active low: coil 0 released
  EXPECT_EQ(Control({"coils", "1"}), "1 2 3 4 5 6 7\n");
  ASSERT_TRUE(client.Send("DIAG:LBUS:WRIT 1,1,1\n"));
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#HFE");
  EXPECT_EQ(Control({"coils", "1"}), "0\n");

  EXPECT_EQ(Control({"stick", "1", "0"}), "slot 1 (SM-RD96) coil 0 stuck energised\n");
  ASSERT_TRUE(client.Send("DIAG:LBUS:WRIT 1,1,0\n"));
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#HFE") << "the stuck coil stays energised";
  EXPECT_EQ(Control({"coils", "1"}), "0\n");
  EXPECT_EQ(Control({"unstick", "1", "0"}), "slot 1 (SM-RD96) coil 0 follows its drive again\n");
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#HFF");
  EXPECT_EQ(Control({"coils", "1"}), "none\n");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(CardCage, AFailingLocalBusShowsInTheErrorQueueUntilRestored) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#HFF");
  EXPECT_EQ(Control({"lbus-fail", "1"}), "slot 1 local bus failing\n");
  ASSERT_TRUE(client.Send("DIAG:LBUS:READ? 1,1\n"));
  const std::string error = client.Query("SYST:ERR?");
  EXPECT_EQ(error.rfind("-", 0), 0u) << error;
  EXPECT_NE(error.find("FPGA interface"), std::string::npos) << error;
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 2,1"), "#HFF") << "other slots still answer";

  EXPECT_EQ(Control({"lbus-restore", "1"}), "slot 1 local bus working\n");
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 1,1"), "#HFF");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(CardCage, TriggerAndCardInterruptReachTheFirmwareWhenTheMaskLetsThemLoose) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  // Held off by the mask, both sources stay pending where the firmware can see them.
  ASSERT_TRUE(client.Send("DIAG:FPGA:WRIT #H401C,#H1000040\n"));
  EXPECT_EQ(client.Query("DIAG:FPGA:READ? #H401C"), "#H1000040");
  EXPECT_EQ(Control({"trigger"}), "external trigger fired\n");
  EXPECT_EQ(Control({"interrupt", "7"}), "slot 7 (SM-CT1) interrupt 0xC0 raised\n");
  EXPECT_EQ(Control({"fpga", "read", "0x4014"}), "0x01000040\n");  // slot 7 owns bit 6
  EXPECT_EQ(client.Query("DIAG:FPGA:READ? #H4014"), "#H1000040");
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 7,519"), "#H3F");  // 0x207: status active low
  // Let loose, they reach the firmware as events. It acknowledges both sources; the test
  // card's handler keeps the card's status for the service query and acknowledges it.
  ASSERT_TRUE(client.Send("DIAG:FPGA:WRIT #H401C,0\n"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  std::string pending = Control({"fpga", "read", "0x4014"});
  while (pending != "0x00000000\n" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pending = Control({"fpga", "read", "0x4014"});
  }
  EXPECT_EQ(pending, "0x00000000\n");
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 7,519"), "#HFF");
  EXPECT_EQ(client.Query("DIAG:INT:READ?"), "#H0,#H0,#H0,#H0,#H0,#H0,#HC0,#H0,#H0,#H0,#H0,#H0");
  // Read once, the byte is cleared.
  EXPECT_EQ(client.Query("DIAG:INT:READ?"), "#H0,#H0,#H0,#H0,#H0,#H0,#H0,#H0,#H0,#H0,#H0,#H0");
  EXPECT_EQ(Control({"power-fail"}), "power failure queued\n");
  EXPECT_EQ(client.Query("*IDN?"), kIdentity);
}

// The numbers joined as a module list reply.
std::string Joined(const std::vector<int>& numbers) {
  std::string text;
  for (int number : numbers) text += (text.empty() ? "" : ",") + std::to_string(number);
  return text;
}

TEST_F(CardCage, ModuleListsGiveEachCardsNumbersInItsOwnOrder) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  std::vector<int> relay_driver, tree_mux, matrix;
  for (int b = 1; b <= 12; ++b) {
    for (int r = 0; r < 8; ++r) relay_driver.push_back(100 * b + r);
  }
  for (int m = 0; m < 26; ++m) {
    for (int k = 0; k < 4; ++k) tree_mux.push_back(10 * m + k);
  }
  for (int x = 0; x < 16; ++x) {
    for (int y = 0; y < 8; ++y) matrix.push_back(100 * x + y);
  }
  EXPECT_EQ(client.Query("SYST:MOD:CHAN:LIST? 1"), Joined(relay_driver));
  EXPECT_EQ(client.Query("SYST:MOD:CHAN:LIST? 2"), Joined(matrix));
  EXPECT_EQ(client.Query("SYSTEM:MODULE:CHANNEL:LIST? 3"), Joined(tree_mux));
  EXPECT_EQ(client.Query("SYST:MOD:CHAN:LIST? 5"), "0");  // the attenuator's one channel
  EXPECT_EQ(client.Query("SYST:MOD:CHAN:LIST? 0"), "NONE");
  // The generic card's channels are the ones its own EPROM describes.
  EXPECT_EQ(client.Query("SYST:MOD:CHAN:LIST? 8"),
            "1,2,3,4,5,6,7,8,9,10,11,12,21,22,23,24,25,26,27,28,29,30,31,32");
  // SM-MX12H: 315 channels, up to the last multiplexer's tree relay; its relays are
  // numbered apart, 128 of them.
  const std::string channels = client.Query("SYST:MOD:CHAN:LIST? 4");
  EXPECT_EQ(std::count(channels.begin(), channels.end(), ',') + 1, 315);
  EXPECT_EQ(channels.substr(channels.rfind(',') + 1), "11110");
  const std::string relays = client.Query("SYST:MOD:REL:LIST? 4");
  EXPECT_EQ(std::count(relays.begin(), relays.end(), ',') + 1, 128);
  // Other cards list the same numbers either way.
  EXPECT_EQ(client.Query("SYST:MOD:REL:LIST? 1"), Joined(relay_driver));

  ASSERT_TRUE(client.Send("SYST:MOD:CHAN:LIST? 11\n"));  // the empty slot
  EXPECT_EQ(client.Query("SYST:ERR?"),
            "-300,\"Device-specific error ; no module at specified module address\"");
  ASSERT_TRUE(client.Send("SYST:MOD:REL:LIST? 13\n"));
  EXPECT_EQ(client.Query("SYST:ERR?"), "-222,\"Data out of range\"");
  EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(CardCage, CardFramIsKeptWhenTheChassisRunsAgainOnItsRoot) {
  // 0x301 = 769 opens (0xDA) and closes (0) a write sequence, 0x383 = 899 and
  // 0x381 = 897 take the address, 0x389 = 905 writes and 0x38B = 907 reads a byte.
  {
    TcpClient client;
    ASSERT_GE(ConnectCommand(&client), 0);
    ASSERT_TRUE(
        client.Send("DIAG:LBUS:WRIT 4,769,218;:DIAG:LBUS:WRIT 4,899,8;"
                    ":DIAG:LBUS:WRIT 4,897,0;:DIAG:LBUS:WRIT 4,905,42;"
                    ":DIAG:LBUS:WRIT 4,769,0\n"));
    EXPECT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  }
  ASSERT_EQ(launcher_->Stop(kWaitMs), 0);
  std::ifstream file(root_ + "/sim/fram-slot4-SM-MX12H", std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 8u);
  EXPECT_EQ(image[8], 42);

  ASSERT_NO_FATAL_FAILURE(StartChassis());
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("DIAG:LBUS:WRIT 4,899,8;:DIAG:LBUS:WRIT 4,897,0\n"));
  EXPECT_EQ(client.Query("DIAG:LBUS:READ? 4,907"), "#H2A");
}

// A cage of the user's own, and one the chassis refuses to start with.
TEST(CardCageFromFile, RunTakesTheNamedDescriptionAndRefusesABadOne) {
  char pattern[] = "/tmp/vchassis-cage-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  const std::string root = folder + "/root";
  const std::string bad = folder + "/bad.chassis";
  std::ofstream(bad) << "# two cards\n2 SM-CT1\n5 SM-NOSUCH\n";
  {
    sim::ChassisLauncher launcher;
    ASSERT_EQ(
        launcher.Start(ProgramFolder() + "/vchassis", {"--root", root, "--chassis", bad}, root), 0);
    const int status = launcher.WaitExit(kWaitMs);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << launcher.Output();
    EXPECT_NE(launcher.Output().find(bad + ": line 3: unknown card model \"SM-NOSUCH\""),
              std::string::npos)
        << launcher.Output();
  }
  const std::string good = folder + "/good.chassis";
  std::ofstream(good) << "2 SM-CT1\n5 sm-mx52\n";
  const uint16_t base = sim::FindFreePortBase();
  ASSERT_NE(base, 0);
  {
    sim::ChassisLauncher launcher;
    ASSERT_EQ(launcher.Start(
                  ProgramFolder() + "/vchassis",
                  {"--root", root, "--chassis", good, "--port-base", std::to_string(base)}, root),
              0);
    std::string ready;
    ASSERT_TRUE(launcher.WaitReady(20000, &ready)) << launcher.Output();
    Outcome cards = Vchassis({"cards"}, root);
    EXPECT_EQ(cards.status, 0) << cards.err;
    EXPECT_EQ(cards.out, "2 SM-CT1 0x7A12\n5 SM-MX52 0x7A03\n");
    EXPECT_EQ(launcher.Stop(kWaitMs), 0);
  }
  sim::RemoveTree(folder);
}

}  // namespace
}  // namespace systest
