// Interlock groups through their commands: making, deleting and listing groups, the
// list files written and read back whole, the type check of a recall, and the
// power-on recall driven by the settings files.
#include "switching/interlocks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/stored_file.h"
#include "hardware/event_log.h"
#include "scpi/error_codes.h"
#include "switching/switching_test_support.h"

namespace {

std::string ReadFile(const char* fixed_path) {
  std::string text;
  EXPECT_EQ(ReadStoredFile(fixed_path, &text), StoredFileRead::kRead) << fixed_path;
  return text;
}

// The thirteen SLOT lines of the default cage.
std::string SlotLines() {
  const uint32_t ids[kSlotCount] = {0x7A00, 0x7A01, 0x7A07, 0x7A13, 0x7A10, 0x7A0A, 0x7A20,
                                    0,      0x7A05, 0x7A02, 0,      0,      0};
  std::string lines;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    lines += "SLOT " + std::to_string(slot) + ": " + std::to_string(ids[slot]) + "\n";
  }
  return lines;
}

std::string LastEvent() {
  char text[kEventReplySize];
  GetEvent(GetEventCount(), text);
  return text;
}

using Interlocks = SimulatedCageTest;

TEST_F(Interlocks, GroupsAreMadeListedAndTakenApart) {
  EXPECT_EQ(Send("INCL?"), "");
  Send("INCL (@1(100))");
  Send("INCL (@1(100,101))");
  Send("INCL (@1(101,102))");
  Send("EXCL (@1(100))");
  Send("INCL (@1(200),6(0))");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kIncludeListTooShort), Entry(err::kRelayAlreadyIncluded),
                          Entry(err::kExcludeListTooShort), Entry(err::kRelayChannelsOnly)}));

  Send("INCL (@2(1),1(103),2(0))");
  EXPECT_EQ(Send("INCL?"), "(@1(100),1(101)),(@2(1),1(103),2(0))");
  EXPECT_EQ(Send("ROUT:INCL? (@2(0),1(100))"), "(@2(1),1(103),2(0)),(@1(100),1(101))");
  EXPECT_EQ(Send("INCL? (@1(200))"), "");

  // Removing the first member makes the second the head; a group of one is dissolved.
  Send("INCL:DEL (@2(1))");
  EXPECT_EQ(Send("INCL?"), "(@1(100),1(101)),(@1(103),2(0))");
  Send("INCLUDE:CLEAR (@1(101))");
  EXPECT_EQ(Send("INCL?"), "(@1(103),2(0))");
  Send("INCL (@1(100,101))");  // free again
  Send("INCL:DEL:ALL");
  EXPECT_EQ(Send("INCL?"), "");
  EXPECT_EQ(Send("EXCL?"), "");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Interlocks, APathThatOpensRelaysCannotNameMembers) {
  static ChannelList path;
  ChannelListElement open;
  open.slot = 1;
  open.channel = 105;
  path.close.clear();
  path.open = {open};
  SetPathLookup([](const char* name) -> const ChannelList* {
    return std::string(name) == "WITHOPEN" ? &path : nullptr;
  });
  Send("INCL (@1(100,101),WITHOPEN)");
  Send("EXCL (@1(100,101),WITHOPEN)");
  Send("INCL:DEL (@WITHOPEN)");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kOpenPathInIncludeList),
                                                 Entry(err::kOpenPathInExcludeList),
                                                 Entry(err::kSyntaxError)}));
}

TEST_F(Interlocks, StoreWritesTheFileRecallRebuildsTheGroups) {
  Send("INCL:STOR");
  EXPECT_EQ(ReadFile(InterlockListFile(InterlockSide::kInclude)), SlotLines() + "NONE\n");

  Send("INCL (@2(1),1(103),2(0));INCL (@1(100),1(101));EXCL (@9(100),9(101))");
  Send("INCL:SAVE;:EXCL:STOR");
  EXPECT_EQ(ReadFile(InterlockListFile(InterlockSide::kInclude)),
            SlotLines() + "(@1(100),1(101))\n(@2(1),1(103),2(0))\n");
  EXPECT_EQ(ReadFile(InterlockListFile(InterlockSide::kExclude)),
            SlotLines() + "(@9(100),9(101))\n");

  Send("INCL:DEL:ALL;:EXCL:DEL:ALL;:INCL (@1(200,201))");
  Send("INCL:REC;:EXCL:REC");
  EXPECT_EQ(Send("INCL?"), "(@1(100),1(101)),(@2(1),1(103),2(0))");
  EXPECT_EQ(Send("EXCL?"), "(@9(100),9(101))");
  EXPECT_TRUE(Errors().empty());
  // The recalled groups act on switching.
  Send("CLOS (@9(100));CLOS (@9(101));CLOS (@2(0))");
  EXPECT_EQ(Send("CLOS? (@9(100:101),2(1),1(103))"), "0 1 1 1");
}

