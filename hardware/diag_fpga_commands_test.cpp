// Tests of the FPGA and local-bus service commands and the trace switches, called
// the way the engine calls them (validation, then execution) on a command context
// built here, against the simulated FPGA and chassis bus driver.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hardware/hardware_handlers.h"
#include "hardware/hardware_test_support.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"

namespace {

using Handler = int32_t (*)(CommandContext*);

// One parsed command with its parameters (upper case, as the parser leaves them).
class Command {
 public:
  explicit Command(const std::vector<const char*>& parameters)
      : texts_(parameters.begin(), parameters.end()) {
    for (std::string& text : texts_) pointers_.push_back(text.data());
    command_.execution = &execution_;
    command_.context = &context_;
    context_.command = &command_;
    context_.parameters = pointers_.data();
    context_.parameter_count = static_cast<int32_t>(pointers_.size());
  }

  // Validation, and execution when it passed: the engine's order. The first failure.
  int32_t Run(Handler validate, Handler execute) {
    const int32_t code = validate(&context_);
    if (code != 0) return code;
    EXPECT_EQ(command_.status, kCommandValidated);
    return execute(&context_);
  }
  int32_t stored_code() const { return execution_.error_code; }
  std::string reply() const { return std::string(execution_.reply, execution_.reply_length); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
  ExecutionContext execution_{};
  ParsedCommand command_{};
  CommandContext context_{};
};

class ByteRam final : public sim::LocalBusTarget {
 public:
  int ReadByte(uint32_t address, uint8_t* byte) override {
    *byte = bytes[address % 1024];
    return 0;
  }
  int WriteByte(uint32_t address, uint8_t byte) override {
    bytes[address % 1024] = byte;
    return 0;
  }
  uint8_t bytes[1024] = {};
};

class DiagFpgaCommandsTest : public SimulatedHardwareTest {
 protected:
  void SetUp() override {
    SimulatedHardwareTest::SetUp();
    xbus_->Plug(12, card_);
  }

