// Tests of the LAN server in-process: real TCP clients on free ports, a scripted
// controller on the LAN command channel and event FIFO.
#include "lanserver/lan_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/socket.h>

#include "lanserver/lan_test_support.h"

namespace lan::test {
namespace {

// The controller's side of a few made-up program messages, enough to drive every
// request of the exchange:
//   "ESE n" / "STB n"  set the client's ESE / STB (S2 / S3)
//   "ERR text"         push an error entry (S6)
//   "ERR?"             pop the oldest entry (S8) and return it as the response
//   "STAT?"            read the four status bytes (S9) and return them
//   "BIG n"            a response of n characters, the last a line feed
//   "HOLD"             a response sent only after a pause
void Script(FakeController& controller, const std::string& text) {
  int value = 0;
  auto respond = [&](const std::string& response) {
    controller.Send(StringFrame(encode_S7_msg, response.c_str()));
  };
  if (std::sscanf(text.c_str(), "ESE %d", &value) == 1) {
    controller.Send(BinaryFrame(encode_S2_msg, {static_cast<uint8_t>(value)}));
  } else if (std::sscanf(text.c_str(), "STB %d", &value) == 1) {
    controller.Send(BinaryFrame(encode_S3_msg, {static_cast<uint8_t>(value)}));
  } else if (text.rfind("ERR?", 0) == 0) {
    controller.Send(BareFrame(encode_S8_msg));
    respond(FrameText(controller.Answer()) + "\n");
  } else if (text.rfind("ERR ", 0) == 0) {
    std::string entry = text.substr(4, text.find('\n') - 4);
    controller.Send(StringFrame(encode_S6_msg, entry.c_str()));
  } else if (text.rfind("STAT?", 0) == 0) {
    controller.Send(BareFrame(encode_S9_msg));
    std::vector<uint8_t> bytes = FrameBytes(controller.Answer());
    char line[64] = "<no M3>\n";
    if (bytes.size() == 4) {
      std::snprintf(line, sizeof(line), "%d,%d,%d,%d\n", bytes[0], bytes[1], bytes[2],
                    bytes[3]);
    }
    respond(line);
  } else if (std::sscanf(text.c_str(), "BIG %d", &value) == 1) {
    std::string big;
    for (int i = 0; i < value - 1; ++i) big += static_cast<char>('a' + i % 26);
    respond(big + "\n");
  } else if (text.rfind("HOLD", 0) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    respond("late\n");
  }
}

class LanServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, server_.Open());
    ASSERT_EQ(0, server_.StartThreads());
  }

  // Connects to the command port and takes the greeting; the descriptor number the
  // server sent, or -1 when the greeting was wrong.
  int Connect(TcpClient& client) {
    if (!client.connected() || client.Read(2) != "\x06\x0A") return -1;
    std::string line = client.ReadLine();
    int fd = std::atoi(line.c_str());
    return line == std::to_string(fd) + "\n" ? fd : -1;
  }

  // Opens an event socket for command socket `linked` with `mask` (hexadecimal text);
  // true when each step was acknowledged.
  bool Register(TcpClient& events, int linked, const std::string& mask) {
    return events.Read(2) == "\x06\x0A" && events.Send(std::to_string(linked) + "\n") &&
           events.Read(2) == "\x06\x0A" && events.Send(mask) && events.Read(2) == "\x06\x0A";
  }

  std::string Ask(TcpClient& client, const std::string& message) {
    return client.Send(message) ? client.ReadLine() : "<send failed>";
  }

  LanEnvironment environment_;
  FakeController controller_{Script};
  LanServer server_;
};

TEST_F(LanServerTest, CommandSocketGreetsWithAcknowledgeThenItsDescriptorNumber) {
  TcpClient client(environment_.base());
  int fd = Connect(client);
  ASSERT_GT(fd, 2);
  EXPECT_TRUE(Eventually([&] { return server_.command().registry().Find(fd) != nullptr; }));
  // The raw port has no greeting: the first bytes a raw client gets are its response.
  TcpClient raw(environment_.base() + 2);
  ASSERT_TRUE(raw.connected());
  EXPECT_EQ("0,\"No error\"\n", Ask(raw, "ERR?\n"));
}

