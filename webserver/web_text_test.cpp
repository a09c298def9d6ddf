// Tests of what the web server decodes from browsers and escapes for them.
#include "webserver/web_text.h"

#include <gtest/gtest.h>

#include <string>

#include "webserver/event_notice.h"

namespace web {
namespace {

TEST(ParseForm, DecodesPairsAndRefusesMalformedInput) {
  const struct {
    std::string text;
    bool parsed;
    Fields fields;
  } rows[] = {
      {"", true, {}},
      {"a=1&b=two+words&c=%41%2b%3D", true, {{"a", "1"}, {"b", "two words"}, {"c", "A+="}}},
      {"flag&&x=", true, {{"flag", ""}, {"x", ""}}},
      {"a=%4", false, {}},
      {"a=%zz", false, {}},
      {"a=%00", false, {}},
      {"=value", false, {}},
      {std::string(kLongestForm + 1, 'a'), false, {}},
  };
  for (const auto& row : rows) {
    const auto fields = ParseForm(row.text);
    ASSERT_EQ(fields.has_value(), row.parsed) << row.text.substr(0, 40);
    if (fields) {
      EXPECT_EQ(*fields, row.fields) << row.text;
    }
  }
  std::string many;
  for (std::size_t i = 0; i <= kMostFields; ++i) many += "f=1&";
  EXPECT_FALSE(ParseForm(many)) << "one field more than the limit";
}

TEST(Escaping, HtmlJsonAndScpiStringsStayInsideTheirQuotes) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("caf\xc3\xa9 \xff\xc3"), "\"caf\xc3\xa9 \\ufffd\\ufffd\"") << "invalid UTF-8 replaced";
  EXPECT_EQ(ScpiQuoted("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(ScpiUnquoted(ScpiQuoted("say \"hi\"")), "say \"hi\"");
  EXPECT_EQ(ScpiUnquoted("NONE"), "NONE");
}

TEST(FillTemplate, ReplacesKnownKeysEscapedAndLeavesTheRest) {
  const auto lookup = [](std::string_view key) -> std::optional<std::string> {
    if (key == "name") return std::string("<b>");
    return std::nullopt;
  };
  EXPECT_EQ(FillTemplate("[{{name}}] {{other}} {{name", lookup), "[&lt;b&gt;] {{other}} {{name");
}

TEST(NoticeCutter, CutsNoticesFromAnyPiecesAndSkipsStrayBytes) {
  NoticeCutter cutter;
  // Slots 2 and 5 with the relay change bit, as the event port sends it, in two pieces.
  EXPECT_TRUE(cutter.Feed(std::string("\x90\x00\x00", 3)).empty());
  EXPECT_EQ(cutter.Feed(std::string("\x20\n", 2)), std::vector<uint32_t>{0x20000090u});
  // A stray byte before a scan-started notice costs nothing but itself.
  EXPECT_EQ(cutter.Feed(std::string("x\x01\x00\x00\x00\n", 6)), std::vector<uint32_t>{1u});
  EXPECT_EQ(NoticeJson(0x20000090u),
            "{\"word\":536871056,\"scan\":null,\"relays\":true,\"slots\":[2,5],\"interlock\":null,"
            "\"emergency\":false}");
  EXPECT_EQ(NoticeJson(kScanEnded | kInterlockBroken | (1u << 14)),
            "{\"word\":268451842,\"scan\":\"ended\",\"relays\":false,\"slots\":[12],"
            "\"interlock\":\"broken\",\"emergency\":false}");
}

}  // namespace
}  // namespace web
