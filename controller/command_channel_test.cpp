// Tests of the controller's side of a command channel against a scripted server on real
// FIFOs, with the engine entry replaced by the test's own, and one end-to-end exchange
// between a controller channel and a server's master channel.
#include "controller/command_channel.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "core/master_router.h"
#include "core/messaging_test_support.h"

namespace {

std::function<void(ChannelHandle*)> g_engine_script;

void ScriptedEngine(ChannelHandle* handle) {
  if (g_engine_script) g_engine_script(handle);
}

// Plays a server on the command FIFOs of one channel type.
class ScriptedServer {
 public:
  explicit ScriptedServer(int type) {
    CommandFifoPaths(type, &to_controller_, &to_server_);
    EnsureFifo(platform::ResolvePath(to_controller_));
    EnsureFifo(platform::ResolvePath(to_server_));
  }
  // The server's order: controller-to-server for reading, then the other for writing.
  bool Open() { return peer_.Open(to_server_, O_RDONLY, to_controller_, O_WRONLY); }
  void Close() { peer_.Close(); }

  void Send(const std::string& frame) { peer_.Send(peer_.second_fd(), frame + '\0'); }
  std::string Next() { return peer_.ReadFrame(peer_.first_fd()); }
  int read_fd() const { return peer_.first_fd(); }

  // Frames up to and including S1.
  std::vector<std::string> UntilDone() {
    std::vector<std::string> frames;
    for (;;) {
      std::string frame = Next();
      if (frame.empty()) return frames;
      frames.push_back(frame);
      if (FrameKind(frame) == PipeMsgKind::S1) return frames;
    }
  }

 private:
  const char* to_controller_ = nullptr;
  const char* to_server_ = nullptr;
  FifoPeer peer_;
};

// One controller channel of `type` with its thread, stopped at the end.
class RunningChannel {
 public:
  RunningChannel(int type, ScriptedServer& server) {
    std::thread opener([&server] { server.Open(); });
    setup_result_ = CommandChannelSetup(&channel_, &handle_, type);
    opener.join();
    thread_ = std::thread([this] { slave_msgrout_do_IDLE_task(&channel_, &handle_); });
    RegisterWakeThread(thread_.native_handle());
  }
  ~RunningChannel() { Stop(); }

  // Stops the thread: the stop wakes it, and closing the server's end ends a read that
  // had not started yet when the wake-up came.
  void Stop(ScriptedServer* server = nullptr) {
    if (!thread_.joinable()) return;
    RequestStop();
    if (server != nullptr) server->Close();
    thread_.join();
    CommandChannelTeardown(&channel_);
  }
  int setup_result() const { return setup_result_; }
  int gone_fd() const { return channel_.gone_fd; }
  bool awaiting_server() const { return channel_.awaiting_server; }
  ChannelHandle& handle() { return handle_; }

 private:
  CommandChannel channel_;
  ChannelHandle handle_;
  int setup_result_ = -1;
  std::thread thread_;
};

class CommandChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, InstallStopHandlers());
    SetProgramMessageEngine(ScriptedEngine);
  }
  void TearDown() override {
    g_engine_script = nullptr;
    SetProgramMessageEngine(nullptr);
    ClearWakeThreads();
  }
  TempRoot root_;
};

std::vector<PipeMsgKind> Kinds(const std::vector<std::string>& frames) {
  std::vector<PipeMsgKind> kinds;
  for (const std::string& frame : frames) kinds.push_back(FrameKind(frame));
  return kinds;
}