TEST_F(LanServerTest, EachClientHasItsOwnErrorQueueAndStatusBytes) {
  TcpClient first(environment_.base());
  TcpClient second(environment_.base());
  ASSERT_GE(Connect(first), 0);
  ASSERT_GE(Connect(second), 0);
  ASSERT_TRUE(first.Send("ESE 32\nERR -100,\"Command error\"\nERR -222,\"Data out of range\"\n"));
  ASSERT_TRUE(controller_.WaitForTexts(3));
  EXPECT_EQ("32,0,0,0\n", Ask(first, "STAT?\n"));
  EXPECT_EQ("0,0,0,0\n", Ask(second, "STAT?\n"));
  EXPECT_EQ("0,\"No error\"\n", Ask(second, "ERR?\n"));
  EXPECT_EQ("-100,\"Command error\"\n", Ask(first, "ERR?\n"));
  EXPECT_EQ("-222,\"Data out of range\"\n", Ask(first, "ERR?\n"));
  EXPECT_EQ("0,\"No error\"\n", Ask(first, "ERR?\n"));
  // Message available is reported while set, and cleared by the delivered response.
  ASSERT_TRUE(second.Send("STB 16\n"));
  ASSERT_TRUE(controller_.WaitForTexts(10));
  EXPECT_EQ("0,0,0,16\n", Ask(second, "STAT?\n"));
  EXPECT_EQ("0,0,0,0\n", Ask(second, "STAT?\n"));
  EXPECT_EQ("32,0,0,0\n", Ask(first, "STAT?\n"));
}

TEST_F(LanServerTest, LinesAreJoinedAcrossChunksAndCutWithinOne) {
  TcpClient client(environment_.base());
  ASSERT_GE(Connect(client), 0);
  for (const char* piece : {"ROUT:", "CLOS (@1(2))", "\n"}) {
    ASSERT_TRUE(client.Send(piece));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  ASSERT_TRUE(client.Send("*RST\n*IDN?\n"));
  ASSERT_TRUE(controller_.WaitForTexts(3));
  std::string long_line(600, 'x');  // more than two chunks
  ASSERT_TRUE(client.Send(long_line + "\n"));
  ASSERT_TRUE(controller_.WaitForTexts(4));
  std::vector<std::string> expected = {"ROUT:CLOS (@1(2))\n", "*RST", "*IDN?\n",
                                       long_line + "\n"};
  EXPECT_EQ(expected, controller_.texts());
}

TEST_F(LanServerTest, LongResponseReachesASlowReaderWhole) {
  TcpClient client(environment_.base(), 2048);
  int fd = Connect(client);
  ASSERT_GE(fd, 0);
  // Small buffers on both ends: the response cannot leave in one send.
  int small = 2048;
  ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)));
  ASSERT_TRUE(client.Send("BIG 10239\n"));
  std::string expected;
  for (int i = 0; i < 10238; ++i) expected += static_cast<char>('a' + i % 26);
  expected += "\n";
  std::string got = client.Read(expected.size(), std::chrono::milliseconds(3), 512);
  EXPECT_EQ(expected.size(), got.size());
  EXPECT_TRUE(got == expected);
  // Nothing was cut or repeated: the next response follows directly.
  EXPECT_EQ("0,\"No error\"\n", Ask(client, "ERR?\n"));
}

// A client that sends queries and never reads their responses holds nobody up: its
// responses wait for it (and nothing more is read from it meanwhile) while the router
// goes on serving the others.
TEST_F(LanServerTest, ClientThatNeverReadsHoldsUpNoOther) {
  TcpClient stuck(environment_.base(), 2048);
  int fd = Connect(stuck);
  ASSERT_GE(fd, 0);
  int small = 2048;
  ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)));
  std::string queries;
  for (int i = 0; i < 50; ++i) queries += "BIG 10239\n";
  ASSERT_TRUE(stuck.Send(queries));
  ASSERT_TRUE(controller_.WaitForTexts(3));
  TcpClient other(environment_.base());
  ASSERT_GE(Connect(other), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ("0,\"No error\"\n", Ask(other, "ERR?\n"));
}

// A block read does not overtake the response to what its client sent before it: the
// client receives them in the order it asked for them.
TEST_F(LanServerTest, BlockReadFollowsTheResponsesToEarlierMessages) {
  SharedBlock block;
  ASSERT_EQ(0, block.Attach());
  const std::string contents = "0123456789abcdef";
  ASSERT_EQ(0, block.WriteIn(contents.data(), static_cast<long>(contents.size())));
  TcpClient raw(environment_.base() + 2);
  ASSERT_TRUE(raw.Send("HOLD\n"));
  ASSERT_TRUE(controller_.WaitForTexts(1));
  ASSERT_TRUE(raw.Send("**READ 16\n"));
  EXPECT_EQ("late\n" + contents, raw.Read(5 + contents.size()));
  EXPECT_EQ("0,\"No error\"\n", Ask(raw, "ERR?\n"));
}

