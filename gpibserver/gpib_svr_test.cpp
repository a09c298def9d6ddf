// Tests of the GPIB server against the simulated GPIB device registered in this
// process: response pieces and the one write with MAV, the service request rule, the
// status byte shared by router and writer, the reader's "####" rule, the MAV and
// clear hooks, and a whole exchange with a scripted controller on the GPIB FIFOs.
#include "gpibserver/gpib_svr.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/gpibdev_utils.h"
#include "core/messaging_test_support.h"
#include "core/run_state.h"
#include "core/server_threads.h"
#include "platform/device.h"
#include "sim/gpib_model.h"

namespace gpib {
namespace {

using namespace std::chrono_literals;

// Polls `condition` for up to two seconds.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class GpibSvrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterDeviceModel(kGpibDevicePath, model_->instrument_side());
    platform::RegisterDeviceModel(sim::kGpibBusPath, model_->host_side());
    ASSERT_EQ(0, InitiateGPIBServer(&server_, &channel_));
    bus_ = platform::DeviceOpen(sim::kGpibBusPath, O_RDWR);
    ASSERT_GE(bus_, 0);
  }
  void TearDown() override {
    platform::DeviceClose(bus_);
    CloseGPIBServer(&server_);
    GPIBDevClose();
    platform::UnregisterDeviceModel(kGpibDevicePath);
    platform::UnregisterDeviceModel(sim::kGpibBusPath);
    ClearWakeThreads();
  }

  // Runs the writer until the end of the test step.
  void StartWriter() {
    writer_ = std::thread([this] { GPIBWriterLoop(&server_); });
  }
  void StopWriter() {
    SetRunning(false);
    server_.output_queue.WakeAll();
    writer_.join();
    SetRunning(true);
  }

  TempRoot root_;
  std::shared_ptr<sim::GpibModel> model_ = std::make_shared<sim::GpibModel>();
  MasterChannel channel_;
  GPIBSvr server_;
  IEEE_Client* client_ = &server_.bus_client;
  int bus_ = -1;
  std::thread writer_;
};

