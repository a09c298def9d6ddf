// Tests of the raw socket server on its own: transfer commands and block transfers
// through the shared block, and what is queued for the router (read straight from the
// port's inbound queue, no router runs).
#include "lanserver/raw_sock_svr.h"

#include <gtest/gtest.h>

#include "lanserver/lan_hooks.h"
#include "lanserver/lan_test_support.h"

namespace lan::test {
namespace {

// A byte pattern that does not repeat within a transfer's 254-byte pieces.
std::string Pattern(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

class RawSockSvrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, raw_.Start(platform::RawPort(), threads_, nullptr, nullptr));
    ASSERT_EQ(0, threads_.Start([this] { raw_.PollLoop(); }));
    ASSERT_EQ(0, block_.Attach());
  }
  void TearDown() override {
    RequestStop();
    threads_.JoinAll();
  }

  // The text of the next chunk queued for the router ("<none>" when none comes). The
  // test plays the router: it reports the chunk done, as the router does once it has
  // sent its lines (a transfer command waits for that).
  std::string NextChunk() {
    std::unique_ptr<InboundChunk> chunk;
    Eventually([&] { return (chunk = raw_.inbound()->PopEntry()) != nullptr; });
    if (!chunk) return "<none>";
    if (IEEE_Client* client = InboundChunkClient(*chunk)) {
      ChunkDone(client, client->pending_chunks.fetch_sub(1) - 1);
    }
    return std::string(chunk->text);
  }

  // The block as the server sees it, from its start.
  std::string Block(std::size_t length) {
    return std::string(reinterpret_cast<const char*>(block_.Address()), length);
  }

  LanEnvironment environment_;
  ServerThreads threads_;
  RawSockSvr raw_;
  SharedBlock block_;
};

TEST_F(RawSockSvrTest, ReadSendsTheStartOfTheBlockAndQueuesNothing) {
  std::string contents = Pattern(64);
  ASSERT_EQ(0, block_.WriteIn(contents.data(), static_cast<long>(contents.size())));
  TcpClient client(environment_.base() + 2);
  ASSERT_TRUE(client.Send("**READ 16"));
  EXPECT_EQ(contents.substr(0, 16), client.Read(16));
  ASSERT_TRUE(client.Send("*IDN?\n"));
  EXPECT_EQ("*IDN?\n", NextChunk());
  // A transfer command shares its chunk with what follows its line feed.
  ASSERT_TRUE(client.Send("**READ 4\n*OPC?\n"));
  EXPECT_EQ(contents.substr(0, 4), client.Read(4));
  EXPECT_EQ("*OPC?\n", NextChunk());
}

TEST_F(RawSockSvrTest, ShortTransferWordIsAProgramMessage) {
  TcpClient client(environment_.base() + 2);
  ASSERT_TRUE(client.Send("**READ"));
  EXPECT_EQ("**READ", NextChunk());
}

TEST_F(RawSockSvrTest, WriteStoresTheBlockWhetherItFollowsTheCommandOrNot) {
  TcpClient client(environment_.base() + 2);
  std::string first = Pattern(16);
  ASSERT_TRUE(client.Send("**WRITE 16\n" + first));
  ASSERT_TRUE(client.Send("*IDN?\n"));
  EXPECT_EQ("*IDN?\n", NextChunk());
  EXPECT_EQ(first, Block(16));

  std::string second = Pattern(600).substr(300);
  ASSERT_TRUE(client.Send("**WRITE 300\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(client.Send(second.substr(0, 100)));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(client.Send(second.substr(100) + "*OPC?\n"));
  EXPECT_EQ("*OPC?\n", NextChunk());
  EXPECT_EQ(second, Block(300));

  // What follows a block starts a chunk of its own, so a transfer command sent right
  // behind it is taken whole: a 254-byte read would end inside "**READ" here (12
  // command bytes and 490 block bytes before it).
  const std::string third = Pattern(490);
  ASSERT_TRUE(client.Send("**WRITE 490\n" + third + "**READ 490\n*IDN?\n"));
  EXPECT_EQ(third, client.Read(490));
  EXPECT_EQ("*IDN?\n", NextChunk());
}

TEST_F(RawSockSvrTest, WriteStoresAtMostTheBlockAndDropsTheRest) {
  TcpClient client(environment_.base() + 2);
  std::string whole = Pattern(SHARED_BLOCK_SIZE);
  ASSERT_TRUE(client.Send("**WRITE 1048576\n" + whole));
  ASSERT_TRUE(client.Send("*IDN?\n"));
  EXPECT_EQ("*IDN?\n", NextChunk());
  EXPECT_TRUE(Block(SHARED_BLOCK_SIZE) == whole);

  std::string larger(2000000, '\0');
  for (std::size_t i = 0; i < larger.size(); ++i) larger[i] = static_cast<char>(~(i % 253));
  ASSERT_TRUE(client.Send("**WRITE 2000000\n" + larger));
  ASSERT_TRUE(client.Send("*OPC?\n"));
  // The bytes beyond the block are not taken for program messages.
  EXPECT_EQ("*OPC?\n", NextChunk());
  EXPECT_TRUE(Block(SHARED_BLOCK_SIZE) == larger.substr(0, SHARED_BLOCK_SIZE));
}

TEST_F(RawSockSvrTest, ClosedClientIsRemovedAndAClosedTransferEnds) {
  {
    TcpClient client(environment_.base() + 2);
    ASSERT_TRUE(Eventually([&] { return raw_.registry().Count() == 1; }));
    // Announces more than it sends, then leaves: the transfer ends with the client.
    ASSERT_TRUE(client.Send("**WRITE 5000\nabc"));
  }
  EXPECT_TRUE(Eventually([&] { return raw_.registry().Count() == 0; }));
  TcpClient next(environment_.base() + 2);
  ASSERT_TRUE(next.Send("*IDN?\n"));
  std::string text;
  // The removed client's marker (an empty chunk) may come first.
  do {
    text = NextChunk();
  } while (text.empty());
  EXPECT_EQ("*IDN?\n", text);
}

}  // namespace
}  // namespace lan::test