TEST_F(CommandChannelTest, ProgramMessageExecutesAndEndsWithS1) {
  std::string seen;
  g_engine_script = [&](ChannelHandle* handle) { seen = handle->command_text; };
  ScriptedServer server(kChannelTypeSocket);
  RunningChannel channel(kChannelTypeSocket, server);
  ASSERT_EQ(0, channel.setup_result());
  server.Send(StringFrame(encode_M1_msg, "*IDN?\n"));
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(server.UntilDone()));
  EXPECT_EQ("*IDN?\n\x03", seen);  // the frame's ETX stays at the end of the text
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, LongResponsesGoOutInPiecesEndingWithOneLineFeed) {
  std::size_t length = 0;
  g_engine_script = [&](ChannelHandle* handle) {
    std::string text(length, 'x');
    handle->write_response(handle->channel, text.c_str());
  };
  ScriptedServer server(kChannelTypeSocket);
  RunningChannel channel(kChannelTypeSocket, server);

  length = 10238;
  server.Send(StringFrame(encode_M1_msg, "DIAG:DATA?\n"));
  std::vector<std::string> frames = server.UntilDone();
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(PipeMsgKind::S7, FrameKind(frames[0]));
  EXPECT_EQ(std::string(10238, 'x') + "\n", FrameText(frames[0]));

  length = 10239;
  server.Send(StringFrame(encode_M1_msg, "DIAG:DATA?\n"));
  frames = server.UntilDone();
  ASSERT_EQ(3u, frames.size());
  EXPECT_EQ(std::string(10239, 'x'), FrameText(frames[0]));
  EXPECT_EQ("\n", FrameText(frames[1]));
  EXPECT_EQ(PipeMsgKind::S1, FrameKind(frames[2]));

  length = 0;  // an empty response still ends with its line feed
  server.Send(StringFrame(encode_M1_msg, "X?\n"));
  frames = server.UntilDone();
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("\n", FrameText(frames[0]));
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, FramesWithoutAnswerLeaveWithTheNextRequestOrS1) {
  std::atomic<int> readable_early{-1};
  ScriptedServer server(kChannelTypeSocket);
  RunningChannel channel(kChannelTypeSocket, server);
  g_engine_script = [&](ChannelHandle* handle) {
    handle->write_esr(handle->channel, 0x20);
    handle->push_error(handle->channel, "-100,\"Command error\"");
    // Nothing has reached the server yet: it is woken once, by the request below.
    pollfd ready{server.read_fd(), POLLIN, 0};
    readable_early = poll(&ready, 1, 0);
    uint8_t b[4];
    handle->read_status(handle->channel, &b[0], &b[1], &b[2], &b[3]);
    handle->write_stb(handle->channel, 0x20);
    handle->write_response(handle->channel, "1");
  };
  server.Send(StringFrame(encode_M1_msg, "X\n"));
  // The server does not read until the engine has looked at its FIFO.
  for (int i = 0; i < 5000 && readable_early.load() == -1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The waiting frames come first, in order, then the request.
  EXPECT_EQ(PipeMsgKind::S4, FrameKind(server.Next()));
  EXPECT_EQ(PipeMsgKind::S6, FrameKind(server.Next()));
  EXPECT_EQ(PipeMsgKind::S9, FrameKind(server.Next()));
  server.Send(BinaryFrame(encode_M3_msg, {0, 0x20, 0, 0}));
  EXPECT_EQ((std::vector<PipeMsgKind>{PipeMsgKind::S3, PipeMsgKind::S7, PipeMsgKind::S1}),
            Kinds(server.UntilDone()));
  EXPECT_EQ(0, readable_early.load());
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, ErrorAndStatusRequestsRoundTrip) {
  char error[kCommandTextSize] = "stale";
  int error_result = -9;
  int status_result = -9;
  uint8_t bytes[4] = {};
  g_engine_script = [&](ChannelHandle* handle) {
    error_result = handle->read_error(handle->channel, error);
    status_result =
        handle->read_status(handle->channel, &bytes[0], &bytes[1], &bytes[2], &bytes[3]);
  };
  ScriptedServer server(kChannelTypeGpib);
  RunningChannel channel(kChannelTypeGpib, server);
  server.Send(StringFrame(encode_M1_msg, "SYST:ERR?\n"));
  EXPECT_EQ(PipeMsgKind::S8, FrameKind(server.Next()));
  server.Send(StringFrame(encode_M2_msg, "-113,\"Undefined header\""));
  EXPECT_EQ(PipeMsgKind::S9, FrameKind(server.Next()));
  server.Send(BinaryFrame(encode_M3_msg, {0x01, 0x20, 0x10, 0x44}));
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(server.UntilDone()));
  EXPECT_EQ(0, error_result);
  EXPECT_STREQ("-113,\"Undefined header\"", error);
  EXPECT_EQ(0, status_result);
  EXPECT_EQ(0x01, bytes[0]);
  EXPECT_EQ(0x20, bytes[1]);
  EXPECT_EQ(0x10, bytes[2]);
  EXPECT_EQ(0x44, bytes[3]);
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, WrongAnswerLeavesOutputsAlone) {
  char error[kCommandTextSize] = "stale";
  uint8_t bytes[4] = {9, 9, 9, 9};
  int status_result = 0;
  g_engine_script = [&](ChannelHandle* handle) {
    handle->read_error(handle->channel, error);
    status_result =
        handle->read_status(handle->channel, &bytes[0], &bytes[1], &bytes[2], &bytes[3]);
  };
  ScriptedServer server(kChannelTypeSocket);
  RunningChannel channel(kChannelTypeSocket, server);
  server.Send(StringFrame(encode_M1_msg, "*ESR?\n"));
  server.Next();
  server.Send(BinaryFrame(encode_M3_msg, {1, 2, 3, 4}));  // M3 where M2 is due
  server.Next();
  server.Send(StringFrame(encode_M2_msg, "0,\"No error\""));  // and the other way round
  server.UntilDone();
  EXPECT_STREQ("", error);
  EXPECT_NE(0, status_result);
  EXPECT_EQ(9, bytes[0]);
  EXPECT_EQ(9, bytes[3]);
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, StatusWritesAndErrorEntriesReachTheServer) {
  g_engine_script = [](ChannelHandle* handle) {
    CommandChannel* c = handle->channel;
    handle->write_ese(c, 0x11);
    handle->write_esr(c, 0x22);
    handle->write_sre(c, 0x33);
    handle->write_stb(c, 0x44);
    handle->push_error(c, "-100,\"Command error\"");
    handle->clear_errors(c);
  };
  ScriptedServer server(kChannelTypeUsb);
  RunningChannel channel(kChannelTypeUsb, server);
  server.Send(StringFrame(encode_M1_msg, "*ESE 17\n"));
  std::vector<std::string> frames = server.UntilDone();
  std::vector<PipeMsgKind> expected = {PipeMsgKind::S2, PipeMsgKind::S4, PipeMsgKind::S5,
                                       PipeMsgKind::S3, PipeMsgKind::S6, PipeMsgKind::S10,
                                       PipeMsgKind::S1};
  ASSERT_EQ(expected, Kinds(frames));
  EXPECT_EQ(std::vector<uint8_t>{0x11}, FrameBytes(frames[0]));
  EXPECT_EQ(std::vector<uint8_t>{0x22}, FrameBytes(frames[1]));
  EXPECT_EQ(std::vector<uint8_t>{0x33}, FrameBytes(frames[2]));
  EXPECT_EQ(std::vector<uint8_t>{0x44}, FrameBytes(frames[3]));
  EXPECT_EQ("-100,\"Command error\"", FrameText(frames[4]));
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, OutOfTurnAnswersWhileIdleAreDropped) {
  int executed = 0;
  g_engine_script = [&](ChannelHandle*) { ++executed; };
  ScriptedServer server(kChannelTypeSocket);
  RunningChannel channel(kChannelTypeSocket, server);
  testing::internal::CaptureStdout();
  server.Send(StringFrame(encode_M2_msg, "0,\"No error\""));
  server.Send(BinaryFrame(encode_M3_msg, {0, 0, 0, 0}));
  server.Send(StringFrame(encode_M1_msg, "*CLS\n"));
  std::vector<std::string> frames = server.UntilDone();
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(frames));
  EXPECT_EQ(1, executed);
  EXPECT_NE(std::string::npos,
            printed.find("slave_msgrout_do_IDLE_task : Warning!  Unexpected pipe message type "
                         "(M1) for msg=\x02M2\x01"));
  EXPECT_NE(std::string::npos, printed.find("for msg=\x02M3\x01"));
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, ServerThatReopensItsFifosIsServedAgain) {
  int executed = 0;
  g_engine_script = [&](ChannelHandle*) { ++executed; };
  ScriptedServer server(kChannelTypeGpib);
  RunningChannel channel(kChannelTypeGpib, server);
  server.Send(StringFrame(encode_M1_msg, "*CLS\n"));
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(server.UntilDone()));
  server.Close();  // the channel sees end of file and waits for the server to return
  ASSERT_TRUE(server.Open());
  server.Send(StringFrame(encode_M1_msg, "*CLS\n"));
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(server.UntilDone()));
  EXPECT_EQ(2, executed);
  channel.Stop(&server);
}

