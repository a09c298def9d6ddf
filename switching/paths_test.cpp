// Named paths through their commands against the simulated cage: definitions with
// paths inside them, sorting and the overlap refusal, the catalogue, the definitions
// file written and read back whole, and paths switching and reported by CLOSe and
// CLOSe?.
#include "switching/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/stored_file.h"
#include "scpi/error_codes.h"
#include "switching/switching_test_support.h"

namespace {

constexpr const char* kPathFile = "/mnt/nonv/paths/path_defs";

using Paths = SimulatedCageTest;

TEST_F(Paths, DefinitionsAreSortedAndTakeInThePathsTheyName) {
  Send("PATH:DEF A,(@1(103,101,102)),(@2(5))");
  EXPECT_EQ(Send("PATH:DEF? A"), "(@1(101),1(102),1(103)),(@2(5))");
  // A path named in the close list brings its open channels; one named in the open
  // list brings its close channels.
  Send("PATH:DEF D,(@A,9(100))");
  EXPECT_EQ(Send("ROUTE:PATH:DEFINE? D"), "(@1(101),1(102),1(103),9(100)),(@2(5))");
  Send("PATH:DEF E,(@9(101)),(@A,2(5),2(4))");
  EXPECT_EQ(Send("PATH:DEF? E"), "(@9(101)),(@1(101),1(102),1(103),2(4),2(5))");
  EXPECT_TRUE(Errors().empty());

  Send("PATH:DEF B,(@1(100)),(@1(100))");
  Send("PATH:DEF A,(@1(200))");
  Send("PATH:DEF 1A,(@1(200))");
  Send("PATH:DEF C,(@6(0))");
  Send("PATH:DEF C");
  Send("PATH:DEF? NOSUCH");
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          Entry(err::kPathChannelOnOpenAndCloseLists),
                          Entry(err::kReferencedNameAlreadyExists),
                          Entry(err::kMissingOrInvalidPathName), Entry(err::kRelayChannelsOnly),
                          Entry(err::kMissingParameter), Entry(err::kReferencedNameDoesNotExist)}));
  EXPECT_EQ(Send("PATH:DEF? A"), "(@1(101),1(102),1(103)),(@2(5))") << "A is unchanged";
}

TEST_F(Paths, TheCatalogueKeepsTheOrderOfDefinition) {
  EXPECT_EQ(Send("PATH:CAT?"), "");
  Send("PATH:DEF ZED,(@1(100));:PATH:DEF ALPHA,(@1(101));:PATH:DEF MID,(@1(102))");
  EXPECT_EQ(Send("PATH:CAT?"), "ZED,ALPHA,MID");
  Send("PATH:DEL ALPHA");
  Send("PATH:DEF ALPHA,(@1(101))");
  EXPECT_EQ(Send("PATH:CAT?"), "ZED,MID,ALPHA");
  Send("PATH:DELETE:NAME ZED");
  EXPECT_EQ(Send("PATH:CAT?"), "MID,ALPHA");
  Send("PATH:DEL ZED");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kReferencedNameDoesNotExist)});
  // The cursor walks the same order.
  std::vector<std::string> walked;
  for (const char* name = FirstPathName(); name != nullptr; name = NextPathName()) {
    walked.push_back(name);
  }
  EXPECT_EQ(walked, (std::vector<std::string>{"MID", "ALPHA"}));
  Send("PATH:DEL:ALL");
  EXPECT_EQ(Send("PATH:CAT?"), "");
  EXPECT_EQ(FirstPathName(), nullptr);
}

