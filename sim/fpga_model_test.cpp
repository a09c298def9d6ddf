// Tests of the simulated FPGA through the platform's register window, the model
// registered in this process: interrupt pending, mask and acknowledge with the
// interrupt line, the running BCD clock, the reset pulse, half-word access and the
// window's placement.
#include "sim/fpga_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "devices/fpga_registers.h"
#include "platform/device.h"

namespace sim {
namespace {

class FpgaModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = std::make_shared<FpgaModel>([this] { return now_.load(); });
    model_->SetInterruptSink([this](uint32_t sources) { fired_.push_back(sources); });
    platform::RegisterDeviceModel(kFpgaMemoryPath, model_);
    window_ = platform::OpenRegisterWindow(kFpgaMemoryPath, kFpgaWindowBase, kFpgaWindowLength);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    window_.reset();
    platform::UnregisterDeviceModel(kFpgaMemoryPath);
  }
  uint32_t Read(uint32_t offset) {
    uint32_t value = 0;
    EXPECT_EQ(window_->Read32(offset, &value), 0);
    return value;
  }
  void Write(uint32_t offset, uint32_t value) { EXPECT_EQ(window_->Write32(offset, value), 0); }

  // 2005-12-31 23:59:58 UTC.
  std::atomic<int64_t> now_{1136073598};
  std::vector<uint32_t> fired_;
  std::shared_ptr<FpgaModel> model_;
  std::unique_ptr<platform::RegisterWindow> window_;
};

TEST_F(FpgaModelTest, PendingSourcesReachTheLineOnlyWhileUnmaskedAndClearOnAcknowledge) {
  Write(kFpgaInterruptMask, 0x10);
  model_->RaiseInterrupt(0x10);  // slot 1, masked
  EXPECT_TRUE(fired_.empty());
  EXPECT_EQ(Read(kFpgaInterruptAck), 0x10u);

  Write(kFpgaInterruptMask, 0);  // unmasking lets the held source through
  ASSERT_EQ(fired_.size(), 1u);
  EXPECT_EQ(fired_[0], 0x10u);

  model_->RaiseInterrupt(kFpgaChassisInterrupt);
  ASSERT_EQ(fired_.size(), 2u);
  EXPECT_EQ(fired_[1], kFpgaChassisInterrupt);  // only the new source

  Write(kFpgaInterruptAck, 0x10);
  EXPECT_EQ(Read(kFpgaInterruptAck), kFpgaChassisInterrupt);
  Write(kFpgaInterruptAck, 0xFFFFFFFF);
  EXPECT_EQ(model_->Pending(), 0u);
  EXPECT_EQ(Read(kFpgaInterruptMask), 0u);
}

TEST_F(FpgaModelTest, ClockRunsInBcdAndRollsOverTheYear) {
  EXPECT_EQ(Read(kFpgaClockDate), 0x00051231u);
  EXPECT_EQ(Read(kFpgaClockTime), 0x00235958u);
  now_ += 2;
  EXPECT_EQ(Read(kFpgaClockDate), 0x00060101u);
  EXPECT_EQ(Read(kFpgaClockTime), 0x00000000u);

  // Setting the time keeps the date and the written flag byte; the clock runs on.
  Write(kFpgaClockTime, 0x01123456);
  now_ += 3661;
  EXPECT_EQ(Read(kFpgaClockTime), 0x01133557u);
  EXPECT_EQ(Read(kFpgaClockDate), 0x00060101u);

  Write(kFpgaClockDate, 0x00080229);  // a leap day
  EXPECT_EQ(Read(kFpgaClockDate), 0x00080229u);
  EXPECT_EQ(Read(kFpgaClockTime), 0x01133557u);
  now_ += 24 * 3600;
  EXPECT_EQ(Read(kFpgaClockDate), 0x00080301u);
}

TEST_F(FpgaModelTest, ClockIgnoresFieldsNoClockHolds) {
  Write(kFpgaClockDate, 0x00051331);  // month 13
  Write(kFpgaClockTime, 0x00256000);  // hour 25
  EXPECT_EQ(Read(kFpgaClockDate), 0x00051231u);
  EXPECT_EQ(Read(kFpgaClockTime), 0x00235958u);
}

TEST_F(FpgaModelTest, ResetLinePulsesOnAssertThenRelease) {
  Write(kFpgaCardReset, 0xFFFF);  // a release without an assert is no pulse
  EXPECT_EQ(model_->ResetPulses(), 0);
  Write(kFpgaCardReset, 0);
  Write(kFpgaCardReset, 0xFFFF);
  Write(kFpgaCardReset, 0xFFFF);
  EXPECT_EQ(model_->ResetPulses(), 1);
}

TEST_F(FpgaModelTest, PlainRegistersHoldWordsAndHalfWords) {
  Write(kFpgaDelayTimerLow, 100000);
  Write(kFpgaDelayTimerHigh, 2);
  EXPECT_EQ(model_->DelayTicks(), (uint64_t{2} << 32) | 100000);
  Write(kFpgaControl, kFpgaControlFan);
  EXPECT_TRUE(model_->FanOn());

  Write(0x2000, 0x11223344);
  ASSERT_EQ(window_->Write16(0x2002, 0xABCD), 0);
  uint16_t half = 0;
  ASSERT_EQ(window_->Read16(0x2000, &half), 0);
  EXPECT_EQ(half, 0x3344);
  EXPECT_EQ(Read(0x2000), 0xABCD3344u);
}

TEST_F(FpgaModelTest, WindowOnlyMapsAtTheFpgaBase) {
  EXPECT_EQ(platform::OpenRegisterWindow(kFpgaMemoryPath, 0x1000000, kFpgaWindowLength),
            nullptr);
  EXPECT_EQ(platform::OpenRegisterWindow(kFpgaMemoryPath, kFpgaWindowBase, 0x20000), nullptr);
  uint32_t value = 0;
  EXPECT_EQ(window_->Read32(kFpgaWindowLength, &value), -1);
}

}  // namespace
}  // namespace sim
