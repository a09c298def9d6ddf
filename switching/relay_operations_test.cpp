// Relay commands against the simulated cards, through the engine as a client sends
// them: the coils the cards energise, the order of the local-bus writes and the settle
// waits of the commit, the interlock groups acting on CLOSe and OPEN, the relay modes,
// the attenuator, and the relay-change flags the engine announces.
#include "switching/relay_operations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cards/relay_driver.h"
#include "cards/special_cards.h"
#include "scpi/error_codes.h"
#include "switching/switching_test_support.h"

namespace {

// The recorded drive writes and settle waits in order: "slot S b0 b1 ..." for each
// WriteHardware of a card (its drive bytes from address 1 on), "wait N" for each wait.
std::vector<std::string> Timeline() {
  std::vector<std::string> timeline;
  const SwitchingRecord& record = Record();
  std::size_t wait = 0;
  auto waits_before = [&](std::size_t i) {
    while (wait < record.waits.size() && record.writes_before_wait[wait] == i) {
      timeline.push_back("wait " + std::to_string(record.waits[wait++]));
    }
  };
  int open_slot = -1;
  for (std::size_t i = 0; i < record.writes.size(); ++i) {
    waits_before(i);
    const BusWrite& write = record.writes[i];
    const bool drive_byte = write.address % 2 == 1 && write.address < 0x100;
    if (!drive_byte) continue;
    if (write.address == kDriveRegister || write.slot != open_slot ||
        timeline.back().rfind("slot", 0) != 0) {
      timeline.push_back("slot " + std::to_string(write.slot));
      open_slot = write.slot;
    }
    timeline.back() += " " + std::to_string(write.byte);
  }
  waits_before(record.writes.size());
  return timeline;
}

using Relays = SimulatedCageTest;

TEST_F(Relays, CloseAndOpenDriveTheCoilsAndTheQueriesReportThem) {
  EXPECT_EQ(Send("ROUT:CLOS (@1(100,207),2(0),9(600))"), "");
  EXPECT_TRUE(Errors().empty());
  EXPECT_TRUE(cards_[1]->CoilEnergised(0));
  EXPECT_TRUE(cards_[1]->CoilEnergised(15));
  EXPECT_FALSE(cards_[1]->CoilEnergised(1));
  EXPECT_TRUE(cards_[9]->CoilEnergised(40));
  EXPECT_EQ(Send("CLOS? (@1(100:101),2(0),9(600))"), "1 0 1 1");
  EXPECT_EQ(Send("ROUTE:OPEN:STAT? (@1(100:101))"), "0 1");

  EXPECT_EQ(Send("OPEN (@1(100),2(0))"), "");
  EXPECT_FALSE(cards_[1]->CoilEnergised(0));
  EXPECT_TRUE(cards_[1]->CoilEnergised(15));
  EXPECT_EQ(Send("ROUT:CLOS:STAT? (@1(100,207),2(0))"), "0 1 0");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Relays, BreakBeforeMakeOpensFirstAndMakeBeforeBreakClosesFirst) {
  Send("EXCL (@1(100,101));EXCL (@9(100,101));CLOS (@1(100),9(100))");
  Send("CONF (@9),MBB");
  ASSERT_TRUE(Errors().empty());
  ClearRecord();
  Send("CLOS (@1(101))");
  EXPECT_EQ(Timeline(), (std::vector<std::string>{
                            "slot 1 0 0 0 0 0 0 0 0 0 0 0 0", "wait 1000",
                            "slot 1 2 0 0 0 0 0 0 0 0 0 0 0", "wait 1000"}));
  ClearRecord();
  Send("CLOS (@9(101))");
  EXPECT_EQ(Timeline(), (std::vector<std::string>{"slot 9 3 0 0 0 0 0", "wait 1000",
                                                   "slot 9 2 0 0 0 0 0", "wait 1000"}));
  EXPECT_EQ(Send("CLOS? (@1(100:101),9(100:101))"), "0 1 0 1");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Relays, ImmediateCardsGoFirstAndEachStepWaitsForItsSlowestCard) {
  Send("CONF (@8),IMM;CONF (@9),MBB");
  ASSERT_TRUE(Errors().empty());
  ClearRecord();
  Send("CLOS (@1(100),8(0),9(100))");
  // Step 0: the immediate SM-SW20 (10 ms); step 1: the MBB card's closes; step 2: the
  // BBM card's closes. Each card is written once.
  EXPECT_EQ(Timeline(), (std::vector<std::string>{
                            "slot 8 1 0 0", "wait 10000", "slot 9 1 0 0 0 0 0", "wait 1000",
                            "slot 1 1 0 0 0 0 0 0 0 0 0 0 0", "wait 1000"}));
  ClearRecord();
  Send("CLOS (@1(101),8(1))");  // one step with two cards waits once, for the slower
  EXPECT_EQ(Timeline(), (std::vector<std::string>{"slot 8 3 0 0", "wait 10000",
                                                   "slot 1 3 0 0 0 0 0 0 0 0 0 0 0",
                                                   "wait 1000"}));

  ClearRecord();
  Send("CLOS (@1(100:101),8(0))");  // already closed
  Send("OPEN (@1(102))");           // already open
  EXPECT_TRUE(Record().writes.empty());
  EXPECT_TRUE(Record().waits.empty());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Relays, InterlockGroupsWidenCloseAndOpen) {
  Send("INCL (@1(100:102))");
  Send("CLOS (@1(101))");
  EXPECT_EQ(Send("CLOS? (@1(100:103))"), "1 1 1 0");
  Send("OPEN (@1(100))");
  EXPECT_EQ(Send("CLOS? (@1(100:102))"), "0 0 0");

  Send("EXCL (@2(0,1,2));CLOS (@2(0))");
  EXPECT_EQ(Send("CLOS? (@2(0:2))"), "1 0 0");
  Send("CLOS (@2(1))");
  EXPECT_EQ(Send("CLOS? (@2(0:2))"), "0 1 0");
  Send("CLOS (@2(0,2))");  // each is the other's exclude partner: both end open
  EXPECT_EQ(Send("CLOS? (@2(0:2))"), "0 0 0");
  // The closing relay's include partners close with it and open their own partners.
  Send("INCL (@2(0),1(200))");
  Send("CLOS (@2(1));CLOS (@1(200))");
  EXPECT_EQ(Send("CLOS? (@2(0:2),1(200))"), "1 0 0 1");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Relays, ListsThatCannotBeSwitchedAreRefusedBeforeAnythingSwitches) {
  Send("CLOS (@1(100),6(0))");
  Send("CLOS (@3(0,1))");  // one SM-MX26Q multiplexer
  Send("CLOS (@4(0,8))");  // both halves of one SM-MX12H multiplexer
  Send("CLOS (@4(0,10000))");
  Send("OPEN (@6(0))");
  Send("CLOS (@1(100)) 2");
  Send("CLOS");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kRelayChannelsOnly), Entry(err::kIncompatibleMatrixRelays),
                          Entry(err::kIncompatibleMatrixRelays),
                          Entry(err::kIncompatibleMatrixRelays), Entry(err::kRelayChannelsOnly),
                          Entry(err::kParameterNotAllowed), Entry(err::kMissingParameter)}));
  EXPECT_EQ(Send("CLOS? (@1(100))"), "0");
  EXPECT_TRUE(Record().writes.empty());
  // Different multiplexers, and one half of one, are fine; so is a relay of an
  // exclude group on the same SM-MX26Q multiplexer.
  Send("CLOS (@3(0,10),4(0,1,108))");
  Send("EXCL (@3(0,1))");
  EXPECT_TRUE(Errors().empty());
  Send("INCL (@3(2,3))");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kIncompatibleMatrixRelays)});
}