TEST_F(Interlocks, ALongGroupSurvivesStoreAndRecall) {
  // Every relay of four cards: a line far beyond 2048 characters.
  Send("EXCL (@1(100:1207),2(0:1507),8(0:19),9(100:607))");
  ASSERT_TRUE(Errors().empty());
  const std::string listed = Send("EXCL?");
  ASSERT_GT(listed.size(), 2048u);
  Send("EXCL:STOR;:EXCL:DEL:ALL");
  EXPECT_EQ(Send("EXCL?"), "");
  Send("EXCL:REC");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("EXCL?"), listed);
}

TEST_F(Interlocks, ARecallOntoAnotherCardTypeFailsAndLeavesNoGroup) {
  Send("INCL (@1(100),1(101));INCL (@9(100),9(101));INCL:STOR");
  std::string text = ReadFile(InterlockListFile(InterlockSide::kInclude));
  const std::string rd48 = "SLOT 9: " + std::to_string(0x7A02);
  text.replace(text.find(rd48), rd48.size(), "SLOT 9: " + std::to_string(0x7A03));
  ASSERT_EQ(ReplaceStoredFile(InterlockListFile(InterlockSide::kInclude), text), 0);
  Send("INCL:REC");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kIncludeListRecallFailed)});
  EXPECT_EQ(Send("INCL?"), "");
  EXPECT_EQ(LastEvent(),
            std::to_string(GetEventCount()) +
                ",error recalling include list.  Slot 9 card type saved = 7A03, type installed = 7A02");
}

TEST_F(Interlocks, DamagedFilesFailTheRecallWithoutHalfTruths) {
  const char* file = InterlockListFile(InterlockSide::kExclude);
  // A missing file recalls nothing and is no failure.
  Send("EXCL (@1(100,101));EXCL:REC");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("EXCL?"), "");

  ASSERT_EQ(ReplaceStoredFile(file, "SLOT 0: 31232\nSLOT 1: x\n"), 0);
  Send("EXCL:REC");
  EXPECT_EQ(LastEvent(), std::to_string(GetEventCount()) +
                             ",incorrect format of exclude list file scanning type of card in slot 1");
  ASSERT_EQ(ReplaceStoredFile(file, SlotLines() + "(@1(100),1(101)\n"), 0);
  Send("EXCL:REC");
  // A channel the card does not have joins no group, and the rest of the file still
  // loads.
  ASSERT_EQ(ReplaceStoredFile(file, SlotLines() + "(@1(100),1(999),1(101))\n(@9(100),9(101))\n"),
            0);
  Send("EXCL:REC");
  EXPECT_EQ(Errors(), (std::vector<std::string>{Entry(err::kExcludeListRecallFailed),
                                                 Entry(err::kExcludeListRecallFailed),
                                                 Entry(err::kExcludeListRecallFailed)}));
  EXPECT_EQ(Send("EXCL?"), "(@1(100),1(101)),(@9(100),9(101))");
}

TEST_F(Interlocks, AutoRecallIsStoredAndDrivesThePowerOnRecall) {
  EXPECT_EQ(Send("INCL:REC:AUTO?"), "0");
  // Without settings files the power-on recall fails on both sides, exclude first.
  EXPECT_EQ(PowerOnInterlockRecall(), err::kExcludeListRecallFailed);

  Send("INCL (@1(100,101));EXCL (@1(200,201));INCL:STOR;:EXCL:STOR");
  Send("INCL:REC:AUTO ON;:EXCL:RECALL:AUTO 0");
  EXPECT_EQ(ReadFile(InterlockSettingsFile(InterlockSide::kInclude)), "AUTORECALL=1");
  EXPECT_EQ(ReadFile(InterlockSettingsFile(InterlockSide::kExclude)), "AUTORECALL=0");
  EXPECT_EQ(Send("INCL:REC:AUTO?;:EXCL:REC:AUTO?"), "1;0");
  Send("INCL:REC:AUTO MAYBE");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kIllegalParameterValue)});

  // A fresh process: no groups, flags from the files; only the include list returns.
  ResetInterlocksForTest();
  EXPECT_EQ(PowerOnInterlockRecall(), 0);
  EXPECT_EQ(Send("INCL?;EXCL?"), "(@1(100),1(101));");
  EXPECT_EQ(Send("INCL:REC:AUTO?;:EXCL:REC:AUTO?"), "1;0");

  ASSERT_EQ(ReplaceStoredFile(InterlockSettingsFile(InterlockSide::kExclude), "AUTORECALL=x"), 0);
  ResetInterlocksForTest();
  EXPECT_EQ(PowerOnInterlockRecall(), err::kExcludeListRecallFailed);
  EXPECT_EQ(Send("INCL?"), "(@1(100),1(101))");  // the include side still ran
}

}  // namespace
