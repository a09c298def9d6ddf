// The chassis seen from the LAN: the command port's greeting, program messages cut
// from chunks, per-connection status and error queues, the longest response, block
// transfers on the raw port and notices on the event port.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "core/pipes_comm.h"
#include "platform/paths.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using LanPorts = ChassisTest;

TEST_F(LanPorts, CommandPortGreetsWithAckLineFeedAndItsDescriptorNumber) {
  TcpClient first, second;
  int first_number = ConnectCommand(&first);
  int second_number = ConnectCommand(&second);
  // Descriptors 0 .. 2 are the server's standard streams; two live connections
  // cannot share a descriptor.
  EXPECT_GT(first_number, 2);
  EXPECT_GT(second_number, 2);
  EXPECT_NE(first_number, second_number);
  EXPECT_EQ(first.Query("*IDN?"), kIdentity);
}

TEST_F(LanPorts, IdentityOnCommandAndRawPorts) {
  TcpClient command, raw;
  ASSERT_GE(ConnectCommand(&command), 0);
  ASSERT_TRUE(raw.Connect(raw_port()));
  EXPECT_EQ(command.Query("*IDN?"), kIdentity);
  EXPECT_EQ(raw.Query("*IDN?"), kIdentity);
  // The raw port has no greeting: nothing else arrived.
  EXPECT_TRUE(raw.Silent(50));
}

TEST_F(LanPorts, MessagesAreCutFromChunksWhateverTheirBoundaries) {
  TcpClient client;
  ASSERT_GE(ConnectCommand(&client), 0);

  // One header split over two sends.
  ASSERT_TRUE(client.Send("*ID"));
  ASSERT_TRUE(client.Silent(50));  // half a message executes nothing
  EXPECT_EQ(client.Query("N?"), kIdentity);

  // A message longer than one 254-byte chunk arrives whole.
  std::string joined, expected;
  for (int i = 0; i < 60; ++i) {
    joined += i == 0 ? "*IDN?" : ";*IDN?";
    expected += i == 0 ? std::string(kIdentity) : ";" + std::string(kIdentity);
  }
  ASSERT_GT(joined.size(), 254u);
  EXPECT_EQ(client.Query(joined), expected);

  // Several messages in one chunk run in order, each answered on its own line.
  ASSERT_TRUE(client.Send("*ESE 36\n*ESE?\n*IDN?\n"));
  std::string first, second;
  ASSERT_TRUE(client.ReadLine(&first));
  ASSERT_TRUE(client.ReadLine(&second));
  EXPECT_EQ(first, "36");
  EXPECT_EQ(second, kIdentity);
}

TEST_F(LanPorts, EachConnectionKeepsItsOwnErrorQueueAndStatusBytes) {
  TcpClient a, b;
  ASSERT_GE(ConnectCommand(&a), 0);
  ASSERT_GE(ConnectCommand(&b), 0);
  ASSERT_TRUE(a.Send("NO:SUCH:COMMAND\n*ESE 32\n*SRE 16\n"));
  EXPECT_EQ(a.Query("*ESE?"), "32");

  EXPECT_EQ(b.Query("SYST:ERR?"), "0,\"No error\"");
  EXPECT_EQ(b.Query("*ESE?"), "0");
  EXPECT_EQ(b.Query("*SRE?"), "0");

  EXPECT_EQ(a.Query("*SRE?"), "16");
  std::string error = a.Query("SYST:ERR?");
  EXPECT_EQ(error.rfind("-1", 0), 0u) << "a command error, got " << error;
  EXPECT_EQ(a.Query("SYST:ERR?"), "0,\"No error\"");

  // A client that reconnects starts afresh.
  a.Close();
  ASSERT_GE(ConnectCommand(&a), 0);
  EXPECT_EQ(a.Query("*ESE?"), "0");
}

// The longest response the engine makes is 10238 characters; with its line feed the
// client receives 10239 bytes. 222 identities, three versions and three one-digit
// replies, joined by ';', come to exactly that.
TEST_F(LanPorts, LongestResponseArrivesWholeOnBothPorts) {
  std::string message;
  for (int i = 0; i < 222; ++i) message += "*IDN?;";
  message += ":SYST:VERS?;:SYST:VERS?;:SYST:VERS?;*ESE?;*ESE?;*ESE?";
  TcpClient command, raw;
  ASSERT_GE(ConnectCommand(&command), 0);
  ASSERT_TRUE(raw.Connect(raw_port()));
  for (TcpClient* client : {&command, &raw}) {
    std::string reply = client->Query(message);
    ASSERT_EQ(reply.size(), 10238u);
    EXPECT_EQ(reply.substr(0, kIdentity.size()), kIdentity);
    EXPECT_EQ(reply.substr(reply.size() - 20), ";1994.0;1994.0;0;0;0");
    EXPECT_EQ(client->Query("SYST:ERR?"), "0,\"No error\"");
  }
}

