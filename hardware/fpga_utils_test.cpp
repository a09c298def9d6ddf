// Tests of the FPGA register and local-bus functions against the simulated FPGA and
// chassis bus driver registered in this process: register access and its trace
// lines, failures to map or open with their messages, slot addressing, the
// multi-byte forms, interrupts, the register defaults, the delay timer, the period,
// the clock and the event wait.
#include "hardware/fpga_utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/fpga_registers.h"
#include "hardware/hardware_test_support.h"
#include "scpi/error_codes.h"
#include "sim/device_server.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// Byte registers that remember every address they were asked for. Reads of
// `port` step through consecutive bytes, as a card EPROM's data port does; from
// `fail_after` accesses on, every access fails.
class RecordingCard final : public sim::LocalBusTarget {
 public:
  static constexpr uint32_t kPort = 0x203;

  int ReadByte(uint32_t address, uint8_t* byte) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Failing()) return -5;
    addresses.push_back(address);
    *byte = address == kPort ? port_next_++ : bytes_[address];
    return 0;
  }
  int WriteByte(uint32_t address, uint8_t byte) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Failing()) return -5;
    addresses.push_back(address);
    bytes_[address] = byte;
    return 0;
  }
  uint8_t At(uint32_t address) { return bytes_[address]; }

  std::vector<uint32_t> addresses;
  int fail_after = -1;

 private:
  bool Failing() { return fail_after >= 0 && accesses_++ >= fail_after; }
  std::mutex mutex_;
  std::map<uint32_t, uint8_t> bytes_;
  uint8_t port_next_ = 0x10;
  int accesses_ = 0;
};

class FpgaUtilsTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    xbus_->Plug(4, card_);
  }

  std::shared_ptr<RecordingCard> card_ = std::make_shared<RecordingCard>();
};

TEST_F(FpgaUtilsTest, RegistersReadBackWhatWasWrittenAndTraceEachAccess) {
  CaptureStdout();
  EXPECT_EQ(WriteFPGAregister(0x2010, 0x1234), 0);
  EXPECT_EQ(GetCapturedStdout(), "");  // no trace while the switch is off

  SetFpgaTrace(true);
  CaptureStdout();
  EXPECT_EQ(WriteFPGAregister(0x10, 0xABCDEF01), 0);
  uint32_t value = 0;
  EXPECT_EQ(ReadFPGAregister(0x2010, &value), 0);
  EXPECT_EQ(GetCapturedStdout(),
            " - FPGA Write: Address = 0x  10, Data = 0xabcdef01 \n"
            " - FPGA Read: Address = 0x2010, Data = 0x    1234 \n");
  EXPECT_EQ(value, 0x1234u);
  EXPECT_EQ(fpga_->Peek(0x10), 0xABCDEF01u);
}

TEST_F(FpgaUtilsTest, AccessOutsideTheWindowFailsWithItsLine) {
  uint32_t value = 0;
  CaptureStdout();
  EXPECT_EQ(ReadFPGAregister(0x10000, &value), err::kFpgaIoError);
  EXPECT_EQ(WriteFPGAregister(0x4002, 1), err::kFpgaIoError);
  EXPECT_EQ(GetCapturedStdout(),
            "ReadFPGAregister() -- read from address 00010000 failed (-30014)\n"
            "WriteFPGAregister() -- write to address 00004002 failed (-30014)\n");
}

