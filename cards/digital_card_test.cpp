// The SM-DIO12 variants: identity by type id and the ports numbered as channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
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

}  // namespace
