// Tests of error numbers, queue entry texts and the event status bits of reporting.
#include "scpi/error_report.h"

#include <gtest/gtest.h>

#include <string>

#include "scpi/fake_channel_test_support.h"
#include "scpi/status.h"

namespace {

std::string Entry(int32_t code, const char* detail = nullptr) {
  char out[kErrorEntrySize];
  FormatErrorEntry(code, detail, out);
  return out;
}

TEST(ReportedErrorNumber, ClassOfDeviceCodes) {
  EXPECT_EQ(ReportedErrorNumber(-10201), -102);
  EXPECT_EQ(ReportedErrorNumber(-22255), -222);
  EXPECT_EQ(ReportedErrorNumber(-30042), -300);
  EXPECT_EQ(ReportedErrorNumber(-3000001), -300);
  EXPECT_EQ(ReportedErrorNumber(926), -926);
  EXPECT_EQ(ReportedErrorNumber(-292), -292);
  EXPECT_EQ(ReportedErrorNumber(-999), -999);
}

TEST(FormatErrorEntry, Forms) {
  EXPECT_EQ(Entry(-20043),
            "-200,\"Execution error ; SEQuence CALL tree is too deep (maximum = 40)\"");
  EXPECT_EQ(Entry(-224, "trigger source parameter"),
            "-224,\"illegal parameter value;trigger source parameter\"");
  EXPECT_EQ(Entry(-224, ""), "-224,\"illegal parameter value\"");
  EXPECT_EQ(Entry(-10201), "-102,\"Syntax error ; missing left parenthesis\"");
  EXPECT_EQ(Entry(-10202), "-102,\"Syntax error ; missing right parenthesis\"");
  EXPECT_EQ(Entry(-12345), "-12345,ERROR -12345 NOT RECOGNIZED");
  EXPECT_EQ(Entry(0), "0,\"No error\"");
}

TEST(FormatErrorEntry, LongTextIsCutInsideTheQuotes) {
  std::string detail(300, 'x');
  std::string entry = Entry(-224, detail.c_str());
  EXPECT_EQ(entry.size(), kErrorEntrySize - 1);
  EXPECT_EQ(entry.rfind("-224,\"illegal parameter value;xxx", 0), 0u);
  EXPECT_EQ(entry.back(), '"');
  EXPECT_EQ(entry.find('"', 6), entry.size() - 1);  // only the closing quote follows
  // A text that just fits is not cut.
  std::string fits(255 - std::string("-224,\"illegal parameter value;\"").size(), 'y');
  EXPECT_EQ(Entry(-224, fits.c_str()), "-224,\"illegal parameter value;" + fits + "\"");
}

TEST(ReportError, SetsTheEventBitOfTheClass) {
  struct Case {
    int32_t code;
    uint8_t bit;
  } cases[] = {{-110, 32}, {-10201, 32}, {-222, 16}, {-20036, 16}, {-301, 8},
               {-30002, 8}, {-400, 4},  {926, 0},    {-999, 0},    {-12345, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    FakeChannel channel;
    ReportError(channel.handle(), c.code, nullptr);
    EXPECT_EQ(channel.esr(), c.bit);
    EXPECT_EQ(channel.PopError(), Entry(c.code));
  }
}

TEST(ReportError, SummaryAndServiceRequestFollowTheEnables) {
  FakeChannel channel;
  channel.SetStatus(/*ese=*/16, 0, /*sre=*/32, 0);
  ReportError(channel.handle(), -222, nullptr);
  EXPECT_EQ(channel.esr(), 16);
  EXPECT_EQ(channel.stb(), 32 | 64);
  // A second error of the same class changes nothing.
  ReportError(channel.handle(), -224, nullptr);
  EXPECT_EQ(channel.stb(), 32 | 64);
  EXPECT_EQ(channel.error_count(), 2u);
}

TEST(ReportError, NoServerMeansNoStatusBits) {
  FakeChannel channel(/*with_server=*/false);
  ReportError(channel.handle(), -110, "detail");
  EXPECT_EQ(channel.esr(), 0);
  EXPECT_EQ(channel.PopError(), "-110,\"Command header error;detail\"");
}

}  // namespace