  std::shared_ptr<ByteRam> card_ = std::make_shared<ByteRam>();
};

TEST_F(DiagFpgaCommandsTest, FpgaWriteThenReadAnswersInHex) {
  Command write({"#H2010", "-1"});
  EXPECT_EQ(write.Run(DIAG_FPGA_WRITE_DoContextValidation, DIAG_FPGA_WRITE_DoExecutionConclusion),
            0);
  EXPECT_EQ(fpga_->Peek(0x2010), 0xFFFFFFFFu);
  EXPECT_EQ(write.reply(), "");

  Command read({"8208"});  // 0x2010 in decimal
  EXPECT_EQ(read.Run(DIAG_FPGA_READQuery_DoContextValidation,
                     DIAG_FPGA_READQuery_DoExecutionConclusion),
            0);
  EXPECT_EQ(read.reply(), "#HFFFFFFFF");
}

TEST_F(DiagFpgaCommandsTest, FpgaAddressMustNameARegisterInsideTheWindow) {
  for (const char* address : {"#H10000", "-4", "#H4002"}) {
    Command read({address});
    EXPECT_EQ(read.Run(DIAG_FPGA_READQuery_DoContextValidation,
                       DIAG_FPGA_READQuery_DoExecutionConclusion),
              -222)
        << address;
    EXPECT_EQ(read.stored_code(), -222);
  }
  Command missing({"#H10"});
  EXPECT_EQ(missing.Run(DIAG_FPGA_WRITE_DoContextValidation,
                        DIAG_FPGA_WRITE_DoExecutionConclusion),
            -109);
  Command extra({"#H10", "1", "2"});
  EXPECT_EQ(extra.Run(DIAG_FPGA_WRITE_DoContextValidation, DIAG_FPGA_WRITE_DoExecutionConclusion),
            -108);
  Command bad({"#HXYZ"});
  EXPECT_EQ(bad.Run(DIAG_FPGA_READQuery_DoContextValidation,
                    DIAG_FPGA_READQuery_DoExecutionConclusion),
            -121);
}

TEST_F(DiagFpgaCommandsTest, FpgaFailureIsTheDeviceError) {
  MissingDevice missing(kFpgaMemoryPath);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Command read({"#H4014"});
  const int32_t result =
      read.Run(DIAG_FPGA_READQuery_DoContextValidation, DIAG_FPGA_READQuery_DoExecutionConclusion);
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, err::kFpgaIoError);
  EXPECT_EQ(read.reply(), "");
}

TEST_F(DiagFpgaCommandsTest, LocalBusWriteThenRead) {
  Command write({"12", "1023", "#HA5"});
  EXPECT_EQ(write.Run(DIAG_LBUS_WRITE_DoContextValidation, DIAG_LBUS_WRITE_DoExecutionConclusion),
            0);
  EXPECT_EQ(card_->bytes[1023], 0xA5);
  Command read({"12", "1023"});
  EXPECT_EQ(read.Run(DIAG_LBUS_READQuery_DoContextValidation,
                     DIAG_LBUS_READQuery_DoExecutionConclusion),
            0);
  EXPECT_EQ(read.reply(), "#HA5");
  Command empty({"1", "0"});  // nothing plugged in: the bus reads all ones
  EXPECT_EQ(empty.Run(DIAG_LBUS_READQuery_DoContextValidation,
                      DIAG_LBUS_READQuery_DoExecutionConclusion),
            0);
  EXPECT_EQ(empty.reply(), "#HFF");
}

TEST_F(DiagFpgaCommandsTest, LocalBusRangesAreChecked) {
  const std::vector<std::vector<const char*>> reads = {
      {"13", "0"}, {"0", "0"}, {"1", "1024"}, {"1", "-1"}};
  for (const auto& parameters : reads) {
    Command read(parameters);
    EXPECT_EQ(read.Run(DIAG_LBUS_READQuery_DoContextValidation,
                       DIAG_LBUS_READQuery_DoExecutionConclusion),
              -222);
  }
  Command big({"1", "0", "256"});
  EXPECT_EQ(big.Run(DIAG_LBUS_WRITE_DoContextValidation, DIAG_LBUS_WRITE_DoExecutionConclusion),
            -222);
  Command short_write({"1", "0"});
  EXPECT_EQ(short_write.Run(DIAG_LBUS_WRITE_DoContextValidation,
                            DIAG_LBUS_WRITE_DoExecutionConclusion),
            -109);
}

TEST_F(DiagFpgaCommandsTest, LocalBusFailureIsTheDeviceError) {
  xbus_->SetSlotFailing(12, true);
  Command read({"12", "5"});
  EXPECT_EQ(read.Run(DIAG_LBUS_READQuery_DoContextValidation,
                     DIAG_LBUS_READQuery_DoExecutionConclusion),
            err::kFpgaIoError);
  EXPECT_EQ(read.reply(), "");
  Command write({"12", "5", "1"});
  EXPECT_EQ(write.Run(DIAG_LBUS_WRITE_DoContextValidation, DIAG_LBUS_WRITE_DoExecutionConclusion),
            err::kFpgaIoError);
}

TEST_F(DiagFpgaCommandsTest, BothTraceSwitchesSetAndClearTheOneFlag) {
  Command on({"ON"});
  EXPECT_EQ(on.Run(TRACE_SERIALPORT_DoContextValidation, TRACE_SERIALPORT_DoExecutionConclusion),
            0);
  EXPECT_TRUE(FpgaTrace());
  Command off({"0"});
  EXPECT_EQ(off.Run(TRACE_SERIALNUMBER_DoContextValidation,
                    TRACE_SERIALNUMBER_DoExecutionConclusion),
            0);
  EXPECT_FALSE(FpgaTrace());
  Command bad({"MAYBE"});
  EXPECT_NE(bad.Run(TRACE_SERIALNUMBER_DoContextValidation,
                    TRACE_SERIALNUMBER_DoExecutionConclusion),
            0);
  EXPECT_FALSE(FpgaTrace());
}

}  // namespace
