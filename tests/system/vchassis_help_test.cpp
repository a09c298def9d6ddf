// vchassis explains itself: every subcommand has its usage behind --help and
// `vchassis help`, a wrong invocation says in one line what is wrong and shows how the
// subcommand is used (exit status 2), and a chassis that is not there is reported in
// one line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

const char* const kNowhere = "/tmp/vchassis-help-test-no-chassis-here";

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }
std::string SecondLine(const std::string& text) {
  const size_t first = text.find('\n');
  return first == std::string::npos ? "" : FirstLine(text.substr(first + 1));
}

TEST(VchassisHelp, EverySubcommandShowsItsUsage) {
  const Outcome all = Vchassis({"--help"}, kNowhere);
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(FirstLine(all.out), "usage: vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]");
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(Vchassis({"help"}, kNowhere).out, all.out);

  const std::vector<std::string> subcommands = {
      "run",       "gpib",        "usb",          "help",        "cards",      "coils",
      "stick",     "unstick",     "lbus-fail",    "lbus-restore", "interrupt", "trigger",
      "dio",       "dio-input",   "dio-clock",    "trigger-out", "power-fail", "fpga",
      "temperature", "fans",      "lan-button",   "fram",        "commands",   "lan",
      "lan-cable", "dhcp",        "lan-duplicate", "watch"};
  for (const std::string& name : subcommands) {
    const Outcome help = Vchassis({"help", name}, kNowhere);
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_EQ(FirstLine(help.out).rfind("usage: vchassis " + name + " ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "") << name;
    const Outcome flag = Vchassis({name, "--help"}, kNowhere);
    EXPECT_EQ(flag.status, 0) << name;
    EXPECT_EQ(flag.out, help.out) << name;
  }
  // A subcommand of two words shows both forms.
  const Outcome button = Vchassis({"help", "lan-button"}, kNowhere);
  EXPECT_EQ(FirstLine(button.out), "usage: vchassis lan-button press [--root DIR]");
  EXPECT_NE(button.out.find("       vchassis lan-button release [--root DIR]"), std::string::npos);
}

TEST(VchassisHelp, AWrongInvocationSaysWhatIsWrongAndHowToUseIt) {
  const struct {
    std::vector<std::string> words;
    std::string first;
    std::string second;
  } rows[] = {
      {{"coils"}, "vchassis: coils wants SLOT", "usage: vchassis coils SLOT [--root DIR]"},
      {{"cards", "3"}, "vchassis: cards wants no arguments", "usage: vchassis cards [--root DIR]"},
      {{"lan-button", "hold"}, "vchassis: lan-button wants press or release",
       "usage: vchassis lan-button press [--root DIR]"},
      {{"run", "now"}, "vchassis: run takes options only, not \"now\"",
       "usage: vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]"},
      {{"run", "--port-base", "0"}, "vchassis: --port-base wants a number from 1 to 65533",
       "usage: vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]"},
      {{"gpib", "shout"}, "vchassis: gpib wants send \"<message>\", poll or wait-srq",
       "usage: vchassis gpib send \"<message>\" [--timeout S] [--root DIR]"},
      {{"press-button"}, "vchassis: no subcommand \"press-button\"",
       "usage: vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]"},
      {{"help", "press-button"}, "vchassis: no subcommand \"press-button\"",
       "usage: vchassis run [--root DIR] [--port-base N] [--bind ADDR] [--chassis FILE]"},
  };
  for (const auto& row : rows) {
    const Outcome wrong = Vchassis(row.words, kNowhere);
    EXPECT_EQ(wrong.status, 2) << row.first;
    EXPECT_EQ(FirstLine(wrong.err), row.first);
    EXPECT_EQ(SecondLine(wrong.err), row.second) << row.first;
    EXPECT_EQ(wrong.out, "") << row.first;
  }
}

TEST(VchassisHelp, AChassisThatIsNotThereIsReportedInOneLine) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"cards"}, {"lan"}, {"fram", "read", "0", "0"}}) {
    const Outcome nobody = Vchassis(words, kNowhere);
    EXPECT_EQ(nobody.status, 1) << words[0];
    EXPECT_EQ(nobody.err.rfind("vchassis: cannot reach the chassis at ", 0), 0u) << nobody.err;
    EXPECT_EQ(nobody.err.find('\n'), nobody.err.size() - 1) << "one line: " << nobody.err;
  }
}

}  // namespace
}  // namespace systest
