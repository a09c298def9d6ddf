// The VXI-11 server on its own, a stand-in router behind it that answers "ECHO? <x>"
// with <x> and raises the status byte's RQS for "RQS": XDR and record marking, the
// port mapper's answers, and the core and abort channels as a client drives them
// (links, END and line-feed ends, reads by count, END and term char, timeouts, the
// status byte, clear, abort, locks, service requests, and the RPC errors).
#include "lanserver/vxi11_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "lanserver/lan_test_support.h"
#include "lanserver/port_mapper.h"

namespace lan {
namespace {

using test::FreePortBase;

// ---- XDR, records and the port mapper ------------------------------------------

TEST(OncRpc, XdrAndCallHeadersRoundTripAndShortInputFails) {
  XdrWriter out;
  out.Uint(0x0607AF);
  out.Opaque("inst0");
  XdrReader in(out.bytes());
  EXPECT_EQ(in.Uint(), 0x0607AFu);
  EXPECT_EQ(in.Opaque(8), "inst0");
  EXPECT_EQ(in.remaining(), 0u) << "the opaque is padded to four bytes";
  EXPECT_FALSE(in.failed());
  XdrReader short_read(std::string_view("\0\0\0\x09" "abc", 7));
  EXPECT_EQ(short_read.Opaque(100), "");
  EXPECT_TRUE(short_read.failed());
  XdrReader too_long(out.bytes());
  too_long.Uint();
  too_long.Opaque(4);
  EXPECT_TRUE(too_long.failed()) << "longer than its limit";

  RpcCall call;
  const std::string record = EncodeCall(7, 1, 2, 3, "args");  // the call's views point into it
  EXPECT_EQ(DecodeCall(record, &call), CallDecode::kCall);
  EXPECT_EQ(call.xid, 7u);
  EXPECT_EQ(call.arguments, "args");
  EXPECT_EQ(DecodeCall("\0\0\0\x07", &call), CallDecode::kNotACall);
}

// A port mapper call's reply, decoded: accept status and the first result word.
std::pair<uint32_t, uint32_t> MapperReply(uint32_t program, uint32_t version, uint32_t procedure,
                                          const std::string& arguments) {
  const std::string reply =
      AnswerPortMapper(EncodeCall(9, program, version, procedure, arguments), 4447);
  XdrReader in(reply);
  EXPECT_EQ(in.Uint(), 9u);
  EXPECT_EQ(in.Uint(), kRpcReply);
  EXPECT_EQ(in.Uint(), 0u);  // accepted
  in.Uint();
  in.SkipOpaque(400);
  const uint32_t stat = in.Uint();
  return {stat, in.Uint()};
}

std::string Mapping(uint32_t program, uint32_t version, uint32_t protocol) {
  XdrWriter out;
  out.Uint(program);
  out.Uint(version);
  out.Uint(protocol);
  out.Uint(0);
  return out.bytes();
}

TEST(PortMapper, AnswersTheCoreChannelsPortAndErrorsForTheRest) {
  struct Row {
    uint32_t program, version, procedure;
    std::string arguments;
    uint32_t stat, first;
  } rows[] = {
      {kPortMapperProgram, 2, 3, Mapping(kVxiCoreProgram, 1, kIpProtoTcp), 0, 4447},
      {kPortMapperProgram, 2, 3, Mapping(kVxiCoreProgram, 1, kIpProtoUdp), 0, 0},
      {kPortMapperProgram, 2, 3, Mapping(100003, 3, kIpProtoTcp), 0, 0},
      {kPortMapperProgram, 2, 4, "", 0, 1},  // DUMP: one mapping follows
      {kPortMapperProgram, 2, 3, "\0\0", 4, 0},  // GARBAGE_ARGS
      {kPortMapperProgram, 3, 3, "", 2, 2},  // PROG_MISMATCH 2..2
      {kPortMapperProgram, 2, 9, "", 3, 0},  // PROC_UNAVAIL
      {100005, 1, 0, "", 1, 0},              // PROG_UNAVAIL
  };
  for (const Row& row : rows) {
    const auto [stat, first] = MapperReply(row.program, row.version, row.procedure, row.arguments);
    EXPECT_EQ(stat, row.stat) << row.program << "/" << row.version << "/" << row.procedure;
    if (row.stat == 0 || row.stat == 2) {
      EXPECT_EQ(first, row.first);
    }
  }
  EXPECT_EQ(AnswerPortMapper("\0\0\0\x01\0\0\0\x01", 4447), "") << "a reply is not answered";
}

// ---- The server, with a stand-in router ----------------------------------------

class Vxi11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InstallStopHandlers(), 0);  // the stop wakes threads with SIGALRM
    base_ = static_cast<uint16_t>(FreePortBase());
    ASSERT_NE(base_, 0);
    ASSERT_EQ(server_.Start(base_, static_cast<uint16_t>(base_ + 2), threads_, nullptr), 0);
    router_ = std::thread([this] { Route(); });
    client_ = Connect(server_.core_port());
  }
  void TearDown() override {
    close(client_);
    RequestStop();
    router_.join();
    threads_.JoinAll();
    server_.Close();
    ClearWakeThreads();
    SetRunning(true);
  }

  // Serves the link's lines: "ECHO? <x>" answers <x>; "RQS" sets the status byte's
  // RQS and ESB; "*TRG" is counted.
  void Route() {
    std::map<IEEE_Client*, std::string> lines;
    while (IsRunning()) {
      auto chunk = server_.inbound()->PopEntry();
      if (!chunk) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      IEEE_Client* block = InboundChunkClient(*chunk);
      if (block == nullptr) continue;
      std::string& line = lines[block];
      line.append(chunk->text, chunk->user_length);
      for (std::size_t end; (end = line.find('\n')) != std::string::npos; line.erase(0, end + 1)) {
        const std::string message = line.substr(0, end);
        if (message.rfind("ECHO? ", 0) == 0) Vxi11Server::Deliver(block, (message.substr(6) + "\n").c_str());
        if (message == "RQS") Vxi11Server::StoreStb(block, 0x60);
        if (message == "*TRG") ++triggers_;
      }
      block->pending_chunks.fetch_sub(1);
    }
  }

  static int Connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const timeval limit{5, 0};  // a server that does not answer fails the test
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  }

  // One call on `fd`: the accept status, and the results in *results.
  uint32_t Call(int fd, uint32_t program, uint32_t procedure, const std::string& arguments,
                XdrReader* results, uint32_t version = 1) {
    const uint32_t xid = ++xid_;
    EXPECT_TRUE(WriteRecord(fd, EncodeCall(xid, program, version, procedure, arguments)));
    std::string* reply = nullptr;
    {
      std::lock_guard hold(replies_mutex_);
      reply = &replies_.emplace_back();
    }
    EXPECT_EQ(ReadRecord(fd, -1, 1 << 20, reply), RecordRead::kRecord);
    XdrReader in(*reply);
    EXPECT_EQ(in.Uint(), xid);
    in.Uint();
    in.Uint();
    in.Uint();
    in.SkipOpaque(400);
    const uint32_t stat = in.Uint();
    *results = XdrReader(std::string_view(*reply).substr(reply->size() - in.remaining()));
    return stat;
  }
  // A core call that must be accepted; its results.
  XdrReader Core(uint32_t procedure, const std::string& arguments, int fd = -1) {
    XdrReader results("");
    EXPECT_EQ(Call(fd < 0 ? client_ : fd, kVxiCoreProgram, procedure, arguments, &results), 0u)
        << procedure;
    return results;
  }

  int32_t CreateLink(int fd = -1, bool lock = false, uint32_t lock_timeout = 0,
                     int32_t* error = nullptr) {
    XdrWriter args;
    args.Int(1);
    args.Bool(lock);
    args.Uint(lock_timeout);
    args.Opaque("inst0");
    XdrReader out = Core(kCreateLink, args.bytes(), fd);
    const int32_t status = out.Int();
    const int32_t link = out.Int();
    EXPECT_EQ(out.Uint(), server_.abort_port());
    EXPECT_EQ(out.Uint(), kVxiMaxRecvSize);
    if (error != nullptr) *error = status;
    return link;
  }
  // device_write: error and size.
  std::pair<int32_t, uint32_t> Write(int32_t link, const std::string& data, uint32_t flags,
                                     int fd = -1, uint32_t lock_timeout = 0) {
    XdrWriter args;
    args.Int(link);
    args.Uint(1000);
    args.Uint(lock_timeout);
    args.Uint(flags);
    args.Opaque(data);
    XdrReader out = Core(kDeviceWrite, args.bytes(), fd);
    const int32_t error = out.Int();
    return {error, out.Uint()};
  }
  struct ReadResult {
    int32_t error;
    int32_t reason;
    std::string data;
  };
  ReadResult Read(int32_t link, uint32_t size, uint32_t timeout_ms, uint32_t flags = 0,
                  char term = 0, int fd = -1) {
    XdrWriter args;
    args.Int(link);
    args.Uint(size);
    args.Uint(timeout_ms);
    args.Uint(0);
    args.Uint(flags);
    args.Uint(static_cast<uint8_t>(term));
    XdrReader out = Core(kDeviceRead, args.bytes(), fd);
    ReadResult result{out.Int(), out.Int(), ""};
    result.data = out.Opaque(1 << 20);
    return result;
  }
  std::string Generic(int32_t link, uint32_t flags = 0) {
    XdrWriter args;
    args.Int(link);
    args.Uint(flags);
    args.Uint(0);
    args.Uint(1000);
    return args.bytes();
  }
  std::string LinkArg(int32_t link) {
    XdrWriter args;
    args.Int(link);
    return args.bytes();
  }

  TempRoot root_;  // first: the running flag and the root the ports file goes to
  ServerThreads threads_;
  Vxi11Server server_;
  std::thread router_;
  uint16_t base_ = 0;
  int client_ = -1;
  std::atomic<uint32_t> xid_{0};
  std::mutex replies_mutex_;
  std::deque<std::string> replies_;  // the replies read, kept while their readers live
  std::atomic<int> triggers_{0};
};

