// Tests of message splitting, header/parameter splitting and header resolution.
#include "scpi/program_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const char* message) {
  Arena arena;
  CommandList list{};
  EXPECT_GE(SplitProgramMessage(message, &arena, &list), 0);
  return std::vector<std::string>(list.commands, list.commands + list.count);
}

struct Parts {
  std::string header;
  std::vector<std::string> parameters;
};

Parts SplitCommand(const char* text) {
  Arena arena;
  CommandContext context{};
  EXPECT_EQ(SplitHeaderAndParameters(text, &context, &arena), 0);
  Parts parts{context.header, {}};
  for (int32_t i = 0; i < context.parameter_count; ++i) {
    parts.parameters.emplace_back(context.parameters[i]);
  }
  return parts;
}

using Strings = std::vector<std::string>;

TEST(SplitProgramMessage, CommandsAtUnquotedSemicolons) {
  EXPECT_EQ(Split("*idn?;syst:err?"), (Strings{"*IDN?", "SYST:ERR?"}));
  EXPECT_EQ(Split("  a ;\t b  \r\n\x03"), (Strings{"A", "B"}));
  EXPECT_EQ(Split("PATH:DEF 'a;b',(@1(1))"), (Strings{"PATH:DEF 'a;b',(@1(1))"}));
  // One flag for both quote characters at this level: the apostrophe closes the
  // double-quoted text and the closing double quote opens a new one.
  EXPECT_EQ(Split("X \"it's\";y"), (Strings{"X \"it'S\";y"}));
  EXPECT_EQ(Split("x 'Ab';y \"cD\""), (Strings{"X 'Ab'", "Y \"cD\""}));
}

TEST(SplitProgramMessage, EmptyCommandsBecomeASemicolon) {
  EXPECT_EQ(Split("SYST:ERR?;"), (Strings{"SYST:ERR?", ";"}));
  EXPECT_EQ(Split("a;;b"), (Strings{"A", ";", "B"}));
  EXPECT_EQ(Split(";a"), (Strings{";", "A"}));
  EXPECT_EQ(Split("a; ;b"), (Strings{"A", ";", "B"}));
}

TEST(SplitProgramMessage, BlankMessageHasNoCommands) {
  EXPECT_TRUE(Split("").empty());
  EXPECT_TRUE(Split(" \t\n\r\x03").empty());
}

TEST(SplitProgramMessage, LineFeedInsideACommandIsKept) {
  EXPECT_EQ(Split("a;\nb"), (Strings{"A", "\nB"}));
}

TEST(SplitHeaderAndParameters, WhiteSpaceAndParentheses) {
  Parts p = SplitCommand("CLOS ( @1 ( 2 ) )");
  EXPECT_EQ(p.header, "CLOS");
  EXPECT_EQ(p.parameters, Strings{"(@1(2))"});
  p = SplitCommand("CLOS(@1(2),3(4:5))");
  EXPECT_EQ(p.header, "CLOS");
  EXPECT_EQ(p.parameters, Strings{"(@1(2),3(4:5))"});
  p = SplitCommand("CLOS (@1 (3), 2(4))");
  EXPECT_EQ(p.parameters, Strings{"(@1(3),2(4))"});
}

TEST(SplitHeaderAndParameters, SeparatorsAndQuotes) {
  EXPECT_EQ(SplitCommand("TRIG:SOUR BUS EXT").parameters, (Strings{"BUS", "EXT"}));
  EXPECT_EQ(SplitCommand("X A,,B").parameters, (Strings{"A", "", "B"}));
  EXPECT_EQ(SplitCommand("X A , B").parameters, (Strings{"A", "B"}));
  EXPECT_EQ(SplitCommand("DIAG:SER:WRIT 'ab c'").parameters, Strings{"'ab c'"});
  EXPECT_EQ(SplitCommand("X \"a'b c\",'d\"e f'").parameters,
            (Strings{"\"a'b c\"", "'d\"e f'"}));
  EXPECT_TRUE(SplitCommand("*IDN?").parameters.empty());
  EXPECT_TRUE(SplitCommand("*IDN?   ").parameters.empty());
}

TEST(SplitHeaderAndParameters, DepthLimits) {
  // A parameter ends before a parenthesis that would take the depth above 2.
  EXPECT_EQ(SplitCommand("X (((A)))").parameters.front(), "((");
  // An unmatched ')' cannot start a parameter: empty ones follow, up to the limit.
  Parts p = SplitCommand("X A)");
  EXPECT_EQ(p.parameters.size(), 515u);
  EXPECT_EQ(p.parameters[0], "A");
  EXPECT_EQ(p.parameters[1], "");
}

