// Channel lists and module lists against a simulated cage: each golden row gives a list
// text, whether paths are kept whole, and the elements it yields or its error code.
// Slot 1 is an SM-RD96 (channels 100-107 ... 1200-1207), slot 2 an SM-MT816 matrix
// (0-7, 100-107 ... 1500-1507), slot 3 an SM-MX26Q (0-3, 10-13 ... 250-253), slot 5 the
// attenuator (channel 0), slot 6 a digital card (ports 0-11); slot 7 is empty.
#include "switching/channel_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "scpi/command_context_test_support.h"
#include "scpi/error_codes.h"
#include "switching/switching_test_support.h"

namespace {

// Paths P1, P2, P3 and MAIN (which also opens two relays); module name PSU is slot 1.
const std::map<std::string, ChannelList>& Paths() {
  static const std::map<std::string, ChannelList> paths = [] {
    auto element = [](int slot, int32_t channel) {
      ChannelListElement e;
      e.slot = slot;
      e.channel = channel;
      e.index = 0;
      return e;
    };
    std::map<std::string, ChannelList> made;
    made["P1"].close = {element(1, 100)};
    made["P2"].close = {element(1, 101)};
    made["P3"].close = {element(1, 100), element(1, 102)};
    made["MAIN"].close = {element(2, 3), element(1, 100)};
    made["MAIN"].open = {element(2, 4), element(2, 5)};
    return made;
  }();
  return paths;
}

const ChannelList* FindTestPath(const char* name) {
  const auto found = Paths().find(name);
  return found != Paths().end() ? &found->second : nullptr;
}

int FindTestModule(const char* name) { return strcasecmp(name, "psu") == 0 ? 1 : -1; }

class ChannelLists : public SimulatedCageTest {
 protected:
  void SetUp() override {
    SimulatedCageTest::SetUp();
    SetPathLookup(FindTestPath);
    SetModuleNameLookup(FindTestModule);
  }

  // The elements, or "error <code>".
  static std::string Parse(const char* text, bool keep_paths = false,
                           const ChannelList* seed = nullptr) {
    ChannelList list;
    const int32_t result = ParseChannelList(keep_paths, text, seed, &list, 0);
    if (result != 0) {
      EXPECT_TRUE(list.close.empty() && list.open.empty()) << text;
      return "error " + std::to_string(result);
    }
    return Describe(list);
  }
};

struct Row {
  const char* text;
  bool keep_paths;
  const char* expected;
};

TEST_F(ChannelLists, GrammarYieldsTheElementsInTextOrder) {
  const Row rows[] = {
      {"(@1(100:102),2(7))", false, "1(100) 1(101) 1(102) 2(7)"},
      {"(@1(102:100))", false, "1(102) 1(101) 1(100)"},
      // Ranges follow the card's own numbering, across rows of the matrix table.
      {"(@2(106:201))", false, "2(106) 2(107) 2(200) 2(201)"},
      {"(@2(201:106))", false, "2(201) 2(200) 2(107) 2(106)"},
      {"(@1(107:200))", false, "1(107) 1(200)"},
      {"(@1(100)1(101))", false, "1(100) 1(101)"},  // no comma needed after a group
      {"(@1(100),3(0,10),1(101))", false, "1(100) 3(0) 3(10) 1(101)"},
      {"(@1(100),1(100))", false, "1(100)"},
      {"(@1(100),1(100))", true, "1(100) 1(100)"},
      {"(@1(100:102),1(101))", false, "1(100) 1(101) 1(102)"},
      {"(@0001(100))", false, "1(100)"},
      {"(@5(0))", false, "5(0)"},
      {"(@6(0:2))", false, "6(0) 6(1) 6(2)"},
      {"(@PSU(100,101))", false, "1(100) 1(101)"},
      {"(@psu(100))", false, "1(100)"},
      // Paths: expanded (close and open channels, duplicates dropped) or kept whole.
      {"(@P1)", false, "1(100)"},
      {"(@MAIN,1(100),2(4))", false, "2(3) 1(100) 2(4) | 2(4) 2(5)"},
      {"(@MAIN,1(100))", true, "MAIN[2|2] 1(100)"},
      {"(@P1:P3)", false, "1(100) 1(101) 1(102)"},
      {"(@P1:P3)", true, "P1[1|0] P2[1|0] P3[2|0]"},
      {"(@P3:P1)", true, "P3[2|0] P2[1|0] P1[1|0]"},
      {"(@P1:P1)", true, "P1[1|0]"},
      {"(@P01:P03)", true, "error -292"},  // P01 does not exist
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Parse(row.text, row.keep_paths), row.expected) << row.text;
  }
}

