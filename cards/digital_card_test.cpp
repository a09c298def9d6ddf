// The SM-DIO12 variants: identity by type id and the ports numbered as channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/special_card_test_support.h"
#include "cards/digital_io.h"
#include "cards/special_cards.h"
#include "hardware/event_log.h"
#include "platform/test_support.h"
#include "scpi/error_codes.h"

namespace {

using DigitalCardTest = SpecialCardTest;

TEST_F(DigitalCardTest, EachVariantNamesItself) {
  ASSERT_EQ(Install(1, "SM-DIO12-TTL", kSmDio12TtlTemplate), 0);
  ASSERT_EQ(Install(2, "SM-DIO12-CMOS", kSmDio12CmosTemplate), 0);
  ASSERT_EQ(Install(3, "SM-DIO12-OC", kSmDio12OcTemplate), 0);
  ASSERT_EQ(Install(4, "SM-DIO12-HVOC", kSmDio12HvocTemplate), 0);
  EXPECT_EQ(Description(1), "SM-DIO12 TTL 12-BYTE DIGITAL INPUT/OUTPUT MODULE");
  EXPECT_EQ(Description(2), "SM-DIO12 CMOS 12-BYTE DIGITAL INPUT/OUTPUT MODULE");
  EXPECT_EQ(Description(3), "SM-DIO12 OC 12-BYTE DIGITAL INPUT/OUTPUT OPEN COLLECTOR MODULE");
  EXPECT_EQ(Description(4),
            "SM-DIO12 HVOC 6-BYTE DIGITAL INPUT/OUTPUT HIGH VOLTAGE OPEN COLLECTOR MODULE");
  CardSlotRecord(4)->type_id = 0x7A2F;  // a type the template does not know
  EXPECT_EQ(Description(4), "N/A");
  EXPECT_EQ(CardSlotRecord(1)->category, kCardDigital);
  EXPECT_EQ(CardReset(1), 0);
  EXPECT_EQ(CardIsValidChannel(1, 0), 0);  // no relays
}

TEST_F(DigitalCardTest, PortsAreTheChannels) {
  ASSERT_EQ(Install(6, "SM-DIO12-OC", kSmDio12OcTemplate), 0);
  ASSERT_EQ(Install(7, "SM-DIO12-HVOC", kSmDio12HvocTemplate), 0);
  const std::vector<int32_t> twelve = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(Enumerate(6, 0), twelve);
  EXPECT_EQ(EnumerateBackwards(6, 0), twelve);
  EXPECT_EQ(Enumerate(7, 0), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(CardChannelCount(6, 0), 12);
  EXPECT_EQ(CardChannelCount(7, 0), 6);
  EXPECT_EQ(CardLastChannel(7, 0), 5);
  EXPECT_EQ(CardNextChannel(6, 11, 0), err::kChannelNotValid);
  EXPECT_EQ(CardNextChannel(7, 5, 0), err::kChannelNotValid);
  EXPECT_EQ(CardPrevChannel(7, 0, 0), 0);
  EXPECT_EQ(CardPrevChannel(7, 3, 0), 2);
  EXPECT_EQ(CardChannelToIndex(7, 6, 0), err::kChannelNotValid);
  EXPECT_EQ(CardChannelToIndex(6, -1, 0), err::kChannelNotValid);
  EXPECT_EQ(CardChannelToIndex(6, 11, 0), 11);
}

TEST_F(DigitalCardTest, DigitalOpTellsValidPortsOfDigitalCards) {
  ASSERT_EQ(Install(6, "SM-DIO12-TTL", kSmDio12TtlTemplate), 0);
  ASSERT_EQ(Install(7, "SM-DIO12-HVOC", kSmDio12HvocTemplate), 0);
  ASSERT_EQ(Install(8, "SM-MX26Q", kSmMx26qTemplate), 0);
  EXPECT_EQ(CardDigitalOp(6, 11), 1);
  EXPECT_EQ(CardDigitalOp(6, 12), 0);
  EXPECT_EQ(CardDigitalOp(7, 5), 1);
  EXPECT_EQ(CardDigitalOp(7, 6), 0);
  EXPECT_EQ(CardDigitalOp(8, 0), 0);  // a relay card
  EXPECT_EQ(CardDigitalOp(9, 0), 0);  // an empty slot
}

TEST_F(DigitalCardTest, PortsDriveTheBusWithTheVariantsComplementRule) {
  ASSERT_EQ(Install(1, "SM-DIO12-TTL", kSmDio12TtlTemplate), 0);
  ASSERT_EQ(Install(2, "SM-DIO12-OC", kSmDio12OcTemplate), 0);
  for (int slot : {1, 2}) {
    ASSERT_EQ(DioSetOutputState(slot, 0, true), 0);
    ASSERT_EQ(DioSetOutputState(slot, 9, true), 0);
    ASSERT_EQ(DioWritePort(slot, 0, 0x0F), 0);
  }
  EXPECT_EQ(Model(1).PortValue(0), 0x0F);
  EXPECT_EQ(Model(2).PortValue(0), 0xF0);
  uint16_t mask = 0;
  ASSERT_EQ(DioOutputMask(1, &mask), 0);
  EXPECT_EQ(mask, 0x201);
  ASSERT_EQ(DioSetOutputState(1, 0, false), 0);
  bool output = true;
  ASSERT_EQ(DioIsOutput(1, 0, &output), 0);
  EXPECT_FALSE(output);
  ASSERT_EQ(DioIsOutput(1, 9, &output), 0);
  EXPECT_TRUE(output) << "the other register's port keeps its direction";
  Model(1).DrivePortInput(0, 0x5A);
  uint8_t byte = 0;
  ASSERT_EQ(DioReadPort(1, 0, &byte), 0);
  EXPECT_EQ(byte, 0x5A);
  // The synchronous-port count shares a register with ports 8-11.
  ASSERT_EQ(DioSetSyncCount(1, 3), 0);
  int count = 0;
  ASSERT_EQ(DioSyncCount(1, &count), 0);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(DioIsOutput(1, 9, &output), 0);
  EXPECT_TRUE(output);
  EXPECT_EQ(DioWriteRegister(1, 21, 0), err::kLocalBusAddressNotValid);
  EXPECT_EQ(DioReadRegister(1, 33, &byte), err::kLocalBusAddressNotValid);
}

TEST_F(DigitalCardTest, ControlBitsKeepTheArmedBitAcrossAClockChange) {
  ASSERT_EQ(Install(1, "SM-DIO12-CMOS", kSmDio12CmosTemplate), 0);
  bool flag = true;
  ASSERT_EQ(DioBusyInverted(1, &flag), 0);
  EXPECT_FALSE(flag) << "Init leaves the busy polarity normal";
  ASSERT_EQ(DioArm(1, true), 0);
  ASSERT_EQ(DioSetClockInverted(1, true), 0);
  ASSERT_EQ(DioClockInverted(1, &flag), 0);
  EXPECT_TRUE(flag);
  ASSERT_EQ(DioArmed(1, &flag), 0);
  EXPECT_TRUE(flag);
  ASSERT_EQ(DioSetBusyInverted(1, true), 0);
  ASSERT_EQ(DioBusyInverted(1, &flag), 0);
  EXPECT_TRUE(flag);
}

// A run of two output ports with patterns of different lengths and one input port.
TEST_F(DigitalCardTest, EachInterruptStepsTheRunUntilEveryPortHasItsPoints) {
  platform::TempFolder root;
  platform::ScopedEnv env("CHASSIS_ROOT", root.path().c_str());
  ASSERT_EQ(Install(6, "SM-DIO12-TTL", kSmDio12TtlTemplate), 0);
  ASSERT_EQ(DioSetOutputState(6, 0, true), 0);
  ASSERT_EQ(DioSetOutputState(6, 1, true), 0);
  ASSERT_EQ(DioSetSyncCount(6, 3), 0);
  for (uint8_t byte : {0x11, 0x12, 0x13}) ASSERT_EQ(DioAppendData(6, 0, byte), 0);
  for (uint8_t byte : {0x21}) ASSERT_EQ(DioAppendData(6, 1, byte), 0);
  DioSetPoints(6, 2, 3);
  DioSetSyncMode(6, true);
  ASSERT_EQ(DioArm(6, true), 0);

  const uint8_t inputs[] = {0xA1, 0xA2, 0xA3};
  for (int edge = 0; edge < 3; ++edge) {
    Model(6).DrivePortInput(2, inputs[edge]);
    ASSERT_EQ(CardSlotRecord(6)->operations.Interrupt(6, kDigitalInterruptBits), 0);
    EXPECT_EQ(Model(6).PortValue(0), 0x11 + edge);
    EXPECT_EQ(Model(6).PortValue(1), 0x21) << "the shorter pattern holds its last byte";
  }
  uint8_t recorded[3] = {};
  DioPattern(6, 2, recorded, 3);
  EXPECT_EQ(std::vector<uint8_t>(recorded, recorded + 3), std::vector<uint8_t>(inputs, inputs + 3));
  bool armed = true;
  ASSERT_EQ(DioArmed(6, &armed), 0);
  EXPECT_FALSE(armed) << "a complete run disarms";
  EXPECT_FALSE(DioSyncMode(6));

  // An edge while disarmed changes nothing and is logged.
  EXPECT_EQ(CardSlotRecord(6)->operations.Interrupt(6, kDigitalInterruptBits),
            err::kUnarmedDigitalModule);
  char text[kEventReplySize];
  GetEvent(GetEventCount(), text);
  EXPECT_NE(std::string(text).find(
                "SM-DIO12 Card Interrupt triggered on slot 6, but interrupt is not enabled."),
            std::string::npos)
      << text;
  EXPECT_EQ(Model(6).PortValue(0), 0x13);
}

TEST_F(DigitalCardTest, APatternHoldsAtMost256Bytes) {
  ASSERT_EQ(Install(3, "SM-DIO12-TTL", kSmDio12TtlTemplate), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(DioAppendData(3, 4, static_cast<uint8_t>(i)), 0);
  EXPECT_EQ(DioAppendData(3, 4, 0), err::kDataBufferOverflow);
  EXPECT_EQ(DioPoints(3, 4), 256);
  EXPECT_EQ(DioIndex(3, 4), 256) << "outside sync mode the index follows the points";
  DioSetIndex(3, 4, 10);
  EXPECT_EQ(DioPoints(3, 4), 10);
  ASSERT_EQ(DioSetOutputState(3, 4, true), 0);
  ASSERT_EQ(DioClearRun(3), 0);
  EXPECT_EQ(DioPoints(3, 4), 0);
  EXPECT_EQ(DioIndex(3, 4), 0);
}

}  // namespace
