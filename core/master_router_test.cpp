// Tests of the servers' side of a command channel: the line cutter and the exchange,
// against a scripted controller on real FIFOs in a private root.
#include "core/master_router.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>

#include "core/messaging_test_support.h"

namespace {

// Plays the controller on the LAN channel: records every M1 text, runs the test's
// script for it, then answers S1. Ends when the server closes its FIFOs.
class ScriptedController {
 public:
  using Script = std::function<void(ScriptedController&, const std::string& text)>;

  explicit ScriptedController(Script script = nullptr) : script_(std::move(script)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedController() {
    if (thread_.joinable()) thread_.join();
  }
  void Join() { thread_.join(); }

  void Send(const std::string& frame) { peer_.Send(peer_.first_fd(), frame); }
  std::string Answer() { return peer_.ReadFrame(peer_.second_fd()); }

  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> hold(lock_);
    return texts_;
  }

 private:
  void Run() {
    // The controller's order: controller-to-server for writing, then the other.
    if (!peer_.Open("/tmp/scpi_write_2_sock", O_WRONLY, "/tmp/sock_write_2_scpi", O_RDONLY)) {
      return;
    }
    for (;;) {
      std::string frame = peer_.ReadFrame(peer_.second_fd());
      if (frame.empty()) return;
      std::string text = FrameText(frame);
      {
        std::lock_guard<std::mutex> hold(lock_);
        texts_.push_back(FrameKind(frame) == PipeMsgKind::M1 ? text : "<not M1>");
      }
      if (script_) script_(*this, text);
      Send(BareFrame(encode_S1_msg));
    }
  }

  Script script_;
  FifoPeer peer_;
  std::mutex lock_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

class MasterRouterTest : public ::testing::Test {
 protected:
  // Sets up the LAN master channel against `controller` (already started).
  void Connect(const MasterHooks& hooks = {}) {
    ASSERT_EQ(0, MasterSetup(&channel_, kChannelTypeSocket, hooks));
  }
  // Closes the channel, which ends the scripted controller.
  void Disconnect() { MasterTeardown(&channel_); }
  void TearDown() override { ClearWakeThreads(); }

  TempRoot root_;
  MasterChannel channel_;
  IEEE_Client client_;
};

TEST_F(MasterRouterTest, LineCutterSendsEachLineAsOneProgramMessage) {
  ScriptedController controller;
  Connect();
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*IDN?\n", &client_));
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*RST\n*IDN?\n", &client_));
  // A CR LF inside the chunk leaves the CR on the first line; one that ends the chunk
  // stays whole.
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*CLS\r\n*ESE 16\r\n", &client_));
  // A line in three chunks, then its terminator alone.
  EXPECT_EQ(1, process_msg_queue_commands(&channel_, "ROUT:", &client_));
  EXPECT_EQ(1, process_msg_queue_commands(&channel_, "CLOS ", &client_));
  EXPECT_EQ(1, process_msg_queue_commands(&channel_, "(@1(2))", &client_));
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "\n", &client_));
  // Text after the last terminator waits for the rest of its line.
  EXPECT_EQ(1, process_msg_queue_commands(&channel_, "*OPC\n*WA", &client_));
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "", &client_));
  EXPECT_EQ(3, client_.line_position);
  Disconnect();
  controller.Join();
  std::vector<std::string> expected = {"*IDN?\n", "*RST",  "*IDN?\n",
                                       "*CLS\r",  "*ESE 16\r\n", "ROUT:CLOS (@1(2))\n",
                                       "*OPC"};
  EXPECT_EQ(expected, controller.texts());
}

// Counts the places where `text` occurs in `printed`.
int CountOf(const std::string& printed, const std::string& text) {
  int count = 0;
  for (std::size_t at = printed.find(text); at != std::string::npos;
       at = printed.find(text, at + 1)) {
    ++count;
  }
  return count;
}

// Waits (a bounded time) until the controller has received `count` program messages.
void WaitForTexts(ScriptedController& controller, std::size_t count) {
  for (int i = 0; i < 2500 && controller.texts().size() < count; ++i) usleep(2000);
}

