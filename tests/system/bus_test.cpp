// The chassis seen from the GPIB bus controller and the USB host: round trips,
// message available and service request in the serial poll byte, and the query error
// of a second query while the first response is unread.
#include <fcntl.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/device.h"
#include "sim/gpib_model.h"
#include "sim/message_port.h"
#include "sim/vchassis_host.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

using Buses = ChassisTest;

constexpr uint8_t kMav = 0x10;
constexpr uint8_t kEsb = 0x20;
constexpr uint8_t kRqs = 0x40;

std::string Ask(sim::HostBus bus, const std::string& message) {
  std::string reply;
  if (sim::HostSend(bus, message, kWaitMs, &reply) != 0) return "<no reply>";
  return reply;
}

// The serial poll byte once `condition` holds for it, or after kWaitMs the last one.
template <typename Condition>
uint8_t PollUntil(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  uint8_t status = 0;
  while (sim::HostSerialPoll(&status) == 0 && !condition(status) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

TEST_F(Buses, IdentityOverGpibAndUsb) {
  EXPECT_EQ(Ask(sim::HostBus::kGpib, "*IDN?"), std::string(kIdentity) + "\n");
  EXPECT_EQ(Ask(sim::HostBus::kUsb, "*IDN?"), std::string(kIdentity) + "\n");
  // Each bus keeps its own status: a setting on one is not seen on the other.
  EXPECT_EQ(Ask(sim::HostBus::kGpib, "*ESE 8;*ESE?"), "8\n");
  EXPECT_EQ(Ask(sim::HostBus::kUsb, "*ESE?"), "0\n");
}

TEST_F(Buses, GpibSerialPollShowsMessageAvailableUntilTheResponseIsRead) {
  int bus = platform::DeviceOpen(sim::kGpibBusPath, O_RDWR);
  ASSERT_GE(bus, 0);
  ASSERT_EQ(sim::WriteMessage(bus, "*IDN?\n"), 0);
  EXPECT_NE(PollUntil([](uint8_t s) { return (s & kMav) != 0; }) & kMav, 0);
  std::string reply;
  ASSERT_EQ(sim::ReadMessage(bus, &reply, kWaitMs), 0);
  EXPECT_EQ(reply, std::string(kIdentity) + "\n");
  EXPECT_EQ(PollUntil([](uint8_t s) { return (s & kMav) == 0; }) & kMav, 0);
  platform::DeviceClose(bus);
}

TEST_F(Buses, OperationCompleteRaisesServiceRequestOnGpib) {
  uint8_t status = 0;
  ASSERT_EQ(sim::HostSerialPoll(&status), 0);
  EXPECT_EQ(status & kRqs, 0);
  std::string reply;
  ASSERT_EQ(sim::HostSend(sim::HostBus::kGpib, "*ESE 1;*SRE 32;*OPC", kWaitMs, &reply), 0);
  ASSERT_EQ(sim::HostWaitSrq(kWaitMs), 0);
  ASSERT_EQ(sim::HostSerialPoll(&status), 0);
  EXPECT_EQ(status & (kEsb | kRqs), kEsb | kRqs);
  // The serial poll released the request; reading the event register clears ESB.
  // Operation complete, and the power-on bit that the first *ESR? reports.
  EXPECT_EQ(Ask(sim::HostBus::kGpib, "*ESR?"), "129\n");
  ASSERT_EQ(sim::HostSerialPoll(&status), 0);
  EXPECT_EQ(status & (kEsb | kRqs), 0);
}

TEST_F(Buses, SecondQueryWhileTheFirstResponseIsUnreadIsAQueryError) {
  // The query error bit (2) of the event register is enabled, so ESB in the serial
  // poll tells when the second query has been refused.
  std::string reply;
  ASSERT_EQ(sim::HostSend(sim::HostBus::kGpib, "*ESE 4", kWaitMs, &reply), 0);
  int bus = platform::DeviceOpen(sim::kGpibBusPath, O_RDWR);
  ASSERT_GE(bus, 0);
  ASSERT_EQ(sim::WriteMessage(bus, "*IDN?\n"), 0);
  // The response stands ready on the bus (MAV in the serial poll can come a moment
  // before the device holds it).
  pollfd ready{bus, POLLIN, 0};
  ASSERT_EQ(platform::DevicePoll(&ready, 1, kWaitMs), 1);
  ASSERT_EQ(sim::WriteMessage(bus, "*IDN?\n"), 0);
  EXPECT_NE(PollUntil([](uint8_t s) { return (s & kEsb) != 0; }) & kEsb, 0);
  // Only the first response is there to read.
  ASSERT_EQ(sim::ReadMessage(bus, &reply, kWaitMs), 0);
  EXPECT_EQ(reply, std::string(kIdentity) + "\n");
  ASSERT_EQ(sim::WriteMessage(bus, "SYST:ERR?\n"), 0);
  ASSERT_EQ(sim::ReadMessage(bus, &reply, kWaitMs), 0);
  EXPECT_EQ(reply.rfind("-400,", 0), 0u) << reply;
  platform::DeviceClose(bus);
}

}  // namespace
}  // namespace systest