TEST_F(FpgaUtilsTest, FailedMappingIsReportedOnceThenFailsQuietly) {
  MissingDevice missing(kFpgaMemoryPath);
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(WriteFPGAregister(0x10, 1), err::kFpgaIoError);
  const std::string errors = GetCapturedStderr();
  EXPECT_EQ(GetCapturedStdout(), "WriteFPGAregister() -- map FAILED (-30014)\n");
  EXPECT_EQ(errors.rfind("peekpoke map: ", 0), 0u) << errors;

  // Even with the device back, the window stays unmapped for the process.
  platform::RegisterDeviceModel(kFpgaMemoryPath, fpga_);
  uint32_t value = 0;
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(ReadFPGAregister(0x10, &value), err::kFpgaIoError);
  EXPECT_EQ(WriteFPGAregister(0x10, 1), err::kFpgaIoError);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(FpgaUtilsTest, LocalBusAddressesTheSlotInTheTopBitsAndTraces) {
  auto chassis = std::make_shared<RecordingCard>();
  xbus_->Plug(0, chassis);
  SetFpgaTrace(true);
  CaptureStdout();
  EXPECT_EQ(WriteByteToLocalBus(4, 0x3FF, 0xA5), 0);
  uint8_t byte = 0;
  EXPECT_EQ(ReadByteFromLocalBus(4, 0x3FF, &byte), 0);
  EXPECT_EQ(WriteByteToLocalBus(0, 0x12, 0x7), 0);
  EXPECT_EQ(GetCapturedStdout(),
            "WriteByteToLocalBus: Slot = 4, Addr = 0x300003ff, Data = 0xa5, Error = 0\n"
            "ReadByteFromLocalBus: Slot = 4, Addr = 0x300003ff, Data = 0xa5, PromAddr = 0x0, "
            "Error = 0\n"
            "WriteByteToLocalBus: Slot = 0, Addr = 0xf0000012, Data = 0x7, Error = 0\n");
  EXPECT_EQ(byte, 0xA5);
  EXPECT_EQ(chassis->At(0x12), 0x7);
}

TEST_F(FpgaUtilsTest, ReadTraceFollowsTheEpromPort) {
  uint8_t byte = 0;
  SetFpgaTrace(true);
  CaptureStdout();
  ReadByteFromLocalBus(4, 0x201, &byte);
  ReadByteFromLocalBus(4, 0x203, &byte);
  ReadByteFromLocalBus(4, 0x1301, &byte);  // only the low 12 bits count
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("Addr = 0x30000201, Data = 0x0, PromAddr = 0xffffffff, Error = 0\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Addr = 0x30000203, Data = 0x10, PromAddr = 0x0, Error = 0\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Addr = 0x30001301, Data = 0x0, PromAddr = 0x1, Error = 0\n"),
            std::string::npos) << out;
}

TEST_F(FpgaUtilsTest, RefusedRequestsFailWithTheFpgaCode) {
  xbus_->SetSlotFailing(4, true);
  SetFpgaTrace(true);
  uint8_t byte = 0x33;
  CaptureStdout();
  EXPECT_EQ(WriteByteToLocalBus(4, 0x20, 1), err::kFpgaIoError);
  EXPECT_EQ(ReadByteFromLocalBus(4, 0x20, &byte), err::kFpgaIoError);
  EXPECT_EQ(GetCapturedStdout(),
            "WriteByteToLocalBus: Slot = 4, Addr = 0x30000020, Data = 0x1, Error = -1\n"
            "ReadByteFromLocalBus: Slot = 4, Addr = 0x30000020, Data = 0x33, PromAddr = 0x0, "
            "Error = -1\n");
}

TEST_F(FpgaUtilsTest, MissingDriverIsReportedAndRetriedLater) {
  MissingDevice missing(kXbusDevicePath);
  uint8_t byte = 0;
  CaptureStderr();
  EXPECT_EQ(ReadByteFromLocalBus(4, 0x20, &byte), err::kFpgaIoError);
  EXPECT_EQ(GetCapturedStderr(), "fpga_utils.c:  OpenXbusDriver: Open failed: '/dev/xbus0'\n");
  EXPECT_EQ(XbusDescriptor(), -1);

  platform::RegisterDeviceModel(kXbusDevicePath, xbus_);
  EXPECT_EQ(OpenXbusDriver(), 0);
  EXPECT_GT(XbusDescriptor(), 0);
  EXPECT_EQ(WriteByteToLocalBus(4, 0x20, 9), 0);
  EXPECT_EQ(card_->At(0x20), 9);
}

TEST_F(FpgaUtilsTest, MultiByteFormsStepByTwoOrStayOnThePort) {
  const uint8_t out[3] = {1, 2, 3};
  EXPECT_EQ(WriteBytesToLocalBus(4, 0x100, out, 3), 0);
  uint8_t in[3] = {};
  EXPECT_EQ(ReadBytesFromLocalBus(4, 0x100, in, 3), 0);
  EXPECT_EQ(card_->addresses,
            (std::vector<uint32_t>{0x100, 0x102, 0x104, 0x100, 0x102, 0x104}));
  EXPECT_EQ(in[0], 1);
  EXPECT_EQ(in[2], 3);

  uint8_t eprom[4] = {};
  EXPECT_EQ(ReadBytesFromLocalBusPort(4, RecordingCard::kPort, eprom, 4), 0);
  EXPECT_EQ(eprom[0], 0x10);
  EXPECT_EQ(eprom[3], 0x13);
}

TEST_F(FpgaUtilsTest, MultiByteFormsStopAtTheFirstError) {
  card_->fail_after = 2;
  uint8_t in[4] = {9, 9, 9, 9};
  EXPECT_EQ(ReadBytesFromLocalBusPort(4, RecordingCard::kPort, in, 4), err::kFpgaIoError);
  EXPECT_EQ(card_->addresses.size(), 2u);
  EXPECT_EQ(in[3], 9);  // never reached
  const uint8_t out[3] = {1, 2, 3};
  EXPECT_EQ(WriteBytesToLocalBus(4, 0x100, out, 3), err::kFpgaIoError);
  EXPECT_EQ(card_->addresses.size(), 2u);
}