TEST_F(MasterRouterTest, OverlongLineIsCutKeepingTheMostRecentCharacter) {
  ScriptedController controller;
  Connect();
  std::string stream;
  for (int i = 0; i < 10300; ++i) stream += static_cast<char>('a' + i % 26);
  testing::internal::CaptureStdout();
  for (std::size_t at = 0; at < stream.size(); at += kInboundChunkBytes) {
    std::string chunk = stream.substr(at, kInboundChunkBytes);
    EXPECT_EQ(1, process_msg_queue_commands(&channel_, chunk.c_str(), &client_));
  }
  std::string printed = testing::internal::GetCapturedStdout();
  // The first character past the limit is reported at once; the rest only when the
  // line ends, as one count, so that a long line cannot flood the diagnostics.
  EXPECT_EQ(1, CountOf(printed, "] Message overflow detected\n"));
  EXPECT_NE(std::string::npos,
            printed.find("WARNING: [_util/GetMsgQueueCommands | process_msg_queue_commands | "));
  ASSERT_EQ(static_cast<int32_t>(kLineAssemblySize), client_.line_position);
  EXPECT_EQ(stream.back(), client_.line[kLineAssemblySize - 1]);
  EXPECT_EQ(0, std::memcmp(client_.line, stream.data(), kLineAssemblySize - 1));

  // The terminator still ends the line, which goes out whole with its LF; the line
  // feed took the last cell too, so 61 characters went past the limit in all.
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "\n", &client_));
  printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, CountOf(printed, "] Message overflow detected\n"));
  EXPECT_EQ(1, CountOf(printed, "] Message overflow detected 60 more times in this line\n"));
  Disconnect();
  controller.Join();
  ASSERT_EQ(1u, controller.texts().size());
  std::string sent = controller.texts()[0];
  EXPECT_EQ(kLineAssemblySize, sent.size());
  EXPECT_EQ(stream.substr(0, kLineAssemblySize - 1) + "\n", sent);
}

// A flood without a line end is cut where it arrives: what waits for the router stays
// within one line's worth, and the line that finally ends is the one the cutter makes
// of the whole flood (its first characters and its most recent one).
TEST_F(MasterRouterTest, FloodWithoutLineEndQueuesNoMoreThanALine) {
  ScriptedController controller;
  Connect();
  StringQueue queue;
  RouterWakeup wakeup;
  std::string piece(kInboundChunkBytes, 'f');
  constexpr int kPieces = 4000;  // about 1 MB
  for (int i = 0; i < kPieces; ++i) {
    piece.back() = static_cast<char>('a' + i % 26);
    PushInboundChunk(&queue, &wakeup, &client_, piece.data(), piece.size());
  }
  EXPECT_LE(queue.Count(), static_cast<int32_t>(kLineAssemblySize / kInboundChunkBytes + 2));
  PushInboundChunk(&queue, &wakeup, &client_, "\n*OPC?\n", 7);
  StringQueue* queues[] = {&queue};
  testing::internal::CaptureStdout();
  std::thread router([&] { poll_msg_queues(queues, 1, &channel_, &wakeup); });
  WaitForTexts(controller, 2);
  RequestStop();
  router.join();
  std::string printed = testing::internal::GetCapturedStdout();
  Disconnect();
  controller.Join();
  ASSERT_EQ(2u, controller.texts().size());
  const std::string line = controller.texts()[0];
  ASSERT_EQ(kLineAssemblySize, line.size());
  EXPECT_EQ(std::string(kInboundChunkBytes - 1, 'f'), line.substr(0, kInboundChunkBytes - 1));
  EXPECT_EQ(piece.back(), line.back());
  EXPECT_EQ("*OPC?\n", controller.texts()[1]);
  const uint64_t beyond = uint64_t{kPieces} * kInboundChunkBytes - kLineAssemblySize;
  EXPECT_EQ(1, CountOf(printed, "] Message overflow detected\n"));
  EXPECT_EQ(1, CountOf(printed, "] Message overflow detected " + std::to_string(beyond - 1) +
                                    " more times in this line\n"))
      << printed.substr(0, 2000);
}

// The entry the engine makes for an invalid character.
constexpr const char* kInvalidCharacter = "-101,\"Invalid character\"";

std::vector<std::string> Drain(StringQueue& queue) {
  std::vector<std::string> entries;
  char text[STRING_QUEUE_TEXT_SIZE];
  while (queue.PopCopy(text) == 0) entries.push_back(text);
  return entries;
}

// A byte the pipe protocol reserves cannot travel in a program message (it would cut
// or split its frame): the line holding it is refused as the engine refuses an invalid
// character, in the client's error queue and standard event status, instead of being
// run as another message. The lines around it run.
TEST_F(MasterRouterTest, LineHoldingAFrameByteIsRefusedAsAnInvalidCharacter) {
  ScriptedController controller;
  Connect();
  client_.ese = 0x20;  // the command error bit feeds the summary bit of the status byte
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*ESE 1\x01" "2;*ESE?\n", &client_));
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*ID\x03N?\n*RST\n", &client_));
  EXPECT_EQ(1, process_msg_queue_commands(&channel_, "*CL\x02", &client_));
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "S\n*OPC\n", &client_));
  Disconnect();
  controller.Join();
  EXPECT_EQ((std::vector<std::string>{"*RST\n", "*OPC\n"}), controller.texts());
  EXPECT_EQ(std::vector<std::string>(3, kInvalidCharacter), Drain(client_.error_queue));
  EXPECT_EQ(0x20, client_.esr);
  EXPECT_EQ(0x20, client_.stb);
}

