// The SM-AT56 attenuator on a simulated card: the pads a request selects and the coils
// they drive, the pad table kept per slot, and its channel-delay validation.
#include <gtest/gtest.h>

#include <vector>

#include "cards/special_card_test_support.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"
#include "scpi/scpi_engine.h"

namespace {

constexpr int kSlot = 2;

class SmAt56Test : public SpecialCardTest {
 protected:
  void SetUp() override {
    SpecialCardTest::SetUp();
    ASSERT_EQ(Install(kSlot, "SM-AT56", kSmAt56Template), 0);
  }
  double Attenuation() {
    double decibels = -1;
    EXPECT_EQ(GetAttenuation(kSlot, &decibels), 0);
    return decibels;
  }
  // The hook with a command's parameters.
  int32_t Validate(int32_t command_id, std::vector<const char*> parameters) {
    CommandContext context{};
    context.parameters = const_cast<char**>(parameters.data());
    context.parameter_count = static_cast<int32_t>(parameters.size());
    return kSmAt56Template.operations.ValidateHook(command_id, kSlot, 0, &context);
  }
};

TEST_F(SmAt56Test, InitInsertsEveryPad) {
  EXPECT_EQ(Model(kSlot).EnergisedCoils(), (std::vector<int>{0, 1, 2, 3, 8, 9, 10, 11}));
  EXPECT_DOUBLE_EQ(Attenuation(), 55.75);
  const AttenuatorPadTable* table = AttenuatorPads(kSlot);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->type_id, kSmAt56TypeId);
  EXPECT_EQ(table->pad_count, 8u);
  EXPECT_DOUBLE_EQ(table->total, 55.75);
  EXPECT_EQ(table->polarity, 1);
  EXPECT_DOUBLE_EQ(table->pads[7].attenuation, 24);
  EXPECT_EQ(CardConfidenceCheck(kSlot), 0);
  EXPECT_EQ(Description(kSlot), "SM-AT56 56 dB Attenuator");
}

TEST_F(SmAt56Test, RequestSelectsTheLargestPadsThatFit) {
  // 30 dB asks for 30.1: 24, 4 and 2 (pads 7, 4, 3 on drive bits 11, 8, 3).
  ASSERT_EQ(SetAttenuation(kSlot, 30), 0);
  EXPECT_EQ(Model(kSlot).EnergisedCoils(), (std::vector<int>{3, 8, 11}));
  EXPECT_DOUBLE_EQ(Attenuation(), 30);
  EXPECT_EQ(CardGetRelayState(kSlot, 0), 0);  // channel 0 is pad 0's relay
  ASSERT_EQ(SetAttenuation(kSlot, 0.2), 0);  // 0.3 dB: only the 0.25 pad
  EXPECT_EQ(Model(kSlot).EnergisedCoils(), (std::vector<int>{0}));
  EXPECT_DOUBLE_EQ(Attenuation(), 0.25);
  ASSERT_EQ(SetAttenuation(kSlot, 0), 0);
  EXPECT_TRUE(Model(kSlot).EnergisedCoils().empty());
  EXPECT_DOUBLE_EQ(Attenuation(), 0);
  ASSERT_EQ(SetAttenuation(kSlot, 128), 0);
  EXPECT_DOUBLE_EQ(Attenuation(), 55.75);
}

TEST_F(SmAt56Test, ResetOpensThePadsAndTheTableAgrees) {
  ASSERT_EQ(CardReset(kSlot), 0);
  EXPECT_TRUE(Model(kSlot).EnergisedCoils().empty());
  EXPECT_DOUBLE_EQ(Attenuation(), 0);
}

TEST_F(SmAt56Test, AttenuationRefusesOtherSlotsAndCards) {
  double decibels = 0;
  EXPECT_EQ(SetAttenuation(0, 10), err::kSlotOutOfRange);
  EXPECT_EQ(GetAttenuation(13, &decibels), err::kSlotOutOfRange);
  EXPECT_EQ(SetAttenuation(4, 10), err::kNoModule);
  ASSERT_EQ(Install(4, "SM-MX26Q", kSmMx26qTemplate), 0);
  EXPECT_EQ(SetAttenuation(4, 10), -20071);
  EXPECT_EQ(GetAttenuation(4, &decibels), -20071);
  EXPECT_TRUE(Model(4).EnergisedCoils().empty());
}

TEST_F(SmAt56Test, ValidatesTheChannelDelayCommandAndQueryOnly) {
  const char* list = "(@2(0))";
  EXPECT_EQ(Validate(kChannelDelayCommandId, {"64", list}), 0);
  EXPECT_EQ(Validate(kChannelDelayCommandId, {"0", list}), 0);
  EXPECT_EQ(Validate(kChannelDelayCommandId, {"128", list}), 0);
  EXPECT_NE(Validate(kChannelDelayCommandId, {"129", list}), 0);
  EXPECT_NE(Validate(kChannelDelayCommandId, {"-1", list}), 0);
  EXPECT_EQ(Validate(kChannelDelayCommandId, {list}), -109);
  EXPECT_EQ(Validate(kChannelDelayCommandId, {"1", "2", list}), -108);
  EXPECT_EQ(Validate(kChannelDelayQueryId, {list}), 0);
  EXPECT_EQ(Validate(kChannelDelayQueryId, {"1", list}), -108);
  EXPECT_EQ(Validate(10251, {list}), -100);
  CommandContext context{};
  EXPECT_EQ(kSmAt56Template.operations.SegmentHook(kChannelDelayCommandId, kSlot, 0, &context), 0);
}

}  // namespace