TEST_F(Relays, EmergencyShutdownStopsRelayCommands) {
  EmergencyShutdown();
  Send("CLOS (@1(100))");
  Send("OPEN (@1(100))");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kEmergencyShutdownActive),
                                                 Entry(err::kEmergencyShutdownActive)}));
  // A commit with changes is refused as well, and leaves nothing pending: the refused
  // mark does not come back with the next command.
  ASSERT_EQ(CardSetPending(1, 100, 1), 0);
  EXPECT_EQ(CommitRelays(), err::kExternalResetActive);
  EXPECT_EQ(GetPendingChange(1), 0);
  ClearEmergencyShutdown();
  Send("CLOS (@1(101))");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("CLOS? (@1(100:101))"), "0 1");
}

TEST_F(Relays, OpenAllOpensEveryRelayCardAndSkipsTheOthers) {
  Send("CLOS (@1(100,1207),2(1507),3(253),9(100))");
  ASSERT_TRUE(Errors().empty());
  Send("ROUT:OPEN:ALL");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("CLOS? (@1(100,1207),2(1507),3(253),9(100))"), "0 0 0 0 0");
  EXPECT_TRUE(cards_[1]->EnergisedCoils().empty());
  Send("OPEN:ALL 1");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kParameterNotAllowed)});
}

