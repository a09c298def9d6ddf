// Golden tests of the engine: each row sends program messages through a fake channel
// that behaves as a server does, then compares the responses, the error queue and the
// four status bytes.
#include "scpi/scpi_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scpi/arena.h"
#include "scpi/fake_channel_test_support.h"
#include "scpi/slot_notifications.h"
#include "scpi/status.h"

namespace {

const std::string kIdentity = "Tellwin Instruments 4410 Switch System, 1.6.8";
const std::string kHeaderError = "-110,\"Command header error\"";

struct Status {
  int ese, esr, sre, stb;
  bool operator==(const Status&) const = default;
};

void PrintTo(const Status& s, std::ostream* os) {
  *os << "{ese " << s.ese << ", esr " << s.esr << ", sre " << s.sre << ", stb " << s.stb << "}";
}

struct Row {
  const char* name;
  std::vector<std::string> messages;
  std::vector<std::string> responses;
  std::vector<std::string> errors;
  Status status;
  bool client_reads = true;  // false: responses stay unread (message available)
  bool power_on = false;     // the row starts as right after power-on
};

struct Outcome {
  std::vector<std::string> responses;
  std::vector<std::string> errors;
  Status status;
};

Outcome SendAll(FakeChannel& channel, const std::vector<std::string>& messages, bool client_reads) {
  Outcome outcome;
  for (const std::string& message : messages) {
    int before = channel.response_count();
    channel.Send(message.c_str());
    if (channel.response_count() != before) {
      outcome.responses.push_back(client_reads ? channel.TakeResponse()
                                               : std::string(channel.response()));
    }
  }
  while (channel.error_count() > 0) outcome.errors.push_back(channel.PopError());
  outcome.status = {channel.ese(), channel.esr(), channel.sre(), channel.stb()};
  return outcome;
}

void StartFresh(bool power_on) {
  ResetStatusState();
  if (!power_on) ClearPowerOnFlag();
}

std::string Repeat(const std::string& text, int count, const std::string& separator) {
  std::string out;
  for (int i = 0; i < count; ++i) out += (i > 0 ? separator : "") + text;
  return out;
}

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartFresh(row.power_on);
    FakeChannel channel;
    Outcome outcome = SendAll(channel, row.messages, row.client_reads);
    EXPECT_EQ(outcome.responses, row.responses);
    EXPECT_EQ(outcome.errors, row.errors);
    EXPECT_EQ(outcome.status, row.status);
  }
}

TEST(EngineGolden, RepliesAreJoinedIntoOneResponse) {
  CheckRows({
      {"two identities", {"*IDN?;*IDN?"}, {kIdentity + ";" + kIdentity}, {}, {0, 0, 0, 0}},
      {"version", {"SYST:VERS?"}, {"1994.0"}, {}, {0, 0, 0, 0}},
      {"options and update state", {"*OPT?;SYST:NVUPD?;UPD?;:SYSTEM:UPDATE?"},
       {"NONE;IDLE;IDLE;IDLE"}, {}, {0, 0, 0, 0}},
      {"commands without reply", {"SYST:NVUPD;UPD;*WAI"}, {}, {}, {0, 0, 0, 0}},
      {"lower case and blanks", {"  *idn?  ;  syst:vers?\r\n\x03"}, {kIdentity + ";1994.0"}, {},
       {0, 0, 0, 0}},
      {"empty message", {""}, {}, {}, {0, 0, 0, 0}},
      {"blank message", {" \t\r\n\x03"}, {}, {}, {0, 0, 0, 0}},
  });
}