TEST_F(Paths, PathsSwitchAndReportTheirState) {
  Send("PATH:DEF FEED,(@1(100),2(0)),(@1(101));:PATH:DEF P1,(@9(100));:PATH:DEF P2,(@9(101))");
  Send("PATH:DEF P3,(@9(102))");
  Send("CLOS (@1(101))");
  Send("CLOS (@FEED)");
  EXPECT_TRUE(cards_[1]->CoilEnergised(0));
  EXPECT_FALSE(cards_[1]->CoilEnergised(1));
  EXPECT_TRUE(cards_[2]->CoilEnergised(0));
  EXPECT_EQ(Send("CLOS? (@1(100),FEED,1(101))"), "1 1 0");
  EXPECT_EQ(Send("OPEN? (@FEED)"), "0");
  Send("CLOS (@1(101))");  // the path is no longer in its closed state
  EXPECT_EQ(Send("CLOS? (@FEED)"), "0");
  Send("CLOS (@P1:P3)");
  EXPECT_EQ(Send("CLOS? (@P3:P1,9(103))"), "1 1 1 0");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Paths, DefinitionsSurviveStoreAndRecall) {
  Send("PATH:STOR");
  std::string text;
  ASSERT_EQ(ReadStoredFile(kPathFile, &text), StoredFileRead::kRead);
  EXPECT_EQ(text, "NONE\n");
  Send("PATH:DEF MAIN_FEED,(@1(100),1(101),3(13)),(@1(102));:PATH:DEF SOLO,(@9(600))");
  Send("PATH:SAVE");
  ASSERT_EQ(ReadStoredFile(kPathFile, &text), StoredFileRead::kRead);
  EXPECT_EQ(text,
            "PATH:DEF MAIN_FEED (@1(100),1(101),3(13)),(@1(102))\n"
            "PATH:DEF SOLO (@9(600))\n");
  Send("PATH:DEL:ALL");
  Send("PATH:DEF SOLO,(@1(200))");
  Send("PATH:REC");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Send("PATH:CAT?"), "MAIN_FEED,SOLO");
  EXPECT_EQ(Send("PATH:DEF? SOLO"), "(@9(600))") << "the recalled path replaces its namesake";

  // Bad lines are skipped and reported once the good ones are in.
  ASSERT_EQ(ReplaceStoredFile(kPathFile,
                              "PATH:DEF GOOD (@1(100))\n"
                              "PATH:DEF BROKEN (@1(100)\n"
                              "GARBAGE LINE HERE\n"
                              "PATH:DEF 9BAD_NAME (@1(100))\n"
                              "PATH:DEF GONE (@1(999))\n"
                              "PATH:DEF ALSO_GOOD (@1(101)),(@1(102))\n"),
            0);
  Send("PATH:DEL:ALL;:PATH:REC");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kPathRecallFailed)});
  EXPECT_EQ(Send("PATH:CAT?"), "GOOD,ALSO_GOOD");
  // One path by name, as the scan list recalls it.
  Send("PATH:DEL:ALL");
  EXPECT_EQ(RecallPath("ALSO_GOOD"), 0);
  EXPECT_EQ(RecallPath("GONE"), err::kPathRecallFailed);
  EXPECT_EQ(Send("PATH:CAT?"), "ALSO_GOOD");
}

TEST_F(Paths, SettingsAndSequenceNames) {
  EXPECT_EQ(Send("PATH:REC:AUTO?"), "0");
  Send("PATH:REC:AUTO ON");
  EXPECT_EQ(Send("PATH:REC:AUTO?"), "1");
  Send("ROUT:PATH:RECALL:AUTO 0");
  EXPECT_EQ(Send("PATH:REC:AUTO?"), "0");
  EXPECT_EQ(Send("MON?"), "0");
  Send("MON ON");
  EXPECT_EQ(Send("ROUT:MON:STAT?"), "1");
  Send("MON:STAT OFF");
  EXPECT_EQ(Send("MONITOR?"), "0");
  EXPECT_TRUE(Errors().empty());

  Send("PATH:DEF A,(@1(100))");
  EXPECT_EQ(SetPathSequenceName("A", "SEQ1"), 0);
  EXPECT_EQ(*PathSequenceName("A"), "SEQ1");
  EXPECT_EQ(SetPathSequenceName("A", "NONE"), 0);
  EXPECT_EQ(*PathSequenceName("A"), "");
  EXPECT_EQ(SetPathSequenceName("B", "SEQ1"), err::kReferencedNameDoesNotExist);
}

// A path of more than 2,000 channels: its definition line is far longer than the
// 4,096 characters a stored list could once hold.
TEST_F(Paths, AVeryLongPathSurvivesStoreAndRecall) {
  std::vector<std::pair<int, std::string>> cage;
  for (int slot = 1; slot <= 12; ++slot) cage.emplace_back(slot, "SM-MX12H");
  TearDown();
  SetUpCage(cage);
  std::string list = "(@";
  for (int slot = 1; slot <= 11; ++slot) list += (slot > 1 ? "," : "") + std::to_string(slot) + "(0:1115)";
  list += ")";
  Send("PATH:DEF HUGE," + list);
  ASSERT_TRUE(Errors().empty());
  ASSERT_NE(FindPathChannels("HUGE"), nullptr);
  const std::string defined = Describe(*FindPathChannels("HUGE"));
  Send("PATH:STOR;:PATH:DEL:ALL");
  std::string text;
  ASSERT_EQ(ReadStoredFile(kPathFile, &text), StoredFileRead::kRead);
  EXPECT_GT(text.size(), 4362u);
  Send("PATH:REC");
  EXPECT_TRUE(Errors().empty());
  ASSERT_NE(FindPathChannels("HUGE"), nullptr);
  EXPECT_EQ(Describe(*FindPathChannels("HUGE")), defined);
  // Its definition is longer than a reply can hold: refused as too much data.
  Send("PATH:DEF? HUGE");
  EXPECT_EQ(Errors(), std::vector<std::string>{Entry(err::kTooMuchData)});
  ChannelList expanded;
  ASSERT_EQ(ParseChannelList(false, "(@HUGE)", nullptr, &expanded, 0), 0);
  EXPECT_EQ(expanded.close.size(), 11u * 192u);
}

}  // namespace
