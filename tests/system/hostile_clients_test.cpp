// The chassis against careless and hostile clients: bytes no program message may
// carry, a flood without line end, a block transfer that crawls or stalls, event
// connections that stay silent, name no command connection or go away. Each client
// gets a clear answer or a closed connection, and every other client keeps its
// service while it misbehaves.
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "sim/vchassis_host.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using HostileClients = ChassisTest;
using namespace std::chrono_literals;

constexpr const char* kInvalidCharacter = "-101,\"Invalid character\"";
constexpr const char* kNoError = "0,\"No error\"";

// The bytes of `text`, NULs included (a string literal's own NUL left out).
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// Waits up to kWaitMs for `condition`.
template <typename Condition>
bool Eventually(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// True when the server closed `client`'s connection within `timeout_ms`; what it sent
// before is skipped.
bool ClosedByServer(TcpClient& client, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{client.fd(), POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left.count())) != 1) return false;
    char buffer[256];
    ssize_t got = recv(client.fd(), buffer, sizeof(buffer), MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
}

// The process id of the chassis' LAN server.
pid_t LanServerOf(const std::string& root) {
  for (pid_t pid : sim::ChassisProcesses(root)) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "lanlink") return pid;
  }
  return -1;
}

// How many descriptors `pid` holds open.
int OpenDescriptors(pid_t pid) {
  DIR* folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (folder == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(folder)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(folder);
  return count;
}

// The count once it has held for 1.5 s: the web server, a client of the LAN server too,
// may not have made its event registration yet when a test begins, and it tries again
// every second until it has.
int SettledDescriptors(pid_t pid) {
  int count = OpenDescriptors(pid);
  for (int same = 0, polls = 0; same < 15 && polls < 200; ++polls) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int now = OpenDescriptors(pid);
    same = now == count ? same + 1 : 0;
    count = now;
  }
  return count;
}

TEST_F(HostileClients, LineHoldingANulIsRefusedAndTheLinesAroundItRun) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);
  ASSERT_TRUE(client.Send(Bytes("*ESE 5\n\0*ESE 6\n*ESE?\n")));
  std::string reply;
  ASSERT_TRUE(client.ReadLine(&reply));
  EXPECT_EQ(reply, "5");
  EXPECT_EQ(client.Query("SYST:ERR?"), kInvalidCharacter);
  EXPECT_EQ(client.Query("SYST:ERR?"), kNoError);

  // A line that starts with the NUL is refused as well, not lost without a word: the
  // first reply after it is the error it left.
  ASSERT_TRUE(client.Send(Bytes("\0*IDN?\n")));
  EXPECT_EQ(client.Query("SYST:ERR?"), kInvalidCharacter);
  EXPECT_EQ(client.Query("*ESE?"), "5");
}

// SOH, STX and ETX delimit the frames between the programs; a message holding one is
// refused with the engine's invalid character error rather than run as another one
// (with them left out, "*ESE 1<SOH>2" set 12).
TEST_F(HostileClients, MessageHoldingAFrameByteIsRefusedOnTheLanPorts) {
  TcpClient command, raw;
  ASSERT_GE(ConnectCommand(&command), 0);
  ASSERT_TRUE(raw.Connect(raw_port()));
  for (TcpClient* client : {&command, &raw}) {
    for (const char* message : {"*ESE 1\x01" "2;*ESE?\n", "*ESE 1\x02" "2;*ESE?\n",
                                "*ESE 1\x03" "2;*ESE?\n"}) {
      ASSERT_TRUE(client->Send(message));
      EXPECT_EQ(client->Query("*ESE?"), "0");
      EXPECT_EQ(client->Query("SYST:ERR?"), kInvalidCharacter);
    }
    // Recorded as a command error (bit 5), as the engine records one.
    const std::string esr = client->Query("*ESR?");
    EXPECT_NE(std::atoi(esr.c_str()) & 32, 0) << "*ESR? " << esr;
    EXPECT_EQ(client->Query("SYST:ERR?"), kNoError);
  }
}

TEST_F(HostileClients, MessageHoldingAFrameByteIsRefusedOnGpibAndUsb) {
  for (sim::HostBus bus : {sim::HostBus::kGpib, sim::HostBus::kUsb}) {
    std::string reply;
    ASSERT_EQ(sim::HostSend(bus, "*ESE 1\x01" "2", kWaitMs, &reply), 0);
    ASSERT_EQ(sim::HostSend(bus, "*ESE?", kWaitMs, &reply), 0);
    EXPECT_EQ(reply, "0\n");
    ASSERT_EQ(sim::HostSend(bus, "SYST:ERR?", kWaitMs, &reply), 0);
    EXPECT_EQ(reply, std::string(kInvalidCharacter) + "\n");
  }
}