// A NUL is a byte like any other: it ends neither the chunk nor the line. The line
// holding it is refused; the lines before and after it in the same chunk run.
TEST_F(MasterRouterTest, LineHoldingANulIsRefusedAndTheLinesAroundItRun) {
  ScriptedController controller;
  Connect();
  StringQueue queue;
  RouterWakeup wakeup;
  const char first[] = "*ESE 5\n\0*ESE 6\n*ESE?\n";
  PushInboundChunk(&queue, &wakeup, &client_, first, sizeof(first) - 1);
  const char second[] = "\0*IDN?\n";
  PushInboundChunk(&queue, &wakeup, &client_, second, sizeof(second) - 1);
  PushInboundChunk(&queue, &wakeup, &client_, "*OPC?\n", 6);
  StringQueue* queues[] = {&queue};
  std::thread router([&] { poll_msg_queues(queues, 1, &channel_, &wakeup); });
  WaitForTexts(controller, 3);
  RequestStop();
  router.join();
  Disconnect();
  controller.Join();
  EXPECT_EQ((std::vector<std::string>{"*ESE 5", "*ESE?\n", "*OPC?\n"}), controller.texts());
  EXPECT_EQ(std::vector<std::string>(2, kInvalidCharacter), Drain(client_.error_queue));
  EXPECT_EQ(0x20, client_.esr);
}

// Hooks that record what the exchange hands them.
struct HookLog {
  std::vector<uint8_t> stb_values;
  std::vector<std::string> responses;
  bool pending = false;
  int clears = 0;
};
HookLog* g_log = nullptr;

MasterHooks RecordingHooks() {
  MasterHooks hooks;
  hooks.store_stb = [](IEEE_Client* client, uint8_t value) {
    g_log->stb_values.push_back(value);
    client->stb = value;
  };
  hooks.deliver_response = [](IEEE_Client*, const char* text) {
    g_log->responses.push_back(text);
    return static_cast<int>(std::strlen(text));
  };
  hooks.output_pending = [](IEEE_Client*) { return g_log->pending; };
  hooks.clear = [](IEEE_Client*) { ++g_log->clears; };
  return hooks;
}

TEST_F(MasterRouterTest, ExchangeServesControllerRequestsUntilDone) {
  HookLog log;
  g_log = &log;
  std::vector<std::string> answers;
  ScriptedController controller([&](ScriptedController& c, const std::string&) {
    c.Send(BinaryFrame(encode_S2_msg, {0x11}));
    c.Send(BinaryFrame(encode_S4_msg, {0x22}));
    c.Send(BinaryFrame(encode_S5_msg, {0x33}));
    c.Send(BinaryFrame(encode_S3_msg, {0x44}));
    c.Send(BareFrame(encode_S8_msg));  // empty queue
    answers.push_back(c.Answer());
    c.Send(StringFrame(encode_S6_msg, "-113,\"Undefined header\""));
    c.Send(StringFrame(encode_S6_msg, "-222,\"Data out of range\""));
    c.Send(BareFrame(encode_S8_msg));
    answers.push_back(c.Answer());
    c.Send(BareFrame(encode_S9_msg));  // output pending: STB bit 4 set
    answers.push_back(c.Answer());
    c.Send(StringFrame(encode_S7_msg, "Tellwin\n"));
    c.Send(BareFrame(encode_S10_msg));
    c.Send(BareFrame(encode_S8_msg));  // the queue was emptied
    answers.push_back(c.Answer());
  });
  Connect(RecordingHooks());
  log.pending = true;
  EXPECT_EQ(0, process_msg_queue_commands(&channel_, "*IDN?\n", &client_));
  EXPECT_EQ(2, channel_.state);  // ready again after S1

  EXPECT_EQ(0x11, client_.ese);
  EXPECT_EQ(0x22, client_.esr);
  EXPECT_EQ(0x33, client_.sre);
  EXPECT_EQ(0x44, client_.stb);
  EXPECT_EQ(std::vector<uint8_t>{0x44}, log.stb_values);
  EXPECT_EQ(std::vector<std::string>{"Tellwin\n"}, log.responses);
  EXPECT_EQ(1, log.clears);
  EXPECT_EQ(0, client_.error_queue.Count());
  EXPECT_EQ('\0', client_.response[0]);  // S10 clears the response buffer

  Disconnect();
  controller.Join();
  ASSERT_EQ(4u, answers.size());
  EXPECT_EQ(PipeMsgKind::M2, FrameKind(answers[0]));
  EXPECT_EQ("0,\"No error\"", FrameText(answers[0]));
  EXPECT_EQ("-113,\"Undefined header\"", FrameText(answers[1]));
  EXPECT_EQ(PipeMsgKind::M3, FrameKind(answers[2]));
  EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22, 0x33, 0x54}), FrameBytes(answers[2]));
  EXPECT_EQ("0,\"No error\"", FrameText(answers[3]));
}

