// `vchassis watch`: one frame shows the cage as it is (closed relays on their slot's
// row), and the live view, run in a pseudo-terminal, gives the terminal back as it found
// it when Ctrl-C ends it.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Watch = ChassisTest;

// The frame's row of `slot`.
std::string Row(const std::string& frame, int slot) {
  std::istringstream lines(frame);
  char head[8];
  std::snprintf(head, sizeof head, "%4d ", slot);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(head, 0) == 0) return line;
  }
  return "";
}

TEST_F(Watch, OneFrameShowsTheClosedRelaysOnTheirRows) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send("ROUT:CLOS (@1(100,207),2(0))\n"));
  EXPECT_EQ(client.Query("*OPC?"), "1");
  const Outcome once = Vchassis({"watch", "--once"}, root_);
  ASSERT_EQ(once.status, 0) << once.err;
  EXPECT_EQ(Row(once.out, 1), "   1 SM-RD96        ch 100 207");
  EXPECT_EQ(Row(once.out, 2), "   2 SM-MT816       bit 0") << "a map the simulator lacks";
  EXPECT_EQ(Row(once.out, 3), "   3 SM-MX26Q       none");
  EXPECT_EQ(Row(once.out, 6),
            "   6 SM-DIO12-TTL   00< 00< 00< 00< 00< 00< 00< 00< 00< 00< 00< 00<");
  EXPECT_NE(once.out.find("\nfans: chassis "), std::string::npos);
  EXPECT_NE(once.out.find("\nLAN: link up 192.168.7.50, indicator normal"), std::string::npos)
      << once.out;
  // Each switching pulses the trigger output (on at power-up).
  EXPECT_NE(once.out.find("\ntrigger out: 1 pulse, last at "), std::string::npos) << once.out;
  std::istringstream lines(once.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(Watch, CtrlCLeavesTheTerminalAsItWas) {
  int master = -1;
  termios before{};
  const std::string program = ProgramFolder() + "/vchassis";
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(program.c_str(), "vchassis", "watch", "--root", root_.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_EQ(tcgetattr(master, &before), 0);
  // Wait for the first frame, then for the view to have changed the modes.
  std::string shown;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (shown.find("trigger out:") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) {
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got > 0) shown.append(buffer, static_cast<size_t>(got));
    }
  }
  ASSERT_NE(shown.find("trigger out:"), std::string::npos) << shown;
  termios during{};
  ASSERT_EQ(tcgetattr(master, &during), 0);
  EXPECT_EQ(during.c_lflag & ECHO, 0u) << "no echo while the view runs";
  EXPECT_NE(shown.find("\x1b[?1049h"), std::string::npos) << "the alternate screen";

  ASSERT_EQ(kill(pid, SIGINT), 0);
  // Keep reading what it writes on the way out until it has ended: a view that still
  // draws must never block on a full terminal while the test waits for it.
  std::string tail;
  int status = -1;
  pid_t ended = 0;
  const auto stop_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < stop_deadline) {
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got > 0) tail.append(buffer, static_cast<size_t>(got));
  }
  for (;;) {  // what is still buffered after the end
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0) break;
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    tail.append(buffer, static_cast<size_t>(got));
  }
  if (ended != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the view did not end on SIGINT; it wrote: " << tail.substr(tail.size() > 400 ? tail.size() - 400 : 0);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(tail.find("\x1b[?25h\x1b[?1049l"), std::string::npos) << "cursor and screen given back";
  termios after{};
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
  close(master);
}

// A cage of the models whose relay maps the view knows: a channel closed on each must
// come back on its row as the same channel, which holds the view's maps to the
// firmware's.
class WatchMaps : public ChassisTest {
 protected:
  WatchMaps() {
    cage_ = "1 SM-RD96\n2 SM-RD48\n3 SM-MX52\n4 SM-SW80\n5 SM-SW20\n6 SM-RF5\n"
            "7 SM-HF1\n8 SM-MT436\n9 SM-MT9Q\n10 SM-MT2W\n11 SM-RF6D\n12 SM-MX26Q\n";
  }
};

TEST_F(WatchMaps, EveryMappedModelShowsTheChannelsThatWereClosed) {
  struct Case {
    int slot;
    const char* closed;  // channels closed on the slot
    const char* shown;   // the row's relays
  };
  const Case cases[] = {
      {1, "101,1207", "ch 101 1207"},   {2, "100,607", "ch 100 607"},
      {3, "0,51", "ch 0 51"},           {4, "7,79", "ch 7 79"},
      {5, "19", "ch 19"},               {6, "4", "ch 4"},
      {7, "11,93", "ch 11 93"},         {8, "3,3502", "ch 3 3502"},
      {9, "1203,8301", "ch 1203 8301"}, {10, "102,11503", "ch 102 11503"},
      {11, "5,6", "ch 5 6"},            {12, "12,253", "ch 12 253"},
  };
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  for (const Case& c : cases) {
    ASSERT_TRUE(client.Send("CLOS (@" + std::to_string(c.slot) + "(" + c.closed + "))\n"));
  }
  ASSERT_EQ(client.Query("SYST:ERR?"), "0,\"No error\"");
  const Outcome once = Vchassis({"watch", "--once"}, root_);
  ASSERT_EQ(once.status, 0) << once.err;
  for (const Case& c : cases) {
    const std::string row = Row(once.out, c.slot);
    EXPECT_EQ(row.substr(row.size() < 20 ? row.size() : 20), c.shown) << row;
  }
}

}  // namespace
}  // namespace systest