TEST_F(FpgaUtilsTest, SlotBitsFollowTheChassisNumbering) {
  EXPECT_EQ(SlotInterruptBit(1), 0x10u);
  EXPECT_EQ(SlotInterruptBit(5), 0x01u);
  EXPECT_EQ(SlotInterruptBit(6), 0x20u);
  EXPECT_EQ(SlotInterruptBit(12), 0x800u);
  EXPECT_EQ(SlotInterruptBit(0), 0u);
  EXPECT_EQ(SlotInterruptBit(13), 0u);
}

TEST_F(FpgaUtilsTest, InterruptsMaskUnmaskAndAcknowledge) {
  EXPECT_EQ(WriteFPGAregister(kFpgaInterruptMask, 0x100), 0);
  EXPECT_EQ(MaskInterrupts(0x3), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask), 0x103u);
  EXPECT_EQ(UnmaskInterrupts(0x101), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask), 0x2u);
  EXPECT_EQ(MaskAllInterrupts(), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask), 0xFFFFFFFFu);
  EXPECT_EQ(UnmaskAllInterrupts(), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaInterruptMask), 0u);

  fpga_->RaiseInterrupt(0x11);
  EXPECT_EQ(AcknowledgeInterrupts(0x10), 0);
  EXPECT_EQ(fpga_->Pending(), 0x1u);
  EXPECT_EQ(AcknowledgeAllInterrupts(), 0);
  EXPECT_EQ(fpga_->Pending(), 0u);
}

TEST_F(FpgaUtilsTest, DefaultsWriteEveryBlockAndSetTheControlBit) {
  for (uint32_t offset = 0; offset < 0x4000; offset += 4) WriteFPGAregister(offset, 0x5555);
  WriteFPGAregister(kFpgaControl, kFpgaControlFan);
  EXPECT_EQ(SetFPGARegisterDefaults(), 0);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(fpga_->Peek(kFpgaClearBlock + 4 * i), 0u) << i;
    EXPECT_EQ(fpga_->Peek(kFpgaTriggerBlock + 4 * i), 0u) << i;
    EXPECT_EQ(fpga_->Peek(kFpgaRouteBlock + 4 * i), 1u) << i;
  }
  for (uint32_t offset = 0x1000; offset <= 0x1038; offset += 4) {
    const bool high = offset == 0x1004 || offset == 0x100C || offset == 0x1010;
    EXPECT_EQ(fpga_->Peek(offset), high ? 0x8000u : 0u) << std::hex << offset;
  }
  EXPECT_EQ(fpga_->Peek(0x103C), 0x5555u);  // past the block: untouched
  EXPECT_EQ(fpga_->Peek(kFpgaControl), kFpgaControlFan | kFpgaControlDefault);
}

TEST_F(FpgaUtilsTest, DefaultsReportTheMappingFailure) {
  MissingDevice missing(kFpgaMemoryPath);
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(SetFPGARegisterDefaults(), err::kFpgaIoError);
  GetCapturedStderr();
  EXPECT_EQ(GetCapturedStdout(), "WriteFPGAregister() -- map FAILED (-30014)\n");
}

TEST_F(FpgaUtilsTest, DelayTimerCountsTenMicrosecondTicks) {
  EXPECT_EQ(SetDelayTimer(1.0), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaDelayTimerLow), 100000u);
  EXPECT_EQ(fpga_->Peek(kFpgaDelayTimerHigh), 0u);
  EXPECT_EQ(SetDelayTimer(0.000014), 0);  // 1.4 ticks round to 1
  EXPECT_EQ(fpga_->DelayTicks(), 1u);
  EXPECT_EQ(SetDelayTimer(50000.0), 0);
  EXPECT_EQ(fpga_->DelayTicks(), 5000000000u);
  EXPECT_EQ(fpga_->Peek(kFpgaDelayTimerHigh), 1u);
  // Just below 2^32 ticks: the rounding carries into the high word.
  EXPECT_EQ(SetDelayTimer(42949.672959998), 0);
  EXPECT_EQ(fpga_->DelayTicks(), uint64_t{1} << 32);
  EXPECT_EQ(SetDelayTimer(-1.0), -222);
  EXPECT_EQ(fpga_->DelayTicks(), uint64_t{1} << 32);
}