TEST_F(LanServerTest, ClientThatLeavesDuringExecutionIsFreedAfterItsResponse) {
  {
    TcpClient leaving(environment_.base());
    ASSERT_GE(Connect(leaving), 0);
    ASSERT_TRUE(leaving.Send("HOLD\n"));
    ASSERT_TRUE(controller_.WaitForTexts(1));
  }  // closed while the controller still executes its message
  EXPECT_TRUE(Eventually([&] { return server_.command().registry().Count() == 0; }));
  TcpClient next(environment_.base());
  ASSERT_GE(Connect(next), 0);
  EXPECT_EQ("0,\"No error\"\n", Ask(next, "ERR?\n"));
  EXPECT_TRUE(Eventually([&] { return server_.command().RetiredCount() == 0; }));
}

// Clients that send a message and leave at once are freed only once the router is done
// with their messages. While the router is busy, the records a port keeps must stay
// bounded, else a client that keeps connecting and leaving makes the server's memory
// grow for ever. Nothing they sent is lost: every message runs once the router goes on.
TEST(LanServerLeavers, ClientRecordsStayBoundedWhileTheRouterIsBusy) {
  LanEnvironment environment;
  std::atomic<bool> gate{false};
  FakeController controller([&](FakeController&, const std::string&) {
    while (!gate) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  LanServer server;
  ASSERT_EQ(0, server.Open());
  ASSERT_EQ(0, server.StartThreads());
  constexpr int kLeavers = static_cast<int>(kClientsMost) + 100;
  for (int i = 0; i < kLeavers; ++i) {
    TcpClient leaver(environment.base() + 2);
    ASSERT_TRUE(leaver.Send("LEAVING\n"));
  }
  EXPECT_TRUE(Eventually([&] { return server.raw().RetiredCount() >= kClientsMost; }));
  // The router still holds the first message: whatever was to be taken has been.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(server.raw().RetiredCount() + server.raw().registry().Count(), kClientsMost);
  gate = true;
  EXPECT_TRUE(controller.WaitForTexts(kLeavers));
  EXPECT_TRUE(Eventually([&] { return server.raw().RetiredCount() == 0; }));
}

TEST_F(LanServerTest, EventSocketRegistersAndReceivesTheNoticesItsMaskAsksFor) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient scans(environment_.base() + 1);
  ASSERT_TRUE(Register(scans, linked, "3"));  // scan events and slot 0
  TcpClient slots(environment_.base() + 1);
  ASSERT_TRUE(Register(slots, linked, "48\n"));  // slots 2 and 5
  ASSERT_TRUE(Eventually([&] { return server_.events().Count() == 2; }));
  for (const EventRegistration& registration : server_.events().Registrations()) {
    EXPECT_EQ(linked, registration.linked);
    EXPECT_TRUE(registration.mask == 3 || registration.mask == 0x48) << registration.mask;
  }

  ASSERT_TRUE(controller_.SendEvent(BinaryFrame(encode_E3_msg,
                                                {0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0})));
  ASSERT_TRUE(controller_.SendEvent(BareFrame(encode_E1_msg)));
  ASSERT_TRUE(controller_.SendEvent(BinaryFrame(encode_E5_msg, {0})));
  // The relay change of slots 2 and 5 is not for the first socket: its first notice is
  // the scan start.
  EXPECT_EQ(std::string("\x01\x00\x00\x00\x0A", 5), scans.Read(5));
  EXPECT_EQ(std::string("\x04\x00\x00\x10\x0A", 5), scans.Read(5));
  EXPECT_EQ(std::string("\x90\x00\x00\x20\x0A", 5), slots.Read(5));
}

TEST_F(LanServerTest, StuckEventClientMissesNoticesWithoutHoldingOthers) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient stuck(environment_.base() + 1, 2048);
  ASSERT_TRUE(Register(stuck, linked, "1"));
  ASSERT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
  int small = 2048;
  int stuck_socket = server_.events().Registrations().front().socket;
  ASSERT_EQ(0, setsockopt(stuck_socket, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)));
  // Far more notices than the buffers hold; the stuck client reads none of them.
  for (int i = 0; i < 20000; ++i) server_.events().NotifyEcho_Interface(0, nullptr, 0);
  TcpClient reading(environment_.base() + 1);
  ASSERT_TRUE(Register(reading, linked, "1"));
  ASSERT_TRUE(Eventually([&] { return server_.events().Count() == 2; }));
  server_.events().NotifyEcho_Interface(1, nullptr, 0);
  EXPECT_EQ(std::string("\x02\x00\x00\x00\x0A", 5), reading.Read(5));
  // The stuck client got whole notices only, and stays registered.
  std::string backlog = stuck.Read(1 << 20, {}, 65536, 200);
  EXPECT_EQ(0u, backlog.size() % 5);
  EXPECT_LT(backlog.size(), 20000u * 5);
  EXPECT_EQ(2, server_.events().Count());
}