TEST_F(Vxi11Test, WritesEndAtEndOrLineFeedAndReadsStopAtTheirReason) {
  const int32_t link = CreateLink();
  EXPECT_EQ(Write(link, "ECHO? ", 0), (std::pair<int32_t, uint32_t>{0, 6}));
  EXPECT_EQ(Read(link, 100, 20).error, kVxiIoTimeout) << "no END yet: nothing was queued";
  Write(link, "abcdef", kFlagEnd);
  ReadResult read = Read(link, 3, 1000);
  EXPECT_EQ(read.reason, kReasonRequestCount);
  EXPECT_EQ(read.data, "abc");
  read = Read(link, 100, 1000);
  EXPECT_EQ(read.reason, kReasonEnd);
  EXPECT_EQ(read.data, "def\n");
  Write(link, "ECHO? x,y\n", 0);  // a final line feed ends it too
  read = Read(link, 100, 1000, kFlagTermCharSet, ',');
  EXPECT_EQ(read.reason, kReasonTermChar);
  EXPECT_EQ(read.data, "x,");
  read = Read(link, 100, 1000, kFlagTermCharSet, '\n');
  EXPECT_EQ(read.reason, kReasonEnd | kReasonTermChar);
  EXPECT_EQ(read.data, "y\n");
  // A long message: larger than a router chunk, in one write.
  const std::string payload(10000, 'p');
  Write(link, "ECHO? " + payload, kFlagEnd);
  EXPECT_EQ(Read(link, 1 << 16, 2000).data, payload + "\n");
  XdrReader error = Core(kDestroyLink, LinkArg(link));
  EXPECT_EQ(error.Int(), kVxiNoError);
  EXPECT_EQ(Write(link, "ECHO? 1", kFlagEnd).first, kVxiInvalidLink);
}