TEST_F(MasterRouterTest, StatusAnswerClearsBitFourWhenNoOutputIsPending) {
  HookLog log;
  g_log = &log;
  std::string answer;
  ScriptedController controller([&](ScriptedController& c, const std::string&) {
    c.Send(BareFrame(encode_S9_msg));
    answer = c.Answer();
  });
  Connect(RecordingHooks());
  client_.stb = 0x54;
  log.pending = false;
  process_msg_queue_commands(&channel_, "*STB?\n", &client_);
  Disconnect();
  controller.Join();
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0x44}), FrameBytes(answer));
  EXPECT_EQ(0x54, client_.stb);  // the client's own byte is not changed by the answer
}

TEST_F(MasterRouterTest, DefaultHooksActOnTheClientBlock) {
  ScriptedController controller([](ScriptedController& c, const std::string&) {
    c.Send(BinaryFrame(encode_S3_msg, {0x10}));
    c.Send(StringFrame(encode_S6_msg, "-100,\"Command error\""));
    c.Send(StringFrame(encode_S7_msg, "1\n"));
  });
  Connect();
  process_msg_queue_commands(&channel_, "*OPC?\n", &client_);
  Disconnect();
  controller.Join();
  EXPECT_EQ(0x10, client_.stb);
  char entry[STRING_QUEUE_TEXT_SIZE];
  ASSERT_EQ(0, client_.error_queue.PopCopy(entry));
  EXPECT_STREQ("-100,\"Command error\"", entry);
  EXPECT_STREQ("1\n", client_.response);
}

TEST_F(MasterRouterTest, StrayFrameDoesNotEndTheExchange) {
  std::string answer;
  ScriptedController controller([&](ScriptedController& c, const std::string&) {
    c.Send(BareFrame(encode_E1_msg));  // not a request
    c.Send(BinaryFrame(encode_S2_msg, {0x20}));
  });
  Connect();
  testing::internal::CaptureStdout();
  process_msg_queue_commands(&channel_, "*ESE 32\n", &client_);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            printed.find("mastermsgrout_do_WAIT_FOR_SLAVE_task: default case reached"));
  EXPECT_EQ(0x20, client_.ese);  // the request after the stray frame was still served
  Disconnect();
  controller.Join();
}

TEST_F(MasterRouterTest, RouterFinishesALineBeforeTurningToTheNextQueue) {
  ScriptedController controller;
  Connect();
  StringQueue port_a;
  StringQueue port_b;
  RouterWakeup wakeup;
  IEEE_Client other;
  StringQueue* queues[] = {&port_a, &port_b};
  PushInboundChunk(&port_a, &wakeup, &client_, "SYST:", 5);
  PushInboundChunk(&port_b, &wakeup, &other, "*CLS\n", 5);
  PushInboundChunk(&port_a, &wakeup, &client_, "ERR?\n", 5);
  std::thread router([&] { poll_msg_queues(queues, 2, &channel_, &wakeup); });
  for (int i = 0; i < 1000 && controller.texts().size() < 2; ++i) usleep(2000);
  // Later chunks wake the router from its sleep.
  PushInboundChunk(&port_b, &wakeup, &other, "*OPC?\n", 6);
  for (int i = 0; i < 1000 && controller.texts().size() < 3; ++i) usleep(2000);
  RequestStop();  // wakes the sleeping router through its eventfd
  router.join();
  Disconnect();
  controller.Join();
  std::vector<std::string> expected = {"SYST:ERR?\n", "*CLS\n", "*OPC?\n"};
  EXPECT_EQ(expected, controller.texts());
}

TEST_F(MasterRouterTest, ClosedControllerEndsTheExchange) {
  std::thread controller([] {
    FifoPeer peer;
    ASSERT_TRUE(peer.Open("/tmp/scpi_write_2_sock", O_WRONLY, "/tmp/sock_write_2_scpi",
                          O_RDONLY));
    EXPECT_EQ("*RST\n", FrameText(peer.ReadFrame(peer.second_fd())));
    peer.Close();  // gone without S1
  });
  Connect();
  testing::internal::CaptureStdout();
  process_msg_queue_commands(&channel_, "*RST\n", &client_);
  std::string printed = testing::internal::GetCapturedStdout();
  controller.join();
  EXPECT_NE(std::string::npos,
            printed.find("mastermsgrout_do_WAIT_FOR_SLAVE_task: read returned 0"));
  EXPECT_EQ(0, client_.line_position);
  Disconnect();
}

}  // namespace