TEST_F(ChannelLists, EveryFaultHasItsCode) {
  const std::string long_name = "(@" + std::string(257, 'A') + ")";
  const Row rows[] = {
      {"", false, "error -10201"},
      {"1(100)", false, "error -10201"},
      {"(1(100))", false, "error -10203"},
      {"(@", false, "error -10211"},
      {"(@)", false, "error -10211"},
      {"(@,1(100))", false, "error -10211"},
      {"(@1(100),)", false, "error -10211"},
      {"(@PATH", false, "error -10204"},
      {"(@P1,", false, "error -10204"},
      {long_name.c_str(), false, "error -10204"},
      {"(@1", false, "error -10205"},
      {"(@1(100)", false, "error -10205"},
      {"(@1(100),", false, "error -10205"},
      {"(@00001(100))", false, "error -10205"},
      {"(@P1;)", false, "error -10206"},
      {"(@1X(100))", false, "error -10206"},
      {"(@13(1))", false, "error -22202"},
      {"(@9999(1))", false, "error -22202"},
      {"(@7(1))", false, "error -30002"},
      {"(@NOSUCH)", false, "error -292"},
      {"(@NOSUCH(1))", false, "error -292"},
      {"(@P1:P9)", false, "error -292"},
      {"(@1(", false, "error -10207"},
      {"(@1(X))", false, "error -10207"},
      {"(@1(100,))", false, "error -10207"},
      {"(@1(100::104))", false, "error -10207"},
      {"(@1)", false, "error -10207"},  // the card refuses a whole-module reference
      {"(@1(12", false, "error -10218"},
      {"(@1(100,", false, "error -10218"},
      {"(@1(100;101))", false, "error -10218"},
      {"(@1(100:", false, "error -10218"},
      {"(@1(999))", false, "error -22201"},
      {"(@1(1234567890))", false, "error -22201"},
      {"(@1(16777216))", false, "error -22201"},
      {"(@1(100:999))", false, "error -22201"},
      {"(@1(100:101:102))", false, "error -10208"},
      {"(@1(100)))", false, "error -102"},
      {"(@1(100))X", false, "error -102"},
      {"(@AB:CD)", false, "error -292"},  // AB is no path
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Parse(row.text, row.keep_paths), row.expected) << row.text;
  }
}

TEST_F(ChannelLists, APathRangeWhoseNamesDoNotSplitIsAClearSyntaxError) {
  // P1 exists, so the split is what fails: no number after the common prefix of MAIN.
  EXPECT_EQ(Parse("(@P1:MAIN)"), "error -10220");
  EXPECT_EQ(Parse("(@P1:)"), "error -10220");
  EXPECT_EQ(Parse("(@P1:P99999999999)"), "error -10220");
}

TEST_F(ChannelLists, SeedChannelsCountAsPresent) {
  ChannelList seed;
  ASSERT_EQ(ParseChannelList(false, "(@1(100),2(3)) ", nullptr, &seed, 0), -102);
  ASSERT_EQ(ParseChannelList(false, "(@1(100),2(3))", nullptr, &seed, 0), 0);
  seed.open = seed.close;  // channels 1(100) and 2(3) also on the open side
  EXPECT_EQ(Parse("(@1(100:102),MAIN)", false, &seed), "1(101) 1(102) | 2(4) 2(5)");
  EXPECT_EQ(Parse("(@1(100:101))", true, &seed), "1(100) 1(101)");
}

TEST_F(ChannelLists, RelayAndDigitalChecks) {
  auto check = [](const char* text) {
    ChannelList list;
    EXPECT_EQ(ParseChannelList(true, text, nullptr, &list, 0), 0) << text;
    return std::make_pair(AllRelayChannels(list), AllDigitalChannels(list));
  };
  EXPECT_EQ(check("(@1(100),2(7),MAIN)"), std::make_pair(1, 0));
  EXPECT_EQ(check("(@6(0:11))"), std::make_pair(0, 1));
  EXPECT_EQ(check("(@1(100),6(0))"), std::make_pair(0, 0));
  ChannelList marked;
  ASSERT_EQ(ParseChannelList(false, "(@1(100))", nullptr, &marked, 0), 0);
  marked.close[0].sequence_marker = 1;
  EXPECT_EQ(AllRelayChannels(marked), 0);
}