TEST_F(GpibSvrTest, LongResponseIsQueuedInPiecesAndWrittenOnceWithMav) {
  const std::string text = std::string(599, 'r') + "\n";
  ASSERT_EQ(0, UpdateResponseMsg_Interface(client_, text.c_str()));
  ASSERT_EQ(3, server_.output_queue.Count());
  std::vector<size_t> sizes;
  std::vector<std::unique_ptr<StringQueueEntry>> pieces;
  while (auto piece = server_.output_queue.PopEntry()) {
    sizes.push_back(std::strlen(piece->text));
    pieces.push_back(std::move(piece));
  }
  EXPECT_EQ((std::vector<size_t>{254, 254, 92}), sizes);
  for (auto& piece : pieces) server_.output_queue.PushEntry(std::move(piece));

  StartWriter();
  // The device's write ends when the bus has read the response: MAV stands until then.
  ASSERT_TRUE(Eventually([this] { return model_->PendingForHost() > 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(kStbMessageAvailable, model_->State().status_byte & kStbMessageAvailable);
  std::string response;
  ASSERT_EQ(0, sim::ReadMessage(bus_, &response, 2000));
  EXPECT_EQ(text, response) << "one message: the response went out as one write";
  const sim::GpibModelState state = model_->State();
  EXPECT_EQ(1, state.writes);
  EXPECT_EQ(600u, state.last_write_size);
  EXPECT_EQ(kStbMessageAvailable, state.status_at_last_write & kStbMessageAvailable);
  EXPECT_TRUE(Eventually([this] { return model_->State().status_byte == 0x00; }))
      << "MAV leaves the device's status byte once the queue has drained";
  StopWriter();
}

TEST_F(GpibSvrTest, PiecesWithoutLineEndAreHeldUntilTheResponseEnds) {
  StartWriter();
  ASSERT_EQ(0, UpdateResponseMsg_Interface(client_, "1,2,"));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(0, model_->State().writes);
  ASSERT_EQ(0, UpdateResponseMsg_Interface(client_, "3\n"));
  std::string response;
  ASSERT_EQ(0, sim::ReadMessage(bus_, &response, 2000));
  EXPECT_EQ("1,2,3\n", response);
  StopWriter();
}

TEST_F(GpibSvrTest, ServiceRequestOnlyWhenBitSixRisesWithAnEnabledCause) {
  client_->sre = 0x20;
  StoreStatusByte(client_, 0x60);
  EXPECT_EQ(1, model_->State().srq_count);
  EXPECT_EQ(0x60, model_->State().status_byte);
  EXPECT_EQ(0x60, model_->State().status_at_srq) << "the request came before its byte";
  StoreStatusByte(client_, 0x70);
  EXPECT_EQ(1, model_->State().srq_count) << "bit 6 was already set";
  EXPECT_EQ(0x70, client_->stb);
  uint8_t polled = 0;
  ASSERT_EQ(0, sim::GpibSerialPoll(bus_, &polled));  // releases the request
  EXPECT_EQ(0x70, polled) << "the byte the controller stored last";

  StoreStatusByte(client_, 0x00);
  StoreStatusByte(client_, 0x40);  // bit 6 alone shares nothing else with SRE
  EXPECT_EQ(1, model_->State().srq_count);
  StoreStatusByte(client_, 0x00);
  client_->sre = 0x04;
  StoreStatusByte(client_, 0x60);  // the cause (0x20) is not enabled
  EXPECT_EQ(1, model_->State().srq_count);
  StoreStatusByte(client_, 0x00);
  StoreStatusByte(client_, 0x44);
  EXPECT_EQ(2, model_->State().srq_count);
  ASSERT_EQ(0, sim::GpibSerialPoll(bus_, &polled));
  EXPECT_EQ(0x44, polled) << "the poll that the request prompts sees the new byte";
}

// The device gets the controller's byte as it is: the MAV the controller read from the
// device stays on the bus while a response is unread, whatever the writer did before.
TEST_F(GpibSvrTest, TheDeviceGetsTheControllersByteMavIncluded) {
  StoreStatusByte(client_, 0x14);
  EXPECT_EQ(0x14, model_->State().status_byte);
  uint8_t polled = 0;
  ASSERT_EQ(0, sim::GpibSerialPoll(bus_, &polled));
  EXPECT_EQ(0x14, polled);
  StoreStatusByte(client_, 0x04);
  ASSERT_EQ(0, sim::GpibSerialPoll(bus_, &polled));
  EXPECT_EQ(0x04, polled) << "the device adds nothing of its own";
}

TEST_F(GpibSvrTest, ReaderQueuesChunksForTheRouterAndSkipsHashChunks) {
  ASSERT_EQ(0, sim::WriteMessage(bus_, "*IDN?\n"));
  ASSERT_EQ(1, GPIBReadChunk(&server_));
  auto chunk = server_.inbound_queue.PopEntry();
  ASSERT_TRUE(chunk);
  EXPECT_STREQ("*IDN?\n", chunk->text);
  EXPECT_EQ(client_, InboundChunkClient(*chunk));

  ASSERT_EQ(0, sim::WriteMessage(bus_, "####"));
  testing::internal::CaptureStdout();
  ASSERT_EQ(1, GPIBReadChunk(&server_));
  EXPECT_EQ("GPIB Server:  Last command = *IDN?\n\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, server_.inbound_queue.Count()) << "a #### chunk is not executed";

  ASSERT_EQ(0, sim::WriteMessage(bus_, std::string(300, 'c') + "\n"));
  ASSERT_EQ(1, GPIBReadChunk(&server_));
  ASSERT_EQ(1, GPIBReadChunk(&server_));
  ASSERT_EQ(2, server_.inbound_queue.Count());
  EXPECT_EQ(254u, std::strlen(server_.inbound_queue.PopEntry()->text));
  EXPECT_EQ(47u, std::strlen(server_.inbound_queue.PopEntry()->text));
}

TEST_F(GpibSvrTest, MavHookAsksTheDeviceAndClearHookSendsTheClear) {
  EXPECT_FALSE(GetMAV_bit_interface(client_));
  // The device's write ends when the bus has read the response.
  std::thread write([this] { EXPECT_EQ(0, sim::WriteMessage(server_.data_fd, "1\n")); });
  ASSERT_TRUE(Eventually([this] { return model_->PendingForHost() > 0; }));
  EXPECT_TRUE(GetMAV_bit_interface(client_));
  std::string response;
  ASSERT_EQ(0, sim::ReadMessage(bus_, &response, 1000));
  write.join();
  EXPECT_FALSE(GetMAV_bit_interface(client_));

  ClearDeviceHook(client_);
  EXPECT_EQ(1, model_->State().clear_requests);
}

// The whole server: router, reader and writer threads, the controller played by the
// test on the GPIB command FIFOs.
TEST_F(GpibSvrTest, ProgramMessageFromTheBusIsAnsweredOnTheBus) {
  ASSERT_EQ(0, InstallStopHandlers());
  ASSERT_EQ(0, EnsureFifo(platform::ResolvePath("/tmp/scpi_write_2_gpib")));
  ASSERT_EQ(0, EnsureFifo(platform::ResolvePath("/tmp/gpib_write_2_scpi")));
  FifoPeer controller;
  std::thread opener([&] {
    controller.Open("/tmp/scpi_write_2_gpib", O_WRONLY, "/tmp/gpib_write_2_scpi", O_RDONLY);
  });
  ASSERT_EQ(0, MasterSetup(&channel_, kChannelTypeGpib, GPIBSvrHooks()));
  opener.join();
  channel_.current_client = client_;

  StringQueue* queues[] = {&server_.inbound_queue};
  {
    ServerThreads threads;
    ASSERT_EQ(0, threads.Start([&] { poll_msg_queues(queues, 1, &channel_, &server_.wakeup); }));
    ASSERT_EQ(0, threads.Start([&] {
      while (GPIBReadChunk(&server_) == 1) {
      }
    }));
    ASSERT_EQ(0, threads.Start([&] { GPIBWriterLoop(&server_); }));

    ASSERT_EQ(0, sim::WriteMessage(bus_, "*IDN?\n"));
    const std::string m1 = controller.ReadFrame(controller.second_fd());
    EXPECT_EQ(PipeMsgKind::M1, FrameKind(m1));
    EXPECT_EQ("*IDN?\n", FrameText(m1));
    controller.Send(controller.first_fd(), StringFrame(encode_S7_msg, "ACME,SW12\n"));
    ASSERT_TRUE(Eventually([this] { return model_->PendingForHost() > 0; }));
    controller.Send(controller.first_fd(), BareFrame(encode_S9_msg));
    const std::string m3 = controller.ReadFrame(controller.second_fd());
    ASSERT_EQ(PipeMsgKind::M3, FrameKind(m3));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, kStbMessageAvailable}), FrameBytes(m3))
        << "output waits on the bus";
    controller.Send(controller.first_fd(), BareFrame(encode_S1_msg));

    std::string response;
    ASSERT_EQ(0, sim::ReadMessage(bus_, &response, 2000));
    EXPECT_EQ("ACME,SW12\n", response);

    RequestStop();
    server_.output_queue.WakeAll();
    threads.JoinAll();
  }
  MasterTeardown(&channel_);
}

}  // namespace
}  // namespace gpib
