// Edge cases of the parameter converters, validation helpers and reply builders.
#include "scpi/scpi_params.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "scpi/command_context_test_support.h"
#include "scpi/scpi_engine.h"

namespace {

int32_t Int(const char* text, int32_t minimum, int32_t maximum, int32_t* out) {
  *out = -7777;
  return ParseInteger(text, minimum, maximum, out);
}

TEST(ParseInteger, BasesAndKeywords) {
  int32_t v;
  EXPECT_EQ(Int("#HFF", 0, 255, &v), 0);
  EXPECT_EQ(v, 255);
  EXPECT_EQ(Int("#Q17", 0, 255, &v), 0);
  EXPECT_EQ(v, 15);
  EXPECT_EQ(Int("#B101", 0, 255, &v), 0);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(Int("-0", 0, 255, &v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(Int("-12", -100, 100, &v), 0);
  EXPECT_EQ(v, -12);
  EXPECT_EQ(Int("DEF", 1, 10, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(Int("MIN", 3, 10, &v), 0);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(Int("MAXIMUM", 3, 10, &v), 0);
  EXPECT_EQ(v, 10);
}

TEST(ParseInteger, RejectsBadCharacters) {
  int32_t v;
  EXPECT_EQ(Int("#H1G", 0, 255, &v), -121);
  EXPECT_EQ(Int("#Q8", 0, 255, &v), -121);
  EXPECT_EQ(Int("#B2", 0, 255, &v), -121);
  EXPECT_EQ(Int("#X1", 0, 255, &v), -121);
  EXPECT_EQ(Int("1.0", 0, 255, &v), -121);
  EXPECT_EQ(Int("+1", 0, 255, &v), -121);
  EXPECT_EQ(Int("1E2", 0, 255, &v), -121);
  EXPECT_EQ(Int("#Hff", 0, 255, &v), -121);
  EXPECT_EQ(Int("", 0, 255, &v), -121);
  EXPECT_EQ(Int("#H", 0, 255, &v), -121);
  EXPECT_EQ(Int("MINI", 0, 255, &v), -141);
  EXPECT_EQ(Int("DOG", 0, 255, &v), -141);
  EXPECT_EQ(v, -7777);  // untouched on failure
}

TEST(ParseInteger, RangeAndOverflow) {
  int32_t v;
  EXPECT_EQ(Int("256", 0, 255, &v), -222);
  EXPECT_EQ(Int("-1", 0, 255, &v), -222);
  EXPECT_EQ(Int("2147483647", INT32_MIN, INT32_MAX, &v), 0);
  EXPECT_EQ(v, INT32_MAX);
  EXPECT_EQ(Int("-2147483648", INT32_MIN, INT32_MAX, &v), 0);
  EXPECT_EQ(v, INT32_MIN);
  // The last digit may carry the value past 2^31 - 1: refused, not wrapped.
  EXPECT_EQ(Int("2147483649", INT32_MIN, INT32_MAX, &v), -222);
  EXPECT_EQ(Int("21474836470", INT32_MIN, INT32_MAX, &v), -222);
  EXPECT_EQ(Int("#H7FFFFFFF", INT32_MIN, INT32_MAX, &v), 0);
  EXPECT_EQ(v, INT32_MAX);
  EXPECT_EQ(Int("#H80000000", INT32_MIN, INT32_MAX, &v), -222);
  EXPECT_EQ(Int("#Q17777777777", INT32_MIN, INT32_MAX, &v), 0);
  EXPECT_EQ(Int("#Q20000000000", INT32_MIN, INT32_MAX, &v), -222);
  EXPECT_EQ(Int(("#B" + std::string(31, '1')).c_str(), INT32_MIN, INT32_MAX, &v), 0);
  EXPECT_EQ(Int(("#B1" + std::string(31, '0')).c_str(), INT32_MIN, INT32_MAX, &v), -222);
}

TEST(ParseKeywordLimit, OnlyKeywords) {
  int32_t v = 0;
  EXPECT_EQ(ParseKeywordLimit("DEFAULT", 1, 5, 10, &v), 0);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(ParseKeywordLimit("MAX", 1, 5, 10, &v), 0);
  EXPECT_EQ(v, 10);
  EXPECT_EQ(ParseKeywordLimit("7", 1, 5, 10, &v), -141);
}

TEST(ParseReal, NumbersKeywordsAndLimits) {
  double v = 0;
  EXPECT_EQ(ParseReal("1E3", 0, 1000, &v), 0);
  EXPECT_EQ(v, 1000.0);
  EXPECT_EQ(ParseReal("1000.5", 0, 1000, &v), -222);
  EXPECT_EQ(ParseReal("-0.001", 0, 1000, &v), -222);
  EXPECT_EQ(ParseReal("ABC", 0, 1000, &v), -104);
  EXPECT_EQ(ParseReal("MAXIMUM", 0, 1000, &v), 0);
  EXPECT_EQ(v, 1000.0);
  EXPECT_EQ(ParseReal("MIN", 2, 1000, &v), 0);
  EXPECT_EQ(v, 2.0);
  EXPECT_EQ(ParseReal("MX", 0, 1000, &v), -104);
  EXPECT_EQ(ParseReal("DEF", 0, 1000, &v), -104);  // no default in this form
  EXPECT_EQ(ParseReal("2.5V", 0, 1000, &v), 0);     // trailing text is ignored
  EXPECT_EQ(v, 2.5);
  EXPECT_EQ(ParseReal("NAN", 0, 1000, &v), -104);
  EXPECT_EQ(ParseReal("INF", 0, 1000, &v), -222);
  // Within 1e-20 outside a limit is accepted unchanged.
  EXPECT_EQ(ParseReal("-1E-21", 0, 1, &v), 0);
  EXPECT_EQ(v, -1e-21);
  EXPECT_EQ(ParseReal("-1E-19", 0, 1, &v), -222);
}

TEST(ParseRealWithDefault, DefaultKeyword) {
  double v = 0;
  EXPECT_EQ(ParseRealWithDefault("DEF", 0, 0.5, 1, &v), 0);
  EXPECT_EQ(v, 0.5);
  EXPECT_EQ(ParseRealWithDefault("DEFAULT", 0, 0.25, 1, &v), 0);
  EXPECT_EQ(v, 0.25);
}

TEST(ParseBoolean, Forms) {
  int32_t v = -1;
  EXPECT_EQ(ParseBoolean("ON", &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(ParseBoolean("0", &v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ParseBoolean("TRUE", &v), -224);
  EXPECT_EQ(ParseBoolean("2", &v), -224);
  EXPECT_EQ(ParseBoolean(nullptr, &v), -301);
}

TEST(CheckQuotedString, LengthsAndQuotes) {
  EXPECT_EQ(CheckQuotedString("'abc'", 1, 10), 0);
  EXPECT_EQ(CheckQuotedString("\"abc\"", 1, 10), 0);
  EXPECT_EQ(CheckQuotedString("'abc\"", 1, 10), -151);
  EXPECT_EQ(CheckQuotedString("''", 1, 10), -150);
  EXPECT_EQ(CheckQuotedString("'abcdefghijk'", 1, 10), -150);
  EXPECT_EQ(CheckQuotedString("abc", 1, 10), -151);
  EXPECT_EQ(CheckQuotedString("'", 0, 10), -151);
  // A one-character text counts as length 1, not as an empty string.
  EXPECT_EQ(CheckQuotedString("'", 1, 10), -151);
  EXPECT_EQ(CheckQuotedString("A", 0, 0), -150);
}

TEST(KeywordTables, LookupAndEnumeratedReply) {
  const KeywordValue table[] = {{"BUS", 1}, {"EXT", 2}, {nullptr, 0}};
  EXPECT_EQ(LookupKeywordValue(table, "EXT"), 2);
  EXPECT_EQ(LookupKeywordValue(table, "ext"), -224);
  EXPECT_EQ(LookupKeywordValue(table, "TIM"), -224);
}

TEST(Names, ValidNames) {
  EXPECT_TRUE(IsValidName("A"));
  EXPECT_TRUE(IsValidName("Path_1"));
  EXPECT_FALSE(IsValidName(""));
  EXPECT_FALSE(IsValidName("1ABC"));
  EXPECT_FALSE(IsValidName("A-B"));
  EXPECT_TRUE(IsValidName(std::string(40, 'N').c_str()));
  EXPECT_FALSE(IsValidName(std::string(41, 'N').c_str()));
  EXPECT_TRUE(IsValidLongName(std::string(256, 'N').c_str()));
  EXPECT_FALSE(IsValidLongName(std::string(257, 'N').c_str()));
}

TEST(StringContainsSuffix, FirstOccurrenceMustBeTheEnd) {
  EXPECT_TRUE(StringContainsSuffix("LIST1.SCN", ".SCN", false));
  EXPECT_FALSE(StringContainsSuffix("A.SCN.SCN", ".SCN", false));
  EXPECT_FALSE(StringContainsSuffix("list1.scn", ".SCN", false));
  EXPECT_TRUE(StringContainsSuffix("list1.scn", ".SCN", true));
  EXPECT_FALSE(StringContainsSuffix(std::string(256, 'A').c_str(), ".SCN", false));
  EXPECT_FALSE(StringContainsSuffix("A.VERYLONGSUFFIX", ".VERYLONGSUFFIX", false));
}

TEST(JoinStrings, CommaSeparated) {
  const char* parts[] = {"1", "22", "333"};
  char out[16];
  EXPECT_EQ(JoinStrings(parts, 3, out, sizeof out), 0);
  EXPECT_STREQ(out, "1,22,333");
  EXPECT_EQ(JoinStrings(parts, 3, out, 8), -1);  // does not fit
  const char* missing[] = {"1", nullptr};
  EXPECT_EQ(JoinStrings(missing, 2, out, sizeof out), -1);
}

using Command = TestCommand;

TEST(Validation, CountRuleAndResult) {
  Command none({});
  EXPECT_EQ(ValidateOneParameter(&none.context), -109);
  EXPECT_EQ(none.parsed.status, kCommandFailed);
  EXPECT_EQ(none.execution.error_code, -109);

  Command two({"1", "2"});
  EXPECT_EQ(ValidateInteger(&two.context, 0, 10), -108);
  EXPECT_EQ(ValidateNoParameters(&two.context), -108);

  Command one({"#H0A"});
  int32_t value = 0;
  EXPECT_EQ(ValidateInteger(&one.context, 0, 10, &value), 0);
  EXPECT_EQ(value, 10);
  EXPECT_EQ(one.parsed.status, kCommandValidated);
  EXPECT_EQ(one.execution.error_code, 0);

  Command real({"0.5"});
  double d = 0;
  EXPECT_EQ(ValidateReal(&real.context, 0, 1, &d), 0);
  EXPECT_EQ(d, 0.5);

  Command keyword({"EXT"});
  const KeywordValue table[] = {{"BUS", 1}, {"EXT", 2}, {nullptr, 0}};
  EXPECT_EQ(ValidateKeyword(&keyword.context, table, &value), 0);
  EXPECT_EQ(value, 2);
  Command bad_keyword({"TIM"});
  EXPECT_EQ(ValidateKeyword(&bad_keyword.context, table), -224);

  Command quoted({"'x'"});
  EXPECT_EQ(ValidateQuotedString(&quoted.context, 1, 5), 0);
  Command boolean({"OFF"});
  EXPECT_EQ(ValidateBoolean(&boolean.context, &value), 0);
  EXPECT_EQ(value, 0);
}

TEST(Validation, DetailTextIsKeptAndBounded) {
  Command c({});
  std::string detail(400, 'd');
  EXPECT_EQ(SetCommandResult(&c.context, kCommandFailed, -224, detail.c_str()), 0);
  EXPECT_EQ(std::string(c.execution.error_detail), std::string(256, 'd'));
  EXPECT_EQ(SetCommandResult(&c.context, kCommandValidated, 0, nullptr), 0);
  EXPECT_STREQ(c.execution.error_detail, "");
  CommandContext orphan{};
  EXPECT_EQ(SetCommandResult(&orphan, kCommandFailed, -224, nullptr), -301);
}

TEST(Replies, BuildersAppendWithCommas) {
  Command c({});
  EXPECT_EQ(AppendIntegerNumberToReply(1, &c.context), 0);
  EXPECT_EQ(AppendIntegerNumberToReply(2, &c.context), 0);
  EXPECT_EQ(c.reply(), "1,2");
  EXPECT_EQ(AppendRealNumberToReply(1.5, &c.context), 0);
  EXPECT_EQ(AppendStringToReply("\"X\"", &c.context), 0);
  const KeywordValue table[] = {{"BUS", 1}, {nullptr, 0}};
  EXPECT_EQ(AppendIntegerNumberToReply(1, table, &c.context), 0);
  EXPECT_EQ(AppendIntegerNumberToReply(9, table, &c.context), 0);
  EXPECT_EQ(AppendEmptyReply(&c.context), 0);
  EXPECT_EQ(c.reply(), "1,2,1.50000000E+00,\"X\",BUS,???,\x7F");
  EXPECT_EQ(AppendIntegerNumberToReply(INT32_MIN, &c.context), 0);
  EXPECT_EQ(c.reply().substr(c.reply().size() - 12), ",-2147483648");
}

TEST(Replies, SettersReplaceTheReply) {
  Command c({});
  AppendStringToReply("OLD", &c.context);
  EXPECT_EQ(SetBooleanReply(true, &c.context), 0);
  EXPECT_EQ(c.reply(), "1");
  EXPECT_EQ(SetIntegerReply(-42, &c.context), 0);
  EXPECT_EQ(c.reply(), "-42");
}

TEST(Replies, FullBufferIsRefusedNotOverrun) {
  Command c({});
  std::string big(kReplySize - 1, 'x');
  EXPECT_EQ(AppendStringToReply(big.c_str(), &c.context), 0);
  EXPECT_EQ(AppendStringToReply("y", &c.context), -223);
  EXPECT_EQ(c.execution.reply_length, kReplySize - 1);
  CommandContext orphan{};
  EXPECT_EQ(AppendIntegerNumberToReply(1, &orphan), -301);
}

}  // namespace
