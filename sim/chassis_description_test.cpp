// Tests of the chassis description: what a good file gives, each kind of bad line, and
// the default cage that ships with the programs.
#include "sim/chassis_description.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "sim/card_models.h"

namespace sim {
namespace {

TEST(ChassisDescription, NamesCardsBySlotWithCommentsBlankLinesAndAnyCase) {
  ChassisDescription description;
  std::string error;
  ASSERT_EQ(ParseChassisDescription("# a cage\n"
                                    "\n"
                                    "  3   SM-MX26Q   # two trees\r\n"
                                    "12\tsm-rd96\n"
                                    "1 GENERIC",  // no final line feed
                                    &description, &error),
            0)
      << error;
  EXPECT_EQ(description.models[1], "GENERIC");
  EXPECT_EQ(description.models[3], "SM-MX26Q");
  EXPECT_EQ(description.models[12], "SM-RD96");  // the catalogue's spelling
  for (int slot : {0, 2, 4, 5, 6, 7, 8, 9, 10, 11}) EXPECT_EQ(description.models[slot], "") << slot;
  EXPECT_EQ(CageSummary(description),
            "1 GENERIC, 3 SM-MX26Q, 12 SM-RD96; empty: 2, 4, 5, 6, 7, 8, 9, 10, 11");

  ASSERT_EQ(ParseChassisDescription("# nothing\n\n", &description, &error), 0);
  EXPECT_EQ(CageSummary(description), "no cards");
}

TEST(ChassisDescription, BadLinesAreRefusedNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"1 SM-RD96\n2 SM-NOPE\n", "line 2: unknown card model \"SM-NOPE\""},
      {"0 SM-RD96\n", "line 1: \"0\" is not a slot from 1 to 12"},
      {"13 SM-RD96\n", "line 1: \"13\" is not a slot from 1 to 12"},
      {"\n-1 SM-RD96\n", "line 2: \"-1\" is not a slot from 1 to 12"},
      {"x SM-RD96\n", "line 1: \"x\" is not a slot from 1 to 12"},
      {"4 SM-RD96\n# again\n04 SM-MX52\n", "line 3: slot 4 is already named on line 1"},
      {"5\n", "line 1: expected \"<slot> <model>\""},
      {"5 SM-RD96 SM-MX52\n", "line 1: expected \"<slot> <model>\""},
  };
  for (const Case& c : cases) {
    ChassisDescription description;
    description.models[7] = "untouched";
    std::string error;
    EXPECT_EQ(ParseChassisDescription(c.text, &description, &error), -1) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(description.models[7], "untouched") << "a refused file leaves the old cage";
  }
}

TEST(ChassisDescription, FileErrorsNameTheFile) {
  char pattern[] = "/tmp/chassis-description-XXXXXX";
  const int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string path = pattern;
  std::ofstream(path) << "2 SM-MT816\n7 BOGUS\n";
  ChassisDescription description;
  std::string error;
  EXPECT_EQ(LoadChassisDescription(path, &description, &error), -1);
  EXPECT_EQ(error, path + ": line 2: unknown card model \"BOGUS\"");
  std::ofstream(path) << "2 SM-MT816\n";
  ASSERT_EQ(LoadChassisDescription(path, &description, &error), 0) << error;
  EXPECT_EQ(description.models[2], "SM-MT816");
  std::remove(path.c_str());

  EXPECT_EQ(LoadChassisDescription(path, &description, &error), -1);
  EXPECT_EQ(error, path + ": No such file or directory");
  EXPECT_EQ(LoadChassisDescription("/tmp", &description, &error), -1);
  EXPECT_EQ(error, "/tmp: Is a directory");
}

TEST(ChassisDescription, DefaultCageFillsEightSlotsWithDifferentModelsAndLeavesOneEmpty) {
  ChassisDescription description;
  std::string error;
  ASSERT_EQ(LoadChassisDescription(CHASSIS_DEFAULT_DESCRIPTION, &description, &error), 0) << error;
  std::set<std::string> models;
  int empty = 0;
  for (int slot = kFirstCageSlot; slot <= kLastCardSlot; ++slot) {
    const std::string& model = description.models[slot];
    if (model.empty()) {
      ++empty;
    } else {
      EXPECT_TRUE(models.insert(model).second) << model << " twice";
      EXPECT_NE(MakeCardModel(model), nullptr) << model;
    }
  }
  EXPECT_GE(models.size(), 8u);
  EXPECT_GE(empty, 1);
  for (const char* needed :
       {"SM-MT816", "SM-MX26Q", "SM-MX12H", "SM-AT56", "SM-DIO12-TTL", "SM-CT1", "GENERIC"}) {
    EXPECT_EQ(models.count(needed), 1u) << needed;
  }
  // The system tests count on the test card in slot 7 and a relay card in slot 1.
  EXPECT_EQ(description.models[7], "SM-CT1");
  EXPECT_EQ(description.models[1], "SM-RD96");
}

}  // namespace
}  // namespace sim