// A client that sends megabytes without a line feed neither fills the server's memory
// nor keeps its port from serving the others, during the flood or after it.
TEST_F(HostileClients, FloodWithoutLineFeedLeavesItsPortServingOthers) {
  TcpClient flooder, other;
  ASSERT_GE(ConnectCommand(&flooder), 0);
  ASSERT_GE(ConnectCommand(&other), 0);
  std::atomic<std::size_t> sent{0};
  std::atomic<bool> stop{false};
  constexpr std::size_t kMostFlood = 16u << 20;
  std::thread flood([&] {
    const std::string piece(65536, 'x');
    while (!stop && sent < kMostFlood && flooder.Send(piece)) sent += piece.size();
  });
  EXPECT_TRUE(Eventually([&] { return sent >= (2u << 20); }));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(other.Query("*IDN?"), kIdentity);
  stop = true;
  flood.join();
  // The flood's line ends at last; it was cut at the line limit and refused by the
  // engine, and the flooder is served again.
  ASSERT_TRUE(flooder.Send("\n"));
  EXPECT_EQ(flooder.Query("*IDN?"), kIdentity);
  EXPECT_EQ(other.Query("*IDN?"), kIdentity);
}

// A block write whose bytes crawl in (each one restarting any idle time-out) is served
// on its own: the other clients of the raw port keep their service meanwhile.
TEST_F(HostileClients, SlowBlockTransferLeavesTheRawPortServingOthers) {
  TcpClient slow, other;
  ASSERT_TRUE(slow.Connect(raw_port()));
  ASSERT_TRUE(other.Connect(raw_port()));
  ASSERT_EQ(slow.Query("*IDN?"), kIdentity);
  ASSERT_TRUE(slow.Send("**WRITE 1048576\nz"));
  std::atomic<bool> stop{false};
  std::thread crawl([&] {
    for (int i = 0; i < 100 && !stop; ++i) {
      std::this_thread::sleep_for(150ms);
      if (!slow.Send("z")) return;
    }
  });
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(other.Query("*IDN?"), kIdentity);
  }
  TcpClient command;
  ASSERT_GE(ConnectCommand(&command), 0);
  EXPECT_EQ(command.Query("*IDN?"), kIdentity);
  stop = true;
  crawl.join();
}

// A block transfer is bounded in time as a whole: one that keeps going without ever
// finishing is ended (its connection closed, since what the client sends next can no
// longer be told apart from block bytes), and the block serves the next client.
TEST_F(HostileClients, BlockTransferThatOutlastsItsTimeLimitIsEnded) {
  TcpClient slow;
  ASSERT_TRUE(slow.Connect(raw_port()));
  ASSERT_TRUE(slow.Send("**WRITE 1048576\nz"));
  std::atomic<bool> stop{false};
  std::thread crawl([&] {
    for (int i = 0; i < 200 && !stop; ++i) {
      std::this_thread::sleep_for(150ms);
      if (!slow.Send("z")) return;
    }
  });
  EXPECT_TRUE(ClosedByServer(slow, 25000)) << "the transfer was never ended";
  stop = true;
  crawl.join();
  TcpClient next;
  ASSERT_TRUE(next.Connect(raw_port()));
  ASSERT_TRUE(next.Send("**WRITE 4\nabcd**READ 4\n"));
  std::string back;
  ASSERT_TRUE(next.ReadExactly(4, &back));
  EXPECT_EQ(back, "abcd");
  EXPECT_EQ(next.Query("*IDN?"), kIdentity);
}

// Clients that open the event port and say nothing do not delay the greeting of the
// next one.
TEST_F(HostileClients, SilentEventClientsDoNotDelayTheNextGreeting) {
  TcpClient silent[3];
  for (TcpClient& client : silent) ASSERT_TRUE(client.Connect(event_port()));
  TcpClient prompt;
  ASSERT_TRUE(prompt.Connect(event_port()));
  std::string ack;
  EXPECT_TRUE(prompt.ReadExactly(2, &ack, 5000));
  EXPECT_EQ(ack, "\x06\n");
}

// Event connections leave no descriptor behind in the LAN server: neither those that
// name a descriptor that is no command connection, nor those their clients close
// while the command connection they name stays.
TEST_F(HostileClients, EventConnectionsLeaveNoDescriptorsBehind) {
  TcpClient command;
  int number = ConnectCommand(&command);
  ASSERT_GE(number, 0);
  pid_t lanlink = LanServerOf(root_);
  ASSERT_GT(lanlink, 0);
  const int before = SettledDescriptors(lanlink);
  ASSERT_GT(before, 0);
  for (int i = 0; i < 20; ++i) {
    for (int named : {9999, number}) {
      TcpClient events;
      ASSERT_TRUE(events.Connect(event_port()));
      std::string ack;
      ASSERT_TRUE(events.ReadExactly(2, &ack));
      ASSERT_TRUE(events.Send(std::to_string(named) + "\n"));
      // A live command connection is acknowledged and the client finishes its
      // handshake; a refused one finds its socket closed. Then the client leaves.
      if (events.ReadExactly(2, &ack, 2000)) {
        ASSERT_TRUE(events.Send("1"));
        events.ReadExactly(2, &ack, 2000);
      }
    }
  }
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors(lanlink) <= before; }))
      << OpenDescriptors(lanlink) - before << " descriptors kept";
  EXPECT_EQ(command.Query("*IDN?"), kIdentity);
}

}  // namespace
}  // namespace systest