TEST_F(Vxi11Test, StatusByteClearTriggerAndAbort) {
  const int32_t link = CreateLink();
  Write(link, "ECHO? 1", kFlagEnd);
  auto status_byte = [&] {
    XdrReader stb = Core(kDeviceReadStb, Generic(link));
    EXPECT_EQ(stb.Int(), 0);
    return stb.Uint();
  };
  uint32_t stb = 0;
  for (int wait = 0; wait < 400 && stb == 0; ++wait) {
    stb = status_byte();
    if (stb == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(stb, kStbMessageAvailable) << "MAV while the response is unread";
  EXPECT_EQ(Core(kDeviceClear, Generic(link)).Int(), 0);
  EXPECT_EQ(status_byte(), 0u) << "the clear dropped the response";
  EXPECT_EQ(Read(link, 100, 20).error, kVxiIoTimeout);
  EXPECT_EQ(Core(kDeviceTrigger, Generic(link)).Int(), 0);
  for (int wait = 0; wait < 200 && triggers_ == 0; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(triggers_, 1);
  EXPECT_EQ(Core(kDeviceRemote, Generic(link)).Int(), 0);
  XdrReader docmd = Core(kDeviceDocmd, LinkArg(link));
  EXPECT_EQ(docmd.Int(), kVxiNotSupported);

  // An abort on the abort channel ends a waiting read.
  std::thread abort([this, link] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int channel = Connect(server_.abort_port());
    XdrReader results("");
    EXPECT_EQ(Call(channel, kVxiAbortProgram, kDeviceAbort, LinkArg(link), &results), 0u);
    EXPECT_EQ(results.Int(), 0);
    close(channel);
  });
  EXPECT_EQ(Read(link, 100, 5000).error, kVxiAbort);
  abort.join();
}

TEST_F(Vxi11Test, OneLockAmongLinks) {
  const int other_fd = Connect(server_.core_port());
  const int32_t first = CreateLink();
  const int32_t second = CreateLink(other_fd);
  auto lock = [&](int32_t link, uint32_t flags, uint32_t timeout, int fd) {
    XdrWriter args;
    args.Int(link);
    args.Uint(flags);
    args.Uint(timeout);
    return Core(kDeviceLock, args.bytes(), fd).Int();
  };
  EXPECT_EQ(lock(first, 0, 0, client_), kVxiNoError);
  EXPECT_EQ(lock(second, 0, 0, other_fd), kVxiLocked);
  EXPECT_EQ(lock(second, kFlagWaitLock, 50, other_fd), kVxiLocked) << "waited, still locked";
  EXPECT_EQ(Write(second, "ECHO? 1", kFlagEnd, other_fd).first, kVxiLocked);
  EXPECT_EQ(Core(kDeviceUnlock, LinkArg(second), other_fd).Int(), kVxiNoLockHeld);
  int32_t error = 0;
  CreateLink(other_fd, true, 0, &error);
  EXPECT_EQ(error, kVxiLocked) << "lock on create";
  EXPECT_EQ(Core(kDeviceUnlock, LinkArg(first)).Int(), kVxiNoError);
  EXPECT_EQ(Write(second, "ECHO? 1", kFlagEnd, other_fd).first, kVxiNoError);
  // A link's lock goes with its connection.
  EXPECT_EQ(lock(second, 0, 0, other_fd), kVxiNoError);
  close(other_fd);
  EXPECT_EQ(lock(first, kFlagWaitLock, 2000, client_), kVxiNoError);
}

// A rising RQS on a link with service requests enabled reaches the client's interrupt
// channel as one device_intr_srq call carrying the link's handle.
TEST_F(Vxi11Test, ServiceRequestsReachTheInterruptChannel) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  const int32_t link = CreateLink();
  XdrWriter channel;
  channel.Uint(INADDR_LOOPBACK);
  channel.Uint(ntohs(address.sin_port));
  channel.Uint(kVxiInterruptProgram);
  channel.Uint(kVxiInterruptVersion);
  channel.Uint(0);
  EXPECT_EQ(Core(kCreateIntrChan, channel.bytes()).Int(), kVxiNoError);
  EXPECT_EQ(Core(kCreateIntrChan, channel.bytes()).Int(), kVxiChannelAlreadyEstablished);
  XdrWriter enable;
  enable.Int(link);
  enable.Bool(true);
  enable.Opaque("h1");
  EXPECT_EQ(Core(kDeviceEnableSrq, enable.bytes()).Int(), kVxiNoError);
  Write(link, "RQS", kFlagEnd);

  const int interrupt = accept(listener, nullptr, nullptr);
  ASSERT_GE(interrupt, 0);
  std::string record;
  ASSERT_EQ(ReadRecord(interrupt, -1, 4096, &record), RecordRead::kRecord);
  RpcCall call;
  ASSERT_EQ(DecodeCall(record, &call), CallDecode::kCall);
  EXPECT_EQ(call.program, kVxiInterruptProgram);
  EXPECT_EQ(call.procedure, kDeviceIntrSrq);
  XdrReader handle(call.arguments);
  EXPECT_EQ(handle.Opaque(40), "h1");
  close(interrupt);
  close(listener);
  EXPECT_EQ(Core(kDestroyIntrChan, "").Int(), kVxiNoError);
}

TEST_F(Vxi11Test, RpcErrorsAndResourceLimits) {
  XdrReader results("");
  EXPECT_EQ(Call(client_, 0x0607B5, 1, "", &results), 1u);                  // PROG_UNAVAIL
  EXPECT_EQ(Call(client_, kVxiCoreProgram, 10, "", &results, 2), 2u);        // PROG_MISMATCH
  EXPECT_EQ(Call(client_, kVxiCoreProgram, 99, "", &results), 3u);           // PROC_UNAVAIL
  EXPECT_EQ(Call(client_, kVxiCoreProgram, kCreateLink, "\0\0", &results), 4u);  // GARBAGE_ARGS
  EXPECT_EQ(Core(kDestroyLink, LinkArg(12345)).Int(), kVxiInvalidLink);
  std::vector<int32_t> links;
  int32_t error = 0;
  for (std::size_t i = 0; i < kVxiLinksMost; ++i) links.push_back(CreateLink());
  CreateLink(-1, false, 0, &error);
  EXPECT_EQ(error, kVxiOutOfResources);
  // A record longer than the server takes closes the connection.
  const char huge[4] = {'\x7f', '\x7f', '\x7f', '\x7f'};
  ASSERT_EQ(send(client_, huge, 4, 0), 4);
  char byte = 0;
  EXPECT_EQ(recv(client_, &byte, 1, 0), 0);
}

}  // namespace
}  // namespace lan