TEST_F(LanPorts, BlockTransfersOfSixteenBytesAndOfTheWholeBlock) {
  TcpClient raw;
  ASSERT_TRUE(raw.Connect(raw_port()));
  std::mt19937 random(7);
  for (std::size_t size : {std::size_t{16}, std::size_t{0x100000}}) {
    std::string block(size, '\0');
    for (char& byte : block) byte = static_cast<char>(random());
    ASSERT_TRUE(raw.Send("**WRITE " + std::to_string(size) + "\n" + block));
    ASSERT_TRUE(raw.Send("**READ " + std::to_string(size) + "\n"));
    std::string back;
    ASSERT_TRUE(raw.ReadExactly(size, &back)) << "block of " << size;
    EXPECT_TRUE(back == block) << "block of " << size << " came back changed";
    // The transfer left the connection in step: program messages still work.
    EXPECT_EQ(raw.Query("*IDN?"), kIdentity);
  }
  // A write announcing more than the block holds stores the first 1 MiB and drops
  // the rest, without taking it for program messages.
  std::string oversized(0x100000 + 100, 'x');
  ASSERT_TRUE(raw.Send("**WRITE " + std::to_string(oversized.size()) + "\n" + oversized));
  ASSERT_TRUE(raw.Send("**READ 2000000\n"));
  std::string back;
  ASSERT_TRUE(raw.ReadExactly(0x100000, &back));
  EXPECT_EQ(back, oversized.substr(0, 0x100000));
  EXPECT_EQ(raw.Query("*IDN?"), kIdentity);
}

// An event frame as the controller writes it, put on the LAN server's event FIFO. No
// command of the firmware raises an event yet (no relay card is driven), so the test
// writes the frame itself, in the controller's exact encoding, at the FIFO the
// controller feeds; the path from there to the client is the real one.
void SendRelayChange(const std::string& root, std::initializer_list<int> slots) {
  char frame[FRAME_SIZE];
  PipeBinaryMessage record{};
  record.frame = frame;
  record.count = 13;
  for (int slot : slots) record.data[slot] = 1;
  ASSERT_EQ(encode_E3_msg(&record), 0);
  std::string fifo = root + "/tmp/event_eth";
  int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0) << fifo << ": " << std::strerror(errno);
  std::size_t length = std::strlen(frame) + 1;
  EXPECT_EQ(write(fd, frame, length), static_cast<ssize_t>(length));
  close(fd);
}

TEST_F(LanPorts, EventSocketReceivesTheNoticesItRegisteredFor) {
  TcpClient command, every_slot, slot2, slot7;
  int number = ConnectCommand(&command);
  ASSERT_GE(number, 0);
  // The ports open while the controller still installs the cards, whose notices may
  // still be on their way: a marker change of slot 9 (word 0x20000800), seen by a client
  // registered for every slot, comes after all of them.
  ASSERT_TRUE(every_slot.Connect(event_port()));
  ASSERT_NO_FATAL_FAILURE(Register(&every_slot, number, "3fff"));
  ASSERT_EQ(command.Query("*IDN?"), kIdentity);
  ASSERT_NO_FATAL_FAILURE(SendRelayChange(root_, {9}));
  std::string seen;
  for (int notices = 0; seen != std::string("\x00\x08\x00\x20\n", 5); ++notices) {
    ASSERT_LT(notices, 50) << "the marker notice never came";
    ASSERT_TRUE(every_slot.ReadExactly(5, &seen));
  }
  ASSERT_TRUE(slot2.Connect(event_port()));
  ASSERT_NO_FATAL_FAILURE(Register(&slot2, number, "8"));  // bit 3: slot 2
  ASSERT_TRUE(slot7.Connect(event_port()));
  ASSERT_NO_FATAL_FAILURE(Register(&slot7, number, "100"));  // bit 8: slot 7
  // The registration is complete once the command socket still answers.
  ASSERT_EQ(command.Query("*IDN?"), kIdentity);

  ASSERT_NO_FATAL_FAILURE(SendRelayChange(root_, {2, 5}));
  std::string notice;
  ASSERT_TRUE(slot2.ReadExactly(5, &notice));
  EXPECT_EQ(notice, std::string("\x90\x00\x00\x20\n", 5));  // word 0x20000090
  EXPECT_TRUE(slot7.Silent(100));  // slot 7 did not change

  // Closing the command socket ends its event registrations.
  command.Close();
  std::string rest;
  EXPECT_FALSE(slot2.ReadExactly(1, &rest)) << "event socket still open";
}

}  // namespace
}  // namespace systest