TEST_F(LanServerTest, EventRegistrationsEndWithTheirCommandSocket) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient other(environment_.base());
  int other_linked = Connect(other);
  TcpClient events(environment_.base() + 1);
  ASSERT_TRUE(Register(events, linked, "1"));
  TcpClient kept(environment_.base() + 1);
  ASSERT_TRUE(Register(kept, other_linked, "1"));
  ASSERT_TRUE(Eventually([&] { return server_.events().Count() == 2; }));
  command.Close();
  EXPECT_TRUE(events.ClosedByServer());
  EXPECT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
  ASSERT_TRUE(controller_.SendEvent(BareFrame(encode_E2_msg)));
  EXPECT_EQ(std::string("\x02\x00\x00\x00\x0A", 5), kept.Read(5));
}

TEST_F(LanServerTest, EventSocketWhoseHandshakeFailsIsClosed) {
  TcpClient no_feed(environment_.base() + 1);
  ASSERT_EQ("\x06\x0A", no_feed.Read(2));
  testing::internal::CaptureStdout();
  ASSERT_TRUE(no_feed.Send("7"));
  EXPECT_TRUE(no_feed.ClosedByServer());
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStdout().find("fd received with out line feed"));
  {
    TcpClient silent(environment_.base() + 1);
    ASSERT_EQ("\x06\x0A", silent.Read(2));
  }  // gone before naming its command socket
  // The event port still serves: a proper handshake after the failed ones works.
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient good(environment_.base() + 1);
  ASSERT_TRUE(Register(good, linked, "1"));
  EXPECT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
}

// One connection's handshake must not wait for another's: clients that open the event
// port and then say nothing do not delay the greeting or the registration of the next.
TEST_F(LanServerTest, SilentEventClientsDoNotHoldUpAnotherHandshake) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient first_silent(environment_.base() + 1);
  TcpClient second_silent(environment_.base() + 1);
  ASSERT_TRUE(first_silent.connected());
  ASSERT_TRUE(second_silent.connected());
  TcpClient prompt(environment_.base() + 1);
  EXPECT_TRUE(Register(prompt, linked, "1"));
  EXPECT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
  // The silent ones were greeted as well, and still wait for their turn to speak.
  EXPECT_EQ("\x06\x0A", first_silent.Read(2));
  EXPECT_EQ("\x06\x0A", second_silent.Read(2));
}

// A registration must name a live command connection: an event socket naming a
// descriptor that is none would otherwise stay open for as long as the server runs.
TEST_F(LanServerTest, RegistrationNamingNoCommandConnectionIsRefused) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  for (int named : {9999, linked + 1000, -1}) {
    TcpClient events(environment_.base() + 1);
    ASSERT_EQ("\x06\x0A", events.Read(2));
    ASSERT_TRUE(events.Send(std::to_string(named) + "\n"));
    EXPECT_TRUE(events.ClosedByServer()) << "registration for " << named;
  }
  EXPECT_EQ(0, server_.events().Count());
  // The live connection can still register.
  TcpClient events(environment_.base() + 1);
  EXPECT_TRUE(Register(events, linked, "1"));
  EXPECT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
}

// An event socket its client closes is closed and forgotten then, not when the command
// connection it names closes.
TEST_F(LanServerTest, EventSocketClosedByItsClientIsForgotten) {
  TcpClient command(environment_.base());
  int linked = Connect(command);
  ASSERT_GE(linked, 0);
  TcpClient kept(environment_.base() + 1);
  ASSERT_TRUE(Register(kept, linked, "1"));
  {
    TcpClient leaving(environment_.base() + 1);
    ASSERT_TRUE(Register(leaving, linked, "1"));
    ASSERT_TRUE(Eventually([&] { return server_.events().Count() == 2; }));
  }
  EXPECT_TRUE(Eventually([&] { return server_.events().Count() == 1; }));
  // The command connection and the other event socket are untouched.
  EXPECT_EQ("0,\"No error\"\n", Ask(command, "ERR?\n"));
  ASSERT_TRUE(controller_.SendEvent(BareFrame(encode_E1_msg)));
  EXPECT_EQ(std::string("\x01\x00\x00\x00\x0A", 5), kept.Read(5));
}

}  // namespace
}  // namespace lan::test
