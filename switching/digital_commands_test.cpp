// The DIGital commands against simulated SM-DIO12 cards: slot 6 a TTL card, slot 7 an
// open-collector card, slot 8 the high-voltage card with six ports, slot 1 a relay card.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/card_manager.h"
#include "scpi/error_codes.h"
#include "switching/switching_test_support.h"

namespace {

class Digital : public SimulatedCageTest {
 protected:
  void SetUp() override {
    SetUpCage({{1, "SM-RD96"}, {6, "SM-DIO12-TTL"}, {7, "SM-DIO12-OC"}, {8, "SM-DIO12-HVOC"}});
  }
};

TEST_F(Digital, PortsAreWrittenAndReadWithTheVariantsRule) {
  Send("DIG:OUTP:STATE ON,(@6(0,1),7(0))");
  EXPECT_EQ(Errors(), std::vector<std::string>{});
  EXPECT_EQ(Send("DIG:OUTP:STAT? (@6(0:2),7(0))"), "1,1,0,1");
  Send("DIG:OUTP (@6(0,1),7(0)),15,240,15");
  EXPECT_EQ(cards_[6]->PortValue(0), 0x0F);
  EXPECT_EQ(cards_[6]->PortValue(1), 0xF0);
  EXPECT_EQ(cards_[7]->PortValue(0), 0xF0) << "open collector: the complement on the bus";
  cards_[6]->DrivePortInput(2, 0x5A);
  EXPECT_EQ(Send("DIG:INP? (@6(2,0))"), "90,15");
  EXPECT_TRUE(Errors().empty());

  Send("DIG:OUTP (@6(0,1)),15");
  Send("DIG:INP? (@8(6))");
  Send("DIG:INP? (@1(100))");
  Send("DIG:OUTP (@6(0)),256");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kDataListSizeMismatch), Entry(err::kChannelNotValid),
                          Entry(err::kNotDigitalModule), Entry(err::kDataOutOfRange)}));
}

TEST_F(Digital, SynchronousPortsTheirPatternsAndTheirRefusals) {
  Send("DIG:OUTP:STATE ON,(@6(0))");
  Send("DIG:CONF (@6(2))");
  EXPECT_EQ(Send("DIG:CONF? (@6(0:3))"), "SYNC,SYNC,ASYN,ASYN");
  Send("DIG:SYNC:DATA (@6(0)),1,2,3");
  Send("DIG:SYNC:POIN (@6(1)),4");
  EXPECT_EQ(Send("DIG:SYNC:POIN? (@6(0,1))"), "3,4");
  EXPECT_EQ(Send("DIG:SYNC:DATA? (@6(0))"), "1,2,3");
  Send("DIG:SYNC:IND (@6(0)),1");
  EXPECT_EQ(Send("DIG:SYNC:IND? (@6(0))"), "1");
  EXPECT_TRUE(Errors().empty());

  Send("DIG:INP? (@6(0))");           // a synchronous output port
  Send("DIG:SYNC:POIN (@6(0)),4");    // points of an output port
  Send("DIG:SYNC:IND (@6(1)),0");     // index of an input port
  Send("DIG:SYNC:DATA (@6(1)),1");    // data for an input port
  std::string many;
  for (int i = 0; i < 256; ++i) many += ",7";
  Send("DIG:SYNC:DATA (@6(0))" + many);  // the index set the points to 1: 1 + 256 > 256
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kReadFromSyncOutputPort), Entry(err::kSyncPointsOnOutputPort),
                          Entry(err::kSyncIndexNotValid), Entry(err::kSyncDataNotValid),
                          Entry(err::kDataBufferOverflow)}));
  EXPECT_EQ(Send("DIG:SYNC:POIN? (@6(0))"), "1") << "nothing stored";

  Send("DIG:SYNC:STATE ON,(@6)");
  EXPECT_EQ(Send("DIG:SYNC:STAT? (@6)"), "1");
  Send("DIG:SYNC:IND (@6(0)),0");  // armed
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kSyncIndexNotValid)});
  Send("DIG:SYNC:STATE OFF,(@6);:DIG:SYNC:CLE (@6)");
  EXPECT_EQ(Send("DIG:SYNC:POIN? (@6(0,1))"), "0,4") << "the clear keeps input points";
  Send("DIG:SYNC:STATE ON,(@1)");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kNotDigitalModule)});
}

TEST_F(Digital, PolaritiesPerModule) {
  EXPECT_EQ(Send("DIG:SYNC:BUSY? (@6,7)"), "NORMAL,NORMAL");
  Send("DIG:SYNC:BUSY INV,(@6);:DIG:SYNC:CLOC:POL INVERTED,(@7)");
  EXPECT_EQ(Send("DIG:SYNC:BUSY:POL? (@6,7)"), "INVERTED,NORMAL");
  EXPECT_EQ(Send("DIG:SYNC:CLOC? (@6,7)"), "NORMAL,INVERTED");
  // The busy polarity is inverted by any text beginning with "I", normal by any other;
  // the clock polarity takes only its two keywords.
  Send("DIG:SYNC:BUSY SIDEWAYS,(@6)");
  EXPECT_EQ(Send("DIG:SYNC:BUSY? (@6)"), "NORMAL");
  Send("DIG:SYNC:BUSY IXX,(@6)");
  EXPECT_EQ(Send("DIG:SYNC:BUSY? (@6)"), "INVERTED");
  Send("DIG:SYNC:CLOC SIDEWAYS,(@6)");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kIllegalParameterValue)});
  // The command form of STATe has no short form in these nodes; the DIGital node's
  // own STATe is in the tree with no behaviour.
  for (const char* unknown : {"DIG:OUTP:STAT ON,(@6(0))", "DIG:SYNC:STAT ON,(@6)",
                              "DIG:STATE ON", "DIG:STAT?"}) {
    Send(unknown);
    EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kCommandHeaderError)}) << unknown;
  }
}

}  // namespace