// A server that ended with a reply unread: the next server starts with an empty FIFO,
// and the channel said when it was emptied, before which the controller starts no one.
// Until a server opens its end again the channel says it waits for one: a server that
// ends before that is started again without waiting for a drop that never comes.
TEST_F(CommandChannelTest, WhatAnEndedServerLeftUnreadNeverReachesTheNext) {
  g_engine_script = [](ChannelHandle* handle) {
    if (std::string(handle->command_text).rfind("*IDN?", 0) == 0) {
      handle->write_response(handle->channel, "for the server that ends");
    }
  };
  ScriptedServer server(kChannelTypeUsb);
  RunningChannel channel(kChannelTypeUsb, server);
  server.Send(StringFrame(encode_M1_msg, "*IDN?\n"));
  pollfd reply{server.read_fd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&reply, 1, 5000));  // S7 and S1 wait in the FIFO, never read
  server.Close();
  pollfd gone{channel.gone_fd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&gone, 1, 5000));
  for (int waited = 0; !channel.awaiting_server() && waited < 5000; waited += 10) usleep(10000);
  EXPECT_TRUE(channel.awaiting_server());
  ASSERT_TRUE(server.Open());
  server.Send(StringFrame(encode_M1_msg, "*CLS\n"));
  EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(server.UntilDone()));
  EXPECT_FALSE(channel.awaiting_server());
  channel.Stop(&server);
}

