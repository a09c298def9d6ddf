// Verification, module names, saved relay states, the instrument reset and the relay
// cycle counters, through their commands against the simulated cage.
#include "switching/relay_stores.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/stored_file.h"
#include "devices/fpga_registers.h"
#include "hardware/fpga_utils.h"
#include "scpi/error_codes.h"
#include "switching/switching_handlers.h"
#include "switching/switching_test_support.h"

namespace {

std::string Read(const char* fixed_path) {
  std::string text;
  EXPECT_EQ(ReadStoredFile(fixed_path, &text), StoredFileRead::kRead) << fixed_path;
  return text;
}

constexpr const char* kMaskFile = "/mnt/nonv/config/verify_masks/verify_mask_data";
constexpr const char* kNameFile = "/mnt/nonv/config/module_names/module_name_defs";

using Verification = SimulatedCageTest;

// The simulated cards read their coils back active low: the inverted mask is the one
// under which a relay that did switch agrees.
TEST_F(Verification, RelaysAgreeUntilOneSticks) {
  EXPECT_EQ(Send("VER:MASK? (@1(100))"), "X") << "cards start unverified";
  Send("VER:MASK (@1(100:1207)),INV");
  Send("CLOS (@1(100,207))");
  EXPECT_EQ(Send("VER? (@1(100:102,207))"), "OK");
  EXPECT_EQ(Send("VER:ALL?"), "OK");
  cards_[1]->StickRelay(1, true);  // coil 1 stays released
  Send("CLOS (@1(101))");
  cards_[1]->StickRelay(0, true);  // coil 0 stays energised
  Send("OPEN (@1(100))");
  EXPECT_EQ(Send("VER? (@1(100:102))"), "1 : 100,1 : 101");
  EXPECT_EQ(Send("VERIFY:ALL?"), "1 : 100,1 : 101");
  Send("VER? (@6(0))");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kNotSupportedByCard)});
}

TEST_F(Verification, MasksAreSetShownStoredAndRecalled) {
  Send("VER:MASK (@1(100,101)),INV");
  Send("ROUT:VER:MASK (@1(102)),X");
  Send("VER:MASK (@1(103)),NORMAL");
  EXPECT_EQ(Send("VER:MASK? (@1(100:103),6(0))"), "1 1 X 0 -");
  Send("VER:MASK (@1(100)),INVERT");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kIllegalParameterValue)});
  // The normal mask reads the coil the other way round: an open relay disagrees.
  EXPECT_EQ(Send("VER? (@1(100:103))"), "1 : 103");

  Send("VER:STOR");
  const std::string text = Read(kMaskFile);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1).substr(0, 27), "SLOT 1: 7A01: 1 1 X 0 X X X");
  Send("VER:MASK (@1(100:103)),0;:VER:REC");
  EXPECT_EQ(Send("VER:MASK? (@1(100:103))"), "1 1 X 0");

  // Slot 9 stored for another card model: the other slots are recalled.
  std::string changed = text;
  changed.replace(changed.find("SLOT 9: 7A02:"), 13, "SLOT 9: 7A03:");
  ASSERT_EQ(ReplaceStoredFile(kMaskFile, changed), 0);
  Send("VER:MASK (@1(100:103),9(100)),0;:VER:REC");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kVerifyMasksPartlyRecalled)});
  EXPECT_EQ(Send("VER:MASK? (@1(100:103),9(100))"), "1 1 X 0 0");

  EXPECT_EQ(Send("VER:REC:STAT?"), "0");
  Send("VER:REC:STAT ON");
  EXPECT_EQ(Send("ROUT:VER:REC?"), "1");
  EXPECT_EQ(PowerOnVerifyMaskRecall(), err::kVerifyMasksPartlyRecalled);
  ASSERT_EQ(ReplaceStoredFile(kMaskFile, "SLOT 1 7A01\n"), 0);
  Send("VER:REC");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kVerifyMasksRecallFailed)});
}

using ModuleNames = SimulatedCageTest;