TEST(SplitHeaderAndParameters, LongHeaderIsCutAndLosesItsParameters) {
  std::string text(300, 'A');
  text += " 1,2";
  Parts p = SplitCommand(text.c_str());
  EXPECT_EQ(p.header, std::string(256, 'A'));
  EXPECT_TRUE(p.parameters.empty());
  std::string exact = std::string(256, 'A') + " 1";
  EXPECT_EQ(SplitCommand(exact.c_str()).parameters, Strings{"1"});
}

TEST(SplitHeaderAndParameters, ParameterCountLimit) {
  std::string text = "X ";
  for (int i = 0; i < 600; ++i) text += "1,";
  EXPECT_EQ(SplitCommand(text.c_str()).parameters.size(), 515u);
}

// Resolves a sequence of headers in one message; each entry is the prefix after it,
// or "ERR" for a header error.
Strings Resolve(const Strings& headers) {
  HeaderPrefix prefix{};
  Strings out;
  for (const std::string& header : headers) {
    CommandRecord record{};
    if (ResolveHeader(header.c_str(), &prefix, &record) != 0) {
      out.push_back("ERR");
    } else {
      EXPECT_NE(record.DoExecutionConclusion, nullptr) << header;
      out.emplace_back(prefix.text, prefix.length);
    }
  }
  return out;
}

TEST(ResolveHeader, PathPrefixRules) {
  EXPECT_EQ(Resolve({":SYST:KLOC", "KLOC?", "*OPC", ":SYST:ERR?"}),
            (Strings{":SYST", ":SYST", "", ":SYST"}));
  EXPECT_EQ(Resolve({"SYST:KLOC", "*IDN?", "KLOC?"}), (Strings{"SYST", "", "ERR"}));
  EXPECT_EQ(Resolve({"STAT:OPER:ENAB", "ENAB?", "COND?"}),
            (Strings{"STAT:OPER", "STAT:OPER", "STAT:OPER"}));
  EXPECT_EQ(Resolve({"SYSTEM:VERSION?", ":STATUS:PRESET"}), (Strings{"SYSTEM", ":STATUS"}));
  // A failed header leaves the prefix as it was.
  EXPECT_EQ(Resolve({"SYST:KLOC", "NOPE", "KLOC?"}), (Strings{"SYST", "ERR", "SYST"}));
}

TEST(ResolveHeader, IncompleteAndMalformedHeaders) {
  EXPECT_EQ(Resolve({"SYST"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"SYST:"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({":"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({""}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"SYST::ERR?"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"STAT:OPER::COND?"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"::SYST:ERR?"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"*IDN?:X"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"SYST:ERR"}), Strings{"ERR"});
  EXPECT_EQ(Resolve({"SYST:ER?"}), Strings{"ERR"});
}

TEST(ResolveHeader, PrefixPlusHeaderLengthLimit) {
  // The prefix "SYST" plus ':' plus the header must stay below 257 characters.
  std::string fits = std::string(251, 'X');     // 4 + 1 + 251 = 256
  std::string too_long = std::string(252, 'X');  // 257
  HeaderPrefix prefix{};
  CommandRecord record{};
  ASSERT_EQ(ResolveHeader("SYST:KLOC", &prefix, &record), 0);
  EXPECT_EQ(ResolveHeader(too_long.c_str(), &prefix, &record), -110);
  EXPECT_EQ(ResolveHeader(fits.c_str(), &prefix, &record), -110);  // unknown, not too long
}

TEST(ParseCommand, HeaderErrorMarksTheCommandFailed) {
  Arena arena;
  ExecutionContext execution{};
  HeaderPrefix prefix{};
  char text[] = "FOO:BAR 1";
  ParsedCommand command{text, kCommandParsed, &execution, nullptr};
  ASSERT_EQ(ParseCommand(&command, &prefix, &arena), 0);
  EXPECT_EQ(command.status, kCommandFailed);
  EXPECT_EQ(execution.error_code, -110);
  ASSERT_NE(command.context, nullptr);
  EXPECT_EQ(command.context->command, &command);
  EXPECT_EQ(command.context->parameter_count, 1);

  char good[] = "*ESE 5";
  ParsedCommand ese{good, kCommandParsed, &execution, nullptr};
  execution.error_code = 0;
  ASSERT_EQ(ParseCommand(&ese, &prefix, &arena), 0);
  EXPECT_EQ(ese.status, kCommandParsed);
  EXPECT_NE(ese.context->operations.DoContextValidation, nullptr);
}

}  // namespace