TEST_F(ChannelLists, ModuleLists) {
  auto parse = [](const char* text) {
    int32_t modules[kModuleListSize];
    const int32_t result = ParseModuleList(text, modules);
    if (result != 0) return "error " + std::to_string(result);
    std::string out;
    for (int i = 0; modules[i] != 0; ++i) out += std::to_string(modules[i]) + " ";
    return out + "0";
  };
  const std::pair<const char*, const char*> rows[] = {
      {"(@1:3,5)", "1 2 3 5 0"},
      {"(@5:3)", "5 4 3 0"},
      {"(@PSU,2)", "1 2 0"},
      {"(@PSU:3)", "1 2 3 0"},
      {"(@1,1)", "1 1 0"},
      {"(@1:12)", "1 2 3 4 5 6 7 8 9 10 11 12 0"},
      {"(@1:12,1)", "error -10214"},
      {"1,2)", "error -10201"},
      {"(1,2)", "error -10203"},
      {"(@1,2", "error -10202"},
      {"(@1;2)", "error -10202"},
      {"(@1)2)", "error -10213"},
      {"(@1:2:3)", "error -10213"},
      {"(@0)", "error -22202"},
      {"(@13)", "error -22202"},
      {"(@NOSUCH)", "error -292"},
      {"(@ABCDEFGHIJKLM)", "error -10237"},
      {"(@,1)", "error -10237"},
      {"(@PSU(1))", "error -10237"},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(parse(text), expected) << text;
}

TEST_F(ChannelLists, TextBuilderCutsALongListAtAnElement) {
  ChannelList list;
  ASSERT_EQ(ParseChannelList(true, "(@1(100),1(101),MAIN,3(253))", nullptr, &list, 0), 0);
  char out[64];
  BuildChannelListText(list.close, out, sizeof out);
  EXPECT_STREQ(out, "(@1(100),1(101),MAIN,3(253))");
  // 17 characters: "(@1(100),1(101))" needs 17 with its NUL.
  BuildChannelListText(list.close, out, 17);
  EXPECT_STREQ(out, "(@1(100),1(101))");
  BuildChannelListText(list.close, out, 16);
  EXPECT_STREQ(out, "(@1(100))");
  std::strcpy(out, "untouched");
  BuildChannelListText(list.close, out, 15);
  EXPECT_STREQ(out, "");

  // What the builder writes parses back to the same list.
  ChannelList back;
  BuildChannelListText(list.close, out, sizeof out);
  ASSERT_EQ(ParseChannelList(true, out, nullptr, &back, 0), 0);
  EXPECT_EQ(Describe(back), Describe(list));
}

// The engine helpers: the count rule first, then the conversions; a valid list stays in
// the context for the conclusion.
TEST_F(ChannelLists, EngineHelpersCountThenConvertAndKeepTheList) {
  struct Case {
    std::vector<std::string> parameters;
    int32_t code;
    const char* kept;  // the list the context keeps, or null for none
  };
  auto check = [](const Case& c, auto validate) {
    TestCommand command(c.parameters);
    const int32_t result = validate(&command.context);
    EXPECT_EQ(result, c.code) << c.parameters.size();
    EXPECT_EQ(command.execution.error_code, c.code);
    EXPECT_EQ(command.parsed.status == kCommandFailed, c.code != 0);
    ChannelList* kept = ContextChannelList(&command.context);
    EXPECT_EQ(kept != nullptr ? Describe(*kept) : "none", c.kept != nullptr ? c.kept : "none");
    for (void*& list : command.context.channel_list) {
      if (list != nullptr) ReleaseChannelList(list);
      list = nullptr;
    }
  };
  const Case one_list[] = {
      {{}, err::kMissingParameter, nullptr},
      {{"(@1(100))", "(@1(101))"}, err::kParameterNotAllowed, nullptr},
      {{"(@1(100:101),P1)"}, 0, "1(100) 1(101)"},
      {{"(@7(1))"}, err::kNoModule, nullptr},
  };
  for (const Case& c : one_list) check(c, [](CommandContext* context) { return ValidateChannelList(context); });

  const Case optional[] = {
      {{}, 0, nullptr},
      {{"(@1(100))"}, 0, "1(100)"},
      {{"(@1(999))"}, err::kChannelNotValid, nullptr},
      {{"(@1(100))", "X"}, err::kParameterNotAllowed, nullptr},
  };
  for (const Case& c : optional) {
    check(c, [](CommandContext* context) { return ValidateOptionalChannelList(context); });
  }

  int32_t value = 0;
  const Case integer[] = {
      {{"5", "(@1(100))"}, 0, "1(100)"},
      {{"11", "(@1(100))"}, err::kDataOutOfRange, nullptr},
      {{"5", "(@13(1))"}, err::kSlotOutOfRange, nullptr},
      {{"5"}, err::kMissingParameter, nullptr},
  };
  for (const Case& c : integer) {
    check(c, [&value](CommandContext* context) {
      return ValidateIntegerAndChannelList(context, 0, 10, &value);
    });
  }
  EXPECT_EQ(value, 5);

  static constexpr KeywordValue kWords[] = {{"ALL", 1}, {nullptr, 0}};
  const Case keyword[] = {
      {{"ALL", "(@anything"}, 0, nullptr},  // the list is left to the conclusion
      {{"(@1(100))", "(@1(100))"}, err::kIllegalParameterValue, "1(100)"},
      {{"(@1(100))", "(@1(999))"}, err::kChannelNotValid, nullptr},
      {{"ALL"}, err::kMissingParameter, nullptr},
  };
  for (const Case& c : keyword) {
    check(c, [](CommandContext* context) { return ValidateKeywordAndChannelList(context, kWords); });
  }
}

}  // namespace