TEST_F(ModuleNames, NamesStandForSlotsWithoutRegardToCase) {
  EXPECT_EQ(Send("MOD:CAT?"), "");
  Send("MOD:DEF PSU,9;:MOD:DEF Dmm_Side,1");
  Send("CLOS (@psu(100),DMM_SIDE(101))");
  EXPECT_EQ(Send("CLOS? (@9(100),1(101))"), "1 1");
  EXPECT_EQ(Send("CONF? (@PSU,1)"), "BBM,BBM");
  EXPECT_EQ(Send("MOD:DEF? psu"), "9");
  EXPECT_EQ(Send("MOD:CAT?"), "DMM_SIDE,PSU");
  EXPECT_EQ(Send("MOD:LIST? (@PSU,5)"),
            "9 : SM-RD48 48-CHANNEL RELAY DRIVER,5 : SM-AT56 56 dB Attenuator");
  EXPECT_TRUE(Errors().empty());

  Send("MOD:DEF PSU,4");
  Send("MOD:DEF 9LIVES,4");
  Send("MOD:DEF? NOSUCH");
  Send("MOD:DEF X,13");
  Send("MOD:DEL NOSUCH");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kReferencedNameAlreadyExists),
                          Entry(err::kMissingOrInvalidModuleName),
                          Entry(err::kReferencedNameDoesNotExist), Entry(err::kDataOutOfRange),
                          Entry(err::kReferencedNameDoesNotExist)}));

  Send("MOD:SAVE");
  EXPECT_EQ(Read(kNameFile),
            "SLOT 1 :DMM_SIDE:\nSLOT 2 ::\nSLOT 3 ::\nSLOT 4 ::\nSLOT 5 ::\nSLOT 6 ::\n"
            "SLOT 7 ::\nSLOT 8 ::\nSLOT 9 :PSU:\nSLOT 10 ::\nSLOT 11 ::\nSLOT 12 ::\n");
  Send("MOD:DEL:NAME PSU;:MOD:DEF OTHER,2");
  EXPECT_EQ(Send("MOD:CAT?"), "DMM_SIDE,OTHER");
  Send("MOD:REC");
  EXPECT_EQ(Send("MOD:CAT?"), "DMM_SIDE,PSU") << "the file's empty name clears slot 2";
  Send("MOD:DEL:ALL");
  EXPECT_EQ(Send("MOD:CAT?"), "");
  Send("MOD:REC:STAT 1");
  EXPECT_EQ(Send("MOD:REC?"), "1");
  EXPECT_EQ(PowerOnModuleNameRecall(), 0);
  EXPECT_EQ(Send("MOD:CAT?"), "DMM_SIDE,PSU");
  EXPECT_TRUE(Errors().empty());
}

using SavedStates = SimulatedCageTest;

TEST_F(SavedStates, ASavedStateComesBackOnEveryRelayCard) {
  Send("CLOS (@1(100,1207),2(0,1507),3(13),8(19),9(600))");
  Send("*SAV 5");
  const std::string text = Read("/mnt/nonv/config/states/state5.txt");
  EXPECT_EQ(text.substr(0, text.find('\n')), "Slot 1: 7A01: 100 1207 ");
  EXPECT_NE(text.find("Slot 6: 7A20: NONE\n"), std::string::npos);
  EXPECT_NE(text.find("Slot 7: 0: NONE\n"), std::string::npos);
  Send("OPEN:ALL;:CLOS (@1(101))");
  ClearRecord();
  Send("*RCL 5");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("CLOS? (@1(100,101,1207),2(0,1507),3(13),8(19),9(600))"), "1 0 1 1 1 1 1 1");
  EXPECT_EQ(cards_[1]->EnergisedCoils(), (std::vector<int>{0, 95}));
  EXPECT_TRUE(Record().waits.empty()) << "a recall switches all cards at once";

  ClearRecord();
  Send("*RCL 2");
  Send("*SAV 101");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kRecallStateNotSaved),
                                                 Entry(err::kDataOutOfRange)}));
  EXPECT_TRUE(Record().writes.empty());
  Send("*SAV");
  Send("OPEN:ALL;*RCL 0");
  EXPECT_EQ(Send("CLOS? (@1(100))"), "1");
}