TEST(EngineGolden, OneBadCommandStopsTheWholeMessage) {
  CheckRows({
      {"unknown header after a valid command", {"*ESE 16;BOGUS"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
      {"command without a record yet", {"DIG:STAT?;TRIG"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
      {"trailing semicolon", {"*ESE 16;"}, {}, {kHeaderError}, {0, 32, 0, 0}},
      {"trailing semicolon after a query", {"SYST:ERR?;"}, {}, {kHeaderError}, {0, 32, 0, 0}},
      {"empty command between semicolons", {"*ESE 16;;*SRE 16"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
      {"validation failure in the second command", {"*ESE 16;*SRE 300"}, {},
       {"-222,\"Data out of range\""}, {0, 16, 0, 0}},
      {"parameter not allowed", {"*IDN? 1"}, {}, {"-108,\"Parameter not allowed\""},
       {0, 32, 0, 0}},
      {"missing parameter", {"*ESE"}, {}, {"-109,\"Missing parameter\""}, {0, 32, 0, 0}},
      {"bad boolean", {"SYST:KLOC MAYBE"}, {}, {"-224,\"illegal parameter value\""},
       {0, 16, 0, 0}},
      {"header ending in a colon", {"SYST:"}, {}, {kHeaderError}, {0, 32, 0, 0}},
      {"common command has no children", {"*ESE:X 1"}, {}, {kHeaderError}, {0, 32, 0, 0}},
  });
}

TEST(EngineGolden, QuotesProtectSemicolons) {
  // Split at the ';' the second half would be an unknown header (-110); kept whole,
  // the quoted text is one bad number.
  CheckRows({
      {"quoted semicolon", {"*ESE '1;2'"}, {}, {"-121,\"Invalid character in number\""},
       {0, 32, 0, 0}},
      {"double-quoted semicolon", {"*ESE \"1;2\""}, {},
       {"-121,\"Invalid character in number\""}, {0, 32, 0, 0}},
  });
}

TEST(EngineGolden, KeywordLengthLimit) {
  const std::string k31(31, 'Q');
  const std::string k32(32, 'Z');
  // A 31-character keyword reaches the tree walk (and becomes the last unknown
  // keyword); a 32-character one is refused before it.
  CheckRows({
      {"31 characters", {k31, "DIAG:DATA?"}, {k31}, {kHeaderError}, {0, 32, 0, 0}},
      {"32 characters", {"FOO", "SYST:" + k32, "DIAG:DATA?"}, {"FOO"},
       {kHeaderError, kHeaderError}, {0, 32, 0, 0}},
      {"unknown keyword reported by DIAG:DATA?", {"FOO:BAR", "DIAG:DATA?"}, {"FOO"},
       {kHeaderError}, {0, 32, 0, 0}},
      {"DEL characters are removed from the response", {"FOO\x7F:BAR", "DIAG:DATA?"}, {"FOO"},
       {kHeaderError}, {0, 32, 0, 0}},
  });
}

TEST(EngineGolden, HeaderPathPrefix) {
  CheckRows({
      {"continues the previous path", {"SYST:KLOC ON;KLOC?"}, {"ON"}, {}, {0, 0, 0, 0}},
      {"leading colon restarts at the root", {":SYST:KLOC OFF;KLOC?"}, {"OFF"}, {},
       {0, 0, 0, 0}},
      {"deeper path", {"STAT:OPER:ENAB 5;ENAB?;:STAT:OPER:ENAB 0"}, {"5"}, {}, {0, 0, 0, 0}},
      {"common command clears the path", {"SYST:KLOC ON;*IDN?;KLOC?"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
      {"explicit root path is not under SYSTem", {"SYST:KLOC ON;:KLOC?"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
      {"path does not survive the message", {"SYST:KLOC ON", "KLOC?"}, {}, {kHeaderError},
       {0, 32, 0, 0}},
  });
}

TEST(EngineGolden, UnreadResponseAndResponseLimit) {
  const std::string id = "*IDN?";
  CheckRows({
      {"query while a response is unread", {"*IDN?", "*IDN?"}, {kIdentity},
       {"-400,\"Query error\""}, {0, 4, 0, 16}, /*client_reads=*/false},
      {"unread response with SRE 16 requests service", {"*SRE 16", "*IDN?"}, {kIdentity}, {},
       {0, 0, 16, 16 | 64}, /*client_reads=*/false},
      {"222 identities fit", {Repeat(id, 222, ";")}, {Repeat(kIdentity, 222, ";")}, {},
       {0, 0, 0, 0}},
      {"223 identities reach the limit", {Repeat(id, 223, ";")}, {}, {"-400,\"Query error\""},
       {0, 4, 0, 0}},
  });
  // The joining ';' does not count: 10236 characters joined with a one-character reply
  // make the longest response, 10238 characters.
  const std::string fillers = ";:SYST:VERS?;:SYST:VERS?;:SYST:VERS?;*ESE?;*ESE?";
  const std::string filled = Repeat(kIdentity, 222, ";") + ";1994.0;1994.0;1994.0;0;0";
  ASSERT_EQ(filled.size(), 10236u);
  CheckRows({
      {"longest response", {Repeat(id, 222, ";") + fillers + ";*ESE?"}, {filled + ";0"}, {},
       {0, 0, 0, 0}},
      {"one character more is refused", {Repeat(id, 222, ";") + fillers + ";*ESE?;*ESE?"}, {},
       {"-400,\"Query error\""}, {0, 4, 0, 0}},
  });
  // The message-available bit set for the discarded replies is taken back.
  StartFresh(false);
  FakeChannel channel;
  channel.Send(Repeat(id, 223, ";").c_str());
  EXPECT_EQ(channel.stb(), 0);
}

TEST(EngineGolden, EventStatusAndServiceRequest) {
  CheckRows({
      {"execution error with ESE 16 and SRE 32", {"*ESE 16;*SRE 32", "*ESE 300"}, {},
       {"-222,\"Data out of range\""}, {16, 16, 32, 32 | 64}},
      {"*ESR? reads and clears the summary", {"*ESE 16;*SRE 32", "*ESE 300", "*ESR?"}, {"16"},
       {"-222,\"Data out of range\""}, {16, 0, 32, 0}},
      {"*ESR? answers power-on once", {"*ESR?", "*ESR?"}, {"128", "0"}, {}, {0, 0, 0, 0},
       true, /*power_on=*/true},
      {"*ESE with power-on pending sets the summary", {"*ESE 128"}, {}, {}, {128, 0, 0, 32},
       true, true},
      {"*ESE enabling a set bit sets the summary", {"XYZ", "*ESE 32"}, {}, {kHeaderError},
       {32, 32, 0, 32}},
      {"*ESE disabling it clears the summary", {"XYZ", "*ESE 32", "*ESE 1"}, {},
       {kHeaderError}, {1, 32, 0, 0}},
      {"*SRE 64 stores 0", {"*SRE 64;*SRE?"}, {"0"}, {}, {0, 0, 0, 0}},
      {"*SRE over a set summary requests service", {"XYZ", "*ESE 32", "*SRE 32"}, {},
       {kHeaderError}, {32, 32, 32, 32 | 64}},
      {"*ESE? and *STB?", {"*ESE 20;*ESE?", "XYZ", "*STB?"}, {"20", "0"}, {kHeaderError},
       {20, 32, 0, 0}},
      {"*OPC sets operation complete", {"*OPC;*ESR?"}, {"1"}, {}, {0, 0, 0, 0}},
      {"*OPC? with no scan answers 1", {"*OPC?"}, {"1"}, {}, {0, 0, 0, 0}},
      {"*CLS empties the queue and ESR", {"XYZ", "*ESE 32", "*CLS", "*ESR?"}, {"0"}, {},
       {32, 0, 0, 0}},
  });
}

TEST(EngineGolden, RefusedAndUnknownCodes) {
  const std::string refused =
      "-926,\"Internal error #26;Command has a DoGetSegmentTable funcxtion pointer but should "
      "not\"";
  CheckRows({
      {"lock request", {"SYST:LOCK:REQ?"}, {}, {refused}, {0, 0, 0, 0}},
      {"lock release after a valid command", {"*ESE 16;SYST:LOCK:RELEASE"}, {}, {refused},
       {0, 0, 0, 0}},
      {"lock owner", {"SYST:LOCK:OWNER?"}, {}, {refused}, {0, 0, 0, 0}},
  });
}

TEST(EngineGolden, ErrorQueueReadBack) {
  CheckRows({
      {"empty queue", {"SYST:ERR?"}, {"0,\"No error\""}, {}, {0, 0, 0, 0}},
      {"oldest entry first", {"XYZ", "*ESE", "SYST:ERR?;ERR?;ERR?"},
       {kHeaderError + ";-109,\"Missing parameter\";0,\"No error\""}, {}, {0, 32, 0, 0}},
  });
}

TEST(Engine, ConclusionFailureKeepsEarlierEffectsAndDiscardsReplies) {
  StartFresh(false);
  FakeChannel channel;
  channel.handle()->read_error = nullptr;  // SYSTem:ERRor? then fails with -301
  Outcome outcome =
      SendAll(channel, {"SYST:KLOC OFF", "*IDN?;SYST:KLOC ON;ERR?;KLOC OFF", "SYST:KLOC?"}, true);
  // The identity reply was discarded: no response is pending.
  EXPECT_EQ(channel.stb() & 0x10, 0);
  EXPECT_EQ(outcome.responses, std::vector<std::string>{"ON"});
  EXPECT_EQ(outcome.errors, std::vector<std::string>{"-301,\"System error\""});
  EXPECT_EQ(outcome.status, (Status{0, 8, 0, 0}));
}

TEST(Engine, StatusBytesAreAskedOfTheServerOncePerMessage) {
  StartFresh(false);
  FakeChannel channel;
  channel.Send("*IDN?");
  EXPECT_EQ(channel.status_reads(), 1);
  channel.TakeResponse();
  channel.Send("*CLS;*ESE 16;*SRE 32;*ESR?");
  EXPECT_EQ(channel.status_reads(), 2);
  // What the message wrote through its copy reached the server.
  EXPECT_EQ(channel.ese(), 16);
  EXPECT_EQ(channel.sre(), 32);
  EXPECT_EQ(channel.stb(), FakeChannel::kMessageAvailable);
}

TEST(Engine, StatusCopyServesOnlyTheExecutingChannelUntilForgotten) {
  StartFresh(false);
  FakeChannel channel;
  FakeChannel other;
  StatusBytes bytes{};
  SetExecutingChannel(channel.handle());
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  channel.SetStatus(1, 2, 3, 4);  // the server changes them on its own
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  EXPECT_EQ(bytes.ese, 0) << "served from the copy";
  WriteSre(channel.handle(), 32);
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  EXPECT_EQ(bytes.sre, 32);
  EXPECT_EQ(channel.sre(), 32);
  ASSERT_EQ(ReadStatusBytes(other.handle(), &bytes), 0);
  EXPECT_EQ(other.status_reads(), 1) << "another channel is always asked";
  ForgetStatusCopy();
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  EXPECT_EQ(bytes.stb, 4);
  SetExecutingChannel(nullptr);
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  ASSERT_EQ(ReadStatusBytes(channel.handle(), &bytes), 0);
  EXPECT_EQ(channel.status_reads(), 4) << "no copy outside a program message";
}

TEST(Engine, HandleWithoutServerLeavesStatusAlone) {
  StartFresh(false);
  FakeChannel channel(/*with_server=*/false);
  channel.SetStatus(0xFF, 0, 0, 0);
  Outcome outcome = SendAll(channel, {"*IDN?", "XYZ", "*ESE 300", "*ESE?"}, true);
  EXPECT_EQ(outcome.responses, (std::vector<std::string>{kIdentity, "0"}));
  EXPECT_EQ(outcome.errors, (std::vector<std::string>{kHeaderError, "-222,\"Data out of range\""}));
  EXPECT_EQ(outcome.status, (Status{0xFF, 0, 0, 0}));
}

TEST(Engine, OperationRegisterFeedsTheExecutingChannel) {
  StartFresh(false);
  FakeChannel channel;
  SetConditionBits(StatusRegister::kOperation, 32);  // a scan is initiated
  Outcome first = SendAll(channel, {"STAT:OPER:COND?", "STAT:OPER:ENAB 32"}, true);
  EXPECT_EQ(first.responses, std::vector<std::string>{"32"});
  EXPECT_EQ(first.status.stb, 128);
  Outcome second = SendAll(channel, {"STAT:OPER?", "STAT:OPER?"}, true);
  EXPECT_EQ(second.responses, (std::vector<std::string>{"32", "0"}));
  EXPECT_EQ(second.status.stb, 0);
  // A condition bit that was already set does not raise the event again.
  SetConditionBits(StatusRegister::kOperation, 32);
  Outcome third = SendAll(channel, {"STAT:OPER?;:STAT:PRES;:STAT:OPER:ENAB?"}, true);
  EXPECT_EQ(third.responses, std::vector<std::string>{"0;0"});
  ClearConditionBits(StatusRegister::kOperation, 32);
}

TEST(Engine, QuestionableRegisterUsesItsOwnSummaryBit) {
  StartFresh(false);
  FakeChannel channel;
  SetConditionBits(StatusRegister::kQuestionable, 4);
  Outcome outcome = SendAll(channel, {"STAT:QUES:ENAB 4;ENAB?"}, true);
  EXPECT_EQ(outcome.responses, std::vector<std::string>{"4"});
  EXPECT_EQ(outcome.status.stb, 8);
  outcome = SendAll(channel, {"STAT:QUES?;:STAT:QUES?"}, true);
  EXPECT_EQ(outcome.responses, std::vector<std::string>{"4;0"});
  EXPECT_EQ(outcome.status.stb, 0);
  ResetStatusState();
}

TEST(Engine, OpcQueryGivesUpOnAScanThatKeepsRunning) {
  StartFresh(false);
  SetScanRunningQuery([] { return true; });
  FakeChannel channel;
  Outcome outcome = SendAll(channel, {"*OPC?"}, true);
  SetScanRunningQuery(nullptr);
  EXPECT_EQ(outcome.responses, std::vector<std::string>{"0"});
}

TEST(Engine, FlaggedSlotsAreBroadcastWhenSlotsZeroToElevenChanged) {
  static std::vector<int> seen;
  seen.clear();
  SetSlotNotificationBroadcast([](const int32_t* flags) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (flags[slot] != 0) seen.push_back(slot);
    }
  });
  StartFresh(false);
  FakeChannel channel;
  // A new message starts with no flags; nothing is broadcast without one.
  FlagSlotNotification(3);
  channel.Send("*IDN?");
  EXPECT_EQ(SlotNotifications()[3], 0);
  EXPECT_TRUE(seen.empty());
  // A change on slot 12 alone does not send the notice; with slot 11 it travels along.
  FlagSlotNotification(12);
  FlagSlotNotification(13);  // outside the array: ignored
  FlagSlotNotification(-1);
  BroadcastFlaggedSlots();
  EXPECT_TRUE(seen.empty());
  FlagSlotNotification(11);
  BroadcastFlaggedSlots();
  EXPECT_EQ(seen, (std::vector<int>{11, 12}));
  SetSlotNotificationBroadcast(nullptr);
}

TEST(Engine, LongMessagesSpillBeyondTheFixedBlock) {
  StartFresh(false);
  FakeChannel channel;
  std::string many = Repeat("*WAI", 2000, ";");
  Outcome outcome = SendAll(channel, {"SYST:KLOC OFF", "SYST:KLOC ON;" + many + ";*OPT?", "SYST:KLOC?"}, true);
  EXPECT_EQ(outcome.responses, (std::vector<std::string>{"NONE", "ON"}));
  EXPECT_TRUE(outcome.errors.empty());
}

TEST(Engine, OutOfMemoryWhileParsingRunsNothing) {
  StartFresh(false);
  FakeChannel channel;
  std::string many = Repeat("*WAI", 2000, ";");
  channel.Send("SYST:KLOC OFF");
  EngineArenaForTest().FailNextSpillForTest();
  channel.Send(("SYST:KLOC ON;" + many).c_str());
  Outcome outcome = SendAll(channel, {"SYST:KLOC?"}, true);
  EXPECT_EQ(outcome.errors, std::vector<std::string>{"-291,\"Out of memory\""});
  EXPECT_EQ(outcome.responses, std::vector<std::string>{"OFF"});
  EXPECT_EQ(outcome.status.esr, 16);
}

}  // namespace