TEST_F(FpgaUtilsTest, PeriodHoldsWholeSecondsInMicroseconds) {
  EXPECT_EQ(SetPeriodRegister(5.7), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaPeriod), 5000000u);
  EXPECT_EQ(SetPeriodRegister(5000.0), -222);
  EXPECT_EQ(fpga_->Peek(kFpgaPeriod), 5000000u);
}

TEST_F(FpgaUtilsTest, ClockReadsAndSetsBcdFields) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  EXPECT_EQ(GetFPGADate(&year, &month, &day), 0);
  EXPECT_EQ(GetFPGATime(&hour, &minute, &second), 0);
  EXPECT_EQ(year, 2005);
  EXPECT_EQ(month, 12);
  EXPECT_EQ(day, 31);
  EXPECT_EQ(hour, 23);
  EXPECT_EQ(minute, 59);
  EXPECT_EQ(second, 58);

  EXPECT_EQ(SetFPGATime(7, 5, 9), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaClockTime), 0x01070509u);
  EXPECT_EQ(fpga_->Peek(kFpgaClockDate), 0x00051231u);
  EXPECT_EQ(SetFPGADate(2019, 3, 4), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaClockDate), 0x00190304u);
  EXPECT_EQ(fpga_->Peek(kFpgaClockTime), 0x01070509u);
  EXPECT_EQ(GetFPGADate(&year, &month, &day), 0);
  EXPECT_EQ(year, 2019);

  EXPECT_EQ(SetFPGADate(2019, 13, 1), -222);
  EXPECT_EQ(SetFPGATime(24, 0, 0), -222);
  EXPECT_EQ(fpga_->Peek(kFpgaClockDate), 0x00190304u);
}

TEST_F(FpgaUtilsTest, ResetPulseAssertsAndReleasesTheCardsResetLine) {
  EXPECT_EQ(PulseCardReset(), 0);
  EXPECT_EQ(fpga_->ResetPulses(), 1);
  EXPECT_EQ(fpga_->Peek(kFpgaCardReset), 0xFFFFu);
}

TEST_F(FpgaUtilsTest, EventWaitDeliversTheDriversCode) {
  fpga_->SetInterruptSink([this](uint32_t) { xbus_->PostEvent(kXbusEventCardInterrupt); });
  fpga_->RaiseInterrupt(SlotInterruptBit(4));
  uint32_t code = 0;
  EXPECT_EQ(WaitXbusEvent(&code), 0);
  EXPECT_EQ(code, kXbusEventCardInterrupt);
}

TEST_F(FpgaUtilsTest, FirstUseFromSeveralThreadsOpensOnce) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, t] {
      uint8_t byte = 0;
      uint32_t value = 0;
      if (WriteFPGAregister(0x2000 + 4 * static_cast<uint32_t>(t), 1) != 0) ++failures;
      if (ReadFPGAregister(0x2000, &value) != 0) ++failures;
      if (ReadByteFromLocalBus(4, 0x10, &byte) != 0) ++failures;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(XbusDescriptor(), 0);
}

// The virtual chassis' path: the same devices served over their sockets, with the
// event request and its buffer crossing as one record.
TEST_F(FpgaUtilsTest, DevicesServedOverTheirSocketsAnswerTheSame) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  sim::DeviceServer server;
  ASSERT_EQ(server.Add(kFpgaMemoryPath, fpga_), 0);
  ASSERT_EQ(server.Add(kXbusDevicePath, xbus_), 0);
  ASSERT_EQ(server.Start(), 0);
  platform::UnregisterDeviceModel(kFpgaMemoryPath);
  platform::UnregisterDeviceModel(kXbusDevicePath);

  EXPECT_EQ(WriteFPGAregister(kFpgaPeriod, 250), 0);
  EXPECT_EQ(fpga_->Peek(kFpgaPeriod), 250u);
  int year = 0, month = 0, day = 0;
  EXPECT_EQ(GetFPGADate(&year, &month, &day), 0);
  EXPECT_EQ(day, 31);
  EXPECT_EQ(WriteByteToLocalBus(4, 0x44, 0x99), 0);
  uint8_t byte = 0;
  EXPECT_EQ(ReadByteFromLocalBus(4, 0x44, &byte), 0);
  EXPECT_EQ(byte, 0x99);
  xbus_->PostEvent(kXbusEventPowerFail);
  uint32_t code = 0;
  EXPECT_EQ(WaitXbusEvent(&code), 0);
  EXPECT_EQ(code, kXbusEventPowerFail);
  ResetFpgaAccessForTest();  // closes the socket descriptors before the server stops
}

}  // namespace