TEST_F(SavedStates, AStateIsRefusedOnAnotherCardModelUnlessItHeldNothing) {
  Send("CLOS (@9(100));*SAV 1");
  std::string text = Read("/mnt/nonv/config/states/state1.txt");
  text.replace(text.find("Slot 9: 7A02:"), 13, "Slot 9: 7A03:");
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/config/states/state1.txt", text), 0);
  Send("OPEN:ALL");
  ClearRecord();
  Send("*RCL 1");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kRecallStateCardChanged)});
  EXPECT_TRUE(Record().writes.empty()) << "nothing switches";

  Send("*SAV 1");  // nothing closed on slot 9 now
  text = Read("/mnt/nonv/config/states/state1.txt");
  text.replace(text.find("Slot 9: 7A02:"), 13, "Slot 9: 7A03:");
  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/config/states/state1.txt", text), 0);
  Send("*RCL 1");
  EXPECT_TRUE(Errors().empty());

  ASSERT_EQ(ReplaceStoredFile("/mnt/nonv/config/states/state1.txt", "Slot 1: 7A01: 100\n"), 0);
  Send("*RCL 1");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kRecallStateFailed)});
}

using Reset = SimulatedCageTest;

TEST_F(Reset, ResetOpensEveryRelayAndTheFullFormForgetsGroupsAndPaths) {
  Send("CLOS (@1(100),2(0),9(100));CONF (@1),MBB;EXCL (@1(100,101));PATH:DEF A,(@1(102))");
  ASSERT_TRUE(Errors().empty());
  Send("SYST:PRES");
  EXPECT_TRUE(cards_[1]->EnergisedCoils().empty());
  EXPECT_TRUE(cards_[2]->EnergisedCoils().empty());
  EXPECT_EQ(Send("CONF? (@1)"), "BBM");
  EXPECT_EQ(Send("EXCL?"), "(@1(100),1(101))") << "the preset keeps the groups";
  EXPECT_EQ(Send("PATH:CAT?"), "A");
  WriteFPGAregister(kFpgaCardReset, 0x1234);
  Send("CLOS (@9(100));*RST");
  EXPECT_TRUE(cards_[9]->EnergisedCoils().empty());
  // The FPGA side: the cards' reset line pulsed back high, the reset mask written, the
  // delay timer at 1 s (10 us ticks).
  uint32_t value = 0;
  EXPECT_EQ(ReadFPGAregister(kFpgaCardReset, &value), 0);
  EXPECT_EQ(value, 0xFFFFu);
  EXPECT_EQ(ReadFPGAregister(kFpgaResetMask, &value), 0);
  EXPECT_EQ(value, 0xFFFFu);
  EXPECT_EQ(ReadFPGAregister(kFpgaDelayTimerLow, &value), 0);
  EXPECT_EQ(value, 100000u);
  EXPECT_EQ(Send("EXCL?"), "");
  EXPECT_EQ(Send("PATH:CAT?"), "");
  EXPECT_EQ(Send("*TST?"), "0");
  EXPECT_EQ(Send("*TST? 1"), "0");
  EXPECT_EQ(Send("*TST? 2"), "-301");
  Send("*TST? 4");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kDataOutOfRange)});
}

using RelayCycles = SimulatedCageTest;

TEST_F(RelayCycles, CountersMoveWithTheCoilsAndClearOnlyWithTheRightCode) {
  // SM-MX12H relay r is drive bit r - 1; channel 0 drives bit 0.
  EXPECT_EQ(Send("DIAG:REL:CYCL? (@4(1,2))"), "0,0");
  for (int i = 0; i < 3; ++i) Send("CLOS (@4(0));OPEN (@4(0))");
  EXPECT_EQ(Send("DIAG:REL:CYCL? (@4(1,2))"), "3,0");
  Send("DIAG:REL:CYCL:CLE (@4(1)),QZ71B");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kInvalidStringData)});
  Send("DIAG:REL:CYCL:CLE (@4(1)),'ABCD'");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kInvalidPassword)});
  EXPECT_EQ(Send("DIAG:REL:CYCL? (@4(1))"), "3");

  const std::string code = RelayServiceCode(1);
  ASSERT_EQ(code.size(), 4u);
  for (char letter : code) EXPECT_TRUE(letter >= 'A' && letter <= 'Z');
  EXPECT_NE(RelayServiceCode(2), code);
  Send("DIAG:REL:CYCL:CLE (@4(1)),\"" + code + "\"");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("DIAG:REL:CYCL? (@4(1))"), "0");
  // The master code clears any relay; a path is refused.
  Send("CLOS (@4(1));DIAG:REL:CYCL:DEL (@4(2)),'QZ71B'");
  EXPECT_EQ(Send("DIAG:REL:CYCL? (@4(2))"), "0");
  Send("PATH:DEF A,(@1(100))");
  Send("DIAG:REL:CYCL? (@A)");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kPathNotSupported)});
}

}  // namespace