TEST_F(CommandChannelTest, ChannelsExecuteOneAfterTheOther) {
  std::atomic<int> active{0};
  std::atomic<int> most{0};
  std::atomic<int> executed{0};
  g_engine_script = [&](ChannelHandle*) {
    int now = ++active;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    usleep(30000);
    --active;
    ++executed;
  };
  ScriptedServer lan(kChannelTypeSocket);
  ScriptedServer usb(kChannelTypeUsb);
  RunningChannel lan_channel(kChannelTypeSocket, lan);
  RunningChannel usb_channel(kChannelTypeUsb, usb);
  for (int round = 0; round < 3; ++round) {
    lan.Send(StringFrame(encode_M1_msg, "*WAI\n"));
    usb.Send(StringFrame(encode_M1_msg, "*WAI\n"));
    std::vector<std::string> usb_frames;
    std::thread usb_reader([&] { usb_frames = usb.UntilDone(); });
    std::vector<std::string> lan_frames = lan.UntilDone();
    usb_reader.join();
    EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(lan_frames));
    EXPECT_EQ(std::vector<PipeMsgKind>{PipeMsgKind::S1}, Kinds(usb_frames));
  }
  EXPECT_EQ(6, executed.load());
  EXPECT_EQ(1, most.load());
  lan_channel.Stop(&lan);
  usb_channel.Stop(&usb);
}

TEST_F(CommandChannelTest, ControllerAndServerChannelsTalkEndToEnd) {
  static std::vector<std::string> delivered;
  delivered.clear();
  char error[kCommandTextSize] = {};
  g_engine_script = [&](ChannelHandle* handle) {
    handle->read_error(handle->channel, error);
    handle->write_response(handle->channel, "Tellwin Instruments");
  };
  MasterChannel master;
  MasterHooks hooks;
  hooks.deliver_response = [](IEEE_Client*, const char* text) {
    delivered.push_back(text);
    return 0;
  };
  CommandChannel channel;
  ChannelHandle handle;
  std::thread server([&] { ASSERT_EQ(0, MasterSetup(&master, kChannelTypeSocket, hooks)); });
  ASSERT_EQ(0, CommandChannelSetup(&channel, &handle, kChannelTypeSocket));
  server.join();
  std::thread idle([&] { slave_msgrout_do_IDLE_task(&channel, &handle); });
  RegisterWakeThread(idle.native_handle());

  IEEE_Client client;
  EXPECT_EQ(0, process_msg_queue_commands(&master, "*IDN?\n", &client));
  EXPECT_EQ(std::vector<std::string>{"Tellwin Instruments\n"}, delivered);
  EXPECT_STREQ("0,\"No error\"", error);
  EXPECT_STREQ("Tellwin Instruments\n", client.response);

  RequestStop();
  MasterTeardown(&master);
  idle.join();
  CommandChannelTeardown(&channel);
}

}  // namespace