TEST_F(Relays, AFailingLocalBusIsReportedAndLeavesNothingPending) {
  xbus_->SetSlotFailing(1, true);
  Send("CLOS (@1(100),9(100))");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kFpgaIoError)});
  for (int slot = kFirstCardSlot; slot <= kLastCardSlot; ++slot) {
    EXPECT_EQ(GetPendingChange(slot), 0);
  }
  xbus_->SetSlotFailing(1, false);
  // Slot 9 comes after the failing card: its mark was dropped, not kept for whoever
  // commits next.
  Send("CLOS (@1(101))");
  EXPECT_TRUE(Errors().empty());
  EXPECT_TRUE(cards_[1]->CoilEnergised(1));
  EXPECT_TRUE(cards_[9]->EnergisedCoils().empty());
  EXPECT_EQ(Send("CLOS? (@9(100))"), "0");
}

TEST_F(Relays, ModesAreSetModuleByModuleUntilOneRefuses) {
  CardSlotRecord(2)->switching_mode = kRelayModeBbmOnly;
  Send("CONF (@1:3),MBB");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kModeNotSupported)});
  EXPECT_EQ(Send("CONF? (@1:3)"), "MBB,???,BBM");
  Send("ROUTE:CONFIGURE (@2),BBM;CONF (@3),imm");
  EXPECT_EQ(Send("CONF? (@3,1)"), "IMM,MBB");
  Send("CONF (@1),FAST");
  Send("CONF? (@7)");
  Send("CONF (@13),BBM");
  Send("CONF (@1)");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kIllegalParameterValue),
                                                 Entry(err::kNoModule), Entry(err::kSlotOutOfRange),
                                                 Entry(err::kMissingParameter)}));
}

TEST_F(Relays, TheAttenuatorSelectsThePadsThatSumToTheRequest) {
  Send("ATT 30,(@5(0))");
  EXPECT_TRUE(Errors().empty());
  const AttenuatorPadTable* pads = AttenuatorPads(5);
  ASSERT_NE(pads, nullptr);
  std::string selected;
  for (const auto& pad : pads->pads) {
    if (pad.selected) selected += std::to_string(static_cast<int>(pad.attenuation)) + " ";
  }
  EXPECT_EQ(selected, "2 4 24 ");
  EXPECT_EQ(Send("ATT? (@5(0))"), "30.00");
  Send("ATT 0.25,(@5(0))");
  EXPECT_EQ(Send("ATT? (@5(0))"), "0.25");

  Send("ATT 30,(@1(100))");
  Send("ATT 129,(@5(0))");
  Send("ATT 30,(@5(0),1(100))");  // nothing switches when one element is refused
  Send("ATT? (@1(100))");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kNotSupportedByChannel),
                                                 Entry(err::kDataOutOfRange),
                                                 Entry(err::kNotSupportedByChannel),
                                                 Entry(err::kNotSupportedByChannel)}));
  EXPECT_EQ(Send("ATT? (@5(0))"), "0.25");
}

TEST_F(Relays, CardDirectedResetGoesToTheCardsHooks) {
  Send("SYST:RES (@1(100))");
  Send("SYST:RES");
  Send("SYST:RES (@7(1))");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kNotSupportedByCard),
                                                 Entry(err::kMissingParameter),
                                                 Entry(err::kNoModule)}));
}

// The flags the engine broadcasts after each program message.
std::vector<std::vector<int32_t>>& Broadcasts() {
  static std::vector<std::vector<int32_t>> broadcasts;
  return broadcasts;
}

TEST_F(Relays, AMessageThatChangedRelaysIsAnnouncedOnceWithItsSlots) {
  Broadcasts().clear();
  SetSlotNotificationBroadcast(
      [](const int32_t* flags) { Broadcasts().emplace_back(flags, flags + kSlotCount); });
  Send("CLOS (@1(100));CLOS (@9(100));ATT 10,(@5(0))");
  Send("CLOS (@1(100))");      // nothing changed
  Send("CLOS? (@1(100))");
  Send("OPEN (@1(100),9(100))");
  // A later command's failure does not hide the relays an earlier one switched.
  Send("CLOS (@9(100));ATT 30,(@1(100))");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kNotSupportedByChannel)});
  SetSlotNotificationBroadcast(nullptr);
  std::vector<int32_t> first(kSlotCount, 0);
  first[1] = first[5] = first[9] = 1;
  std::vector<int32_t> second(kSlotCount, 0);
  second[1] = second[9] = 1;
  std::vector<int32_t> third(kSlotCount, 0);
  third[9] = 1;
  EXPECT_EQ(Broadcasts(), (std::vector<std::vector<int32_t>>{first, second, third}));
}

}  // namespace
