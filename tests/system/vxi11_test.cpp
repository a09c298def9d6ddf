// The VXI-11 core channel of a whole virtual chassis against careless and hostile
// clients: garbage records, a truncated fragment, a fragment announcing 2 GB, links
// created by the thousand and never destroyed, a read left waiting while its
// connection closes. Each gets an RPC error, a VXI-11 error or a closed connection;
// every other client, on VXI-11 and on the raw port, keeps its service and its answers.
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lanserver/onc_rpc.h"
#include "lanserver/vxi11_client.h"
#include "lanserver/vxi11_protocol.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Vxi11 = ChassisTest;

// Whether the server closed `fd` (recv sees the end) within the wait.
bool Closed(int fd) {
  const timeval limit{kWaitMs / 1000, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  char byte = 0;
  return recv(fd, &byte, 1, 0) == 0;
}

TEST_F(Vxi11, HostileClientsLeaveTheOthersServed) {
  const uint16_t core = lan::Vxi11CorePort(root_);
  ASSERT_NE(core, 0) << "the LAN server wrote no VXI-11 ports";
  lan::Vxi11Client good;
  ASSERT_TRUE(good.Open(core));
  std::string reply;
  ASSERT_TRUE(good.Write("*ESE 1"));

  // Garbage records get no answer and keep their connection; a record announcing 2 GB
  // and a truncated fragment end theirs.
  lan::Vxi11Client garbage;
  ASSERT_TRUE(garbage.Open(core));
  const std::string junk = std::string("\x80\x00\x00\x0c", 4) + "not a call!!";
  ASSERT_EQ(send(garbage.socket(), junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
  ASSERT_TRUE(garbage.Write("*IDN?")) << "the connection survives a record that is no call";
  lan::Vxi11Client huge;
  ASSERT_TRUE(huge.Open(core));
  ASSERT_EQ(send(huge.socket(), "\xff\xff\xff\xff", 4, 0), 4);
  EXPECT_TRUE(Closed(huge.socket()));
  lan::Vxi11Client truncated;
  ASSERT_TRUE(truncated.Open(core));
  ASSERT_EQ(send(truncated.socket(), "\x80\x00\x01\x00" "abc", 7, 0), 7);
  shutdown(truncated.socket(), SHUT_WR);
  EXPECT_TRUE(Closed(truncated.socket()));

  // Links by the thousand: refused with error 9 past the limit, and freed with their
  // connection.
  {
    lan::Vxi11Client hoarder;
    ASSERT_TRUE(hoarder.Open(core));
    int refused = 0;
    for (int i = 0; i < 2000; ++i) {
      lan::XdrWriter args;
      args.Int(i);
      args.Bool(false);
      args.Uint(0);
      args.Opaque("inst0");
      const std::string answer = hoarder.Call(lan::kCreateLink, args.bytes());
      ASSERT_GE(answer.size(), 28u);
      lan::XdrReader error(std::string_view(answer).substr(24));
      if (error.Int() == lan::kVxiOutOfResources) ++refused;
    }
    EXPECT_GT(refused, 1900);
  }
  // A read left waiting while its connection closes.
  {
    lan::Vxi11Client waiting;
    ASSERT_TRUE(waiting.Open(core));
    lan::XdrWriter args;
    args.Int(waiting.link());
    args.Uint(100);
    args.Uint(60000);
    args.Uint(0);
    args.Uint(0);
    args.Uint(0);
    const std::string call = lan::EncodeCall(99, lan::kVxiCoreProgram, 1, lan::kDeviceRead, args.bytes());
    ASSERT_TRUE(lan::WriteRecord(waiting.socket(), call));
    shutdown(waiting.socket(), SHUT_RDWR);  // gone, its read still waiting for a minute
  }

  // The others were served all along, and nothing of theirs was lost.
  for (int i = 0; i < 3; ++i) {
    lan::Vxi11Client fresh;
    ASSERT_TRUE(fresh.Open(core)) << "links were freed with their connections";
    ASSERT_TRUE(fresh.Write("*IDN?"));
    ASSERT_TRUE(fresh.Read(&reply));
    EXPECT_EQ(reply, std::string(kIdentity) + "\n");
  }
  ASSERT_TRUE(good.Write("*ESE?"));
  ASSERT_TRUE(good.Read(&reply));
  EXPECT_EQ(reply, "1\n");
  ASSERT_TRUE(good.Write("SYST:ERR?"));
  ASSERT_TRUE(good.Read(&reply));
  EXPECT_EQ(reply, "0,\"No error\"\n");
  TcpClient raw;
  ASSERT_TRUE(raw.Connect(raw_port()));
  EXPECT_EQ(raw.Query("*IDN?"), kIdentity);
}

}  // namespace
}  // namespace systest
